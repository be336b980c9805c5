// What the x86 vector decoders share: the intrinsics, and the target
// attributes that let one function use AVX2 or AVX-512 BW in a build for the
// baseline processor. Include only where AIFCONV_X86_PATHS is set.
#pragma once

#if defined(__GNUC__) && !defined(__clang__)
// GCC 12's AVX-512 intrinsics fill their "undefined" inputs from a variable
// initialized with itself, which -Wuninitialized and -Wmaybe-uninitialized
// report once inlined in the including file.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#define AIFCONV_AVX2 __attribute__((target("avx2")))
#define AIFCONV_AVX512 __attribute__((target("avx2,avx512f,avx512bw")))
