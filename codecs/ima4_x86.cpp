// ima4 decoding with AVX2 and AVX-512 BW, 32 packets at once, one packet per
// 16-bit vector lane; the same bytes as the scalar decoder in ima4.cpp. The
// lane state and its limits are described in ima4_lanes.h.
//
// A group of packets is decoded in three stages:
//  1. Transpose: the 32 code bytes of each packet are loaded as one 256-bit
//     row and the rows are transposed so that vector w holds, in lane k, the
//     16-bit word made of code bytes 2w and 2w + 1 of packet k. Read
//     little-endian (x86 is), its four nibbles are codes 4w .. 4w + 3.
//  2. Decode: the predictor and step index of every lane advance one code at
//     a time, all lanes together. AVX-512 looks step sizes up with 16-bit
//     permutes of the table held in three registers; AVX2 keeps the step
//     indexes in bytes and looks up the low and high step bytes with byte
//     shuffles.
//  3. Transpose back: samples come out as one vector per sample position;
//     groups of them are transposed inside each 128-bit block so that every
//     block holds consecutive samples of one packet (mono) or consecutive
//     left/right pairs of one frame (stereo: lanes 2f and 2f + 1 are the left
//     and right packets of frame f, so a 32-bit lane is one output pair), and
//     each block is stored where those samples go.
// A last partial group is decoded from zero-padded copies on the stack.
#include "codecs/decoder_paths.h"

#if AIFCONV_X86_PATHS

#include "codecs/ima4_lanes.h"
#include "codecs/x86_vectors.h"

namespace aifconv {

namespace {

using namespace ima4_lanes;

// ---------------------------------------------------------------- AVX2

// Transpose the 8 x 8 matrix of 16-bit elements in each 128-bit block of
// a[0..7]: element e of a[r] goes to element r of a[e].
AIFCONV_AVX2 inline void transpose8x16_avx2(__m256i* a) {
  const __m256i t0 = _mm256_unpacklo_epi16(a[0], a[1]), t1 = _mm256_unpackhi_epi16(a[0], a[1]);
  const __m256i t2 = _mm256_unpacklo_epi16(a[2], a[3]), t3 = _mm256_unpackhi_epi16(a[2], a[3]);
  const __m256i t4 = _mm256_unpacklo_epi16(a[4], a[5]), t5 = _mm256_unpackhi_epi16(a[4], a[5]);
  const __m256i t6 = _mm256_unpacklo_epi16(a[6], a[7]), t7 = _mm256_unpackhi_epi16(a[6], a[7]);
  const __m256i u0 = _mm256_unpacklo_epi32(t0, t2), u1 = _mm256_unpackhi_epi32(t0, t2);
  const __m256i u2 = _mm256_unpacklo_epi32(t1, t3), u3 = _mm256_unpackhi_epi32(t1, t3);
  const __m256i u4 = _mm256_unpacklo_epi32(t4, t6), u5 = _mm256_unpackhi_epi32(t4, t6);
  const __m256i u6 = _mm256_unpacklo_epi32(t5, t7), u7 = _mm256_unpackhi_epi32(t5, t7);
  a[0] = _mm256_unpacklo_epi64(u0, u4);
  a[1] = _mm256_unpackhi_epi64(u0, u4);
  a[2] = _mm256_unpacklo_epi64(u1, u5);
  a[3] = _mm256_unpackhi_epi64(u1, u5);
  a[4] = _mm256_unpacklo_epi64(u2, u6);
  a[5] = _mm256_unpackhi_epi64(u2, u6);
  a[6] = _mm256_unpacklo_epi64(u3, u7);
  a[7] = _mm256_unpackhi_epi64(u3, u7);
}

// The same for the 4 x 4 matrix of 32-bit elements in each block of a[0..3].
AIFCONV_AVX2 inline void transpose4x32_avx2(__m256i* a) {
  const __m256i t0 = _mm256_unpacklo_epi32(a[0], a[1]), t1 = _mm256_unpackhi_epi32(a[0], a[1]);
  const __m256i t2 = _mm256_unpacklo_epi32(a[2], a[3]), t3 = _mm256_unpackhi_epi32(a[2], a[3]);
  a[0] = _mm256_unpacklo_epi64(t0, t2);
  a[1] = _mm256_unpackhi_epi64(t0, t2);
  a[2] = _mm256_unpacklo_epi64(t1, t3);
  a[3] = _mm256_unpackhi_epi64(t1, t3);
}

// Store the two 128-bit blocks of v at p0 and p1.
AIFCONV_AVX2 inline void store_blocks_avx2(__m256i v, std::uint8_t* p0, std::uint8_t* p1) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p0), _mm256_castsi256_si128(v));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p1), _mm256_extracti128_si256(v, 1));
}

