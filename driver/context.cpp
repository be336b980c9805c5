// The run's files and exits: buffered reads and seeks of the input, writes of
// the output, the messages for system errors, and the ways a run ends.
#include "driver/context.h"

#include <cerrno>
#include <cstring>

#include "driver/platform.h"

namespace aifconv {

const char kContactAddress[] = AIFCONV_CONTACT;  // set by the build (CMake's AIFCONV_CONTACT)

namespace {

// Read-ahead for the small reads of the walk; larger reads bypass it.
constexpr std::size_t kReadAhead = 16 * 1024;
std::uint8_t read_ahead[kReadAhead];

// One system read at the input's current file position, through the test
// hook when there is one. Sets the end-of-file or error indicator.
std::size_t system_read(Context& ctx, std::uint8_t* buf, std::size_t n) {
  Input& in = ctx.in;
  const std::ptrdiff_t got = ctx.hooks.read ? ctx.hooks.read(ctx.hooks.context, in.fd, in.next, buf, n)
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

// Close the input, and the output through the test hook when there is one;
// false (errno set) when the output's close fails.
bool close_files(Context& ctx) {
  if (ctx.in.fd >= 0) platform::close_file(ctx.in.fd);
  ctx.in.fd = -1;
  const int out = ctx.out;
  ctx.out = -1;
  if (out < 0) return true;
  return ctx.hooks.close_output ? ctx.hooks.close_output(ctx.hooks.context, out) : platform::close_file(out);
}

// Every exit of a run whose output is open. Takes the output back from the
// interruption cleanup and closes both files, then removes the output when
// it is a regular file, which is the file the run wrote (a link's target; a
// device, FIFO or pipe is left alone: the run did not make it), unless `keep`
// and its close succeeded. A failed close of an output to keep is reported: a
// network file system may report a failed write only then. Terminating
// signals are held throughout, or one arriving in between would find nothing
// to remove. Returns whether the output closed.
bool end_files(Context& ctx, bool keep) {
  platform::hold_signals();
  const char* written = platform::take_output();
  const bool closed = close_files(ctx);
  if (keep && !closed) report_errno(ctx, ctx.output_path);
  if (written && !(keep && closed)) platform::remove_file(written);
  platform::release_signals();
  return closed;
}

}  // namespace

void report_errno(Context& ctx, const char* what) {
  std::fprintf(ctx.err, "%s: %s\n", what, std::strerror(errno));
}

void report_input_error(Context& ctx) {
  std::fprintf(ctx.err, "%s: %s\n", ctx.input_path, std::strerror(ctx.in.error));
}

void report_read_error_or_end(Context& ctx) {
  if (ctx.in.failed)
    report_input_error(ctx);
  else
    std::fprintf(ctx.err, "%s: unexpected end of file\n", ctx.input_path);
}

int fail_bad_file(Context& ctx) {
  std::fprintf(ctx.err, "%s: bad sound file, can't load\n", ctx.input_path);
  std::fprintf(ctx.err, "contact %s to add support for your file\n", kContactAddress);
  end_files(ctx, false);
  return 1;
}

int fail_output(Context& ctx) {
  report_errno(ctx, ctx.output_path);
  end_files(ctx, false);
  return 1;
}

int close_and_remove(Context& ctx) {
  end_files(ctx, false);
  return 1;
}

int finish_success(Context& ctx) { return end_files(ctx, true) ? 0 : 1; }

std::size_t read_input(Context& ctx, std::uint8_t* buf, std::size_t n) {
  Input& in = ctx.in;
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
      done += system_read(ctx, buf + done, n - done);
      continue;
    }
    in.pos = 0;
    in.end = system_read(ctx, in.buf, kReadAhead);
  }
  return done;
}

std::uint64_t input_position(const Context& ctx) { return ctx.in.next - (ctx.in.end - ctx.in.pos); }

bool seek_input(Context& ctx, std::uint64_t position) {
  Input& in = ctx.in;
  // Within what the read-ahead holds, a sized file needs no system call.
  // Anything else is asked, so that a pipe fails the seek as it always does.
  const std::uint64_t buffered_from = in.next - in.end;
  if (in.sized && position >= buffered_from && position <= in.next) {
    in.pos = static_cast<std::size_t>(position - buffered_from);
  } else {
    if (!platform::seek_file(in.fd, position)) return false;
    in.pos = in.end = 0;
    in.next = position;
  }
  in.at_end = false;  // as a stream's seek clears its end-of-file indicator
  return true;
}

bool skip_input(Context& ctx, std::uint32_t n, std::uint32_t* counted) {
  if (ctx.in.sized && !ctx.in.failed) {
    // The bytes counted are those the file holds, from its size.
    const std::uint64_t at = input_position(ctx);
    const std::uint64_t held = ctx.in.size > at ? ctx.in.size - at : 0;
    const std::uint32_t present = held < n ? static_cast<std::uint32_t>(held) : n;
    if (!seek_input(ctx, at + present)) {
      ctx.in.failed = true;
      ctx.in.error = errno;
      return false;
    }
    if (counted) *counted += present;
    if (present == n) return true;
    ctx.in.at_end = true;
    return false;
  }
  std::uint8_t scratch[4096];
  while (n > 0) {
    const std::size_t want = n < sizeof scratch ? n : sizeof scratch;
    const std::size_t got = read_input(ctx, scratch, want);
    if (counted) *counted += static_cast<std::uint32_t>(got);
    n -= static_cast<std::uint32_t>(got);
    if (got < want) return false;
  }
  return true;
}

bool write_output(Context& ctx, const std::uint8_t* buf, std::size_t n) {
  return platform::write_file(ctx.out, buf, n);
}

}  // namespace aifconv
