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

template <typename Decoder>
DecoderPath<Decoder> entry(std::size_t (*paths)(DecoderPath<Decoder>*), int index) {
  DecoderPath<Decoder> list[kMaxDecoderPaths];
  const std::size_t n = paths(list);
  return list[index >= 0 && static_cast<std::size_t>(index) < n ? static_cast<std::size_t>(index) : n - 1];
}

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

DecoderPath<Ima4Decoder> ima4_path(int index) {
  static const DecoderPath<Ima4Decoder> preferred = entry(ima4_paths, -1);
  return index < 0 ? preferred : entry(ima4_paths, index);
}

DecoderPath<Sdx2Decoder> sdx2_path(int index) {
  static const DecoderPath<Sdx2Decoder> preferred = entry(sdx2_paths, -1);
  return index < 0 ? preferred : entry(sdx2_paths, index);
}

}  // namespace aifconv
