// Every decoder implementation the running CPU can execute, called directly on
// the same input, against the scalar one: same bytes, nothing written outside
// the output, same carried SDX2 state.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "codecs/decoder_paths.h"
#include "tests/file_case.h"

namespace aifc_test {
namespace {

using aifconv::DecoderPath;
using aifconv::Ima4Decoder;
using aifconv::Sdx2Decoder;

// The names of the paths the running CPU has, in list order: the scalar
// one first, the preferred one last: AVX2, then AVX-512 BW on x86; NEON on
// 64-bit ARM (ima4 only).
std::vector<std::string> cpu_paths([[maybe_unused]] bool ima4) {
  std::vector<std::string> list = {"scalar"};
#if AIFCONV_X86_PATHS
  if (__builtin_cpu_supports("avx2")) list.push_back("avx2");
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw")) list.push_back("avx512bw");
#elif AIFCONV_NEON_PATHS
  if (ima4) list.push_back("neon");
#endif
  return list;
}

template <typename Decoder>
std::vector<std::string> names(const DecoderPath<Decoder>* paths, std::size_t n) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < n; ++i) out.push_back(paths[i].name);
  return out;
}

// Bytes written around every output, which no decoder may touch.
constexpr std::size_t kGuard = 64;
constexpr std::uint8_t kGuardByte = 0xA5;

// How the packets of a case are made from a random stream.
enum class Packets {
  Random,       // any header (step index 0..127), any codes
  Loud,         // predictors at or near the limits, large codes of one sign
  HighIndex,    // step index 80..127, codes that keep it high
  Alternating,  // any header, codes that swing between the limits
};

Bytes make_packets(Packets kind, std::size_t count, std::uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes in(count * 34);
  for (std::size_t k = 0; k < count; ++k) {
    std::uint8_t* p = &in[k * 34];
    for (int i = 0; i < 34; ++i) p[i] = static_cast<std::uint8_t>(rng());
    switch (kind) {
      case Packets::Random:
        break;
      case Packets::Loud: {
        static const std::uint8_t heads[4][2] = {{0x7F, 0x80}, {0x80, 0x00}, {0x7F, 0xD8}, {0x80, 0x58}};
        const std::uint8_t* h = heads[rng() % 4];
        p[0] = h[0];
        p[1] = static_cast<std::uint8_t>(h[1] | (rng() % 89 & 0x7F));
        const std::uint8_t code = (h[0] == 0x7F) ? 0x77 : 0xFF;  // push against the near limit
        for (int i = 2; i < 34; ++i) p[i] = (rng() % 8 == 0) ? static_cast<std::uint8_t>(rng()) : code;
        break;
      }
      case Packets::HighIndex:
        p[1] = static_cast<std::uint8_t>((p[1] & 0x80) | (80 + rng() % 48));
        for (int i = 2; i < 34; ++i) p[i] = static_cast<std::uint8_t>(p[i] | 0x44);
        break;
      case Packets::Alternating:
        for (int i = 2; i < 34; ++i) p[i] = (i / 4) % 2 ? 0x77 : 0xFF;
        break;
    }
  }
  return in;
}

struct Ima4Case {
  std::string name;
  unsigned channels;
  std::size_t frames;
  Packets packets;
};

// Random packets in counts around the vector widths (8, 16 and 32 packets)
// and a block's worth, and the packets that press against the limits.
std::vector<Ima4Case> ima4_cases() {
  std::vector<Ima4Case> cases;
  for (unsigned channels : {1u, 2u}) {
    const std::string prefix = channels == 1 ? "mono_" : "stereo_";
    for (std::size_t frames : {0, 1, 7, 8, 9, 15, 16, 17, 31, 32, 33, 963, 1927})
      cases.push_back({prefix + std::to_string(frames), channels, frames, Packets::Random});
    cases.push_back({prefix + "loud", channels, 301, Packets::Loud});
    cases.push_back({prefix + "high_index", channels, 301, Packets::HighIndex});
    cases.push_back({prefix + "alternating", channels, 301, Packets::Alternating});
  }
  return cases;
}

class Ima4Paths : public ::testing::TestWithParam<Ima4Case> {};

TEST_P(Ima4Paths, EveryPathMatchesScalar) {
  const Ima4Case& c = GetParam();
  DecoderPath<Ima4Decoder> paths[aifconv::kMaxDecoderPaths];
  const std::size_t n = aifconv::ima4_paths(paths);
  ASSERT_EQ(names(paths, n), cpu_paths(true));
  if (n == 1) GTEST_SKIP() << "only the scalar decoder here: nothing to compare it with";
  const Bytes in = make_packets(c.packets, c.frames * c.channels, static_cast<std::uint32_t>(c.frames));
  const std::size_t out_size = c.frames * c.channels * 128;
  Bytes expected(out_size + 2 * kGuard, kGuardByte);
  paths[0].decode(in.data(), c.frames, c.channels, expected.data() + kGuard);
  for (std::size_t i = 1; i < n; ++i) {
    SCOPED_TRACE(paths[i].name);
    Bytes out(out_size + 2 * kGuard, kGuardByte);
    paths[i].decode(in.data(), c.frames, c.channels, out.data() + kGuard);
    EXPECT_EQ(out, expected);
  }
}

