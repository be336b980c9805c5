// ima4 decoding with NEON (little-endian AArch64): 16 packets at once, the
// step indexes in the 16 byte lanes of one register and the predictors in the
// 16-bit lanes of two; the same bytes as the scalar decoder in ima4.cpp.
//
// A group of 16 packets is decoded in three stages:
//  1. Transpose: the code bytes of the packets are transposed so that vector
//     j holds code byte j of packet k in lane k (low nibble: code 2j, high
//     nibble: code 2j + 1).
//  2. Decode: every lane advances one code at a time; the step sizes are
//     looked up by index with table instructions over 96 bytes of low and 96
//     bytes of high step bytes.
//  3. Transpose back: 8 samples of 8 packets (mono), or 4 left/right pairs of
//     4 frames (stereo: lanes 2f and 2f + 1 are the packets of frame f, so a
//     32-bit lane is one output pair), are transposed so that each register
//     holds consecutive output, and stored where it goes.
// The lane state and its limits are described in ima4_lanes.h.
#include "codecs/decoder_paths.h"

#if AIFCONV_NEON_PATHS

#include <arm_neon.h>

#include "codecs/ima4_lanes.h"

namespace aifconv {

namespace {

using namespace ima4_lanes;

// Low and high bytes of the 96 padded step sizes, as table registers.
struct StepBytes {
  std::uint8_t low[96];
  std::uint8_t high[96];
};
constexpr StepBytes make_step_bytes() {
  StepBytes t{};
  for (int i = 0; i < 96; ++i) {
    t.low[i] = static_cast<std::uint8_t>(padded_steps.step[i] & 0xFF);
    t.high[i] = static_cast<std::uint8_t>(padded_steps.step[i] >> 8);
  }
  return t;
}
constexpr StepBytes step_bytes = make_step_bytes();

// Index change of every 4-bit code, as a signed byte.
constexpr std::int8_t kIndexChange[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

struct Tables {
  uint8x16x4_t low0, high0;  // entries 0..63
  uint8x16x2_t low1, high1;  // entries 64..95
  int8x16_t change;
};

// Transpose the 16 x 16 byte matrix a[0..15]: byte e of a[r] goes to byte r
// of a[e]. Each stage swaps one bit of the row and the column numbers.
inline void transpose16x8(uint8x16_t* a) {
  for (int r = 0; r < 16; r += 2) {
    const uint8x16_t lo = vtrn1q_u8(a[r], a[r + 1]), hi = vtrn2q_u8(a[r], a[r + 1]);
    a[r] = lo;
    a[r + 1] = hi;
  }
  for (int r = 0; r < 16; r += 4)
    for (int i = r; i < r + 2; ++i) {
      const uint16x8_t x = vreinterpretq_u16_u8(a[i]), y = vreinterpretq_u16_u8(a[i + 2]);
      a[i] = vreinterpretq_u8_u16(vtrn1q_u16(x, y));
      a[i + 2] = vreinterpretq_u8_u16(vtrn2q_u16(x, y));
    }
  for (int r = 0; r < 16; r += 8)
    for (int i = r; i < r + 4; ++i) {
      const uint32x4_t x = vreinterpretq_u32_u8(a[i]), y = vreinterpretq_u32_u8(a[i + 4]);
      a[i] = vreinterpretq_u8_u32(vtrn1q_u32(x, y));
      a[i + 4] = vreinterpretq_u8_u32(vtrn2q_u32(x, y));
    }
  for (int i = 0; i < 8; ++i) {
    const uint64x2_t x = vreinterpretq_u64_u8(a[i]), y = vreinterpretq_u64_u8(a[i + 8]);
    a[i] = vreinterpretq_u8_u64(vtrn1q_u64(x, y));
    a[i + 8] = vreinterpretq_u8_u64(vtrn2q_u64(x, y));
  }
}

// Transpose the 8 x 8 matrix of 16-bit elements a[0..7].
inline void transpose8x16(uint16x8_t* a) {
  uint16x8_t t[8];
  for (int r = 0; r < 8; r += 2) {
    t[r] = vtrn1q_u16(a[r], a[r + 1]);
    t[r + 1] = vtrn2q_u16(a[r], a[r + 1]);
  }
  uint32x4_t u[8];
  for (int r = 0; r < 8; r += 4)
    for (int i = r; i < r + 2; ++i) {
      u[i] = vtrn1q_u32(vreinterpretq_u32_u16(t[i]), vreinterpretq_u32_u16(t[i + 2]));
      u[i + 2] = vtrn2q_u32(vreinterpretq_u32_u16(t[i]), vreinterpretq_u32_u16(t[i + 2]));
    }
  for (int i = 0; i < 4; ++i) {
    a[i] = vreinterpretq_u16_u64(vtrn1q_u64(vreinterpretq_u64_u32(u[i]), vreinterpretq_u64_u32(u[i + 4])));
    a[i + 4] =
        vreinterpretq_u16_u64(vtrn2q_u64(vreinterpretq_u64_u32(u[i]), vreinterpretq_u64_u32(u[i + 4])));
  }
}

// Transpose the 4 x 4 matrix of 32-bit elements a[0..3].
inline void transpose4x32(uint32x4_t* a) {
  const uint32x4_t t0 = vtrn1q_u32(a[0], a[1]), t1 = vtrn2q_u32(a[0], a[1]);
  const uint32x4_t t2 = vtrn1q_u32(a[2], a[3]), t3 = vtrn2q_u32(a[2], a[3]);
  a[0] = vreinterpretq_u32_u64(vtrn1q_u64(vreinterpretq_u64_u32(t0), vreinterpretq_u64_u32(t2)));
  a[1] = vreinterpretq_u32_u64(vtrn1q_u64(vreinterpretq_u64_u32(t1), vreinterpretq_u64_u32(t3)));
  a[2] = vreinterpretq_u32_u64(vtrn2q_u64(vreinterpretq_u64_u32(t0), vreinterpretq_u64_u32(t2)));
  a[3] = vreinterpretq_u32_u64(vtrn2q_u64(vreinterpretq_u64_u32(t1), vreinterpretq_u64_u32(t3)));
}

// One half (8 lanes) of a code step: codes in bits Shift .. Shift + 3 of the
// 16-bit lanes of `codes`, step sizes in `step`.
template <int Shift>
inline uint16x8_t advance_half(uint16x8_t& p, uint16x8_t step, uint16x8_t codes) {
  uint16x8_t d = vshrq_n_u16(step, 3);
  d = vaddq_u16(d, vandq_u16(step, vtstq_u16(codes, vdupq_n_u16(4 << Shift))));
  d = vaddq_u16(d, vandq_u16(vshrq_n_u16(step, 1), vtstq_u16(codes, vdupq_n_u16(2 << Shift))));
  d = vaddq_u16(d, vandq_u16(vshrq_n_u16(step, 2), vtstq_u16(codes, vdupq_n_u16(1 << Shift))));
  p = vbslq_u16(vtstq_u16(codes, vdupq_n_u16(8 << Shift)), vqsubq_u16(p, d), vqaddq_u16(p, d));
  return veorq_u16(p, vdupq_n_u16(0x8000));
}

// One code in every lane, from bits Shift .. Shift + 3 of the code bytes
// (`codes`, and widened to 16 bits: `codes0` lanes 0..7, `codes1` 8..15).
// Advances p0, p1 and x and writes the samples of lanes 0..7 and 8..15.
template <int Shift>
inline void advance(uint16x8_t& p0, uint16x8_t& p1, uint8x16_t& x, uint8x16_t codes, uint16x8_t codes0,
                    uint16x8_t codes1, const Tables& t, uint16x8_t* s0, uint16x8_t* s1) {
  // Indexes 64..95 fall outside the first lookup (which gives 0 there), below
  // 64 the index minus 64 wraps above 191, outside the second (which then
  // keeps the first result).
  const uint8x16_t above = vsubq_u8(x, vdupq_n_u8(64));
  const uint8x16_t low = vqtbx2q_u8(vqtbl4q_u8(t.low0, x), t.low1, above);
  const uint8x16_t high = vqtbx2q_u8(vqtbl4q_u8(t.high0, x), t.high1, above);
  *s0 = advance_half<Shift>(p0, vreinterpretq_u16_u8(vzip1q_u8(low, high)), codes0);
  *s1 = advance_half<Shift>(p1, vreinterpretq_u16_u8(vzip2q_u8(low, high)), codes1);
  const uint8x16_t code = Shift == 0 ? vandq_u8(codes, vdupq_n_u8(0x0F)) : vshrq_n_u8(codes, 4);
  const int8x16_t next = vaddq_s8(vreinterpretq_s8_u8(x), vqtbl1q_s8(t.change, code));
  x = vreinterpretq_u8_s8(vminq_s8(vmaxq_s8(next, vdupq_n_s8(0)), vdupq_n_s8(88)));
}

// Store the 8 samples of v at p, little-endian (the host order here).
inline void store16(std::uint8_t* p, uint16x8_t v) { vst1q_u8(p, vreinterpretq_u8_u16(v)); }

// Decode 16 consecutive packets (16 mono frames or 8 stereo frames) from in
// into 16 * 128 bytes at out.
template <unsigned Channels>
void group_neon(const std::uint8_t* in, std::uint8_t* out) {
  uint8x16_t c[32];  // c[j] lane k: code byte j of packet k
  for (int k = 0; k < 16; ++k) {
    c[k] = vld1q_u8(in + k * kPacket + 2);
    c[16 + k] = vld1q_u8(in + k * kPacket + 18);
  }
  transpose16x8(c);
  transpose16x8(c + 16);

  Headers<16> h;
  read_headers(in, h);
  uint16x8_t p0 = vld1q_u16(h.p), p1 = vld1q_u16(h.p + 8);
  uint8x16_t x = vcombine_u8(vmovn_u16(vld1q_u16(h.x)), vmovn_u16(vld1q_u16(h.x + 8)));
  Tables t;
  t.low0 = vld1q_u8_x4(step_bytes.low);
  t.high0 = vld1q_u8_x4(step_bytes.high);
  t.low1 = vld1q_u8_x2(step_bytes.low + 64);
  t.high1 = vld1q_u8_x2(step_bytes.high + 64);
  t.change = vld1q_s8(kIndexChange);

  if (Channels == 1) {
    // Eight samples of every packet at a time; after the transposes s0[t]
    // holds samples 8q .. 8q + 7 of packet t, s1[t] of packet 8 + t.
    for (int q = 0; q < 8; ++q) {
      uint16x8_t s0[8], s1[8];
      for (int j = 0; j < 4; ++j) {
        const uint8x16_t b = c[4 * q + j];
        const uint16x8_t b0 = vmovl_u8(vget_low_u8(b)), b1 = vmovl_high_u8(b);
        advance<0>(p0, p1, x, b, b0, b1, t, &s0[2 * j], &s1[2 * j]);
        advance<4>(p0, p1, x, b, b0, b1, t, &s0[2 * j + 1], &s1[2 * j + 1]);
      }
      transpose8x16(s0);
      transpose8x16(s1);
      for (int k = 0; k < 8; ++k) {
        store16(out + k * kPacketOut + 16 * q, s0[k]);
        store16(out + (8 + k) * kPacketOut + 16 * q, s1[k]);
      }
    }
  } else {
    // Four pairs of every frame at a time; after the transposes s0[t] holds
    // pairs 4q .. 4q + 3 of frame t, s1[t] of frame 4 + t.
    for (int q = 0; q < 16; ++q) {
      uint16x8_t s0[4], s1[4];
      for (int j = 0; j < 2; ++j) {
        const uint8x16_t b = c[2 * q + j];
        const uint16x8_t b0 = vmovl_u8(vget_low_u8(b)), b1 = vmovl_high_u8(b);
        advance<0>(p0, p1, x, b, b0, b1, t, &s0[2 * j], &s1[2 * j]);
        advance<4>(p0, p1, x, b, b0, b1, t, &s0[2 * j + 1], &s1[2 * j + 1]);
      }
      uint32x4_t f0[4], f1[4];
      for (int i = 0; i < 4; ++i) {
        f0[i] = vreinterpretq_u32_u16(s0[i]);
        f1[i] = vreinterpretq_u32_u16(s1[i]);
      }
      transpose4x32(f0);
      transpose4x32(f1);
      for (int f = 0; f < 4; ++f) {
        store16(out + f * 2 * kPacketOut + 16 * q, vreinterpretq_u16_u32(f0[f]));
        store16(out + (4 + f) * 2 * kPacketOut + 16 * q, vreinterpretq_u16_u32(f1[f]));
      }
    }
  }
}


}  // namespace

void decode_ima4_neon(const std::uint8_t* in, std::size_t frames, unsigned channels, std::uint8_t* out) {
  decode_by_groups<16, group_neon<1>, group_neon<2>>(in, frames, channels, out);
}

}  // namespace aifconv

#endif  // AIFCONV_NEON_PATHS
