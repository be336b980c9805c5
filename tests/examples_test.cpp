// The shipped sample files: made by make_examples, and converted cleanly.
#include <gtest/gtest.h>

#include <cstdlib>
#include <utility>
#include <vector>

#include "tests/aifc_builder.h"

namespace aifc_test {
namespace {

// The shipped sample files are what make_examples writes, and each converts
// without a message to the same bytes on every host, given here by their
// 64-bit FNV-1a hash; the sowt file's are the tone itself.
TEST(Examples, AreMadeByMakeExamplesAndConvertExactly) {
  const std::pair<const char*, std::uint64_t> files[] = {
      {"tone-sowt", 0x6efcb65e10c269d5u}, {"tone-ima4", 0xb2359ca07862ce80u}, {"tone-sdx2", 0xe608d3c2e8ccb82eu}};
  TempDir dir;
  const std::string command = program_command(MAKE_EXAMPLES_BINARY) + " " + dir.path("");
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::vector<int> tone;
  for (int i = 0; i < 2048; ++i) tone.push_back(example_tone(i, 0));
  for (const auto& [name, hash] : files) {
    SCOPED_TRACE(name);
    const std::string file = std::string(name) + ".aifc", shipped = std::string(AIFCONV_EXAMPLES_DIR) + "/" + file;
    EXPECT_EQ(read_file(dir.path(file)), read_file(shipped)) << file << " is out of date: run make_examples";
    const Result r = run_paths(shipped, dir.path("out.wav"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(fnv1a(r.output), hash);
    if (name == std::string("tone-sowt")) {
      EXPECT_EQ(r.output, cat({wav_header(1, 8000, 4096), pcm(tone)}));
    }
  }
}

}  // namespace
}  // namespace aifc_test
