// Sample conversion: the data pass that follows the WAV header, with the sowt
// copy and the ima4 and SDX2 decoders. Output is 16-bit little-endian PCM.
#pragma once

#include <cstddef>
#include <cstdint>

#include "aifc/aifc.h"

namespace aifconv {

struct Context;

// Seek the input to format.data_start and convert format.frames frames to the
// output, then end the run: returns 0 after the success exit, or the status of
// the failure exit taken (a short read names the input, a failed write or seek
// the output).
int convert_samples(Context& ctx, const SoundFormat& format);

// One codec's part of the data pass: `units` units, each `in_size` bytes of
// input and `out_size` bytes of output (never fewer than in). `decode` turns
// whole units at `in` into output at `out`, with `state` (the decoder, the
// channels, what carries over); without one the input is the output (sowt).
// `decoder` names the decoder (codecs/decoder_paths.h), for the hooks.
struct BlockStep {
  std::uint64_t units;
  std::size_t in_size;
  std::size_t out_size;
  void (*decode)(void* state, const std::uint8_t* in, std::size_t units, std::uint8_t* out);
  void* state;
  const char* decoder;
};

// The data pass after the seek: blocks of whole units read, decoded and
// written; the units of a short read that arrived whole are written before
// it is reported. Returns as convert_samples.
int convert_blocks(Context& ctx, const BlockStep& step);

// The ima4 and SDX2 passes, entered after the seek.
int convert_ima4(Context& ctx, const SoundFormat& format);
int convert_sdx2(Context& ctx, const SoundFormat& format);

}  // namespace aifconv
