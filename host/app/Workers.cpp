#include "host/app/Workers.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <new>

namespace tq::app {
namespace {

constexpr int kOutOfMemory = 3;  // a child's status when memory ran out

bool WriteAll(int fd, const std::string& text) {
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// The child's side: its slice run, the report sent, the process ended
// without running this process's exit handlers (they are the parent's).
[[noreturn]] void RunChild(int fd, std::size_t k,
                           const std::function<std::string(std::size_t)>& work) {
  int status = 1;
  try {
    status = WriteAll(fd, work(k)) ? 0 : 1;
  } catch (const std::bad_alloc&) {
    status = kOutOfMemory;
  } catch (...) {
  }
  _exit(status);
}

}  // namespace

Workers::Workers(std::size_t n, const std::function<std::string(std::size_t)>& work) {
  // Nothing buffered is to be written twice, once by each process.
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  // Children are waited for: not reaped unasked where SIGCHLD was ignored.
  previousChild_ = std::signal(SIGCHLD, SIG_DFL);
  children_.resize(n > 0 ? n - 1 : 0);
  for (std::size_t k = 1; k < n; ++k) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) continue;
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
      // A child outlives no parent: it would write files no one reports. It
      // ends on SIGTERM (cleaning up its temporaries), even where the
      // parent was started with SIGTERM ignored.
      std::signal(SIGTERM, SIG_DFL);
      if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || getppid() != parent) _exit(1);
      close(ends[0]);
      for (std::size_t j = 1; j < k; ++j) close(children_[j - 1].fd);
      RunChild(ends[1], k, work);
    }
    close(ends[1]);
    if (pid < 0) {
      close(ends[0]);
      continue;
    }
    children_[k - 1] = {pid, ends[0]};
  }
}

Workers::~Workers() {
  // Children whose reports were not asked for are not left running.
  for (Child& c : children_) {
    if (c.pid <= 0) continue;
    kill(c.pid, SIGTERM);
    close(c.fd);
    while (waitpid(c.pid, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  if (previousChild_ != SIG_ERR) std::signal(SIGCHLD, previousChild_);
}

Result<std::string> Workers::Report(std::size_t k) {
  Child& c = children_[k - 1];
  std::string text;
  char block[1 << 16];
  for (;;) {
    const ssize_t n = read(c.fd, block, sizeof block);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(block, static_cast<std::size_t>(n));
  }
  close(c.fd);
  int status = 0;
  while (waitpid(c.pid, &status, 0) < 0 && errno == EINTR) {
  }
  c.pid = 0;
  if (WIFSIGNALED(status))
    return Fail(std::string("its process was ended by signal ") + std::to_string(WTERMSIG(status)) +
                " (" + strsignal(WTERMSIG(status)) + ")");
  if (WIFEXITED(status) && WEXITSTATUS(status) == kOutOfMemory)
    return Fail("its process ran out of memory; no file was left half-written");
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return Fail("its process failed before it could report");
  return text;
}

std::string PackFields(const std::vector<std::string>& fields) {
  std::string report;
  for (const std::string& field : fields)
    report.append(std::to_string(field.size())).append(":").append(field);
  return report;
}

std::optional<std::vector<std::string>> UnpackFields(const std::string& report) {
  std::vector<std::string> fields;
  const char* const stop = report.data() + report.size();
  for (const char* at = report.data(); at < stop;) {
    std::size_t length = 0;
    const auto [colon, ec] = std::from_chars(at, stop, length);
    if (ec != std::errc() || colon == stop || *colon != ':' ||
        length > static_cast<std::size_t>(stop - colon - 1))
      return std::nullopt;
    fields.emplace_back(colon + 1, length);
    at = colon + 1 + length;
  }
  return fields;
}

std::size_t Processors() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
    return static_cast<std::size_t>(CPU_COUNT(&set));
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<std::size_t>(online) : 1;
}

}  // namespace tq::app
