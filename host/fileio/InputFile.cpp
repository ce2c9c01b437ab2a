#include "host/fileio/InputFile.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

namespace tq::fileio {

const char* KindOf(unsigned mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISLNK(mode)) return "a symbolic link";
  return "neither a file nor a folder";
}

namespace {

std::string Limit(std::size_t limit) {
  if (limit % (std::size_t{1} << 20) == 0) return std::to_string(limit >> 20) + " MiB";
  return std::to_string(limit) + " bytes";
}

// Reads fd to its end or to limit + 1 bytes, whichever comes first; expected
// is the size to make room for at once. Answers 0, or the errno of a failed read.
int ReadBounded(int fd, std::size_t limit, std::size_t expected, std::string& text) {
  constexpr std::size_t kStep = std::size_t{1} << 16;
  text.resize(std::min(std::max(expected + 1, kStep), limit + 1));
  std::size_t have = 0;
  while (have <= limit) {
    if (have == text.size()) text.resize(std::min(text.size() * 2, limit + 1));
    const ssize_t got = ::read(fd, text.data() + have, text.size() - have);
    if (got > 0) {
      have += static_cast<std::size_t>(got);
      continue;
    }
    if (got == 0) break;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      // A standard input left non-blocking: wait for data rather than spin.
      pollfd p = {fd, POLLIN, 0};
      ::poll(&p, 1, -1);
      continue;
    }
    const int err = errno;
    text.clear();
    return err;
  }
  text.resize(have);
  return 0;
}

}  // namespace

RegularFile::RegularFile(const std::string& path) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  struct stat st {};
  if (fd_ < 0) {
    const int err = errno;
    // A socket cannot be opened at all: say what it is rather than ENXIO.
    error_ = ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)
                 ? std::string("not a regular file (") + KindOf(st.st_mode) + ")"
                 : std::strerror(err);
  } else if (::fstat(fd_, &st) != 0) {
    error_ = std::strerror(errno);
  } else if (!S_ISREG(st.st_mode)) {
    folder_ = S_ISDIR(st.st_mode);
    error_ = std::string("not a regular file (") + KindOf(st.st_mode) + ")";
  } else {
    size_ = static_cast<std::size_t>(st.st_size);
  }
}

RegularFile::~RegularFile() {
  if (fd_ >= 0) ::close(fd_);
}

std::string RegularFile::Read(char* data, std::size_t n, std::size_t at) const {
  for (std::size_t done = 0; done < n;) {
    const ssize_t got = ::pread(fd_, data + done, n - done, static_cast<off_t>(at + done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::strerror(errno);
    if (got == 0) return "the file was cut short while read";
    done += static_cast<std::size_t>(got);
  }
  return "";
}

Result<std::string> ReadInputFile(const std::string& path, std::size_t limit, const char* what) {
  std::string text;
  const bool standardInput = path == "-";
  const std::string name = standardInput ? "standard input" : path;
  auto fail = [&](const std::string& problem) -> Result<std::string> {
    return Fail(name + ": " + problem);
  };
  std::size_t expected = 0;
  std::optional<RegularFile> file;
  int fd = 0;  // standard input, the caller's to keep
  if (!standardInput) {
    file.emplace(path);
    if (!file->Error().empty()) return fail(file->Error());
    fd = file->Descriptor();
    expected = file->Size();
  } else {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return fail(std::strerror(errno));
    if (S_ISDIR(st.st_mode)) return fail("not a regular file (a folder)");
    if (S_ISREG(st.st_mode)) expected = static_cast<std::size_t>(st.st_size);
  }
  const std::string tooLarge = "larger than the " + Limit(limit) + " " + what + " may be";
  if (expected > limit) return fail(tooLarge);
  if (const int err = ReadBounded(fd, limit, expected, text); err != 0)
    return fail(std::strerror(err));
  if (text.size() > limit) return fail(tooLarge);
  return text;
}

}  // namespace tq::fileio
