#include "host/fileio/FileStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

namespace {

constexpr unsigned long kFlushAt = 1u << 16;
constexpr int kMaxLinkHops = 40;

template <class Integer>
void WriteDecimal(QuorStream& stream, Integer value) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  stream.Write(text, static_cast<unsigned long>(result.ptr - text));
}

std::string DirectoryOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Follows symbolic links to the file finally named, also when the last link
// dangles (the file it names is then created).
bool ResolveLinks(std::string& path, int& err) {
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
    char target[4096];
    const ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
    if (n < 0) {
      err = errno;
      return false;
    }
    target[n] = '\0';
    path = target[0] == '/' ? std::string(target) : DirectoryOf(path) + "/" + target;
  }
  err = ELOOP;
  return false;
}

tq::fileio::StreamTap* tap = nullptr;

}  // namespace

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

void FileStream::Fail(const std::string& what, int err) {
  if (failed_) return;
  failed_ = true;
  error_ = what + std::strerror(err);
}

void FileStream::Abandon() {
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
  if (replace_ && !temporary_.empty()) unlink(temporary_.c_str());
  temporary_.clear();
  pending_.clear();
}

int FileStream::Open(String& name, long /*mode*/) {
  Abandon();
  failed_ = false;
  replace_ = false;
  error_.clear();
  target_ = name.Get();
  if (tap != nullptr) tap->Opened(target_);
  if (target_.empty()) {
    Fail("", ENOENT);
    return 0;
  }
  int err = 0;
  if (!ResolveLinks(target_, err)) {
    Fail("", err);
    return 0;
  }
  struct stat st;
  const bool exists = stat(target_.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) {
    Fail("", EISDIR);
    return 0;
  }
  if (exists && !S_ISREG(st.st_mode)) {
    // A device or a pipe: written in place, never replaced.
    fd_ = open(target_.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd_ < 0) {
      Fail("", errno);
      return 0;
    }
    return 1;
  }
  replace_ = true;
  std::string temp = DirectoryOf(target_) + "/." + BaseOf(target_) + ".tmpXXXXXX";
  fd_ = mkostemp(temp.data(), O_CLOEXEC);
  if (fd_ < 0) {
    Fail("", errno);
    return 0;
  }
  temporary_ = temp;
  // The new file takes the mode of the one it replaces, or the usual 0666
  // less the umask for a new one.
  mode_t mode = 0;
  if (exists) {
    mode = st.st_mode & 07777;
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  if (fchmod(fd_, mode) != 0) {
    Fail("", errno);
    Abandon();
    return 0;
  }
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
    const ssize_t n = write(fd_, pending_.data() + done, pending_.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail("", errno);
      pending_.clear();
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  pending_.clear();
  return true;
}

int FileStream::Close() {
  if (fd_ < 0) {
    if (!failed_) Fail("", EBADF);
    Abandon();
    return 0;
  }
  if (!failed_) Flush();
  if (!failed_ && replace_ && fsync(fd_) != 0) Fail("", errno);
  const int fd = fd_;
  fd_ = -1;
  if (close(fd) != 0 && !failed_) Fail("", errno);
  if (failed_) {
    Abandon();
    return 0;
  }
  if (replace_) {
    if (rename(temporary_.c_str(), target_.c_str()) != 0) {
      Fail("", errno);
      Abandon();
      return 0;
    }
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
