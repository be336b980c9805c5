// Writes the benchmark's inputs: stereo AIFF-C files of random sound data
// (every ima4 packet header with a step index of 0..88), 44100 Hz.
//
// Usage: make_inputs DIR [scale]
//   DIR/sowt.aifc  256 MiB of sowt data   (256 MiB of output)
//   DIR/ima4.aifc   68 MiB of ima4 packets (256 MiB of output)
//   DIR/sdx2.aifc  128 MiB of SDX2 codes   (256 MiB of output)
//   DIR/small/NNN-<codec>.aifc  200 files of about 200 KB per codec
// scale < 1 shrinks the three large files for a quick run.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

void put_be16(std::vector<std::uint8_t>& v, std::uint32_t x) {
  v.push_back(static_cast<std::uint8_t>(x >> 8));
  v.push_back(static_cast<std::uint8_t>(x));
}
void put_be32(std::vector<std::uint8_t>& v, std::uint32_t x) {
  put_be16(v, x >> 16);
  put_be16(v, x & 0xFFFF);
}
void put_id(std::vector<std::uint8_t>& v, const char* id) { v.insert(v.end(), id, id + 4); }

// Header of a stereo AIFF-C file of `data_bytes` sound data bytes, 44100 Hz.
std::vector<std::uint8_t> aifc_header(const char* type, std::uint32_t frames,
                                      std::uint32_t data_bytes) {
  std::vector<std::uint8_t> h;
  put_id(h, "FORM");
  put_be32(h, 4 + 12 + 32 + 16 + data_bytes);
  put_id(h, "AIFC");
  put_id(h, "FVER");
  put_be32(h, 4);
  put_be32(h, 0xA2805140u);
  put_id(h, "COMM");
  put_be32(h, 24);
  put_be16(h, 2);
  put_be32(h, frames);
  put_be16(h, 16);
  const std::uint8_t rate[10] = {0x40, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0};
  h.insert(h.end(), rate, rate + 10);
  put_id(h, type);
  put_be16(h, 0);
  put_id(h, "SSND");
  put_be32(h, 8 + data_bytes);
  put_be32(h, 0);
  put_be32(h, 0);
  return h;
}

// Write the header, then `data_bytes` random bytes made valid for the codec.
void make_input(const std::string& path, const char* type, std::uint32_t frames,
                std::uint32_t data_bytes, bool ima4, std::uint64_t seed) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    std::perror(path.c_str());
    std::exit(1);
  }
  const std::vector<std::uint8_t> h = aifc_header(type, frames, data_bytes);
  std::fwrite(h.data(), 1, h.size(), f);
  std::mt19937_64 rng(seed);
  std::vector<std::uint8_t> block(34 * 2048);
  for (std::uint32_t done = 0; done < data_bytes;) {
    for (std::size_t i = 0; i < block.size(); i += 8) {
      const std::uint64_t r = rng();
      for (int b = 0; b < 8; ++b) block[i + b] = static_cast<std::uint8_t>(r >> (8 * b));
    }
    if (ima4)  // step index 0..88 in every packet header
      for (std::size_t p = 0; p < block.size(); p += 34)
        block[p + 1] = static_cast<std::uint8_t>((block[p + 1] & 0x80) | (block[p + 1] % 89));
    const std::uint32_t n = std::min<std::uint32_t>(data_bytes - done, static_cast<std::uint32_t>(block.size()));
    std::fwrite(block.data(), 1, n, f);
    done += n;
  }
  std::fclose(f);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s DIR [scale]\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  const double scale = argc > 2 ? std::atof(argv[2]) : 1.0;
  const std::uint32_t mib = 1024 * 1024;
  struct Input {
    const char* name;
    const char* type;
    std::uint32_t frame_bytes;  // stereo
    std::uint32_t large_frames;
    std::uint32_t small_frames;
  };
  const Input inputs[] = {
      {"sowt", "sowt", 4, static_cast<std::uint32_t>(64 * mib * scale), 50000},
      {"ima4", "ima4", 68, static_cast<std::uint32_t>(mib * scale), 2900},
      {"sdx2", "SDX2", 2, static_cast<std::uint32_t>(64 * mib * scale), 100000},
  };
  std::uint64_t seed = 1;
  for (const Input& in : inputs) {
    make_input(dir + "/" + in.name + ".aifc", in.type, in.large_frames,
               in.large_frames * in.frame_bytes, in.frame_bytes == 68, seed++);
    for (int i = 0; i < 200; ++i) {
      char name[64];
      std::snprintf(name, sizeof name, "/small/%03d-%s.aifc", i, in.name);
      make_input(dir + name, in.type, in.small_frames, in.small_frames * in.frame_bytes,
                 in.frame_bytes == 68, seed++);
    }
  }
  return 0;
}
