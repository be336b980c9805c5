// The operating-system calls of the converter, and nothing else: opening,
// reading, writing, positioning and removing files by path, file identity, and
// the cleanup of an interrupted run. Everything above this face is standard
// C++; each operating system has a file of its own behind it
// (platform_posix.cpp, platform_windows.cpp), and the build picks one; what
// is the same on every system is in platform.cpp.
//
// Paths are UTF-8 everywhere. Files are plain descriptors; positions and sizes
// are 64-bit whatever the build flags, so a sound data offset past 2 GiB means
// the same on every host.
#pragma once

#include <cstddef>
#include <cstdint>

namespace aifconv {
namespace platform {

// Open `path` for reading in binary mode. Return a descriptor, or -1 with
// errno set.
int open_input(const char* path);
// Create or truncate `path` for writing in binary mode; return a descriptor,
// or -1 with errno set. A symbolic link is followed to its final target,
// which is the file written (and created when the link dangles). When that is
// a regular file, it is registered as the output an interruption or a failed
// run must remove (see prepare_process and take_output), leaving no moment
// between the two in which a signal would leave it behind. A device or FIFO
// is not registered: the run did not make it. Nor is what a link whose text
// names no file leads to (/dev/stdout to a pipe, a socket or a deleted file,
// through the system's links under /proc): that is opened through the link,
// as a plain open of the path would.
int open_output(const char* path);
// Close a descriptor; false (errno set) when the system reports an error,
// such as a delayed write failure.
bool close_file(int fd);

// Read up to n bytes; returns how many arrived (0 at end of file), or -1 with
// errno set. Retried when a signal interrupts it.
std::ptrdiff_t read_file(int fd, std::uint8_t* buf, std::size_t n);
// Write all n bytes; false with errno set when not all of them could be.
bool write_file(int fd, const std::uint8_t* buf, std::size_t n);
// Move to an absolute position; false with errno set on failure (a pipe).
bool seek_file(int fd, std::uint64_t position);

// True when `fd` is a regular file; its size then goes to *size when given.
bool is_regular_file(int fd, std::uint64_t* size = nullptr);
// True when `path` exists and is the very file open as `fd` (a hard link or a
// symbolic link to it included).
bool same_file(int fd, const char* path);
// Remove a file by path; the result is not examined by callers.
void remove_file(const char* path);

// For a command-line program, once at the start: take the command line in
// UTF-8 (on Windows, from the wide-character command line); leave files of
// a size limit and closed pipes to fail as ordinary write errors; and have
// every signal or console event that ends the process remove the output
// registered below first. Signals that were ignored when the program
// started stay ignored. Not for in-process callers: their signals are
// their own.
void prepare_process(int* argc, char*** argv);

// Take back the registration of open_output; returns the path of the file
// it registered (a link's target, not the link), valid until the next
// open_output, or null when none was registered.
const char* take_output();

// Hold the signals (or console events) that end the process, from taking
// the output back until it is closed and, after a failure, removed: one that
// came meanwhile would find nothing to remove and leave the file behind. One
// that arrives while held is delivered at release_signals, and still ends
// the process. Not nested.
void hold_signals();
void release_signals();

}  // namespace platform
}  // namespace aifconv
