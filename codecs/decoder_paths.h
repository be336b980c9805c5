// The decoder implementations: the portable scalar code and the vector code
// for the CPUs this build targets. Every implementation writes the same bytes
// as the scalar one; the data pass calls the one its hooks choose, by default
// the fastest the running CPU supports. The entry points at the end decode
// with that one, for tests, benchmarks and the sample files.
#pragma once

#include <cstddef>
#include <cstdint>

// Which vector decoders are compiled in. x86 needs GCC or Clang for the
// per-function target attributes and the run-time CPU check (where vectors
// could be spilled with aligned moves to a less aligned stack, as GCC does
// for 64-bit Windows without an assembler that rewrites them, the build
// asks for the scalar decoders alone). NEON is part of every little-endian
// AArch64 CPU.
#if !defined(AIFCONV_SCALAR_ONLY) && (defined(__GNUC__) || defined(__clang__)) && \
    (defined(__x86_64__) || defined(__i386__))
#define AIFCONV_X86_PATHS 1
#endif
#if !defined(AIFCONV_SCALAR_ONLY) && defined(__aarch64__) && defined(__ARM_NEON) && !defined(__AARCH64EB__)
#define AIFCONV_NEON_PATHS 1
#endif

namespace aifconv {

// Same contract as decode_ima4_frames and decode_sdx2 (below).
using Ima4Decoder = void (*)(const std::uint8_t* in, std::size_t frames, unsigned channels,
                             std::uint8_t* out);
using Sdx2Decoder = void (*)(const std::uint8_t* in, std::size_t count, unsigned channels,
                             std::uint16_t* prev, std::uint8_t* out);

template <typename Decoder>
struct DecoderPath {
  const char* name;
  Decoder decode;
};

// Most paths one codec can have in a build.
constexpr std::size_t kMaxDecoderPaths = 4;

// Write to `list` the decoders this build holds that the running CPU can
// execute, the scalar one first and the preferred one last; returns how many.
std::size_t ima4_paths(DecoderPath<Ima4Decoder> list[kMaxDecoderPaths]);
std::size_t sdx2_paths(DecoderPath<Sdx2Decoder> list[kMaxDecoderPaths]);

// The decoder a conversion uses: entry `index` of the list above (its last
// when `index` is past the end), or with -1 the preferred one, the last,
// which is looked up once and kept.
DecoderPath<Ima4Decoder> ima4_path(int index = -1);
DecoderPath<Sdx2Decoder> sdx2_path(int index = -1);

// The IMA ADPCM step sizes for step indexes 0..88.
inline constexpr std::uint16_t ima_step_table[89] = {
    7,    8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,   28,
    31,   34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,  118,
    130,  143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,  494,
    544,  598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878, 2066,
    2272, 2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845, 8630,
    9493, 10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

// How the IMA step index moves after each 4-bit code (then limited to 0..88).
inline constexpr int ima_index_table[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

// The scalar decoders, for every host.
void decode_ima4_scalar(const std::uint8_t* in, std::size_t frames, unsigned channels, std::uint8_t* out);
void decode_sdx2_scalar(const std::uint8_t* in, std::size_t count, unsigned channels, std::uint16_t* prev,
                        std::uint8_t* out);

#if AIFCONV_X86_PATHS
void decode_ima4_avx2(const std::uint8_t* in, std::size_t frames, unsigned channels, std::uint8_t* out);
void decode_ima4_avx512(const std::uint8_t* in, std::size_t frames, unsigned channels, std::uint8_t* out);
void decode_sdx2_avx2(const std::uint8_t* in, std::size_t count, unsigned channels, std::uint16_t* prev,
                      std::uint8_t* out);
void decode_sdx2_avx512(const std::uint8_t* in, std::size_t count, unsigned channels, std::uint16_t* prev,
                        std::uint8_t* out);
#endif
#if AIFCONV_NEON_PATHS
void decode_ima4_neon(const std::uint8_t* in, std::size_t frames, unsigned channels, std::uint8_t* out);
#endif

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
