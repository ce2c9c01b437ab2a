#include "host/app/Cli.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
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
#include "host/app/BehindCamera.h"
#include "host/app/CursesTerminal.h"
#include "host/app/Formats.h"
#include "host/app/HtmlPreview.h"
#include "host/app/Options.h"
#include "host/app/PluginModule.h"
#include "host/app/Preview.h"
#include "host/fileio/FileStream.h"
#include "host/framework/Dialog.h"
#include "host/framework/ScriptedDriver.h"
#include "host/framework/TerminalDriver.h"
#include "host/framework/Window.h"
#include "host/scene/GltfImport.h"
#include "host/scene/Loader.h"
#include "host/scene/SceneWriter.h"

namespace tq::app {
namespace {

const char kUsageHead[] = R"(Usage: tqhost [OPTIONS] COMMAND [ARGS]

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
  import GLTF -o F  writes a glTF 2.0 file as a scene file; see
                    'tqhost import --help'
  convert TRACK     writes a track in a compositor's format; see
                    'tqhost convert --help'

A SCENE is a scene file (.tqs.json) or a glTF 2.0 file (.gltf, .glb).

Options:
)";

const char kUsageTail[] = R"(
Options may stand anywhere; --name=value and -oFILE work too, and -- ends
the options.

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

const char kImportHead[] = R"(Usage: tqhost import SCENE.gltf|SCENE.glb -o SCENE.tqs.json [OPTIONS]

Writes a glTF 2.0 file as the equivalent scene file, which gives the same
tracks when loaded. Every command that reads a scene also reads glTF files
directly, with these options:

)";

const char kImportTail[] = R"(  --width N, --height N
                      a camera's output size (default 1920, and the width over
                      the camera's aspect ratio, else 1080)
)";

const char kConvertHead[] = R"(Usage: tqhost convert TRACK --to FORMAT [-o FILE] [OPTIONS]

Writes a track file (the plug-in's, or a csv or json made by convert) in a
compositor's import format, on standard output without -o:

  nuke   "frame x y" lines: a Tracker's or Transform's curve, File > Import
  ae     After Effects keyframe data: paste it on a layer's Position
  shake  a Shake track file: a Tracker's Load Track File
  3de    3DEqualizer 2D points: Points > Import 2D Tracks
  csv    "frame,x,y" with a header
  json   {"width", "height", "fps", "name", "frames": [{"frame", "x", "y"}]}

)";

const char kConvertTail[] = R"(  --width N, --height N, --fps F
                      the track's image size and rate (ae and json need them)

Frames are the scene's: the start frame plus the line index. 3de counts whole
frames from 1: a track that starts below 1 moves so that it starts at 1.
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

const char kExportHead[] = R"(Usage: tqhost [--plugin PATH] export SCENE [OPTIONS]

Runs the plug-in's export command on the scene, working its settings dialog
the way a person would, in this order:

)";

const char kExportTail[] = R"(
What is not given stays as the dialog shows it. Then OK is pressed.

A name the scene does not have, a mode the target does not offer and every
message box of the run (a refused value, a file that cannot be written) is
printed on standard error and makes the exit status 1. On success one line
tells how many frames were written to which file (on standard error when the
track goes to standard output).
)";

