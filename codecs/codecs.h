// Sample conversion: the data pass that follows the WAV header, with the sowt
// copy and the ima4 and SDX2 decoders. Output is 16-bit little-endian PCM.
#pragma once

#include <cstddef>
#include <cstdint>

#include "aifc/aifc.h"

namespace aifconv {

struct Context;

// The samples one ima4 packet (kIma4PacketSize bytes) decodes to.
constexpr std::size_t kIma4PacketSamples = 64;

// Seek the input to format.data_start and convert format.frames frames to the
// output, then end the run: returns 0 after the success exit, or the status of
// the failure exit taken (a short read names the input, a failed write or seek
// the output).
int convert_samples(Context& ctx, const SoundFormat& format);

// The per-codec passes, entered after the seek.
int convert_sowt(Context& ctx, const SoundFormat& format);
int convert_ima4(Context& ctx, const SoundFormat& format);
int convert_sdx2(Context& ctx, const SoundFormat& format);

// Decode one 34-byte ima4 packet into 64 samples, 2 bytes little-endian each.
void decode_ima4_packet(const std::uint8_t packet[34], std::uint8_t out[128]);

// Decode `frames` frames of ima4 packets (one packet per channel, left first)
// from `in` into interleaved 16-bit little-endian samples at `out`
// (frames * 128 * channels bytes).
void decode_ima4_frames(const std::uint8_t* in, std::size_t frames, unsigned channels,
                        std::uint8_t* out);

// Decode `count` SDX2 codes, channels interleaved, continuing from and updating
// the per-channel previous samples in `prev`; writes count 16-bit little-endian
// samples to `out`. Codes are taken in channel order starting with channel 0.
void decode_sdx2(const std::uint8_t* in, std::size_t count, unsigned channels,
                 std::uint16_t* prev, std::uint8_t* out);

}  // namespace aifconv
