#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>
#include <new>

#include "host/app/Cli.h"

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

}  // namespace

int main(int argc, char** argv) {
  reserve = new char[std::size_t{8} << 20];
  std::set_new_handler(&GiveBackAndFail);
  // A file-size limit makes a write fail with "File too large", reported like
  // any other write error, instead of killing the process half-way.
  std::signal(SIGXFSZ, SIG_IGN);
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
