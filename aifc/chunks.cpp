// The chunk reader and the validating walk over an AIFF-C container.
//
// Size accounting is 32-bit two's-complement arithmetic that wraps: sizes,
// padded sizes, skip counts and the container's remaining count are uint32_t,
// every addition and subtraction is taken modulo 2^32, and a value counts as
// negative exactly when bit 31 is set. Files in the wild carry sizes such as
// 0xFFFFFFFF, and the format's answer for them depends on that wrap-around.
#include "aifc/aifc.h"

#include <cstring>

#include "driver/run.h"

namespace aifconv {

namespace {

// "Negative" as a 32-bit two's-complement value.
bool is_negative(std::uint32_t v) { return (v & 0x80000000u) != 0; }

// The chunk size read as a signed 32-bit value, for messages.
long as_signed(std::uint32_t v) {
  return is_negative(v) ? -static_cast<long>(~v) - 1 : static_cast<long>(v);
}

bool id_is(const std::uint8_t* id, const char* name) { return std::memcmp(id, name, 4) == 0; }

int size_bad(Run& run) {
  std::fprintf(run.err, "the size information of your file is bad\n");
  return fail_bad_file(run);
}

// Skip a body remainder that may be "negative": n <= 0 skips nothing.
bool skip_signed(Run& run, std::uint32_t n, std::uint32_t* counted) {
  return is_negative(n) || skip_input(run, n, counted);
}

}  // namespace

ChunkKind read_chunk_header(Run& run, std::uint32_t* size) {
  std::uint8_t header[8];
  const std::size_t got = read_input(run, header, 8);
  if (got == 0 && std::feof(run.in)) return EndOfFile;
  if (std::ferror(run.in) || got < 8) return ReadFailure;
  *size = get_be32(header + 4);

  if (id_is(header, "FORM")) {
    std::uint8_t type[4];
    if (read_input(run, type, 4) < 4) return ReadFailure;
    if (id_is(type, "AIFC")) {
      *size -= 4;  // the form type is inside the stored size
      return FormAifc;
    }
    std::fprintf(run.err, "unsupported type %s\nonly AIFC handled\n", id_text(type).text);
    return ReadFailure;
  }
  if (id_is(header, "COMM")) return Comm;
  if (id_is(header, "FVER")) return Fver;
  if (id_is(header, "SSND")) return Ssnd;

  std::fprintf(run.err, "warning: unhandled chunk %s (size=%ld)\n", id_text(header).text,
               as_signed(*size));
  return UnhandledChunk;
}

int walk_chunks(Run& run, SoundFormat& format) {
  unsigned seen = 0;
  std::uint32_t form_remaining = 0;

  for (;;) {
    std::uint32_t size = 0;
    const ChunkKind kind = read_chunk_header(run, &size);
    // Body bytes the chunk occupies, with the pad byte of an odd size.
    const std::uint32_t padded = size + (size & 1u);

    switch (kind) {
      case FormAifc:
        if (seen != 0) return fail_bad_file(run);  // a second container
        seen |= SeenForm;
        form_remaining = size;
        break;

      case Comm: {
        if (!(seen & SeenForm) || (seen & SeenComm)) return fail_bad_file(run);
        if (is_negative(form_remaining - 8)) return size_bad(run);
        seen |= SeenComm;
        std::uint8_t fields[22];
        if (read_input(run, fields, 22) < 22) return fail_bad_file(run);
        form_remaining -= 30;  // 8 header + 22 fixed bytes
        if (is_negative(form_remaining)) return size_bad(run);
        if (!parse_comm(run, fields, format)) return fail_bad_file(run);
        const std::uint32_t skip = padded - 22;  // compression name and pad byte
        form_remaining -= skip;
        if (is_negative(form_remaining)) return size_bad(run);
        if (!skip_signed(run, skip, nullptr)) {
          std::fprintf(run.err, "error with COMM chunk, bad size\n");
          return fail_bad_file(run);
        }
        break;
      }

      case Fver: {
        if (!(seen & SeenForm) || (seen & SeenFver)) return fail_bad_file(run);
        seen |= SeenFver;
        if (is_negative(form_remaining - 8)) return size_bad(run);
        std::uint8_t stamp[4];
        if (read_input(run, stamp, 4) < 4) return fail_bad_file(run);
        if (is_negative(form_remaining - 12)) return size_bad(run);
        const std::uint32_t version = get_be32(stamp);
        if (version != kAifcVersion1) {
          std::fprintf(run.err, "version = %lu\nonly 2726318400 handled\n",
                       static_cast<unsigned long>(version));
          return fail_bad_file(run);
        }
        const std::uint32_t skip = padded - 4;
        form_remaining = form_remaining - 12 - skip;
        if (is_negative(form_remaining)) return size_bad(run);
        if (!skip_signed(run, skip, nullptr)) {
          std::fprintf(run.err, "error with FVER chunk, bad size\n");
          return fail_bad_file(run);
        }
        break;
      }

      case Ssnd: {
        if (!(seen & SeenForm)) return fail_bad_file(run);
        if (seen & SeenSsnd) {
          std::fprintf(run.err, "more than one SSND\n");
          return fail_bad_file(run);
        }
        if (is_negative(form_remaining - 8)) return size_bad(run);
        seen |= SeenSsnd;
        std::uint8_t fields[8];
        if (read_input(run, fields, 8) < 8) return fail_bad_file(run);
        form_remaining -= 16;  // 8 header + offset + block size
        if (is_negative(form_remaining)) return size_bad(run);
        const std::uint32_t data_offset = get_be32(fields);  // block size is ignored
        const long position = std::ftell(run.in);
        if (position < 0) {
          report_errno(run, "ftell");
          return fail_bad_file(run);
        }
        format.data_start = static_cast<std::uint64_t>(position) + data_offset;
        const std::uint32_t skip = padded - 8;
        form_remaining -= skip;
        if (is_negative(form_remaining)) return size_bad(run);
        std::uint32_t counted = 0;
        if (skip_signed(run, skip, &counted)) break;

        // The sound data ends early: recompute the frames from what is there.
        if (!(seen & SeenComm)) return fail_bad_file(run);
        std::fprintf(run.err,
                     "warning - bad size in SSND, the output file will probably be wrong\n");
        const std::uint32_t available = counted - data_offset;
        std::uint32_t frames = 0;
        switch (format.codec) {
          case Sdx2:
            std::fprintf(run.err, "error - for SDX2 files, I don't know what to do\n");
            std::fprintf(run.err, "Contact %s to see what we can do.\n", kContactAddress);
            return close_and_remove(run);
          case Sowt:
            frames = available / 2;
            break;
          case Ima4:
            frames = available / 34;
            break;
        }
        if (format.channels == 2) frames /= 2;
        format.frames = frames;
        form_remaining = 0;  // no further chunk is read
        break;
      }

      case UnhandledChunk: {
        if (!(seen & SeenForm)) return fail_bad_file(run);
        if (is_negative(form_remaining - 8)) return size_bad(run);
        form_remaining = form_remaining - 8 - padded;
        if (is_negative(form_remaining)) return size_bad(run);
        // The body is counted down to exactly zero, as an unsigned count.
        if (!skip_input(run, padded, nullptr)) return fail_bad_file(run);
        break;
      }

      case EndOfFile:
        std::fprintf(run.err, "warning: your file is shorter than expected\n");
        form_remaining = 0;
        break;

      case ReadFailure:
        return fail_bad_file(run);
    }

    if (form_remaining != 0) continue;

    if ((seen & SeenComm) && (seen & SeenSsnd)) return kContinue;
    if (!(seen & SeenComm)) std::fprintf(run.err, "no COMM chunk found\n");
    if (!(seen & SeenSsnd)) std::fprintf(run.err, "no SSND chunk found\n");
    return fail_bad_file(run);
  }
}

}  // namespace aifconv
