// File patterns of tqhost export: the fields of a target filled in, the
// patterns checked before anything runs, and the folders they name made.
#include <filesystem>
#include <ostream>
#include <string>

#include "host/app/commands/ExportPlan.h"

namespace tq::app {

// A name made safe for a file name: letters, digits, '.', '-' and '_' stay.
std::string SafeForFileName(const std::string& name) {
  std::string safe = name;
  for (char& c : safe) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '/' || u < 0x20 || u == 0x7f) c = '_';
  }
  if (!safe.empty() && (safe[0] == '.' || safe[0] == '-')) safe[0] = '_';
  return safe.empty() ? "_" : safe;
}

std::string Expand(std::string pattern, const std::map<std::string, std::string>& fields) {
  std::string out;
  for (std::size_t at = 0; at < pattern.size();) {
    const std::size_t open = pattern.find('{', at), close = pattern.find('}', open);
    if (open != std::string::npos && open + 1 < pattern.size() && pattern[open + 1] == '{') {
      out += pattern.substr(at, open + 1 - at);  // "{{" is a "{" of the name itself
      at = open + 2;
      continue;
    }
    const auto field = close == std::string::npos
                           ? fields.end()
                           : fields.find(pattern.substr(open + 1, close - open - 1));
    if (field == fields.end()) {
      out += pattern.substr(at, open == std::string::npos ? open : open + 1 - at);
      at = open == std::string::npos ? pattern.size() : open + 1;
      continue;
    }
    out += pattern.substr(at, open - at) + SafeForFileName(field->second);  // once, left to right
    at = close + 1;
  }
  return out;
}

bool CheckPattern(const std::string& option, const std::string& pattern, bool needsTarget) {
  bool target = false;  // a {target} field, not the text of "{{target}"
  for (std::size_t at = 0; (at = pattern.find('{', at)) != std::string::npos; ++at) {
    if (pattern.compare(at, 2, "{{") == 0) {
      ++at;
      continue;
    }
    const std::size_t end = pattern.find('}', at);
    const std::string field = pattern.substr(at, end == std::string::npos ? end : end - at + 1);
    if (field != "{target}" && field != "{camera}" && field != "{mode}" && field != "{group}") {
      throw UsageError{option + " " + pattern + ": unknown field " + field +
                       "; the fields are {target}, {camera}, {mode} and {group}"};
    }
    target = target || field == "{target}";
  }
  if (needsTarget && !target) {
    throw UsageError{"with several targets, " + option + " needs {target} in its pattern" +
                     (option == "-o" ? " (for example -o {target}.txt)" : "")};
  }
  return target;
}

// The folders the outputs are named in, made where missing (each said
// once); false, said on err, when one cannot be.
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

}  // namespace tq::app
