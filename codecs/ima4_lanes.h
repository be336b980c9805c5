// Shared by the ima4 decoders: the walk over groups of packets decoded side
// by side, one packet per lane, which is the one place where mono and stereo
// part (ima4.cpp, ima4_x86.cpp, ima4_neon.cpp); and for the vector decoders,
// the lane state, the tables in vector-friendly form and the packet headers
// of a group.
//
// The vector decoders' state of a lane is kept as
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

#include "aifc/aifc.h"
#include "codecs/ima4_tables.h"

namespace aifconv {
namespace ima4_lanes {

constexpr std::size_t kPacket = kIma4PacketSize;  // bytes in
constexpr std::size_t kPacketOut = 2 * kIma4PacketSamples;  // bytes out

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

// Decodes Lanes consecutive packets, whole frames of one channel count, from
// `in` into Lanes * kPacketOut bytes at `out`.
using GroupDecoder = void (*)(const std::uint8_t* in, std::uint8_t* out);

// Decode `packets` packets by groups of Lanes with Group; the last, partial
// group is decoded from a zero-padded copy into a local buffer.
template <std::size_t Lanes, GroupDecoder Group>
void decode_groups(const std::uint8_t* in, std::size_t packets, std::uint8_t* out) {
  std::size_t k = 0;
  for (; k + Lanes <= packets; k += Lanes) Group(in + k * kPacket, out + k * kPacketOut);
  if (k < packets) {
    std::uint8_t packet_buf[Lanes * kPacket] = {};
    std::uint8_t sample_buf[Lanes * kPacketOut];
    std::memcpy(packet_buf, in + k * kPacket, (packets - k) * kPacket);
    Group(packet_buf, sample_buf);
    std::memcpy(out + k * kPacketOut, sample_buf, (packets - k) * kPacketOut);
  }
}

// An ima4 decoder (Ima4Decoder) made of a group decoder for mono frames and
// one for stereo frames. Lanes is even, so a group holds whole stereo frames.
template <std::size_t Lanes, GroupDecoder Mono, GroupDecoder Stereo>
void decode_by_groups(const std::uint8_t* in, std::size_t frames, unsigned channels, std::uint8_t* out) {
  static_assert(Lanes % 2 == 0, "a group must hold whole stereo frames");
  if (channels == 1)
    decode_groups<Lanes, Mono>(in, frames, out);
  else
    decode_groups<Lanes, Stereo>(in, 2 * frames, out);
}

}  // namespace ima4_lanes
}  // namespace aifconv
