// SDX2 decoding with AVX2 (16 codes at once) and AVX-512 BW (32 codes at
// once); the same bytes and the same carried state as the scalar decoder in
// sdx2.cpp.
//
// Each code is the map v -> (v & k) + q on its channel's previous sample
// (k all ones for an odd code, 0 for an even one; q = 2 s |s|). Two maps in a
// row compose into one of the same form,
//   (k2, q2) after (k1, q1) = (k1 & k2, q2 + (q1 & k2)),
// so a vector of codes is reduced by a log-step prefix scan: at distance o
// (1, 2, 4, ... lanes; 2, 4, ... in stereo, where lanes alternate left and
// right and each lane only combines with its own channel) every lane takes in
// the combined map of the lanes before it. Afterwards lane i holds the map of
// codes 0 .. i of its channel in the vector; applied to the previous sample of
// the channel it gives sample i. The last sample(s) of the vector become the
// previous ones of the next. The few codes after the last whole vector are
// left to the scalar decoder.
#include "codecs/decoder_paths.h"

#if AIFCONV_X86_PATHS

#include "codecs/x86_vectors.h"

namespace aifconv {

namespace {

// Both previous samples in one 32-bit pattern: left in the low half.
inline int prev_pair(const std::uint16_t* prev, unsigned channels) {
  const std::uint32_t left = prev[0], right = channels == 2 ? prev[1] : prev[0];
  return static_cast<int>(left | right << 16);
}

// ---------------------------------------------------------------- AVX2

// Decode `count` codes (a multiple of 16) whole vectors at a time; on return
// `carry` lanes 0 and 1 hold the last samples of channel 0 and 1.
template <unsigned Channels>
AIFCONV_AVX2 __m256i sdx2_vectors_avx2(const std::uint8_t* in, std::size_t count, __m256i carry,
                                       std::uint8_t* out) {
  const __m256i one = _mm256_set1_epi16(1);
  // Byte shuffle that copies the last lane (mono) or last pair of lanes
  // (stereo) of each 128-bit half into the whole half.
  const __m256i last = Channels == 1 ? _mm256_set1_epi16(0x0F0E) : _mm256_set1_epi32(0x0F0E0D0C);
  for (std::size_t i = 0; i < count; i += 16) {
    const __m256i s = _mm256_cvtepi8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i)));
    const __m256i abs = _mm256_abs_epi16(s);
    __m256i q = _mm256_mullo_epi16(s, _mm256_add_epi16(abs, abs));  // 2 s |s|, -32768 .. 32258
    // "Stops": all ones for an even code, where the chain from before is cut
    // (the complement of k, so that shifting in zeros shifts in "no stop").
    __m256i stop = _mm256_cmpeq_epi16(_mm256_and_si256(s, one), _mm256_setzero_si256());
    // The scan inside each 128-bit half (8 lanes).
    if (Channels == 1) {
      q = _mm256_add_epi16(q, _mm256_andnot_si256(stop, _mm256_slli_si256(q, 2)));
      stop = _mm256_or_si256(stop, _mm256_slli_si256(stop, 2));
    }
    q = _mm256_add_epi16(q, _mm256_andnot_si256(stop, _mm256_slli_si256(q, 4)));
    stop = _mm256_or_si256(stop, _mm256_slli_si256(stop, 4));
    q = _mm256_add_epi16(q, _mm256_andnot_si256(stop, _mm256_slli_si256(q, 8)));
    stop = _mm256_or_si256(stop, _mm256_slli_si256(stop, 8));
    // The low half's last map(s) into every lane of the high half.
    const __m256i low_q = _mm256_shuffle_epi8(_mm256_permute2x128_si256(q, q, 0x08), last);
    const __m256i low_stop = _mm256_shuffle_epi8(_mm256_permute2x128_si256(stop, stop, 0x08), last);
    q = _mm256_add_epi16(q, _mm256_andnot_si256(stop, low_q));
    stop = _mm256_or_si256(stop, low_stop);
    // The previous samples.
    const __m256i v = _mm256_add_epi16(q, _mm256_andnot_si256(stop, carry));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 2 * i), v);
    carry = _mm256_shuffle_epi8(_mm256_permute2x128_si256(v, v, 0x11), last);
  }
  return carry;
}

