// The run of one conversion: command line, the two files, the stages in
// order, and every way a run can end.
#include "driver/run.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "aifc/aifc.h"
#include "codecs/codecs.h"
#include "wav/wav.h"

namespace aifconv {

const char kContactAddress[] = "aifconv-support@example.org";

namespace {

// The output of the conversion in progress, while it is a regular file that a
// signal should not leave behind; null otherwise.
std::atomic<const char*> output_in_progress{nullptr};
static_assert(std::atomic<const char*>::is_always_lock_free, "used from a signal handler");

extern "C" void remove_output_and_die(int sig) {
  const char* path = output_in_progress.exchange(nullptr);
  if (path) unlink(path);
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

bool is_regular_file(std::FILE* stream) {
  struct stat st;
  return fstat(fileno(stream), &st) == 0 && S_ISREG(st.st_mode);
}

// Close both streams, then remove the output path when the output stream was a
// regular file (a device or FIFO is left alone: the run did not make it).
void close_and_remove_streams(Run& run) {
  if (run.in) {
    std::fclose(run.in);
    run.in = nullptr;
  }
  bool regular = false;
  if (run.out) {
    regular = is_regular_file(run.out);
    std::fclose(run.out);
    run.out = nullptr;
  }
  if (regular) std::remove(run.output_path);
  output_in_progress = nullptr;
}

// True when `path` exists and is the very file open as `stream`.
bool same_file(std::FILE* stream, const char* path) {
  struct stat a, b;
  if (fstat(fileno(stream), &a) != 0 || stat(path, &b) != 0) return false;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

void remove_output_on_signal() {
  std::signal(SIGINT, remove_output_and_die);
  std::signal(SIGTERM, remove_output_and_die);
  std::signal(SIGHUP, remove_output_and_die);
}

void report_errno(Run& run, const char* what) {
  std::fprintf(run.err, "%s: %s\n", what, std::strerror(errno));
}

void report_short_read(Run& run) {
  if (std::feof(run.in) && !std::ferror(run.in))
    std::fprintf(run.err, "%s: unexpected end of file\n", run.input_path);
  else
    report_errno(run, run.input_path);
}

int fail_bad_file(Run& run) {
  std::fprintf(run.err, "%s: bad sound file, can't load\n", run.input_path);
  std::fprintf(run.err, "contact %s to add support for your file\n", kContactAddress);
  close_and_remove_streams(run);
  return 1;
}

int fail_output(Run& run) {
  report_errno(run, run.output_path);
  close_and_remove_streams(run);
  return 1;
}

int close_and_remove(Run& run) {
  close_and_remove_streams(run);
  return 1;
}

int finish_success(Run& run) {
  std::fclose(run.in);
  run.in = nullptr;
  // A full disk often shows only when the last buffered bytes go out, so the
  // flush and the close are part of the conversion.
  if (std::fflush(run.out) != 0) return fail_output(run);
  const bool regular = is_regular_file(run.out);
  const bool closed = std::fclose(run.out) == 0;
  run.out = nullptr;
  if (!closed) {
    report_errno(run, run.output_path);
    if (regular) std::remove(run.output_path);
  }
  output_in_progress = nullptr;  // complete, or removed
  return closed ? 0 : 1;
}

std::size_t read_input(Run& run, std::uint8_t* buf, std::size_t n) {
  return std::fread(buf, 1, n, run.in);
}

bool write_output(Run& run, const std::uint8_t* buf, std::size_t n) {
  return std::fwrite(buf, 1, n, run.out) == n;
}

bool skip_input(Run& run, std::uint32_t n, std::uint32_t* counted) {
  static std::uint8_t scratch[64 * 1024];
  while (n > 0) {
    const std::size_t want = n < sizeof scratch ? n : sizeof scratch;
    const std::size_t got = std::fread(scratch, 1, want, run.in);
    if (counted) *counted += static_cast<std::uint32_t>(got);
    n -= static_cast<std::uint32_t>(got);
    if (got < want) return false;
  }
  return true;
}

int run(int argc, const char* const* argv, std::FILE* err, void* (*allocate)(std::size_t)) {
  Run r;
  r.err = err;
  r.allocate = allocate ? allocate : std::malloc;
  if (argc >= 1 && argv[0]) r.program = argv[0];
  if (argc != 3) {
    std::fprintf(err, "usage: %s <input AIFC file> <output WAV file>\n", r.program);
    return 1;
  }
  r.input_path = argv[1];
  r.output_path = argv[2];

  r.in = std::fopen(r.input_path, "rb");
  if (!r.in) {
    report_errno(r, r.input_path);
    return 1;
  }
  // Opening the output with "wb" would truncate the input if both name one file.
  if (same_file(r.in, r.output_path)) {
    std::fprintf(err, "%s: input and output are the same file\n", r.output_path);
    std::fclose(r.in);
    return 1;
  }
  r.out = std::fopen(r.output_path, "wb");
  if (!r.out) {
    report_errno(r, r.output_path);
    std::fclose(r.in);
    return 1;
  }
  if (is_regular_file(r.out)) output_in_progress = r.output_path;

  SoundFormat format;
  int status = walk_chunks(r, format);
  if (status != kContinue) return status;
  status = write_wav_header(r, format);
  if (status != kContinue) return status;
  return convert_samples(r, format);
}

}  // namespace aifconv
