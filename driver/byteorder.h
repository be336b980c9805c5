// Byte order, in one place: AIFF-C numbers are big-endian and WAV numbers
// little-endian, and both are assembled or stored one byte at a time, each
// byte cast before it is shifted, so nothing depends on the host's order.
#pragma once

#include <cstdint>
#include <cstring>

namespace aifconv {

// Read a big-endian 16- or 32-bit unsigned value from p.
inline std::uint16_t get_be16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>((static_cast<unsigned>(p[0]) << 8) | p[1]);
}
inline std::uint32_t get_be32(const std::uint8_t* p) {
  return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
         (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}

// Store v little-endian into p[0..3] or p[0..1].
inline void put_le32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}
// The two bytes are assembled first and copied in one go, which compilers
// turn into a single store; the decoders write every sample through it.
inline void put_le16(std::uint8_t* p, std::uint16_t v) {
  const std::uint8_t le[2] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)};
  std::memcpy(p, le, 2);
}

}  // namespace aifconv
