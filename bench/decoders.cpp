// Decoder micro-benchmarks: samples per second of the ima4 packet decoder and
// the SDX2 decoder on random input held in memory, through the public entry
// points and through every implementation the running CPU supports.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "codecs/codecs.h"
#include "codecs/decode_buffers.h"
#include "codecs/decoder_paths.h"

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

// One implementation, mono or stereo, on the same block as BM_Ima4Frames.
void ima4_path(benchmark::State& state, aifconv::Ima4Decoder decode, unsigned channels) {
  const std::size_t frames = 1920 / channels;
  std::vector<std::uint8_t> in = random_bytes(frames * channels * 34);
  for (std::size_t p = 0; p < in.size(); p += 34) in[p + 1] = static_cast<std::uint8_t>(in[p + 1] % 89);
  std::vector<std::uint8_t> out(frames * channels * 128);
  for (auto _ : state) {
    decode(in.data(), frames, channels, out.data());
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * frames * channels * 64));
}

void sdx2_path(benchmark::State& state, aifconv::Sdx2Decoder decode, unsigned channels) {
  const std::vector<std::uint8_t> in = random_bytes(64 * 1024);
  std::vector<std::uint8_t> out(2 * in.size());
  std::uint16_t prev[2] = {0, 0};
  for (auto _ : state) {
    decode(in.data(), in.size(), channels, prev, out.data());
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * in.size()));
}

void register_paths() {
  aifconv::DecoderPath<aifconv::Ima4Decoder> ima4[aifconv::kMaxDecoderPaths];
  const std::size_t n_ima4 = aifconv::ima4_paths(ima4);
  for (std::size_t i = 0; i < n_ima4; ++i)
    for (unsigned channels = 1; channels <= 2; ++channels)
      benchmark::RegisterBenchmark(
          (std::string("Ima4Path/") + ima4[i].name + (channels == 1 ? "/mono" : "/stereo")).c_str(), ima4_path,
          ima4[i].decode, channels);
  aifconv::DecoderPath<aifconv::Sdx2Decoder> sdx2[aifconv::kMaxDecoderPaths];
  const std::size_t n_sdx2 = aifconv::sdx2_paths(sdx2);
  for (std::size_t i = 0; i < n_sdx2; ++i)
    for (unsigned channels = 1; channels <= 2; ++channels)
      benchmark::RegisterBenchmark(
          (std::string("Sdx2Path/") + sdx2[i].name + (channels == 1 ? "/mono" : "/stereo")).c_str(), sdx2_path,
          sdx2[i].decode, channels);
}

}  // namespace

int main(int argc, char** argv) {
  register_paths();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
