#include "host/fileio/InputFile.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tq::fileio {
namespace {

// What a file that is not a regular one is, in words.
const char* KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISSOCK(mode)) return "a socket";
  return "neither a file nor a folder";
}

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

InputFile ReadInputFile(const std::string& path, std::size_t limit, const char* what) {
  InputFile result;
  const bool standardInput = path == "-";
  const std::string name = standardInput ? "standard input" : path;
  auto fail = [&](const std::string& problem) {
    result.text.clear();
    result.error = name + ": " + problem;
    return std::move(result);
  };
  const int fd =
      standardInput ? 0 : ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    // A socket cannot be opened at all: say what it is rather than ENXIO.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
      return fail(std::string("not a regular file (") + KindOf(st.st_mode) + ")");
    return fail(std::strerror(err));
  }
  // Closed on every way out; standard input is the caller's to keep.
  struct Closer {
    int fd;
    ~Closer() {
      if (fd >= 0) ::close(fd);
    }
  } closer{standardInput ? -1 : fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0) return fail(std::strerror(errno));
  std::size_t expected = 0;
  if (S_ISREG(st.st_mode)) {
    expected = static_cast<std::size_t>(st.st_size);
  } else if (!standardInput || S_ISDIR(st.st_mode)) {
    return fail(std::string("not a regular file (") + KindOf(st.st_mode) + ")");
  }
  const std::string tooLarge = "larger than the " + Limit(limit) + " " + what + " may be";
  if (expected > limit) return fail(tooLarge);
  if (const int err = ReadBounded(fd, limit, expected, result.text); err != 0)
    return fail(std::strerror(err));
  if (result.text.size() > limit) return fail(tooLarge);
  return result;
}

}  // namespace tq::fileio
