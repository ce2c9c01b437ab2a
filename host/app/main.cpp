#include <csignal>
#include <iostream>

#include "host/app/Cli.h"

int main(int argc, char** argv) {
  // A file-size limit makes a write fail with "File too large", reported like
  // any other write error, instead of killing the process half-way.
  std::signal(SIGXFSZ, SIG_IGN);
  return tq::app::RunCli(argc, argv, std::cout, std::cerr);
}
