// The temporaries FileStream and SaveBatch share (the file library's own).
#pragma once

#include <string>

namespace tq::fileio::detail {

// The folder of a path ("." when it names none).
std::string DirectoryOf(const std::string& path);
// Gives the unnamed temporary open on fd a fresh name beside target,
// registered for removal on the signals that end the process; answers 0, or
// the errno of the failure (name is then unchanged).
int NameUnnamed(int fd, const std::string& target, std::string& name);
// The last part of a path.
std::string BaseOf(const std::string& path);
// A name for a temporary beside base that no file has: ".BASE.tmpXXXXXX".
std::string TemporaryName(const std::string& directory, const std::string& base);
// Registers a temporary's name for removal on the signals that end the
// process; -1 when it cannot be (the temporary is then unguarded).
int GuardName(const std::string& name);
// Drops a temporary's name from those removed on a signal.
void Unguard(const std::string& name);

}  // namespace tq::fileio::detail
