// Decoding whole buffers in memory with the decoder the data pass prefers,
// outside any run: for the tests, the benchmarks and the sample files. The
// converter itself decodes through the data pass (codecs.h).
#pragma once

#include <cstddef>
#include <cstdint>

namespace aifconv {

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
