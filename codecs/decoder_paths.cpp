// The list of decoder implementations the running CPU can execute. The
// public decoders take the last one, once, on their first call.
#include "codecs/decoder_paths.h"

namespace aifconv {

namespace {

#if AIFCONV_X86_PATHS
// __builtin_cpu_supports also checks that the operating system saves the
// vector registers the feature needs.
bool cpu_has_avx2() { return __builtin_cpu_supports("avx2"); }
bool cpu_has_avx512bw() { return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw"); }
#endif

}  // namespace

std::size_t ima4_paths(DecoderPath<Ima4Decoder> list[kMaxDecoderPaths]) {
  std::size_t n = 0;
  list[n++] = {"scalar", decode_ima4_scalar};
#if AIFCONV_X86_PATHS
  if (cpu_has_avx2()) list[n++] = {"avx2", decode_ima4_avx2};
  if (cpu_has_avx512bw()) list[n++] = {"avx512bw", decode_ima4_avx512};
#endif
#if AIFCONV_NEON_PATHS
  list[n++] = {"neon", decode_ima4_neon};
#endif
  return n;
}

std::size_t sdx2_paths(DecoderPath<Sdx2Decoder> list[kMaxDecoderPaths]) {
  std::size_t n = 0;
  list[n++] = {"scalar", decode_sdx2_scalar};
#if AIFCONV_X86_PATHS
  if (cpu_has_avx2()) list[n++] = {"avx2", decode_sdx2_avx2};
  if (cpu_has_avx512bw()) list[n++] = {"avx512bw", decode_sdx2_avx512};
#endif
  return n;
}

}  // namespace aifconv
