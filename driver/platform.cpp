// The operating-system calls: POSIX descriptors and signals, or the Windows C
// runtime's descriptors, file information and console events.
#if !defined(_WIN32) && !defined(_FILE_OFFSET_BITS)
#define _FILE_OFFSET_BITS 64  // 64-bit off_t on 32-bit hosts, whatever the build flags
#endif

#include "driver/platform.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#endif

namespace aifconv {
namespace platform {

namespace {

// The registered output's path, exchanged atomically, so that the exits of
// the run and an interruption never both take it.
std::atomic<const char*> registered_path{nullptr};

// The file open_output writes: the output path with every symbolic link
// followed.
constexpr std::size_t kMaxTarget = 4096;
char output_target[kMaxTarget];
static_assert(std::atomic<const char*>::is_always_lock_free, "used from a signal handler");

// Largest count handed to one system read or write (the Windows runtime
// takes an unsigned int).
constexpr std::size_t kMaxTransfer = 1u << 30;

}  // namespace

#ifdef _WIN32

namespace {

// STATUS_CONTROL_C_EXIT: the status of a console program ended by Ctrl-C.
constexpr UINT kControlCExit = 0xC000013Au;

// Longest path the wide-character calls take, in UTF-16 units.
constexpr int kMaxPath = 32768;

// UTF-8 `path` as UTF-16 into out[kMaxPath]; false (errno set) when it is not
// valid UTF-8 or too long.
bool widen(const char* path, wchar_t* out) {
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, out, kMaxPath) == 0) {
    errno = GetLastError() == ERROR_INSUFFICIENT_BUFFER ? ENAMETOOLONG : ENOENT;
    return false;
  }
  return true;
}

// The registered output's path in UTF-16 and its descriptor, ready for the
// console handler, which must not allocate.
wchar_t registered_wide[kMaxPath];
std::atomic<int> registered_fd{-1};

// Set while the run's exit closes and removes the output; the console
// handler waits for it.
std::atomic<bool> held{false};

// Console events end the process after their handler: close the output (an
// open file cannot be deleted), delete it, and end as Ctrl-C ends a program.
// The handler runs in a thread of its own: while the exit holds events, it
// waits for the exit to finish with the output.
BOOL WINAPI on_console_event(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      break;
    default:
      return FALSE;
  }
  while (held.load()) Sleep(1);
  if (registered_path.exchange(nullptr)) {
    const intptr_t handle = _get_osfhandle(registered_fd.load());
    if (handle != -1) CloseHandle(reinterpret_cast<HANDLE>(handle));
    DeleteFileW(registered_wide);
  }
  ExitProcess(kControlCExit);
}

bool file_index(HANDLE h, BY_HANDLE_FILE_INFORMATION* info) {
  return h != INVALID_HANDLE_VALUE && GetFileInformationByHandle(h, info) != 0;
}

std::ptrdiff_t write_some(int fd, const std::uint8_t* buf, std::size_t n) {
  return _write(fd, buf, static_cast<unsigned>(n));
}

bool seek_to(int fd, std::int64_t position) { return _lseeki64(fd, position, SEEK_SET) >= 0; }

}  // namespace

int open_input(const char* path) {
  wchar_t wide[kMaxPath];
  if (!widen(path, wide)) return -1;
  return _wopen(wide, _O_RDONLY | _O_BINARY);
}

