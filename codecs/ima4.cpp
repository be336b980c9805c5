// "ima4": IMA ADPCM in self-contained 34-byte packets of 64 samples.
//
// A packet starts with a big-endian 16-bit header: the top 9 bits are the
// initial predictor (its low 7 bits zero), the low 7 bits the initial step
// index. 32 bytes of 4-bit codes follow, the low nibble of each byte first.
// Every packet starts from its own header, so packets are independent and the
// scalar decoder runs two of them side by side to keep the CPU busy. This is
// the portable decoder; the vector ones (ima4_x86.cpp, ima4_neon.cpp) decode
// many packets at once and write the same bytes.
#include "codecs/codecs.h"

#include "codecs/decode_buffers.h"
#include "codecs/decoder_paths.h"
#include "codecs/ima4_lanes.h"
#include "codecs/ima4_tables.h"
#include "wav/wav.h"
#include "driver/context.h"

namespace aifconv {

namespace {

constexpr int kMaxIndex = 88;

// The IMA difference for a step and a 4-bit code, built from shifts and
// additions exactly as the reference decoder does (never a multiplication,
// which would round differently), with the code's sign applied.
constexpr int ima_difference(int step, unsigned n) {
  int diff = step >> 3;
  if (n & 4) diff += step;
  if (n & 2) diff += step >> 1;
  if (n & 1) diff += step >> 2;
  return (n & 8) ? -diff : diff;
}

// One decoding step for a (step index, code) pair: the signed difference and
// the next step index, limited to 0..88 and kept multiplied by 16 so that it
// is the start of the next row.
struct ImaStep {
  std::int32_t difference;
  std::uint32_t next_row;
};

struct ImaTable {
  ImaStep entry[(kMaxIndex + 1) * 16];
};

constexpr ImaTable make_ima_table() {
  ImaTable t{};
  for (int index = 0; index <= kMaxIndex; ++index) {
    for (unsigned n = 0; n < 16; ++n) {
      int next = index + ima_index_table[n];
      next = next < 0 ? 0 : next > kMaxIndex ? kMaxIndex : next;
      t.entry[index * 16 + n] = {ima_difference(ima_step_table[index], n),
                                 static_cast<std::uint32_t>(next * 16)};
    }
  }
  return t;
}

constexpr ImaTable ima_table = make_ima_table();

struct ImaState {
  int predictor;
  std::uint32_t row;  // step index * 16
};

// Start a packet from its 2-byte header; an index above 88 is taken as 88.
inline ImaState packet_start(const std::uint8_t* packet) {
  int predictor = packet[0] << 8 | (packet[1] & 0x80);
  if (predictor & 0x8000) predictor -= 0x10000;  // signed 16-bit
  int index = packet[1] & 0x7F;
  if (index > kMaxIndex) index = kMaxIndex;
  return {predictor, static_cast<std::uint32_t>(index * 16)};
}

// Apply one 4-bit code and return the new sample. Only one limit can be
// passed (a subtraction from a value in range cannot exceed 32767, nor an
// addition go below -32768), so clamping to both is the same as the one-sided
// limits; the compiler makes both selects branch-free.
inline int step_code(ImaState& s, unsigned n) {
  const ImaStep e = ima_table.entry[s.row + n];
  int p = s.predictor + e.difference;
  p = p < -32768 ? -32768 : p;
  p = p > 32767 ? 32767 : p;
  s.predictor = p;
  s.row = e.next_row;
  return p;
}

// Decode Lanes consecutive packets from `in` side by side: packet k's sample
// i goes to out + offset[k] + i * Stride. Independent packets give the CPU
// several dependency chains to overlap.
template <int Lanes, std::size_t Stride>
inline void decode_lanes(const std::uint8_t* in, std::uint8_t* out, const std::size_t (&offset)[Lanes]) {
  ImaState s[Lanes];
  for (int k = 0; k < Lanes; ++k) s[k] = packet_start(in + k * kIma4PacketSize);
  for (std::size_t j = 0; j < 32; ++j) {
    unsigned byte[Lanes];
    for (int k = 0; k < Lanes; ++k) byte[k] = in[k * kIma4PacketSize + 2 + j];
    for (int k = 0; k < Lanes; ++k)
      put_le16(out + offset[k] + (2 * j) * Stride, static_cast<std::uint16_t>(step_code(s[k], byte[k] & 0x0F)));
    for (int k = 0; k < Lanes; ++k)
      put_le16(out + offset[k] + (2 * j + 1) * Stride, static_cast<std::uint16_t>(step_code(s[k], byte[k] >> 4)));
  }
}

// Two consecutive packets of frames of `Channels` channels (more lanes run
// out of registers on x86-64 and measure slower). Two mono packets are two
// frames; two stereo packets are one frame's left and right, interleaved.
template <unsigned Channels>
void decode_pair(const std::uint8_t* in, std::uint8_t* out) {
  static constexpr std::size_t kOffset[2] = {0, Channels == 1 ? ima4_lanes::kPacketOut : 2};
  decode_lanes<2, 2 * Channels>(in, out, kOffset);
}

struct Ima4Pass {
  DecoderPath<Ima4Decoder> path;
  unsigned channels;
};

void decode_block(void* state, const std::uint8_t* in, std::size_t frames, std::uint8_t* out) {
  const Ima4Pass& pass = *static_cast<const Ima4Pass*>(state);
  pass.path.decode(in, frames, pass.channels, out);
}

}  // namespace

void decode_ima4_packet(const std::uint8_t packet[34], std::uint8_t out[128]) {
  const std::size_t offset[1] = {0};
  decode_lanes<1, 2>(packet, out, offset);
}

void decode_ima4_scalar(const std::uint8_t* in, std::size_t frames, unsigned channels,
                        std::uint8_t* out) {
  ima4_lanes::decode_by_groups<2, decode_pair<1>, decode_pair<2>>(in, frames, channels, out);
}

void decode_ima4_frames(const std::uint8_t* in, std::size_t frames, unsigned channels,
                        std::uint8_t* out) {
  ima4_path().decode(in, frames, channels, out);
}

// Units of one frame: a packet per channel in, 64 samples per channel out.
int convert_ima4(Context& ctx, const SoundFormat& format) {
  Ima4Pass pass{ima4_path(ctx.hooks.decoder_path), format.channels};
  return convert_blocks(ctx, {format.frames, bytes_per_frame(Ima4, format.channels),
                              kIma4PacketSamples * 2 * format.channels, decode_block, &pass, pass.path.name});
}

}  // namespace aifconv
