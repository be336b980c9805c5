// The data pass: reposition on the sound data and dispatch on the codec; the
// sowt copy, whose samples are already what a 16-bit PCM WAV file holds.
#include "codecs/codecs.h"

#include "driver/context.h"

namespace aifconv {

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
  return convert_sowt(ctx, format);
}

int convert_sowt(Context& ctx, const SoundFormat& format) {
  static std::uint8_t block[kMaxBlock];  // block sizes are whole frames, mono or stereo
  std::uint64_t remaining = std::uint64_t{format.frames} * bytes_per_frame(Sowt, format.channels);
  while (remaining > 0) {
    const std::size_t size = next_block_size(ctx);
    const std::size_t want = remaining < size ? static_cast<std::size_t>(remaining) : size;
    const std::size_t got = read_input(ctx, block, want);
    // Whole samples that arrived go out first, as a sample-by-sample copy would.
    const std::size_t whole = got & ~static_cast<std::size_t>(1);
    if (!write_output(ctx, block, whole)) return fail_output(ctx);
    if (got < want) {
      report_short_read(ctx);
      return fail_bad_file(ctx);
    }
    remaining -= got;
  }
  return finish_success(ctx);
}

}  // namespace aifconv
