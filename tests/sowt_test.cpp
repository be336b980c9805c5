// The data pass through whole files: an input that ends inside a sample,
// frame or packet fails on the read that comes up short, whatever the
// encoding (that sowt samples pass unchanged is every table's), and data too
// large for a WAV file is refused.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/file_case.h"

namespace aifc_test {
namespace {

class DataPass : public ::testing::TestWithParam<Case> {};

TEST_P(DataPass, ConvertsOrFailsOnTheShortRead) { expect_result(convert(GetParam().input), GetParam()); }

const std::string kSdx2Truncated =
    "warning - bad size in SSND, the output file will probably be wrong\n"
    "error - for SDX2 files, I don't know what to do\n"
    "Contact " AIFCONV_CONTACT " to see what we can do.\n";

std::string too_large(const std::string& size) {
  return "data size = " + size + "\nonly up to 4294967259 bytes of sound data handled\n" + kBadFile;
}

// Bytes after the container are not walked but are read as sound data when
// the frame count asks for them; a read that comes up short fails the run,
// wherever it ends: inside a sample, a frame or a packet.
std::vector<Case> Cases() {
  const std::string kEof = "IN: unexpected end of file\n" + kBadFile;  // kBadFile is ready only now
  return {
        {"sowt_stereo_ends_1_byte_into_a_frame", cat({aifc(2, 2, "sowt", {1, 2, 3, 4}), {5}}), 1, kEof, {}},
        // The seek succeeds and the first read finds nothing.
        {"sowt_data_start_past_end", form(cat({comm(1, 1, "sowt"), ssnd({1, 2}, 1000)})), 1, kEof, {}},
        {"sowt_data_offset_FFFFFFFF", form(cat({comm(1, 1, "sowt"), ssnd({1, 2}, 0xFFFFFFFFu)})), 1, kEof, {}},
        {"ima4_stereo_ends_after_left_packet", aifc(2, 2, "ima4", repeat(0, 3 * 34)), 1, kEof, {}},
        // One byte after the container: the left code of the third frame, and no right.
        {"sdx2_stereo_ends_inside_a_frame", cat({aifc(2, 3, "SDX2", {3, 5, 3, 5}), {1}}), 1, kEof, {}},
        {"sdx2_truncated_ssnd_is_refused",
         form_sized(1000, cat({comm(1, 10, "SDX2"), chunk_sized("SSND", 100, cat({be32(0), be32(0), {1, 2, 3}}))})), 1,
         kSdx2Truncated, {}},
        // Data that would not fit a 32-bit RIFF size is refused before any
        // header byte; the largest that fits gets its header and then runs
        // out of input. The size is frames x bytes per frame in 64 bits: the
        // largest size that fits and the next, then each encoding's largest.
        {"sowt_stereo_largest", aifc(2, 1073741814, "sowt", {1, 2, 3, 4}), 1, kEof, {}},
        {"sowt_stereo_one_more", aifc(2, 1073741815, "sowt", {1, 2, 3, 4}), 1, too_large("4294967260"), {}},
        {"sowt_stereo_max", aifc(2, 0xFFFFFFFFu, "sowt", {1, 2}), 1, too_large("17179869180"), {}},
        {"ima4_stereo_max", aifc(2, 0xFFFFFFFFu, "ima4", {}), 1, too_large("1099511627520"), {}},
        {"sdx2_mono_max", aifc(1, 0xFFFFFFFFu, "SDX2", {1}), 1, too_large("8589934590"), {}},
        // The truncation warning comes first, as the rate is taken first.
        {"rate_warning_first", aifc(1, 0x80000000u, "sowt", {}, {0x3F, 0xFF, 0xC0, 0, 0, 0, 0, 0, 0, 0}), 1,
         "warning, freq = 1.500000 will be truncated to 1\n" + too_large("4294967296"), {}},
  };
}

INSTANTIATE_TEST_SUITE_P(Files, DataPass, ::testing::ValuesIn(Cases()), CaseName());

// Sound data far into a file: positions are 64-bit on every host, so an
// offset past 2 or 4 GiB is never cut to 32 bits. The file is sparse: the
// chunks, a hole, then the samples at the data start.
TEST(Sowt, DataStartPastTwoAndFourGiB) {
  const std::uint64_t kSsndData = 12 + 32 + 16;  // FORM, COMM, SSND header and fields
  for (std::uint32_t offset : {0x80000000u, 0xFFFFFFF0u}) {
    SCOPED_TRACE(offset);
    TempDir dir;
    {
      std::ofstream f(dir.path("in.aifc"), std::ios::binary);
      const Bytes head = form(cat({comm(1, 2, "sowt"), ssnd({}, offset)}));
      f.write(reinterpret_cast<const char*>(head.data()), static_cast<std::streamsize>(head.size()));
      f.seekp(static_cast<std::streamoff>(kSsndData + offset));
      f.write("\x01\x02\x03\x04", 4);
      ASSERT_TRUE(f.good()) << "cannot make a sparse file of " << kSsndData + offset + 4 << " bytes";
    }
    expect_result(run_paths(dir.path("in.aifc"), dir.path("out.wav")),
                  {"", {}, 0, "", cat({wav_header(1, 8000, 4), {1, 2, 3, 4}})});
  }
}

}  // namespace
}  // namespace aifc_test
