// The exact sample-rate layer: known answers for fixed byte patterns on every
// host and, where long double is the 80-bit extended format, agreement with
// the host's own arithmetic and "%Lf" over every exponent and the values next
// to each boundary (acceptance, whole numbers, the sixth decimal).
#include <gtest/gtest.h>

#include <array>
#include <cfloat>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "aifc/aifc.h"
#include "tests/file_case.h"


namespace aifc_test {
namespace {

struct KnownRate {
  const char* name;
  Bytes bytes;
  bool in_range;
  bool fits;  // the truncated value fits in 32 signed bits
  std::int32_t whole;
  bool has_fraction;
  std::string text;
};

class KnownRates : public ::testing::TestWithParam<KnownRate> {};

TEST_P(KnownRates, DecideTruncateAndPrint) {
  const KnownRate& c = GetParam();
  const aifconv::ExtendedRate rate = aifconv::extended_to_rate(c.bytes.data());
  EXPECT_EQ(aifconv::rate_in_range(rate), c.in_range);
  std::int32_t whole = -7;
  bool has_fraction = false;
  ASSERT_EQ(aifconv::rate_whole(rate, &whole, &has_fraction), c.fits);
  if (c.fits) {
    EXPECT_EQ(whole, c.whole);
    EXPECT_EQ(has_fraction, c.has_fraction);
  } else {
    EXPECT_EQ(whole, -7);  // nothing stored
  }
  EXPECT_EQ(std::string(aifconv::rate_text(rate).text), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, KnownRates,
    ::testing::ValuesIn(std::vector<KnownRate>{
        {"r44100", {0x40, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0}, true, true, 44100, false,
         "44100.000000"},
        {"r22254_545454", {0x40, 0x0D, 0xAD, 0xDD, 0x17, 0x45, 0xD1, 0x74, 0x5D, 0x17}, true, true,
         22254, true, "22254.545455"},
        {"unnormalised_8000", {0x40, 0x0C, 0x7D, 0, 0, 0, 0, 0, 0, 0}, true, true, 8000, false,
         "8000.000000"},
        {"minus_8000", {0xC0, 0x0B, 0xFA, 0, 0, 0, 0, 0, 0, 0}, false, true, -8000, false,
         "-8000.000000"},
        // Below 1 Hz the header's whole rate would be 0: refused.
        {"half", {0x3F, 0xFE, 0x80, 0, 0, 0, 0, 0, 0, 0}, false, true, 0, true, "0.500000"},
        {"ulp_below_one", {0x3F, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, false, true, 0, true,
         "1.000000"},
        {"one", {0x3F, 0xFF, 0x80, 0, 0, 0, 0, 0, 0, 0}, true, true, 1, false, "1.000000"},
        // Every significand bit set: 2 - 2^-63, six decimals round up to 2.
        {"all_ones_below_two", {0x3F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, true,
         true, 1, true, "2.000000"},
        {"minus_one_and_ulp", {0xBF, 0xFF, 0x80, 0, 0, 0, 0, 0, 0, 1}, false, true, -1, true,
         "-1.000000"},
        {"r9999999_5", {0x40, 0x16, 0x98, 0x96, 0x7F, 0x80, 0, 0, 0, 0}, true, true, 9999999, true,
         "9999999.500000"},
        // 10^7 - 2^-40: accepted, yet its six decimals round up to 10^7.
        {"ulp_below_ten_million", {0x40, 0x16, 0x98, 0x96, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
         true, true, 9999999, true, "10000000.000000"},
        {"ten_million", {0x40, 0x16, 0x98, 0x96, 0x80, 0, 0, 0, 0, 0}, false, true, 10000000, false,
         "10000000.000000"},
        // 2^-7 = 0.0078125 and 3 x 2^-7 = 0.0234375: ties, to the even sixth decimal.
        {"tie_to_even_down", {0x3F, 0xF8, 0x80, 0, 0, 0, 0, 0, 0, 0}, false, true, 0, true,
         "0.007812"},
        {"tie_to_even_up", {0x3F, 0xF9, 0xC0, 0, 0, 0, 0, 0, 0, 0}, false, true, 0, true,
         "0.023438"},
        {"minus_tie", {0xBF, 0xF8, 0x80, 0, 0, 0, 0, 0, 0, 0}, false, true, 0, true, "-0.007812"},
        {"minus_micro", {0xBF, 0xEB, 0x80, 0, 0, 0, 0, 0, 0, 0}, false, true, 0, true,
         "-0.000001"},
        {"minus_tiny", {0xBF, 0xE1, 0x80, 0, 0, 0, 0, 0, 0, 0}, false, true, 0, true, "-0.000000"},
        {"zero", repeat(0, 10), false, true, 0, false, "0.000000"},
        {"minus_zero", cat({{0x80}, repeat(0, 9)}), false, true, 0, false, "-0.000000"},
        {"smallest_normal", {0x00, 0x01, 0x80, 0, 0, 0, 0, 0, 0, 0}, false, true, 0, true,
         "0.000000"},
        // Exponent 0: significand x 2^-16446, rounded to a multiple of 2^-16445.
        {"exponent_0_one_rounds_to_zero", cat({repeat(0, 9), {1}}), false, true, 0, false,
         "0.000000"},
        {"minus_exponent_0_one", cat({{0x80}, repeat(0, 8), {1}}), false, true, 0, false,
         "-0.000000"},
        {"exponent_0_three", cat({repeat(0, 9), {3}}), false, true, 0, true, "0.000000"},
        {"exponent_0_two", cat({repeat(0, 9), {2}}), false, true, 0, true, "0.000000"},
        {"int32_max", {0x40, 0x1D, 0xFF, 0xFF, 0xFF, 0xFE, 0, 0, 0, 0}, false, true, 2147483647,
         false, "2147483647.000000"},
        {"two_to_31", {0x40, 0x1E, 0x80, 0, 0, 0, 0, 0, 0, 0}, false, false, 0, false,
         "2147483648.000000"},
        {"minus_two_to_31_and_half", {0xC0, 0x1E, 0x80, 0, 0, 0, 0x80, 0, 0, 0}, false, true,
         -2147483647 - 1, true, "-2147483648.500000"},
        {"minus_two_to_32", {0xC0, 0x1F, 0x80, 0, 0, 0, 0, 0, 0, 0}, false, false, 0, false,
         "-4294967296.000000"},
        {"inf", {0x7F, 0xFF, 0x80, 0, 0, 0, 0, 0, 0, 0}, false, false, 0, false, "inf"},
        {"minus_inf", {0xFF, 0xFF, 0xC0, 0, 0, 0, 0, 0, 0, 1}, false, false, 0, false, "-inf"},
    }),
    CaseName());

struct HugeRate {
  const char* name;
  Bytes bytes;
  std::size_t length;
  const char* head;  // the first 20 characters
  const char* tail;  // the last 20
};

class HugeRates : public ::testing::TestWithParam<HugeRate> {};

// A file of such a rate is refused with a message that prints every digit.
TEST_P(HugeRates, PrintEveryDigit) {
  const HugeRate& c = GetParam();
  std::int32_t whole;
  bool has_fraction;
  EXPECT_FALSE(aifconv::rate_whole(aifconv::extended_to_rate(c.bytes.data()), &whole, &has_fraction));
  const Result r = convert(aifc(1, 2, "sowt", {1, 2, 3, 4}, c.bytes));
  const std::string head = "freq = ", tail = "\nonly 1 <= freq < 1e7 handled\n" + kBadFile;
  EXPECT_EQ(r.status, 1);
  ASSERT_EQ(r.err.size(), head.size() + c.length + tail.size());
  EXPECT_EQ(r.err.substr(0, head.size() + 20), head + c.head);
  EXPECT_EQ(r.err.substr(r.err.size() - tail.size() - 20), c.tail + tail);
  EXPECT_EQ(r.err.find_first_not_of("-0123456789", head.size()), head.size() + c.length - 7);
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, HugeRates,
    ::testing::ValuesIn(std::vector<HugeRate>{
        // Largest exponent, integer bit clear, top fraction bit set: 2^16383.
        {"two_to_16383", cat({{0x7F, 0xFF, 0x40}, repeat(0, 7)}), 4932 + 7,
         "59486574767861588254", "5334982033408.000000"},
        // The largest finite value, (2^64 - 1) x 2^16320, in both encodings
        // (the second has one more exponent step and a halved significand).
        {"largest", cat({{0x7F, 0xFE}, repeat(0xFF, 8)}), 4933 + 7, "11897314953572317650",
         "6811989770240.000000"},
        {"minus_largest_unnormal", cat({{0xFF, 0xFF, 0x7F}, repeat(0xFF, 7)}), 1 + 4933 + 7,
         "-1189731495357231764", "2954015473664.000000"},
    }),
    CaseName());

// --- Agreement with the host's 80-bit long double --------------------------
#if LDBL_MANT_DIG == 64

using Encoding = std::array<std::uint8_t, 10>;

Encoding encode(bool negative, unsigned exponent, std::uint64_t significand) {
  Encoding b;
  b[0] = static_cast<std::uint8_t>((negative ? 0x80 : 0) | (exponent >> 8 & 0x7F));
  b[1] = static_cast<std::uint8_t>(exponent);
  for (int i = 0; i < 8; ++i) b[2 + i] = static_cast<std::uint8_t>(significand >> (56 - 8 * i));
  return b;
}

// Calls visit(exponent, significand) for every rate compared with the host,
// which checks it with both signs. The full set: every exponent with edge
// significands; whole numbers and the ties of
// the sixth decimal, each with its neighbours a few units in the last place
// away; random significands for rates from 2^-40 to 2^24. A sample keeps
// every 13th exponent, the two ends, and fewer random significands.
template <typename Visit>
void for_each_rate(bool full, Visit visit) {
  const std::uint64_t top = std::uint64_t{1} << 63;
  const std::uint64_t edges[] = {0, 1, 2, 3, top, top + 1, ~std::uint64_t{0}};
  for (unsigned e = 0; e <= 32767; ++e) {
    if (!full && e % 13 != 0 && e > 1 && e < 32766) continue;
    for (std::uint64_t s : edges) visit(e, s);
  }

  // value = m x 2^power, m > 0, as a normalised encoding, then its neighbours:
  // significands a few units above and below, and below a power of two also
  // the largest significands of the exponent under it.
  auto with_neighbours = [&](std::uint64_t m, int power, int units) {
    int msb = 63;
    while (!(m >> msb & 1)) --msb;
    const std::uint64_t s = m << (63 - msb);
    const unsigned e = static_cast<unsigned>(16383 + msb + power);
    for (int d = -units; d <= units; ++d) visit(e, s + static_cast<std::uint64_t>(d));
    if (s == top)
      for (int d = 0; d < units; ++d)
        visit(e - 1, ~std::uint64_t{0} - static_cast<std::uint64_t>(d));
  };
  std::mt19937_64 random(20240611);
  const std::uint64_t wholes[] = {
      1,        2,        3,        7,           8000,        11025,       22050,      22254,
      44100,    48000,    65535,    65536,       96000,       192000,      8388608,    9999999,
      10000000, 10000001, 16777216, 2147483647u, 2147483648u, 4294967295u, 4294967296u};
  for (std::uint64_t w : wholes) with_neighbours(w, 0, 3);
  const int random_count = full ? 500 : 20;
  for (int i = 0; i < random_count; ++i) with_neighbours(1 + random() % 10000000, 0, 3);
  // m / 128 with m odd is a tie at the sixth decimal: 10^6 x m / 128 ends in .5.
  for (std::uint64_t m = 1; m < 64; m += 2) with_neighbours(m, -7, 2);
  for (int i = 0; i < random_count; ++i)
    with_neighbours((random() % (std::uint64_t{1} << 31)) | 1, -7, 2);

  const int per_exponent = full ? 1000 : 20;
  for (unsigned e = 16383 - 40; e <= 16383 + 24; ++e)
    for (int i = 0; i < per_exponent; ++i) visit(e, random());
}

// The absolute value of the rate as the host's 80-bit long double computes
// it: the fraction scaled by repeated halving, then by 2^(exponent - 16383)
// by repeated doubling or halving. The sign is applied last, by negation.
long double host_magnitude(const Encoding& b) {
  const int e = ((b[0] & 0x7F) << 8 | b[1]) - 16383;
  const std::uint32_t hi = aifconv::get_be32(&b[2]) & 0x7FFFFFFFu;
  const std::uint32_t lo = aifconv::get_be32(&b[6]);
  long double low = lo;
  for (int i = 0; i < 32; ++i) low *= 0.5L;
  long double v = static_cast<long double>(hi) + low;
  for (int i = 0; i < 31; ++i) v *= 0.5L;
  if (b[2] & 0x80) v += 1.0L;
  for (int i = 0; i < e; ++i) v *= 2.0L;
  for (int i = 0; i > e; --i) v *= 0.5L;
  return v;
}

// "" when the layer and the host, whose value for b is v, agree on b; else
// what differs.
std::string disagreement(const Encoding& b, long double v) {
  const aifconv::ExtendedRate rate = aifconv::extended_to_rate(b.data());
  char host_text[aifconv::kRateTextSize + 16];
  const int n = std::snprintf(host_text, sizeof host_text, "%Lf", v);
  const std::string text = aifconv::rate_text(rate).text;
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof host_text || text != host_text)
    return "text " + text.substr(0, 40) + " host " + std::string(host_text).substr(0, 40);
  if (aifconv::rate_in_range(rate) != (v >= 1 && v < 10000000.0L)) return "acceptance";
  const bool host_fits = v > -2147483649.0L && v < 2147483648.0L;
  std::int32_t whole = 0;
  bool has_fraction = false;
  if (aifconv::rate_whole(rate, &whole, &has_fraction) != host_fits) return "whole fits";
  if (host_fits) {
    const std::int32_t host_whole = static_cast<std::int32_t>(v);
    if (whole != host_whole) return "whole " + std::to_string(whole);
    if (has_fraction != (static_cast<long double>(host_whole) != v)) return "fraction flag";
  }
  return "";
}
#endif

// The comparison runs in shards (every kShards-th rate), which ctest can run
// side by side. It compares a sample of the rates unless the environment
// variable AIFCONV_RATE_FULL_SWEEP is 1, which sweeps them all (about 100 s
// of CPU in a Release build, most of it in the C library's printing of huge
// values; CI runs it as a step of its own).

constexpr int kShards = 4;

class HostComparison : public ::testing::TestWithParam<int> {};

TEST_P(HostComparison, AgreesOnEveryAnswer) {
#if LDBL_MANT_DIG == 64
  // An emulator's 80-bit arithmetic is software, and slow; the x86-64 build
  // compares with the processor's own.
  if (under_emulator()) GTEST_SKIP() << "long double is emulated here";
  const int shard = GetParam();
  long count = 0, failures = 0;
  const char* sweep = std::getenv("AIFCONV_RATE_FULL_SWEEP");
  const bool full = sweep && std::string(sweep) == "1";
  for_each_rate(full, [&](unsigned exponent, std::uint64_t significand) {
    if (count++ % kShards != shard) return;
    const long double v = host_magnitude(encode(false, exponent, significand));
    for (bool negative : {false, true}) {
      const Encoding b = encode(negative, exponent, significand);
      const std::string what = disagreement(b, negative ? -v : v);
      if (what.empty() || ++failures > 10) continue;
      char hex[32];
      for (int i = 0; i < 10; ++i) std::snprintf(hex + 2 * i, 3, "%02X", b[i]);
      ADD_FAILURE() << hex << ": " << what;
    }
  });
  EXPECT_EQ(failures, 0);
  EXPECT_GT(count, full ? 225000 : 2500);
#else
  GTEST_SKIP() << "long double is not the 80-bit extended format on this host";
#endif
}

INSTANTIATE_TEST_SUITE_P(Shards, HostComparison, ::testing::Range(0, kShards));

}  // namespace
}  // namespace aifc_test
