// Fuzz target: a whole conversion of the input as a file, checking what must
// hold for every input. Status is 0 or 1; after 1 there is no output file;
// after 0 the output is the 44-byte header plus exactly the data size it
// announces, and the header agrees with a COMM chunk of the input. Then the
// input is converted again with each decoder the CPU has (scalar, vector),
// and every run must give the same status, messages and output.
//
// Built with -fsanitize=fuzzer it is a libFuzzer target; built without, its
// main replays the files named on the command line (regression inputs, and
// the seed corpus, whose names say which seeds convert and which are refused).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "aifc/aifc.h"
#include "codecs/decoder_paths.h"
#include "driver/run.h"

namespace {

namespace fs = std::filesystem;

// A private directory for the input, output and captured messages, removed at
// exit. Constructed before the exit handler is registered, so they outlive it.
std::string dir_path, in_path, out_path, err_path;

void remove_work_files() {
  std::error_code ec;
  fs::remove_all(fs::u8path(dir_path), ec);
}

void make_work_dir() {
  if (!dir_path.empty()) return;
  std::error_code ec;
  const fs::path base = fs::temp_directory_path(ec);
  std::random_device seed;
  std::mt19937_64 pick(seed());
  for (int attempt = 0; attempt < 100 && dir_path.empty(); ++attempt) {
    const fs::path dir = base / ("aifconv-fuzz." + std::to_string(pick() % 1000000000000u));
    if (fs::create_directory(dir, ec)) dir_path = dir.u8string();
  }
  if (dir_path.empty()) {
    std::fprintf(stderr, "cannot create a work directory in %s\n", base.u8string().c_str());
    std::abort();
  }
  in_path = dir_path + "/in.aifc";
  out_path = dir_path + "/out.wav";
  err_path = dir_path + "/stderr";
  std::atexit(remove_work_files);
}

[[noreturn]] void violated(const char* what) {
  std::fprintf(stderr, "invariant violated: %s\n", what);
  std::abort();
}

std::uint32_t le32(const std::uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint16_t le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

// Does the header match the COMM fields at `comm` (the 22 bytes after its
// chunk header)? The frame count may have been recomputed from a truncated
// SSND chunk, so the data size is checked against it only when not.
bool header_agrees(const std::uint8_t* h, const std::uint8_t* comm, bool truncated) {
  const unsigned channels = aifconv::get_be16(comm);
  const std::uint32_t frames = aifconv::get_be32(comm + 2);
  const aifconv::ExtendedRate rate = aifconv::extended_to_rate(comm + 8);
  // ima4 files may store 0 or 4 as their sample size; the output is 16-bit.
  const unsigned bits = aifconv::get_be16(comm + 6);
  const bool ima4 = std::memcmp(comm + 18, "ima4", 4) == 0;
  if (!(bits == 16 || (ima4 && (bits == 0 || bits == 4))) || (channels != 1 && channels != 2))
    return false;
  std::int32_t whole = 0;
  bool has_fraction = false;
  if (!aifconv::rate_in_range(rate) || !aifconv::rate_whole(rate, &whole, &has_fraction))
    return false;
  const std::uint32_t whole_rate = static_cast<std::uint32_t>(whole);
  std::uint64_t per_frame;
  if (std::memcmp(comm + 18, "ima4", 4) == 0)
    per_frame = 128;
  else if (std::memcmp(comm + 18, "sowt", 4) == 0 || std::memcmp(comm + 18, "SDX2", 4) == 0)
    per_frame = 2;
  else
    return false;
  const std::uint32_t data_size = le32(h + 40);
  if (!truncated && data_size != frames * per_frame * channels) return false;
  if (data_size % (per_frame * channels) != 0) return false;
  return le16(h + 22) == channels && le32(h + 24) == whole_rate &&
         le32(h + 28) == channels * whole_rate * 2 && le16(h + 32) == channels * 2;
}

void check_output(const std::uint8_t* data, std::size_t size, const std::vector<std::uint8_t>& out,
                  const std::string& err) {
  if (out.size() < 44) violated("output shorter than a header");
  const std::uint8_t* h = out.data();
  if (std::memcmp(h, "RIFF", 4) != 0 || std::memcmp(h + 8, "WAVEfmt ", 8) != 0 ||
      le32(h + 16) != 16 || le16(h + 20) != 1 || le16(h + 34) != 16 ||
      std::memcmp(h + 36, "data", 4) != 0)
    violated("fixed header fields");
  const std::uint32_t data_size = le32(h + 40);
  if (le32(h + 4) != data_size + 36) violated("RIFF size");
  if (out.size() != 44 + static_cast<std::uint64_t>(data_size)) violated("output size");
  const bool truncated = err.find("warning - bad size in SSND") != std::string::npos;
  for (std::size_t at = 12; at + 30 <= size; ++at)
    if (std::memcmp(data + at, "COMM", 4) == 0 && header_agrees(h, data + at + 8, truncated)) return;
  violated("header agrees with no COMM chunk of the input");
}

// What one conversion of the work input showed: status, messages, output.
struct Outcome {
  int status = -1;
  std::string messages;
  bool exists = false;
  std::vector<std::uint8_t> output;
};

// Convert the work input with decoder `path` (-1: the preferred one).
Outcome convert(int path) {
  std::FILE* err = std::fopen(err_path.c_str(), "w+b");
  if (!err) violated("cannot open the file for messages");
  const char* argv[] = {"aifconv", in_path.c_str(), out_path.c_str(), nullptr};
  aifconv::Hooks hooks;
  hooks.decoder_path = path;
  Outcome o;
  o.status = aifconv::run(3, argv, err, hooks);
  std::rewind(err);
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, err)) > 0) o.messages.append(buf, n);
  std::fclose(err);
  std::error_code ec;
  o.exists = fs::exists(fs::u8path(out_path), ec);
  if (o.exists) {
    o.output.resize(static_cast<std::size_t>(fs::file_size(fs::u8path(out_path), ec)));
    std::FILE* f = std::fopen(out_path.c_str(), "rb");
    if (!f || std::fread(o.output.data(), 1, o.output.size(), f) != o.output.size()) violated("reading output");
    std::fclose(f);
    std::remove(out_path.c_str());
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
  make_work_dir();
  std::FILE* f = std::fopen(in_path.c_str(), "wb");
  if (!f) return 0;
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);

  const Outcome o = convert(-1);
  if (o.status != 0 && o.status != 1) violated("status other than 0 or 1");
  if (o.status == 1 && o.exists) violated("output left behind after a failure");
  if (o.status == 0) {
    if (!o.exists) violated("no output after success");
    check_output(data, size, o.output, o.messages);
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
std::size_t replay_file(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    std::perror(path.c_str());
    std::exit(1);
  }
  std::vector<std::uint8_t> bytes;
  std::uint8_t buf[65536];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
  std::fclose(f);
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  // Seeds named "ok-..." must convert, "refused-..." must not.
  const std::string name = fs::u8path(path).filename().u8string();
  const int expected = name.rfind("ok-", 0) == 0 ? 0 : name.rfind("refused-", 0) == 0 ? 1 : -1;
  if (expected >= 0 && last_status != expected) {
    std::fprintf(stderr, "%s: status %d, expected %d\n", path.c_str(), last_status, expected);
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
      for (const fs::directory_entry& e : fs::directory_iterator(argv[i], ec)) {
        const std::string name = e.path().filename().u8string();
        if (name[0] != '.') count += replay_file(e.path().u8string());
      }
    } else {
      count += replay_file(argv[i]);
    }
  }
  std::printf("%zu inputs replayed\n", count);
  return count > 0 ? 0 : 1;
}
#endif
