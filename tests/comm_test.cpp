// COMM fields and the 80-bit sample rate, through whole conversions: what is
// refused with which message, and which rate the WAV header then carries.
#include <gtest/gtest.h>

#include <string>

#include "aifc/aifc.h"
#include "tests/aifc_builder.h"

namespace aifc_test {
namespace {

const Bytes kData = {1, 2, 3, 4};

struct CommCase {
  const char* name;
  Bytes comm_fields;
  std::string err;
};

void PrintTo(const CommCase& c, std::ostream* os) { *os << c.name; }

class CommRejection : public ::testing::TestWithParam<CommCase> {};

TEST_P(CommRejection, PrintsItsMessageAndFails) {
  const CommCase& c = GetParam();
  const Result r =
      convert(form(cat({fver(), chunk("COMM", cat({c.comm_fields, {0, 0}})), ssnd(kData)})));
  EXPECT_EQ(r.err, c.err + kBadFile);
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(r.output_exists);
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
        {"channels_65535", comm_fields(65535, 2, 16, k8000, "sowt"),
         "nb of channels = 65535\nonly 1 or 2 channels handled\n"},
        {"eight_bit_sowt", comm_fields(1, 2, 8, k8000, "sowt"),
         "bits per sample = 8\nonly 16 bits handled\n"},
        // ima4 may store 0 or 4 (the packets decode to 16 bits); nothing else.
        {"eight_bit_ima4", comm_fields(1, 2, 8, k8000, "ima4"),
         "bits per sample = 8\nonly 16 bits handled\n"},
        {"zero_bit_sowt", comm_fields(1, 2, 0, k8000, "sowt"),
         "bits per sample = 0\nonly 16 bits handled\n"},
        {"four_bit_sdx2", comm_fields(1, 2, 4, k8000, "SDX2"),
         "bits per sample = 4\nonly 16 bits handled\n"},
        {"four_bit_other_type", comm_fields(1, 2, 4, k8000, "ulaw"),
         "bits per sample = 4\nonly 16 bits handled\n"},
        {"rate_zero", comm_fields(1, 2, 16, rate80(0), "sowt"), "freq = 0.000000" + kFreq},
        // Between 0 and 1 Hz the header would get 0 Hz.
        {"rate_half", comm_fields(1, 2, 16, {0x3F, 0xFE, 0x80, 0, 0, 0, 0, 0, 0, 0}, "sowt"),
         "freq = 0.500000" + kFreq},
        {"rate_just_below_one", comm_fields(1, 2, 16, {0x3F, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, "ima4"),
         "freq = 1.000000" + kFreq},
        {"rate_minus_zero", comm_fields(1, 2, 16, cat({{0x80}, repeat(0, 9)}), "sowt"),
         "freq = -0.000000" + kFreq},
        {"rate_negative", comm_fields(1, 2, 16, cat({{0xC0, 0x0B, 0xFA}, repeat(0, 7)}), "sowt"),
         "freq = -8000.000000" + kFreq},
        {"rate_ten_million", comm_fields(1, 2, 16, rate80(10000000), "sowt"),
         "freq = 10000000.000000" + kFreq},
        {"rate_infinite", comm_fields(1, 2, 16, cat({{0x7F, 0xFF, 0x80}, repeat(0, 7)}), "sowt"),
         "freq = inf" + kFreq},
        {"upper_case_sowt", comm_fields(1, 2, 16, k8000, "SOWT"),
         "compression scheme = SOWT\nonly ima4, sowt and SDX2 handled\n"},
        {"ulaw", comm_fields(1, 2, 16, k8000, "ulaw"),
         "compression scheme = ulaw\nonly ima4, sowt and SDX2 handled\n"},
        {"lower_case_sdx2", comm_fields(1, 2, 16, k8000, "sdx2"),
         "compression scheme = sdx2\nonly ima4, sowt and SDX2 handled\n"},
        {"type_with_zero_byte", comm_fields(1, 2, 16, k8000, std::string("so\0t", 4)),
         "compression scheme = so\nonly ima4, sowt and SDX2 handled\n"},
        // Bytes outside printable ASCII print as '?': no escape sequence
        // reaches the terminal.
        {"type_with_control_bytes", comm_fields(1, 2, 16, k8000, "\x1b[2J"),
         "compression scheme = ?[2J\nonly ima4, sowt and SDX2 handled\n"},
        {"type_with_high_bytes", comm_fields(1, 2, 16, k8000, "\x7f\x80\xff~"),
         "compression scheme = ???~\nonly ima4, sowt and SDX2 handled\n"},
    }),
    [](const auto& info) { return std::string(info.param.name); });

// A huge finite rate prints in full: all 4,932 digits of 2^16383.
TEST(CommRejection, HugeFiniteRate) {
  // Largest exponent, integer bit clear, top fraction bit set: 2^16383.
  const Bytes rate = cat({{0x7F, 0xFF, 0x40}, repeat(0, 7)});
  const Result r = convert(form(
      cat({chunk("COMM", cat({comm_fields(1, 2, 16, rate, "sowt"), {0, 0}})), ssnd(kData)})));
  const std::string text = aifconv::rate_text(aifconv::extended_to_rate(rate.data())).text;
  EXPECT_EQ(text.size(), 4932u + 7);
  EXPECT_EQ(r.err, "freq = " + text + kFreq + kBadFile);
  EXPECT_EQ(r.status, 1);
}

struct RateCase {
  const char* name;
  Bytes rate;
  std::uint32_t header_rate;
  std::string err;
};

void PrintTo(const RateCase& c, std::ostream* os) { *os << c.name; }

class Rate : public ::testing::TestWithParam<RateCase> {};

TEST_P(Rate, IsTruncatedIntoTheHeader) {
  const RateCase& c = GetParam();
  const Result r = convert(aifc(1, 2, "sowt", kData, c.rate));
  EXPECT_EQ(r.err, c.err);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, cat({wav_header(1, c.header_rate, 4), kData}));
}

