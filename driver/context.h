// The run context that every stage of a conversion shares, the input and
// output it reads and writes through, and the failure exits by which a run
// ends. Every subsystem depends on this header, and on nothing of the run
// order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace aifconv {

// Returned by a stage that finished its work without ending the run; every
// other return value of a stage is the exit status of the exit it took.
constexpr int kContinue = -1;

// Replacements for system services, so that tests can make them fail. Null
// members mean the real service; every hook is handed `context`.
struct Hooks {
  void* context = nullptr;
  // Allocation of the SDX2 decoder state.
  void* (*allocate)(void* context, std::size_t n) = nullptr;
  // A read of up to n input bytes starting at file position `position`:
  // returns how many arrived, 0 at end of file, or -1 with errno set.
  std::ptrdiff_t (*read)(void* context, int fd, std::uint64_t position, std::uint8_t* buf,
                         std::size_t n) = nullptr;
  // The close of the output: false with errno set when it fails (a write
  // error that a file system reports only then).
  bool (*close_output)(void* context, int fd) = nullptr;
  // The decoder the data pass uses, as an index into the lists of
  // codecs/decoder_paths.h; -1 means the preferred one.
  int decoder_path = -1;
  // Told the name of the decoder the data pass runs, before its first block.
  void (*decoder_used)(void* context, const char* name) = nullptr;
};

// The input: a descriptor with a small read-ahead buffer, and end-of-file and
// error indicators that stay set once set, as a stream's do.
struct Input {
  int fd = -1;
  std::uint8_t* buf = nullptr;  // read-ahead; bytes [pos, end) not yet taken
  std::size_t pos = 0;
  std::size_t end = 0;
  std::uint64_t next = 0;  // file position of the byte after buf[end - 1]
  bool at_end = false;     // a read found the end of the file
  bool failed = false;     // a read failed; `error` holds its errno
  int error = 0;
  // A regular file whose size reads above 0: its bodies are passed over with
  // seeks, and the bytes it holds counted from `size`. Anything else is read
  // through, a file whose size reads 0 but holds data (under /proc or /sys)
  // included.
  bool sized = false;
  std::uint64_t size = 0;
};

// Everything one run owns: the command line, its files and where messages go.
struct Context {
  const char* program = "aifconv";  // invocation word, for the usage line
  const char* input_path = nullptr;
  const char* output_path = nullptr;
  Input in;
  int out = -1;
  std::FILE* err = stderr;   // every message of the run goes here
  Hooks hooks;
};

// The failure exits. Each closes both files, removes the output when it is a
// regular file, and returns status 1.
// fail_bad_file: "<input>: bad sound file, can't load" and the contact line.
int fail_bad_file(Context& ctx);
// fail_output: the system error for the output path.
int fail_output(Context& ctx);
// close_and_remove: no message (the caller printed its own).
int close_and_remove(Context& ctx);
// The success exit: close both files; an output that cannot be closed (a
// delayed write error) is a failed run. Returns 0, or 1 after that failure.
int finish_success(Context& ctx);

// Print "<what>: <system error>" for the current errno, as perror does.
void report_errno(Context& ctx, const char* what);
// The system error of the input's failed read, for the input path.
void report_input_error(Context& ctx);
// Report a short read of sample data: the system error for the input path, or
// "<input>: unexpected end of file" when the input simply ended.
void report_read_error_or_end(Context& ctx);

// Read up to n bytes from the input; returns how many arrived (fewer only at
// end of file or on a read error, which input_failed then tells).
std::size_t read_input(Context& ctx, std::uint8_t* buf, std::size_t n);
// Pass over n bytes of input, adding to *counted every byte that the input
// holds there. A regular file is passed over with a seek, anything else is
// read. False when the input ended or failed first.
bool skip_input(Context& ctx, std::uint32_t n, std::uint32_t* counted);
// Position the input at an absolute offset; false with errno set on failure.
bool seek_input(Context& ctx, std::uint64_t position);
// The offset of the next byte read_input returns.
std::uint64_t input_position(const Context& ctx);
// True once a read of the input has failed (not merely ended).
inline bool input_failed(const Context& ctx) { return ctx.in.failed; }
// Write n bytes to the output; false (errno set) when not all were written.
bool write_output(Context& ctx, const std::uint8_t* buf, std::size_t n);

// The maintainer's address, printed where the converter asks for samples of
// files it cannot handle.
extern const char kContactAddress[];

}  // namespace aifconv
