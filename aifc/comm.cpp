// The COMM chunk's fixed fields and the 80-bit extended sample rate.
#include "aifc/aifc.h"

#include <cfloat>
#include <cstring>

#include "driver/context.h"

namespace aifconv {

// The rate is decoded exactly only with a 64-bit significand.
static_assert(LDBL_MANT_DIG >= 64, "long double must have at least 64 significant bits");

long double extended_to_rate(const std::uint8_t b[10]) {
  const int e = ((b[0] & 0x7F) << 8 | b[1]) - 16383;
  const std::uint32_t hi = get_be32(b + 2) & 0x7FFFFFFFu;  // below the integer bit
  const std::uint32_t lo = get_be32(b + 6);

  // Powers of two are applied by repeated halving or doubling: each step is
  // exact in a 64-bit significand while the value stays in the normal range.
  long double low = lo;
  for (int i = 0; i < 32; ++i) low *= 0.5L;
  long double v = static_cast<long double>(hi) + low;
  for (int i = 0; i < 31; ++i) v *= 0.5L;
  if (b[2] & 0x80) v += 1.0L;
  for (int i = 0; i < e; ++i) v *= 2.0L;
  for (int i = 0; i > e; --i) v *= 0.5L;
  return (b[0] & 0x80) ? -v : v;
}

// Writers of ima4 files store 0 or 4 as the sample size: for a compressed
// stream the field does not describe the decoded samples, always 16-bit.
static bool is_ima4(const std::uint8_t* type) { return std::memcmp(type, "ima4", 4) == 0; }

bool parse_comm(Run& run, const std::uint8_t comm[22], SoundFormat& format) {
  const unsigned channels = get_be16(comm);
  const std::uint32_t frames = get_be32(comm + 2);
  const unsigned bits = get_be16(comm + 6);
  const long double rate = extended_to_rate(comm + 8);
  const std::uint8_t* type = comm + 18;

  if (channels != 1 && channels != 2) {
    std::fprintf(run.err, "nb of channels = %d\nonly 1 or 2 channels handled\n",
                 static_cast<int>(channels));
    return false;
  }
  if (bits != 16 && !(is_ima4(type) && (bits == 0 || bits == 4))) {
    std::fprintf(run.err, "bits per sample = %d\nonly 16 bits handled\n", static_cast<int>(bits));
    return false;
  }
  if (!(rate > 0 && rate < 10000000.0L)) {
    std::fprintf(run.err, "freq = %Lf\nonly 0 < freq < 1e7 handled\n", rate);
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
    std::fprintf(run.err, "compression scheme = %s\nonly ima4, sowt and SDX2 handled\n",
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

std::int32_t integer_rate(Run& run, long double rate) {
  const std::int32_t whole = static_cast<std::int32_t>(rate);  // toward zero; rate < 1e7
  if (static_cast<long double>(whole) != rate)
    std::fprintf(run.err, "warning, freq = %Lf will be truncated to %d\n", rate, whole);
  return whole;
}

}  // namespace aifconv
