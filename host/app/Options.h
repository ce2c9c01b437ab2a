// tqhost's command line as data: every option once, with its value, its help
// text and what it sets. The parser, the --help texts and (through a test)
// the README's reference all come from these tables.
//
// The parser takes what GNU tools take: "--name value" and "--name=value",
// "-o value" and "-ovalue", "--" to end the options, and options anywhere
// among the other arguments.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace tq::app {

// A mistake in the command line: exit status 2, with "Try 'tqhost --help'".
struct UsageError {
  std::string what;
};

struct Option {
  const char* name;         // "--camera"
  const char* alias;        // another spelling ("-o" for "--output"), or null
  const char* value;        // what the value is ("NAME"), or null for a switch
  const char* help;         // one or more sentences, wrapped when shown
  bool repeatable = false;  // may be given more than once (all values kept)
};

// Options of every command (--plugin, --verbose, --help, --version).
const std::vector<Option>& GlobalOptions();
// Options of tqhost export, in the order they work the dialog.
const std::vector<Option>& ExportOptions();
// Options of reading a glTF scene (info, export, dialog, import).
const std::vector<Option>& ImportOptions();
// Options of tqhost info (--json).
const std::vector<Option>& InfoOptions();
// Options of tqhost convert (with --width, --height, --fps and -o).
const std::vector<Option>& ConvertOptions();

struct ParsedArgs {
  std::map<std::string, std::string> values;              // by the option's name; "" for a switch
  std::map<std::string, std::vector<std::string>> lists;  // every value of a repeatable option
  std::vector<std::string> positional;                    // the command first
  bool Has(const std::string& name) const { return values.count(name) != 0; }
  std::string Value(const std::string& name, const std::string& fallback = "") const {
    const auto it = values.find(name);
    return it == values.end() ? fallback : it->second;
  }
  std::vector<std::string> List(const std::string& name) const {
    const auto it = lists.find(name);
    return it == lists.end() ? std::vector<std::string>() : it->second;
  }
};

// Parses args (without the program name) against the options of every
// table given; an option given twice, a missing value, a value given to a
// switch and an unknown option are usage errors.
ParsedArgs ParseArgs(const std::vector<std::string>& args,
                     const std::vector<const std::vector<Option>*>& tables);

// The options of a table as help text: "  --camera NAME     pick ...",
// wrapped to 79 columns.
std::string OptionHelp(const std::vector<Option>& table);
// How an option is written with its value: "--camera NAME", "-o FILE".
std::string OptionUsage(const Option& option);

}  // namespace tq::app
