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
// members mean the real service.
struct Hooks {
  // Allocation of the SDX2 decoder state.
  void* (*allocate)(std::size_t) = nullptr;
  // A read of up to n input bytes starting at file position `position`:
  // returns how many arrived, 0 at end of file, or -1 with errno set.
  std::ptrdiff_t (*read)(int fd, std::uint64_t position, std::uint8_t* buf, std::size_t n) = nullptr;
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
  bool regular = false;    // a regular file of `size` bytes: skips can seek
  std::uint64_t size = 0;
};

// Everything one run owns: the command line, its files and where messages go.
struct Run {
  const char* program = "aifconv";  // invocation word, for the usage line
  const char* input_path = nullptr;
  const char* output_path = nullptr;
  Input in;
  int out = -1;
  bool out_regular = false;  // only a regular file is removed by a failure
  std::FILE* err = stderr;   // every message of the run goes here
  Hooks hooks;
  std::size_t last_block = 0;  // size of the data pass's previous block
};

// The failure exits. Each closes both files, removes the output when it is a
// regular file, and returns status 1.
// fail_bad_file: "<input>: bad sound file, can't load" and the contact line.
int fail_bad_file(Run& run);
// fail_output: the system error for the output path.
int fail_output(Run& run);
// close_and_remove: no message (the caller printed its own).
int close_and_remove(Run& run);
// The success exit: close both files; an output that cannot be closed (a
// delayed write error) is a failed run. Returns 0, or 1 after that failure.
int finish_success(Run& run);

// Print "<what>: <system error>" for the current errno, as perror does.
void report_errno(Run& run, const char* what);
// The system error of the input's failed read, for the input path.
void report_input_error(Run& run);
// Report a short read of sample data: the system error for the input path, or
// "<input>: unexpected end of file" when the input simply ended.
void report_short_read(Run& run);

// Read up to n bytes from the input; returns how many arrived (fewer only at
// end of file or on a read error, which input_failed then tells).
std::size_t read_input(Run& run, std::uint8_t* buf, std::size_t n);
// Pass over n bytes of input, adding to *counted every byte that the input
// holds there. A regular file is passed over with a seek, anything else is
// read. False when the input ended or failed first.
bool skip_input(Run& run, std::uint32_t n, std::uint32_t* counted);
// Position the input at an absolute offset; false with errno set on failure.
bool seek_input(Run& run, std::uint64_t position);
// The offset of the next byte read_input returns.
std::uint64_t input_position(const Run& run);
// True once a read of the input has failed (not merely ended).
inline bool input_failed(const Run& run) { return run.in.failed; }
// Write n bytes to the output; false (errno set) when not all were written.
bool write_output(Run& run, const std::uint8_t* buf, std::size_t n);

// Output bytes the data pass may produce with its next block: 64 KiB at
// first, then twice the block before, up to kMaxBlock. The block buffers are
// static, so a small file touches only the first few pages of them; 256 KiB
// blocks keep a block's input and output in the processor's L2 cache, and
// measured faster than 1 MiB ones on large files too.
constexpr std::size_t kMaxBlock = std::size_t{1} << 18;
std::size_t next_block_size(Run& run);

// The maintainer's address, printed where the converter asks for samples of
// files it cannot handle.
extern const char kContactAddress[];

}  // namespace aifconv