// Every 16-bit lane set to v.
AIFCONV_AVX2 inline __m256i splat_avx2(std::uint16_t v) { return _mm256_set1_epi16(static_cast<short>(v)); }

// Step sizes by index, looked up with byte shuffles, which select among 16
// bytes: entry i of the table is found from its low byte and its high byte,
// each as the exclusive-or of the shuffles of blocks 0 .. i / 16 of
// "difference" tables, where block h holds table block h exclusive-or block
// h - 1. Shuffling block h by the byte i - 16h picks position i & 15 while
// i >= 16h and gives 0 once i < 16h (a negative byte), so the blocks up to
// i / 16 cancel down to entry i.
struct Avx2StepBlocks {
  alignas(32) std::uint8_t low[6][32];
  alignas(32) std::uint8_t high[6][32];
};
constexpr Avx2StepBlocks make_avx2_step_blocks() {
  Avx2StepBlocks t{};
  for (int h = 0; h < 6; ++h)
    for (int j = 0; j < 32; ++j) {
      const int i = 16 * h + j % 16;
      const std::uint16_t s = padded_steps.step[i];
      const std::uint16_t before = h > 0 ? padded_steps.step[i - 16] : 0;
      t.low[h][j] = static_cast<std::uint8_t>((s ^ before) & 0xFF);
      t.high[h][j] = static_cast<std::uint8_t>((s ^ before) >> 8);
    }
  return t;
}
constexpr Avx2StepBlocks avx2_step_blocks = make_avx2_step_blocks();

// Index change of every code as a signed byte: -1, or 2, 4, 6, 8.
alignas(32) constexpr std::int8_t kAvx2IndexChange[32] = {-1, -1, -1, -1, 2,  4,  6,  8,  -1, -1, -1,
                                                          -1, 2,  4,  6,  8,  -1, -1, -1, -1, 2,  4,
                                                          6,  8,  -1, -1, -1, -1, 2,  4,  6,  8};

// 32 bytes from p, which need not be aligned.
AIFCONV_AVX2 inline __m256i load_avx2(const void* p) {
  return _mm256_loadu_si256(static_cast<const __m256i*>(p));
}

// The state of 32 lanes: predictors of lanes 0..15 and 16..31 in 16-bit
// lanes, and the step indexes of all 32 in byte lanes, in the order
// 0..7, 16..23, 8..15, 24..31 that packing two 16-bit vectors into bytes
// gives (and unpacking bytes to 16 bits undoes).
struct Avx2State {
  __m256i p0, p1;
  __m256i x;
};

// Step sizes of the byte indexes x (0 .. 88): lanes 0..15 in step0, 16..31
// in step1. Every index byte minus 16h stays within -80 .. 88.
AIFCONV_AVX2 inline void steps_avx2(__m256i x, __m256i& step0, __m256i& step1) {
  const __m256i sixteen = _mm256_set1_epi8(16);
  __m256i low = _mm256_shuffle_epi8(load_avx2(avx2_step_blocks.low[0]), x);
  __m256i high = _mm256_setzero_si256();  // steps 0 .. 15 are below 256
  for (int h = 1; h < 6; ++h) {
    x = _mm256_sub_epi8(x, sixteen);
    low = _mm256_xor_si256(low, _mm256_shuffle_epi8(load_avx2(avx2_step_blocks.low[h]), x));
    high = _mm256_xor_si256(high, _mm256_shuffle_epi8(load_avx2(avx2_step_blocks.high[h]), x));
  }
  step0 = _mm256_unpacklo_epi8(low, high);
  step1 = _mm256_unpackhi_epi8(low, high);
}

