// The operating-system calls on POSIX systems: descriptors, symbolic links
// and signals.
#ifndef _FILE_OFFSET_BITS
#define _FILE_OFFSET_BITS 64  // 64-bit off_t on 32-bit hosts, whatever the build flags
#endif

#include "driver/platform.h"
#include "driver/platform_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>

namespace aifconv {
namespace platform {

namespace {

// The registered output's path, exchanged atomically, so that the exits of
// the run and a signal handler never both take it.
std::atomic<const char*> registered_path{nullptr};
static_assert(std::atomic<const char*>::is_always_lock_free, "used from a signal handler");

// The file open_output writes: the output path with every symbolic link
// followed.
constexpr std::size_t kMaxTarget = 4096;
char output_target[kMaxTarget];

}  // namespace

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

// Most symbolic links followed before giving up, as the system's own lookup.
constexpr int kMaxLinks = 40;

// The file `path` names once every symbolic link in its last component is
// followed, into output_target; it need not exist (a dangling link names the
// file to create). A relative target is taken from the link's folder. A link
// whose text does not name the file it leads to is not followed: the system's
// own links under /proc to a pipe, a socket or a deleted file ("pipe:[N]",
// "/music/a.wav (deleted)") name no file, and only the link itself opens what
// it leads to. output_target is then that link, and *through_link is set.
// False with errno set: ENAMETOOLONG, or ELOOP after kMaxLinks links.
bool follow_links(const char* path, bool* through_link) {
  const char* name = path;  // what goes in place of the link: first the path itself
  std::size_t length = std::strlen(path);
  char target[kMaxTarget];
  char link[kMaxTarget];  // the last link read, when it leads to a file
  struct stat led;        // that file
  bool leads = false;
  *through_link = false;
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
    struct stat named;
    if (leads && (stat(output_target, &named) != 0 || named.st_dev != led.st_dev || named.st_ino != led.st_ino)) {
      std::memcpy(output_target, link, std::strlen(link) + 1);
      *through_link = true;
      return true;
    }
    if (links == kMaxLinks) {
      errno = ELOOP;
      return false;
    }
    const ssize_t n = readlink(output_target, target, sizeof target);
    if (n < 0) return true;  // not a link (EINVAL), or missing: open creates or reports it
    leads = stat(output_target, &led) == 0;
    if (leads) std::memcpy(link, output_target, std::strlen(output_target) + 1);
    name = target;
    length = static_cast<std::size_t>(n);
  }
}

}  // namespace

int open_input(const char* path) { return open(path, O_RDONLY | O_CLOEXEC); }

int open_output(const char* path) {
  bool through_link;
  if (!follow_links(path, &through_link)) return -1;
  // A signal between creating a regular file and registering it would leave
  // it behind, so the exits' hold covers both; and under the hold the open
  // must not wait. A FIFO that no reader has opened yet fails it at once
  // (ENXIO) and is opened again once the hold is released, so that a signal
  // still ends that wait (a FIFO is neither registered nor removed). A file
  // whose lease another process must first give up (EWOULDBLOCK) is opened
  // again held: the system bounds that wait. Through a link that names no
  // file, the open follows it as a plain open would, and what it opens is
  // never registered: the run did not make it (a pipe, a socket), and has no
  // name of it to remove (a deleted file).
  const int nofollow = through_link ? 0 : O_NOFOLLOW;
  const int flags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | nofollow;
  for (;;) {
    hold_signals();
    int fd = open(output_target, flags | O_NONBLOCK, 0666);
    if (fd < 0 && errno == EWOULDBLOCK) fd = open(output_target, flags, 0666);
    const int error = errno;
    if (fd >= 0 && !through_link && is_regular_file(fd)) registered_path = output_target;
    release_signals();
    if (fd >= 0) {
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);  // writes to a pipe wait for room
      return fd;
    }
    if (error != ENXIO) {
      errno = error;
      return -1;
    }
    fd = open(output_target, O_WRONLY | O_CLOEXEC | nofollow);  // waits for a reader
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

std::ptrdiff_t write_some(int fd, const std::uint8_t* buf, std::size_t n) { return write(fd, buf, n); }

bool seek_to(int fd, std::int64_t position) { return lseek(fd, static_cast<off_t>(position), SEEK_SET) >= 0; }

const char* take_output() { return registered_path.exchange(nullptr); }

}  // namespace platform
}  // namespace aifconv
