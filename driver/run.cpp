// The run of one conversion: command line, the two files and the stages in
// order.
#include "driver/run.h"

#include "aifc/aifc.h"
#include "codecs/codecs.h"
#include "driver/platform.h"
#include "wav/wav.h"

namespace aifconv {

int run(int argc, const char* const* argv, std::FILE* err, const Hooks& hooks) {
  Context ctx;
  ctx.err = err;
  ctx.hooks = hooks;
  if (argc >= 1 && argv[0]) ctx.program = argv[0];
  if (argc != 3) {
    std::fprintf(err, "usage: %s <input AIFC file> <output WAV file>\n", ctx.program);
    return 1;
  }
  ctx.input_path = argv[1];
  ctx.output_path = argv[2];

  ctx.in.fd = platform::open_input(ctx.input_path);
  if (ctx.in.fd < 0) {
    report_errno(ctx, ctx.input_path);
    return 1;
  }
  ctx.in.sized = platform::is_regular_file(ctx.in.fd, &ctx.in.size) && ctx.in.size > 0;
  // Creating the output would truncate the input if both name one file.
  if (platform::same_file(ctx.in.fd, ctx.output_path)) {
    std::fprintf(err, "%s: input and output are the same file\n", ctx.output_path);
    platform::close_file(ctx.in.fd);
    return 1;
  }
  ctx.out = platform::open_output(ctx.output_path);
  if (ctx.out < 0) {
    report_errno(ctx, ctx.output_path);
    platform::close_file(ctx.in.fd);
    return 1;
  }

  SoundFormat format;
  int status = walk_chunks(ctx, format);
  if (status != kContinue) return status;
  status = write_wav_header(ctx, format);
  if (status != kContinue) return status;
  return convert_samples(ctx, format);
}

}  // namespace aifconv
