#include "host/app/commands/OutputPatterns.h"

#include "host/app/CornerPin.h"
#include "host/app/Options.h"

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

bool SharedCopy(const AlsoCopy& copy, bool many, bool pin) {
  return many && (copy.format->manyInOneFile || (pin && WritesCornerPin(copy.format->format))) &&
         !CheckPattern("--also", copy.pattern, false);
}

std::string CopyPattern(const std::string& output, const FormatInfo& format) {
  const std::size_t name = output.rfind('/') + 1;  // 0 without a folder
  const std::size_t dot = output.rfind('.');
  const bool extension = dot != std::string::npos && dot >= name &&
                         output.find_first_not_of('.', name) < dot &&
                         output.find('{', dot) == std::string::npos;
  return (extension ? output.substr(0, dot) : output) + format.copySuffix;
}

std::vector<AlsoCopy> AlsoCopies(const std::vector<std::string>& given,
                                 const std::optional<std::string>& output) {
  std::vector<AlsoCopy> copies;
  for (const std::string& one : given) {
    const auto colon = one.find(':');
    const FormatInfo* format = FindFormat(one.substr(0, colon));
    if (format == nullptr || (colon != std::string::npos && colon + 1 >= one.size())) {
      throw UsageError{"--also takes FORMAT[:FILE], the format one of " + FormatNames() +
                       "; not '" + one + "'"};
    }
    if (colon == std::string::npos && (!output || *output == "-")) {
      throw UsageError{"--also " + one + " is named after -o's file: give -o FILE, or --also " +
                       one + ":FILE"};
    }
    copies.push_back({format, colon == std::string::npos ? CopyPattern(*output, *format)
                                                         : one.substr(colon + 1)});
  }
  return copies;
}

}  // namespace tq::app
