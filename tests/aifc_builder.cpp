#include "tests/aifc_builder.h"

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <system_error>

#include "driver/run.h"

namespace aifc_test {

const std::string kBadFile =
    "IN: bad sound file, can't load\n"
    "contact " AIFCONV_CONTACT " to add support for your file\n";

Bytes be16(std::uint16_t v) { return {static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)}; }
Bytes be32(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
          static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
}
Bytes le16(std::uint16_t v) { return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)}; }
Bytes le32(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
          static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}
Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
Bytes repeat(std::uint8_t byte, std::size_t n) { return Bytes(n, byte); }

Bytes chunk_sized(const std::string& id, std::uint32_t stored_size, const Bytes& body) {
  return cat({text(id), be32(stored_size), body});
}
Bytes chunk(const std::string& id, const Bytes& body) {
  Bytes c = chunk_sized(id, static_cast<std::uint32_t>(body.size()), body);
  if (body.size() % 2) c.push_back(0);
  return c;
}
Bytes form_sized(std::uint32_t stored_size, const Bytes& chunks) {
  return cat({text("FORM"), be32(stored_size), text("AIFC"), chunks});
}
Bytes form(const Bytes& chunks) {
  return form_sized(static_cast<std::uint32_t>(4 + chunks.size()), chunks);
}

Bytes rate80(std::uint32_t hz) {
  if (hz == 0) return Bytes(10, 0);
  int top = 31;
  while (!(hz >> top & 1)) --top;
  const std::uint32_t exponent = 16383 + static_cast<std::uint32_t>(top);
  const std::uint32_t mantissa_hi = hz << (31 - top);  // integer bit at bit 31
  return cat({be16(static_cast<std::uint16_t>(exponent)), be32(mantissa_hi), be32(0)});
}

Bytes comm_fields(std::uint16_t channels, std::uint32_t frames, std::uint16_t bits,
                  const Bytes& rate, const std::string& type) {
  return cat({be16(channels), be32(frames), be16(bits), rate, text(type)});
}
Bytes comm(std::uint16_t channels, std::uint32_t frames, const std::string& type,
           const Bytes& rate, std::uint16_t bits) {
  return chunk("COMM", cat({comm_fields(channels, frames, bits, rate, type), {0, 0}}));
}
Bytes fver() { return chunk("FVER", be32(0xA2805140u)); }
Bytes ssnd(const Bytes& data, std::uint32_t offset) {
  return chunk("SSND", cat({be32(offset), be32(0), data}));
}
Bytes aifc(std::uint16_t channels, std::uint32_t frames, const std::string& type,
           const Bytes& data, const Bytes& rate) {
  return form(cat({fver(), comm(channels, frames, type, rate), ssnd(data)}));
}

Bytes wav_header(std::uint16_t channels, std::uint32_t rate, std::uint32_t data_size) {
  return cat({text("RIFF"), le32(data_size + 36), text("WAVEfmt "), le32(16), le16(1),
              le16(channels), le32(rate), le32(rate * channels * 2),
              le16(static_cast<std::uint16_t>(channels * 2)), le16(16), text("data"),
              le32(data_size)});
}

Bytes pcm(const std::vector<int>& samples) {
  Bytes out;
  for (int s : samples) {
    const Bytes b = le16(static_cast<std::uint16_t>(s));
    out.insert(out.end(), b.begin(), b.end());
  }
  return out;
}

std::uint64_t fnv1a(const Bytes& bytes) {
  std::uint64_t hash = 14695981039346656037u;
  for (std::uint8_t b : bytes) hash = (hash ^ b) * 1099511628211u;
  return hash;
}

int example_tone(int i, int channel) {
  const double pi = 3.14159265358979323846;
  return static_cast<int>(std::lround(12000.0 * std::sin(2 * pi * 440.0 * i / 8000 + (channel ? 1.5 : 0))));
}

namespace fs = std::filesystem;

namespace {

// Opens a file named by a UTF-8 path, as the converter names its files.
std::FILE* open_file(const std::string& path, const char* mode) {
#ifdef _WIN32
  const std::wstring wide_mode(mode, mode + std::char_traits<char>::length(mode));
  return _wfopen(fs::u8path(path).c_str(), wide_mode.c_str());
#else
  return std::fopen(path.c_str(), mode);
#endif
}

}  // namespace

