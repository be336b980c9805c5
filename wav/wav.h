// WAV writer: the 44-byte RIFF/WAVE header of a 16-bit PCM file and the
// little-endian store helpers. Every WAV number is stored byte by byte.
#pragma once

#include <cstdint>
#include <cstring>

#include "aifc/aifc.h"

namespace aifconv {

struct Context;

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

// Size of the header written before the sound data.
constexpr unsigned kWavHeaderSize = 44;

// Largest data size whose RIFF size (data size + 36) still fits in 32 bits.
constexpr std::uint64_t kMaxWavDataSize = 0xFFFFFFFFull - 36;

// Bytes of 16-bit PCM the data pass writes for `format`, in 64 bits.
std::uint64_t wav_data_size(const SoundFormat& format);

// Write the header for `format` to the run's output. Returns kContinue, or the
// status of the failure exit taken (a data size too large for a WAV file is
// refused before any byte is written; a failed write takes fail_output).
int write_wav_header(Context& ctx, const SoundFormat& format);

}  // namespace aifconv
