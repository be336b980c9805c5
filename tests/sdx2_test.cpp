// SDX2 decoding through whole files: the signed squares, 16-bit wrap-around,
// separate channel state, and the ways an SDX2 conversion can fail.
#include <gtest/gtest.h>

#include <cerrno>

#include "tests/file_case.h"

namespace aifc_test {
namespace {

// More than one input block, stereo, each channel's state carried across
// blocks. Left: 0x01 (odd) adds 2 a frame, 0x00 every 1000 frames sets 0;
// right: 0xFD (-3, odd) adds -18 a frame, wrapping around.
CodecCase across_blocks() {
  CodecCase c{"state_carries_across_blocks", 2, {}, {}};
  int left = 0, right = 0;
  for (int f = 0; f < 70000; ++f) {
    left = f % 1000 ? left + 2 : 0;
    right = static_cast<std::int16_t>(static_cast<std::uint16_t>(right - 18));
    c.data.insert(c.data.end(), {static_cast<std::uint8_t>(f % 1000 ? 1 : 0), 0xFD});
    c.samples.insert(c.samples.end(), {left, right});
  }
  return c;
}

class Sdx2 : public ::testing::TestWithParam<CodecCase> {};

TEST_P(Sdx2, DecodesWholeFile) { expect_decodes("SDX2", 1, GetParam()); }

INSTANTIATE_TEST_SUITE_P(
    Codes, Sdx2,
    ::testing::ValuesIn(std::vector<CodecCase>{
        // 02 even: 8; 03 odd: 8 + 18; FF (-1) odd: 26 - 2.
        {"set_then_add", 1, {0x00, 0x02, 0x03, 0xFF}, {0, 8, 26, 24}},
        {"minus_128_even", 1, {0x80}, {-32768}},
        {"plus_127_odd_from_zero", 1, {0x7F}, {32258}},
        // 7E even: 31752; 7F odd: 31752 + 32258 = 64010, wraps to -1526.
        {"sum_wraps", 1, {0x7E, 0x7F}, {31752, -1526}},
        {"minus_127_odd_wraps_down", 1, {0x80, 0x81}, {-32768, 32768 - 32258}},
        // Eight deltas of 32258 wrap four times: k * 32258 mod 65536 as signed.
        {"long_odd_run", 1, repeat(0x7F, 8),
         {32258, -1020, 31238, -2040, 30218, -3060, 29198, -4080}},
        // An even code drops the accumulated value.
        {"even_resets", 1, {0x7F, 0x7F, 0x04, 0x01}, {32258, -1020, 32, 34}},
        {"stereo_mixed", 2, {0x7E, 0x02, 0x7F, 0xFF, 0x00, 0x81}, {31752, 8, -1526, 6, 0, -32252}},
        across_blocks(),
    }),
    CaseName());

// Fails every allocation, counting them.
void* no_memory(void* count, std::size_t) {
  ++*static_cast<int*>(count);
  errno = ENOMEM;
  return nullptr;
}

// The decoder state is allocated by SDX2 alone: without memory an SDX2 run
// fails with the system's message, and sowt and ima4 convert without asking.
TEST(Sdx2Failure, OnlySdx2AllocatesDecoderState) {
  const struct {
    Case file;
    int allocations;
  } cases[] = {
      {{"sdx2", aifc(1, 2, "SDX2", {1, 2}), 1, "memory: Cannot allocate memory\n", {}}, 1},
      {{"sowt", aifc(1, 2, "sowt", {1, 2, 3, 4}), 0, "", cat({wav_header(1, 8000, 4), {1, 2, 3, 4}})}, 0},
      {{"ima4", aifc(1, 1, "ima4", repeat(0, 34)), 0, "", cat({wav_header(1, 8000, 128), repeat(0, 128)})}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file.name);
    int allocations = 0;
    aifconv::Hooks hooks;
    hooks.context = &allocations;
    hooks.allocate = no_memory;
    expect_result(convert(c.file.input, hooks), c.file);
    EXPECT_EQ(allocations, c.allocations);
  }
}

}  // namespace
}  // namespace aifc_test
