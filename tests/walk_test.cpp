// The chunk walk over whole files: container rules, chunk order, the wrapping
// size accounting and the truncated-SSND recovery, each checked on the exact
// standard error text, status and output.
#include <gtest/gtest.h>

#include "tests/file_case.h"

namespace aifc_test {
namespace {

class Walk : public ::testing::TestWithParam<Case> {};

TEST_P(Walk, ConvertsOrRefuses) { expect_result(convert(GetParam().input), GetParam()); }

const std::string kSize = "the size information of your file is bad\n";
const std::string kShorter = "warning: your file is shorter than expected\n";
const std::string kNoChunks = "no COMM chunk found\nno SSND chunk found\n";
const std::string kTruncated =
    "warning - bad size in SSND, the output file will probably be wrong\n";

// Two mono sowt frames 01 02 03 04 and what they convert to.
const Bytes kComm = comm(1, 2, "sowt");
const Bytes kSsnd = ssnd({1, 2, 3, 4});
const Bytes kWav = cat({wav_header(1, 8000, 4), {1, 2, 3, 4}});

std::vector<Case> Cases() {
  return {
      {"minimal_76_byte_file",
       cat({text("FORM"), be32(68), text("AIFC"), text("FVER"), be32(4), be32(0xA2805140),
            text("COMM"), be32(24), be16(1), be32(2), be16(16),
            {0x40, 0x0B, 0xFA, 0, 0, 0, 0, 0, 0, 0}, text("sowt"), {0, 0}, text("SSND"),
            be32(12), be32(0), be32(0), {1, 2, 3, 4}}),
       0,
       "",
       kWav},
      {"plain_aiff", cat({text("FORM"), be32(4), text("AIFF")}), 1,
       "unsupported type AIFF\nonly AIFC handled\n" + kBadFile, {}},
      // Identifiers print through one helper: bytes outside 0x20-0x7E as '?',
      // and a zero byte ends the text. One row for each identifier printed.
      {"unhandled_chunk_id_escaped", form(cat({chunk("\x1f \x7e\x7f", {}), kComm, kSsnd})), 0,
       "warning: unhandled chunk ? ~? (size=0)\n", kWav},
      {"form_type_escaped", cat({text("FORM"), be32(4), {0x1b, 0xff, 0, 'C'}}), 1,
       "unsupported type ??\nonly AIFC handled\n" + kBadFile, {}},
      {"compression_type_escaped", form(cat({comm(1, 2, std::string("s\x80\0t", 4)), kSsnd})), 1,
       "compression scheme = s?\nonly ima4, sowt and SDX2 handled\n" + kBadFile, {}},
      {"riff_file", cat({text("RIFF"), le32(36), text("WAVEfmt ")}), 1,
       "warning: unhandled chunk RIFF (size=603979776)\n" + kBadFile, {}},
      {"container_of_size_4", form({}), 1, kNoChunks + kBadFile, {}},
      {"comm_before_container", cat({kComm, form({kSsnd})}), 1, kBadFile, {}},
      {"second_container", form(cat({kComm, form({})})), 1, kBadFile, {}},
      {"ssnd_before_comm", form(cat({kSsnd, kComm})), 0, "", kWav},
      {"no_fver_needed", form(cat({kComm, kSsnd})), 0, "", kWav},
      {"second_comm", form(cat({kComm, kComm, kSsnd})), 1, kBadFile, {}},
      {"second_fver", form(cat({fver(), fver(), kComm, kSsnd})), 1, kBadFile, {}},
      {"second_ssnd", form(cat({kComm, kSsnd, kSsnd})), 1, "more than one SSND\n" + kBadFile, {}},
      {"only_comm", form(kComm), 1, "no SSND chunk found\n" + kBadFile, {}},
      {"only_ssnd", form(kSsnd), 1, "no COMM chunk found\n" + kBadFile, {}},
      {"lower_case_comm_is_unhandled", form(cat({chunk("comm", repeat(0, 24)), kSsnd})), 1,
       "warning: unhandled chunk comm (size=24)\nno COMM chunk found\n" + kBadFile, {}},
      {"odd_unhandled_chunk_and_its_pad", form(cat({chunk("NAME", text("abc")), kComm, kSsnd})), 0,
       "warning: unhandled chunk NAME (size=3)\n", kWav},
      {"container_smaller_than_chunks",
       form_sized(4 + 30, cat({kComm, kSsnd})), 1, kSize + kBadFile, {}},
      {"remaining_count_below_a_header",
       form_sized(4 + 30 + 3, cat({kComm, kSsnd})), 1, kSize + kBadFile, {}},
      {"remaining_count_below_an_unhandled_header",
       form_sized(4 + 30 + 3, cat({kComm, chunk("NAME", {}), kSsnd})), 1,
       "warning: unhandled chunk NAME (size=0)\n" + kSize + kBadFile, {}},
      // Each chunk is measured against the container before it is believed:
      // the room for its header, then for its fixed fields, then for its body.
      {"comm_header_past_container_and_file_end",
       form_sized(4 + 3, chunk_sized("COMM", 18, repeat(0, 10))), 1, kSize + kBadFile, {}},
      {"comm_fields_past_container_end",
       form_sized(4 + 20, comm(3, 2, "sowt")), 1, kSize + kBadFile, {}},
      {"comm_name_past_container_end",
       form_sized(4 + 20 + 30, cat({kSsnd, chunk("COMM", cat({comm_fields(1, 2, 16, rate80(8000), "sowt"), {3}, text("abc")}))})),
       1, kSize + kBadFile, {}},
      {"fver_header_past_container_and_file_end",
       form_sized(4 + 3, chunk_sized("FVER", 4, {0xA2, 0x80})), 1, kSize + kBadFile, {}},
      {"fver_stamp_past_container_end", form_sized(4 + 10, chunk("FVER", be32(1))), 1, kSize + kBadFile, {}},
      {"fver_body_past_container_end",
       form_sized(4 + 20 + 32 + 12, cat({kSsnd, kComm, chunk("FVER", cat({be32(0xA2805140), be32(0)}))})), 1,
       kSize + kBadFile, {}},
      // SSND of stored size 0: charged 8 + 8 fields, then a skip of -8 would
      // bring the count back above 0.
      {"ssnd_fields_past_container_end",
       form_sized(4 + 32 + 12, cat({kComm, chunk_sized("SSND", 0, cat({be32(0), be32(0)}))})), 1, kSize + kBadFile, {}},
      {"ssnd_data_past_container_end", form_sized(4 + 32 + 16 + 2, cat({kComm, kSsnd})), 1, kSize + kBadFile, {}},
      {"unhandled_header_past_container_end_negative_size",
       form_sized(4 + 32 + 20 + 3, cat({kComm, kSsnd, chunk_sized("NAME", 0xFFFFFFF0, {})})), 1,
       "warning: unhandled chunk NAME (size=-16)\n" + kSize + kBadFile, {}},
      {"stray_bytes_after_last_chunk",
       cat({form_sized(4 + 32 + 20 + 8, cat({kComm, kSsnd})), {'x', 'y', 'z'}}), 1, kBadFile, {}},
      {"container_leaves_out_last_pad_byte",
       form_sized(4 + 32 + 20 + 11, cat({kComm, kSsnd, chunk("NAME", text("abc"))})), 1,
       "warning: unhandled chunk NAME (size=3)\n" + kSize + kBadFile, {}},
      {"bytes_after_container_are_never_read",
       cat({form(cat({kComm, kSsnd})), text("junk that is not a chunk")}), 0, "", kWav},
      {"unhandled_size_FFFFFFF0_reads_to_the_end",
       form_sized(4 + 32 + 20 + 8 + 100, cat({kComm, kSsnd, chunk_sized("NAME", 0xFFFFFFF0, {})})),
       1, "warning: unhandled chunk NAME (size=-16)\n" + kBadFile, {}},
      {"unhandled_size_80000000_is_size_bad",
       form_sized(4 + 32 + 20 + 8 + 100, cat({kComm, kSsnd, chunk_sized("NAME", 0x80000000, {})})),
       1, "warning: unhandled chunk NAME (size=-2147483648)\n" + kSize + kBadFile, {}},
      {"unhandled_size_7FFFFFFF_is_size_bad",
       form_sized(4 + 32 + 20 + 8 + 100, cat({kComm, kSsnd, chunk_sized("NAME", 0x7FFFFFFF, {})})),
       1, "warning: unhandled chunk NAME (size=2147483647)\n" + kSize + kBadFile, {}},
      {"unhandled_size_FFFFFFFF_skips_nothing",
       form(cat({chunk_sized("NAME", 0xFFFFFFFF, {}), kComm, kSsnd})), 0,
       "warning: unhandled chunk NAME (size=-1)\n", kWav},
      {"container_size_7FFFFFFF_ends_at_end_of_file",
       form_sized(0x7FFFFFFF, cat({kComm, kSsnd})), 0, kShorter, kWav},
      {"container_size_0_is_negative",
       form_sized(0, cat({kComm, kSsnd})), 1, kSize + kBadFile, {}},
      {"fver_wrong_version",
       form(cat({chunk("FVER", be32(1)), kComm, kSsnd})), 1,
       "version = 1\nonly 2726318400 handled\n" + kBadFile, {}},
      {"fver_with_extra_bytes", form(cat({chunk("FVER", cat({be32(0xA2805140), text("xyz")})), kComm, kSsnd})),
       0, "", kWav},
      {"fver_body_past_end_of_file",
       form_sized(1000, cat({chunk_sized("FVER", 100, be32(0xA2805140))})), 1,
       "error with FVER chunk, bad size\n" + kBadFile, {}},
      {"comm_with_a_compression_name",
       form(cat({chunk("COMM", cat({comm_fields(1, 2, 16, rate80(8000), "sowt"), {3}, text("abc")})),
                 kSsnd})),
       0, "", kWav},
      {"comm_stored_size_below_its_fields",
       // Charged 8 + 18, so the container holds 26 + 20 chunk bytes while 50 are there;
       // the SSND header follows the 22 fixed bytes at once.
       form_sized(4 + 26 + 20, cat({chunk_sized("COMM", 18, comm_fields(1, 2, 16, rate80(8000), "sowt")),
                                    kSsnd})),
       0, "", kWav},
      {"fver_stored_size_below_its_stamp",
       form_sized(4 + 8 + 32 + 20, cat({chunk_sized("FVER", 0, be32(0xA2805140)), kComm, kSsnd})),
       0, "", kWav},
      {"ssnd_stored_size_below_its_fields",
       // SSND of stored size 4 is charged 12, and the next header follows its 8
       // fields at once; the sound data read later are that header's bytes.
       form_sized(4 + 32 + 12 + 8, cat({kComm, chunk_sized("SSND", 4, cat({be32(0), be32(0)})),
                                        chunk("NAME", {})})),
       0, "warning: unhandled chunk NAME (size=0)\n", cat({wav_header(1, 8000, 4), text("NAME")})},
      {"ssnd_data_offset_skips_bytes",
       form(cat({kComm, ssnd({9, 9, 9, 9, 1, 2, 3, 4}, 4)})), 0, "", kWav},
      {"frames_beyond_ssnd_convert_following_bytes",
       form(cat({comm(1, 4, "sowt"), kSsnd, chunk("NAME", {})})), 0,
       "warning: unhandled chunk NAME (size=0)\n",
       cat({wav_header(1, 8000, 8), {1, 2, 3, 4}, text("NAME")})},
      {"ssnd_truncated_sowt_stereo",
       form_sized(1000, cat({comm(2, 50, "sowt"), chunk_sized("SSND", 100, cat({be32(0), be32(0), repeat(7, 11)}))})),
       0, kTruncated, cat({wav_header(2, 8000, 8), repeat(7, 8)})},
      {"odd_ssnd_at_end_without_pad",
       cat({form_sized(4 + 32 + 22, kComm), text("SSND"), be32(13), be32(0), be32(0), {1, 2, 3, 4, 5}}),
       0, kTruncated, kWav},
      {"ssnd_truncated_before_comm",
       form_sized(1000, chunk_sized("SSND", 100, cat({be32(0), be32(0), {1, 2}}))), 1, kBadFile, {}},
      {"ssnd_truncated_ends_the_walk",
       // The truncated SSND swallows the bytes after it: the NAME chunk is never seen.
       // 12 bytes arrive (4 data bytes and the NAME header), so 6 frames.
       form_sized(1000, cat({kComm, chunk_sized("SSND", 100, cat({be32(0), be32(0), {1, 2, 3, 4}})), chunk("NAME", {})})),
       0, kTruncated, cat({wav_header(1, 8000, 12), {1, 2, 3, 4}, text("NAME"), {0, 0, 0, 0}})},
      {"truncated_ssnd_offset_past_data_is_refused",
       // available = 2 - 8 wraps to 0xFFFFFFFA: 1073741822 stereo frames.
       form_sized(1000, cat({comm(2, 1, "sowt"), chunk_sized("SSND", 100, cat({be32(8), be32(0), {1, 2}}))})), 1,
       kTruncated + "data size = 4294967288\nonly up to 4294967259 bytes of sound data handled\n" +
           kBadFile,
       {}},
  };
}

INSTANTIATE_TEST_SUITE_P(Files, Walk, ::testing::ValuesIn(Cases()), CaseName());

// Every prefix of a valid file: refused, with the shorter-file warning where
// the cut ends a chunk (12, 24, 56 bytes) and the COMM size error where it
// falls in the compression name (54, 55); from 72 bytes on, inside the sound
// data, converted with the truncation warning: one frame per 2 bytes. (So
// every fixed field cut short by the end of the file.)
TEST(WalkPrefixes, EveryCutOfTheMinimalFile) {
  const Bytes whole = form(cat({fver(), kComm, kSsnd}));
  for (std::size_t n = 0; n < whole.size(); ++n) {
    SCOPED_TRACE("prefix of " + std::to_string(n) + " bytes");
    const std::string err = n == 0 || n == 12 || n == 24 ? kShorter + kNoChunks
                            : n == 56                    ? kShorter + "no SSND chunk found\n"
                            : n == 54 || n == 55         ? "error with COMM chunk, bad size\n"
                                                         : "";
    const std::uint32_t data = n >= 72 ? (n - 72) / 2 * 2 : 0;
    const Bytes wav = cat({wav_header(1, 8000, data), Bytes(whole.begin() + 72, whole.begin() + 72 + data)});
    const Bytes prefix(whole.begin(), whole.begin() + static_cast<long>(n));
    expect_result(convert(prefix), {"", {}, n >= 72 ? 0 : 1, n >= 72 ? kTruncated : err + kBadFile, wav});
  }
}

}  // namespace
}  // namespace aifc_test
