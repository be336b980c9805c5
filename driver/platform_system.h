// What each operating system's file (platform_posix.cpp,
// platform_windows.cpp) gives the part of the platform layer they share
// (platform.cpp). Included by those three files only.
#pragma once

#include <cstddef>
#include <cstdint>

namespace aifconv {
namespace platform {

// Largest count handed to one system read or write (the Windows runtime
// takes an unsigned int).
constexpr std::size_t kMaxTransfer = 1u << 30;

// One system write of up to kMaxTransfer bytes: how many were written, or -1
// with errno set.
std::ptrdiff_t write_some(int fd, const std::uint8_t* buf, std::size_t n);
// Move to an absolute position; false with errno set on failure.
bool seek_to(int fd, std::int64_t position);

}  // namespace platform
}  // namespace aifconv
