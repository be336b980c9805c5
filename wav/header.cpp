// The RIFF/WAVE header of the output.
#include "wav/wav.h"

#include <cstring>

#include "driver/context.h"

namespace aifconv {

std::uint64_t wav_data_size(const SoundFormat& format) {
  const std::uint64_t samples = format.codec == Ima4 ? kIma4PacketSamples : 1;  // per channel in one frame
  return std::uint64_t{format.frames} * samples * 2 * format.channels;
}

int write_wav_header(Context& ctx, const SoundFormat& format) {
  const std::int32_t rate = integer_rate(ctx, format.rate);
  const std::uint64_t data_size = wav_data_size(format);
  if (data_size > kMaxWavDataSize) {
    std::fprintf(ctx.err, "data size = %llu\nonly up to 4294967259 bytes of sound data handled\n",
                 static_cast<unsigned long long>(data_size));
    return fail_bad_file(ctx);
  }
  const std::uint32_t size = static_cast<std::uint32_t>(data_size);
  const std::uint32_t bytes_per_sample = format.bits / 8;
  const std::uint32_t rate_u = static_cast<std::uint32_t>(rate);

  std::uint8_t header_buf[kWavHeaderSize];
  std::memcpy(header_buf + 0, "RIFF", 4);
  put_le32(header_buf + 4, size + 36);  // 36 = "WAVE" + 8 fmt header + 16 fmt bytes + 8 data header
  std::memcpy(header_buf + 8, "WAVEfmt ", 8);
  put_le32(header_buf + 16, 16);  // fmt chunk size
  put_le16(header_buf + 20, 1);   // PCM
  put_le16(header_buf + 22, static_cast<std::uint16_t>(format.channels));
  put_le32(header_buf + 24, rate_u);
  put_le32(header_buf + 28, format.channels * rate_u * bytes_per_sample);
  put_le16(header_buf + 32, static_cast<std::uint16_t>(format.channels * bytes_per_sample));
  put_le16(header_buf + 34, static_cast<std::uint16_t>(format.bits));
  std::memcpy(header_buf + 36, "data", 4);
  put_le32(header_buf + 40, size);

  if (!write_output(ctx, header_buf, sizeof header_buf)) return fail_output(ctx);
  return kContinue;
}

}  // namespace aifconv
