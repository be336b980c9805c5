// The 80-bit extended sample rate: decoded, compared, truncated and printed
// exactly with integers, so that every host gives the same answers and the
// same text whatever the width of its own floating types.
#include "aifc/aifc.h"

#include <cstring>

#include "driver/context.h"

namespace aifconv {
namespace {

constexpr int kScale = 16383 + 63;  // exponent bias plus the 63 fraction bits
constexpr std::uint16_t kMaxExponent = 32767;

// The absolute value of a finite rate: significand x 2^shift, shift in
// -16445..16321.
struct Magnitude {
  std::uint64_t significand;
  int shift;
};

bool is_infinite(const ExtendedRate& r) {
  return r.exponent == kMaxExponent && (r.significand >> 63) != 0;
}

// The absolute value of a finite rate. With exponent 0 the scaled value is
// significand x 2^-16446, far below the sixth decimal: all that shows of it
// is whether it is zero, and the last halving makes a significand of 1 zero.
Magnitude magnitude(const ExtendedRate& r) {
  if (r.exponent != 0) return {r.significand, r.exponent - kScale};
  return {r.significand >> 1, 1 - kScale};
}

// The whole part of m into *whole and whether a nonzero fraction was dropped
// into *fraction. Returns false, storing nothing, when the whole part is 2^32
// or more.
bool whole_part(const Magnitude& m, std::uint64_t* whole, bool* fraction) {
  if (m.significand == 0) {
    *whole = 0;
    *fraction = false;
    return true;
  }
  if (m.shift >= 0) {
    // significand << shift is below 2^32 exactly when significand >> (32 - shift) is 0.
    if (m.shift >= 32 || (m.significand >> (32 - m.shift)) != 0) return false;
    *whole = m.significand << m.shift;
    *fraction = false;
    return true;
  }
  const int n = -m.shift;
  if (n >= 64) {
    *whole = 0;
    *fraction = true;
    return true;
  }
  if ((m.significand >> n) >> 32 != 0) return false;
  *whole = m.significand >> n;
  *fraction = (m.significand & ((std::uint64_t{1} << n) - 1)) != 0;
  return true;
}

// An unsigned integer of `used` 32-bit limbs, least significant first; the
// limbs from `used` up hold nothing. The largest value it takes is a finite
// magnitude times 10^6, below 2^64 x 2^16321 x 2^20 = 2^16405: 513 limbs
// (16,416 bits) hold it.
constexpr int kLimbs = 513;
struct BigUint {
  std::uint32_t limb[kLimbs];
  int used;
};

void big_trim(BigUint& n) {
  while (n.used > 0 && n.limb[n.used - 1] == 0) --n.used;
}

// n = v.
void big_set(BigUint& n, std::uint64_t v) {
  n.limb[0] = static_cast<std::uint32_t>(v);
  n.limb[1] = static_cast<std::uint32_t>(v >> 32);
  n.used = 2;
  big_trim(n);
}

// n *= factor. Each step's limb x factor + carry is at most
// (2^32 - 1)^2 + 2^32 - 1 < 2^64.
void big_multiply(BigUint& n, std::uint32_t factor) {
  std::uint64_t carry = 0;
  for (int i = 0; i < n.used; ++i) {
    const std::uint64_t t = static_cast<std::uint64_t>(n.limb[i]) * factor + carry;
    n.limb[i] = static_cast<std::uint32_t>(t);
    carry = t >> 32;
  }
  if (carry != 0) n.limb[n.used++] = static_cast<std::uint32_t>(carry);
}

// n *= 2^bits; the product must be below 2^(32 x kLimbs).
void big_shift_left(BigUint& n, int bits) {
  if (n.used == 0) return;
  const int limbs = bits / 32, rest = bits % 32;
  const std::uint32_t spill = rest != 0 ? n.limb[n.used - 1] >> (32 - rest) : 0;
  for (int i = n.used - 1; i >= 0; --i) {
    const std::uint32_t from_below = rest != 0 && i > 0 ? n.limb[i - 1] >> (32 - rest) : 0;
    n.limb[i + limbs] = n.limb[i] << rest | from_below;
  }
  for (int i = 0; i < limbs; ++i) n.limb[i] = 0;
  n.used += limbs;
  if (spill != 0) n.limb[n.used++] = spill;
}

// Is bit `bit` of n set?
bool big_bit(const BigUint& n, int bit) {
  return bit / 32 < n.used && (n.limb[bit / 32] >> (bit % 32) & 1) != 0;
}

// Is any bit of n below bit `bit` set?
bool big_any_below(const BigUint& n, int bit) {
  const int limbs = bit / 32 < n.used ? bit / 32 : n.used;
  for (int i = 0; i < limbs; ++i)
    if (n.limb[i] != 0) return true;
  const int rest = bit % 32;
  return limbs < n.used && rest != 0 && (n.limb[limbs] & ((1u << rest) - 1)) != 0;
}

// n = n / 2^bits rounded to the nearest integer, ties to even.
void big_shift_right_rounded(BigUint& n, int bits) {
  const bool half = big_bit(n, bits - 1);
  const bool above_half = half && big_any_below(n, bits - 1);
  const int limbs = bits / 32, rest = bits % 32;
  const int used = n.used > limbs ? n.used - limbs : 0;
  for (int i = 0; i < used; ++i) {
    const std::uint64_t high = i + limbs + 1 < n.used ? n.limb[i + limbs + 1] : 0;
    n.limb[i] = static_cast<std::uint32_t>((high << 32 | n.limb[i + limbs]) >> rest);
  }
  n.used = used;
  big_trim(n);
  if (above_half || (half && n.used > 0 && (n.limb[0] & 1) != 0)) {
    // Add one; n is below 2^84 here (a significand times 10^6), so a carry
    // out of the top limb has room above it.
    int i = 0;
    while (i < n.used && ++n.limb[i] == 0) ++i;
    if (i == n.used) n.limb[n.used++] = 1;
  }
}

// n /= 10^9, returning the remainder: the nine lowest digits. Each step
// divides remainder x 2^32 + limb < 10^9 x 2^32 < 2^64, so its quotient is
// below 2^32.
std::uint32_t big_divide(BigUint& n) {
  std::uint64_t remainder = 0;
  for (int i = n.used - 1; i >= 0; --i) {
    const std::uint64_t t = remainder << 32 | n.limb[i];
    n.limb[i] = static_cast<std::uint32_t>(t / 1000000000u);
    remainder = t % 1000000000u;
  }
  big_trim(n);
  return static_cast<std::uint32_t>(remainder);
}

}  // namespace

ExtendedRate extended_to_rate(const std::uint8_t b[10]) {
  ExtendedRate r;
  r.negative = (b[0] & 0x80) != 0;
  r.exponent = static_cast<std::uint16_t>(get_be16(b) & 0x7FFF);
  r.significand = static_cast<std::uint64_t>(get_be32(b + 2)) << 32 | get_be32(b + 6);
  return r;
}

bool rate_in_range(const ExtendedRate& rate) {
  std::uint64_t whole;
  bool fraction;
  if (rate.negative || is_infinite(rate) || !whole_part(magnitude(rate), &whole, &fraction))
    return false;
  return whole >= 1 && whole < 10000000;
}

bool rate_whole(const ExtendedRate& rate, std::int32_t* whole, bool* has_fraction) {
  std::uint64_t w;
  bool fraction;
  if (is_infinite(rate) || !whole_part(magnitude(rate), &w, &fraction)) return false;
  // Truncated toward zero, a negative value fits down to -2^31, a positive one up to 2^31 - 1.
  if (w > (rate.negative ? 0x80000000u : 0x7FFFFFFFu)) return false;
  *whole = rate.negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(w))
                         : static_cast<std::int32_t>(w);
  *has_fraction = fraction;
  return true;
}

