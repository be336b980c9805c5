// The data pass: reposition on the sound data and dispatch on the codec; the
// sowt copy, whose samples are already what a 16-bit PCM WAV file holds.
#include "codecs/codecs.h"

#include <cerrno>

#include "driver/context.h"
#include "driver/platform.h"

namespace aifconv {

int convert_samples(Run& run, const SoundFormat& format) {
  if (!seek_input(run, format.data_start)) return fail_output(run);
  switch (format.codec) {
    case Ima4:
      return convert_ima4(run, format);
    case Sdx2:
      return convert_sdx2(run, format);
    case Sowt:
      break;
  }
  return convert_sowt(run, format);
}

namespace {

// sowt from a regular file to a regular file: the kernel copies the samples
// from page cache to page cache, without passing them through this process.
// Returns the bytes copied, up to `bytes`; whatever it does not copy (the
// input ended or failed, the output is full, the system cannot) is left to
// the block loop, which meets the same condition and reports it.
std::uint64_t copy_in_kernel(Run& run, std::uint64_t bytes) {
  if (!run.in.regular || !run.out_regular || run.hooks.read) return 0;
  const std::uint64_t from = input_position(run);
  std::uint64_t done = 0;
  while (done < bytes) {
    const std::uint64_t left = bytes - done;
    const std::size_t want = left < kMaxBlock * 64 ? static_cast<std::size_t>(left) : kMaxBlock * 64;
    const std::ptrdiff_t n = platform::copy_file_range(run.in.fd, from + done, run.out, want);
    if (n <= 0) break;
    done += static_cast<std::uint64_t>(n);
  }
  if (done > 0 && !seek_input(run, from + done)) {
    run.in.failed = true;  // the block loop then reports it as a read error
    run.in.error = errno;
  }
  return done;
}

}  // namespace

int convert_sowt(Run& run, const SoundFormat& format) {
  static std::uint8_t block[kMaxBlock];  // block sizes are whole frames, mono or stereo
  std::uint64_t remaining = static_cast<std::uint64_t>(format.frames) * format.channels * 2;
  remaining -= copy_in_kernel(run, remaining);
  while (remaining > 0) {
    const std::size_t size = next_block_size(run);
    const std::size_t want = remaining < size ? static_cast<std::size_t>(remaining) : size;
    const std::size_t got = read_input(run, block, want);
    // Whole samples that arrived go out first, as a sample-by-sample copy would.
    const std::size_t whole = got & ~static_cast<std::size_t>(1);
    if (!write_output(run, block, whole)) return fail_output(run);
    if (got < want) {
      report_short_read(run);
      return fail_bad_file(run);
    }
    remaining -= got;
  }
  return finish_success(run);
}

}  // namespace aifconv
