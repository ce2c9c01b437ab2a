// tqhost as a whole process: exporting the orbit example to /dev/null
// against asking tqhost for its version, run alternately; the difference is
// what loading the scene and the plug-in and exporting cost a user.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "bench/Floors.h"

extern char** environ;

namespace {

void Run(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t child = 0;
  const int error = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  if (error != 0 || waitpid(child, &status, 0) != child || status != 0) {
    throw std::runtime_error(std::string("cannot run ").append(args[0]));
  }
}

void BM_TqhostExport(benchmark::State& state) {
  const std::string host = TQ_BIN_DIR "/tqhost";
  const std::string orbit = TQ_SOURCE_DIR "/examples/orbit.tqs.json";
  for (auto _ : state) {
    try {
      const auto r = tq::bench::Alternate(
          31,
          [&] {
            Run({host, "export", orbit, "--target", "Robot", "-o", "/dev/null"});
          },
          [&] {
            Run({host, "--version"});
          });
      tq::bench::Rows().push_back({"tqhost export of the orbit example -o /dev/null, whole process",
                                   r.first * 1e3, r.second * 1e3, "ms", 2.0,
                                   "floor: tqhost --version", true});
    } catch (const std::exception& e) {
      tq::bench::Fail(state, e.what());
    }
  }
}
BENCHMARK(BM_TqhostExport)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  return tq::bench::Main(argc, argv);
}
