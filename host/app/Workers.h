// Work shared among processes: slice 0 runs in this process, each further
// slice in a child process forked when the work starts, which hands back a
// report (a text) through a pipe once its slice is done. A child sees
// everything this process had loaded, as it was when forked.
#pragma once

#include <sys/types.h>

#include <csignal>

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/fileio/Result.h"

namespace tq::app {

class Workers {
 public:
  // Forks a child for each slice from 1 to n - 1, which runs work(k) and
  // sends back what it answers. A slice whose child cannot be forked is
  // left to this process (Forked answers false).
  Workers(std::size_t n, const std::function<std::string(std::size_t)>& work);
  ~Workers();
  Workers(const Workers&) = delete;
  Workers& operator=(const Workers&) = delete;

  std::size_t Size() const { return children_.size() + 1; }
  bool Forked(std::size_t k) const { return children_[k - 1].pid > 0; }
  // The report of slice k (forked), once its child has ended; or why there
  // is none (the child was killed, or failed).
  Result<std::string> Report(std::size_t k);

 private:
  struct Child {
    pid_t pid = -1;
    int fd = -1;  // the read end of its pipe
  };
  std::vector<Child> children_;
  void (*previousChild_)(int) = SIG_ERR;  // SIGCHLD's action before
};

// How many processors this process may run on (at least 1).
std::size_t Processors();

// Texts as one report, each its length in digits, ':' and its bytes; and
// back, nothing when the report is not such.
std::string PackFields(const std::vector<std::string>& fields);
std::optional<std::vector<std::string>> UnpackFields(const std::string& report);

}  // namespace tq::app
