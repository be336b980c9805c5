// Writes the sample files under examples/: a 440 Hz tone, a quarter of a
// second at 8000 Hz, in each of the three encodings the converter reads.
// The ima4 and SDX2 files are encoded by trying every code against the
// converter's own decoders and keeping the closest, one sample at a time.
#include <cmath>
#include <cstdio>
#include <string>

#include "codecs/decode_buffers.h"
#include "tests/aifc_builder.h"

using namespace aifc_test;

namespace {

constexpr int kRate = 8000;
constexpr int kSamples = 2048;  // 32 ima4 packets

Bytes pstring(const std::string& s) {
  Bytes b = cat({{static_cast<std::uint8_t>(s.size())}, text(s)});
  if (b.size() % 2) b.push_back(0);
  return b;
}

Bytes file(std::uint16_t channels, std::uint32_t frames, const std::string& type,
           const std::string& name, const Bytes& data) {
  const Bytes comm_body = cat({comm_fields(channels, frames, 16, rate80(kRate), type), pstring(name)});
  return form(cat({fver(), chunk("COMM", comm_body), ssnd(data)}));
}

int decoded(const std::uint8_t* le) { return static_cast<std::int16_t>(le[0] | le[1] << 8); }

// One ima4 packet for 64 target samples: the best start index, then codes
// chosen greedily (a code never changes the samples before it).
Bytes ima4_packet(const int* target) {
  Bytes best;
  long best_error = -1;
  for (int index = 0; index <= 88; index += 4) {
    Bytes p(34, 0);
    const int predictor = target[0] & ~0x7F;
    p[0] = static_cast<std::uint8_t>((predictor >> 8) & 0xFF);
    p[1] = static_cast<std::uint8_t>((predictor & 0x80) | index);
    std::uint8_t out[128];
    long error = 0;
    for (int i = 0; i < 64; ++i) {
      long closest = -1;
      int code = 0;
      for (int c = 0; c < 16; ++c) {
        std::uint8_t& byte = p[2 + i / 2];
        byte = static_cast<std::uint8_t>(i % 2 ? (byte & 0x0F) | c << 4 : (byte & 0xF0) | c);
        aifconv::decode_ima4_packet(p.data(), out);
        const long e = std::labs(decoded(out + 2 * i) - target[i]);
        if (closest < 0 || e < closest) closest = e, code = c;
      }
      std::uint8_t& byte = p[2 + i / 2];
      byte = static_cast<std::uint8_t>(i % 2 ? (byte & 0x0F) | code << 4 : (byte & 0xF0) | code);
      error += closest;
    }
    if (best_error < 0 || error < best_error) best_error = error, best = p;
  }
  return best;
}

// SDX2 codes for one channel, greedily closest.
Bytes sdx2_codes(const int* target, int n) {
  Bytes codes;
  std::uint16_t prev = 0;
  for (int i = 0; i < n; ++i) {
    long closest = -1;
    std::uint8_t code = 0;
    for (int c = 0; c < 256; ++c) {
      std::uint16_t state = prev;
      std::uint8_t out[2];
      const std::uint8_t b = static_cast<std::uint8_t>(c);
      aifconv::decode_sdx2(&b, 1, 1, &state, out);
      const long e = std::labs(decoded(out) - target[i]);
      if (closest < 0 || e < closest) closest = e, code = b;
    }
    std::uint8_t out[2];
    aifconv::decode_sdx2(&code, 1, 1, &prev, out);
    codes.push_back(code);
  }
  return codes;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string dir = argc > 1 ? argv[1] : "examples";
  int left[kSamples], right[kSamples];
  for (int i = 0; i < kSamples; ++i) left[i] = example_tone(i, 0), right[i] = example_tone(i, 1);

  write_file(dir + "/tone-sowt.aifc",
             file(1, kSamples, "sowt", "little-endian", pcm(std::vector<int>(left, left + kSamples))));

  Bytes ima4;  // stereo: left packet, then right packet, per frame
  for (int k = 0; k < kSamples / 64; ++k) {
    ima4 = cat({ima4, ima4_packet(left + 64 * k), ima4_packet(right + 64 * k)});
  }
  write_file(dir + "/tone-ima4.aifc", file(2, kSamples / 64, "ima4", "IMA 4:1", ima4));

  write_file(dir + "/tone-sdx2.aifc",
             file(1, kSamples, "SDX2", "Square-root delta", sdx2_codes(left, kSamples)));
  return 0;
}
