// Fuzz target: a whole conversion of the input as a file, checking what must
// hold for every input. A failure prints a message and leaves no output
// file; a success leaves a well-formed 16-bit PCM WAV file: its fixed fields,
// sizes that agree with each other and with the file, whole frames, and a
// byte rate and block alignment that follow from a channel count and rate
// the converter accepts. Then the input is converted again with each decoder
// the CPU has (scalar, vector), and every run must give the same status,
// messages and output.
//
// Which header a given COMM chunk must give is not checked here: that would
// be the COMM parser written a second time, sharing its faults. The tests
// check it on fixed answers.
//
// Built with -fsanitize=fuzzer it is a libFuzzer target; built without, its
// main replays the files named on the command line (regression inputs, and
// the seed corpus, whose names say which seeds convert and which are refused).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "codecs/decoder_paths.h"
#include "driver/run.h"
#include "tests/aifc_builder.h"

namespace {

using aifc_test::Bytes;

[[noreturn]] void violated(const char* what) {
  std::fprintf(stderr, "invariant violated: %s\n", what);
  std::abort();
}

std::uint32_t le32(const std::uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint16_t le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

void check_output(const Bytes& out) {
  if (out.size() < 44) violated("output shorter than a header");
  const std::uint8_t* h = out.data();
  if (std::memcmp(h, "RIFF", 4) != 0 || std::memcmp(h + 8, "WAVEfmt ", 8) != 0 ||
      le32(h + 16) != 16 || le16(h + 20) != 1 || le16(h + 34) != 16 ||
      std::memcmp(h + 36, "data", 4) != 0)
    violated("fixed header fields");
  const std::uint32_t data_size = le32(h + 40);
  if (le32(h + 4) != data_size + 36) violated("RIFF size");
  if (out.size() != 44 + static_cast<std::uint64_t>(data_size)) violated("output size");
  const unsigned channels = le16(h + 22);
  const std::uint32_t rate = le32(h + 24);
  if (channels != 1 && channels != 2) violated("channel count");
  if (rate < 1 || rate >= 10000000) violated("rate");
  if (le32(h + 28) != rate * channels * 2 || le16(h + 32) != channels * 2) violated("byte rate or alignment");
  if (data_size % (channels * 2) != 0) violated("data size of part of a frame");
}

// The input, output and messages live in one directory for the whole run.
const aifc_test::TempDir& work() {
  static const aifc_test::TempDir dir;
  return dir;
}

// What one conversion of the work input showed: status, messages, output.
struct Outcome {
  int status = -1;
  std::string messages;
  bool exists = false;
  Bytes output;
};

// Convert the work input with decoder `path` (-1: the preferred one).
Outcome convert(int path) {
  const std::string in = work().path("in.aifc"), out = work().path("out.wav");
  aifconv::Hooks hooks;
  hooks.decoder_path = path;
  Outcome o;
  o.messages = aifc_test::run_argv({"aifconv", in.c_str(), out.c_str()}, &o.status, hooks);
  o.exists = aifc_test::exists(out);
  if (o.exists) {
    o.output = aifc_test::read_file(out);
    std::remove(out.c_str());
  }
  return o;
}

// The most decoder paths of either codec that the running CPU has.
int decoder_path_count() {
  aifconv::DecoderPath<aifconv::Ima4Decoder> ima4[aifconv::kMaxDecoderPaths];
  aifconv::DecoderPath<aifconv::Sdx2Decoder> sdx2[aifconv::kMaxDecoderPaths];
  const std::size_t n = aifconv::ima4_paths(ima4), m = aifconv::sdx2_paths(sdx2);
  return static_cast<int>(n > m ? n : m);
}

// The status of the last input, for the replay's checks.
int last_status = -1;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  aifc_test::write_file(work().path("in.aifc"), Bytes(data, data + size));
  const Outcome o = convert(-1);
  if (o.status != 0) {
    if (o.exists) violated("output left behind after a failure");
    if (o.messages.empty()) violated("failure without a message");
  } else {
    if (!o.exists) violated("no output after success");
    check_output(o.output);
  }
  // Every decoder the CPU has gives the very same run.
  static const int paths = decoder_path_count();
  for (int path = 0; path < paths; ++path) {
    const Outcome p = convert(path);
    if (p.status != o.status || p.messages != o.messages || p.exists != o.exists || p.output != o.output)
      violated("decoder paths differ");
  }
  last_status = o.status;
  return 0;
}

#ifndef AIFCONV_LIBFUZZER
namespace {
namespace fs = std::filesystem;

std::size_t replay_file(const fs::path& path) {
  const Bytes bytes = aifc_test::read_file(path.u8string());
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  // Seeds named "ok-..." must convert, "refused-..." must not.
  const std::string name = path.filename().u8string();
  const int expected = name.rfind("ok-", 0) == 0 ? 0 : name.rfind("refused-", 0) == 0 ? 1 : -1;
  if (expected >= 0 && last_status != expected) {
    std::fprintf(stderr, "%s: status %d, expected %d\n", path.u8string().c_str(), last_status, expected);
    std::exit(1);
  }
  return 1;
}
}  // namespace

// Replay: run every file named on the command line, or found in a directory
// named there, through the target.
int main(int argc, char** argv) {
  std::size_t count = 0;
  for (int i = 1; i < argc; ++i) {
    std::error_code ec;
    if (fs::is_directory(argv[i], ec)) {
      for (const fs::directory_entry& e : fs::directory_iterator(argv[i], ec))
        if (e.path().filename().u8string()[0] != '.') count += replay_file(e.path());
    } else if (fs::exists(argv[i], ec)) {
      count += replay_file(argv[i]);
    } else {
      std::fprintf(stderr, "%s: no such file\n", argv[i]);
      return 1;
    }
  }
  std::printf("%zu inputs replayed\n", count);
  return count > 0 ? 0 : 1;
}
#endif
