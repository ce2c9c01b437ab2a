#include "host/app/Cli.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "dialog/ControlIds.h"
#include "host/app/CursesTerminal.h"
#include "host/app/PluginModule.h"
#include "host/app/Preview.h"
#include "host/fileio/FileStream.h"
#include "host/framework/Dialog.h"
#include "host/framework/ScriptedDriver.h"
#include "host/framework/TerminalDriver.h"
#include "host/framework/Window.h"
#include "host/scene/Loader.h"

namespace tq::app {
namespace {

const char kUsage[] = R"(Usage: tqhost [--plugin PATH] COMMAND [ARGS]

The stand-in host for the tqmotion plug-in: loads a scene file and the
plug-in, and runs the plug-in's screen-track export.

Commands:
  info SCENE        the scene: frame rate and times, cameras with their
                    output options, objects with groups and bones
  commands          the plug-in's commands with index and menu text
  export SCENE ...  runs the export command (command 0) on the scene's
                    choreography; see 'tqhost export --help'
  dialog SCENE      runs the export command with its settings dialog drawn
                    in the terminal, for a person to work

Options:
  --plugin PATH     the plug-in to load (default: tqmotion.plg beside tqhost)
  -h, --help        this text; 'tqhost COMMAND --help' tells about a command

Exit status: 0 done, 1 failed (a message from the plug-in, a scene or
plug-in that cannot be loaded), 2 usage error.
)";

const char kInfoUsage[] = R"(Usage: tqhost info SCENE

Prints the project's frame rate and times, each camera with its output
options (image size, frame range) and each object of the choreography with
its type, its groups and its bones (indented by depth). Needs no plug-in.
)";

const char kCommandsUsage[] = R"(Usage: tqhost [--plugin PATH] commands

Loads the plug-in, runs its load hooks and lists its commands: the index and
the menu text of each.
)";

const char kDialogUsage[] = R"(Usage: tqhost [--plugin PATH] dialog SCENE

Runs the plug-in's export command on the scene with its settings dialog drawn
in the terminal:

  Tab, Down / Shift-Tab, Up   move between the controls
  Left, Right                 choose in a list
  letters, digits, Backspace  edit a field
  Space                       press a button or choose a radio button
  Enter                       press the button in focus; elsewhere: OK
  Esc                         Cancel

The file button asks for the output path on one line. Needs a terminal.
)";

const char kExportUsage[] = R"(Usage: tqhost [--plugin PATH] export SCENE [OPTIONS]

Runs the plug-in's export command on the scene, working its settings dialog
the way a person would, in this order:

  --camera NAME     pick the camera (fills size and range from its output
                    options); default: the first camera
  --target NAME     pick the object to track; default: the first object
  --mode MODE       origin | model-center | group-center | bone
                    (the radio buttons; default: origin)
  --group NAME      pick the model's group (group-center; default: the first)
  --bone NAME       pick the model's bone (bone; default: the first)
  --width N         type the image width
  --height N        type the image height
  --start F         type the first frame (may be fractional)
  --end F           type the last frame (inclusive)
  -o FILE           choose the output file in the save request
                    (default: TQmotion.txt in the current folder)
  --preview FILE.svg
                    also draw the track as an SVG picture

What is not given stays as the dialog shows it. Then OK is pressed.

Every message box of the run (a refused value, a mode the target does not
offer, an unknown name, a file that cannot be written) is printed on standard
error and makes the exit status 1. On success one line tells how many frames
were written to which file.
)";

struct UsageError {
  std::string what;
};

const char* TypeName(int type) {
  switch (type) {
    case ObjectType::kModel:
      return "model";
    case ObjectType::kCamera:
      return "camera";
    case ObjectType::kLight:
      return "light";
    case ObjectType::kNull:
      return "null";
    case ObjectType::kFolder:
      return "folder";
    default:
      return "object";
  }
}

