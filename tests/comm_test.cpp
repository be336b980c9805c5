// COMM fields and the 80-bit sample rate, through whole conversions: what is
// refused with which message, and which rate the WAV header then carries.
#include <gtest/gtest.h>

#include <string>

#include "tests/file_case.h"

namespace aifc_test {
namespace {

const Bytes kData = {1, 2, 3, 4};
const Bytes k8000 = rate80(8000);
const std::string kChannels = "\nonly 1 or 2 channels handled\n", kBits = "\nonly 16 bits handled\n";
const std::string kFreq = "\nonly 1 <= freq < 1e7 handled\n", kScheme = "\nonly ima4, sowt and SDX2 handled\n";

// Refused: a file whose COMM chunk holds `fields` and an empty compression name.
Case refused(const char* name, const Bytes& fields, const std::string& err) {
  return {name, form(cat({fver(), chunk("COMM", cat({fields, {0, 0}})), ssnd(kData)})), 1, err + kBadFile, {}};
}

// Converted with the rate truncated into the header.
Case rate(const char* name, const Bytes& bytes, std::uint32_t header_rate, const std::string& err) {
  return {name, aifc(1, 2, "sowt", kData, bytes), 0, err, cat({wav_header(1, header_rate, 4), kData})};
}

class Comm : public ::testing::TestWithParam<Case> {};

TEST_P(Comm, RefusedOrConvertedWithItsRate) { expect_result(convert(GetParam().input), GetParam()); }

INSTANTIATE_TEST_SUITE_P(
    Fields, Comm,
    ::testing::ValuesIn(std::vector<Case>{
        refused("three_channels", comm_fields(3, 2, 16, k8000, "sowt"), "nb of channels = 3" + kChannels),
        // Channels are checked first: bits and rate are not looked at.
        refused("no_channels_and_bad_bits", comm_fields(0, 2, 8, rate80(0), "ulaw"), "nb of channels = 0" + kChannels),
        // ima4 may store 0 or 4 (the packets decode to 16 bits); nothing else.
        refused("eight_bit_ima4", comm_fields(1, 2, 8, k8000, "ima4"), "bits per sample = 8" + kBits),
        refused("zero_bit_sowt", comm_fields(1, 2, 0, k8000, "sowt"), "bits per sample = 0" + kBits),
        refused("four_bit_sdx2", comm_fields(1, 2, 4, k8000, "SDX2"), "bits per sample = 4" + kBits),
        refused("four_bit_other_type", comm_fields(1, 2, 4, k8000, "ulaw"), "bits per sample = 4" + kBits),
        // Which rates are in range is KnownRates' table; the refusal prints the
        // rate's text.
        refused("rate_ten_million", comm_fields(1, 2, 16, rate80(10000000), "sowt"), "freq = 10000000.000000" + kFreq),
        refused("upper_case_sowt", comm_fields(1, 2, 16, k8000, "SOWT"), "compression scheme = SOWT" + kScheme),
        refused("lower_case_sdx2", comm_fields(1, 2, 16, k8000, "sdx2"), "compression scheme = sdx2" + kScheme),
        // The two ends of the range: 1 Hz exactly, and 9999999.5 (0x98967F.8
        // with 24 integer bits: exponent 16383 + 23).
        rate("r1", {0x3F, 0xFF, 0x80, 0, 0, 0, 0, 0, 0, 0}, 1, ""),
        rate("r9999999_5", {0x40, 0x16, 0x98, 0x96, 0x7F, 0x80, 0, 0, 0, 0}, 9999999,
             "warning, freq = 9999999.500000 will be truncated to 9999999\n"),
        rate("r22254_545455", {0x40, 0x0D, 0xAD, 0xDD, 0x17, 0x45, 0xD1, 0x74, 0x5D, 0x17}, 22254,
             "warning, freq = 22254.545455 will be truncated to 22254\n"),
        // Every header field, written out.
        {"stereo_sowt_44100", aifc(2, 1000, "sowt", repeat(5, 4000), rate80(44100)), 0, "",
         cat({text("RIFF"), le32(4036), text("WAVEfmt "), le32(16), le16(1), le16(2), le32(44100), le32(176400), le16(4),
              le16(16), text("data"), le32(4000), repeat(5, 4000)})},
    }),
    CaseName());

}  // namespace
}  // namespace aifc_test
