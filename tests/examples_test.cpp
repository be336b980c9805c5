// The shipped sample files: the bytes they were committed with, converted
// cleanly.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "tests/aifc_builder.h"

namespace aifc_test {
namespace {

// Each shipped sample file is still the one committed, and converts without
// a message to the same bytes on every host. Both are given by their 64-bit
// FNV-1a hash, taken once from the files with
//   python3 -c 'import sys; h = 0xcbf29ce484222325
//   for b in open(sys.argv[1], "rb").read(): h = (h ^ b) * 0x100000001b3 % 2**64
//   print(hex(h))' FILE
// The sowt file's output is the tone itself.
TEST(Examples, AreTheCommittedFilesAndConvertExactly) {
  const struct {
    const char* name;
    std::uint64_t file, wav;
  } files[] = {{"tone-sowt", 0x932463305eaca83eu, 0x6efcb65e10c269d5u},
               {"tone-ima4", 0xc8790371d8cddbcdu, 0xb2359ca07862ce80u},
               {"tone-sdx2", 0x8da986f1d4bfafddu, 0xe608d3c2e8ccb82eu}};
  TempDir dir;
  std::vector<int> tone;
  for (int i = 0; i < 2048; ++i) tone.push_back(example_tone(i, 0));
  for (const auto& f : files) {
    SCOPED_TRACE(f.name);
    const std::string shipped = std::string(AIFCONV_EXAMPLES_DIR) + "/" + f.name + ".aifc";
    EXPECT_EQ(fnv1a(read_file(shipped)), f.file);
    const Result r = run_paths(shipped, dir.path("out.wav"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(fnv1a(r.output), f.wav);
    if (f.name == std::string("tone-sowt")) {
      EXPECT_EQ(r.output, cat({wav_header(1, 8000, 4096), pcm(tone)}));
    }
  }
}

}  // namespace
}  // namespace aifc_test