std::string Frames(Time ticks, float fps) {
  std::ostringstream s;
  s << tq::scene::TicksToFramesExact(ticks, fps);
  return s.str();
}

// --- info ------------------------------------------------------------------

void PrintBones(std::ostream& out, HBone* bone, int depth) {
  for (; bone != nullptr; bone = bone->GetSiblingBone()) {
    out << "      " << std::string(static_cast<std::size_t>(depth) * 3, ' ') << bone->GetName()
        << "\n";
    PrintBones(out, bone->GetChildBone(), depth + 1);
  }
}

void PrintOutputOptions(std::ostream& out, HTreeObject* owner, float fps) {
  for (int i = 0; HProperty* p = owner->GetPropertyAt(i); ++i) {
    const std::string full = p->GetFullName().Get();
    const auto kind = p->GetKind();
    if (kind == HProperty::Kind::kInt) out << "    " << full << " = " << p->GetValue() << "\n";
    if (kind == HProperty::Kind::kTime) {
      out << "    " << full << " = " << p->GetValue() << " ticks (frame "
          << Frames(p->GetValue(), fps) << ")\n";
    }
    PrintOutputOptions(out, p, fps);
  }
}

int Info(const std::string& path, std::ostream& out, std::ostream& err) {
  auto loaded = tq::scene::LoadSceneFile(path);
  if (!loaded) {
    err << "tqhost: " << loaded.error << "\n";
    return 1;
  }
  HProject* project = loaded.scene->Project();
  HChor* chor = loaded.scene->Chor();
  const float fps = project->GetFPS();
  out << "Project \"" << project->GetName() << "\": " << fps << " fps, time " << project->GetTime()
      << " ticks (frame " << Frames(project->GetTime(), fps) << ")\n";
  out << "Choreography \"" << chor->GetName() << "\": time " << chor->GetTime() << " ticks (frame "
      << Frames(chor->GetTime(), fps) << ")\n";
  out << "Cameras:\n";
  for (HCamera* c = chor->GetChildCamera(); c != nullptr; c = c->GetNextCameraInChor()) {
    out << "  " << c->GetName() << "\n";
    PrintOutputOptions(out, c, fps);
  }
  out << "Objects:\n";
  for (HQuorObject* o = chor->GetChild(); o != nullptr; o = o->GetSibling()) {
    out << "  " << o->GetName() << " (" << TypeName(o->GetObjectType()) << ")\n";
    if (o->GetObjectType() != ObjectType::kModel) continue;
    auto* model = static_cast<HModel*>(o);
    if (HGroupContainer* groups = model->GetChildGroupContainer()) {
      out << "    groups:";
      for (HQuorObject* g = groups->GetChildGroup(); g != nullptr; g = g->GetSibling())
        out << " " << g->GetName();
      out << "\n";
    }
    if (HBoneContainer* bones = model->GetChildBoneContainer()) {
      out << "    bones:\n";
      PrintBones(out, bones->GetChildBone(), 0);
    }
  }
  return 0;
}

// --- commands --------------------------------------------------------------

std::unique_ptr<PluginModule> LoadPlugin(const std::string& path, std::ostream& err) {
  std::string error, warning;
  auto plugin = PluginModule::Load(path, error, &warning);
  if (!plugin) {
    err << "tqhost: " << error << "\n";
    return nullptr;
  }
  if (!warning.empty()) err << "tqhost: warning: " << warning << "\n";
  return plugin;
}

int Commands(const std::string& pluginPath, std::ostream& out, std::ostream& err) {
  auto plugin = LoadPlugin(pluginPath, err);
  if (!plugin) return 1;
  for (const auto& command : plugin->Commands())
    out << command.index << "\t" << command.menuText << "\n";
  return 0;
}

// --- export ----------------------------------------------------------------

