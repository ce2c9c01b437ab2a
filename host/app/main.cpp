#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>
#include <new>

#include "host/app/Cli.h"
#include "host/app/VisibleControls.h"
#include "math/Slowdown.h"

namespace {

// Memory kept back for the way out. When an allocation fails it is given
// back and the failure thrown, so that what unwinds (freeing can itself
// allocate) has room and the run ends with its message, not an abort.
char* reserve = nullptr;

void GiveBackAndFail() {
  delete[] reserve;
  reserve = nullptr;
  std::set_new_handler(nullptr);
  throw std::bad_alloc();
}

// Standard input, output and error open, each: one closed at start would be
// the number the next file opened gets, and a summary or warning would land
// in a track. A closed one is held by /dev/null opened the other way round,
// so that writing to closed standard output still fails and is said.
void HoldStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int held = open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
    if (held >= 0 && held != fd) {
      dup2(held, fd);
      close(held);
    }
  }
}

// The benchmarks' slowdown build only (math/Slowdown.h): the process's
// start-up (exec, the shared libraries linked, their initialisation) done
// once more, as `tqhost --version` run and waited for, so that a row timing
// a whole process sees it doubled with the rest (a third of a short export).
void StartOnceMore() {
  char self[] = "/proc/self/exe", version[] = "--version";
  char* args[] = {self, version, nullptr};
  posix_spawn_file_actions_t quiet;
  posix_spawn_file_actions_init(&quiet);
  posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
  pid_t child = -1;
  if (posix_spawn(&child, self, &quiet, nullptr, args, environ) == 0) waitpid(child, nullptr, 0);
  posix_spawn_file_actions_destroy(&quiet);
}

}  // namespace

int main(int argc, char** argv) {
  // (Not by the repeat itself, which would start another.)
  if constexpr (tq::kBenchSlowdown) {
    if (argc < 2 || std::strcmp(argv[1], "--version") != 0) StartOnceMore();
  }
  HoldStandardDescriptors();
  // (Without it where even that much is not to be had.)
  reserve = new (std::nothrow) char[std::size_t{8} << 20];
  std::set_new_handler(&GiveBackAndFail);
  // A file-size limit makes a write fail with "File too large", reported like
  // any other write error, instead of killing the process half-way.
  std::signal(SIGXFSZ, SIG_IGN);
  // Every message goes through it, a child's of --jobs too (std::cerr's).
  tq::app::VisibleControls visible(std::cerr.rdbuf());
  std::streambuf* const terminal = std::cerr.rdbuf(&visible);
  struct Restore {
    std::streambuf* buffer;
    ~Restore() { std::cerr.rdbuf(buffer); }
  } restore{terminal};
  const int status = tq::app::RunCli(argc, argv, std::cout, std::cerr);
  // What went to standard output (a summary, a track, a copy) must have
  // arrived: a full disk or a closed pipe there is a failure, not success.
  errno = 0;
  if (!std::cout.flush()) {
    std::cerr << "tqhost: cannot write standard output"
              << (errno != 0 ? std::string(": ") + std::strerror(errno) : std::string()) << "\n";
    return status == 0 ? 1 : status;
  }
  return status;
}
