// tqhost dialog: the plug-in's settings dialog drawn in the terminal.
#include <unistd.h>

#include <cstdlib>
#include <ostream>
#include <sstream>

#include "host/app/Command.h"
#include "host/app/CursesTerminal.h"
#include "host/app/PluginRun.h"
#include "host/app/PlateOptions.h"
#include "host/app/SceneInput.h"
#include "host/framework/TerminalDriver.h"

namespace tq::app {
namespace {

const char kDialogUsage[] = R"(Usage: tqhost [--plugin PATH] dialog SCENE [--decimals N]

Runs the plug-in's export command on the scene with its settings dialog drawn
in the terminal:

  Tab, Down / Shift-Tab, Up   move between the controls
  Left, Right                 choose in a list
  letters, digits, Backspace  edit a field
  Space                       press a button or choose a radio button
  Enter                       press the button in focus; elsewhere: OK
  Esc                         Cancel

The file button asks for the output path on one line. Needs a terminal.
--decimals N writes X and Y with N digits after the point (0 to 6; default 0,
whole pixels), and --film-offset, --pixel-aspect and --distortion put the
track on the plate as shot, as tqhost export does.
)";

int Dialog(const std::string& pluginPath, const std::vector<std::string>& args, const ParsedArgs& a,
           std::ostream& out, std::ostream& err) {
  if (args.size() != 1) throw UsageError{"dialog needs exactly one scene file"};
  UseDecimals(a);
  ApplyPlateOptions(a, nullptr);
  if (isatty(STDIN_FILENO) == 0 || isatty(STDOUT_FILENO) == 0) {
    err << "tqhost: dialog needs a terminal; use 'tqhost export' to run without one\n";
    return 1;
  }
  DialogOutcome outcome;
  TrackTap tap;
  bool ran = false;
  std::unique_ptr<tq::scene::Scene> scene;
  {
    CursesTerminal terminal;
    if (!terminal.Opened()) {
      const char* term = std::getenv("TERM");
      err << "tqhost: dialog cannot draw on this terminal (TERM=" << (term != nullptr ? term : "")
          << ", unknown here, or a size it cannot have)\n";
      return 1;
    }
    NotingDriver<framework::TerminalDriver> driver(terminal);
    std::ostringstream problems;
    auto loaded = LoadScene(args[0], a, problems);
    if (loaded) {
      scene = std::move(*loaded);
      ApplyPlateOptions(a, scene.get());
      ran = RunExportCommand(pluginPath, *scene, driver, tap, problems);
    } else {
      problems << "tqhost: " << loaded.error << "\n";
    }
    outcome = driver.outcome;
    if (!ran) err << problems.str();
  }
  if (!ran) return 1;
  if (!outcome.ran) {
    err << "tqhost: " << kNoDialog << "\n";
    return 1;
  }
  if (outcome.result != IDOK) {
    out << "cancelled; nothing was written\n";
    return 0;
  }
  // The plug-in's own lines; a track it could not have written counts no frames.
  const auto track = ReadTrack(tap.text);
  const std::vector<TrackPoint> points = track ? *track : std::vector<TrackPoint>{};
  std::vector<bool> beyond;
  const std::vector<bool> behind = Behind(*scene, outcome, points.size(), nullptr, &beyond);
  Summarise(points, behind, outcome.file, "exported", out, err, beyond);
  return 0;
}

}  // namespace

const Command& DialogCommand() {
  static const Command command = {
      "dialog",
      "  dialog SCENE      runs the export command with its settings dialog drawn\n"
      "                    in the terminal, for a person to work\n",
      [] { return std::string(kDialogUsage); },
      {&ImportOptions()},
      {"--width", "--height", "--decimals", "--film-offset", "--pixel-aspect", "--distortion"},
      [](const CommandCall& c) { return Dialog(c.pluginPath, c.rest, c.args, c.out, c.err); }};
  return command;
}

}  // namespace tq::app
