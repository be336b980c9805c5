// The sowt copy through whole files: samples pass unchanged, and an input
// that ends inside a frame fails on the read that comes up short.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/aifc_builder.h"

namespace aifc_test {
namespace {

TEST(Sowt, MonoSamplesCopiedUnchanged) {
  const Result r = convert(aifc(1, 3, "sowt", {1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.output, cat({wav_header(1, 8000, 6), {1, 2, 3, 4, 5, 6}}));
}

TEST(Sowt, LongStereoAcrossBlocks) {
  Bytes data(4 * 50000 + 4);  // one sample pair more than the frames ask for
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 131 + i / 251);
  const Result r = convert(aifc(2, 50000, "sowt", data));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, cat({wav_header(2, 8000, 200000), Bytes(data.begin(), data.end() - 4)}));
}

// Bytes after the container are not walked but are read as sound data when
// the frame count asks for them; the input ends 1, 2 or 3 bytes into frame 2.
TEST(Sowt, StereoInputEndsInsideAFrame) {
  for (const Bytes& tail : {Bytes{5}, Bytes{5, 6}, Bytes{5, 6, 7}}) {
    const Result r = convert(cat({aifc(2, 2, "sowt", {1, 2, 3, 4}), tail}));
    EXPECT_EQ(r.err, "IN: unexpected end of file\n" + kBadFile) << tail.size();
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(r.output_exists);
  }
}

// A data offset past the end of a small file, 1000 or 0xFFFFFFFF: the seek
// succeeds and the first read finds nothing.
TEST(Sowt, DataStartPastEndOfFile) {
  for (std::uint32_t offset : {1000u, 0xFFFFFFFFu}) {
    const Result r = convert(form(cat({comm(1, 1, "sowt"), ssnd({1, 2}, offset)})));
    EXPECT_EQ(r.err, "IN: unexpected end of file\n" + kBadFile) << offset;
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(r.output_exists);
  }
}

// Sound data far into a file: positions are 64-bit on every host, so an
// offset past 2 or 4 GiB is never cut to 32 bits. The file is sparse: the
// chunks, a hole, then the samples at the data start.
TEST(Sowt, DataStartPastTwoAndFourGiB) {
  const std::uint64_t kSsndData = 12 + 32 + 16;  // FORM, COMM, SSND header and fields
  for (std::uint32_t offset : {0x80000000u, 0xFFFFFFF0u}) {
    TempDir dir;
    {
      std::ofstream f(dir.path("in.aifc"), std::ios::binary);
      const Bytes head = form(cat({comm(1, 2, "sowt"), ssnd({}, offset)}));
      f.write(reinterpret_cast<const char*>(head.data()), static_cast<std::streamsize>(head.size()));
      f.seekp(static_cast<std::streamoff>(kSsndData + offset));
      f.write("\x01\x02\x03\x04", 4);
      ASSERT_TRUE(f.good()) << "cannot make a sparse file of " << kSsndData + offset + 4 << " bytes";
    }
    const Result r = run_paths(dir.path("in.aifc"), dir.path("out.wav"));
    EXPECT_EQ(r.err, "") << offset;
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, cat({wav_header(1, 8000, 4), {1, 2, 3, 4}}));
  }
}

}  // namespace
}  // namespace aifc_test
