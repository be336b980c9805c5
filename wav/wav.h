// WAV writer: the 44-byte RIFF/WAVE header of a 16-bit PCM file and the
// little-endian store helpers. Every WAV number is stored byte by byte.
#pragma once

#include <cstdint>

#include "aifc/aifc.h"
#include "driver/byteorder.h"

namespace aifconv {

struct Run;

// Size of the header written before the sound data.
constexpr unsigned kWavHeaderSize = 44;

// Largest data size whose RIFF size (data size + 36) still fits in 32 bits.
constexpr std::uint64_t kMaxWavDataSize = 0xFFFFFFFFull - 36;

// Bytes of 16-bit PCM the data pass writes for `format`, in 64 bits.
std::uint64_t wav_data_size(const SoundFormat& format);

// Write the header for `format` to the run's output. Returns kContinue, or the
// status of the failure exit taken (a data size too large for a WAV file is
// refused before any byte is written; a failed write takes fail_output).
int write_wav_header(Run& run, const SoundFormat& format);

}  // namespace aifconv
