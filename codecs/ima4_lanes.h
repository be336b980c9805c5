// Shared by the vector ima4 decoders (ima4_x86.cpp, ima4_neon.cpp): the lane
// state, the tables in vector-friendly form, the packet headers of a group
// and the walk over groups of packets.
//
// The decoder state of a lane is kept as
//   p = predictor + 32768 (0 .. 65535, "biased"), so that the clamp of the
//       predictor to -32768 .. 32767 is the unsigned saturation of p;
//   x = step index, 0 .. 88.
// The difference d = (step >> 3) + (step if n & 4) + (step >> 1 if n & 2)
// + (step >> 2 if n & 1) is at most 4095 + 32767 + 16383 + 8191 = 61436, so
// it is exact in an unsigned 16-bit lane (every partial sum is smaller).
// Then p + d saturated at 65535 is the predictor plus d limited above at
// 32767, and p - d saturated at 0 is the predictor minus d limited below at
// -32768: exactly the scalar decoder's one-sided limits.
// The index rises by 2, 4, 6 or 8 (codes with bit 2 set; at most 96, then
// limited to 88) or falls by 1 (limited at 0).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "codecs/decoder_paths.h"
#include "aifc/aifc.h"

namespace aifconv {
namespace ima4_lanes {

constexpr std::size_t kPacket = kIma4PacketSize;  // bytes in
constexpr std::size_t kPacketOut = 128;            // bytes out: 64 samples

// Step sizes padded to 96 entries (with the last one) for lookups in whole
// vectors.
struct PaddedSteps {
  alignas(64) std::uint16_t step[96];
};
constexpr PaddedSteps make_padded_steps() {
  PaddedSteps t{};
  for (int i = 0; i < 96; ++i) t.step[i] = ima_step_table[i < 88 ? i : 88];
  return t;
}
inline constexpr PaddedSteps padded_steps = make_padded_steps();

// The packet headers of lanes 0 .. Lanes - 1: biased predictor and step
// index (an index above 88 is taken as 88).
template <std::size_t Lanes>
struct Headers {
  alignas(64) std::uint16_t p[Lanes];
  alignas(64) std::uint16_t x[Lanes];
};
template <std::size_t Lanes>
inline void read_headers(const std::uint8_t* in, Headers<Lanes>& h) {
  for (std::size_t k = 0; k < Lanes; ++k) {
    const std::uint16_t head = get_be16(in + k * kPacket);
    h.p[k] = static_cast<std::uint16_t>((head & 0xFF80) ^ 0x8000);
    h.x[k] = static_cast<std::uint16_t>((head & 0x7F) > 88 ? 88 : head & 0x7F);
  }
}

// Decode `frames` frames by groups of Lanes consecutive packets with `group`
// (which writes Lanes * 128 bytes); the last, partial group is decoded from a
// zero-padded copy into a local buffer. Lanes is even, so a group holds whole
// stereo frames.
template <std::size_t Lanes>
void decode_by_groups(const std::uint8_t* in, std::size_t frames, unsigned channels, std::uint8_t* out,
                      void (*group)(const std::uint8_t*, std::uint8_t*, unsigned)) {
  const std::size_t packets = frames * channels;
  std::size_t k = 0;
  for (; k + Lanes <= packets; k += Lanes) group(in + k * kPacket, out + k * kPacketOut, channels);
  if (k < packets) {
    std::uint8_t packet_buf[Lanes * kPacket] = {};
    std::uint8_t sample_buf[Lanes * kPacketOut];
    std::memcpy(packet_buf, in + k * kPacket, (packets - k) * kPacket);
    group(packet_buf, sample_buf, channels);
    std::memcpy(out + k * kPacketOut, sample_buf, (packets - k) * kPacketOut);
  }
}

}  // namespace ima4_lanes
}  // namespace aifconv
