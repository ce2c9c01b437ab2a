#include "host/app/commands/FilePlan.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <ostream>

#include "host/app/Options.h"
#include "host/fileio/Concat.h"
#include "host/fileio/InputFile.h"

namespace tq::app {
namespace {

// The file a path names: symbolic links followed to the end (a dangling one
// too, to where it would write), then made absolute and normal.
std::string FileKey(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path p = fs::absolute(path, ec);
  for (int links = 0; links < 40 && fs::is_symlink(fs::symlink_status(p, ec)); ++links) {
    const fs::path target = fs::read_symlink(p, ec);
    if (ec) break;
    p = target.is_absolute() ? target : p.parent_path() / target;
  }
  const fs::path canonical = fs::weakly_canonical(p, ec);
  const fs::path file = ec ? p.lexically_normal() : canonical;
  // Its folder by what it is, not by its path: a folder that two paths reach
  // (a bind mount) is one folder.
  struct stat folder {};
  if (stat(file.parent_path().c_str(), &folder) != 0) return file.string();
  return std::to_string(folder.st_dev) + ":" + std::to_string(folder.st_ino) + "/" +
         file.filename().string();
}

// Whether path is this process's standard output however it is written
// (/dev/stdout, /dev/fd/1, /proc/self/fd/1, the terminal or file it is).
bool IsStandardOutput(const std::string& path) {
  struct stat out {
  }, named{};
  return path == "/dev/stdout" ||
         (fstat(STDOUT_FILENO, &out) == 0 && stat(path.c_str(), &named) == 0 &&
          out.st_dev == named.st_dev && out.st_ino == named.st_ino && !S_ISCHR(named.st_mode));
}

}  // namespace

bool MakeFolders(const FilePlan& plan, std::ostream& summary, std::ostream& err) {
  namespace fs = std::filesystem;
  for (const auto& file : plan.files) {
    const fs::path folder = fs::path(file.first.second).parent_path();
    std::error_code ec;
    if (folder.empty() || fs::exists(fs::symlink_status(folder, ec))) continue;
    fs::create_directories(folder, ec);
    if (ec) {
      err << "tqhost: " << file.second << ": cannot make the folder " << folder.string() << ": "
          << ec.message() << "\n";
      return false;
    }
    summary << "folder " << folder.string() << " made\n";
  }
  return true;
}

void RefuseUnnamedSpecial(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    throw UsageError{"the default output " + path + " is " + tq::fileio::KindOf(st.st_mode) +
                     ", not a file; give -o FILE"};
  }
}

void FilePlan::Add(const std::string& option, const std::string& path, const std::string& scene,
                   const char* what, const std::string& who) {
  const std::string named = who.empty() ? option : tq::fileio::Concat({option, " for '", who, "'"});
  if (IsStandardOutput(path) || path == "/dev/fd/1" || path == "/proc/self/fd/1") {
    if (!stdoutBy.empty()) {
      throw UsageError{stdoutBy + " and " + named +
                       " both write to standard output; at most one output may go there"};
    }
    stdoutBy = named;
    return;
  }
  struct stat st {};
  const bool exists = stat(path.c_str(), &st) == 0;
  if (exists && S_ISCHR(st.st_mode)) return;  // /dev/null and the like
  // Checked here with every other output, before anything is written.
  if (exists && S_ISDIR(st.st_mode))
    throw UsageError{named + " " + path + ": that is a folder; give the name of a file"};
  const std::string k = FileKey(path);
  if (k == ReadKey(scene)) throw UsageError{option + " " + path + ": that is " + what};
  for (const std::string& input : inputs) {
    if (k == ReadKey(input))
      throw UsageError{option + " " + path + ": the scene's data is read from that file"};
  }
  if (const auto other = byKey_.find(k); other != byKey_.end()) {
    throw UsageError{files[other->second].second + " and " + named + " both name " + path +
                     "; each output needs a file of its own"};
  }
  byKey_.emplace(k, files.size());
  files.push_back({{k, path}, named});
}

const std::string& FilePlan::ReadKey(const std::string& path) {
  auto found = readKeys_.find(path);
  if (found == readKeys_.end()) found = readKeys_.emplace(path, FileKey(path)).first;
  return found->second;
}

}  // namespace tq::app
