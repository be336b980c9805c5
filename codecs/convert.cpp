// The data pass: reposition on the sound data, dispatch on the codec, and the
// block loop every codec runs; sowt samples are already what a 16-bit PCM WAV
// file holds, and are copied.
#include "codecs/codecs.h"

#include "driver/context.h"

namespace aifconv {

namespace {

// Output bytes the data pass may produce with each block: 64 KiB at first,
// then twice the block before, up to kMaxBlock. The block buffers are static,
// so a small file touches only the first few pages of them; 256 KiB blocks
// keep a block's input and output in the processor's L2 cache, and measured
// faster than 1 MiB ones on large files too.
constexpr std::size_t kFirstBlock = std::size_t{1} << 16;
constexpr std::size_t kMaxBlock = std::size_t{1} << 18;
static_assert(kFirstBlock <= kMaxBlock, "the first block must fit the block buffers");

std::size_t next_block_size(std::size_t last_block) {
  return last_block == 0 ? kFirstBlock : last_block < kMaxBlock ? 2 * last_block : kMaxBlock;
}

}  // namespace

int convert_samples(Context& ctx, const SoundFormat& format) {
  if (!seek_input(ctx, format.data_start)) return fail_output(ctx);
  switch (format.codec) {
    case Ima4:
      return convert_ima4(ctx, format);
    case Sdx2:
      return convert_sdx2(ctx, format);
    case Sowt:
      break;
  }
  return convert_blocks(ctx, {std::uint64_t{format.frames} * format.channels, 2, 2, nullptr, nullptr, nullptr});
}

int convert_blocks(Context& ctx, const BlockStep& step) {
  // Blocks of whole units, up to kMaxBlock bytes out and so no more in.
  static std::uint8_t in_block[kMaxBlock];
  static std::uint8_t out_block[kMaxBlock];
  if (step.decoder && ctx.hooks.decoder_used) ctx.hooks.decoder_used(ctx.hooks.context, step.decoder);
  std::uint64_t remaining = step.units;
  std::size_t block = 0;
  while (remaining > 0) {
    block = next_block_size(block);
    const std::size_t block_units = block / step.out_size;
    const std::size_t units = remaining < block_units ? static_cast<std::size_t>(remaining) : block_units;
    const std::size_t want = units * step.in_size;
    const std::size_t got = read_input(ctx, in_block, want);
    // Units that arrived whole are converted and written before a short read
    // is reported, as they would be one by one.
    const std::size_t whole = got / step.in_size;
    const std::uint8_t* out = in_block;
    if (step.decode) {
      step.decode(step.state, in_block, whole, out_block);
      out = out_block;
    }
    if (!write_output(ctx, out, whole * step.out_size)) return fail_output(ctx);
    if (got < want) {
      report_read_error_or_end(ctx);
      return fail_bad_file(ctx);
    }
    remaining -= units;
  }
  return finish_success(ctx);
}

}  // namespace aifconv
