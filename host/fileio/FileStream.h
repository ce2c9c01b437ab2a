// Text output of the host file library.
//
// FileStream never loses data: writing to a regular file (or a name that does
// not exist yet) goes to a new temporary file in the same folder, and Close
// flushes, syncs and renames it over the target. A failed run leaves an
// existing file exactly as it was and no temporary behind. A target that exists
// and is not a regular file (a device, a pipe) is written in place and never
// replaced; a symbolic link is followed, so the file it points to is replaced
// and the link stays.
//
// Failures are never reported as success: Open answers 0 when the file cannot
// be created, and the stream then takes writes harmlessly; Close answers 0 when
// anything could not be written. Error() gives the reason in words.
#pragma once

#include <string>

#include "math/String.h"

class QuorStream {
 public:
  QuorStream() = default;
  QuorStream(const QuorStream&) = delete;
  QuorStream& operator=(const QuorStream&) = delete;
  virtual ~QuorStream() = default;

  // Plain decimal, a leading '-' for negatives.
  QuorStream& operator<<(int value);
  QuorStream& operator<<(long value);
  QuorStream& operator<<(QuorStream& (*manipulator)(QuorStream&)) { return manipulator(*this); }

  // Appends raw characters.
  virtual void Write(const char* data, unsigned long n) = 0;
};

// A tab; the end of a line ("\n").
QuorStream& tab(QuorStream& stream);
QuorStream& nl(QuorStream& stream);

namespace tq::fileio {

// Host-side tooling: sees what every FileStream is given, as it is given, so
// that the host program can summarise and draw a run from the lines it wrote
// without reading the file back (which may be a pipe or a terminal).
class StreamTap {
 public:
  virtual ~StreamTap() = default;
  virtual void Opened(const std::string& path) = 0;
  virtual void Wrote(const char* data, unsigned long n) = 0;
};
// Installs a tap (null removes it); answers the previous one.
StreamTap* SetStreamTap(StreamTap* tap);

}  // namespace tq::fileio

class FileStream : public QuorStream {
 public:
  FileStream() = default;
  // Abandons a stream still open: a temporary is removed, the target untouched.
  ~FileStream() override;

  // Opens name for writing text; mode is unused (the plug-in passes 0).
  // Answers 1 when open, 0 when the file cannot be created.
  int Open(String& name, long mode);
  // Flushes and closes; answers 1 when every byte reached the file.
  int Close();

  void Write(const char* data, unsigned long n) override;

  bool IsOpen() const noexcept { return fd_ >= 0; }
  // The reason of the last failure ("" when none), e.g. "No such file or directory".
  const std::string& Error() const noexcept { return error_; }

 private:
  bool Flush();
  void Fail(const std::string& what, int err);
  void Abandon();

  int fd_ = -1;
  bool failed_ = false;
  bool replace_ = false;   // write a temporary, rename on Close
  std::string target_;     // the file finally written
  std::string temporary_;  // the temporary, when replace_
  std::string pending_;    // bytes not yet written
  std::string error_;
};
