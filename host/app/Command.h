// A tqhost command as one row: its name, its lines in tqhost --help, its own
// help, the options it takes and what runs it. Cli.cpp lists the rows and
// builds the usage, the list of commands and the option checks from them; a
// new command is one file under commands/ and one row there.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "host/app/Options.h"

namespace tq::app {

// What a command is run with: its arguments after the command's name, the
// options read, the plug-in to load and the two streams.
struct CommandCall {
  const std::vector<std::string>& rest;
  const OptionValues& options;
  const std::string& pluginPath;
  std::ostream& out;
  std::ostream& err;
};

struct Command {
  const char* name;
  const char* summary;  // its lines under "Commands:" in tqhost --help
  std::string (*help)();
  std::vector<const std::vector<Option>*> tables;  // the option tables it takes whole
  std::vector<std::string> more;                   // single options of other tables
  int (*run)(const CommandCall& call);
};

// Says why a command failed, once, as "tqhost: WHY"; answers its exit
// status, 1.
int Refuse(std::ostream& err, const std::string& why);

// The rows, one file each under commands/.
const Command& InfoCommand();
const Command& CommandsCommand();
const Command& ExportCommand();
const Command& DialogCommand();
const Command& ImportCommand();
const Command& ConvertCommand();

}  // namespace tq::app