int open_output(const char* path) {
  if (!widen(path, registered_wide)) return -1;
  const int fd = _wopen(registered_wide, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (fd >= 0 && is_regular_file(fd)) {
    // The file written, a link's target rather than the link: the name the
    // system gives the open file.
    const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    wchar_t final_path[kMaxPath];
    const DWORD n = GetFinalPathNameByHandleW(h, final_path, kMaxPath, FILE_NAME_NORMALIZED);
    if (n > 0 && n < kMaxPath &&
        WideCharToMultiByte(CP_UTF8, 0, final_path, -1, output_target, kMaxTarget, nullptr, nullptr) > 0) {
      wcscpy(registered_wide, final_path);
    } else {
      std::strncpy(output_target, path, kMaxTarget - 1);
      output_target[kMaxTarget - 1] = '\0';
    }
    registered_fd = fd;
    registered_path = output_target;
  }
  return fd;
}

bool close_file(int fd) { return _close(fd) == 0; }

std::ptrdiff_t read_file(int fd, std::uint8_t* buf, std::size_t n) {
  if (n > kMaxTransfer) n = kMaxTransfer;
  return _read(fd, buf, static_cast<unsigned>(n));
}

bool is_regular_file(int fd, std::uint64_t* size) {
  struct _stati64 st;
  if (_fstati64(fd, &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG) return false;
  if (size) *size = static_cast<std::uint64_t>(st.st_size);
  return true;
}

// The volume serial number and file index name one file, whatever path or
// link led to it (st_ino is always 0 on Windows).
bool same_file(int fd, const char* path) {
  wchar_t wide[kMaxPath];
  if (!widen(path, wide)) return false;
  BY_HANDLE_FILE_INFORMATION a, b;
  if (!file_index(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), &a)) return false;
  HANDLE h = CreateFileW(wide, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  const bool known = file_index(h, &b);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  return known && a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
         a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

void remove_file(const char* path) {
  wchar_t wide[kMaxPath];
  if (widen(path, wide)) DeleteFileW(wide);
}

void hold_signals() { held = true; }
void release_signals() { held = false; }

void prepare_process(int* argc, char*** argv) {
  // The command line in UTF-8, from its wide-character form; kept for the
  // whole process.
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide && count == *argc) {
    char** utf8 = static_cast<char**>(std::calloc(static_cast<std::size_t>(count) + 1, sizeof(char*)));
    bool ok = utf8 != nullptr;
    for (int i = 0; ok && i < count; ++i) {
      const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
      utf8[i] = bytes > 0 ? static_cast<char*>(std::malloc(static_cast<std::size_t>(bytes))) : nullptr;
      ok = utf8[i] && WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, utf8[i], bytes, nullptr, nullptr) > 0;
    }
    if (ok) *argv = utf8;
  }
  if (wide) LocalFree(wide);
  SetConsoleCtrlHandler(on_console_event, TRUE);
}

#else  // POSIX

static_assert(sizeof(off_t) >= 8, "file positions must be 64-bit");

namespace {

// A signal that ends the process: remove the registered output, then end by
// the same signal with its default action. Every cleanup signal is blocked
// while this runs, so a second one cannot cut the removal short.
extern "C" void on_signal(int sig) {
  const char* path = registered_path.exchange(nullptr);
  if (path) unlink(path);
  struct sigaction dfl = {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  sigaction(sig, &dfl, nullptr);
  raise(sig);  // delivered once this handler returns and the mask is restored
}

// Install on_signal for `sig`, unless the signal was ignored when the program
// started (nohup, or a background job of a script): it stays ignored.
void handle_unless_ignored(int sig) {
  struct sigaction old;
  if (sigaction(sig, nullptr, &old) != 0) return;
  if (!(old.sa_flags & SA_SIGINFO) && old.sa_handler == SIG_IGN) return;
  struct sigaction sa = {};
  sa.sa_handler = on_signal;
  sigfillset(&sa.sa_mask);
  sigaction(sig, &sa, nullptr);
}

// Signals whose default action ends the process, crash signals (SIGSEGV,
// SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS) aside: those belong to
// debuggers and sanitizers.
const int kCleanupSignals[] = {
    SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGXCPU, SIGALRM, SIGVTALRM, SIGPROF, SIGUSR1, SIGUSR2,
#ifdef SIGPOLL
    SIGPOLL,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
};

// The signals above and the real-time ones, as a set.
sigset_t cleanup_set() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : kCleanupSignals) sigaddset(&set, sig);
#ifdef SIGRTMIN
  for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) sigaddset(&set, sig);
#endif
  return set;
}

// The signal mask hold_signals replaced.
sigset_t mask_before_hold;

std::ptrdiff_t write_some(int fd, const std::uint8_t* buf, std::size_t n) { return write(fd, buf, n); }

bool seek_to(int fd, std::int64_t position) { return lseek(fd, static_cast<off_t>(position), SEEK_SET) >= 0; }

// Most symbolic links followed before giving up, as the system's own lookup.
constexpr int kMaxLinks = 40;

