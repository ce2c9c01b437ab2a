// What every test of tqhost shares: the program, the examples, the golden
// files, and tqhost or a shell script run in a folder of its own.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "tests/fileio/TempDir.h"

namespace tq::tqhost_test {

using tq::testing::ReadFile;
using tq::testing::TempDir;

inline const std::string kHost = std::string(TQ_BIN_DIR) + "/tqhost";
inline const std::string kExamples = std::string(TQ_SOURCE_DIR) + "/examples/";
inline const std::string kGolden = std::string(TQ_SOURCE_DIR) + "/tests/app/golden/";

struct Result {
  int status;
  std::string out;
  std::string err;
};

// Runs tqhost in dir with the arguments (already quoted for the shell).
inline Result RunHost(const TempDir& dir, const std::string& args) {
  const std::string command = "cd '" + dir.path().string() + "' && '" + kHost + "' " + args +
                              " >'" + (dir / "stdout") + "' 2>'" + (dir / "stderr") + "'";
  const int raw = std::system(command.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFile(dir / "stdout"),
          ReadFile(dir / "stderr")};
}

// Runs a shell script in dir, with tqhost as $HOST and the orbit example as
// $ORBIT; answers the exit status.
inline int RunScript(const TempDir& dir, const std::string& script) {
  const std::string command = "cd '" + dir.path().string() + "' && HOST='" + kHost + "' ORBIT='" +
                              kExamples + "orbit.tqs.json' timeout 60 bash -c '" + script + "'";
  const int raw = std::system(command.c_str());
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

}  // namespace tq::tqhost_test
