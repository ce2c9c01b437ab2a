#include "host/fileio/InputFile.h"

#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "tests/fileio/TempDir.h"

namespace {

// Every kind of input: what is read, or the message refusing it. A FIFO
// with no writer must answer at once (the alarm ends a test that waits).
TEST(InputFile, ReadsRegularFilesAndStandardInputRefusesTheRest) {
  alarm(20);
  tq::testing::TempDir dir;
  const std::string file = dir / "t ü $(x).txt", exact = dir / "exact", over = dir / "over";
  for (const std::string& f : {file, dir / "empty", exact, over}) tq::testing::WriteFile(f, "");
  tq::testing::WriteFile(file, "0\t1\t2\n");
  ASSERT_EQ(truncate(exact.c_str(), off_t{64} << 20), 0);  // sparse: made at once
  ASSERT_EQ(truncate(over.c_str(), (off_t{64} << 20) + 1), 0);
  std::filesystem::create_symlink(file, dir / "link");
  std::filesystem::create_directory(dir / "t.txt");
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  ASSERT_EQ(write(ends[1], "1\t5\t6\n", 6), 6);
  close(ends[1]);
  const std::string large = ": larger than the 64 MiB a track may be";
  struct Row {
    std::string path;
    int input;  // standard input for the row, -1 to keep it
    std::string text, error;
  } rows[] = {
      {file, -1, "0\t1\t2\n", ""},
      {dir / "link", -1, "0\t1\t2\n", ""},
      {dir / "empty", -1, "", ""},
      {exact, -1, std::string(std::size_t{64} << 20, '\0'), ""},
      {over, -1, "", over + large},
      {dir / "t.txt", -1, "", dir / "t.txt: not a regular file (a folder)"},
      {dir / "fifo", -1, "", dir / "fifo: not a regular file (a FIFO)"},
      {"/dev/zero", -1, "", "/dev/zero: not a regular file (a device)"},
      {dir / "missing", -1, "", dir / "missing: No such file or directory"},
      {"-", ends[0], "1\t5\t6\n", ""},
      {"-", open("/dev/zero", O_RDONLY | O_CLOEXEC), "", "standard input" + large},
  };
  const int saved = dup(0);
  for (const Row& r : rows) {
    if (r.input >= 0) dup2(r.input, 0);
    const tq::Result<std::string> read = tq::fileio::ReadInputFile(r.path);
    EXPECT_EQ(static_cast<bool>(read), r.error.empty()) << r.path;
    EXPECT_EQ(read.error, r.error) << r.path;
    const std::string text = read ? *read : "";
    EXPECT_TRUE(text == r.text) << r.path << ": " << text.size() << " bytes";
  }
  dup2(saved, 0);
  for (const int fd : {saved, ends[0], rows[10].input}) close(fd);
  alarm(0);
}

}  // namespace
