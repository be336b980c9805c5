// Windows only: the cleanup of a run ended by a console event (Ctrl-C,
// Ctrl-Break, a closed console window), where POSIX builds test signals and
// FIFOs instead.
#ifdef _WIN32
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "tests/file_case.h"

namespace aifc_test {
namespace {

namespace fs = std::filesystem;

// The converter, started as a user starts it; its input is a named pipe the
// test writes, so the run waits in the walk, after its output is open, for as
// long as the test wants.
struct Blocked {
  TempDir dir;
  std::wstring pipe_name;
  HANDLE pipe = INVALID_HANDLE_VALUE;
  PROCESS_INFORMATION process = {};
  bool started = false;

  Blocked() {
    pipe_name = L"\\\\.\\pipe\\aifconv-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(GetTickCount());
    pipe = CreateNamedPipeW(pipe_name.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1,
                            4096, 4096, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) return;
    std::wstring command = L"\"" + fs::u8path(AIFCONV_BINARY).wstring() + L"\" " + pipe_name +
                           L" \"" + fs::u8path(dir.path("out.wav")).wstring() + L"\"";
    // Console events travel between processes of one console: the test,
    // run with its output to a pipe, may have none yet.
    if (!GetConsoleWindow()) AllocConsole();
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE,
                             CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup, &process) != 0;
    if (!started) return;
    ConnectNamedPipe(pipe, nullptr);  // waits for the converter to open its input
    const Bytes start = cat({text("FORM"), be32(1000), text("AIFC")});
    DWORD written = 0;
    WriteFile(pipe, start.data(), static_cast<DWORD>(start.size()), &written, nullptr);
    for (int i = 0; i < 500 && !exists(dir.path("out.wav")); ++i) Sleep(10);
  }
  // The exit code once the run has ended, or -1 when it did not end in 10 s.
  long long wait() {
    if (WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0) {
      TerminateProcess(process.hProcess, 1);
      return -1;
    }
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    return code;
  }
  ~Blocked() {
    if (started) {
      TerminateProcess(process.hProcess, 1);
      WaitForSingleObject(process.hProcess, 10000);
      CloseHandle(process.hProcess);
      CloseHandle(process.hThread);
    }
    if (pipe != INVALID_HANDLE_VALUE) CloseHandle(pipe);
  }
};

// Ctrl-Break (which a console sends like Ctrl-C, and a closed window like
// either) removes the partial output, and the run ends with the status of a
// program ended by Ctrl-C.
TEST(ConsoleEvent, BreakRemovesOutputInProgress) {
  Blocked run;
  ASSERT_TRUE(run.started);
  ASSERT_TRUE(exists(run.dir.path("out.wav")));
  if (!GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, run.process.dwProcessId))
    GTEST_SKIP() << "no console carries the event here (Wine without a terminal, say)";
  EXPECT_EQ(run.wait(), 0xC000013All);
  EXPECT_FALSE(exists(run.dir.path("out.wav")));
}

}  // namespace
}  // namespace aifc_test
#endif  // _WIN32
