// tqhost's command line as data: every option once, with its value, its help
// text and what it sets. The parser, the --help texts and (through a test)
// the README's reference all come from these tables.
//
// The parser takes what GNU tools take: "--name value" and "--name=value",
// "-o value" and "-ovalue", "--" to end the options, and options anywhere
// among the other arguments.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

namespace tq::app {

// A mistake in the command line: exit status 2, with "Try 'tqhost --help'".
struct UsageError {
  std::string what;
};

// Every option of every command as the command line gave it, read once by
// the parser: a value (empty when not given), a switch (true when given), or
// every value of an option that may be given more than once. The commands
// read these fields; no option is looked up by its name anywhere else.
struct OptionValues {
  using Text = std::optional<std::string>;
  // Every command.
  Text plugin;
  bool verbose = false, help = false, version = false;
  // export (and single ones of dialog, info, import, convert)
  Text camera;
  std::vector<std::string> targets;  // --target, each as given
  bool allTargets = false;
  Text mode, group, bone, width, height, start, end, decimals, filmOffset, pixelAspect, distortion,
      output, preview, plate;
  std::vector<std::string> also;  // --also FORMAT[:FILE], each as given
  Text cornerPin, pinFrom;
  bool clipboard = false, plan = false;
  Text jobs;
  // Reading a glTF scene.
  Text fps, animation;
  // info
  bool json = false;
  // convert
  Text to, firstFrame, name;
};

// Where the parser puts an option: a value, a switch, or the values of an
// option that may be given more than once.
using OptionField = std::variant<OptionValues::Text OptionValues::*, bool OptionValues::*,
                                 std::vector<std::string> OptionValues::*>;

struct Option {
  const char* name;   // "--camera"
  const char* alias;  // another spelling ("-o" for "--output"), or null
  const char* value;  // what the value is ("NAME"), or null for a switch
  const char* help;   // one or more sentences, wrapped when shown
  OptionField field;  // what it sets (a list: it may be given more than once)
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
  OptionValues options;
  std::vector<std::string> positional;  // the command first
  std::set<const Option*> given;        // the rows of the options given
  bool Gave(const Option& option) const { return given.count(&option) != 0; }
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
