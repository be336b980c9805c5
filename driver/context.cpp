// The run's files and exits: buffered reads and seeks of the input, writes of
// the output, the messages for system errors, and the ways a run ends.
#include "driver/context.h"

#include <cerrno>
#include <cstring>

#include "driver/platform.h"

namespace aifconv {

const char kContactAddress[] = "aifconv-support@example.org";

namespace {

// Read-ahead for the small reads of the walk; larger reads bypass it.
constexpr std::size_t kReadAhead = 16 * 1024;
std::uint8_t read_ahead[kReadAhead];

// One system read at the input's current file position, through the test
// hook when there is one. Sets the end-of-file or error indicator.
std::size_t system_read(Run& run, std::uint8_t* buf, std::size_t n) {
  Input& in = run.in;
  const std::ptrdiff_t got = run.hooks.read ? run.hooks.read(in.fd, in.next, buf, n)
                                            : platform::read_file(in.fd, buf, n);
  if (got < 0) {
    in.failed = true;
    in.error = errno;
    return 0;
  }
  if (got == 0) in.at_end = true;
  in.next += static_cast<std::uint64_t>(got);
  return static_cast<std::size_t>(got);
}

// Close both files and take back the output's registration; then remove the
// output if it is a regular file (a device or FIFO is left alone: the run
// did not make it).
void close_and_remove_files(Run& run) {
  platform::take_output();
  if (run.in.fd >= 0) platform::close_file(run.in.fd);
  run.in.fd = -1;
  if (run.out >= 0) platform::close_file(run.out);
  run.out = -1;
  if (run.out_regular) platform::remove_file(run.output_path);
}

}  // namespace

void report_errno(Run& run, const char* what) {
  std::fprintf(run.err, "%s: %s\n", what, std::strerror(errno));
}

void report_input_error(Run& run) {
  std::fprintf(run.err, "%s: %s\n", run.input_path, std::strerror(run.in.error));
}

void report_short_read(Run& run) {
  if (run.in.failed)
    report_input_error(run);
  else
    std::fprintf(run.err, "%s: unexpected end of file\n", run.input_path);
}

int fail_bad_file(Run& run) {
  std::fprintf(run.err, "%s: bad sound file, can't load\n", run.input_path);
  std::fprintf(run.err, "contact %s to add support for your file\n", kContactAddress);
  close_and_remove_files(run);
  return 1;
}

int fail_output(Run& run) {
  report_errno(run, run.output_path);
  close_and_remove_files(run);
  return 1;
}

int close_and_remove(Run& run) {
  close_and_remove_files(run);
  return 1;
}

int finish_success(Run& run) {
  platform::take_output();
  platform::close_file(run.in.fd);
  run.in.fd = -1;
  // A network file system may report a failed write only at the close.
  const bool closed = platform::close_file(run.out);
  run.out = -1;
  if (closed) return 0;
  report_errno(run, run.output_path);
  if (run.out_regular) platform::remove_file(run.output_path);
  return 1;
}

std::size_t read_input(Run& run, std::uint8_t* buf, std::size_t n) {
  Input& in = run.in;
  if (!in.buf) in.buf = read_ahead;
  std::size_t done = 0;
  while (done < n) {
    if (in.pos < in.end) {
      const std::size_t take = in.end - in.pos < n - done ? in.end - in.pos : n - done;
      std::memcpy(buf + done, in.buf + in.pos, take);
      in.pos += take;
      done += take;
      continue;
    }
    if (in.at_end || in.failed) break;
    if (n - done >= kReadAhead) {  // large reads go straight to the caller
      done += system_read(run, buf + done, n - done);
      continue;
    }
    in.pos = 0;
    in.end = system_read(run, in.buf, kReadAhead);
  }
  return done;
}

std::uint64_t input_position(const Run& run) { return run.in.next - (run.in.end - run.in.pos); }

bool seek_input(Run& run, std::uint64_t position) {
  Input& in = run.in;
  // Within what the read-ahead holds, a regular file needs no system call.
  // Anything else is asked, so that a pipe fails the seek as it always does.
  const std::uint64_t buffered_from = in.next - in.end;
  if (in.regular && position >= buffered_from && position <= in.next) {
    in.pos = static_cast<std::size_t>(position - buffered_from);
  } else {
    if (!platform::seek_file(in.fd, position)) return false;
    in.pos = in.end = 0;
    in.next = position;
  }
  in.at_end = false;  // as a stream's seek clears its end-of-file indicator
  return true;
}

bool skip_input(Run& run, std::uint32_t n, std::uint32_t* counted) {
  if (run.in.regular && !run.in.failed) {
    // The bytes counted are those the file holds, from its size.
    const std::uint64_t at = input_position(run);
    const std::uint64_t held = run.in.size > at ? run.in.size - at : 0;
    const std::uint32_t present = held < n ? static_cast<std::uint32_t>(held) : n;
    if (!seek_input(run, at + present)) {
      run.in.failed = true;
      run.in.error = errno;
      return false;
    }
    if (counted) *counted += present;
    if (present == n) return true;
    run.in.at_end = true;
    return false;
  }
  std::uint8_t scratch[4096];
  while (n > 0) {
    const std::size_t want = n < sizeof scratch ? n : sizeof scratch;
    const std::size_t got = read_input(run, scratch, want);
    if (counted) *counted += static_cast<std::uint32_t>(got);
    n -= static_cast<std::uint32_t>(got);
    if (got < want) return false;
  }
  return true;
}

bool write_output(Run& run, const std::uint8_t* buf, std::size_t n) {
  return platform::write_file(run.out, buf, n);
}

std::size_t next_block_size(Run& run) {
  run.last_block = run.last_block == 0 ? 64 * 1024
                   : run.last_block < kMaxBlock ? 2 * run.last_block
                                                : kMaxBlock;
  return run.last_block;
}

}  // namespace aifconv
