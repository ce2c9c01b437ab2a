#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>

#include "host/app/Cli.h"

int main(int argc, char** argv) {
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
