// The COMM chunk's fixed fields.
#include "aifc/aifc.h"

#include <cstring>

#include "driver/context.h"

namespace aifconv {

// Writers of ima4 files store 0 or 4 as the sample size: for a compressed
// stream the field does not describe the decoded samples, always 16-bit.
static bool is_ima4(const std::uint8_t* type) { return std::memcmp(type, "ima4", 4) == 0; }

bool parse_comm(Context& ctx, const std::uint8_t comm[22], SoundFormat& format) {
  const unsigned channels = get_be16(comm);
  const std::uint32_t frames = get_be32(comm + 2);
  const unsigned bits = get_be16(comm + 6);
  const ExtendedRate rate = extended_to_rate(comm + 8);
  const std::uint8_t* type = comm + 18;

  if (channels != 1 && channels != 2) {
    std::fprintf(ctx.err, "nb of channels = %d\nonly 1 or 2 channels handled\n",
                 static_cast<int>(channels));
    return false;
  }
  if (bits != 16 && !(is_ima4(type) && (bits == 0 || bits == 4))) {
    std::fprintf(ctx.err, "bits per sample = %d\nonly 16 bits handled\n", static_cast<int>(bits));
    return false;
  }
  if (!rate_in_range(rate)) {
    std::fprintf(ctx.err, "freq = %s\nonly 1 <= freq < 1e7 handled\n", rate_text(rate).text);
    return false;
  }
  Codec codec;
  if (is_ima4(type)) {
    codec = Ima4;
  } else if (std::memcmp(type, "sowt", 4) == 0) {
    codec = Sowt;
  } else if (std::memcmp(type, "SDX2", 4) == 0) {
    codec = Sdx2;
  } else {
    std::fprintf(ctx.err, "compression scheme = %s\nonly ima4, sowt and SDX2 handled\n",
                 id_text(type).text);
    return false;
  }
  format.channels = channels;
  format.frames = frames;
  format.bits = 16;  // the decoded samples, whatever an ima4 file stores
  format.rate = rate;
  format.codec = codec;
  return true;
}

}  // namespace aifconv