// The file `path` names once every symbolic link in its last component is
// followed, into output_target; it need not exist (a dangling link names the
// file to create). A relative target is taken from the link's folder. False
// with errno set: ENAMETOOLONG, or ELOOP after kMaxLinks links.
bool follow_links(const char* path) {
  const char* name = path;  // what goes in place of the link: first the path itself
  std::size_t length = std::strlen(path);
  char target[kMaxTarget];
  for (int links = 0;; ++links) {
    // Keep the link's folder ("dir/" of "dir/link"; nothing for "link").
    const char* slash = std::strrchr(output_target, '/');
    const std::size_t keep =
        links == 0 || name[0] == '/' || !slash ? 0 : static_cast<std::size_t>(slash - output_target) + 1;
    if (keep + length >= kMaxTarget) {  // a target that filled readlink's buffer included
      errno = ENAMETOOLONG;
      return false;
    }
    std::memcpy(output_target + keep, name, length);
    output_target[keep + length] = '\0';
    if (links == kMaxLinks) {
      errno = ELOOP;
      return false;
    }
    const ssize_t n = readlink(output_target, target, sizeof target);
    if (n < 0) return true;  // not a link (EINVAL), or missing: open creates or reports it
    name = target;
    length = static_cast<std::size_t>(n);
  }
}

}  // namespace

int open_input(const char* path) { return open(path, O_RDONLY | O_CLOEXEC); }

int open_output(const char* path) {
  if (!follow_links(path)) return -1;
  // A signal between creating a regular file and registering it would leave
  // it behind, so the exits' hold covers both; and under the hold the open
  // must not wait. A FIFO that no reader has opened yet fails it at once
  // (ENXIO) and is opened again once the hold is released, so that a signal
  // still ends that wait (a FIFO is neither registered nor removed). A file
  // whose lease another process must first give up (EWOULDBLOCK) is opened
  // again held: the system bounds that wait.
  const int flags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW;
  for (;;) {
    hold_signals();
    int fd = open(output_target, flags | O_NONBLOCK, 0666);
    if (fd < 0 && errno == EWOULDBLOCK) fd = open(output_target, flags, 0666);
    const int error = errno;
    if (fd >= 0 && is_regular_file(fd)) registered_path = output_target;
    release_signals();
    if (fd >= 0) {
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);  // writes to a pipe wait for room
      return fd;
    }
    if (error != ENXIO) {
      errno = error;
      return -1;
    }
    fd = open(output_target, O_WRONLY | O_CLOEXEC | O_NOFOLLOW);  // waits for a reader
    if (fd < 0 || !is_regular_file(fd)) return fd;
    close(fd);  // no longer a FIFO: open it again, held
  }
}

void hold_signals() {
  const sigset_t set = cleanup_set();
  sigprocmask(SIG_BLOCK, &set, &mask_before_hold);
}

void release_signals() { sigprocmask(SIG_SETMASK, &mask_before_hold, nullptr); }

bool close_file(int fd) { return close(fd) == 0; }

std::ptrdiff_t read_file(int fd, std::uint8_t* buf, std::size_t n) {
  if (n > kMaxTransfer) n = kMaxTransfer;
  for (;;) {
    const ssize_t got = read(fd, buf, n);
    if (got >= 0 || errno != EINTR) return got;
  }
}

bool is_regular_file(int fd, std::uint64_t* size) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (size) *size = static_cast<std::uint64_t>(st.st_size);
  return true;
}

bool same_file(int fd, const char* path) {
  struct stat a, b;
  if (fstat(fd, &a) != 0 || stat(path, &b) != 0) return false;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

void remove_file(const char* path) { unlink(path); }

void prepare_process(int*, char***) {
  // A file-size limit and a closed pipe then fail the write that meets them
  // (EFBIG, EPIPE), which the run reports and cleans up like any other.
  signal(SIGXFSZ, SIG_IGN);
  signal(SIGPIPE, SIG_IGN);
  for (int sig : kCleanupSignals) handle_unless_ignored(sig);
#ifdef SIGRTMIN
  for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) handle_unless_ignored(sig);
#endif
}

#endif

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

const char* take_output() {
  return registered_path.exchange(nullptr);
}

}  // namespace platform
}  // namespace aifconv
