#include "host/app/Cli.h"

#include <algorithm>
#include <new>
#include <ostream>
#include <string>
#include <vector>

#include "host/app/Command.h"
#include "host/app/Options.h"
#include "host/app/PluginModule.h"

namespace tq::app {
namespace {

// Every command, in the order tqhost --help lists them.
const std::vector<const Command*>& CommandTable() {
  static const std::vector<const Command*> table = {&InfoCommand(),   &CommandsCommand(),
                                                    &ExportCommand(), &DialogCommand(),
                                                    &ImportCommand(), &ConvertCommand()};
  return table;
}

const char kUsageIntro[] = R"(Usage: tqhost [OPTIONS] COMMAND [ARGS]

The stand-in host for the tqmotion plug-in: loads a scene file and the
plug-in, and runs the plug-in's screen-track export.

Commands:
)";

const char kUsageScene[] = R"(
A SCENE is a scene file (.tqs.json) or a glTF 2.0 file (.gltf, .glb).

Options:
)";

const char kUsageTail[] = R"(
Options may stand anywhere; --name=value and -oFILE work too, and -- ends
the options.

Exit status: 0 done, 1 failed (a message from the plug-in, a scene or
plug-in that cannot be loaded), 2 usage error.
)";

std::string Usage() {
  std::string usage = kUsageIntro;
  for (const Command* c : CommandTable()) usage += c->summary;
  return usage + kUsageScene + OptionHelp(GlobalOptions()) + kUsageTail;
}

const Command* FindCommand(const std::string& name) {
  for (const Command* c : CommandTable()) {
    if (name == c->name) return c;
  }
  std::string names;
  for (const Command* c : CommandTable())
    names += (names.empty() ? "" : ", ") + std::string(c->name);
  throw UsageError{"unknown command '" + name + "'; the commands are " + names};
}

// Every option table any command takes, and the global options.
std::vector<const std::vector<Option>*> AllTables() {
  std::vector<const std::vector<Option>*> tables = {&GlobalOptions()};
  for (const Command* c : CommandTable()) {
    for (const auto* t : c->tables) {
      if (std::find(tables.begin(), tables.end(), t) == tables.end()) tables.push_back(t);
    }
  }
  return tables;
}

// Each command takes the global options, its tables and its few others.
void CheckOptionsOf(const Command& command, const ParsedArgs& a) {
  std::vector<std::string> allowed = command.more;
  for (const auto* table : command.tables) {
    for (const Option& o : *table) allowed.push_back(o.name);
  }
  for (const auto* table : AllTables()) {
    if (table == &GlobalOptions()) continue;
    for (const Option& o : *table) {
      if (a.Has(o.name) && std::find(allowed.begin(), allowed.end(), o.name) == allowed.end())
        throw UsageError{std::string(o.name) + " is not an option of " + command.name};
    }
  }
}

}  // namespace

int Refuse(std::ostream& err, const std::string& why) {
  err << "tqhost: " << why << "\n";
  return 1;
}

int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  std::string tryHelp = "tqhost --help";  // the help a usage error points to
  for (const std::string& arg : args) {
    const auto& table = CommandTable();
    if (std::any_of(table.begin(), table.end(), [&](const Command* c) { return arg == c->name; })) {
      tryHelp = "tqhost " + arg + " --help";
      break;
    }
  }
  try {
    const ParsedArgs a = ParseArgs(args, AllTables());
    const std::string name = a.positional.empty() ? "" : a.positional[0];
    const std::vector<std::string> rest(a.positional.begin() + (name.empty() ? 0 : 1),
                                        a.positional.end());
    const bool help = a.Has("--help") || name == "help";
    if (a.Has("--version")) return (out << "tqhost " << TQ_VERSION << "\n", 0);
    if (name.empty() || name == "help") {
      if (help) return (out << Usage(), 0);
      throw UsageError{"no command given"};
    }
    const Command& command = *FindCommand(name);
    CheckOptionsOf(command, a);
    if (help) return (out << command.help(), 0);
    const std::string pluginPath = a.Value("--plugin", DefaultPluginPath());
    return command.run({rest, a, pluginPath, out, err});
  } catch (const UsageError& e) {
    err << "tqhost: " << e.what << "\nTry '" << tryHelp << "'.\n";
    return 2;
  } catch (const std::bad_alloc&) {
    // Every file is replaced only once complete: none is half-written.
    err << "tqhost: not enough memory to finish; no file was left half-written\n";
    return 1;
  }
}

}  // namespace tq::app
