#include "host/fileio/FileStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "host/fileio/SaveBatch.h"
#include "host/fileio/Temporaries.h"
#include "math/Slowdown.h"

namespace {

constexpr unsigned long kFlushAt = 1u << 16;

template <class Integer>
void WriteDecimal(QuorStream& stream, Integer value) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  stream.Write(text, static_cast<unsigned long>(result.ptr - text));
}

using tq::fileio::detail::BaseOf;
using tq::fileio::detail::DirectoryOf;
using tq::fileio::detail::GuardName;
using tq::fileio::detail::TemporaryName;
using tq::fileio::detail::Unguard;

// The descriptor a path names (/dev/stdout, /dev/stderr, /dev/stdin,
// /dev/fd/N, /proc/self/fd/N, /proc/<this process>/fd/N), or -1.
int NamedDescriptor(const std::string& path) {
  if (path == "/dev/stdin") return 0;
  if (path == "/dev/stdout") return 1;
  if (path == "/dev/stderr") return 2;
  const std::string prefixes[] = {"/dev/fd/", "/proc/self/fd/",
                                  "/proc/" + std::to_string(getpid()) + "/fd/"};
  for (const std::string& prefix : prefixes) {
    if (path.compare(0, prefix.size(), prefix) != 0) continue;
    const char* digits = path.c_str() + prefix.size();
    int fd = -1;
    const auto r = std::from_chars(digits, path.c_str() + path.size(), fd);
    if (r.ec == std::errc() && r.ptr == path.c_str() + path.size() && *digits != '\0') return fd;
  }
  return -1;
}

// --- the system calls -------------------------------------------------------

tq::fileio::SystemCalls& Calls() {
  static tq::fileio::SystemCalls calls = tq::fileio::RealSystemCalls();
  return calls;
}

tq::fileio::StreamTap* tap = nullptr;

// Whether a call that failed with err may succeed now: the files a batch
// holds waiting were committed. They hold descriptors (EMFILE), and the old
// files they replace hold their space and inodes until they are put in
// place (ENOSPC, EDQUOT), so a nearly full disk saves in a batch every file
// that it would save one at a time; so do another process's of the run.
bool FreedByCommitting(int err) {
  if (err != EMFILE && err != ENOSPC && err != EDQUOT) return false;
  tq::fileio::SaveBatch* batch = tq::fileio::CurrentSaveBatch();
  if (batch == nullptr) return false;
  return batch->Release() || (err != EMFILE && batch->AwaitOthers());
}

// Opens through the seam, committing a batch's waiting files and trying
// again where that may help.
int OpenFreeing(const char* path, int flags, mode_t mode) {
  for (;;) {
    const int fd = Calls().open(path, flags, mode);
    if (fd >= 0) return fd;
    const int err = errno;
    if (!FreedByCommitting(err)) return (errno = err, -1);
  }
}

}  // namespace

tq::fileio::SystemCalls tq::fileio::RealSystemCalls() {
  return {[](const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); },
          ::write,
          ::fsync,
          ::rename,
          ::linkat,
          ::access,
          ::fchown,
          [](int fd, off_t offset, off_t n, unsigned int flags) {
            return ::sync_file_range(fd, offset, n, flags);
          },
          ::syncfs,
          [] {
            unsigned long long kib = 0;
            if (std::FILE* info = std::fopen("/proc/meminfo", "re")) {
              char line[128];
              while (std::fgets(line, sizeof line, info) != nullptr &&
                     std::sscanf(line, "Dirty: %llu kB", &kib) != 1) {
              }
              std::fclose(info);
            }
            return kib * 1024;
          }};
}

const tq::fileio::SystemCalls& tq::fileio::Sys() {
  return Calls();
}

tq::fileio::SystemCalls tq::fileio::SetSystemCalls(const SystemCalls& calls) {
  const SystemCalls previous = Calls();
  Calls() = calls;
  return previous;
}

tq::fileio::StreamTap* tq::fileio::SetStreamTap(StreamTap* newTap) {
  StreamTap* previous = tap;
  tap = newTap;
  return previous;
}