// decode_sdx2 with whole vectors of 16 codes, the rest by the scalar decoder.
AIFCONV_AVX2 void sdx2_avx2(const std::uint8_t* in, std::size_t count, unsigned channels, std::uint16_t* prev,
                            std::uint8_t* out) {
  const std::size_t whole = count / 16 * 16;
  if (whole > 0) {
    const __m256i carry0 = _mm256_set1_epi32(prev_pair(prev, channels));
    const __m256i carry = channels == 1 ? sdx2_vectors_avx2<1>(in, whole, carry0, out)
                                        : sdx2_vectors_avx2<2>(in, whole, carry0, out);
    prev[0] = static_cast<std::uint16_t>(_mm256_extract_epi16(carry, 0));
    if (channels == 2) prev[1] = static_cast<std::uint16_t>(_mm256_extract_epi16(carry, 1));
  }
  decode_sdx2_scalar(in + whole, count - whole, channels, prev, out + 2 * whole);
}

// ------------------------------------------------------------- AVX-512

// As sdx2_vectors_avx2 for a multiple of 32 codes. The keep masks live in a
// 32-bit mask, one bit per lane; lanes shifted in from below the vector are
// the identity map (keep, add 0).
template <unsigned Channels>
AIFCONV_AVX512 __m512i sdx2_vectors_avx512(const std::uint8_t* in, std::size_t count, __m512i carry,
                                           std::uint8_t* out) {
  constexpr int kFirst = Channels == 1 ? 0 : 1;  // log2 of the first distance
  alignas(64) static const std::uint16_t kLane[32] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10,
                                                      11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21,
                                                      22, 23, 24, 25, 26, 27, 28, 29, 30, 31};
  const __m512i lane = _mm512_loadu_si512(kLane);
  __m512i from[5];  // lane i - o, for every distance o
  for (int j = kFirst; j < 5; ++j)
    from[j] = _mm512_sub_epi16(lane, _mm512_set1_epi16(static_cast<short>(1 << j)));
  const __m512i last = Channels == 1 ? _mm512_set1_epi16(31) : _mm512_set1_epi32(30 | 31 << 16);
  const __m512i one = _mm512_set1_epi16(1);
  for (std::size_t i = 0; i < count; i += 32) {
    const __m512i s = _mm512_cvtepi8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i)));
    const __m512i abs = _mm512_abs_epi16(s);
    __m512i q = _mm512_mullo_epi16(s, _mm512_add_epi16(abs, abs));  // 2 s |s|, -32768 .. 32258
    std::uint32_t keep = _mm512_test_epi16_mask(s, one);
    for (int j = kFirst; j < 5; ++j) {
      const std::uint32_t below = (1u << (1 << j)) - 1;  // lanes with nothing o lanes before
      const __m512i before = _mm512_maskz_permutexvar_epi16(~below, from[j], q);
      q = _mm512_mask_add_epi16(q, keep, q, before);
      keep &= keep << (1 << j) | below;
    }
    const __m512i v = _mm512_mask_add_epi16(q, keep, q, carry);
    _mm512_storeu_si512(out + 2 * i, v);
    carry = _mm512_permutexvar_epi16(last, v);
  }
  return carry;
}

// decode_sdx2 with whole vectors of 32 codes, the rest by the scalar decoder.
AIFCONV_AVX512 void sdx2_avx512(const std::uint8_t* in, std::size_t count, unsigned channels,
                                std::uint16_t* prev, std::uint8_t* out) {
  const std::size_t whole = count / 32 * 32;
  if (whole > 0) {
    const __m512i carry0 = _mm512_set1_epi32(prev_pair(prev, channels));
    const __m512i carry = channels == 1 ? sdx2_vectors_avx512<1>(in, whole, carry0, out)
                                        : sdx2_vectors_avx512<2>(in, whole, carry0, out);
    const __m128i first = _mm512_castsi512_si128(carry);
    prev[0] = static_cast<std::uint16_t>(_mm_extract_epi16(first, 0));
    if (channels == 2) prev[1] = static_cast<std::uint16_t>(_mm_extract_epi16(first, 1));
  }
  decode_sdx2_scalar(in + whole, count - whole, channels, prev, out + 2 * whole);
}

}  // namespace

void decode_sdx2_avx2(const std::uint8_t* in, std::size_t count, unsigned channels, std::uint16_t* prev,
                      std::uint8_t* out) {
  sdx2_avx2(in, count, channels, prev, out);
}

void decode_sdx2_avx512(const std::uint8_t* in, std::size_t count, unsigned channels, std::uint16_t* prev,
                        std::uint8_t* out) {
  sdx2_avx512(in, count, channels, prev, out);
}

}  // namespace aifconv

#endif  // AIFCONV_X86_PATHS