// The predictor half of a code step for 16 lanes: codes in bits Shift ..
// Shift + 3 of the 16-bit lanes of `codes`. Returns the samples.
template <int Shift>
AIFCONV_AVX2 inline __m256i predict_avx2(__m256i& p, __m256i step, __m256i codes) {
  // psign keeps a term where its code bit is set (a positive selector, as
  // bits 0 .. 14 are) and zeroes it where the bit is clear.
  __m256i d = _mm256_srli_epi16(step, 3);
  d = _mm256_add_epi16(d, _mm256_sign_epi16(step, _mm256_and_si256(codes, splat_avx2(4 << Shift))));
  d = _mm256_add_epi16(
      d, _mm256_sign_epi16(_mm256_srli_epi16(step, 1), _mm256_and_si256(codes, splat_avx2(2 << Shift))));
  d = _mm256_add_epi16(
      d, _mm256_sign_epi16(_mm256_srli_epi16(step, 2), _mm256_and_si256(codes, splat_avx2(1 << Shift))));
  // All ones in lanes whose code has the sign bit (bit 3) set.
  const __m256i minus = _mm256_srai_epi16(_mm256_slli_epi16(codes, 12 - Shift), 15);
  p = _mm256_blendv_epi8(_mm256_adds_epu16(p, d), _mm256_subs_epu16(p, d), minus);
  return _mm256_xor_si256(p, splat_avx2(0x8000));
}

// One code in each of 32 lanes: bits Shift .. Shift + 3 of the code words
// `codes0` (lanes 0..15) and `codes1` (16..31), and the same code byte in
// byte lanes, `bytes`. Writes the samples of lanes 0..15 to s0, 16..31 to s1.
template <int Shift>
AIFCONV_AVX2 inline void code_avx2(Avx2State& st, __m256i codes0, __m256i codes1, __m256i bytes, __m256i* s0,
                                   __m256i* s1) {
  __m256i step0, step1;
  steps_avx2(st.x, step0, step1);
  *s0 = predict_avx2<Shift>(st.p0, step0, codes0);
  *s1 = predict_avx2<Shift>(st.p1, step1, codes1);
  const __m256i code = Shift % 8 == 0 ? _mm256_and_si256(bytes, _mm256_set1_epi8(0x0F))
                                      : _mm256_and_si256(_mm256_srli_epi16(bytes, 4), _mm256_set1_epi8(0x0F));
  const __m256i next = _mm256_add_epi8(st.x, _mm256_shuffle_epi8(load_avx2(kAvx2IndexChange), code));
  st.x = _mm256_min_epi8(_mm256_max_epi8(next, _mm256_setzero_si256()), _mm256_set1_epi8(88));
}

// Code words of 16 packets: w[t] lane k holds code word t of packet k.
AIFCONV_AVX2 inline void code_words_avx2(const std::uint8_t* in, __m256i* w) {
  __m256i r[16];
  for (int k = 0; k < 16; ++k)
    r[k] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + k * kPacket + 2));
  transpose8x16_avx2(r);      // block 0: word t of packets 0..7, block 1: word 8 + t
  transpose8x16_avx2(r + 8);  // the same for packets 8..15
  for (int t = 0; t < 8; ++t) {
    w[t] = _mm256_permute2x128_si256(r[t], r[8 + t], 0x20);
    w[8 + t] = _mm256_permute2x128_si256(r[t], r[8 + t], 0x31);
  }
}

// The first (low) and the second (high) code byte of the code words w0
// (lanes 0..15) and w1 (16..31), as 32 byte lanes in the order of Avx2State x.
AIFCONV_AVX2 inline __m256i low_bytes_avx2(__m256i w0, __m256i w1) {
  const __m256i low = splat_avx2(0x00FF);
  return _mm256_packus_epi16(_mm256_and_si256(w0, low), _mm256_and_si256(w1, low));
}
AIFCONV_AVX2 inline __m256i high_bytes_avx2(__m256i w0, __m256i w1) {
  return _mm256_packus_epi16(_mm256_srli_epi16(w0, 8), _mm256_srli_epi16(w1, 8));
}

