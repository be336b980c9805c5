// Every decoder implementation the running CPU can execute, called directly on
// the same input, against the scalar one: same bytes, nothing written outside
// the output, same carried SDX2 state.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "codecs/decoder_paths.h"

namespace aifc_test {
namespace {

using aifconv::DecoderPath;
using aifconv::Ima4Decoder;
using aifconv::Sdx2Decoder;
using Bytes = std::vector<std::uint8_t>;

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
  const char* name;
  unsigned channels;
  std::size_t frames;
  Packets packets;
};

void PrintTo(const Ima4Case& c, std::ostream* os) { *os << c.name; }

class Ima4Paths : public ::testing::TestWithParam<Ima4Case> {};

TEST_P(Ima4Paths, EveryPathMatchesScalar) {
  const Ima4Case& c = GetParam();
  DecoderPath<Ima4Decoder> paths[aifconv::kMaxDecoderPaths];
  const std::size_t n = aifconv::ima4_paths(paths);
  ASSERT_GE(n, 1u);
  ASSERT_EQ(std::string(paths[0].name), "scalar");
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

INSTANTIATE_TEST_SUITE_P(
    Frames, Ima4Paths,
    ::testing::ValuesIn(std::vector<Ima4Case>{
        {"mono_none", 1, 0, Packets::Random},
        {"mono_one", 1, 1, Packets::Random},
        {"mono_odd_7", 1, 7, Packets::Random},
        {"mono_15", 1, 15, Packets::Random},
        {"mono_16", 1, 16, Packets::Random},
        {"mono_17", 1, 17, Packets::Random},
        {"mono_31", 1, 31, Packets::Random},
        {"mono_32", 1, 32, Packets::Random},
        {"mono_33", 1, 33, Packets::Random},
        {"mono_block_1927", 1, 1927, Packets::Random},
        {"mono_loud", 1, 301, Packets::Loud},
        {"mono_high_index", 1, 301, Packets::HighIndex},
        {"mono_alternating", 1, 301, Packets::Alternating},
        {"stereo_one", 2, 1, Packets::Random},
        {"stereo_odd_7", 2, 7, Packets::Random},
        {"stereo_8", 2, 8, Packets::Random},
        {"stereo_9", 2, 9, Packets::Random},
        {"stereo_15", 2, 15, Packets::Random},
        {"stereo_16", 2, 16, Packets::Random},
        {"stereo_17", 2, 17, Packets::Random},
        {"stereo_block_963", 2, 963, Packets::Random},
        {"stereo_loud", 2, 157, Packets::Loud},
        {"stereo_high_index", 2, 157, Packets::HighIndex},
        {"stereo_alternating", 2, 157, Packets::Alternating},
    }),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace aifc_test