TempDir::TempDir() {
  std::error_code ec;
  const fs::path base = fs::temp_directory_path(ec);
  if (ec) throw std::runtime_error("no temporary directory: " + ec.message());
  std::random_device seed;
  std::mt19937_64 pick(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path dir = base / ("aifconv-test." + std::to_string(pick() % 1000000000000u));
    if (fs::create_directory(dir, ec)) {
      dir_ = dir.u8string();
      return;
    }
  }
  throw std::runtime_error("cannot create a directory in " + base.u8string());
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(fs::u8path(dir_), ec);
  if (ec) std::fprintf(stderr, "could not remove %s: %s\n", dir_.c_str(), ec.message().c_str());
}

Bytes read_file(const std::string& path) {
  Bytes out;
  std::FILE* f = open_file(path, "rb");
  if (!f) return out;
  std::uint8_t buf[65536];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
  std::fclose(f);
  return out;
}

std::string read_text(const std::string& path) {
  const Bytes b = read_file(path);
  return std::string(b.begin(), b.end());
}

void write_file(const std::string& path, const Bytes& bytes) {
  std::FILE* f = open_file(path, "wb");
  if (!f) throw std::runtime_error("cannot create " + path);
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

bool exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(fs::u8path(path), ec));
}

bool is_regular_file(const std::string& path) {
  std::error_code ec;
  return fs::is_regular_file(fs::u8path(path), ec);
}

std::vector<std::string> program_argv(const std::string& program) {
  std::vector<std::string> words;
#ifdef AIFCONV_EMULATOR
  const std::string emulator = AIFCONV_EMULATOR;
  for (std::size_t at = 0, end; at < emulator.size(); at = end + 1) {
    end = emulator.find(' ', at);
    if (end == std::string::npos) end = emulator.size();
    if (end > at) words.push_back(emulator.substr(at, end - at));
  }
#endif
  words.push_back(program);
  return words;
}

bool under_emulator() {
#ifdef AIFCONV_EMULATOR
  return true;
#else
  return false;
#endif
}

std::string program_command(const std::string& program) {
  std::string command;
  for (const std::string& word : program_argv(program)) command += (command.empty() ? "" : " ") + word;
  return command;
}

int exit_status(int wait_status) {
#ifdef _WIN32
  return wait_status;  // the exit code itself
#else
  return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
#endif
}

namespace {

void replace_all(std::string& s, const std::string& from, const std::string& to) {
  if (from.empty()) return;
  for (std::size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
    s.replace(at, from.size(), to);
}

// When AIFCONV_SAVE_INPUTS names a directory, every regular input file a test
// converts is copied there under a name made of its size and its 64-bit
// FNV-1a hash, so that another build of the converter can be checked on the
// very same files. Files over 16 MiB are left out: those are sparse files of
// gigabytes, made to test large offsets, which a copy would fill in.
void save_input(const std::string& input) {
  const char* dir = std::getenv("AIFCONV_SAVE_INPUTS");
  if (!dir || !*dir || !is_regular_file(input)) return;
  std::error_code ec;
  const std::uintmax_t size = fs::file_size(fs::u8path(input), ec);
  if (ec || size > (std::uintmax_t{1} << 24)) return;
  const Bytes bytes = read_file(input);
  char name[64];
  std::snprintf(name, sizeof name, "%zu-%016llx.aifc", bytes.size(),
                static_cast<unsigned long long>(fnv1a(bytes)));
  const std::string path = std::string(dir) + "/" + name;
  if (!exists(path)) write_file(path, bytes);
}

}  // namespace

std::string run_argv(const std::vector<const char*>& argv, int* status,
                     const aifconv::Hooks& hooks) {
  // Standard error goes to a file of its own, read back once the run is over,
  // in one directory for the whole process.
  static const TempDir capture;
  const std::string path = capture.path("stderr");
  std::FILE* err = open_file(path, "wb");
  if (!err) throw std::runtime_error("cannot create " + path);
  *status = aifconv::run(static_cast<int>(argv.size()), argv.data(), err, hooks);
  std::fclose(err);
  return read_text(path);
}

Result run_paths(const std::string& input, const std::string& output,
                 const aifconv::Hooks& hooks) {
  save_input(input);
  Result r;
  r.err = run_argv({"aifconv", input.c_str(), output.c_str()}, &r.status, hooks);
  // Output path first: in these tests it is never a prefix of the input path.
  replace_all(r.err, output, "OUT");
  replace_all(r.err, input, "IN");
  r.output_exists = exists(output);
  if (is_regular_file(output)) r.output = read_file(output);
  return r;
}

Result convert(const Bytes& input, const aifconv::Hooks& hooks) {
  TempDir dir;
  write_file(dir.path("in.aifc"), input);
  return run_paths(dir.path("in.aifc"), dir.path("out.wav"), hooks);
}

}  // namespace aifc_test