INSTANTIATE_TEST_SUITE_P(
    Rates, Rate,
    ::testing::ValuesIn(std::vector<RateCase>{
        // The two ends of the range: 1 Hz exactly, and 9999999.5 (0x98967F.8
        // with 24 integer bits: exponent 16383 + 23).
        {"r1", {0x3F, 0xFF, 0x80, 0, 0, 0, 0, 0, 0, 0}, 1, ""},
        {"r1_5", {0x3F, 0xFF, 0xC0, 0, 0, 0, 0, 0, 0, 0}, 1, "warning, freq = 1.500000 will be truncated to 1\n"},
        {"r9999999_5", {0x40, 0x16, 0x98, 0x96, 0x7F, 0x80, 0, 0, 0, 0}, 9999999,
         "warning, freq = 9999999.500000 will be truncated to 9999999\n"},
    }),
    [](const auto& info) { return std::string(info.param.name); });

// Header fields for the sizes and rates that are easy to get wrong.
TEST(WavHeader, StereoSowt44100) {
  const Result r = convert(aifc(2, 1000, "sowt", repeat(5, 4000), rate80(44100)));
  ASSERT_EQ(r.status, 0);
  const Bytes expected_header = cat({text("RIFF"), le32(4036), text("WAVEfmt "), le32(16), le16(1),
                                     le16(2), le32(44100), le32(176400), le16(4), le16(16),
                                     text("data"), le32(4000)});
  EXPECT_EQ(r.output, cat({expected_header, repeat(5, 4000)}));
}

TEST(WavHeader, MonoFractionalRate) {
  const Result r = convert(
      aifc(1, 0, "sowt", {}, {0x40, 0x0D, 0xAD, 0xDD, 0x17, 0x45, 0xD1, 0x74, 0x5D, 0x17}));
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "warning, freq = 22254.545455 will be truncated to 22254\n");
  const Bytes expected_header = cat({text("RIFF"), le32(36), text("WAVEfmt "), le32(16), le16(1),
                                     le16(1), le32(22254), le32(44508), le16(2), le16(16),
                                     text("data"), le32(0)});
  EXPECT_EQ(r.output, expected_header);
}

}  // namespace
}  // namespace aifc_test