INSTANTIATE_TEST_SUITE_P(Frames, Ima4Paths, ::testing::ValuesIn(ima4_cases()),
                         CaseName());

// How the codes of an SDX2 case are made.
enum class Codes {
  Random,     // any byte
  MostlyOdd,  // long delta chains that wrap around, cut now and then
  Loud,       // only -128, -127, 126 and 127
};

Bytes make_codes(Codes kind, std::size_t count, std::uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes in(count);
  static const std::uint8_t loud[4] = {0x80, 0x81, 0x7E, 0x7F};
  for (auto& b : in) {
    b = static_cast<std::uint8_t>(rng());
    if (kind == Codes::MostlyOdd && rng() % 16 != 0) b |= 1;
    if (kind == Codes::Loud) b = loud[b % 4];
  }
  return in;
}

struct Sdx2Case {
  const char* name;
  unsigned channels;
  std::size_t count;
  Codes codes;
  std::uint16_t prev[2];
};

class Sdx2Paths : public ::testing::TestWithParam<Sdx2Case> {};

// The codes are decoded in two calls, so that the state carried from the
// first feeds the second: mono split at an odd place, stereo after a whole
// number of frames (a call starts on a left code), the second call possibly
// cut after a left code.
TEST_P(Sdx2Paths, EveryPathMatchesScalar) {
  const Sdx2Case& c = GetParam();
  DecoderPath<Sdx2Decoder> paths[aifconv::kMaxDecoderPaths];
  const std::size_t n = aifconv::sdx2_paths(paths);
  ASSERT_EQ(names(paths, n), cpu_paths(false));
  if (n == 1) GTEST_SKIP() << "only the scalar decoder here: nothing to compare it with";
  const Bytes in = make_codes(c.codes, c.count, static_cast<std::uint32_t>(c.count));
  const std::size_t half = c.count / 2;
  const std::size_t split = c.channels == 1 ? (half | 1) : (half & ~std::size_t{1});
  const std::size_t first = split < c.count ? split : c.count;
  auto run = [&](Sdx2Decoder decode, std::uint16_t* prev) {
    Bytes out(2 * c.count + 2 * kGuard, kGuardByte);
    decode(in.data(), first, c.channels, prev, out.data() + kGuard);
    decode(in.data() + first, c.count - first, c.channels, prev, out.data() + kGuard + 2 * first);
    return out;
  };
  std::uint16_t expected_prev[2] = {c.prev[0], c.prev[1]};
  const Bytes expected = run(paths[0].decode, expected_prev);
  for (std::size_t i = 1; i < n; ++i) {
    SCOPED_TRACE(paths[i].name);
    std::uint16_t prev[2] = {c.prev[0], c.prev[1]};
    EXPECT_EQ(run(paths[i].decode, prev), expected);
    EXPECT_EQ(prev[0], expected_prev[0]);
    if (c.channels == 2) {
      EXPECT_EQ(prev[1], expected_prev[1]);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Codes, Sdx2Paths,
                         ::testing::ValuesIn(std::vector<Sdx2Case>{
                             {"mono_none", 1, 0, Codes::Random, {0, 0}},
                             {"mono_one", 1, 1, Codes::Random, {1234, 0}},
                             {"mono_33", 1, 33, Codes::MostlyOdd, {0xFFFF, 0}},
                             {"mono_odd_1001", 1, 1001, Codes::Random, {17, 0}},
                             {"mono_loud_4096", 1, 4096, Codes::Loud, {0x8001, 0}},
                             {"mono_block_65536", 1, 65536, Codes::MostlyOdd, {0, 0}},
                             {"stereo_one_left", 2, 1, Codes::MostlyOdd, {100, 200}},
                             {"stereo_31", 2, 31, Codes::MostlyOdd, {0x8000, 0x7FFF}},
                             {"stereo_64", 2, 64, Codes::MostlyOdd, {1, 0xFFFF}},
                             {"stereo_cut_after_left_1003", 2, 1003, Codes::Random, {5, 6}},
                             {"stereo_loud_4097", 2, 4097, Codes::Loud, {0x7FFF, 0x8000}},
                             {"stereo_block_65536", 2, 65536, Codes::MostlyOdd, {0, 0}},
                         }),
                         CaseName());

// A whole run decodes with the path its hooks choose; by default, or with an
// index past the list's end, the last: the fastest the running CPU has.
TEST(DecoderChoice, WholeRunUsesTheChosenPath) {
  for (const bool ima4 : {true, false}) {
    const std::vector<std::string> paths = cpu_paths(ima4);
    for (int i = -1; i <= static_cast<int>(paths.size()); ++i) {
      std::string used;
      aifconv::Hooks hooks;
      hooks.context = &used;
      hooks.decoder_used = [](void* context, const char* name) { *static_cast<std::string*>(context) += name; };
      hooks.decoder_path = i;
      const Result r = convert(ima4 ? aifc(1, 1, "ima4", repeat(0, 34)) : aifc(1, 1, "SDX2", {2}), hooks);
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(used, i < 0 || i == static_cast<int>(paths.size()) ? paths.back() : paths[i])
          << (ima4 ? "ima4" : "SDX2") << " path " << i;
    }
  }
}

}  // namespace
}  // namespace aifc_test
