// tqhost commands: the plug-in's commands, as the host's menu would list them.
#include <ostream>

#include "host/app/Command.h"
#include "host/app/PluginRun.h"

namespace tq::app {
namespace {

const char kCommandsUsage[] = R"(Usage: tqhost [--plugin PATH] commands

Loads the plug-in, runs its load hooks and lists its commands: the index and
the menu text of each.
)";

int Commands(const std::string& pluginPath, std::ostream& out, std::ostream& err) {
  auto plugin = LoadPlugin(pluginPath, err);
  if (!plugin) return 1;
  for (const auto& command : plugin->Commands())
    out << command.index << "\t" << command.menuText << "\n";
  return 0;
}

}  // namespace

const Command& CommandsCommand() {
  static const Command command = {
      "commands",
      "  commands          the plug-in's commands with index and menu text\n",
      [] { return std::string(kCommandsUsage); },
      {},
      {},
      [](const CommandCall& c) {
        if (!c.rest.empty()) throw UsageError{"commands takes no arguments"};
        return Commands(c.pluginPath, c.out, c.err);
      }};
  return command;
}

}  // namespace tq::app
