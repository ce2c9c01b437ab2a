// tqhost export: the plug-in's export command run on a scene, its dialog
// worked from the options, once for every target; copies in compositors'
// formats and previews made from the lines each run wrote.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <ostream>
#include <sstream>

#include "host/app/Clipboard.h"
#include "host/app/Command.h"
#include "host/app/HtmlPreview.h"
#include "host/app/Preview.h"
#include "host/app/SceneInput.h"
#include "host/app/commands/ExportPlan.h"

namespace tq::app {
namespace {

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
      summary << prefix << copy.format->name << " copy written to "
              << (path == "-" ? "standard output" : path) << (note.empty() ? "" : " (" + note + ")")
              << "\n";
      ++result.files;
    } else {
      result.ok = false;
    }
  }
  if (t.Has("--clipboard")) {
    const std::string text = RenderTrack(Format::kAe, points, info, error);
    const std::string program = error.empty() ? CopyToClipboard(text, error) : "";
    if (!program.empty()) {
      summary << prefix << "After Effects keyframe data put on the clipboard (" << program << ")\n";
    } else {
      err << "tqhost: " << prefix << "--clipboard: " << error
          << "; the keyframe data is not on the clipboard\n";
      result.ok = false;
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
  std::vector<TargetChoice> targets;
  for (const TargetChoice& c : TargetChoices(scene->Chor(), a, names)) {
    const auto same = [&](const TargetChoice& d) {
      return d.name == c.name && d.mode == c.mode && d.groupOrBone == c.groupOrBone;
    };
    if (std::none_of(targets.begin(), targets.end(), same)) targets.push_back(c);  // once each
  }
  const bool many = targets.size() > 1;
  std::string pattern = a.Value("--output", many ? "TQmotion-{target}.txt" : "TQmotion.txt");
  if (many && pattern == "-")
    throw UsageError{"-o - writes one track; with several targets give -o PATTERN with {target}"};
  CheckPattern("-o", pattern, many);
  for (const AlsoCopy& copy : also) CheckPattern("--also", copy.pattern, many);
  const std::string preview = a.Value("--preview");
  if (a.Has("--preview")) CheckPattern("--preview", preview, many && !IsHtmlPath(preview));
  const std::string camera = a.Value("--camera", names.cameras.empty() ? "" : names.cameras[0]);

  // Every path of the command, expanded and checked before anything runs.
  auto output = [](const std::string& path) { return path == "-" ? "/dev/stdout" : path; };
  FilePlan plan;
  std::vector<std::pair<ParsedArgs, std::map<std::string, std::string>>> runs;
  for (const TargetChoice& choice : targets) {
    ParsedArgs t = ArgsOfTarget(a, choice);
    const std::string target = t.Value("--target");
    std::map<std::string, std::string> fields = {
        {"target", target}, {"camera", camera}, {"mode", t.Value("--mode", Modes()[0])}};
    t.values["--output"] = output(Expand(pattern, fields));
    plan.Add("-o", t.values["--output"], positional[1]);
    for (const AlsoCopy& copy : also) {
      plan.Add(std::string("--also ") + copy.format->name, output(Expand(copy.pattern, fields)),
               positional[1]);
    }
    const std::string page = Expand(preview, fields);
    const bool shared =
        IsHtmlPath(page) && !runs.empty() && Expand(preview, runs[0].second) == page;
    if (a.Has("--preview") && !shared) plan.Add("--preview", output(page), positional[1]);
    runs.emplace_back(std::move(t), std::move(fields));
  }
  std::ostream& summary = plan.stdoutBy.empty() ? out : err;

  ExportSession session(pluginPath, *scene, err);
  if (!session.Loaded()) return 1;
  int files = 0;
  std::vector<std::string> failed;
  std::vector<std::pair<std::string, HtmlPage>> pages;  // in the order first named
  for (const auto& [t, fields] : runs) {
    const std::string target = t.Value("--target");
    const RunResult r = ExportTarget(session, *scene, names, t, t.Value("--output"), fields, also,
                                     many ? target : "", summary, err);
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

}  // namespace

const Command& ExportCommand() {
  static const Command command = {
      "export",
      "  export SCENE ...  runs the export command (command 0) on the scene's\n"
      "                    choreography; see 'tqhost export --help'\n",
      [] { return kExportHead + OptionHelp(ExportOptions()) + kExportTail; },
      {&ExportOptions(), &ImportOptions()},
      {},
      [](const CommandCall& c) { return Export(c.pluginPath, c.args, c.out, c.err); }};
  return command;
}

}  // namespace tq::app