QuorStream& QuorStream::operator<<(int value) {
  WriteDecimal(*this, value);
  return *this;
}

QuorStream& QuorStream::operator<<(long value) {
  WriteDecimal(*this, value);
  return *this;
}

QuorStream& tab(QuorStream& stream) {
  stream.Write("\t", 1);
  return stream;
}

QuorStream& nl(QuorStream& stream) {
  stream.Write("\n", 1);
  return stream;
}

FileStream::~FileStream() {
  Abandon();
}

void FileStream::Fail(int err) {
  if (failed_) return;
  failed_ = true;
  error_ = std::strerror(err);
}

void FileStream::Abandon() {
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
  if (!temporary_.empty()) {
    unlink(temporary_.c_str());
    Unguard(temporary_);
  }
  temporary_.clear();
  pending_.clear();
}

int FileStream::Open(String& name, long /*mode*/) {
  Abandon();
  failed_ = false;
  replace_ = false;
  unnamed_ = false;
  error_.clear();
  target_ = name.Get();
  path_ = target_;
  if (tap != nullptr) tap->Opened(target_);
  if (target_.empty()) {
    Fail(ENOENT);
    return 0;
  }
  const tq::fileio::SystemCalls& sys = Calls();
  // A descriptor already open: written through a copy of it, which shares
  // its offset and its appending.
  if (const int named = NamedDescriptor(target_); named >= 0) {
    const int fd = fcntl(named, F_DUPFD_CLOEXEC, 3);
    if (fd < 0) {
      Fail(errno);
      return 0;
    }
    return OpenInPlace(fd);
  }
  struct stat st;
  if (stat(target_.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      Fail(EISDIR);
      return 0;
    }
    if (!S_ISREG(st.st_mode))
      return OpenInPlace(OpenFreeing(target_.c_str(), O_WRONLY | O_CLOEXEC, 0));
    // The file the path opens to, links resolved by the system.
    char real[PATH_MAX];
    if (realpath(target_.c_str(), real) == nullptr) {
      Fail(errno);
      return 0;
    }
    // Replacing needs only the folder's permission; refuse what writing in
    // place would refuse.
    if (sys.access(real, W_OK) != 0) {
      Fail(errno);
      return 0;
    }
    return OpenReplacement(real, &st);
  }
  if (errno != ENOENT) {
    Fail(errno);
    return 0;
  }
  struct stat link;
  if (lstat(target_.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    // A dangling link: creating through it makes the file it names; there is
    // no old file to keep.
    return OpenInPlace(
        OpenFreeing(target_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  }
  return OpenReplacement(target_, nullptr);
}

int FileStream::OpenInPlace(int fd) {
  if (fd < 0) {
    Fail(errno);
    return 0;
  }
  fd_ = fd;
  return 1;
}

int FileStream::OpenReplacement(const std::string& file, const struct stat* old) {
  const tq::fileio::SystemCalls& sys = Calls();
  target_ = file;
  replace_ = true;
  // The new file takes the mode of the one it replaces, or the usual 0666
  // less the umask for a new one.
  mode_t mode = 0;
  if (old != nullptr) {
    mode = old->st_mode & 07777;
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  const std::string directory = DirectoryOf(target_);
  fd_ = OpenFreeing(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  unnamed_ = fd_ >= 0;
  if (fd_ < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
    Fail(errno);
    return 0;
  }
  // A file system without unnamed files: a named one, guarded against signals.
  for (int attempt = 0; fd_ < 0 && attempt < 100; ++attempt) {
    const std::string name = TemporaryName(directory, BaseOf(target_));
    GuardName(name);
    fd_ = OpenFreeing(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd_ >= 0) {
      temporary_ = name;
    } else {
      Unguard(name);
      if (errno != EEXIST) break;
    }
  }
  if (fd_ < 0) {
    Fail(errno);
    return 0;
  }
  if (fchmod(fd_, mode) != 0) {
    Fail(errno);
    Abandon();
    return 0;
  }
  // Owner and group as before, where the process may set them.
  if (old != nullptr) sys.fchown(fd_, old->st_uid, old->st_gid);
  return 1;
}

void FileStream::Write(const char* data, unsigned long n) {
  if (tap != nullptr) tap->Wrote(data, n);
  if (fd_ < 0 || failed_) return;
  pending_.append(data, n);
  if (pending_.size() >= kFlushAt) Flush();
}

bool FileStream::Flush() {
  std::size_t done = 0;
  while (done < pending_.size()) {
    const ssize_t n = Calls().write(fd_, pending_.data() + done, pending_.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      if (FreedByCommitting(err)) continue;
      Fail(err);
      pending_.clear();
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  pending_.clear();
  return true;
}

// Gives an unnamed temporary, now complete, a fresh name beside the target.
bool FileStream::NameTemporary() {
  if (!unnamed_) return true;
  if (const int err = tq::fileio::detail::NameUnnamed(fd_, target_, temporary_); err != 0) {
    Fail(err);
    return false;
  }
  return true;
}

// The temporary, complete, handed to the batch: its writing to the disk
// started, the sync and the rename left to the batch's commit.
int FileStream::HandOver(tq::fileio::SaveBatch& batch) {
  Calls().syncFileRange(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
  tq::fileio::SaveBatch::Waiting file{fd_, unnamed_, std::move(temporary_), target_, path_};
  fd_ = -1;
  temporary_.clear();
  batch.Add(std::move(file));
  return 1;
}

// The whole durable save done once more first: the same bytes saved by a
// stream of its own (its own temporary, written, synced, named and renamed
// over the target, the folder synced), so that the save after it costs as
// much as a first one. The tap sees the run's own save only.
void FileStream::SaveOnceMore() {
  static bool repeating = false;  // the repeat's own Close does not repeat
  if (repeating) return;
  // Read back through a descriptor of its own: the stream's writes only.
  std::string bytes;
  char block[1 << 16];
  const int in = open(("/proc/self/fd/" + std::to_string(fd_)).c_str(), O_RDONLY | O_CLOEXEC);
  for (ssize_t n; in >= 0 && (n = read(in, block, sizeof block)) > 0;)
    bytes.append(block, static_cast<std::size_t>(n));
  if (in >= 0) close(in);
  repeating = true;
  tq::fileio::StreamTap* const kept = tq::fileio::SetStreamTap(nullptr);
  {
    FileStream again;
    String name(path_.c_str());
    if (again.Open(name, 0) != 0) {
      again.Write(bytes.data(), bytes.size());
      again.Close();
    }
  }
  tq::fileio::SetStreamTap(kept);
  repeating = false;
}

int FileStream::Close() {
  if (fd_ < 0) {
    if (!failed_) Fail(EBADF);
    Abandon();
    return 0;
  }
  if (!failed_) Flush();
  tq::fileio::SaveBatch* batch = tq::fileio::CurrentSaveBatch();
  if constexpr (tq::kBenchSlowdown) {
    // The durable save done twice (the benchmarks' slowdown build): with a
    // batch, the repeat's temporary is handed to it too, and the batch
    // saves twice as many.
    if (!failed_ && replace_) SaveOnceMore();
  }
  if (!failed_ && replace_ && batch != nullptr) return HandOver(*batch);
  if (!failed_ && replace_ && Calls().fsync(fd_) != 0) Fail(errno);
  if (!failed_ && replace_) NameTemporary();
  const int fd = fd_;
  fd_ = -1;
  if (close(fd) != 0 && !failed_) Fail(errno);
  if (!failed_ && replace_ && Calls().rename(temporary_.c_str(), target_.c_str()) != 0) {
    Fail(errno);
  }
  if (failed_) {
    Abandon();
    return 0;
  }
  if (replace_) {
    Unguard(temporary_);
    temporary_.clear();
    // Make the rename itself durable.
    const int dir = open(DirectoryOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
      fsync(dir);
      close(dir);
    }
  }
  return 1;
}