std::string Frames(Time ticks, float fps) {
  return FrameText(tq::scene::TicksToFramesExact(ticks, fps));
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

// Saves text through the same never-half-written replace as a track; what
// names the file in the message ("the preview ").
bool SaveText(const std::string& path, const std::string& text, std::ostream& err,
              const char* what = "") {
  FileStream file;
  String name(path.c_str());
  file.Open(name, 0);
  file.Write(text.data(), static_cast<unsigned long>(text.size()));
  if (file.Close() != 0) return true;
  err << "tqhost: cannot write " << what << path << ": " << file.Error() << "\n";
  return false;
}

// A scene file, or a glTF file imported with the options given; the
// importer's warnings are printed.
std::unique_ptr<tq::scene::Scene> LoadScene(
    const std::string& path, const ParsedArgs& a, std::ostream& err,
    std::vector<tq::scene::GltfAnimation>* animations = nullptr) {
  if (!tq::scene::IsGltfPath(path)) {
    auto loaded = tq::scene::LoadSceneFile(path);
    if (!loaded) err << "tqhost: " << loaded.error << "\n";
    if (loaded && a.Has("--fps")) {
      throw UsageError{"--fps applies to glTF files; this scene runs at " +
                       FrameText(loaded.scene->Project()->GetFPS()) + " fps"};
    }
    return std::move(loaded.scene);
  }
  tq::scene::GltfOptions options;
  if (a.Has("--fps")) {
    const auto fps = framework::ParseFloat(a.Value("--fps"));
    if (!fps || !(*fps > 0.0f) || *fps > 135000.0f)
      throw UsageError{"--fps must be a frame rate above 0 and at most 135000, not '" +
                       a.Value("--fps") + "'"};
    options.fps = *fps;
  }
  if (a.Has("--animation")) options.animation = a.Value("--animation");
  for (const char* option : {"--width", "--height"}) {
    if (!a.Has(option)) continue;
    const auto n = framework::ParseInt(a.Value(option));
    if (!n || *n <= 0) throw UsageError{std::string(option) + " must be a whole number above 0"};
    (option[2] == 'w' ? options.width : options.height.emplace()) = *n;
  }
  // A run from --start reads the glTF's curves at its own frames.
  if (a.Has("--start")) {
    if (const auto start = framework::ParseFloat(a.Value("--start"))) options.firstFrame = *start;
  }
  auto imported = tq::scene::ImportGltfFile(path, options);
  if (animations != nullptr) *animations = imported.animations;
  for (const std::string& warning : imported.warnings)
    err << "tqhost: warning: " << warning << "\n";
  if (!imported) err << "tqhost: " << imported.error << "\n";
  return std::move(imported.scene);
}

int Info(const std::string& path, const ParsedArgs& a, std::ostream& out, std::ostream& err) {
  std::vector<tq::scene::GltfAnimation> animations;
  auto scene = LoadScene(path, a, err, &animations);
  if (!scene) return 1;
  HProject* project = scene->Project();
  HChor* chor = scene->Chor();
  const float fps = project->GetFPS();
  out << "Project \"" << project->GetName() << "\": " << FrameText(fps) << " fps, time "
      << project->GetTime() << " ticks (frame " << Frames(project->GetTime(), fps) << ")\n";
  out << "Choreography \"" << chor->GetName() << "\": time " << chor->GetTime() << " ticks (frame "
      << Frames(chor->GetTime(), fps) << ")\n";
  out << "Cameras:\n";
  for (HCamera* c = chor->GetChildCamera(); c != nullptr; c = c->GetNextCameraInChor()) {
    out << "  " << c->GetName() << "\n";
    PrintOutputOptions(out, c, fps);
  }
  out << "Objects:\n";
  for (HQuorObject* o = chor->GetChild(); o != nullptr; o = o->GetSibling()) {
    out << "  " << o->GetName() << " (" << ObjectTypeName(o->GetObjectType()) << ")\n";
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
  if (!animations.empty()) out << "Animations:\n";
  for (const tq::scene::GltfAnimation& an : animations) {
    char range[96];
    std::snprintf(range, sizeof range, "frames %.0f to %.0f", an.firstFrame, an.lastFrame);
    out << "  " << (an.name.empty() ? "animation " + std::to_string(an.index) : an.name) << ": "
        << range << "\n";
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
  std::string camera, target, file, mode;
  int width = 0, height = 0;
  float start = 0, end = 0;
  INT_PTR result = -1;
  bool ran = false;
  int focus = 0;  // the control in focus at the end: the one a refusal was about

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
    auto checked = [&](int id) {
      return SendMessageA(GetDlgItem(d, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
    };
    auto selected = [&](int id) {
      std::string text = GetWindowTextString(GetDlgItem(d, id));
      return text.erase(0, text.find_first_not_of(' '));  // a bone's indentation
    };
    mode = checked(IDC_RADIO2)   ? "model centre"
           : checked(IDC_RADIO3) ? "group " + selected(IDC_COMBO3)
           : checked(IDC_RADIO4) ? "bone " + selected(IDC_COMBO4)
                                 : "";
    focus = GetDlgCtrlID(GetFocus());
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

// The plug-in loaded on a scene, ready to run its export command (command 0)
// on the scene's choreography as often as asked, the host's main window its
// dialog's parent.
class ExportSession {
 public:
  ExportSession(const std::string& pluginPath, tq::scene::Scene& scene, std::ostream& err)
      : scene_(scene) {
    scene.MakeCurrent();
    plugin_ = LoadPlugin(pluginPath, err);
    mainWindow_ =
        framework::CreateWindowRecord("TqHostMain", "tqhost", 0, 0, nullptr, &DefWindowProcA);
    tq::scene::SetMainApplicationWnd(mainWindow_);
  }
  ~ExportSession() {
    tq::scene::SetMainApplicationWnd(nullptr);
    framework::DestroyWindowRecord(mainWindow_);
  }
  ExportSession(const ExportSession&) = delete;
  ExportSession& operator=(const ExportSession&) = delete;

  bool Loaded() const { return plugin_ != nullptr; }

  // One run of the command with driver as its UI; the track it writes is
  // kept in tap.
  void Run(framework::UiDriver& driver, TrackTap& tap) {
    fileio::StreamTap* previousTap = fileio::SetStreamTap(&tap);
    framework::ScopedUiDriver use(&driver);
    plugin_->Run(scene_.Chor(), 0);
    fileio::SetStreamTap(previousTap);
  }

 private:
  tq::scene::Scene& scene_;
  std::unique_ptr<PluginModule> plugin_;
  HWND mainWindow_ = nullptr;
};

// One run of the export command on a loaded scene; false (with the reason on
// err) when the plug-in cannot be loaded.
bool RunExportCommand(const std::string& pluginPath, tq::scene::Scene& scene,
                      framework::UiDriver& driver, TrackTap& tap, std::ostream& err) {
  ExportSession session(pluginPath, scene, err);
  if (!session.Loaded()) return false;
  session.Run(driver, tap);
  return true;
}

const char kNoDialog[] = "the settings dialog could not be shown";

// The summary of a run that ended with OK, from the lines it wrote: how many,
// and why there are none or why some could not be projected.
void Summarise(const std::vector<TrackPoint>& points, const std::vector<bool>& behind,
               const std::string& file, const char* verb, std::ostream& out, std::ostream& err) {
  const std::size_t frames = points.size();
  if (frames == 0) {
    out << "0 frames " << verb << " (the start frame is after the end frame)\n";
    return;
  }
  out << frames << (frames == 1 ? " frame " : " frames ") << verb << " to " << file << "\n";
  const auto saturated = std::count_if(points.begin(), points.end(), Unprojected);
  if (saturated > 0) {
    err << "tqhost: warning: " << saturated << " of " << frames
        << " frames could not be projected: the target is at the camera or in its image plane\n";
  }
  if (const auto n = std::count(behind.begin(), behind.end(), true); n > 0) {
    err << "tqhost: warning: " << n << " of " << frames
        << " frames: the target is behind the camera; those values are mirrored\n";
  }
}

// The frames of a run's track that lie behind its camera.
std::vector<bool> Behind(tq::scene::Scene& scene, const DialogOutcome& o, std::size_t frames) {
  return FramesBehindCamera(scene, {o.camera, o.target, o.mode}, o.start, frames,
                            scene.Project()->GetFPS());
}

int Dialog(const std::string& pluginPath, const std::vector<std::string>& args, const ParsedArgs& a,
           std::ostream& out, std::ostream& err) {
  if (args.size() != 1) throw UsageError{"dialog needs exactly one scene file"};
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
    NotingDriver<framework::TerminalDriver> driver(terminal);
    std::ostringstream problems;
    scene = LoadScene(args[0], a, problems);
    ran = scene && RunExportCommand(pluginPath, *scene, driver, tap, problems);
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
  Summarise(points, Behind(*scene, outcome, points.size()), outcome.file, "exported", out, err);
  return 0;
}

// --- export: the names of the scene, checked before the dialog runs -------

std::string Joined(const std::vector<std::string>& names) {
  std::string list;
  for (const std::string& name : names) list += (list.empty() ? "" : ", ") + name;
  return list.empty() ? "none" : list;
}

// What the dialog lists: cameras, objects (no folders), and of a model its
// groups and the bones of its first top-level bone, in pre-order.
struct SceneNames {
  std::vector<std::string> cameras, objects, groups, bones;
  HQuorObject* target = nullptr;

  SceneNames(HChor* chor, const std::string& targetName) {
    for (HCamera* c = chor->GetChildCamera(); c != nullptr; c = c->GetNextCameraInChor())
      cameras.push_back(c->GetName());
    for (HQuorObject* o = chor->GetChild(); o != nullptr; o = o->GetSibling()) {
      if (o->GetObjectType() != ObjectType::kFolder) objects.push_back(o->GetName());
    }
    Aim(chor, targetName);
  }
  // The names of another target (its groups and bones); the lists of the
  // scene are kept, not listed again for each target of a run.
  void Aim(HChor* chor, const std::string& targetName) {
    target = nullptr;
    groups.clear();
    bones.clear();
    for (HQuorObject* o = chor->GetChild(); o != nullptr && target == nullptr;
         o = o->GetSibling()) {
      if (o->GetObjectType() == ObjectType::kFolder) continue;
      if (targetName.empty() || targetName == o->GetName()) target = o;
    }
    if (target == nullptr || target->GetObjectType() != ObjectType::kModel) return;
    auto* model = static_cast<HModel*>(target);
    if (HGroupContainer* g = model->GetChildGroupContainer()) {
      for (HQuorObject* group = g->GetChildGroup(); group != nullptr; group = group->GetSibling())
        groups.push_back(group->GetName());
    }
    if (HBoneContainer* b = model->GetChildBoneContainer()) {
      if (HBone* first = b->GetChildBone()) AddBones(first);
    }
  }
  void AddBones(HBone* bone) {
    bones.push_back(bone->GetName());
    for (HBone* child = bone->GetChildBone(); child != nullptr; child = child->GetSiblingBone())
      AddBones(child);
  }
  bool HasGroups() const {
    return target != nullptr && target->GetObjectType() == ObjectType::kModel &&
           static_cast<HModel*>(target)->GetChildGroupContainer() != nullptr;
  }
  bool HasBones() const {
    return target != nullptr && target->GetObjectType() == ObjectType::kModel &&
           static_cast<HModel*>(target)->GetChildBoneContainer() != nullptr;
  }
};

bool Contains(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// A name or mode the scene cannot give, in the user's words; "" when all fit.
std::string CheckNames(const ParsedArgs& a, const SceneNames& n) {
  const std::string camera = a.Value("--camera"), target = a.Value("--target");
  if (a.Has("--camera") && !Contains(n.cameras, camera))
    return "unknown camera '" + camera + "'; the cameras are " + Joined(n.cameras);
  if (a.Has("--target") && !Contains(n.objects, target))
    return "unknown target '" + target + "'; the objects are " + Joined(n.objects);
  if (n.target == nullptr) return "";  // the dialog says what is missing
  const std::string of = std::string(" of '") + n.target->GetName() + "'";
  const std::string mode = a.Value("--mode", "origin");
  const bool model = n.target->GetObjectType() == ObjectType::kModel;
  std::vector<std::string> offered = {"origin"};
  if (model) offered.push_back("model-center");
  if (n.HasGroups()) offered.push_back("group-center");
  if (n.HasBones()) offered.push_back("bone");
  if (!Contains(offered, mode)) {
    return "--mode " + mode + ": the target '" + n.target->GetName() + "' offers " +
           Joined(offered);
  }
  if (a.Has("--group") && !Contains(n.groups, a.Value("--group")))
    return "unknown group '" + a.Value("--group") + "'" + of + "; its groups are " +
           Joined(n.groups);
  if (a.Has("--bone") && !Contains(n.bones, a.Value("--bone")))
    return "unknown bone '" + a.Value("--bone") + "'" + of + "; its bones are " + Joined(n.bones);
  return "";
}

// --- export: the run -----------------------------------------------------------

const std::map<std::string, int>& ModeRadios() {
  static const std::map<std::string, int> radios = {{"origin", IDC_RADIO1},
                                                    {"model-center", IDC_RADIO2},
                                                    {"group-center", IDC_RADIO3},
                                                    {"bone", IDC_RADIO4}};
  return radios;
}

// The dialog worked as the options say, in the order of the option table,
// then OK.
std::vector<framework::Action> DialogActions(const ParsedArgs& a, const std::string& output) {
  using framework::Action;
  std::vector<Action> actions;
  auto select = [&](const char* option, int id) {
    if (a.Has(option)) actions.push_back(Action::SelectText(id, a.Value(option)));
  };
  auto type = [&](const char* option, int id) {
    if (a.Has(option)) actions.push_back(Action::SetText(id, a.Value(option)));
  };
  select("--camera", IDC_COMBO1);
  select("--target", IDC_COMBO2);
  if (a.Has("--mode")) actions.push_back(Action::Click(ModeRadios().at(a.Value("--mode"))));
  select("--group", IDC_COMBO3);
  select("--bone", IDC_COMBO4);
  type("--width", IDC_WIDTH);
  type("--height", IDC_HEIGHT);
  type("--start", IDC_START_FRAME);
  type("--end", IDC_END_FRAME);
  if (a.Has("--output")) {
    actions.push_back(Action::Click(IDC_BUTTON1));
    actions.push_back(Action::AnswerSave(output));
  }
  actions.push_back(Action::Ok());
  return actions;
}

// The option that fills a control, for messages about that control.
std::string OptionOfControl(int id, const ParsedArgs& a) {
  static const std::map<int, std::string> options = {
      {IDC_COMBO1, "--camera"},     {IDC_COMBO2, "--target"}, {IDC_COMBO3, "--group"},
      {IDC_COMBO4, "--bone"},       {IDC_WIDTH, "--width"},   {IDC_HEIGHT, "--height"},
      {IDC_START_FRAME, "--start"}, {IDC_END_FRAME, "--end"}};
  const auto it = options.find(id);
  if (it == options.end()) return "";
  return a.Has(it->second) ? it->second + " " + a.Value(it->second) : it->second;
}

// Reports what kept the run from success; false when nothing did. Message
// boxes are the dialog's own words, named by the option of the control they
// are about; the driver's failures show the dialog only with --verbose.
bool ReportFailures(const NotingDriver<framework::ScriptedDriver>& driver, const ParsedArgs& a,
                    std::ostream& err) {
  bool failed = false;
  for (const auto& message : driver.messages) {
    const std::string option = OptionOfControl(driver.outcome.focus, a);
    err << "tqhost: " << (option.empty() ? "" : option + ": ") << message << "\n";
    failed = true;
  }
  if (!failed) {
    for (const auto& failure : driver.Failures()) {
      err << "tqhost: "
          << (a.Has("--verbose") ? failure : failure.substr(0, failure.find('\n') + 1));
      failed = true;
    }
  }
  const DialogOutcome& outcome = driver.outcome;
  if (!failed && !outcome.ran) {
    err << "tqhost: " << kNoDialog << "\n";
    failed = true;
  } else if (!failed && outcome.result != IDOK) {
    err << "tqhost: the settings dialog did not end with OK; nothing was written\n";
    failed = true;
  }
  return failed;
}

// Saves the picture of the track through the same never-half-written
// replace as the track.
bool WritePreview(const std::string& path, const std::vector<TrackPoint>& points,
                  const std::vector<bool>& behind, const DialogOutcome& outcome,
                  std::ostream& err) {
  const std::string svg =
      RenderPreview(points, {outcome.camera, outcome.target, outcome.mode, outcome.width,
                             outcome.height, outcome.start, behind});
  return SaveText(path, svg, err, "the preview ");
}

// --- export: many targets, other formats ------------------------------------

// A name made safe for a file name: letters, digits, '.', '-' and '_' stay.
std::string SafeForFileName(const std::string& name) {
  std::string safe;
  for (const char c : name) {
    const bool ok = std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
    safe += ok ? c : '_';
  }
  return safe.empty() || safe == "." || safe == ".." ? "_" : safe;
}

// A pattern with {target}, {camera} and {mode} filled in.
std::string Expand(std::string pattern, const std::map<std::string, std::string>& fields) {
  for (const auto& [key, value] : fields) {
    const std::string field = "{" + key + "}";
    for (std::size_t at; (at = pattern.find(field)) != std::string::npos;)
      pattern.replace(at, field.size(), SafeForFileName(value));
  }
  return pattern;
}

// A target as given: "NAME", or "NAME:MODE[:GROUP_OR_BONE]" unless the whole
// text names an object.
struct TargetChoice {
  std::string name, mode, groupOrBone;
};

// The object the dialog opens on: the first listed one that is not a
// camera, else the first that is not the run's camera (a camera cannot
// track itself); "" when there is none.
std::string DefaultTarget(HChor* chor, const SceneNames& names, const ParsedArgs& a) {
  const std::string camera = a.Value("--camera", names.cameras.empty() ? "" : names.cameras[0]);
  std::string fallback;
  for (HQuorObject* o = chor->GetChild(); o != nullptr; o = o->GetSibling()) {
    if (o->GetObjectType() == ObjectType::kFolder) continue;
    if (o->GetObjectType() != ObjectType::kCamera) return o->GetName();
    if (fallback.empty() && camera != o->GetName()) fallback = o->GetName();
  }
  return fallback.empty() && !names.objects.empty() ? names.objects.front() : fallback;
}

std::vector<TargetChoice> TargetChoices(HChor* chor, const ParsedArgs& a, const SceneNames& names) {
  std::vector<TargetChoice> choices;
  if (a.Has("--all-targets")) {
    if (a.Has("--target")) throw UsageError{"--all-targets and --target exclude each other"};
    const std::string camera = a.Value("--camera", names.cameras.empty() ? "" : names.cameras[0]);
    for (const std::string& o : names.objects) {
      if (o != camera) choices.push_back({o, "", ""});  // the camera cannot track itself
    }
    return choices;
  }
  for (const std::string& given : a.List("--target")) {
    if (Contains(names.objects, given) || given.find(':') == std::string::npos) {
      choices.push_back({given, "", ""});
      continue;
    }
    const auto first = given.find(':');
    const auto second = given.find(':', first + 1);
    choices.push_back({given.substr(0, first),
                       given.substr(first + 1, second == std::string::npos ? std::string::npos
                                                                           : second - first - 1),
                       second == std::string::npos ? "" : given.substr(second + 1)});
  }
  if (choices.empty()) choices.push_back({DefaultTarget(chor, names, a), "", ""});
  return choices;
}

// The options of one target's run: the command's, with the target, its mode
// and its group or bone.
ParsedArgs ArgsOfTarget(const ParsedArgs& a, const TargetChoice& choice) {
  ParsedArgs t = a;
  if (a.Has("--target") || a.Has("--all-targets")) t.values["--target-given"] = "";
  if (!choice.name.empty()) t.values["--target"] = choice.name;
  if (!choice.mode.empty()) t.values["--mode"] = choice.mode;
  if (!choice.groupOrBone.empty()) {
    const std::string mode = t.Value("--mode");
    if (mode != "group-center" && mode != "bone")
      throw UsageError{"--target " + choice.name + ":" + choice.mode + ":" + choice.groupOrBone +
                       ": a group or bone goes with group-center or bone"};
    t.values[mode == "bone" ? "--bone" : "--group"] = choice.groupOrBone;
  }
  // A group or a bone given alone says the mode.
  if (!t.Has("--mode") && t.Has("--group")) t.values["--mode"] = "group-center";
  if (!t.Has("--mode") && t.Has("--bone")) t.values["--mode"] = "bone";
  if (t.Has("--mode") && ModeRadios().count(t.Value("--mode")) == 0) {
    throw UsageError{"--mode must be origin, model-center, group-center or bone, not '" +
                     t.Value("--mode") + "'"};
  }
  return t;
}

// --also FORMAT:FILE, checked before anything runs.
struct AlsoCopy {
  const FormatInfo* format;
  std::string pattern;
};
std::vector<AlsoCopy> AlsoCopies(const ParsedArgs& a) {
  std::vector<AlsoCopy> copies;
  for (const std::string& given : a.List("--also")) {
    const auto colon = given.find(':');
    const FormatInfo* format =
        colon == std::string::npos ? nullptr : FindFormat(given.substr(0, colon));
    if (format == nullptr || colon + 1 >= given.size()) {
      throw UsageError{
          "--also takes FORMAT:FILE, the format one of nuke, ae, shake, 3de, csv, "
          "json; not '" +
          given + "'"};
    }
    copies.push_back({format, given.substr(colon + 1)});
  }
  return copies;
}

// The track handed to a clipboard program, when one is installed.
void ToClipboard(const std::string& text, std::ostream& summary, std::ostream& err) {
  for (const char* command : {"wl-copy", "xclip -selection clipboard"}) {
    const std::string program = std::string(command).substr(0, std::string(command).find(' '));
    if (std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) != 0) continue;
    FILE* pipe = popen(command, "w");
    if (pipe != nullptr && std::fwrite(text.data(), 1, text.size(), pipe) == text.size() &&
        pclose(pipe) == 0) {
      summary << "After Effects keyframe data put on the clipboard (" << program << ")\n";
      return;
    }
    err << "tqhost: " << program << " could not take the clipboard data\n";
    return;
  }
  err << "tqhost: no clipboard program (install xclip or wl-clipboard); the keyframe data was "
         "not put on the clipboard\n";
}

// What one export run wrote, for the final count; a track for an HTML
// preview waits for the run's other targets (page: its file name).
struct RunResult {
  bool ok = true;
  int files = 0;
  std::string page;
  HtmlPage html;
};

// One target's run: the dialog worked, the track checked and summarised,
// its copies in other formats and its picture written.
RunResult ExportTarget(ExportSession& session, tq::scene::Scene& scene, SceneNames& names,
                       const ParsedArgs& t, const std::string& output,
                       const std::map<std::string, std::string>& fields,
                       const std::vector<AlsoCopy>& also, const std::string& label,
                       std::ostream& summary, std::ostream& err) {
  RunResult result;
  result.ok = false;
  const std::string prefix = label.empty() ? "" : label + ": ";
  names.Aim(scene.Chor(), t.Value("--target"));
  if (const std::string wrong = CheckNames(t, names); !wrong.empty()) {
    err << "tqhost: " << prefix << wrong << "\n";
    return result;
  }
  NotingDriver<framework::ScriptedDriver> driver(DialogActions(t, output));
  TrackTap tap;
  session.Run(driver, tap);
  std::ostringstream problems;
  if (ReportFailures(driver, t, problems)) {
    std::istringstream lines(problems.str());
    for (std::string line; std::getline(lines, line);) {
      err << (line.rfind("tqhost: ", 0) == 0 ? "tqhost: " + prefix + line.substr(8) : line) << "\n";
    }
    return result;
  }
  std::vector<TrackPoint> points;
  std::string error;
  if (!ReadTrack(tap.text, points, error)) {
    err << "tqhost: " << prefix << "the plug-in wrote an unreadable track to " << output << ": "
        << error << "\n";
    return result;
  }
  const bool toStdout = output == "/dev/stdout";
  const std::vector<bool> behind = Behind(scene, driver.outcome, points.size());
  if (!t.Has("--target-given"))
    summary << "tracked " << driver.outcome.target << ", the first object that is not the camera\n";
  summary << prefix;
  Summarise(points, behind, toStdout ? "standard output" : output, "written", summary, err);
  result.ok = true;
  result.files = 1;
  // Copies in compositors' formats, with what the run knew.
  const DialogOutcome& o = driver.outcome;
  TrackInfo info;
  info.width = o.width;
  info.height = o.height;
  info.fps = scene.Project()->GetFPS();
  info.startFrame = o.start;
  info.name = o.target;
  for (const AlsoCopy& copy : also) {
    const std::string path = Expand(copy.pattern, fields);
    std::string note;
    const std::string text = RenderTrack(copy.format->format, points, info, error, &note);
    if (!error.empty()) {
      err << "tqhost: " << prefix << path << ": " << error << "\n";
      result.ok = false;
    } else if (SaveText(path, text, err)) {
      summary << prefix << copy.format->name << " copy written to " << path
              << (note.empty() ? "" : " (" + note + ")") << "\n";
      ++result.files;
    } else {
      result.ok = false;
    }
  }
  if (t.Has("--clipboard")) {
    const std::string text = RenderTrack(Format::kAe, points, info, error);
    if (error.empty()) {
      ToClipboard(text, summary, err);
    } else {
      err << "tqhost: " << prefix << "--clipboard: " << error << "\n";
    }
  }
  if (t.Has("--preview") && IsHtmlPath(Expand(t.Value("--preview"), fields))) {
    result.page = Expand(t.Value("--preview"), fields);
    result.html = {o.camera, o.width, o.height, info.fps.value_or(24), o.start, std::nullopt, {}};
    result.html.tracks.push_back({o.target, o.mode, points, behind});
  } else if (t.Has("--preview")) {
    const std::string path = Expand(t.Value("--preview"), fields);
    if (!WritePreview(path, points, behind, o, err)) return result.ok = false, result;
    summary << prefix << "preview drawn in " << path << "\n";
    ++result.files;
  }
  return result;
}

int Export(const std::string& pluginPath, const ParsedArgs& a, std::ostream& out,
           std::ostream& err) {
  const std::vector<std::string>& positional = a.positional;
  if (positional.size() < 2) throw UsageError{"export needs a scene file"};
  if (positional.size() > 2) {
    throw UsageError{"more than one scene given (" + positional[1] + ", " + positional[2] + ")"};
  }
  const std::vector<AlsoCopy> also = AlsoCopies(a);
  std::optional<PlatePattern> plate;
  if (a.Has("--plate")) {
    if (!IsHtmlPath(a.Value("--preview")))
      throw UsageError{"--plate shows footage in an HTML preview: give --preview FILE.html"};
    std::string why;
    plate = ParsePlate(a.Value("--plate"), why);
    if (!plate) throw UsageError{"--plate " + a.Value("--plate") + ": " + why};
  }
  auto scene = LoadScene(positional[1], a, err);
  if (!scene) return 1;
  SceneNames names(scene->Chor(), "");
  const std::vector<TargetChoice> targets = TargetChoices(scene->Chor(), a, names);
  const bool many = targets.size() > 1;
  // "-" is standard output; the summary then goes to standard error.
  std::string pattern = a.Value("--output", many ? "TQmotion-{target}.txt" : "TQmotion.txt");
  if (pattern == "-") pattern = "/dev/stdout";
  if (many && pattern == "/dev/stdout")
    throw UsageError{"-o - writes one track; with several targets give -o PATTERN with {target}"};
  if (many && pattern.find("{target}") == std::string::npos)
    throw UsageError{
        "with several targets, -o needs {target} in its pattern (for example "
        "-o {target}.txt)"};
  std::ostream& summary = pattern == "/dev/stdout" ? err : out;

  ExportSession session(pluginPath, *scene, err);
  if (!session.Loaded()) return 1;
  const std::string camera = a.Value("--camera", names.cameras.empty() ? "" : names.cameras[0]);
  int files = 0;
  std::vector<std::string> failed;
  std::vector<std::pair<std::string, HtmlPage>> pages;  // in the order first named
  for (const TargetChoice& choice : targets) {
    const ParsedArgs t = ArgsOfTarget(a, choice);
    const std::string target =
        t.Value("--target", names.objects.empty() ? "" : names.objects.front());
    const std::map<std::string, std::string> fields = {
        {"target", target}, {"camera", camera}, {"mode", t.Value("--mode", "origin")}};
    const RunResult r = ExportTarget(session, *scene, names, t, Expand(pattern, fields), fields,
                                     also, many ? target : "", summary, err);
    files += r.files;
    if (!r.ok) failed.push_back(target);
    if (r.page.empty()) continue;
    const auto same = [&](const auto& page) { return page.first == r.page; };
    if (const auto it = std::find_if(pages.begin(), pages.end(), same); it != pages.end()) {
      it->second.tracks.push_back(r.html.tracks.front());
    } else {
      pages.emplace_back(r.page, r.html).second.plate = plate;
    }
  }
  for (const auto& [path, page] : pages) {
    if (!SaveText(path, RenderHtmlPreview(page), err, "the preview ")) {
      failed.push_back(path);
      continue;
    }
    const std::size_t n = page.tracks.size();
    summary << (n > 1  ? "preview of " + std::to_string(n) + " targets drawn in "
                : many ? page.tracks.front().target + ": preview drawn in "
                       : "preview drawn in ")
            << path << "\n";
    ++files;
  }
  if (many || !also.empty()) {
    summary << files << (files == 1 ? " file" : " files") << " written";
    if (!failed.empty()) summary << "; failed: " << Joined(failed);
    summary << "\n";
  }
  return failed.empty() ? 0 : 1;
}

// tqhost convert: a track file in a compositor's format.
int Convert(const std::vector<std::string>& rest, const ParsedArgs& a, std::ostream& out,
            std::ostream& err) {
  if (rest.size() != 1) throw UsageError{"convert needs exactly one track file"};
  if (!a.Has("--to"))
    throw UsageError{"convert needs --to FORMAT (nuke, ae, shake, 3de, csv, json)"};
  const FormatInfo* format = FindFormat(a.Value("--to"));
  if (format == nullptr) {
    throw UsageError{"--to must be nuke, ae, shake, 3de, csv or json, not '" + a.Value("--to") +
                     "'"};
  }
  std::ifstream in(rest[0], std::ios::binary);
  if (!in) {
    err << "tqhost: " << rest[0] << ": cannot read: " << std::strerror(errno) << "\n";
    return 1;
  }
  std::ostringstream text;
  text << in.rdbuf();
  std::vector<TrackPoint> points;
  TrackInfo info;
  info.name = std::filesystem::path(rest[0]).stem().string();
  std::string error;
  if (!ReadAnyTrack(text.str(), rest[0], points, info, error)) {
    err << "tqhost: " << error << "\n";
    return 1;
  }
  auto number = [&](const char* option) {
    const auto v = framework::ParseFloat(a.Value(option));
    if (!v)
      throw UsageError{std::string(option) + " must be a number, not '" + a.Value(option) + "'"};
    return static_cast<double>(*v);
  };
  if (a.Has("--width")) info.width = static_cast<int>(number("--width"));
  if (a.Has("--height")) info.height = static_cast<int>(number("--height"));
  if (a.Has("--fps")) info.fps = number("--fps");
  if (a.Has("--first-frame")) info.firstFrame = number("--first-frame");
  if (a.Has("--name")) info.name = a.Value("--name");
  std::string note;
  const std::string converted = RenderTrack(format->format, points, info, error, &note);
  if (!error.empty()) {
    err << "tqhost: " << rest[0] << ": " << error << "\n";
    return 1;
  }
  if (!note.empty()) err << "tqhost: " << note << "\n";
  std::string output = a.Value("--output", "-");
  if (output == "-") return (out << converted, 0);
  if (!SaveText(output, converted, err)) return 1;
  err << points.size() << (points.size() == 1 ? " frame" : " frames") << " converted to " << output
      << "\n";
  return 0;
}

// Each command takes the options of every command and its own; a scene can
// be a glTF file wherever one is read.
void CheckOptionsOf(const std::string& command, const ParsedArgs& a) {
  std::vector<std::string> allowed;
  auto take = [&](const std::vector<Option>& table) {
    for (const Option& o : table) allowed.push_back(o.name);
  };
  if (command == "export") take(ExportOptions());
  if (command == "info" || command == "export" || command == "dialog" || command == "import")
    take(ImportOptions());
  if (command == "info" || command == "dialog" || command == "import") {
    allowed.insert(allowed.end(), {"--width", "--height"});
  }
  if (command == "import") allowed.push_back("--output");
  if (command == "convert") {
    take(ConvertOptions());
    allowed.insert(allowed.end(), {"--width", "--height", "--fps", "--output"});
  }
  for (const auto* table : {&ExportOptions(), &ImportOptions(), &ConvertOptions()}) {
    for (const Option& o : *table) {
      if (a.Has(o.name) && std::find(allowed.begin(), allowed.end(), o.name) == allowed.end())
        throw UsageError{std::string(o.name) + " is not an option of " + command};
    }
  }
}

// tqhost import: a glTF file written as the equivalent scene file, through
// the same never-half-written replace as a track.
int Import(const std::vector<std::string>& rest, const ParsedArgs& a, std::ostream& out,
           std::ostream& err) {
  if (rest.size() != 1) throw UsageError{"import needs exactly one glTF file"};
  if (!tq::scene::IsGltfPath(rest[0]))
    throw UsageError{"import reads .gltf and .glb files, not '" + rest[0] + "'"};
  if (!a.Has("--output")) throw UsageError{"import needs -o FILE.tqs.json"};
  auto scene = LoadScene(rest[0], a, err);
  if (!scene) return 1;
  std::string why;  // a scene the loader would refuse is not written
  const std::string text = tq::scene::ImportedSceneText(*scene, rest[0], why);
  if (text.empty()) return (err << "tqhost: " << why << "\n", 1);
  if (!SaveText(a.Value("--output"), text, err)) return 1;
  int objects = 0;
  for (HQuorObject* o = scene->Chor()->GetChild(); o != nullptr; o = o->GetSibling()) ++objects;
  out << objects << (objects == 1 ? " object" : " objects") << " imported to "
      << a.Value("--output") << "\n";
  return 0;
}

}  // namespace

int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  try {
    const ParsedArgs a =
        ParseArgs(args, {&GlobalOptions(), &ExportOptions(), &ImportOptions(), &ConvertOptions()});
    const std::string command = a.positional.empty() ? "" : a.positional[0];
    const std::vector<std::string> rest(a.positional.begin() + (command.empty() ? 0 : 1),
                                        a.positional.end());
    const bool help = a.Has("--help") || command == "help";
    if (a.Has("--version")) return (out << "tqhost " << TQ_VERSION << "\n", 0);
    if (command.empty() || command == "help") {
      if (help) return (out << kUsageHead << OptionHelp(GlobalOptions()) << kUsageTail, 0);
      throw UsageError{"no command given"};
    }
    const std::string pluginPath = a.Value("--plugin", DefaultPluginPath());
    CheckOptionsOf(command, a);
    if (command == "info") {
      if (help) return (out << kInfoUsage, 0);
      if (rest.size() != 1) throw UsageError{"info needs exactly one scene file"};
      return Info(rest[0], a, out, err);
    }
    if (command == "commands") {
      if (help) return (out << kCommandsUsage, 0);
      if (!rest.empty()) throw UsageError{"commands takes no arguments"};
      return Commands(pluginPath, out, err);
    }
    if (command == "export") {
      if (help) return (out << kExportHead << OptionHelp(ExportOptions()) << kExportTail, 0);
      return Export(pluginPath, a, out, err);
    }
    if (command == "convert") {
      if (help) return (out << kConvertHead << OptionHelp(ConvertOptions()) << kConvertTail, 0);
      return Convert(rest, a, out, err);
    }
    if (command == "import") {
      if (help) return (out << kImportHead << OptionHelp(ImportOptions()) << kImportTail, 0);
      return Import(rest, a, out, err);
    }
    if (command == "dialog") {
      if (help) return (out << kDialogUsage, 0);
      return Dialog(pluginPath, rest, a, out, err);
    }
    throw UsageError{"unknown command '" + command +
                     "'; the commands are info, commands, "
                     "export, dialog, import, convert"};
  } catch (const UsageError& e) {
    err << "tqhost: " << e.what << "\nTry 'tqhost --help'.\n";
    return 2;
  }
}

}  // namespace tq::app