RateText rate_text(const ExtendedRate& rate) {
  RateText t;
  char* out = t.text;
  if (rate.negative) *out++ = '-';
  if (is_infinite(rate)) {
    std::memcpy(out, "inf", 4);
    return t;
  }

  // The value times 10^6, rounded to a whole number: its digits are the
  // text's without the point.
  const Magnitude m = magnitude(rate);
  BigUint n;
  big_set(n, m.significand);
  big_multiply(n, 1000000);
  if (m.shift >= 0)
    big_shift_left(n, m.shift);
  else
    big_shift_right_rounded(n, -m.shift);

  // Nine digits per division, least significant first, from the end of
  // `digits`. n < 2^16385 x 10^6 < 10^4939: at most 549 groups of nine.
  char digits[549 * 9];
  char* const end = digits + sizeof digits;
  char* p = end;
  do {
    std::uint32_t group = big_divide(n);
    for (int i = 0; i < 9; ++i) {
      *--p = static_cast<char>('0' + group % 10);
      group /= 10;
    }
  } while (n.used > 0);
  while (end - p > 7 && *p == '0') ++p;  // keep one digit before the point

  // The whole part has at most 4,933 digits (the value is below 2^16385),
  // so sign, digits, point, decimals and terminator fit in kRateTextSize.
  const std::size_t whole_digits = static_cast<std::size_t>(end - p) - 6;
  std::memcpy(out, p, whole_digits);
  out += whole_digits;
  *out++ = '.';
  std::memcpy(out, end - 6, 6);
  out[6] = '\0';
  return t;
}

std::int32_t integer_rate(Context& ctx, const ExtendedRate& rate) {
  std::int32_t whole = 0;
  bool has_fraction = false;
  rate_whole(rate, &whole, &has_fraction);  // an accepted rate always fits
  if (has_fraction)
    std::fprintf(ctx.err, "warning, freq = %s will be truncated to %d\n", rate_text(rate).text,
                 static_cast<int>(whole));
  return whole;
}

}  // namespace aifconv