// Decode 32 consecutive packets (32 mono frames or 16 stereo frames) from in
// into 32 * 128 bytes at out.
template <unsigned Channels>
AIFCONV_AVX2 void group_avx2(const std::uint8_t* in, std::uint8_t* out) {
  __m256i w0[16], w1[16];  // code words of packets 0..15 and 16..31
  code_words_avx2(in, w0);
  code_words_avx2(in + 16 * kPacket, w1);
  Headers<32> h;
  read_headers(in, h);
  Avx2State st;
  st.p0 = load_avx2(h.p);
  st.p1 = load_avx2(h.p + 16);
  st.x = _mm256_packus_epi16(load_avx2(h.x), load_avx2(h.x + 16));

  if (Channels == 1) {
    // Eight samples of every packet at a time: block b of s0[t] is then
    // samples 8c .. 8c + 7 of packet 8b + t, of s1[t] packet 16 + 8b + t.
    for (int c = 0; c < 8; ++c) {
      __m256i s0[8], s1[8];
      for (int j = 0; j < 2; ++j) {
        const __m256i a0 = w0[2 * c + j], a1 = w1[2 * c + j];
        const __m256i low = low_bytes_avx2(a0, a1), high = high_bytes_avx2(a0, a1);
        code_avx2<0>(st, a0, a1, low, &s0[4 * j], &s1[4 * j]);
        code_avx2<4>(st, a0, a1, low, &s0[4 * j + 1], &s1[4 * j + 1]);
        code_avx2<8>(st, a0, a1, high, &s0[4 * j + 2], &s1[4 * j + 2]);
        code_avx2<12>(st, a0, a1, high, &s0[4 * j + 3], &s1[4 * j + 3]);
      }
      transpose8x16_avx2(s0);
      transpose8x16_avx2(s1);
      for (int t = 0; t < 8; ++t) {
        store_blocks_avx2(s0[t], out + t * kPacketOut + 16 * c, out + (8 + t) * kPacketOut + 16 * c);
        store_blocks_avx2(s1[t], out + (16 + t) * kPacketOut + 16 * c, out + (24 + t) * kPacketOut + 16 * c);
      }
    }
  } else {
    // Four left/right pairs of every frame at a time: block b of s0[t] is
    // then pairs 4c .. 4c + 3 of frame 4b + t, of s1[t] frame 8 + 4b + t.
    for (int c = 0; c < 16; ++c) {
      __m256i s0[4], s1[4];
      const __m256i a0 = w0[c], a1 = w1[c];
      const __m256i low = low_bytes_avx2(a0, a1), high = high_bytes_avx2(a0, a1);
      code_avx2<0>(st, a0, a1, low, &s0[0], &s1[0]);
      code_avx2<4>(st, a0, a1, low, &s0[1], &s1[1]);
      code_avx2<8>(st, a0, a1, high, &s0[2], &s1[2]);
      code_avx2<12>(st, a0, a1, high, &s0[3], &s1[3]);
      transpose4x32_avx2(s0);
      transpose4x32_avx2(s1);
      constexpr std::size_t kFrameOut = 2 * kPacketOut;
      for (int t = 0; t < 4; ++t) {
        store_blocks_avx2(s0[t], out + t * kFrameOut + 16 * c, out + (4 + t) * kFrameOut + 16 * c);
        store_blocks_avx2(s1[t], out + (8 + t) * kFrameOut + 16 * c, out + (12 + t) * kFrameOut + 16 * c);
      }
    }
  }
}


// ------------------------------------------------------------- AVX-512

// As transpose8x16_avx2, in each of the four blocks.
AIFCONV_AVX512 inline void transpose8x16_avx512(__m512i* a) {
  const __m512i t0 = _mm512_unpacklo_epi16(a[0], a[1]), t1 = _mm512_unpackhi_epi16(a[0], a[1]);
  const __m512i t2 = _mm512_unpacklo_epi16(a[2], a[3]), t3 = _mm512_unpackhi_epi16(a[2], a[3]);
  const __m512i t4 = _mm512_unpacklo_epi16(a[4], a[5]), t5 = _mm512_unpackhi_epi16(a[4], a[5]);
  const __m512i t6 = _mm512_unpacklo_epi16(a[6], a[7]), t7 = _mm512_unpackhi_epi16(a[6], a[7]);
  const __m512i u0 = _mm512_unpacklo_epi32(t0, t2), u1 = _mm512_unpackhi_epi32(t0, t2);
  const __m512i u2 = _mm512_unpacklo_epi32(t1, t3), u3 = _mm512_unpackhi_epi32(t1, t3);
  const __m512i u4 = _mm512_unpacklo_epi32(t4, t6), u5 = _mm512_unpackhi_epi32(t4, t6);
  const __m512i u6 = _mm512_unpacklo_epi32(t5, t7), u7 = _mm512_unpackhi_epi32(t5, t7);
  a[0] = _mm512_unpacklo_epi64(u0, u4);
  a[1] = _mm512_unpackhi_epi64(u0, u4);
  a[2] = _mm512_unpacklo_epi64(u1, u5);
  a[3] = _mm512_unpackhi_epi64(u1, u5);
  a[4] = _mm512_unpacklo_epi64(u2, u6);
  a[5] = _mm512_unpackhi_epi64(u2, u6);
  a[6] = _mm512_unpacklo_epi64(u3, u7);
  a[7] = _mm512_unpackhi_epi64(u3, u7);
}

