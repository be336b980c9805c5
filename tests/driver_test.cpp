// The command line, the two files and how a run ends: usage, open failures,
// the same file twice, output that is not a regular file, a full disk, and a
// read error.
#include <gtest/gtest.h>
#ifndef _WIN32  // links, device nodes, FIFOs, fork and signals
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/mount.h>
#endif
#elif defined(_MSC_VER)
#define popen _popen
#define pclose _pclose
#endif

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <tuple>
#include <utility>

#include "driver/platform.h"
#include "driver/run.h"
#include "tests/file_case.h"

namespace aifc_test {
namespace {

namespace fs = std::filesystem;

// What a command writes to its standard output, and its exit status.
std::pair<Bytes, int> run_command(const std::string& command) {
  Bytes out;
  std::FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return {out, -1};
  for (int c; (c = std::fgetc(p)) != EOF;) out.push_back(static_cast<std::uint8_t>(c));
  return {out, exit_status(pclose(p))};
}

const Bytes kValid = aifc(1, 2, "sowt", {1, 2, 3, 4});
const Bytes kValidWav = cat({wav_header(1, 8000, 4), {1, 2, 3, 4}});

TEST(CommandLine, WrongArgumentCountPrintsUsage) {
  TempDir dir;
  const std::string in = dir.path("in.aifc"), out = dir.path("out.wav");
  write_file(in, kValid);
  const std::vector<std::vector<const char*>> lines = {
      {"conv"}, {"conv", in.c_str()}, {"conv", in.c_str(), out.c_str(), "extra"}};
  for (const auto& argv : lines) {
    int status = 0;
    EXPECT_EQ(run_argv(argv, &status), "usage: conv <input AIFC file> <output WAV file>\n");
    EXPECT_EQ(status, 1);
    EXPECT_FALSE(exists(out));
  }
}

// A missing input creates no output; an output in a missing folder is
// reported for the output path.
TEST(CommandLine, FilesThatCannotBeOpened) {
  TempDir dir;
  write_file(dir.path("in.aifc"), kValid);
  const Result missing_in = run_paths(dir.path("missing.aifc"), dir.path("out.wav"));
  expect_result(missing_in, {"", {}, 1, "IN: No such file or directory\n", {}});
  const Result missing_dir = run_paths(dir.path("in.aifc"), dir.path("no/such/dir/out.wav"));
  expect_result(missing_dir, {"", {}, 1, "OUT: No such file or directory\n", {}});
}

struct SameFileCase {
  const char* name;
  // Another name for the file `in` of `dir`, or "" where the system cannot
  // make one (a symbolic link needs a privilege or developer mode).
  std::string (*other_name)(const TempDir& dir, const std::string& in);
};

class SameFile : public ::testing::TestWithParam<SameFileCase> {};

// Writing the output over the input would destroy it before it is read.
TEST_P(SameFile, RefusedUnderEveryName) {
  TempDir dir;
  const std::string in = dir.path("in.aifc");
  write_file(in, kValid);
  const std::string out = GetParam().other_name(dir, in);
  if (out.empty()) GTEST_SKIP() << "this system cannot make that name";
  const Result r = run_paths(in, out);
  EXPECT_EQ(r.err, "OUT: input and output are the same file\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(read_file(in), kValid);
  EXPECT_TRUE(exists(out));
}

const SameFileCase kNames[] = {
  {"same_path", [](const TempDir&, const std::string& in) { return in; }},
#ifdef _WIN32
  {"backslashes",
   [](const TempDir&, const std::string& in) {
     std::string s = in;
     std::replace(s.begin(), s.end(), '/', '\\');
     return s;
   }},
  {"other_case", [](const TempDir& dir, const std::string&) { return dir.path("IN.AIFC"); }},
  // Windows folds "." and ".." out of a path by its text alone.
  {"dot_segments",
   [](const TempDir& dir, const std::string&) { return dir.path(".\\sub\\..\\in.aifc"); }},
#endif
  {"hard_link",
   [](const TempDir& dir, const std::string& in) {
     std::error_code ec;
     fs::create_hard_link(fs::u8path(in), fs::u8path(dir.path("hard.aifc")), ec);
     return ec ? std::string() : dir.path("hard.aifc");
   }},
  {"symbolic_link",
   [](const TempDir& dir, const std::string& in) {
     std::error_code ec;
     fs::create_symlink(fs::u8path(in), fs::u8path(dir.path("soft.aifc")), ec);
     return ec ? std::string() : dir.path("soft.aifc");
   }},
};

INSTANTIATE_TEST_SUITE_P(Names, SameFile, ::testing::ValuesIn(kNames), CaseName());

#ifndef _WIN32
#ifdef __linux__
// Files of two file systems are two files even with one inode number, as the
// first file made in each of two fresh tmpfs mounts has.
TEST(TwoFileSystems, SameInodeNumberIsTwoFiles) {
  TempDir dir;
  const std::string a = dir.path("a"), b = dir.path("b");
  ASSERT_TRUE(mkdir(a.c_str(), 0755) == 0 && mkdir(b.c_str(), 0755) == 0);
  if (geteuid() != 0 || mount("none", a.c_str(), "tmpfs", 0, "size=1m") != 0) GTEST_SKIP() << "needs root to mount";
  if (mount("none", b.c_str(), "tmpfs", 0, "size=1m") != 0) umount(a.c_str());
  write_file(a + "/in.aifc", kValid);
  write_file(b + "/out.wav", {});
  struct stat in, out;
  const bool same = stat((a + "/in.aifc").c_str(), &in) == 0 && stat((b + "/out.wav").c_str(), &out) == 0 &&
                    in.st_ino == out.st_ino && in.st_dev != out.st_dev;
  const Result r = run_paths(a + "/in.aifc", b + "/out.wav");
  umount(a.c_str());
  umount(b.c_str());
  if (!same) GTEST_SKIP() << "no two files with one inode number";
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.output, kValidWav);
}
#endif

// Makes a character device node with the given numbers, or skips the test.
bool make_device(const std::string& path, unsigned major_no, unsigned minor_no) {
  if (geteuid() != 0) return false;
  return mknod(path.c_str(), S_IFCHR | 0666, makedev(major_no, minor_no)) == 0;
}

// A device takes a conversion (a null device), and a failed run leaves it in
// place: only a regular file that the run wrote is removed. A full disk fails
// the run on the write that finds it full: the header's, or a block's. (A
// failure that shows only at the close is OutputClose's.)
TEST(OutputDevice, ConvertsOrFailsAndStaysInPlace) {
  TempDir dir;
  if (!make_device(dir.path("null"), 1, 3) || !make_device(dir.path("full"), 1, 7))
    GTEST_SKIP() << "needs root to make a device node";
  const std::string kFull = "OUT: " + std::string(std::strerror(ENOSPC)) + "\n";
  const struct {
    const char* node;
    Bytes input;
    std::string err;
  } cases[] = {
      {"null", kValid, ""},
      {"full", aifc(1, 0, "sowt", {}), kFull},
      {"full", aifc(2, 100000, "sowt", repeat(3, 400000)), kFull},
  };
  for (const auto& c : cases) {
    write_file(dir.path("in.aifc"), c.input);
    const Result r = run_paths(dir.path("in.aifc"), dir.path(c.node));
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.status, c.err.empty() ? 0 : 1);
    EXPECT_TRUE(fs::is_character_file(dir.path(c.node)));
  }
}

// An output path that is a symbolic link: the file written is the link's
// final target (created when the link dangles, through a chain of relative
// links too, or written over); a failed run removes that file and never a
// link.
TEST(OutputLink, WritesTheTargetAndRemovesOnlyIt) {
  const Bytes refused = text("not a sound file");
  // {target exists before, a chain of two links, the input converts}
  for (const auto [target_exists, chain, converts] :
       {std::array<bool, 3>{false, false, true}, {false, false, false}, {true, false, false}, {true, false, true},
        {false, true, true}, {true, true, false}}) {
    SCOPED_TRACE(std::to_string(target_exists) + std::to_string(chain) + std::to_string(converts));
    TempDir dir;
    ASSERT_EQ(mkdir(dir.path("sub").c_str(), 0755), 0);
    const std::string target = dir.path("sub/target.wav");
    if (target_exists) write_file(target, repeat(9, 100));
    ASSERT_EQ(symlink(chain ? "sub/link2" : "sub/target.wav", dir.path("out.wav").c_str()), 0);
    ASSERT_TRUE(!chain || symlink("target.wav", dir.path("sub/link2").c_str()) == 0);
    write_file(dir.path("in.aifc"), converts ? kValid : refused);
    const Result r = run_paths(dir.path("in.aifc"), dir.path("out.wav"));
    EXPECT_EQ(r.err, converts ? "" : "warning: unhandled chunk not  (size=1629516655)\n" + kBadFile);
    EXPECT_EQ(r.status, converts ? 0 : 1);
    for (const char* link : {"out.wav", "sub/link2"})
      EXPECT_TRUE((!chain && link[0] == 's') || fs::is_symlink(fs::symlink_status(dir.path(link))));
    EXPECT_EQ(exists(target), converts);
    EXPECT_EQ(read_file(target), converts ? kValidWav : Bytes());
  }
}

// /dev/stdout into a pipe (a link to the system's "pipe:[N]") takes the WAV as
// a file does, over many pipe buffers; a refused file's output stays in it.
TEST(OutputLink, DevStdoutIntoAPipe) {
  TempDir dir;
  for (const auto& [input, out, err] :
       {std::tuple{aifc(2, 100000, "sowt", repeat(3, 400000)), cat({wav_header(2, 8000, 400000), repeat(3, 400000)}),
                   std::string()},
        {cat({aifc(2, 3, "sowt", {1, 2, 3, 4, 5, 6}), {7}}), cat({wav_header(2, 8000, 12), {1, 2, 3, 4, 5, 6}}),
         "IN: unexpected end of file\n" + kBadFile}}) {
    write_file(dir.path("IN"), input);
    const auto got = run_command("cd " + dir.path(".") + " && " + program_command(AIFCONV_BINARY) + " IN /dev/stdout 2>err");
    EXPECT_EQ(got, std::make_pair(out, err.empty() ? 0 : 1));
    EXPECT_EQ(read_text(dir.path("err")), err);
  }
}

#endif  // _WIN32

// A write error that the file system reports only when the output is closed
// (a network file system, a quota) fails the run and removes the output; on
// a run that failed already, it changes nothing.
TEST(OutputClose, FailureAtTheCloseFailsTheRun) {
  aifconv::Hooks hooks;
  hooks.close_output = [](void*, int fd) {
    aifconv::platform::close_file(fd);
    errno = EIO;
    return false;
  };
  const std::string kEio = "OUT: " + std::string(std::strerror(EIO)) + "\n";
  for (const auto& [input, err] : {std::pair{kValid, kEio},
                                   {text("not a sound file"), "warning: unhandled chunk not  (size=1629516655)\n" + kBadFile}}) {
    expect_result(convert(input, hooks), {"", {}, 1, err, {}});
  }
}

#ifndef _WIN32
// A read error is not an end of file: a directory as input reads with EISDIR.
TEST(ShortRead, ReadErrorUsesTheSystemMessage) {
  TempDir dir;
  ASSERT_EQ(mkdir(dir.path("in.aifc").c_str(), 0755), 0);
  expect_result(run_paths(dir.path("in.aifc"), dir.path("out.wav")),
                {"", {}, 1, "IN: " + std::string(std::strerror(EISDIR)) + "\n" + kBadFile, {}});
}

#endif  // _WIN32

// The installed binary, as a user runs it.
TEST(Binary, UsageNamesTheInvocationWord) {
  EXPECT_EQ(run_command(program_command(AIFCONV_BINARY) + " 2>&1"),
            std::make_pair(text("usage: " + std::string(AIFCONV_BINARY) + " <input AIFC file> <output WAV file>\n"), 1));
}

// The output is created as any new file: read and write for all, less the
// umask (022 here); on Windows it is written over an existing file.
TEST(Binary, ConvertsAFile) {
  TempDir dir;
  write_file(dir.path("in.aifc"), kValid);
  const std::string command =
      program_command(AIFCONV_BINARY) + " " + dir.path("in.aifc") + " " + dir.path("out.wav");
#ifndef _WIN32
  const mode_t mask = umask(022);
#else
  write_file(dir.path("out.wav"), repeat(9, 1000));
#endif
  EXPECT_EQ(exit_status(std::system(command.c_str())), 0);
  EXPECT_EQ(read_file(dir.path("out.wav")), kValidWav);
#ifndef _WIN32
  umask(mask);
  struct stat st;
  ASSERT_EQ(stat(dir.path("out.wav").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
#endif
}

}  // namespace
}  // namespace aifc_test
