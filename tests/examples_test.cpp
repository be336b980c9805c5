// The shipped sample files: made by make_examples, and converted cleanly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "tests/aifc_builder.h"

namespace aifc_test {
namespace {

const char* const kExamples[] = {"tone-sowt", "tone-ima4", "tone-sdx2"};

TEST(Examples, AreWhatMakeExamplesWrites) {
  TempDir dir;
  const std::string command = program_command(MAKE_EXAMPLES_BINARY) + " " + dir.path("");
  ASSERT_EQ(std::system(command.c_str()), 0);
  for (const char* name : kExamples) {
    const std::string file = std::string(name) + ".aifc";
    EXPECT_EQ(read_file(dir.path(file)), read_file(std::string(AIFCONV_EXAMPLES_DIR) + "/" + file))
        << file << " is out of date: run make_examples";
  }
}

// Each sample file converts without a message to exactly the same bytes on
// every host (their hash here), which are the tone it was made from: sowt
// exactly, ima4 and SDX2 within what their encoders reach.
TEST(Examples, ConvertToTheirTone) {
  const struct {
    const char* name;
    std::uint16_t channels;
    int tolerance;
    std::uint64_t hash;
  } files[] = {{"tone-sowt", 1, 0, 0x6efcb65e10c269d5u},
               {"tone-ima4", 2, 1500, 0xb2359ca07862ce80u},
               {"tone-sdx2", 1, 200, 0xe608d3c2e8ccb82eu}};
  for (const auto& f : files) {
    SCOPED_TRACE(f.name);
    TempDir dir;
    const Result r = run_paths(std::string(AIFCONV_EXAMPLES_DIR) + "/" + f.name + ".aifc", dir.path("out.wav"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(fnv1a(r.output), f.hash);
    const std::uint32_t data_size = 2048u * 2 * f.channels;
    ASSERT_EQ(r.output.size(), 44u + data_size);
    EXPECT_EQ(Bytes(r.output.begin(), r.output.begin() + 44), wav_header(f.channels, 8000, data_size));
    int worst = 0;
    for (int i = 0; i < 2048; ++i)
      for (int c = 0; c < f.channels; ++c) {
        const std::size_t at = 44 + 2 * (static_cast<std::size_t>(i) * f.channels + c);
        const int sample = static_cast<std::int16_t>(r.output[at] | r.output[at + 1] << 8);
        worst = std::max(worst, std::abs(sample - example_tone(i, c)));
      }
    EXPECT_LE(worst, f.tolerance);
  }
}

}  // namespace
}  // namespace aifc_test
