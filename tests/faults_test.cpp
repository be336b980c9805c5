// Real files and real faults: an SSND chunk holding more frames than COMM
// declares, read errors in every part of the walk and the data pass, input
// from a pipe, output to a closed pipe, a file-size limit, and signals.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>
#include <tuple>

#include "driver/platform.h"
#include "driver/run.h"
#include "tests/file_case.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace aifc_test {
namespace {

std::string left_over(unsigned held, unsigned declared) {
  return "warning: SSND holds " + std::to_string(held) + " frames, only the " +
         std::to_string(declared) + " that COMM declares are converted\n";
}

// An ima4 packet whose 64 samples all equal k * 256: predictor k << 8, step
// index 0, and codes 0 (a difference of 7 >> 3 = 0).
Bytes flat_packet(std::uint8_t k) { return cat({{k, 0}, repeat(0, 32)}); }

// The first `frames` stereo frames of flat packets 1, 2, 3 ...: 64 sample
// pairs per frame, (2f + 1) * 256 on the left and (2f + 2) * 256 on the right.
Bytes flat_stereo_pcm(int frames) {
  std::vector<int> s;
  for (int f = 0; f < frames; ++f)
    for (int i = 0; i < 64; ++i) s.insert(s.end(), {(2 * f + 1) * 256, (2 * f + 2) * 256});
  return pcm(s);
}

// The SSND chunk holds more frames than COMM declares: the declared frames
// are converted, with a warning when at least one whole frame is left over.
class FramesLeftOver : public ::testing::TestWithParam<Case> {};

TEST_P(FramesLeftOver, WarnsAndConvertsTheDeclaredFrames) { expect_result(convert(GetParam().input), GetParam()); }

INSTANTIATE_TEST_SUITE_P(
    Files, FramesLeftOver,
    ::testing::ValuesIn(std::vector<Case>{
        // Stereo ima4 declaring half its packets: the first two frames.
        {"stereo_ima4_half_declared",
         form(cat({comm(2, 2, "ima4"),
                   ssnd(cat({flat_packet(1), flat_packet(2), flat_packet(3), flat_packet(4),
                             flat_packet(5), flat_packet(6), flat_packet(7), flat_packet(8)}))})),
         0, left_over(4, 2),
         cat({wav_header(2, 8000, 512), flat_stereo_pcm(2)})},
        {"sowt_one_frame_more", form(cat({comm(1, 2, "sowt"), ssnd({1, 2, 3, 4, 5, 6})})), 0,
         left_over(3, 2), cat({wav_header(1, 8000, 4), {1, 2, 3, 4}})},
        {"sdx2_stereo_one_frame_more", form(cat({comm(2, 1, "SDX2"), ssnd({2, 4, 6, 8})})), 0,
         left_over(2, 1), cat({wav_header(2, 8000, 4), pcm({8, 32})})},
        {"sowt_partial_extra_frame", form(cat({comm(2, 1, "sowt"), ssnd({1, 2, 3, 4, 5, 6, 7})})), 0,
         "", cat({wav_header(2, 8000, 4), {1, 2, 3, 4}})},
        // The offset counts against the data: (12 - 8 - 2) / 2 = 1 frame.
        {"data_offset_leaves_declared_frames", form(cat({comm(1, 1, "sowt"), ssnd({1, 2, 3, 4}, 2)})),
         0, "", cat({wav_header(1, 8000, 2), {3, 4}})},
        // The offset points past the chunk, at bytes after the container.
        {"data_offset_past_chunk_end",
         cat({form(cat({comm(1, 1, "sowt"), ssnd({1, 2, 3, 4}, 8)})), {9, 9, 9, 9, 7, 7}}), 0, "",
         cat({wav_header(1, 8000, 2), {7, 7}})},
        // The warning ends the walk, before the header's rate warning.
        {"before_the_rate_warning",
         form(cat({comm(1, 2, "sowt", {0x3F, 0xFF, 0xC0, 0, 0, 0, 0, 0, 0, 0}), ssnd({1, 2, 3, 4, 5, 6})})),
         0, left_over(3, 2) + "warning, freq = 1.500000 will be truncated to 1\n",
         cat({wav_header(1, 1, 4), {1, 2, 3, 4}})},
    }),
    CaseName());

#ifndef _WIN32
const Bytes kStereo = aifc(2, 100000, "sowt", repeat(3, 400000));

// Convert `input` fed through a FIFO, as from a pipe: nothing can be passed
// over with a seek.
Result convert_through_pipe(const Bytes& input, const aifconv::Hooks& hooks = aifconv::Hooks()) {
  std::signal(SIGPIPE, SIG_IGN);  // the converter may stop reading early
  TempDir dir;
  const std::string in = dir.path("in.aifc");
  EXPECT_EQ(mkfifo(in.c_str(), 0600), 0);
  std::thread writer([&] {
    const int fd = open(in.c_str(), O_WRONLY);
    for (std::size_t done = 0; fd >= 0 && done < input.size();) {
      const ssize_t n = write(fd, input.data() + done, input.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    if (fd >= 0) close(fd);
  });
  Result r = run_paths(in, dir.path("out.wav"), hooks);
  writer.join();
  return r;
}

// Through a pipe, an SSND chunk cut short is measured by what was read; then
// the data pass cannot seek back to the sound data.
TEST(Pipe, TruncatedSsndThenNoSeekBack) {
  const Bytes input = form_sized(1000, cat({comm(1, 1, "sowt"), chunk_sized("SSND", 100, cat({be32(0), be32(0), {1, 2}}))}));
  const std::string truncated = "warning - bad size in SSND, the output file will probably be wrong\n";
  expect_result(convert_through_pipe(input), {"", {}, 1, truncated + "OUT: " + std::strerror(ESPIPE) + "\n", {}});
}
#endif

// Every read of the input is cut to one byte, and the `fail`-th fails with
// EIO; `failed_at` is the file position of that read.
struct NthReadFails {
  int fail, reads = 0;
  std::uint64_t failed_at = 0;
  aifconv::Hooks hooks() {
    aifconv::Hooks h;
    h.context = this;
    h.read = [](void* context, int fd, std::uint64_t position, std::uint8_t* buf, std::size_t) {
      NthReadFails& f = *static_cast<NthReadFails*>(context);
      if (++f.reads != f.fail) return aifconv::platform::read_file(fd, buf, 1);
      f.failed_at = position;
      errno = EIO;
      return std::ptrdiff_t{-1};
    };
    return h;
  }
};

// A small file of each codec, mono and stereo, with an unhandled chunk
// before the sound data: FORM 0-11, FVER 12-23, COMM 24-55, NAME 56-67 (its
// header bytes 56-63), SSND from 68; and what it converts to.
std::vector<Case> read_error_files() {
  static const char* const names[] = {"sowt_mono", "ima4_mono", "sdx2_mono", "sowt_stereo", "ima4_stereo", "sdx2_stereo"};
  const Bytes sowt = {1, 2, 3, 4, 5, 6, 7, 8}, sdx2_pcm = pcm({8, 32, 72, 128});
  std::vector<Case> files;
  for (const std::uint16_t ch : {1, 2}) {
    const Bytes ima4 = ch == 1 ? flat_packet(1) : cat({flat_packet(1), flat_packet(2)});
    const Bytes ima4_pcm = ch == 1 ? pcm(std::vector<int>(64, 256)) : flat_stereo_pcm(1);
    for (const auto& [type, frames, data, out] : {std::make_tuple("sowt", 4 / ch, sowt, sowt), {"ima4", 1, ima4, ima4_pcm},
                                                  {"SDX2", 4 / ch, Bytes{2, 4, 6, 8}, sdx2_pcm}})
      files.push_back({names[files.size()], form(cat({fver(), comm(ch, frames, type), chunk("NAME", text("abc")), ssnd(data)})),
                       0, "warning: unhandled chunk NAME (size=3)\n",
                       cat({wav_header(ch, 8000, static_cast<std::uint32_t>(out.size())), out})});
  }
  return files;
}

// A read error is not the end of the file: whichever read fails, the system
// error for the input and the bad-file lines, after the warning of the
// unhandled chunk once its header was read, and no output. On a regular
// file the walk passes over bodies with a seek, and the data pass reads the
// sound data; through a pipe the walk reads every body, and the data pass
// cannot seek back. The last read that can fail is of the last byte.
class ReadError : public ::testing::TestWithParam<Case> {};

TEST_P(ReadError, AtEveryReadUntilNoneIsLeft) {
  const Case& file = GetParam();
  const std::string eio = "IN: " + std::string(std::strerror(EIO)) + "\n";
  std::vector<Result (*)(const Bytes&, const aifconv::Hooks&)> ways = {convert};
#ifndef _WIN32
  ways.push_back(convert_through_pipe);
#endif
  for (const auto way : ways) {
    const bool pipe = way != convert;
    const Case last = pipe ? Case{"", {}, 1, file.err + "OUT: " + std::strerror(ESPIPE) + "\n", {}} : file;
    std::uint64_t last_failed = 0;
    for (NthReadFails fault{1};; fault = {fault.fail + 1}) {
      SCOPED_TRACE((pipe ? "through a pipe, read " : "read ") + std::to_string(fault.fail));
      const Result r = way(file.input, fault.hooks());
      if (fault.reads < fault.fail) {
        expect_result(r, last);
        break;
      }
      const bool past_name = fault.failed_at >= 64;  // its header read whole
      expect_result(r, {"", {}, 1, (past_name ? file.err : "") + eio + kBadFile, {}});
      last_failed = fault.failed_at;
    }
    EXPECT_EQ(last_failed, file.input.size() - 1);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, ReadError, ::testing::ValuesIn(read_error_files()), CaseName());

#ifndef _WIN32
// An output that is a pipe whose reader has gone fails like any failed
// write. The hook closes the reader once the converter has opened the output.
std::ptrdiff_t close_reader_then_read(void* context, int fd, std::uint64_t, std::uint8_t* buf, std::size_t n) {
  int& reader = *static_cast<int*>(context);
  if (reader >= 0) close(reader);
  reader = -1;
  return aifconv::platform::read_file(fd, buf, n);
}

TEST(Pipe, OutputWhoseReaderHasGone) {
  std::signal(SIGPIPE, SIG_IGN);  // as the program sets for itself
  TempDir dir;
  const std::string out = dir.path("out.fifo");
  ASSERT_EQ(mkfifo(out.c_str(), 0600), 0);
  int reader = open(out.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  write_file(dir.path("in.aifc"), aifc(1, 2, "sowt", {1, 2, 3, 4}));
  aifconv::Hooks hooks;
  hooks.context = &reader;
  hooks.read = close_reader_then_read;
  const Result r = run_paths(dir.path("in.aifc"), out, hooks);
  EXPECT_EQ(r.err, "OUT: " + std::string(std::strerror(EPIPE)) + "\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.output_exists);  // a FIFO the run did not make stays
}

// Reads in a thread everything written to a FIFO until its writer closes, a
// little at a time with a pause after each read: slower than any run. The
// FIFO is open for reading from the start, before a writer comes.
struct FifoReader {
  int fd;
  Bytes bytes;
  std::thread thread;
  explicit FifoReader(const std::string& path)
      : fd(open(path.c_str(), O_RDONLY | O_NONBLOCK)), thread([this] {
          fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
          std::uint8_t buf[4096];
          for (int waits = 0; fd >= 0;) {
            const ssize_t n = read(fd, buf, sizeof buf);
            if (n < 0 || (n == 0 && (!bytes.empty() || ++waits > 5000))) break;  // the writer has gone
            bytes.insert(bytes.end(), buf, buf + (n > 0 ? n : 0));
            usleep(n > 0 ? 500 : 2000);  // no writer yet, and a read ends at once
          }
          if (fd >= 0) close(fd);
        }) {}
  Bytes take() {
    thread.join();
    return bytes;
  }
};

// An output that is a FIFO or a device keeps what was written before a
// failure (it is not removed), so that must be exactly the header and every
// whole unit (sample, frame) that arrived before the input ended, each once,
// whatever the codec. A reader slower than the run makes its writes wait for
// room in the pipe, never fail.
TEST(OutputFifo, SlowReaderGetsWhatArrived) {
  std::signal(SIGPIPE, SIG_IGN);
  const std::string end = "IN: unexpected end of file\n" + kBadFile;
  const Case cases[] = {
      // 1.75 of 3 stereo frames (a byte after the container): three whole
      // samples, and half of one left out.
      {"sowt", cat({aifc(2, 3, "sowt", {1, 2, 3, 4, 5, 6}), {7}}), 1, end,
       cat({wav_header(2, 8000, 12), {1, 2, 3, 4, 5, 6}})},
      {"ima4", aifc(2, 2, "ima4", cat({flat_packet(1), flat_packet(2), repeat(0, 10)})), 1, end,
       cat({wav_header(2, 8000, 512), flat_stereo_pcm(1)})},
      {"sdx2", aifc(1, 6, "SDX2", {2, 4, 6, 8}), 1, end, cat({wav_header(1, 8000, 12), pcm({8, 32, 72, 128})})},
      {"larger_than_the_pipe", kStereo, 0, "", cat({wav_header(2, 8000, 400000), repeat(3, 400000)})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string out = dir.path("out.fifo");
    ASSERT_EQ(mkfifo(out.c_str(), 0600), 0);
    write_file(dir.path("in.aifc"), c.input);
    FifoReader reader(out);
    const Result r = run_paths(dir.path("in.aifc"), out);
    EXPECT_EQ(reader.take(), c.output);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.status, c.status);
    EXPECT_TRUE(r.output_exists);
  }
}

#ifdef __linux__
// A running process whose environment is `bytes` cut at every zero byte:
// /proc/PID/environ then holds the bytes and a final zero, and its size
// reads 0, as files under /proc and /sys do.
struct EnvironFile {
  pid_t pid = -1;
  explicit EnvironFile(const Bytes& bytes) {
    std::vector<std::string> pieces(1);
    for (std::uint8_t b : bytes) {
      if (b == 0)
        pieces.emplace_back();
      else
        pieces.back().push_back(static_cast<char>(b));
    }
    std::vector<char*> env;
    for (std::string& p : pieces) env.push_back(&p[0]);
    env.push_back(nullptr);
    char sleep_word[] = "sleep", seconds[] = "60";
    char* args[] = {sleep_word, seconds, nullptr};
    pid = fork();
    if (pid == 0) {
      execve("/bin/sleep", args, env.data());
      _exit(127);
    }
  }
  ~EnvironFile() {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  std::string path() const { return "/proc/" + std::to_string(pid) + "/environ"; }
};

// Such a file converts exactly as the same bytes in a plain file: its bodies
// are read through, and a truncated SSND chunk is measured by what was read.
TEST(SizeReadsZero, ConvertsAsAPlainFile) {
  const Bytes inputs[] = {
      aifc(2, 3, "ima4", repeat(0x35, 204)),
      form(cat({chunk("NAME", text("abc")), comm(1, 3, "sowt"), ssnd({1, 2, 3, 4, 5, 6})})),
      form_sized(1000, cat({comm(2, 50, "sowt"), chunk_sized("SSND", 100, cat({be32(2), be32(0), repeat(7, 13)}))})),
      text("not a sound file"),
  };
  for (const Bytes& input : inputs) {
    EnvironFile file(input);
    const Bytes held = cat({input, {0}});
    for (int i = 0; i < 500 && read_file(file.path()) != held; ++i) usleep(2000);  // until sleep runs
    ASSERT_EQ(read_file(file.path()), held) << "no /proc/PID/environ to read";
    struct stat st;
    ASSERT_EQ(stat(file.path().c_str(), &st), 0);
    ASSERT_EQ(st.st_size, 0);
    const Result plain = convert(held);
    TempDir dir;
    expect_result(run_paths(file.path(), dir.path("out.wav")), {"", {}, plain.status, plain.err, plain.output});
  }
}
#endif

// In a child process: every signal back to its default action and
// unblocked, so that the tests pass when the suite itself runs with signals
// ignored or blocked.
void default_signals() {
  for (int sig = 1; sig < NSIG; ++sig)
    if (sig != SIGKILL && sig != SIGSTOP) std::signal(sig, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
}

// The wait status of a child once it has ended.
int finish(pid_t pid) {
  int status = 0;
  EXPECT_EQ(waitpid(pid, &status, 0), pid);
  return status;
}

// A signal that arrives while an exit closes the output, after the output
// was taken back from the interruption cleanup, waits until the output is
// closed and, after a failure, removed; then it ends the run. The close hook
// sends it at that very moment, in a child process with the program's own
// signal handling.
TEST(ExitRace, SignalWhileTheOutputIsClosed) {
  if (under_emulator()) GTEST_SKIP() << "an emulator's signal delivery is not the kernel's";
  const struct {
    const char* name;
    Bytes input;
    bool close_fails;
    bool kept;
    int sig;
  } cases[] = {
      {"refused", text("not a sound file"), false, false, SIGTERM},
      {"short_read", aifc(2, 2, "sowt", {1, 2, 3, 4}), false, false, SIGTERM},
      {"converted", aifc(1, 2, "sowt", {1, 2, 3, 4}), false, true, SIGTERM},
      {"converted_close_fails", aifc(1, 2, "sowt", {1, 2, 3, 4}), true, false, SIGTERM},
#ifdef SIGRTMIN
      {"refused_realtime", text("not a sound file"), false, false, SIGRTMIN + 2},
#endif
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    write_file(dir.path("in.aifc"), c.input);
    const std::string in = dir.path("in.aifc"), out = dir.path("out.wav");
    const pid_t pid = fork();
    if (pid == 0) {
      default_signals();
      int argc = 0;
      char** argv = nullptr;
      aifconv::platform::prepare_process(&argc, &argv);
      aifconv::Hooks hooks;
      hooks.context = const_cast<void*>(static_cast<const void*>(&c));
      hooks.close_output = [](void* context, int fd) {
        const auto& row = *static_cast<decltype(&c)>(context);
        raise(row.sig);
        const bool closed = aifconv::platform::close_file(fd);
        if (!row.close_fails) return closed;
        errno = EIO;
        return false;
      };
      std::FILE* err = std::fopen("/dev/null", "w");
      const char* words[] = {"aifconv", in.c_str(), out.c_str(), nullptr};
      _exit(aifconv::run(3, words, err, hooks));
    }
    const int status = finish(pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.sig);
    EXPECT_EQ(exists(out), c.kept);
  }
}

// The installed binary in a child process. `setup` runs in the child first,
// after every signal is back to its default action and unblocked, so that
// the tests pass when the suite itself runs with signals ignored. Returns
// once the child has started the program (a pipe's end closed by the exec),
// so that a signal sent then meets the program's own signal handling.
pid_t spawn(const std::string& in, const std::string& out, const std::string& err_path,
            void (*setup)()) {
  const std::vector<std::string> words = program_argv(AIFCONV_BINARY);
  std::vector<const char*> args;
  for (const std::string& word : words) args.push_back(word.c_str());
  args.insert(args.end(), {in.c_str(), out.c_str(), nullptr});
  int started[2];
  if (pipe(started) != 0 || fcntl(started[1], F_SETFD, FD_CLOEXEC) != 0) return -1;
  const pid_t pid = fork();
  if (pid != 0) {
    close(started[1]);
    char byte;
    while (read(started[0], &byte, 1) < 0 && errno == EINTR) {
    }
    close(started[0]);
    return pid;
  }
  close(started[0]);
  default_signals();
  const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (err >= 0) dup2(err, 2);
  if (setup) setup();
  execv(args[0], const_cast<char* const*>(args.data()));
  _exit(127);
}

// Under a file-size limit the write fails with EFBIG instead of the process
// dying of SIGXFSZ, and the partial output is removed. The limit falls
// inside the last block (the header, then blocks of 64, 128 and 198.6 KiB):
// the system writes part of it, and the run must go on with the rest, whose
// write fails.
TEST(Binary, FileSizeLimit) {
  TempDir dir;
  write_file(dir.path("in.aifc"), kStereo);
  const pid_t pid = spawn(dir.path("in.aifc"), dir.path("out.wav"), dir.path("err"), [] {
    const rlimit limit = {300000, 300000};
    setrlimit(RLIMIT_FSIZE, &limit);
  });
  EXPECT_EQ(exit_status(finish(pid)), 1);
  EXPECT_EQ(read_text(dir.path("err")), dir.path("out.wav") + ": " + std::strerror(EFBIG) + "\n");
  EXPECT_FALSE(exists(dir.path("out.wav")));
}

// Standard error is a pipe nobody reads (`aifconv ... 2>&1 | true`): the
// warning is lost and the conversion completes.
TEST(Binary, WarningToAClosedPipe) {
  TempDir dir;
  const Bytes input = form(cat({chunk("NAME", {}), comm(1, 2, "sowt"), ssnd({1, 2, 3, 4})}));
  write_file(dir.path("in.aifc"), input);
  const pid_t pid = spawn(dir.path("in.aifc"), dir.path("out.wav"), dir.path("err"), [] {
    int p[2];
    if (pipe(p) == 0) {
      close(p[0]);
      dup2(p[1], 2);
    }
  });
  EXPECT_EQ(exit_status(finish(pid)), 0);
  EXPECT_EQ(read_file(dir.path("out.wav")), cat({wav_header(1, 8000, 4), {1, 2, 3, 4}}));
}

// A conversion blocked reading a FIFO, after its output is open, for the
// test to send it a signal.
struct Blocked {
  TempDir dir;
  pid_t pid = -1;
  int writer = -1;
  Blocked(void (*setup)()) {
    const std::string fifo = dir.path("in.aifc");
    EXPECT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    pid = spawn(fifo, dir.path("out.wav"), dir.path("err"), setup);
    writer = open(fifo.c_str(), O_WRONLY);  // waits for the converter to open it
    const Bytes start(kStereo.begin(), kStereo.begin() + 12);
    EXPECT_EQ(write(writer, start.data(), start.size()), 12);
    for (int i = 0; i < 500 && !exists(dir.path("out.wav")); ++i) usleep(10000);
    EXPECT_TRUE(exists(dir.path("out.wav")));
  }
  int wait() {
    close(writer);
    return finish(pid);
  }
};

// Every signal whose default action ends the process removes the partial
// output, then ends the process by that same signal.
TEST(Binary, SignalRemovesOutputInProgress) {
  std::vector<int> signals = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGXCPU, SIGALRM,
                              SIGVTALRM, SIGPROF, SIGUSR1, SIGUSR2};
#ifdef SIGPOLL
  signals.push_back(SIGPOLL);
#endif
#ifdef SIGPWR
  signals.push_back(SIGPWR);
#endif
#ifdef SIGRTMIN
  signals.insert(signals.end(), {SIGRTMIN, SIGRTMIN + 1});
  // qemu-user keeps the host's last real-time signals for itself.
  if (!under_emulator()) signals.push_back(SIGRTMAX);
#endif
  for (int sig : signals) {
    Blocked run(nullptr);
    kill(run.pid, sig);
    const int status = run.wait();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << "signal " << sig;
    EXPECT_FALSE(exists(run.dir.path("out.wav"))) << "signal " << sig;
  }
}

// Started with SIGHUP, SIGINT and SIGQUIT ignored (nohup, a background job
// of a script), the conversion survives them and completes. Its output is a
// FIFO, so the run waits in opening it while the signals arrive.
TEST(Binary, SignalsIgnoredAtStartStayIgnored) {
  // qemu-user lets a signal the program ignores interrupt its blocked open.
  if (under_emulator()) GTEST_SKIP() << "an emulator's signal delivery is not the kernel's";
  TempDir dir;
  const std::string out = dir.path("out.fifo");
  ASSERT_EQ(mkfifo(out.c_str(), 0600), 0);
  write_file(dir.path("in.aifc"), kStereo);
  const pid_t pid = spawn(dir.path("in.aifc"), out, dir.path("err"), [] {
    std::signal(SIGHUP, SIG_IGN);
    std::signal(SIGINT, SIG_IGN);
    std::signal(SIGQUIT, SIG_IGN);
  });
  usleep(100000);  // the run starts and waits for a reader of its output
  for (int sig : {SIGHUP, SIGINT, SIGQUIT}) kill(pid, sig);
  usleep(100000);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, WNOHANG), 0) << "the run ended before its output was read";
  const Bytes output = FifoReader(out).take();
  EXPECT_EQ(exit_status(finish(pid)), 0);
  EXPECT_EQ(read_text(dir.path("err")), "");
  EXPECT_EQ(output, cat({wav_header(2, 8000, 400000), repeat(3, 400000)}));
}

// A signal while the run opens its output ends it as it would later: a FIFO it
// waits to open for a reader is left as it is; a file whose open waits for
// the test to give up its lease is opened, then removed as the run ends.
TEST(Binary, SignalWhileTheOutputOpens) {
  if (under_emulator()) GTEST_SKIP() << "an emulator's signal delivery is not the kernel's";
  std::signal(SIGIO, SIG_IGN);  // the notice that the lease must go
  for (const bool fifo : {true, false}) {
    TempDir dir;
    const std::string out = dir.path(fifo ? "out.fifo" : "out.wav");
    write_file(dir.path("in.aifc"), kStereo);
    int lease = -1;
    if (fifo) {
      ASSERT_EQ(mkfifo(out.c_str(), 0600), 0);
    } else {
      write_file(out, {1});
      lease = open(out.c_str(), O_RDONLY | O_CLOEXEC);
      if (fcntl(lease, F_SETLEASE, F_RDLCK) != 0) {
        close(lease);
        GTEST_SKIP() << "no file leases here";
      }
    }
    const pid_t pid = spawn(dir.path("in.aifc"), out, dir.path("err"), nullptr);
    ASSERT_GT(pid, 0);
    // Until the run sleeps (state S), which it first does waiting in its open.
    for (int i = 0; i < 500; ++i, usleep(10000)) {
      const std::string stat = read_text("/proc/" + std::to_string(pid) + "/stat");
      if (stat.size() > stat.rfind(')') + 2 && stat[stat.rfind(')') + 2] == 'S') break;
    }
    kill(pid, SIGTERM);
    usleep(100000);
    if (lease >= 0) close(lease);
    int status = 0;
    for (int i = 0; i < 300 && waitpid(pid, &status, WNOHANG) == 0; ++i) usleep(10000);
    if (kill(pid, SIGKILL) == 0) waitpid(pid, &status, 0);  // still waiting: failed
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << fifo;
    EXPECT_EQ(exists(out), fifo);
  }
}
#endif

}  // namespace
}  // namespace aifc_test
