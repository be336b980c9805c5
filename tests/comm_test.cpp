// COMM fields and the 80-bit sample rate, through whole conversions: what is
// refused with which message, and which rate the WAV header then carries.
#include <gtest/gtest.h>

#include <string>

#include "tests/file_case.h"

namespace aifc_test {
namespace {

const Bytes kData = {1, 2, 3, 4};

struct CommCase {
  const char* name;
  Bytes comm_fields;
  std::string err;
};

class CommRejection : public ::testing::TestWithParam<CommCase> {};

TEST_P(CommRejection, PrintsItsMessageAndFails) {
  const CommCase& c = GetParam();
  expect_result(convert(form(cat({fver(), chunk("COMM", cat({c.comm_fields, {0, 0}})), ssnd(kData)}))),
                {c.name, {}, 1, c.err + kBadFile, {}});
}

const Bytes k8000 = rate80(8000);
const std::string kFreq = "\nonly 1 <= freq < 1e7 handled\n";

INSTANTIATE_TEST_SUITE_P(
    Fields, CommRejection,
    ::testing::ValuesIn(std::vector<CommCase>{
        {"three_channels", comm_fields(3, 2, 16, k8000, "sowt"),
         "nb of channels = 3\nonly 1 or 2 channels handled\n"},
        // Channels are checked first: bits and rate are not looked at.
        {"no_channels_and_bad_bits", comm_fields(0, 2, 8, rate80(0), "ulaw"),
         "nb of channels = 0\nonly 1 or 2 channels handled\n"},
        // ima4 may store 0 or 4 (the packets decode to 16 bits); nothing else.
        {"eight_bit_ima4", comm_fields(1, 2, 8, k8000, "ima4"),
         "bits per sample = 8\nonly 16 bits handled\n"},
        {"zero_bit_sowt", comm_fields(1, 2, 0, k8000, "sowt"),
         "bits per sample = 0\nonly 16 bits handled\n"},
        {"four_bit_sdx2", comm_fields(1, 2, 4, k8000, "SDX2"),
         "bits per sample = 4\nonly 16 bits handled\n"},
        {"four_bit_other_type", comm_fields(1, 2, 4, k8000, "ulaw"),
         "bits per sample = 4\nonly 16 bits handled\n"},
        // Which rates are in range is KnownRates' table; the refusal prints the
        // rate's text.
        {"rate_ten_million", comm_fields(1, 2, 16, rate80(10000000), "sowt"),
         "freq = 10000000.000000" + kFreq},
        {"upper_case_sowt", comm_fields(1, 2, 16, k8000, "SOWT"),
         "compression scheme = SOWT\nonly ima4, sowt and SDX2 handled\n"},
        {"lower_case_sdx2", comm_fields(1, 2, 16, k8000, "sdx2"),
         "compression scheme = sdx2\nonly ima4, sowt and SDX2 handled\n"},
    }),
    CaseName());

struct RateCase {
  const char* name;
  Bytes rate;
  std::uint32_t header_rate;
  std::string err;
};

class Rate : public ::testing::TestWithParam<RateCase> {};

TEST_P(Rate, IsTruncatedIntoTheHeader) {
  const RateCase& c = GetParam();
  expect_result(convert(aifc(1, 2, "sowt", kData, c.rate)),
                {c.name, {}, 0, c.err, cat({wav_header(1, c.header_rate, 4), kData})});
}

INSTANTIATE_TEST_SUITE_P(
    Rates, Rate,
    ::testing::ValuesIn(std::vector<RateCase>{
        // The two ends of the range: 1 Hz exactly, and 9999999.5 (0x98967F.8
        // with 24 integer bits: exponent 16383 + 23).
        {"r1", {0x3F, 0xFF, 0x80, 0, 0, 0, 0, 0, 0, 0}, 1, ""},
        {"r9999999_5", {0x40, 0x16, 0x98, 0x96, 0x7F, 0x80, 0, 0, 0, 0}, 9999999,
         "warning, freq = 9999999.500000 will be truncated to 9999999\n"},
        {"r22254_545455", {0x40, 0x0D, 0xAD, 0xDD, 0x17, 0x45, 0xD1, 0x74, 0x5D, 0x17}, 22254,
         "warning, freq = 22254.545455 will be truncated to 22254\n"},
    }),
    CaseName());

// Every header field, written out.
TEST(WavHeader, StereoSowt44100) {
  const Bytes expected_header = cat({text("RIFF"), le32(4036), text("WAVEfmt "), le32(16), le16(1),
                                     le16(2), le32(44100), le32(176400), le16(4), le16(16),
                                     text("data"), le32(4000)});
  expect_result(convert(aifc(2, 1000, "sowt", repeat(5, 4000), rate80(44100))),
                {"", {}, 0, "", cat({expected_header, repeat(5, 4000)})});
}

}  // namespace
}  // namespace aifc_test
