// The shipped sample files: made by make_examples, and converted cleanly.
#include <gtest/gtest.h>

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

TEST(Examples, ConvertWithoutMessages) {
  // 2048 samples each: mono sowt and SDX2, stereo ima4 (32 frames of 64).
  const struct {
    const char* name;
    std::uint16_t channels;
  } files[] = {{"tone-sowt", 1}, {"tone-ima4", 2}, {"tone-sdx2", 1}};
  for (const auto& f : files) {
    TempDir dir;
    const Result r = run_paths(std::string(AIFCONV_EXAMPLES_DIR) + "/" + f.name + ".aifc",
                               dir.path("out.wav"));
    EXPECT_EQ(r.status, 0) << f.name;
    EXPECT_EQ(r.err, "") << f.name;
    const Bytes header = wav_header(f.channels, 8000, 2048u * 2 * f.channels);
    ASSERT_EQ(r.output.size(), 44u + 2048u * 2 * f.channels) << f.name;
    EXPECT_EQ(Bytes(r.output.begin(), r.output.begin() + 44), header) << f.name;
  }
}

}  // namespace
}  // namespace aifc_test
