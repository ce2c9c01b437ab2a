// Bounded reading of a text input: a regular file, or standard input for "-".
//
// ReadInputFile never waits on what is not a file and never keeps more than
// its limit: the path is opened non-blocking (O_NONBLOCK, so a FIFO with no
// writer or a serial line answers at once; O_NOCTTY, so a terminal never
// becomes the process's) and checked with fstat before a byte is read.
// Refused, each with a message that names the file and the problem:
//   t.txt: No such file or directory
//   t.txt: not a regular file (a folder)      (also a FIFO, a device, a socket)
//   t.txt: larger than the 64 MiB a track may be
// A regular file larger than the limit is refused from its size, unread. A
// file that grows while read, or one whose size says nothing (/proc), is
// read to at most one byte past the limit. Standard input is read as the
// stream it is (a pipe, a terminal, a redirected file), to at most one byte
// past the limit too: a never-ending stream (< /dev/zero) is refused after
// limit + 1 bytes, with "standard input" as its name.
#pragma once

#include <cstddef>
#include <string>

#include "host/fileio/Result.h"

namespace tq::fileio {

// The largest input read by default, as large as a scene file may be.
inline constexpr std::size_t kMaxInputBytes = std::size_t{64} << 20;

// path: a file, or "-" for standard input. limit: the most bytes accepted;
// what: what the input is, for the message on one too large ("a track":
// "larger than the 64 MiB a track may be").
// The whole input, or "NAME: problem".
Result<std::string> ReadInputFile(const std::string& path, std::size_t limit = kMaxInputBytes,
                                  const char* what = "a track");

// What a file that is not a regular one is, in words, from its st_mode:
// "a folder", "a FIFO", "a device", "a socket", "a symbolic link" (lstat).
const char* KindOf(unsigned mode);

// A regular file opened for reading as ReadInputFile opens one (never
// waited on, never a terminal, checked with fstat before a byte is read),
// closed with this object; or the problem, in words ("No such file or
// directory", "not a regular file (a FIFO)").
class RegularFile {
 public:
  explicit RegularFile(const std::string& path);
  RegularFile(const RegularFile&) = delete;
  RegularFile& operator=(const RegularFile&) = delete;
  ~RegularFile();

  const std::string& Error() const { return error_; }
  int Descriptor() const { return fd_; }
  // Its size when opened.
  std::size_t Size() const { return size_; }
  // Whether what the path named, opened, is a folder.
  bool Folder() const { return folder_; }
  // Its n bytes from offset at (within Size()) into data: "" or the problem
  // (one cut short while read says so).
  std::string Read(char* data, std::size_t n, std::size_t at = 0) const;
  std::string ReadAll(char* data) const { return Read(data, size_); }

 private:
  int fd_ = -1;
  std::size_t size_ = 0;
  bool folder_ = false;
  std::string error_;
};

}  // namespace tq::fileio
