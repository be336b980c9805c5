// The decoder implementations: the portable scalar code and the vector code
// for the CPUs this build targets. Every implementation writes the same bytes
// as the scalar one; the data pass calls the one its hooks choose, by default
// the fastest the running CPU supports.
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

// Same contract as decode_ima4_frames and decode_sdx2 (decode_buffers.h).
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

}  // namespace aifconv
