#include "host/app/Clipboard.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace tq::app {
namespace {

// The program's path on PATH, or "". Only absolute folders are searched: an
// empty entry (a PATH ending in ':') or a relative one names the working
// folder, and a stranger's folder may hold a program named like these.
std::string FindOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
  for (std::size_t start = 0; start <= dirs.size();) {
    std::size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    const std::string dir = dirs.substr(start, end - start);
    start = end + 1;
    if (dir.empty() || dir[0] != '/') continue;
    const std::string candidate = dir + "/" + name;
    struct stat st {};
    if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        access(candidate.c_str(), X_OK) == 0)
      return candidate;
  }
  return "";
}

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// The child's side: the program, reading the pipe's read end. Its output
// goes nowhere: a program that keeps it open (xclip stays to serve the
// selection) must not hold the caller's pipe open.
[[noreturn]] void Exec(const std::string& path, const ClipboardProgram& program, int input) {
  const int null = open("/dev/null", O_RDWR);
  dup2(input, STDIN_FILENO);
  dup2(null, STDOUT_FILENO);
  dup2(null, STDERR_FILENO);
  setsid();
  std::vector<char*> argv = {const_cast<char*>(path.c_str())};
  for (const std::string& a : program.args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  execv(path.c_str(), argv.data());
  _exit(127);
}

// The program started, and how it ended once ended is set.
struct Child {
  pid_t pid;
  int status = 0;
  bool ended = false;
};

// Writes text into the pipe (its write end non-blocking) until all of it is
// sent; answers why it stopped short (the program ended, the time ran out,
// the write failed), or "" when all of it went.
std::string Send(int fd, const std::string& text, Child& child, Clock::time_point deadline,
                 int seconds) {
  std::string why;
  for (std::size_t sent = 0; sent < text.size() && why.empty();) {
    pollfd p{fd, POLLOUT, 0};
    if (poll(&p, 1, std::min(MillisecondsLeft(deadline), 50)) > 0) {
      const ssize_t n = write(fd, text.data() + sent, text.size() - sent);
      if (n > 0) sent += static_cast<std::size_t>(n);
      if (n < 0 && errno != EAGAIN && errno != EINTR) why = std::strerror(errno);
    }
    if (sent < text.size() && waitpid(child.pid, &child.status, WNOHANG) == child.pid) {
      child.ended = true;
      why = "it exited without reading the data";
    } else if (sent < text.size() && MillisecondsLeft(deadline) == 0) {
      why = "it did not read the data within " + std::to_string(seconds) + " seconds";
    }
  }
  return why;
}

// Waits for the program to end until the deadline; past it, ends it and
// answers false.
bool AwaitEnd(Child& child, Clock::time_point deadline) {
  while (!child.ended && waitpid(child.pid, &child.status, WNOHANG) == 0) {
    if (MillisecondsLeft(deadline) == 0) {
      kill(-child.pid, SIGKILL);
      kill(child.pid, SIGKILL);
      waitpid(child.pid, &child.status, 0);
      return false;
    }
    poll(nullptr, 0, 10);
  }
  return true;
}

// The verdict on an ended program: why the sending stopped short, else
// whether it exited 0 having read everything (unread: data left in the pipe).
Status Outcome(int status, const std::string& why, bool unread) {
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && why.empty() && unread)
    return Fail("it exited without reading all the data");
  if (!why.empty()) return Fail(why);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return {};
  if (WIFEXITED(status))
    return Fail("it failed with exit status " + std::to_string(WEXITSTATUS(status)));
  return Fail("it was ended by signal " + std::to_string(WTERMSIG(status)));
}

// Runs one program with text on its standard input: it must take it all and
// exit 0 in time.
Status Feed(const std::string& path, const ClipboardProgram& program, const std::string& text,
            int seconds) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return Fail(std::strerror(errno));
  Child child{fork()};
  if (child.pid < 0) {
    close(fds[0]), close(fds[1]);
    return Fail(std::strerror(errno));
  }
  if (child.pid == 0) Exec(path, program, fds[0]);
  // The read end stays open here too: when the program has ended, what it
  // left in the pipe tells whether it took the data, whatever it answered.
  // A write then never meets a gone reader, and SIGPIPE is ignored anyway.
  struct sigaction ignore {
  }, previous{};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &previous);
  fcntl(fds[1], F_SETFL, O_NONBLOCK);
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(seconds);
  const std::string why = Send(fds[1], text, child, deadline, seconds);
  close(fds[1]);
  sigaction(SIGPIPE, &previous, nullptr);
  if (!AwaitEnd(child, deadline)) {
    close(fds[0]);
    return Fail(why.empty() ? "it did not finish within " + std::to_string(seconds) + " seconds"
                            : why);
  }
  int unread = 0;
  const bool left = ioctl(fds[0], FIONREAD, &unread) == 0 && unread > 0;
  close(fds[0]);
  return Outcome(child.status, why, left);
}

}  // namespace

const std::vector<ClipboardProgram>& ClipboardPrograms() {
  static const std::vector<ClipboardProgram> programs = {{"wl-copy", {}},
                                                         {"xclip", {"-selection", "clipboard"}}};
  return programs;
}

Result<std::string> CopyToClipboard(const std::string& text,
                                    const std::vector<ClipboardProgram>& programs, int seconds) {
  std::string error;
  for (const ClipboardProgram& program : programs) {
    const std::string path = FindOnPath(program.name);
    if (path.empty()) continue;
    const Status fed = Feed(path, program, text, seconds);
    if (fed) return program.name;
    error += (error.empty() ? "" : "; ") + program.name + ": " + fed.error;
  }
  if (error.empty()) {
    std::string names;
    for (const ClipboardProgram& p : programs) names += (names.empty() ? "" : " or ") + p.name;
    error = "no clipboard program (install " + names + ")";
  }
  return Fail(error);
}

}  // namespace tq::app
