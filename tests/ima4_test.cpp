// ima4 decoding through whole files: known-answer packets, stereo order,
// independence of packets, and input that ends inside a frame.
#include <gtest/gtest.h>

#include "tests/file_case.h"

namespace aifc_test {
namespace {

std::vector<int> concat(std::vector<int> a, const std::vector<int>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Header 00 00: predictor 0, step index 0 (step 7). The first codes, worked by hand:
//   7: diff = 0 + 7 + 3 + 1 = 11       ->  11, index 8 (step 16)
//   7: diff = 2 + 16 + 8 + 4 = 30      ->  41, index 16 (step 34)
//   F: diff = 4 + 34 + 17 + 8 = 63     -> -22, index 24 (step 73)
//   3: diff = 9 + 36 + 18 = 63         ->  41, index 23 (step 66)
//   8: diff = 8, minus                 ->  33, index 22 (step 60)
//   4: diff = 7 + 60 = 67              -> 100, index 24 (step 73)
//   C: diff = 9 + 73 = 82, minus       ->  18, index 26 (step 88)
//   1: diff = 11 + 22 = 33             ->  51, index 25 (step 80)
// and so on through every magnitude and both signs, up against both limits.
const Bytes kMixedPacket = cat({{0x00, 0x00, 0x77, 0x3F, 0x48, 0x1C, 0x80, 0x08, 0x80, 0x08, 0x80,
                                 0x08, 0x80, 0x08, 0xFF, 0xFF, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE,
                                 0x12, 0x34, 0x56, 0x70, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD,
                                 0xEF}});
const std::vector<int> kMixedSamples = {
    11,     41,     -22,    41,     33,     100,    18,     51,     61,     52,     44,
    51,     57,     51,     46,     51,     55,     51,     48,     51,     54,     52,
    50,     52,     21,     -47,    -197,   -520,   -658,   -784,   -975,   -1148,  -1368,
    -1568,  -1803,  -2087,  -2508,  -3125,  -4194,  -6088,  -4797,  -4094,  -2174,  -367,
    2684,   7257,   7865,   16167,  19726,  20804,  27667,  32124,  32767,  32767,  32767,
    32767,  20481,  16757,  -6942,  -22330, -32768, -32768, -32768, -32768};

// Header 7F 80 (predictor 32640, index 0), codes 7: rises and is held at 32767.
const Bytes kRisingPacket = cat({{0x7F, 0x80}, repeat(0x77, 32)});
const std::vector<int> kRisingSamples =
    concat({32651, 32681, 32744}, std::vector<int>(61, 32767));

// Header 00 7F: index 127 is taken as 88 (step 32767); codes 0 add step >> 3.
const Bytes kIndex127Packet = cat({{0x00, 0x7F}, repeat(0, 32)});
const std::vector<int> kIndex127Samples =
    concat({4095, 7819, 11204, 14281, 17079, 19622, 21934, 24036, 25947, 27684, 29263, 30698,
            32003},
           std::vector<int>(51, 32767));

const Bytes kZeroPacket = repeat(0, 34);

std::vector<int> interleave(const std::vector<int>& left, const std::vector<int>& right) {
  std::vector<int> out;
  for (std::size_t i = 0; i < left.size(); ++i) {
    out.push_back(left[i]);
    out.push_back(right[i]);
  }
  return out;
}

// Stereo frames, the first packet of each the left channel, each packet
// starting afresh from its own header: 3000 frames, more than one input
// block, two pairs of packets in turn.
CodecCase across_blocks() {
  CodecCase c{"stereo_frames_across_blocks", 2, {}, {}};
  const Bytes data = cat({kMixedPacket, kIndex127Packet, kRisingPacket, kZeroPacket});
  const std::vector<int> samples =
      concat(interleave(kMixedSamples, kIndex127Samples), interleave(kRisingSamples, std::vector<int>(64, 0)));
  for (int f = 0; f < 1500; ++f) {
    c.data.insert(c.data.end(), data.begin(), data.end());
    c.samples.insert(c.samples.end(), samples.begin(), samples.end());
  }
  return c;
}

class Ima4 : public ::testing::TestWithParam<CodecCase> {};

TEST_P(Ima4, DecodesWholeFile) { expect_decodes("ima4", 64, GetParam()); }

INSTANTIATE_TEST_SUITE_P(
    Packets, Ima4,
    ::testing::ValuesIn(std::vector<CodecCase>{
        {"all_zero", 1, kZeroPacket, std::vector<int>(64, 0)},
        {"floor_minus_zero_magnitude", 1, cat({{0x80, 0x00}, repeat(0x88, 32)}),
         std::vector<int>(64, -32768)},
        {"ceiling", 1, kRisingPacket, kRisingSamples},
        {"index_127", 1, kIndex127Packet, kIndex127Samples},
        {"mixed_codes", 1, kMixedPacket, kMixedSamples},
        across_blocks(),
    }),
    CaseName());

// Writers of ima4 files store 0 or 4 as the COMM sample size; the packets
// decode exactly as with 16, and the header says 16 bits.
TEST(Ima4, SampleSizeZeroOrFourDecodesAsSixteen) {
  for (std::uint16_t bits : {0, 4}) {
    const Result r = convert(form(cat({comm(1, 2, "ima4", rate80(8000), bits), ssnd(cat({kMixedPacket, kRisingPacket}))})));
    expect_result(r, {"", {}, 0, "", cat({wav_header(1, 8000, 256), pcm(concat(kMixedSamples, kRisingSamples))})});
  }
}

// A truncated stereo SSND with 1000 data bytes: 1000 / 34 = 29 packets, 14 frames.
TEST(Ima4, TruncatedStereoSsndConvertsWholeFrames) {
  Bytes data;
  for (int f = 0; f < 14; ++f) data = cat({data, kMixedPacket, kRisingPacket});
  data = cat({data, repeat(0x11, 1000 - data.size())});
  const Result r = convert(
      form_sized(5000, cat({comm(2, 100, "ima4"), chunk_sized("SSND", 3000, cat({be32(0), be32(0), data}))})));
  std::vector<int> samples;
  for (int f = 0; f < 14; ++f) samples = concat(samples, interleave(kMixedSamples, kRisingSamples));
  expect_result(r, {"", {}, 0, "warning - bad size in SSND, the output file will probably be wrong\n",
                    cat({wav_header(2, 8000, 14 * 256), pcm(samples)})});
}

}  // namespace
}  // namespace aifc_test
