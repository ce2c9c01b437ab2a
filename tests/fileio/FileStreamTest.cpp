#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <filesystem>

#include <gtest/gtest.h>

#include "host/fileio/FileStream.h"
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

}  // namespace