// As transpose4x32_avx2, in each of the four blocks.
AIFCONV_AVX512 inline void transpose4x32_avx512(__m512i* a) {
  const __m512i t0 = _mm512_unpacklo_epi32(a[0], a[1]), t1 = _mm512_unpackhi_epi32(a[0], a[1]);
  const __m512i t2 = _mm512_unpacklo_epi32(a[2], a[3]), t3 = _mm512_unpackhi_epi32(a[2], a[3]);
  a[0] = _mm512_unpacklo_epi64(t0, t2);
  a[1] = _mm512_unpackhi_epi64(t0, t2);
  a[2] = _mm512_unpacklo_epi64(t1, t3);
  a[3] = _mm512_unpackhi_epi64(t1, t3);
}

// Store the four 128-bit blocks of v at p, p + stride, p + 2 stride, p + 3 stride.
AIFCONV_AVX512 inline void store_blocks_avx512(__m512i v, std::uint8_t* p, std::size_t stride) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm512_castsi512_si128(v));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p + stride), _mm512_extracti32x4_epi32(v, 1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 2 * stride), _mm512_extracti32x4_epi32(v, 2));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 3 * stride), _mm512_extracti32x4_epi32(v, 3));
}

// Every 16-bit lane set to v.
AIFCONV_AVX512 inline __m512i splat_avx512(std::uint16_t v) {
  return _mm512_set1_epi16(static_cast<short>(v));
}

// Index rise of a code with bit 2 set, looked up by the code's low 5 bits
// (only the low 2 matter): 2 * ((n & 3) + 1).
struct RiseTable {
  alignas(64) std::uint16_t rise[32];
};
constexpr RiseTable make_rise_table() {
  RiseTable t{};
  for (int e = 0; e < 32; ++e) t.rise[e] = static_cast<std::uint16_t>(2 * ((e & 3) + 1));
  return t;
}
constexpr RiseTable rise_table = make_rise_table();

// The tables of code_avx512, loaded once per group.
struct Avx512Tables {
  __m512i steps0, steps1, steps2;  // step sizes 0..31, 32..63, 64..95
  __m512i rise;
};

// One code per lane, from bits Shift .. Shift + 3 of `codes`: advances the
// biased predictors p and the step indexes x, and returns the samples.
template <int Shift>
AIFCONV_AVX512 inline __m512i code_avx512(__m512i& p, __m512i& x, __m512i codes, const Avx512Tables& t) {
  // Indexes 0..63 from the first two table pieces (6 index bits), 64..88
  // from the third (5 index bits).
  const __m512i step =
      _mm512_mask_permutexvar_epi16(_mm512_permutex2var_epi16(t.steps0, x, t.steps1),
                                    _mm512_test_epi16_mask(x, splat_avx512(64)), x, t.steps2);
  __m512i d = _mm512_srli_epi16(step, 3);
  d = _mm512_mask_add_epi16(d, _mm512_test_epi16_mask(codes, splat_avx512(4 << Shift)), d, step);
  d = _mm512_mask_add_epi16(d, _mm512_test_epi16_mask(codes, splat_avx512(2 << Shift)), d,
                            _mm512_srli_epi16(step, 1));
  d = _mm512_mask_add_epi16(d, _mm512_test_epi16_mask(codes, splat_avx512(1 << Shift)), d,
                            _mm512_srli_epi16(step, 2));
  p = _mm512_mask_subs_epu16(_mm512_adds_epu16(p, d), _mm512_test_epi16_mask(codes, splat_avx512(8 << Shift)),
                             p, d);
  // The rise table is looked up by bits Shift .. Shift + 4 of the codes.
  const __m512i raised =
      _mm512_min_epu16(_mm512_add_epi16(x, _mm512_permutexvar_epi16(_mm512_srli_epi16(codes, Shift), t.rise)),
                       splat_avx512(88));
  x = _mm512_mask_subs_epu16(raised, _mm512_testn_epi16_mask(codes, splat_avx512(4 << Shift)), x,
                             splat_avx512(1));
  return _mm512_xor_si512(p, splat_avx512(0x8000));
}

