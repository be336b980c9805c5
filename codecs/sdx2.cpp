// "SDX2": square-root delta exact. Each code is a signed byte s standing for
// 2 * s * |s|; an odd code adds that to the channel's previous sample (16-bit
// wrap-around, no limit), an even code replaces it.
#include "codecs/codecs.h"

#include <array>
#include <cstdlib>

#include "codecs/decode_buffers.h"
#include "codecs/decoder_paths.h"
#include "wav/wav.h"
#include "driver/context.h"

namespace aifconv {

namespace {

// 2 * s * |s| for every code, as the 16-bit pattern added or stored.
constexpr std::array<std::uint16_t, 256> make_sdx2_squares() {
  std::array<std::uint16_t, 256> t{};
  for (int b = 0; b < 256; ++b) {
    const int s = b < 128 ? b : b - 256;
    const int square = 2 * s * (s < 0 ? -s : s);  // -32768 .. 32258
    t[static_cast<std::size_t>(b)] = static_cast<std::uint16_t>(square & 0xFFFF);
  }
  return t;
}
constexpr std::array<std::uint16_t, 256> sdx2_squares = make_sdx2_squares();

// All ones for an odd code (keep the previous sample), zero for an even one.
inline std::uint16_t keep_mask(std::uint8_t code) {
  return static_cast<std::uint16_t>(0u - (code & 1u));
}

// One code: v = (prev if odd) + square, wrapping at 16 bits.
inline std::uint16_t sdx2_step(std::uint16_t prev, std::uint8_t code) {
  return static_cast<std::uint16_t>((prev & keep_mask(code)) + sdx2_squares[code]);
}

// Two codes of one channel at once. With k the keep masks and q the squares,
//   v2 = (((v & k1) + q1) & k2) + q2 = (v & k1 & k2) + ((q1 & k2) + q2),
// since a mask is all ones or zero; so the chain from one pair to the next is
// a single and-add while the first sample comes off the chain.
inline std::uint16_t sdx2_pair(std::uint16_t v, std::uint8_t c1, std::uint8_t c2, std::uint16_t* first) {
  const std::uint16_t k1 = keep_mask(c1), k2 = keep_mask(c2);
  *first = static_cast<std::uint16_t>((v & k1) + sdx2_squares[c1]);
  const std::uint16_t tail = static_cast<std::uint16_t>((sdx2_squares[c1] & k2) + sdx2_squares[c2]);
  return static_cast<std::uint16_t>((v & k1 & k2) + tail);
}

struct Sdx2Pass {
  DecoderPath<Sdx2Decoder> path;
  unsigned channels;
  std::uint16_t* prev;
};

void decode_block(void* state, const std::uint8_t* in, std::size_t count, std::uint8_t* out) {
  const Sdx2Pass& pass = *static_cast<const Sdx2Pass*>(state);
  pass.path.decode(in, count, pass.channels, pass.prev, out);
}

}  // namespace

void decode_sdx2_scalar(const std::uint8_t* in, std::size_t count, unsigned channels,
                        std::uint16_t* prev, std::uint8_t* out) {
  std::uint16_t first;
  if (channels == 1) {
    std::uint16_t v = prev[0];
    std::size_t i = 0;
    for (; i + 2 <= count; i += 2) {
      v = sdx2_pair(v, in[i], in[i + 1], &first);
      put_le16(out + 2 * i, first);
      put_le16(out + 2 * i + 2, v);
    }
    if (i < count) {
      v = sdx2_step(v, in[i]);
      put_le16(out + 2 * i, v);
    }
    prev[0] = v;
    return;
  }
  // Stereo: two frames (L R L R) at a time, a pair of codes per channel.
  std::uint16_t left = prev[0], right = prev[1], first_right;
  std::size_t i = 0;
  for (; i + 4 <= count; i += 4) {
    left = sdx2_pair(left, in[i], in[i + 2], &first);
    right = sdx2_pair(right, in[i + 1], in[i + 3], &first_right);
    put_le16(out + 2 * i, first);
    put_le16(out + 2 * i + 2, first_right);
    put_le16(out + 2 * i + 4, left);
    put_le16(out + 2 * i + 6, right);
  }
  for (; i < count; ++i) {  // a last frame, possibly cut short after its left code
    std::uint16_t& v = (i % 2 == 0) ? left : right;
    v = sdx2_step(v, in[i]);
    put_le16(out + 2 * i, v);
  }
  prev[0] = left;
  prev[1] = right;
}

void decode_sdx2(const std::uint8_t* in, std::size_t count, unsigned channels,
                 std::uint16_t* prev, std::uint8_t* out) {
  sdx2_path().decode(in, count, channels, prev, out);
}

// The previous sample of each channel, starting at 0, is the one piece of
// memory the converter allocates; it is released here whatever the pass did.
// Units of one code: one byte in, a sample out.
int convert_sdx2(Context& ctx, const SoundFormat& format) {
  const std::size_t size = format.channels * sizeof(std::uint16_t);
  void* memory = ctx.hooks.allocate ? ctx.hooks.allocate(ctx.hooks.context, size) : std::malloc(size);
  if (!memory) {
    report_errno(ctx, "memory");
    return close_and_remove(ctx);
  }
  Sdx2Pass pass{sdx2_path(ctx.hooks.decoder_path), format.channels, static_cast<std::uint16_t*>(memory)};
  for (unsigned c = 0; c < format.channels; ++c) pass.prev[c] = 0;
  const int status = convert_blocks(ctx, {std::uint64_t{format.frames} * bytes_per_frame(Sdx2, format.channels),
                                          1, 2, decode_block, &pass, pass.path.name});
  std::free(memory);
  return status;
}

}  // namespace aifconv
