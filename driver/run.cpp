// The run of one conversion: command line, the two files and the stages in
// order.
#include "driver/run.h"

#include "aifc/aifc.h"
#include "codecs/codecs.h"
#include "driver/platform.h"
#include "wav/wav.h"

namespace aifconv {

int run(int argc, const char* const* argv, std::FILE* err, const Hooks& hooks) {
  Run r;
  r.err = err;
  r.hooks = hooks;
  if (argc >= 1 && argv[0]) r.program = argv[0];
  if (argc != 3) {
    std::fprintf(err, "usage: %s <input AIFC file> <output WAV file>\n", r.program);
    return 1;
  }
  r.input_path = argv[1];
  r.output_path = argv[2];

  r.in.fd = platform::open_input(r.input_path);
  if (r.in.fd < 0) {
    report_errno(r, r.input_path);
    return 1;
  }
  r.in.regular = platform::is_regular_file(r.in.fd, &r.in.size);
  // Creating the output would truncate the input if both name one file.
  if (platform::same_file(r.in.fd, r.output_path)) {
    std::fprintf(err, "%s: input and output are the same file\n", r.output_path);
    platform::close_file(r.in.fd);
    return 1;
  }
  r.out = platform::open_output(r.output_path, &r.out_regular);
  if (r.out < 0) {
    report_errno(r, r.output_path);
    platform::close_file(r.in.fd);
    return 1;
  }

  SoundFormat format;
  int status = walk_chunks(r, format);
  if (status != kContinue) return status;
  status = write_wav_header(r, format);
  if (status != kContinue) return status;
  return convert_samples(r, format);
}

}  // namespace aifconv
