// Writes the fuzzer's seed corpus into the directory given: valid files of
// every codec, mono and stereo, and a few broken ones. A seed's name says
// whether it converts ("ok-") or is refused ("refused-"), which the replay
// of the corpus checks.
#include <string>

#include "tests/aifc_builder.h"

using namespace aifc_test;

int main(int argc, char** argv) {
  if (argc != 2) return 1;
  const std::string dir = argv[1];
  const Bytes ima4_packet = cat({{0x12, 0x25}, repeat(0x3C, 16), repeat(0xA7, 16)});
  const Bytes sdx2_codes = {0x00, 0x7F, 0x81, 0x03, 0xFE, 0x05, 0x80, 0x01};
  const struct {
    const char* name;
    Bytes bytes;
  } seeds[] = {
      {"ok-sowt-mono", aifc(1, 4, "sowt", {1, 2, 3, 4, 5, 6, 7, 8})},
      {"ok-sowt-stereo", aifc(2, 2, "sowt", {1, 2, 3, 4, 5, 6, 7, 8})},
      {"ok-ima4-mono", aifc(1, 2, "ima4", cat({ima4_packet, ima4_packet}))},
      {"ok-ima4-stereo", aifc(2, 1, "ima4", cat({ima4_packet, ima4_packet}))},
      {"ok-sdx2-mono", aifc(1, 8, "SDX2", sdx2_codes)},
      {"ok-sdx2-stereo", aifc(2, 4, "SDX2", sdx2_codes, rate80(22050))},
      {"ok-fractional-rate",
       aifc(1, 2, "sowt", {1, 2, 3, 4}, {0x40, 0x0D, 0xAD, 0xDD, 0x17, 0x45, 0xD1, 0x74, 0x5D, 0x17})},
      {"ok-unhandled-and-name",
       form(cat({chunk("NAME", text("abc")), chunk("COMM", cat({comm_fields(1, 2, 16, rate80(8000), "sowt"),
                                                                 {3}, text("abc")})),
                 ssnd({9, 9, 1, 2, 3, 4}, 2)}))},
      {"ok-truncated-ssnd",
       form_sized(1000, cat({comm(2, 9, "ima4"), chunk_sized("SSND", 900, cat({be32(0), be32(0), ima4_packet}))}))},
      {"refused-truncated-sdx2", form_sized(1000, cat({comm(1, 9, "SDX2"), chunk_sized("SSND", 900, be32(0))}))},
      {"refused-short-container", form_sized(20, cat({comm(1, 2, "sowt"), ssnd({1, 2, 3, 4})}))},
      {"refused-bad-version", form(cat({chunk("FVER", be32(1)), comm(1, 2, "sowt"), ssnd({1, 2, 3, 4})}))},
      {"refused-three-channels", aifc(3, 2, "sowt", repeat(0, 12))},
      {"refused-plain-aiff", cat({text("FORM"), be32(4), text("AIFF")})},
  };
  // Written and read back: a seed that did not land is a failure.
  int failures = 0;
  for (const auto& s : seeds) {
    write_file(dir + "/" + s.name, s.bytes);
    if (read_file(dir + "/" + s.name) != s.bytes) ++failures;
  }
  return failures == 0 ? 0 : 1;
}
