// Decoder micro-benchmarks: samples per second of the ima4 packet decoder and
// the SDX2 decoder on random input held in memory.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "codecs/codecs.h"

namespace {

std::vector<std::uint8_t> random_bytes(std::size_t n) {
  std::mt19937 rng(7);
  std::vector<std::uint8_t> v(n);
  for (auto& b : v) b = static_cast<std::uint8_t>(rng());
  return v;
}

void BM_Ima4Frames(benchmark::State& state) {
  const unsigned channels = static_cast<unsigned>(state.range(0));
  const std::size_t frames = 1920 / channels;  // one 64 KiB input block
  std::vector<std::uint8_t> in = random_bytes(frames * channels * 34);
  for (std::size_t p = 0; p < in.size(); p += 34) in[p + 1] = static_cast<std::uint8_t>(in[p + 1] % 89);
  std::vector<std::uint8_t> out(frames * channels * 128);
  for (auto _ : state) {
    aifconv::decode_ima4_frames(in.data(), frames, channels, out.data());
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * frames * channels * 64));
}
BENCHMARK(BM_Ima4Frames)->Arg(1)->Arg(2);

void BM_Ima4OnePacket(benchmark::State& state) {
  std::vector<std::uint8_t> in = random_bytes(34);
  in[1] = 40;
  std::uint8_t out[128];
  for (auto _ : state) {
    aifconv::decode_ima4_packet(in.data(), out);
    benchmark::DoNotOptimize(out);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * 64));
}
BENCHMARK(BM_Ima4OnePacket);

void BM_Sdx2(benchmark::State& state) {
  const unsigned channels = static_cast<unsigned>(state.range(0));
  const std::vector<std::uint8_t> in = random_bytes(64 * 1024);
  std::vector<std::uint8_t> out(2 * in.size());
  std::uint16_t prev[2] = {0, 0};
  for (auto _ : state) {
    aifconv::decode_sdx2(in.data(), in.size(), channels, prev, out.data());
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * in.size()));
}
BENCHMARK(BM_Sdx2)->Arg(1)->Arg(2);

}  // namespace

BENCHMARK_MAIN();
