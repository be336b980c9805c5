// The chunk reader and the validating walk over an AIFF-C container.
//
// Size accounting is 32-bit two's-complement arithmetic that wraps: sizes,
// padded sizes, skip counts and the container's remaining count are uint32_t,
// every addition and subtraction is taken modulo 2^32, and a value counts as
// negative exactly when bit 31 is set. Files in the wild carry sizes such as
// 0xFFFFFFFF, and the format's answer for them depends on that wrap-around.
#include "aifc/aifc.h"

#include <cstring>

#include "driver/context.h"

namespace aifconv {

namespace {

// "Negative" as a 32-bit two's-complement value.
bool is_negative(std::uint32_t v) { return (v & 0x80000000u) != 0; }

// The chunk size read as a signed 32-bit value, for messages.
long as_signed(std::uint32_t v) {
  return is_negative(v) ? -static_cast<long>(~v) - 1 : static_cast<long>(v);
}

bool id_is(const std::uint8_t* id, const char* name) { return std::memcmp(id, name, 4) == 0; }

int size_bad(Context& ctx) {
  std::fprintf(ctx.err, "the size information of your file is bad\n");
  return fail_bad_file(ctx);
}

// A read of the walk came up short: the input's system error after a failed
// read, or at the end of the file `at_end` (nothing for most fields); then
// the bad-file exit.
int fail_read_error_or(Context& ctx, const char* at_end = "") {
  if (input_failed(ctx))
    report_input_error(ctx);
  else
    std::fprintf(ctx.err, "%s", at_end);
  return fail_bad_file(ctx);
}

// Warn when the SSND chunk, read whole, holds more frames than COMM declares:
// only the declared frames are converted. `stored` is the chunk's stored size;
// the sound data is what follows the offset and block size fields and the
// data offset, when the chunk is that large (in 64 bits: no wrap-around).
void warn_frames_left_over(Context& ctx, std::uint32_t stored, std::uint32_t data_offset,
                           const SoundFormat& format) {
  const std::uint64_t before_data = 8 + static_cast<std::uint64_t>(data_offset);
  if (is_negative(stored) || stored < before_data) return;
  const std::uint64_t held = (stored - before_data) / bytes_per_frame(format.codec, format.channels);
  if (held > format.frames)
    std::fprintf(ctx.err, "warning: SSND holds %lu frames, only the %lu that COMM declares are converted\n",
                 static_cast<unsigned long>(held), static_cast<unsigned long>(format.frames));
}

// Skip a body remainder that may be "negative": n <= 0 skips nothing.
bool skip_signed(Context& ctx, std::uint32_t n, std::uint32_t* counted) {
  return is_negative(n) || skip_input(ctx, n, counted);
}

}  // namespace

ChunkKind read_chunk_header(Context& ctx, std::uint32_t* size) {
  std::uint8_t header[8];
  const std::size_t got = read_input(ctx, header, 8);
  if (got == 0 && ctx.in.at_end) return EndOfFile;
  if (input_failed(ctx) || got < 8) return ReadFailure;
  *size = get_be32(header + 4);

  if (id_is(header, "FORM")) {
    std::uint8_t type[4];
    if (read_input(ctx, type, 4) < 4) return ReadFailure;
    if (id_is(type, "AIFC")) {
      *size -= 4;  // the form type is inside the stored size
      return FormAifc;
    }
    std::fprintf(ctx.err, "unsupported type %s\nonly AIFC handled\n", id_text(type).text);
    return ReadFailure;
  }
  if (id_is(header, "COMM")) return Comm;
  if (id_is(header, "FVER")) return Fver;
  if (id_is(header, "SSND")) return Ssnd;

  std::fprintf(ctx.err, "warning: unhandled chunk %s (size=%ld)\n", id_text(header).text,
               as_signed(*size));
  return UnhandledChunk;
}

int walk_chunks(Context& ctx, SoundFormat& format) {
  unsigned seen = 0;
  std::uint32_t form_remaining = 0;
  // The SSND chunk's stored size and data offset, and whether its body was
  // all there, for the frames-left-over warning.
  std::uint32_t ssnd_size = 0, ssnd_offset = 0;
  bool ssnd_whole = false;

  for (;;) {
    std::uint32_t size = 0;
    const ChunkKind kind = read_chunk_header(ctx, &size);
    // Body bytes the chunk occupies, with the pad byte of an odd size.
    const std::uint32_t padded = size + (size & 1u);

    switch (kind) {
      case FormAifc:
        if (seen != 0) return fail_bad_file(ctx);  // a second container
        seen |= SeenForm;
        form_remaining = size;
        break;

      case Comm: {
        if (!(seen & SeenForm) || (seen & SeenComm)) return fail_bad_file(ctx);
        if (is_negative(form_remaining - 8)) return size_bad(ctx);
        seen |= SeenComm;
        std::uint8_t fields[22];
        if (read_input(ctx, fields, 22) < 22) return fail_read_error_or(ctx);
        form_remaining -= 30;  // 8 header + 22 fixed bytes
        if (is_negative(form_remaining)) return size_bad(ctx);
        if (!parse_comm(ctx, fields, format)) return fail_bad_file(ctx);
        const std::uint32_t skip = padded - 22;  // compression name and pad byte
        form_remaining -= skip;
        if (is_negative(form_remaining)) return size_bad(ctx);
        if (!skip_signed(ctx, skip, nullptr)) return fail_read_error_or(ctx, "error with COMM chunk, bad size\n");
        break;
      }

      case Fver: {
        if (!(seen & SeenForm) || (seen & SeenFver)) return fail_bad_file(ctx);
        seen |= SeenFver;
        if (is_negative(form_remaining - 8)) return size_bad(ctx);
        std::uint8_t stamp[4];
        if (read_input(ctx, stamp, 4) < 4) return fail_read_error_or(ctx);
        if (is_negative(form_remaining - 12)) return size_bad(ctx);
        const std::uint32_t version = get_be32(stamp);
        if (version != kAifcVersion1) {
          std::fprintf(ctx.err, "version = %lu\nonly 2726318400 handled\n",
                       static_cast<unsigned long>(version));
          return fail_bad_file(ctx);
        }
        const std::uint32_t skip = padded - 4;
        form_remaining = form_remaining - 12 - skip;
        if (is_negative(form_remaining)) return size_bad(ctx);
        if (!skip_signed(ctx, skip, nullptr)) return fail_read_error_or(ctx, "error with FVER chunk, bad size\n");
        break;
      }

      case Ssnd: {
        if (!(seen & SeenForm)) return fail_bad_file(ctx);
        if (seen & SeenSsnd) {
          std::fprintf(ctx.err, "more than one SSND\n");
          return fail_bad_file(ctx);
        }
        if (is_negative(form_remaining - 8)) return size_bad(ctx);
        seen |= SeenSsnd;
        std::uint8_t fields[8];
        if (read_input(ctx, fields, 8) < 8) return fail_read_error_or(ctx);
        form_remaining -= 16;  // 8 header + offset + block size
        if (is_negative(form_remaining)) return size_bad(ctx);
        const std::uint32_t data_offset = get_be32(fields);  // block size is ignored
        format.data_start = input_position(ctx) + data_offset;
        const std::uint32_t skip = padded - 8;
        form_remaining -= skip;
        if (is_negative(form_remaining)) return size_bad(ctx);
        std::uint32_t counted = 0;
        ssnd_size = size;
        ssnd_offset = data_offset;
        ssnd_whole = skip_signed(ctx, skip, &counted);
        if (ssnd_whole) break;
        if (input_failed(ctx)) return fail_read_error_or(ctx);

        // The sound data ends early: recompute the frames from what is there.
        if (!(seen & SeenComm)) return fail_bad_file(ctx);
        std::fprintf(ctx.err,
                     "warning - bad size in SSND, the output file will probably be wrong\n");
        if (format.codec == Sdx2) {
          std::fprintf(ctx.err, "error - for SDX2 files, I don't know what to do\n");
          std::fprintf(ctx.err, "Contact %s to see what we can do.\n", kContactAddress);
          return close_and_remove(ctx);
        }
        // Whole frames of what arrived after the data offset (the
        // subtraction wraps when the offset points past it).
        const std::uint32_t available = counted - data_offset;
        format.frames = available / bytes_per_frame(format.codec, format.channels);
        form_remaining = 0;  // no further chunk is read
        break;
      }

      case UnhandledChunk: {
        if (!(seen & SeenForm)) return fail_bad_file(ctx);
        if (is_negative(form_remaining - 8)) return size_bad(ctx);
        form_remaining = form_remaining - 8 - padded;
        if (is_negative(form_remaining)) return size_bad(ctx);
        // The body is counted down to exactly zero, as an unsigned count.
        if (!skip_input(ctx, padded, nullptr)) return fail_read_error_or(ctx);
        break;
      }

      case EndOfFile:
        std::fprintf(ctx.err, "warning: your file is shorter than expected\n");
        form_remaining = 0;
        break;

      case ReadFailure:
        return fail_read_error_or(ctx);
    }

    if (form_remaining != 0) continue;

    if ((seen & SeenComm) && (seen & SeenSsnd)) {
      if (ssnd_whole) warn_frames_left_over(ctx, ssnd_size, ssnd_offset, format);
      return kContinue;
    }
    if (!(seen & SeenComm)) std::fprintf(ctx.err, "no COMM chunk found\n");
    if (!(seen & SeenSsnd)) std::fprintf(ctx.err, "no SSND chunk found\n");
    return fail_bad_file(ctx);
  }
}

}  // namespace aifconv
