// Test helper: assembles AIFF-C files chunk by chunk, runs whole conversions
// in-process, and captures what a user would see: standard error, the exit
// status, and the output file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "driver/context.h"

namespace aifc_test {

using Bytes = std::vector<std::uint8_t>;

Bytes be16(std::uint16_t v);
Bytes be32(std::uint32_t v);
Bytes le16(std::uint16_t v);
Bytes le32(std::uint32_t v);
// Four identifier bytes, or a string's bytes as they are.
Bytes text(const std::string& s);
Bytes cat(std::initializer_list<Bytes> parts);
Bytes repeat(std::uint8_t byte, std::size_t n);

// A chunk with the body's own size, plus the pad byte when the size is odd.
Bytes chunk(const std::string& id, const Bytes& body);
// A chunk with any stored size; the body is written as given, with no pad.
Bytes chunk_sized(const std::string& id, std::uint32_t stored_size, const Bytes& body);
// "FORM" <size> "AIFC" <chunks>, the size counting the form type and chunks.
Bytes form(const Bytes& chunks);
Bytes form_sized(std::uint32_t stored_size, const Bytes& chunks);

// 80-bit extended rate bytes of a whole number of hertz (0 gives all zeros).
Bytes rate80(std::uint32_t hz);
// The 22 fixed COMM bytes.
Bytes comm_fields(std::uint16_t channels, std::uint32_t frames, std::uint16_t bits,
                  const Bytes& rate, const std::string& type);
// A COMM chunk with an empty compression name (00 00: count and pad).
Bytes comm(std::uint16_t channels, std::uint32_t frames, const std::string& type,
           const Bytes& rate = rate80(8000), std::uint16_t bits = 16);
Bytes fver();
Bytes ssnd(const Bytes& data, std::uint32_t offset = 0);
// FORM/AIFC holding FVER, COMM and SSND.
Bytes aifc(std::uint16_t channels, std::uint32_t frames, const std::string& type,
           const Bytes& data, const Bytes& rate = rate80(8000));

// The 44-byte header the converter writes for 16-bit PCM.
Bytes wav_header(std::uint16_t channels, std::uint32_t rate, std::uint32_t data_size);
// 16-bit little-endian bytes of the given samples.
Bytes pcm(const std::vector<int>& samples);

// The 64-bit FNV-1a hash of the bytes.
std::uint64_t fnv1a(const Bytes& bytes);

// The signal of the sample files in examples/: sample i of a 440 Hz tone at
// 8000 Hz, amplitude 12000, the right channel (1) 1.5 radians ahead.
int example_tone(int i, int channel);

// "IN: bad sound file..." and the contact line, as fail_bad_file prints them.
extern const std::string kBadFile;

struct Result {
  int status = -1;
  std::string err;  // standard error, with the paths written as IN and OUT
  bool output_exists = false;
  Bytes output;
};

// A temporary directory removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string path(const std::string& name) const { return dir_ + "/" + name; }

 private:
  std::string dir_;
};

// Paths are UTF-8 strings on every host.
Bytes read_file(const std::string& path);
std::string read_text(const std::string& path);
void write_file(const std::string& path, const Bytes& bytes);
// True when anything is there, a dangling symbolic link included.
bool exists(const std::string& path);
bool is_regular_file(const std::string& path);

// The words that start one of the project's programs: the program's path,
// behind the emulator a cross build runs it with; for exec, or joined by
// spaces as a shell command line.
std::vector<std::string> program_argv(const std::string& program);
std::string program_command(const std::string& program);
// True when the programs run under an emulator (qemu-user on a cross build),
// whose signal delivery is not quite the kernel's.
bool under_emulator();
// The exit status of a finished std::system or pclose, or -1 when the
// command did not exit normally (killed by a signal, say).
int exit_status(int wait_status);

// Run the converter in-process on any command line; returns what it printed.
std::string run_argv(const std::vector<const char*>& argv, int* status,
                     const aifconv::Hooks& hooks = aifconv::Hooks());
// Run the converter in-process on an input and output path of the caller's.
Result run_paths(const std::string& input, const std::string& output,
                 const aifconv::Hooks& hooks = aifconv::Hooks());
// Write `input` to a fresh file and convert it to a fresh output path.
Result convert(const Bytes& input, const aifconv::Hooks& hooks = aifconv::Hooks());

}  // namespace aifc_test