// What the dialog showed when it ended: the names and numbers the summary
// and the preview need. ran stays false when no dialog came up.
struct DialogOutcome {
  std::string camera, target, file;
  int width = 0, height = 0;
  float start = 0, end = 0;
  INT_PTR result = -1;
  bool ran = false;

  void Capture(const CDialog& dialog) {
    HWND d = dialog.m_hWnd;
    camera = GetWindowTextString(GetDlgItem(d, IDC_COMBO1));
    target = GetWindowTextString(GetDlgItem(d, IDC_COMBO2));
    file = GetWindowTextString(GetDlgItem(d, IDC_FILE_NAME));
    width = framework::ParseInt(GetWindowTextString(GetDlgItem(d, IDC_WIDTH))).value_or(0);
    height = framework::ParseInt(GetWindowTextString(GetDlgItem(d, IDC_HEIGHT))).value_or(0);
    start = framework::ParseFloat(GetWindowTextString(GetDlgItem(d, IDC_START_FRAME))).value_or(0);
    end = framework::ParseFloat(GetWindowTextString(GetDlgItem(d, IDC_END_FRAME))).value_or(0);
    result = dialog.m_nModalResult;
    ran = true;
  }
};

// A driver that notes the dialog's outcome when its loop ends.
template <class Driver>
class NotingDriver : public Driver {
 public:
  using Driver::Driver;
  void RunModalLoop(CDialog& dialog) override {
    Driver::RunModalLoop(dialog);
    outcome.Capture(dialog);
  }
  DialogOutcome outcome;
};

// Keeps the text of the last stream the run opened: the track as written.
class TrackTap : public fileio::StreamTap {
 public:
  void Opened(const std::string&) override { text.clear(); }
  void Wrote(const char* data, unsigned long n) override { text.append(data, n); }
  std::string text;
};

// Loads the scene and the plug-in and runs the export command (command 0)
// on the choreography, the host's main window its dialog's parent and driver
// its UI; the track it writes is kept in tap. False (with the reason on err)
// when either cannot be loaded.
bool RunExportCommand(const std::string& pluginPath, const std::string& scenePath,
                      framework::UiDriver& driver, TrackTap& tap, std::ostream& err) {
  auto loaded = tq::scene::LoadSceneFile(scenePath);
  if (!loaded) {
    err << "tqhost: " << loaded.error << "\n";
    return false;
  }
  loaded.scene->MakeCurrent();
  auto plugin = LoadPlugin(pluginPath, err);
  if (!plugin) return false;
  HWND mainWindow =
      framework::CreateWindowRecord("TqHostMain", "tqhost", 0, 0, nullptr, &DefWindowProcA);
  tq::scene::SetMainApplicationWnd(mainWindow);
  fileio::StreamTap* previousTap = fileio::SetStreamTap(&tap);
  {
    framework::ScopedUiDriver use(&driver);
    plugin->Run(loaded.scene->Chor(), 0);
  }
  fileio::SetStreamTap(previousTap);
  tq::scene::SetMainApplicationWnd(nullptr);
  framework::DestroyWindowRecord(mainWindow);
  return true;
}

const char kNoDialog[] = "the settings dialog could not be shown";

// The summary of a run that ended with OK, from the lines it wrote: how many,
// and why there are none or why some could not be projected.
void Summarise(const std::vector<TrackPoint>& points, const std::string& file, const char* verb,
               std::ostream& out, std::ostream& err) {
  const std::size_t frames = points.size();
  if (frames == 0) {
    out << "0 frames " << verb << " (the start frame is after the end frame)\n";
    return;
  }
  out << frames << (frames == 1 ? " frame " : " frames ") << verb << " to " << file << "\n";
  const auto saturated = std::count_if(points.begin(), points.end(), [](const TrackPoint& p) {
    auto edge = [](long v) { return v == INT32_MIN || v == INT32_MAX; };
    return edge(p.x) || edge(p.y);
  });
  if (saturated > 0) {
    err << "tqhost: warning: " << saturated << " of " << frames
        << " frames could not be projected: the target is at the camera or in its image plane\n";
  }
}