// Decode 32 consecutive packets (32 mono frames or 16 stereo frames) from in
// into 32 * 128 bytes at out.
template <unsigned Channels>
AIFCONV_AVX512 void group_avx512(const std::uint8_t* in, std::uint8_t* out) {
  __m512i w[16];  // w[t] lane k: code word t of packet k
  {
    // Row j holds packets j and j + 8 (j < 8), or j + 8 and j + 16, so that
    // after the transposes below the lanes come out in packet order.
    __m512i r[16];
    for (int j = 0; j < 16; ++j) {
      const int a = j < 8 ? j : j + 8;
      r[j] = _mm512_inserti64x4(
          _mm512_castsi256_si512(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + a * kPacket + 2))),
          _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + (a + 8) * kPacket + 2)), 1);
    }
    // Now block b of r[t] holds: b = 0: word t of packets 0..7; b = 1: word
    // 8 + t of them; b = 2, 3: the same of packets 8..15. Likewise r[8 + t]
    // for packets 16..23 and 24..31.
    transpose8x16_avx512(r);
    transpose8x16_avx512(r + 8);
    for (int t = 0; t < 8; ++t) {
      w[t] = _mm512_shuffle_i64x2(r[t], r[8 + t], _MM_SHUFFLE(2, 0, 2, 0));
      w[8 + t] = _mm512_shuffle_i64x2(r[t], r[8 + t], _MM_SHUFFLE(3, 1, 3, 1));
    }
  }
  Headers<32> h;
  read_headers(in, h);
  __m512i p = _mm512_loadu_si512(h.p), x = _mm512_loadu_si512(h.x);
  Avx512Tables tables;
  tables.steps0 = _mm512_loadu_si512(padded_steps.step);
  tables.steps1 = _mm512_loadu_si512(padded_steps.step + 32);
  tables.steps2 = _mm512_loadu_si512(padded_steps.step + 64);
  tables.rise = _mm512_loadu_si512(rise_table.rise);

  if (Channels == 1) {
    // Block b of s[t] becomes samples 8c .. 8c + 7 of packet 8b + t.
    for (int c = 0; c < 8; ++c) {
      __m512i s[8];
      s[0] = code_avx512<0>(p, x, w[2 * c], tables);
      s[1] = code_avx512<4>(p, x, w[2 * c], tables);
      s[2] = code_avx512<8>(p, x, w[2 * c], tables);
      s[3] = code_avx512<12>(p, x, w[2 * c], tables);
      s[4] = code_avx512<0>(p, x, w[2 * c + 1], tables);
      s[5] = code_avx512<4>(p, x, w[2 * c + 1], tables);
      s[6] = code_avx512<8>(p, x, w[2 * c + 1], tables);
      s[7] = code_avx512<12>(p, x, w[2 * c + 1], tables);
      transpose8x16_avx512(s);
      for (int t = 0; t < 8; ++t) store_blocks_avx512(s[t], out + t * kPacketOut + 16 * c, 8 * kPacketOut);
    }
  } else {
    // Block b of s[t] becomes pairs 4c .. 4c + 3 of frame 4b + t.
    for (int c = 0; c < 16; ++c) {
      __m512i s[4];
      s[0] = code_avx512<0>(p, x, w[c], tables);
      s[1] = code_avx512<4>(p, x, w[c], tables);
      s[2] = code_avx512<8>(p, x, w[c], tables);
      s[3] = code_avx512<12>(p, x, w[c], tables);
      transpose4x32_avx512(s);
      for (int t = 0; t < 4; ++t)
        store_blocks_avx512(s[t], out + t * 2 * kPacketOut + 16 * c, 4 * 2 * kPacketOut);
    }
  }
}


}  // namespace

void decode_ima4_avx2(const std::uint8_t* in, std::size_t frames, unsigned channels, std::uint8_t* out) {
  decode_by_groups<32, group_avx2<1>, group_avx2<2>>(in, frames, channels, out);
}

void decode_ima4_avx512(const std::uint8_t* in, std::size_t frames, unsigned channels, std::uint8_t* out) {
  decode_by_groups<32, group_avx512<1>, group_avx512<2>>(in, frames, channels, out);
}

}  // namespace aifconv

#endif  // AIFCONV_X86_PATHS
