// Text output of the host file library.
//
// FileStream never loses data: writing to a regular file (or a name that does
// not exist yet) goes to a new temporary file in the same folder, and Close
// flushes, syncs and renames it over the target. A failed run leaves an
// existing file exactly as it was and no temporary behind:
// - the temporary is created unnamed (O_TMPFILE) where the file system
//   allows, and only given a name once its data is complete, so not even
//   SIGKILL leaves one behind; elsewhere it is named, and every signal whose
//   default action ends the process (SIGINT, SIGTERM, SIGHUP, SIGQUIT,
//   SIGPIPE, SIGALRM, SIGUSR1, SIGSEGV, ..., the real-time ones) removes it
//   before the signal takes its course; a signal the process ignores stays
//   ignored;
// - an existing file the user may not write is refused ("Permission denied")
//   as an in-place write would be; the new file keeps the old one's mode, and
//   its owner and group where the process may set them.
// What the given path opens to decides the rest, never links followed by
// hand: a path naming an open descriptor (/dev/stdout, /dev/stderr,
// /dev/fd/N, /proc/self/fd/N) writes to that descriptor, appending when it
// was opened for appending; any other path that is not a regular file (a
// device, a pipe, a terminal) is written in place and never replaced; a
// symbolic link to a file has that file replaced and stays a link.
//
// Failures are never reported as success: Open answers 0 when the file cannot
// be created, and the stream then takes writes harmlessly; Close answers 0 when
// anything could not be written. Error() gives the reason in words.
//
// Each Close syncs its file, one disk flush per file. A host program saving
// many files installs a SaveBatch (SaveBatch.h): Close then hands the
// complete temporary to the batch, which syncs many together before putting
// each in place, with the same guarantees; Close's answer then covers the
// bytes reaching the temporary, and the batch's Commit answers the rest.
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

#include <sys/stat.h>
#include <sys/types.h>

namespace tq::fileio {

// The system calls FileStream makes, in one place that tests can replace to
// make any of them fail. Each has the meaning and the errno of its namesake.
struct SystemCalls {
  int (*open)(const char* path, int flags, mode_t mode);
  ssize_t (*write)(int fd, const void* data, size_t n);
  int (*fsync)(int fd);
  int (*rename)(const char* from, const char* to);
  int (*linkat)(int fromDir, const char* from, int toDir, const char* to, int flags);
  int (*access)(const char* path, int mode);
  int (*fchown)(int fd, uid_t owner, gid_t group);
  int (*syncFileRange)(int fd, off_t offset, off_t n, unsigned int flags);
  int (*syncfs)(int fd);
  // The bytes the whole system holds waiting to be written (/proc/meminfo's
  // Dirty), or 0 when it cannot tell.
  unsigned long long (*unsavedBytes)();
};
// The calls in use; the system's own unless a test installed others.
const SystemCalls& Sys();
// Installs calls (tests); answers the previous ones.
SystemCalls SetSystemCalls(const SystemCalls& calls);
// The system's own calls, to start a test's set from.
SystemCalls RealSystemCalls();

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

class SaveBatch;

}  // namespace tq::fileio

class FileStream : public QuorStream {
 public:
  FileStream() = default;
  // Abandons a stream still open: a temporary is removed, the target untouched.
  ~FileStream() override;

  // Opens name for writing text; mode is unused (the plug-in passes 0).
  // Answers 1 when open, 0 when the file cannot be created.
  int Open(String& name, long mode);
  // Flushes and closes; answers 1 when every byte reached the file (with a
  // save batch installed, a file it replaces: the temporary the batch saves).
  int Close();

  void Write(const char* data, unsigned long n) override;

  bool IsOpen() const noexcept { return fd_ >= 0; }
  // The reason of the last failure ("" when none), e.g. "No such file or directory".
  const std::string& Error() const noexcept { return error_; }

 private:
  bool Flush();
  void Fail(int err);
  void Abandon();
  int OpenInPlace(int fd);
  int OpenReplacement(const std::string& file, const struct stat* old);
  bool NameTemporary();
  // The benchmarks' slowdown build only (math/Slowdown.h).
  void SaveOnceMore();
  int HandOver(tq::fileio::SaveBatch& batch);

  int fd_ = -1;
  bool failed_ = false;
  bool replace_ = false;   // write a temporary, rename on Close
  bool unnamed_ = false;   // the temporary has no name yet (O_TMPFILE)
  std::string target_;     // the file finally written
  std::string path_;       // the name it was opened with
  std::string temporary_;  // the temporary's name, once it has one
  std::string pending_;    // bytes not yet written
  std::string error_;
};