int Dialog(const std::string& pluginPath, const std::vector<std::string>& args, std::ostream& out,
           std::ostream& err) {
  if (args.size() != 1) throw UsageError{"dialog needs exactly one scene file"};
  if (isatty(STDIN_FILENO) == 0 || isatty(STDOUT_FILENO) == 0) {
    err << "tqhost: dialog needs a terminal; use 'tqhost export' to run without one\n";
    return 1;
  }
  DialogOutcome outcome;
  TrackTap tap;
  bool ran = false;
  {
    CursesTerminal terminal;
    NotingDriver<framework::TerminalDriver> driver(terminal);
    std::ostringstream problems;
    ran = RunExportCommand(pluginPath, args[0], driver, tap, problems);
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
  std::vector<TrackPoint> points;
  std::string error;
  ReadTrack(tap.text, points, error);
  Summarise(points, outcome.file, "exported", out, err);
  return 0;
}

int Export(const std::string& pluginPath, const std::vector<std::string>& args, std::ostream& out,
           std::ostream& err) {
  std::string scenePath, output = "TQmotion.txt", preview;
  std::map<std::string, std::string> values;
  static const char* const kValued[] = {"--camera", "--target", "--mode",   "--group",
                                        "--bone",   "--width",  "--height", "--start",
                                        "--end",    "-o",       "--preview"};
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    bool known = false;
    for (const char* k : kValued) {
      if (a != k) continue;
      known = true;
      if (i + 1 >= args.size()) throw UsageError{a + " needs a value"};
      if (values.count(a) != 0) throw UsageError{a + " is given twice"};
      values[a] = args[++i];
    }
    if (known) continue;
    if (!a.empty() && a[0] == '-') throw UsageError{"unknown option " + a};
    if (!scenePath.empty())
      throw UsageError{"more than one scene given (" + scenePath + ", " + a + ")"};
    scenePath = a;
  }
  if (scenePath.empty()) throw UsageError{"export needs a scene file"};
  static const std::map<std::string, int> kModes = {{"origin", IDC_RADIO1},
                                                    {"model-center", IDC_RADIO2},
                                                    {"group-center", IDC_RADIO3},
                                                    {"bone", IDC_RADIO4}};
  if (values.count("--mode") != 0 && kModes.count(values["--mode"]) == 0) {
    throw UsageError{"--mode must be origin, model-center, group-center or bone, not \"" +
                     values["--mode"] + "\""};
  }
  if (values.count("-o") != 0) output = values["-o"];
  // "-" is standard output; the summary then goes to standard error.
  if (output == "-") output = "/dev/stdout";
  const bool toStdout = output == "/dev/stdout";
  std::ostream& summary = toStdout ? err : out;
  if (values.count("--preview") != 0) preview = values["--preview"];

  using framework::Action;
  std::vector<Action> actions;
  if (values.count("--camera"))
    actions.push_back(Action::SelectText(IDC_COMBO1, values["--camera"]));
  if (values.count("--target"))
    actions.push_back(Action::SelectText(IDC_COMBO2, values["--target"]));
  if (values.count("--mode")) actions.push_back(Action::Click(kModes.at(values["--mode"])));
  if (values.count("--group")) actions.push_back(Action::SelectText(IDC_COMBO3, values["--group"]));
  if (values.count("--bone")) actions.push_back(Action::SelectText(IDC_COMBO4, values["--bone"]));
  if (values.count("--width")) actions.push_back(Action::SetText(IDC_WIDTH, values["--width"]));
  if (values.count("--height")) actions.push_back(Action::SetText(IDC_HEIGHT, values["--height"]));
  if (values.count("--start"))
    actions.push_back(Action::SetText(IDC_START_FRAME, values["--start"]));
  if (values.count("--end")) actions.push_back(Action::SetText(IDC_END_FRAME, values["--end"]));
  if (values.count("-o")) {
    actions.push_back(Action::Click(IDC_BUTTON1));
    actions.push_back(Action::AnswerSave(output));
  }
  actions.push_back(Action::Ok());

  NotingDriver<framework::ScriptedDriver> driver(actions);
  TrackTap tap;
  if (!RunExportCommand(pluginPath, scenePath, driver, tap, err)) return 1;

  // Success is a dialog that came up, took every option and ended with OK,
  // and an export that said nothing.
  bool failed = false;
  for (const auto& message : driver.messages) {
    err << "tqhost: " << message << "\n";
    failed = true;
  }
  for (const auto& failure : driver.Failures()) {
    err << "tqhost: " << failure;
    failed = true;
  }
  const DialogOutcome& outcome = driver.outcome;
  if (!failed && !outcome.ran) {
    err << "tqhost: " << kNoDialog << "\n";
    failed = true;
  } else if (!failed && outcome.result != IDOK) {
    err << "tqhost: the settings dialog did not end with OK; nothing was written\n";
    failed = true;
  }
  if (failed) return 1;

  std::vector<TrackPoint> points;
  std::string error;
  if (!ReadTrack(tap.text, points, error)) {
    err << "tqhost: the plug-in wrote an unreadable track to " << output << ": " << error << "\n";
    return 1;
  }
  Summarise(points, toStdout ? "standard output" : output, "written", summary, err);
  if (!preview.empty()) {
    const std::string svg = RenderPreview(
        points, {outcome.camera, outcome.target, outcome.width, outcome.height, outcome.start});
    // Through the same never-half-written replace as the track.
    FileStream file;
    String name(preview.c_str());
    file.Open(name, 0);
    file.Write(svg.data(), static_cast<unsigned long>(svg.size()));
    if (file.Close() == 0) {
      err << "tqhost: cannot write the preview " << preview << ": " << file.Error() << "\n";
      return 1;
    }
    summary << "preview drawn in " << preview << "\n";
  }
  return 0;
}

}  // namespace

