// Conversion driver: the run context shared by every stage, the run's failure
// exits, and the one place where bytes are read from the input and written to
// the output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace aifconv {

// Returned by a stage that finished its work without ending the run; every
// other return value of a stage is the exit status of the exit it took.
constexpr int kContinue = -1;

// Everything one run owns: the command line, its streams and where messages go.
struct Run {
  const char* program = "aifconv";  // invocation word, for the usage line
  const char* input_path = nullptr;
  const char* output_path = nullptr;
  std::FILE* in = nullptr;
  std::FILE* out = nullptr;
  std::FILE* err = stderr;  // every message of the run goes here
  // Allocation for the SDX2 decoder state; tests replace it to make it fail.
  void* (*allocate)(std::size_t) = nullptr;
};

// Run the whole command line: argv[0] is the invocation word, then the input
// AIFF-C path and the output WAV path. Messages go to `err`. Returns the exit
// status, 0 after a complete conversion and 1 after any failure.
// `allocate`, when given, replaces malloc for the decoder state (tests).
int run(int argc, const char* const* argv, std::FILE* err,
        void* (*allocate)(std::size_t) = nullptr);

// The failure exits. Each closes both streams, removes the output when it is a
// regular file, and returns status 1.
// fail_bad_file: "<input>: bad sound file, can't load" and the contact line.
int fail_bad_file(Run& run);
// fail_output: the system error for the output path.
int fail_output(Run& run);
// close_and_remove: no message (the caller printed its own).
int close_and_remove(Run& run);
// The success exit: flush and close the output (a failure there is a failed
// run), close the input. Returns 0, or 1 when the output could not be closed.
int finish_success(Run& run);

// For a command-line program: on SIGINT, SIGTERM or SIGHUP, remove the output
// of a conversion still in progress, then die of the signal as usual. Only a
// regular file the run opened is removed. Not for in-process callers, whose
// signals are their own.
void remove_output_on_signal();

// Print "<what>: <system error>" for the current errno, as perror does.
void report_errno(Run& run, const char* what);
// Report a short read of sample data: the system error for the input path, or
// "<input>: unexpected end of file" when the input simply ended.
void report_short_read(Run& run);

// Read up to n bytes from the input; returns how many arrived (fewer only at
// end of file or on a read error).
std::size_t read_input(Run& run, std::uint8_t* buf, std::size_t n);
// Write n bytes to the output; false when not all of them were written.
bool write_output(Run& run, const std::uint8_t* buf, std::size_t n);
// Read and discard n bytes of input through a fixed scratch block, adding every
// byte that arrives to *counted. False when the input ended or failed first.
bool skip_input(Run& run, std::uint32_t n, std::uint32_t* counted);

// The maintainer's address, printed where the converter asks for samples of
// files it cannot handle.
extern const char kContactAddress[];

}  // namespace aifconv
