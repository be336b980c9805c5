// The data pass: reposition on the sound data and dispatch on the codec; the
// sowt copy, whose samples are already what a 16-bit PCM WAV file holds.
#include "codecs/codecs.h"

#include "driver/context.h"

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

int convert_sowt(Run& run, const SoundFormat& format) {
  static std::uint8_t block[kMaxBlock];  // block sizes are whole frames, mono or stereo
  std::uint64_t remaining = static_cast<std::uint64_t>(format.frames) * format.channels * 2;
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
