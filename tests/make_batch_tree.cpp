// Writes an archive tree for the batch recipes: nested folders, names that
// break careless scripts (spaces, quotes, a newline, a leading dash, letters
// outside ASCII, x.aif beside x.aifc), files of all three encodings, a few
// the converter refuses or warns about, and a Mac's leftovers.
//
// Usage: make_batch_tree DIR [COUNT]
//   COUNT plain sound files (default 300) are spread over the folders, on top
//   of the fixed set of odd names and refused files. DIR must not exist yet
//   or be empty. The same arguments always give the same bytes.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>

#include "tests/aifc_builder.h"

using namespace aifc_test;

namespace {

std::uint32_t lcg_state = 12345;

// The next pseudo-random byte of a fixed sequence.
std::uint8_t next_byte() {
  lcg_state = lcg_state * 1103515245u + 12345u;
  return static_cast<std::uint8_t>(lcg_state >> 16);
}

// A valid file of the given encoding, channel count and frame count, with
// random sound data (ima4 packet headers hold a step index of 0..88).
Bytes sound(const std::string& type, std::uint16_t channels, std::uint32_t frames) {
  const std::size_t frame_bytes = type == "ima4" ? 34u * channels : type == "sowt" ? 2u * channels : channels;
  Bytes data(frame_bytes * frames);
  for (std::uint8_t& b : data) b = next_byte();
  if (type == "ima4")
    for (std::size_t p = 0; p < data.size(); p += 34) data[p + 1] = static_cast<std::uint8_t>((data[p + 1] & 0x80) | data[p + 1] % 89);
  return aifc(channels, frames, type, data, rate80(type == "sowt" ? 44100 : 22050));
}

// The index-th file of the plain set: the encodings, mono and stereo, and
// sizes from a few hundred bytes to a few kilobytes, in turn.
Bytes plain_file(int index) {
  static const char* const types[] = {"sowt", "ima4", "SDX2"};
  const std::string type = types[index % 3];
  const std::uint16_t channels = static_cast<std::uint16_t>(1 + index / 3 % 2);
  const std::uint32_t frames = type == "ima4" ? 2 + index % 29 : 100 + 97u * (index % 23);
  return sound(type, channels, frames);
}

// Creates a folder and any missing parents (mkdir -p).
void make_dir(const std::string& path) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
    mkdir(path.substr(0, slash).c_str(), 0777);
  if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
    std::perror(path.c_str());
    std::exit(1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s DIR [COUNT]\n", argv[0]);
    return 2;
  }
  const std::string root = argv[1];
  const int count = argc > 2 ? std::atoi(argv[2]) : 300;
  make_dir(root);

  // Folders, nested, some with odd names themselves.
  const char* const dirs[] = {"",
                              "music/",
                              "music/disc 1/",
                              "music/disc 1/it's \"here\"/",
                              "-dashed/",
                              "\303\234bersicht/",  // Ü
                              "deep/a/b/c/d/"};
  for (const char* d : dirs)
    if (*d) make_dir(root + "/" + std::string(d, std::char_traits<char>::length(d) - 1));

  // The plain set, spread over the folders.
  const int ndirs = sizeof dirs / sizeof dirs[0];
  for (int i = 0; i < count; ++i) {
    char name[48];
    static const char* const exts[] = {".aifc", ".aiff", ".AIFC", ".aif"};
    std::snprintf(name, sizeof name, "sound %04d%s", i, exts[i % 4]);
    write_file(root + "/" + dirs[i % ndirs] + name, plain_file(i));
  }

  // Odd names, each a valid file.
  const char* const odd[] = {"with space.aifc",
                             "it's \"quoted\" $HOME `x` \\back.aifc",
                             "new\nline.aifc",
                             "-leading dash.aifc",
                             "--help.aifc",
                             "\xc3\xa9t\xc3\xa9 \xe2\x99\xaa \xe6\x97\xa5\xe6\x9c\xac.aifc",
                             "tab\there.aiff",
                             "star *.aifc",
                             "x.aif",
                             "x.aifc",
                             "music/disc 1/it's \"here\"/x.aif",
                             "music/disc 1/it's \"here\"/x.aifc",
                             "-dashed/-x.aifc"};
  int n = 0;
  for (const char* name : odd) write_file(root + "/" + name, plain_file(1000 + n++));

  // Converted, with a warning: an unhandled chunk before the sound data.
  write_file(root + "/music/with a warning.aifc",
             form(cat({fver(), comm(1, 4, "sowt"), chunk("ANNO", text("liner notes")),
                       ssnd(repeat(7, 8))})));

  // Refused: text named like a sound file, a plain AIFF, a cut-short file,
  // an unknown encoding, an empty file.
  write_file(root + "/notes.aifc", text("track list\n1. intro\n"));
  Bytes plain_aiff = form(cat({comm(1, 4, "NONE"), ssnd(repeat(0, 8))}));
  plain_aiff[11] = 'F';  // form type AIFF
  write_file(root + "/music/old plain.aiff", plain_aiff);
  Bytes cut = sound("SDX2", 2, 500);
  cut.resize(cut.size() / 2);
  write_file(root + "/music/disc 1/cut short.aifc", cut);
  write_file(root + "/\303\234bersicht/strange codec.aifc", aifc(1, 4, "ulaw", repeat(0, 4)));
  write_file(root + "/deep/a/b/empty.aifc", Bytes());
  Bytes cut_named = sound("SDX2", 1, 300);
  cut_named.resize(cut_named.size() - 100);
  write_file(root + "/new\nline refused.aifc", cut_named);

  // Not sound files by name: left alone by every recipe.
  write_file(root + "/readme.txt", text("not a sound file\n"));
  write_file(root + "/music/cover.jpg", repeat(0xFF, 64));

  // What a Mac leaves, named like sound files: AppleDouble files (the
  // Finder's data of x.aif, beside it) and a ZIP's __MACOSX folder, whose
  // x.aifc here is even a sound file. Left out by every recipe.
  Bytes apple_double = cat({Bytes{0, 5, 0x16, 7, 0, 2, 0, 0}, repeat(0, 16), Bytes{0, 0}});
  write_file(root + "/._x.aif", apple_double);
  write_file(root + "/._x.aifc", apple_double);
  make_dir(root + "/__MACOSX/music");
  write_file(root + "/__MACOSX/music/._with a warning.aifc", apple_double);
  write_file(root + "/__MACOSX/x.aifc", plain_file(2000));
  write_file(root + "/music/.DS_Store", repeat(0, 64));
  return 0;
}
