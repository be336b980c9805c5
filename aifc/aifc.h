// AIFF-C reader: the chunk walk over a "FORM"/"AIFC" container, the COMM
// fields and the 80-bit extended sample rate.
//
// Every number in an AIFF-C file is big-endian and is assembled byte by byte,
// so nothing here depends on the host's byte order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace aifconv {

struct Context;

// Read a big-endian 16- or 32-bit unsigned value from p, one byte at a time,
// each byte cast before it is shifted.
inline std::uint16_t get_be16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>((static_cast<unsigned>(p[0]) << 8) | p[1]);
}
inline std::uint32_t get_be32(const std::uint8_t* p) {
  return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
         (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}

// Sound data encodings the converter reads (the COMM compression type).
enum Codec : int {
  Ima4 = 1,  // "ima4": 34-byte IMA ADPCM packets of 64 samples
  Sowt = 2,  // "sowt": 16-bit little-endian PCM
  Sdx2 = 3,  // "SDX2": one 8-bit square-root delta code per sample
};

// Result of read_chunk_header; the walk dispatches on it.
enum ChunkKind : int {
  EndOfFile = -3,       // no byte could be read and the input is at its end
  UnhandledChunk = -2,  // complete header, identifier not one of the four known
  ReadFailure = -1,     // read error, short header or form type, or not "AIFC"
  FormAifc = 1,         // "FORM" followed by form type "AIFC"
  Comm = 2,
  Fver = 3,
  Ssnd = 4,
};

// Bit set of the chunks the walk has accepted so far.
enum ChunkSeen : unsigned {
  SeenForm = 1,
  SeenComm = 2,
  SeenFver = 4,
  SeenSsnd = 8,
};

// A sample rate as its 80-bit extended encoding holds it. The value is
// (-1)^negative x significand x 2^(exponent - 16383 - 63), except that it is
// an infinity when the exponent is 32767 and the integer bit (bit 63 of the
// significand) is set, and that with exponent 0 the scale is 2^-16446 and a
// significand of 1 gives zero. The functions below answer as the 80-bit
// extended format does when the fraction is scaled by repeated halving or
// doubling.
struct ExtendedRate {
  bool negative = false;
  std::uint16_t exponent = 0;     // biased by 16383, 0..32767
  std::uint64_t significand = 0;  // the explicit integer bit, then the 63 fraction bits
};

// Size of the longest rate text: a sign, the 4,933 digits of the largest
// finite value below 2^16385, the point, six decimals and the terminator.
constexpr std::size_t kRateTextSize = 1 + 4933 + 1 + 6 + 1;

// A rate printed as C's "%Lf" prints the value: see rate_text.
struct RateText {
  char text[kRateTextSize];
};

// The stream description gathered by the walk.
struct SoundFormat {
  unsigned channels = 0;    // 1 or 2 once accepted
  std::uint32_t frames = 0;  // packets per channel for ima4, sample frames otherwise
  unsigned bits = 0;        // always 16 once accepted
  ExtendedRate rate;        // unrounded
  Codec codec = Sowt;
  std::uint64_t data_start = 0;  // absolute input position of the first sound byte
};

// Bytes of one ima4 packet, and the samples of one channel it decodes to.
constexpr std::uint32_t kIma4PacketSize = 34;
constexpr std::uint32_t kIma4PacketSamples = 64;

// Bytes of sound data one frame takes in the input: one packet per channel
// for ima4, one 2-byte sample per channel for sowt, one code per channel for
// SDX2.
inline std::uint32_t bytes_per_frame(Codec codec, unsigned channels) {
  return (codec == Ima4 ? kIma4PacketSize : codec == Sowt ? 2u : 1u) * channels;
}

// The AIFF-C version 1 stamp an FVER chunk must hold.
constexpr std::uint32_t kAifcVersion1 = 0xA2805140u;

// Four identifier bytes as a C string for "%s", made safe for a terminal:
// a byte outside printable ASCII (0x20-0x7E) prints as '?', so a crafted file
// cannot send escape sequences; a zero byte ends the text early, as it would
// in any C string.
struct IdText {
  char text[5];
};
inline IdText id_text(const std::uint8_t id[4]) {
  IdText t;
  for (int i = 0; i < 4; ++i)
    t.text[i] = id[i] == 0 ? '\0' : id[i] < 0x20 || id[i] > 0x7E ? '?' : static_cast<char>(id[i]);
  t.text[4] = '\0';
  return t;
}

// Read one 8-byte chunk header from the run's input. *size receives the
// stored size (minus 4 for the container, so that it counts only the chunks
// inside it) whenever a whole header was read without a stream error.
// Prints the unsupported-type message or the unhandled-chunk warning itself.
ChunkKind read_chunk_header(Context& ctx, std::uint32_t* size);

// Walk every chunk of the container. Returns kContinue with `format` complete
// (COMM and SSND both accepted), or the status of the failure exit it took.
int walk_chunks(Context& ctx, SoundFormat& format);

// Decode and validate the 22 fixed COMM bytes into `format`. Returns true when
// accepted; on rejection the two-line message has been printed to ctx.err.
bool parse_comm(Context& ctx, const std::uint8_t comm[22], SoundFormat& format);

// Split a big-endian IEEE 754 80-bit extended real into its sign, exponent
// and significand. Every one of the 2^80 patterns is a valid rate: there is
// no NaN, an exponent of 32767 is a plain (huge or infinite) value.
ExtendedRate extended_to_rate(const std::uint8_t bytes[10]);

// Is 1 <= rate < 10,000,000? (A rate below 1 Hz would be 0 in the WAV
// header.) False for zeros of either sign and infinities.
bool rate_in_range(const ExtendedRate& rate);

// The rate truncated toward zero into *whole, and into *has_fraction whether
// that dropped a nonzero fraction. Returns false, storing nothing, when the
// truncated value does not fit in 32 signed bits (infinities included).
bool rate_whole(const ExtendedRate& rate, std::int32_t* whole, bool* has_fraction);

// The rate as "%Lf" prints it: "inf" or "-inf", otherwise every digit of the
// whole part, a point and six decimals of the exact value rounded to nearest,
// ties to even, with a minus sign on every negative value ("-0.000000" too).
RateText rate_text(const ExtendedRate& rate);

// Truncate an accepted rate (1 <= rate < 1e7) toward zero, printing the
// truncation warning to ctx.err when a fraction is lost.
std::int32_t integer_rate(Context& ctx, const ExtendedRate& rate);

}  // namespace aifconv