int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string pluginPath;
  std::string command;
  std::vector<std::string> rest;
  bool help = false;
  try {
    for (std::size_t i = 0; i < args.size(); ++i) {
      const std::string& a = args[i];
      if (a == "--plugin") {
        if (i + 1 >= args.size()) throw UsageError{"--plugin needs a path"};
        pluginPath = args[++i];
      } else if (a == "-h" || a == "--help") {
        help = true;
      } else if (command.empty()) {
        if (!a.empty() && a[0] == '-') throw UsageError{"unknown option " + a};
        command = a;
      } else {
        rest.push_back(a);
      }
    }
    if (pluginPath.empty()) pluginPath = DefaultPluginPath();
    if (command.empty()) {
      if (help) {
        out << kUsage;
        return 0;
      }
      throw UsageError{"no command given"};
    }
    if (command == "info") {
      if (help) return (out << kInfoUsage, 0);
      if (rest.size() != 1) throw UsageError{"info needs exactly one scene file"};
      return Info(rest[0], out, err);
    }
    if (command == "commands") {
      if (help) return (out << kCommandsUsage, 0);
      if (!rest.empty()) throw UsageError{"commands takes no arguments"};
      return Commands(pluginPath, out, err);
    }
    if (command == "export") {
      if (help) return (out << kExportUsage, 0);
      return Export(pluginPath, rest, out, err);
    }
    if (command == "dialog") {
      if (help) return (out << kDialogUsage, 0);
      return Dialog(pluginPath, rest, out, err);
    }
    if (command == "help") {
      out << kUsage;
      return 0;
    }
    throw UsageError{"unknown command \"" + command + "\""};
  } catch (const UsageError& e) {
    err << "tqhost: " << e.what << "\nTry 'tqhost --help'.\n";
    return 2;
  }
}

}  // namespace tq::app
