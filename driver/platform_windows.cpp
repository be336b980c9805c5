// The operating-system calls on Windows: the C runtime's descriptors, file
// information by handle, wide-character paths and console events.
#include "driver/platform.h"
#include "driver/platform_system.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace aifconv {
namespace platform {

namespace {

// The registered output's path, exchanged atomically, so that the exits of
// the run and a console event never both take it.
std::atomic<const char*> registered_path{nullptr};

// The file open_output writes, in UTF-8: the name the system gives the open
// file, a link's target rather than the link.
constexpr std::size_t kMaxTarget = 4096;
char output_target[kMaxTarget];

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

std::ptrdiff_t write_some(int fd, const std::uint8_t* buf, std::size_t n) {
  return _write(fd, buf, static_cast<unsigned>(n));
}

bool seek_to(int fd, std::int64_t position) { return _lseeki64(fd, position, SEEK_SET) >= 0; }

const char* take_output() { return registered_path.exchange(nullptr); }

}  // namespace platform
}  // namespace aifconv
