#include <fcntl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

#include <climits>
#include <filesystem>

#include <gtest/gtest.h>

#include "host/fileio/FileStream.h"
#include "host/fileio/SaveBatch.h"
#include "tests/fileio/TempDir.h"

namespace {

using tq::testing::ReadFile;
using tq::testing::TempDir;
using tq::testing::WriteFile;

void WriteLine(QuorStream& s, int index, long x, long y) {
  s << index;
  tab(s);
  s << x;
  tab(s);
  s << y;
  nl(s);
}

TEST(FileStream, WritesDecimalTabsAndNewlines) {
  TempDir dir;
  String name((dir / "out.txt").c_str());
  FileStream f;
  ASSERT_EQ(f.Open(name, 0), 1);
  WriteLine(f, 0, 384, 272);
  WriteLine(f, INT_MAX, -1, INT_MIN);
  f << static_cast<long>(LONG_MIN) << nl;
  ASSERT_EQ(f.Close(), 1);
  EXPECT_EQ(ReadFile(name.Get()),
            "0\t384\t272\n2147483647\t-1\t-2147483648\n"
            "-9223372036854775808\n");
  EXPECT_EQ(dir.Count(), 1);  // no temporary left
}

TEST(FileStream, ReplacesExistingFileOnlyOnClose) {
  TempDir dir;
  const std::string path = dir / "out.txt";
  WriteFile(path, "old contents\n");
  chmod(path.c_str(), 0640);
  String name(path.c_str());
  FileStream f;
  ASSERT_EQ(f.Open(name, 0), 1);
  WriteLine(f, 0, 1, 2);
  EXPECT_EQ(ReadFile(path), "old contents\n");
  ASSERT_EQ(f.Close(), 1);
  EXPECT_EQ(ReadFile(path), "0\t1\t2\n");
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(FileStream, AbandonedStreamLeavesTargetAndNoTemporary) {
  TempDir dir;
  const std::string path = dir / "out.txt";
  WriteFile(path, "keep me\n");
  {
    String name(path.c_str());
    FileStream f;
    ASSERT_EQ(f.Open(name, 0), 1);
    WriteLine(f, 0, 1, 2);
  }
  EXPECT_EQ(ReadFile(path), "keep me\n");
  EXPECT_EQ(dir.Count(), 1);
}

TEST(FileStream, RefusedTargets) {
  TempDir dir;
  std::filesystem::create_directory(dir / "folder");
  struct Row {
    std::string path;
    const char* reason;
  } rows[] = {
      {dir / "missing/out.txt", "No such file or directory"},
      {dir / "folder", "Is a directory"},
      {"", "No such file or directory"},
  };
  for (const Row& r : rows) {
    String name(r.path.c_str());
    FileStream f;
    EXPECT_EQ(f.Open(name, 0), 0) << r.path;
    WriteLine(f, 0, 1, 2);  // harmless
    EXPECT_EQ(f.Close(), 0) << r.path;
    EXPECT_EQ(f.Error(), r.reason) << r.path;
  }
  EXPECT_EQ(dir.Count(), 1);
  EXPECT_TRUE(std::filesystem::is_directory(dir / "folder"));
}

TEST(FileStream, FullDeviceFailsOnClose) {
  String name("/dev/full");
  FileStream f;
  ASSERT_EQ(f.Open(name, 0), 1);
  WriteLine(f, 0, 1, 2);
  EXPECT_EQ(f.Close(), 0);
  EXPECT_EQ(f.Error(), "No space left on device");
  struct stat st;
  ASSERT_EQ(stat("/dev/full", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
}

TEST(FileStream, NullDeviceIsWrittenInPlace) {
  String name("/dev/null");
  FileStream f;
  ASSERT_EQ(f.Open(name, 0), 1);
  WriteLine(f, 0, 1, 2);
  EXPECT_EQ(f.Close(), 1);
  struct stat st;
  ASSERT_EQ(stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
}

TEST(FileStream, SymbolicLinkIsFollowedAndKept) {
  TempDir dir;
  std::filesystem::create_directory(dir / "real");
  const std::string target = dir / "real/track.txt";
  WriteFile(target, "old\n");
  std::filesystem::create_symlink("real/track.txt", dir / "link.txt");
  String name((dir / "link.txt").c_str());
  FileStream f;
  ASSERT_EQ(f.Open(name, 0), 1);
  WriteLine(f, 0, 5, 6);
  ASSERT_EQ(f.Close(), 1);
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.txt"));
  EXPECT_EQ(ReadFile(target), "0\t5\t6\n");
  EXPECT_EQ(ReadFile(dir / "link.txt"), "0\t5\t6\n");
}

TEST(FileStream, DanglingLinkCreatesItsTarget) {
  TempDir dir;
  std::filesystem::create_symlink("made.txt", dir / "link.txt");
  String name((dir / "link.txt").c_str());
  FileStream f;
  ASSERT_EQ(f.Open(name, 0), 1);
  f << 1 << nl;
  ASSERT_EQ(f.Close(), 1);
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.txt"));
  EXPECT_EQ(ReadFile(dir / "made.txt"), "1\n");
}

TEST(FileStream, ReopenAfterCloseStartsAfresh) {
  TempDir dir;
  String a((dir / "a.txt").c_str()), b((dir / "b.txt").c_str());
  FileStream f;
  ASSERT_EQ(f.Open(a, 0), 1);
  f << 1 << nl;
  ASSERT_EQ(f.Close(), 1);
  ASSERT_EQ(f.Open(b, 0), 1);
  f << 2 << nl;
  ASSERT_EQ(f.Close(), 1);
  EXPECT_EQ(ReadFile(a.Get()), "1\n");
  EXPECT_EQ(ReadFile(b.Get()), "2\n");
  EXPECT_EQ(f.Close(), 0);  // nothing open
}

TEST(FileStream, LargeOutputCrossesTheFlushThreshold) {
  TempDir dir;
  String name((dir / "big.txt").c_str());
  FileStream f;
  ASSERT_EQ(f.Open(name, 0), 1);
  std::string expected;
  for (int i = 0; i < 20000; ++i) {
    WriteLine(f, i, -i, i * 2);
    expected += std::to_string(i) + "\t" + std::to_string(-i) + "\t" + std::to_string(i * 2) + "\n";
  }
  ASSERT_EQ(f.Close(), 1);
  EXPECT_EQ(ReadFile(name.Get()), expected);
}

// --- the system-call seam -----------------------------------------------------

// Installs a set of calls for a scope; restores the previous set after.
class ScopedCalls {
 public:
  explicit ScopedCalls(const tq::fileio::SystemCalls& calls)
      : previous_(tq::fileio::SetSystemCalls(calls)) {}
  ~ScopedCalls() { tq::fileio::SetSystemCalls(previous_); }

 private:
  tq::fileio::SystemCalls previous_;
};

// Calls whose open refuses unnamed files, as a file system without O_TMPFILE.
tq::fileio::SystemCalls NamedTemporariesOnly() {
  tq::fileio::SystemCalls calls = tq::fileio::RealSystemCalls();
  calls.open = [](const char* path, int flags, mode_t mode) {
    if ((flags & O_TMPFILE) == O_TMPFILE) {
      errno = EOPNOTSUPP;
      return -1;
    }
    return ::open(path, flags, mode);
  };
  return calls;
}

// While it is written, the new file has no name: the folder holds the old
// file alone, and the new one appears only on Close.
TEST(FileStream, NoNameExistsUntilTheDataIsComplete) {
  TempDir dir;
  const std::string path = dir / "out.txt";
  WriteFile(path, "old\n");
  String name(path.c_str());
  FileStream f;
  ASSERT_EQ(f.Open(name, 0), 1);
  f.Write(std::string(1 << 17, 'x').data(), 1 << 17);  // past the flush threshold
  EXPECT_EQ(dir.Count(), 1);
  ASSERT_EQ(f.Close(), 1);
  EXPECT_EQ(dir.Count(), 1);
  EXPECT_EQ(ReadFile(path).size(), std::size_t{1} << 17);
}

// Every failing call of the durable save: the stream says why, the old file
// is kept byte for byte and nothing else is left in the folder; with named
// and with unnamed temporaries.
TEST(FileStream, EveryFailingCallKeepsTheOldFile) {
  using Calls = tq::fileio::SystemCalls;
  struct Row {
    const char* call;
    void (*breakIt)(Calls&);
    int errorNumber;
    bool failsOnOpen;
  } rows[] = {
      {"open",
       [](Calls& c) { c.open = [](const char*, int, mode_t) { return errno = EMFILE, -1; }; },
       EMFILE, true},
      {"write",
       [](Calls& c) {
         c.write = [](int, const void*, size_t) -> ssize_t { return errno = EIO, -1; };
       },
       EIO, false},
      {"fsync", [](Calls& c) { c.fsync = [](int) { return errno = EIO, -1; }; }, EIO, false},
      {"rename",
       [](Calls& c) { c.rename = [](const char*, const char*) { return errno = EXDEV, -1; }; },
       EXDEV, false},
      {"access", [](Calls& c) { c.access = [](const char*, int) { return errno = EACCES, -1; }; },
       EACCES, true},
  };
  for (const bool named : {false, true}) {
    for (const Row& r : rows) {
      TempDir dir;
      const std::string path = dir / "out.txt";
      WriteFile(path, "old\n");
      Calls calls = named ? NamedTemporariesOnly() : tq::fileio::RealSystemCalls();
      r.breakIt(calls);
      ScopedCalls use(calls);
      String name(path.c_str());
      FileStream f;
      EXPECT_EQ(f.Open(name, 0), r.failsOnOpen ? 0 : 1) << r.call;
      WriteLine(f, 0, 1, 2);
      EXPECT_EQ(f.Close(), 0) << r.call;
      EXPECT_EQ(f.Error(), std::strerror(r.errorNumber)) << r.call << (named ? " named" : "");
      EXPECT_EQ(ReadFile(path), "old\n") << r.call;
      EXPECT_EQ(dir.Count(), 1) << r.call << (named ? " named" : "");
    }
  }
  // Giving the unnamed file its name.
  TempDir dir;
  WriteFile(dir / "out.txt", "old\n");
  Calls calls = tq::fileio::RealSystemCalls();
  calls.linkat = [](int, const char*, int, const char*, int) { return errno = ENOSPC, -1; };
  ScopedCalls use(calls);
  String name((dir / "out.txt").c_str());
  FileStream f;
  ASSERT_EQ(f.Open(name, 0), 1);
  EXPECT_EQ(f.Close(), 0);
  EXPECT_EQ(f.Error(), "No space left on device");
  EXPECT_EQ(ReadFile(dir / "out.txt"), "old\n");
  EXPECT_EQ(dir.Count(), 1);
}

// A run interrupted by a signal leaves the old file and no temporary: an
// unnamed temporary has no name to leave (even after SIGKILL); a named one
// is removed before any signal whose default ends the process takes its
// course, raised or (SIGSEGV on a page it may not write) a real fault. A
// signal the process ignores stays ignored, and the file is written.
TEST(FileStream, InterruptedWriteLeavesNoTemporary) {
  enum How { kRaise, kFault, kIgnored };
  struct Row {
    int signal;
    bool named;
    How how = kRaise;
  } rows[] = {
      {SIGINT, false},         {SIGTERM, false},         {SIGHUP, false},   {SIGKILL, false},
      {SIGINT, true},          {SIGTERM, true},          {SIGHUP, true},    {SIGQUIT, true},
      {SIGILL, true},          {SIGTRAP, true},          {SIGABRT, true},   {SIGBUS, true},
      {SIGFPE, true},          {SIGUSR1, true},          {SIGSEGV, true},   {SIGUSR2, true},
      {SIGPIPE, true},         {SIGALRM, true},          {SIGSTKFLT, true}, {SIGXCPU, true},
      {SIGXFSZ, true},         {SIGVTALRM, true},        {SIGPROF, true},   {SIGIO, true},
      {SIGPWR, true},          {SIGSYS, true},           {SIGRTMIN, true},  {SIGRTMAX, true},
      {SIGSEGV, true, kFault}, {SIGPIPE, true, kIgnored}};
  for (const Row& r : rows) {
    TempDir dir;
    const std::string path = dir / "out.txt";
    WriteFile(path, "old\n");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      prctl(PR_SET_DUMPABLE, 0);  // no core files from the rows that dump one
      signal(r.signal, r.how == kIgnored ? SIG_IGN : SIG_DFL);  // not a sanitizer's handler
      if (r.named) tq::fileio::SetSystemCalls(NamedTemporariesOnly());
      String name(path.c_str());
      FileStream f;
      if (f.Open(name, 0) != 1) _exit(3);
      f.Write(std::string(1 << 17, 'x').data(), 1 << 17);
      if (r.how == kFault) {
        void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        *static_cast<volatile char*>(page) = 1;
      } else {
        raise(r.signal);
      }
      _exit(r.how == kIgnored && f.Close() == 1 ? 0 : 4);  // reached when ignored
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    const std::string kept = r.how == kIgnored ? std::string(1 << 17, 'x') : "old\n";
    if (r.how == kIgnored) {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    } else {
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == r.signal)
          << strsignal(r.signal) << " status " << status;
    }
    EXPECT_TRUE(ReadFile(path) == kept) << strsignal(r.signal);
    EXPECT_EQ(dir.Count(), 1) << strsignal(r.signal) << (r.named ? " named" : " unnamed");
  }
}

// A file the user may not write is refused as writing in place would be,
// and kept; a file the user may write keeps its owner and group.
TEST(FileStream, ReadOnlyTargetIsRefusedAndOwnersAreKept) {
  TempDir dir;
  const std::string path = dir / "out.txt";
  WriteFile(path, "old\n");
  if (geteuid() != 0) {
    chmod(path.c_str(), 0444);
    String name(path.c_str());
    FileStream f;
    EXPECT_EQ(f.Open(name, 0), 0);
    EXPECT_EQ(f.Error(), "Permission denied");
    EXPECT_EQ(ReadFile(path), "old\n");
    GTEST_SKIP() << "owners can be set by root only (the refusal itself is also run through "
                    "the seam in EveryFailingCallKeepsTheOldFile)";
  }
  ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
  String name(path.c_str());
  FileStream f;
  ASSERT_EQ(f.Open(name, 0), 1);
  WriteLine(f, 0, 1, 2);
  ASSERT_EQ(f.Close(), 1);
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 65534u);
  EXPECT_EQ(st.st_gid, 65534u);
  EXPECT_EQ(ReadFile(path), "0\t1\t2\n");
}

// A path that names an open descriptor writes to that descriptor: appending
// when it was opened for appending, into a pipe as into a file; the file
// behind it is never replaced.
TEST(FileStream, DescriptorPathsAreWrittenInPlace) {
  TempDir dir;
  const std::string log = dir / "log.txt";
  WriteFile(log, "kept\n");
  const int appending = open(log.c_str(), O_WRONLY | O_APPEND);
  ASSERT_GE(appending, 0);
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  for (const std::string& path :
       {"/dev/fd/" + std::to_string(appending), "/proc/self/fd/" + std::to_string(appending)}) {
    String name(path.c_str());
    FileStream f;
    ASSERT_EQ(f.Open(name, 0), 1) << path;
    WriteLine(f, 0, 1, 2);
    EXPECT_EQ(f.Close(), 1) << path;
  }
  EXPECT_EQ(ReadFile(log), "kept\n0\t1\t2\n0\t1\t2\n");
  String name(("/proc/self/fd/" + std::to_string(pipeEnds[1])).c_str());
  FileStream f;
  ASSERT_EQ(f.Open(name, 0), 1);
  WriteLine(f, 7, 8, 9);
  EXPECT_EQ(f.Close(), 1);
  char buffer[16] = {};
  EXPECT_EQ(read(pipeEnds[0], buffer, sizeof buffer - 1), 6);
  EXPECT_STREQ(buffer, "7\t8\t9\n");
  // A descriptor that is not open.
  String closed("/dev/fd/999");
  FileStream g;
  EXPECT_EQ(g.Open(closed, 0), 0);
  EXPECT_EQ(g.Error(), "Bad file descriptor");
  EXPECT_EQ(dir.Count(), 1);
  close(appending);
  close(pipeEnds[0]);
  close(pipeEnds[1]);
}

// --- saving in a batch ---------------------------------------------------------

// Writes its own name to each of names in dir; answers the Closes' answers.
std::string SaveAll(const TempDir& dir, const std::vector<std::string>& names) {
  std::string closes;
  for (const std::string& n : names) {
    String name((dir / n).c_str());
    FileStream f;
    f.Open(name, 0);
    f.Write(n.data(), n.size());
    closes += std::to_string(f.Close());
  }
  return closes;
}

// What Commit answered, one "path: error" a line, paths relative to dir.
std::string Answers(const TempDir& dir, tq::fileio::SaveBatch& batch) {
  std::string text;
  for (const auto& s : batch.Commit())
    text += s.path.substr(dir.path().string().size()) + ": " + s.error + "\n";
  return text;
}

// Seven files with a chunk of three: six are committed as they come, three
// together, no more than three descriptors held; the last only at Commit.
TEST(SaveBatch, CommitsEveryFileAChunkAtATime) {
  TempDir dir;
  WriteFile(dir / "g", "old\n");
  tq::fileio::SaveBatch batch(3);
  tq::fileio::SetSaveBatch(&batch);
  const auto fds = [] {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
  };
  const auto before = fds();
  EXPECT_EQ(SaveAll(dir, {"a b", "$(x)", "é", "'q'", "e", "f", "g"}), "1111111");
  EXPECT_EQ(fds(), before + 1);
  EXPECT_EQ(ReadFile(dir / "f") + ReadFile(dir / "g"), "fold\n");
  EXPECT_EQ(batch.Size(), 7u);
  EXPECT_EQ(Answers(dir, batch), "/a b: \n/$(x): \n/é: \n/'q': \n/e: \n/f: \n/g: \n");
  EXPECT_EQ(ReadFile(dir / "a b") + ReadFile(dir / "é") + ReadFile(dir / "g"), "a bég");
  EXPECT_EQ(dir.Count(), 7);
  EXPECT_EQ(fds(), before);
}

// A process allowed a few descriptors more than it holds, fewer than a
// chunk: a file that finds none free commits those waiting, and all twenty
// are saved.
TEST(SaveBatch, TooFewDescriptorsForAChunkCommitEarly) {
  TempDir dir;
  std::vector<std::string> names;
  std::string answers;
  for (int i = 0; i < 20; ++i) {
    names.push_back("f " + std::to_string(i));
    answers += "/f " + std::to_string(i) + ": \n";
  }
  std::vector<int> open;
  for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd"))
    open.push_back(std::stoi(fd.path().filename().string()));
  int limit = 0;
  for (int free = 0; free < 3; ++limit) free += std::count(open.begin(), open.end(), limit) == 0;
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
  rlimit low = old;
  low.rlim_cur = static_cast<rlim_t>(limit);
  tq::fileio::SaveBatch batch;
  tq::fileio::SetSaveBatch(&batch);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  const std::string closes = SaveAll(dir, names);
  setrlimit(RLIMIT_NOFILE, &old);
  EXPECT_EQ(closes, std::string(20, '1'));
  EXPECT_EQ(Answers(dir, batch), answers);
  EXPECT_EQ(ReadFile(dir / "f 19"), "f 19");
  EXPECT_EQ(dir.Count(), 20);
}

// A file system with room for two files beyond those in place (each
// temporary holds an inode and its space until it replaces its old file):
// out of inodes (ENOSPC on creating) or over quota (EDQUOT on writing), a
// file commits those waiting, freeing their old files, and all ten are saved.
TEST(SaveBatch, ANearlyFullDiskCommitsThoseWaitingAndTriesAgain) {
  using Calls = tq::fileio::SystemCalls;
  static int waiting = 0;  // temporaries not yet in place
  const std::pair<void (*)(Calls&), const char*> rows[] = {
      {[](Calls& c) {
         c.open = [](const char* path, int flags, mode_t mode) {
           if ((flags & O_TMPFILE) == O_TMPFILE && waiting >= 2) return errno = ENOSPC, -1;
           const int fd = ::open(path, flags, mode);
           waiting += fd >= 0 && (flags & O_TMPFILE) == O_TMPFILE;
           return fd;
         };
       },
       "inodes"},
      {[](Calls& c) {
         c.open = [](const char* path, int flags, mode_t mode) {
           const int fd = ::open(path, flags, mode);
           waiting += fd >= 0 && (flags & O_TMPFILE) == O_TMPFILE;
           return fd;
         };
         c.write = [](int fd, const void* data, size_t n) -> ssize_t {
           return waiting > 2 ? errno = EDQUOT, -1 : ::write(fd, data, n);
         };
       },
       "quota"},
  };
  for (const auto& [fill, what] : rows) {
    TempDir dir;
    std::vector<std::string> names;
    std::string answers;
    for (int i = 0; i < 10; ++i) {
      names.push_back(std::to_string(i));
      answers += "/" + names.back() + ": \n";
      WriteFile(dir / names.back(), "old\n");
    }
    Calls full = tq::fileio::RealSystemCalls();
    fill(full);
    full.rename = [](const char* from, const char* to) {
      const int done = ::rename(from, to);
      waiting -= done == 0;
      return done;
    };
    ScopedCalls use(full);
    tq::fileio::SaveBatch batch;
    tq::fileio::SetSaveBatch(&batch);
    waiting = 0;
    EXPECT_EQ(SaveAll(dir, names), std::string(10, '1')) << what;
    EXPECT_EQ(Answers(dir, batch), answers) << what;
    EXPECT_EQ(ReadFile(dir / "0") + ReadFile(dir / "9"), "09") << what;
    EXPECT_EQ(dir.Count(), 10) << what;
  }
}

// The file system is synced once for many files, and only while little
// else waits to be written (its sync would write that too); a few files, or
// many while another program left 256 MB unsaved, are synced each alone.
TEST(SaveBatch, SyncsTheFileSystemOnlyForManyFilesAndLittleElseUnsaved) {
  static int syncs = 0;
  static unsigned long long unsaved = 0;
  const struct Row {
    int files;
    unsigned long long unsaved;
    int syncs;  // of the file system
  } rows[] = {{2, 0, 0}, {7, 0, 0}, {8, 0, 1}, {8, 256ull << 20, 0}};
  for (const Row& r : rows) {
    TempDir dir;
    std::vector<std::string> names;
    for (int i = 0; i < r.files; ++i) names.push_back(std::to_string(i));
    tq::fileio::SystemCalls calls = tq::fileio::RealSystemCalls();
    calls.syncfs = [](int fd) { return ++syncs, ::syncfs(fd); };
    calls.unsavedBytes = [] { return unsaved; };
    ScopedCalls use(calls);
    tq::fileio::SaveBatch batch;
    tq::fileio::SetSaveBatch(&batch);
    syncs = 0;
    unsaved = r.unsaved;
    EXPECT_EQ(SaveAll(dir, names), std::string(static_cast<std::size_t>(r.files), '1'));
    batch.Commit();
    EXPECT_EQ(syncs, r.syncs) << r.files << " files, " << r.unsaved << " bytes unsaved";
    EXPECT_EQ(dir.Count(), r.files);
  }
}

// A sync or a naming that fails for one file of three (b, EIO): that file
// keeps its old content, no temporary is left, the others are saved, and
// Commit says which failed and why; with unnamed and with named temporaries.
TEST(SaveBatch, AFailedFileKeepsItsTargetAndTheOthersAreSaved) {
  using Calls = tq::fileio::SystemCalls;
  static int calls = 0;
  const std::pair<void (*)(Calls&), bool> rows[] = {
      {[](Calls& c) {
         c.syncFileRange = [](int fd, off_t at, off_t n, unsigned how) {
           const bool fail = (how & SYNC_FILE_RANGE_WAIT_AFTER) != 0 && ++calls == 2;
           return fail ? errno = EIO, -1 : ::sync_file_range(fd, at, n, how);
         };
       },
       false},
      {[](Calls& c) {  // the file system's sync fails: each file synced alone
         c.syncfs = [](int) { return errno = ENOSPC, -1; };
         c.fsync = [](int fd) { return ++calls == 2 ? errno = EIO, -1 : ::fsync(fd); };
       },
       true},
      {[](Calls& c) {
         c.linkat = [](int a, const char* from, int b, const char* to, int flags) {
           return std::strstr(to, "/.b.") ? errno = EIO, -1 : ::linkat(a, from, b, to, flags);
         };
       },
       false},
  };
  for (const auto& [breakIt, named] : rows) {
    TempDir dir;
    for (const char* n : {"a", "b", "c"}) WriteFile(dir / n, "old\n");
    Calls broken = named ? NamedTemporariesOnly() : tq::fileio::RealSystemCalls();
    breakIt(broken);
    ScopedCalls use(broken);
    tq::fileio::SaveBatch batch;
    tq::fileio::SetSaveBatch(&batch);
    calls = 0;
    EXPECT_EQ(SaveAll(dir, {"a", "b", "c"}), "111");
    EXPECT_EQ(Answers(dir, batch), "/a: \n/b: Input/output error\n/c: \n");
    EXPECT_EQ(ReadFile(dir / "a") + ReadFile(dir / "b") + ReadFile(dir / "c"), "aold\nc");
    EXPECT_EQ(dir.Count(), 3);
  }
}

// A stream destroyed without Close, and a batch destroyed with files still
// waiting (named ones too), leave the targets as they were and nothing else;
// so does a signal that ends the process while named temporaries wait, more
// of them than streams are ever open at once.
TEST(SaveBatch, AbandonedFilesLeaveNothing) {
  for (const bool named : {false, true}) {
    TempDir dir;
    WriteFile(dir / "a", "old\n");
    ScopedCalls use(named ? NamedTemporariesOnly() : tq::fileio::RealSystemCalls());
    {
      tq::fileio::SaveBatch batch;
      tq::fileio::SetSaveBatch(&batch);
      {
        String name((dir / "a").c_str());
        FileStream f;
        ASSERT_EQ(f.Open(name, 0), 1);
        WriteLine(f, 0, 1, 2);
      }
      EXPECT_EQ(batch.Size(), 0u);
      EXPECT_EQ(SaveAll(dir, {"a", "b"}), "11");
      EXPECT_EQ(dir.Count(), named ? 3 : 1);
    }
    EXPECT_EQ(ReadFile(dir / "a"), "old\n");
    EXPECT_EQ(dir.Count(), 1);
  }
  TempDir dir;
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGTERM, SIG_DFL);
    tq::fileio::SetSystemCalls(NamedTemporariesOnly());
    tq::fileio::SaveBatch batch;
    tq::fileio::SetSaveBatch(&batch);
    SaveAll(dir, {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"});
    raise(SIGTERM);
    _exit(4);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  EXPECT_EQ(dir.Count(), 0);
}

}  // namespace
