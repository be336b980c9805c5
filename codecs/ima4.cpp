// "ima4": IMA ADPCM in self-contained 34-byte packets of 64 samples.
//
// A packet starts with a big-endian 16-bit header: the top 9 bits are the
// initial predictor (its low 7 bits zero), the low 7 bits the initial step
// index. 32 bytes of 4-bit codes follow, the low nibble of each byte first.
// Every packet starts from its own header, so packets are independent and the
// frame decoder runs several of them side by side to keep the CPU busy.
#include "codecs/codecs.h"
#include "driver/run.h"

namespace aifconv {

namespace {

const int ima_index_table[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

const int ima_step_table[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,   253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,   876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749,  3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493,  10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

constexpr int kMaxIndex = 88;

struct ImaState {
  int predictor;
  int index;
};

// Start a packet from its 2-byte header; an index above 88 is taken as 88.
ImaState packet_start(const std::uint8_t* packet) {
  int predictor = packet[0] << 8 | (packet[1] & 0x80);
  if (predictor & 0x8000) predictor -= 0x10000;  // signed 16-bit
  int index = packet[1] & 0x7F;
  if (index > kMaxIndex) index = kMaxIndex;
  return {predictor, index};
}

// Apply one 4-bit code and return the new sample. The difference is built
// from shifts and additions, never a multiplication, so that it rounds exactly
// as the IMA reference decoder does; selects are masks rather than branches.
inline int step_code(ImaState& s, unsigned n) {
  const int step = ima_step_table[s.index];
  int diff = step >> 3;
  diff += step & -static_cast<int>((n >> 2) & 1);
  diff += (step >> 1) & -static_cast<int>((n >> 1) & 1);
  diff += (step >> 2) & -static_cast<int>(n & 1);
  const int sign = -static_cast<int>(n >> 3);  // 0 or -1
  int p = s.predictor + ((diff ^ sign) - sign);
  // Only one side can be exceeded: a subtraction from a value in range cannot
  // pass 32767, nor an addition -32768, so clamping both is the same limit.
  p = p < -32768 ? -32768 : p;
  p = p > 32767 ? 32767 : p;
  s.predictor = p;
  int index = s.index + ima_index_table[n];
  index = index < 0 ? 0 : index;
  index = index > kMaxIndex ? kMaxIndex : index;
  s.index = index;
  return p;
}

inline void store_sample(std::uint8_t* out, int v) {
  const std::uint16_t u = static_cast<std::uint16_t>(v);
  out[0] = static_cast<std::uint8_t>(u);
  out[1] = static_cast<std::uint8_t>(u >> 8);
}

// Decode Lanes packets side by side; sample i of packet k goes to
// out[k] + i * stride.
template <int Lanes>
void decode_lanes(const std::uint8_t* const* in, std::uint8_t* const* out, std::size_t stride) {
  ImaState s[Lanes];
  for (int k = 0; k < Lanes; ++k) s[k] = packet_start(in[k]);
  for (std::size_t j = 0; j < 32; ++j) {
    for (int k = 0; k < Lanes; ++k) {
      const unsigned byte = in[k][2 + j];
      store_sample(out[k] + (2 * j) * stride, step_code(s[k], byte & 0x0F));
    }
    for (int k = 0; k < Lanes; ++k) {
      const unsigned byte = in[k][2 + j];
      store_sample(out[k] + (2 * j + 1) * stride, step_code(s[k], byte >> 4));
    }
  }
}

}  // namespace

void decode_ima4_packet(const std::uint8_t packet[34], std::uint8_t out[128]) {
  const std::uint8_t* in[1] = {packet};
  std::uint8_t* dst[1] = {out};
  decode_lanes<1>(in, dst, 2);
}

void decode_ima4_frames(const std::uint8_t* in, std::size_t frames, unsigned channels,
                        std::uint8_t* out) {
  // Packet k belongs to channel k % channels of frame k / channels; its samples
  // are interleaved with the other channel's in the output frame.
  const std::size_t packets = frames * channels;
  const std::size_t stride = 2 * channels;
  auto dest = [&](std::size_t k) {
    return out + (k / channels) * (kIma4PacketSamples * stride) + (k % channels) * 2;
  };
  constexpr int kLanes = 4;
  std::size_t k = 0;
  for (; k + kLanes <= packets; k += kLanes) {
    const std::uint8_t* src[kLanes];
    std::uint8_t* dst[kLanes];
    for (int l = 0; l < kLanes; ++l) {
      src[l] = in + (k + l) * kIma4PacketSize;
      dst[l] = dest(k + l);
    }
    decode_lanes<kLanes>(src, dst, stride);
  }
  for (; k < packets; ++k) {
    const std::uint8_t* src[1] = {in + k * kIma4PacketSize};
    std::uint8_t* dst[1] = {dest(k)};
    decode_lanes<1>(src, dst, stride);
  }
}

int convert_ima4(Run& run, const SoundFormat& format) {
  // A block holds whole frames: at most 64 KiB of packets in, 128 bytes out
  // per packet.
  constexpr std::size_t kBlockPackets = 64 * 1024 / kIma4PacketSize;  // 1927
  static std::uint8_t in_block[kBlockPackets * kIma4PacketSize];
  static std::uint8_t out_block[kBlockPackets * kIma4PacketSamples * 2];
  const unsigned channels = format.channels;
  const std::size_t frame_in = kIma4PacketSize * channels;
  const std::size_t frame_out = kIma4PacketSamples * 2 * channels;
  const std::size_t block_frames = kBlockPackets / channels;

  std::uint32_t remaining = format.frames;
  while (remaining > 0) {
    const std::size_t frames = remaining < block_frames ? remaining : block_frames;
    const std::size_t got = read_input(run, in_block, frames * frame_in);
    // Frames that arrived whole are decoded and written before a short read
    // is reported, as they would be frame by frame.
    const std::size_t whole = got / frame_in;
    decode_ima4_frames(in_block, whole, channels, out_block);
    if (!write_output(run, out_block, whole * frame_out)) return fail_output(run);
    if (whole < frames) {
      report_short_read(run);
      return fail_bad_file(run);
    }
    remaining -= static_cast<std::uint32_t>(frames);
  }
  return finish_success(run);
}

}  // namespace aifconv
