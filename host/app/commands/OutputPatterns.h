// The file patterns of tqhost export (-o, --also, --preview): their fields
// checked and filled in, and a name made fit for a file.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "host/app/Formats.h"

namespace tq::app {

// --also FORMAT:FILE, checked before anything runs.
struct AlsoCopy {
  const FormatInfo* format;
  std::string pattern;
};

// A name as a file name: kept as it is (UTF-8 letters, spaces and all), but
// for what a file name cannot hold: '/', NUL and control characters become
// '_', and so does a leading '.' or '-'; "" becomes "_".
std::string SafeForFileName(const std::string& name);

// A pattern with {target}, {camera}, {mode} and {group} filled in; "{{" stands for
// a "{" of the path itself (a folder "v{2}" is "v{{2}").
std::string Expand(std::string pattern, const std::map<std::string, std::string>& fields);

// A usage error for a field other than {target}, {camera}, {mode} and {group}, or
// (needsTarget) a pattern without {target}; option names it ("-o").
// Whether the pattern has {target}.
bool CheckPattern(const std::string& option, const std::string& pattern, bool needsTarget);

// Whether a copy is one file of every target: named without {target} in a
// run of several targets, of a format that holds several tracks (3de) or,
// in a corner pin (pin), the pin (nuke, nuke-node, ae).
bool SharedCopy(const AlsoCopy& copy, bool many, bool pin);

// The pattern of a copy named after the track's (output, -o's): its
// extension (from the file name's last '.', not a leading one, and holding
// no field) replaced by the format's copySuffix, which is added where there
// is none: {target}.txt gives {target}.nk.txt for nuke.
std::string CopyPattern(const std::string& output, const FormatInfo& format);

// The copies --also asks for (each FORMAT:FILE or FORMAT as given, FORMAT
// alone named after output, -o's pattern), checked: an unknown format, an
// empty file or a FORMAT alone without output (or with -o -) is a usage
// error.
std::vector<AlsoCopy> AlsoCopies(const std::vector<std::string>& given,
                                 const std::optional<std::string>& output);

}  // namespace tq::app
