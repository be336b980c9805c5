// End-to-end throughput of whole conversions, in-process, against a plain
// block copy of the same input file measured in the same run, and the peak
// resident memory of a conversion on a small and on the largest input.
//
// Usage: aifconv_throughput [scale]   (scale 1 = 256 MiB sowt, 64 MiB ima4,
// 128 MiB SDX2; a smaller scale such as 0.1 makes a quick run)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "driver/run.h"

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
                std::uint32_t data_bytes, bool ima4) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::perror(path.c_str()), std::exit(1);
  const std::vector<std::uint8_t> h = aifc_header(type, frames, data_bytes);
  std::fwrite(h.data(), 1, h.size(), f);
  std::mt19937_64 rng(42);
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

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double time_conversion(const std::string& in, const std::string& out) {
  const char* argv[] = {"aifconv", in.c_str(), out.c_str(), nullptr};
  const auto t0 = std::chrono::steady_clock::now();
  const int status = aifconv::run(3, argv, stderr);
  const double s = seconds_since(t0);
  if (status != 0) std::fprintf(stderr, "conversion of %s failed\n", in.c_str()), std::exit(1);
  return s;
}

// The baseline: read 64 KiB, write 64 KiB, to the end of the file.
double time_copy(const std::string& in, const std::string& out) {
  static std::uint8_t buf[64 * 1024];
  const auto t0 = std::chrono::steady_clock::now();
  std::FILE* a = std::fopen(in.c_str(), "rb");
  std::FILE* b = std::fopen(out.c_str(), "wb");
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, a)) > 0) std::fwrite(buf, 1, n, b);
  std::fclose(a);
  std::fclose(b);
  return seconds_since(t0);
}

// Peak resident memory, in KiB, of one conversion in a child process.
long peak_rss_kib(const std::string& in, const std::string& out) {
  const pid_t pid = fork();
  if (pid == 0) {
    const char* argv[] = {"aifconv", in.c_str(), out.c_str(), nullptr};
    _exit(aifconv::run(3, argv, stderr));
  }
  int status = 0;
  struct rusage usage;
  wait4(pid, &status, 0, &usage);
  return usage.ru_maxrss;
}

long file_size(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  std::fseek(f, 0, SEEK_END);
  const long n = std::ftell(f);
  std::fclose(f);
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  const double scale = argc > 1 ? std::atof(argv[1]) : 1.0;
  const int runs = 5;
  char dir_template[] = "/tmp/aifconv-bench.XXXXXX";
  const char* dir_made = mkdtemp(dir_template);
  if (!dir_made) return std::perror("mkdtemp"), 1;
  const std::string dir = dir_made;
  const std::uint32_t mib = 1024 * 1024;

  struct Input {
    const char* name;
    const char* type;
    std::uint32_t bytes;
    std::uint32_t frame_bytes;
    bool ima4;
  };
  const Input inputs[] = {
      {"sowt", "sowt", static_cast<std::uint32_t>(256 * mib * scale) / 4 * 4, 4, false},
      {"ima4", "ima4", static_cast<std::uint32_t>(64 * mib * scale) / 68 * 68, 68, true},
      {"SDX2", "SDX2", static_cast<std::uint32_t>(128 * mib * scale) / 2 * 2, 2, false},
  };

  std::printf("%-5s %9s %10s %10s %10s %10s %7s\n", "codec", "input MB", "median s", "MB/s",
              "copy s", "copy MB/s", "ratio");
  std::string largest;
  long largest_size = 0;
  for (const Input& in : inputs) {
    const std::string path = dir + "/" + in.name + ".aifc", out = dir + "/out.wav";
    make_input(path, in.type, in.bytes / in.frame_bytes, in.bytes, in.ima4);
    const double mb = static_cast<double>(file_size(path)) / 1e6;
    std::vector<double> conv, copy;
    time_conversion(path, out);  // warm the page cache
    for (int i = 0; i < runs; ++i) {
      copy.push_back(time_copy(path, out));
      conv.push_back(time_conversion(path, out));
    }
    const double c = median(conv), b = median(copy);
    std::printf("%-5s %9.1f %10.4f %10.0f %10.4f %10.0f %7.2f\n", in.name, mb, c, mb / c, b, mb / b,
                c / b);
    if (file_size(path) > largest_size) largest = path, largest_size = file_size(path);
    if (path != largest) std::remove(path.c_str());
  }

  const std::string small = dir + "/small.aifc";
  make_input(small, "sowt", mib / 4, mib, false);
  std::printf("peak RSS: %ld KiB on a 1 MiB input, %ld KiB on the %.0f MB input\n",
              peak_rss_kib(small, dir + "/out.wav"), peak_rss_kib(largest, dir + "/out.wav"),
              static_cast<double>(largest_size) / 1e6);
  std::remove(small.c_str());
  std::remove(largest.c_str());
  std::remove((dir + "/out.wav").c_str());
  rmdir(dir.c_str());
  return 0;
}
