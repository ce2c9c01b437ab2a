// The command line of tqhost.
#pragma once

#include <iosfwd>

namespace tq::app {

// Runs tqhost with its arguments; answers the exit status (0 done, 1 failed,
// 2 usage error).
int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace tq::app
