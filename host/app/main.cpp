#include <iostream>

#include "host/app/Cli.h"

int main(int argc, char** argv) {
  return tq::app::RunCli(argc, argv, std::cout, std::cerr);
}
