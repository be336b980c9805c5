// The part of the platform layer that is the same on every operating system,
// over the calls of platform_system.h.
#include "driver/platform.h"

#include <cerrno>
#include <cstdint>

#include "driver/platform_system.h"

namespace aifconv {
namespace platform {

bool write_file(int fd, const std::uint8_t* buf, std::size_t n) {
  while (n > 0) {
    const std::ptrdiff_t done = write_some(fd, buf, n < kMaxTransfer ? n : kMaxTransfer);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) {
      if (done == 0) errno = ENOSPC;
      return false;
    }
    buf += done;
    n -= static_cast<std::size_t>(done);
  }
  return true;
}

bool seek_file(int fd, std::uint64_t position) {
  if (position > static_cast<std::uint64_t>(INT64_MAX)) {
    errno = EINVAL;
    return false;
  }
  return seek_to(fd, static_cast<std::int64_t>(position));
}

}  // namespace platform
}  // namespace aifconv
