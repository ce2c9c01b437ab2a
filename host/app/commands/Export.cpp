// tqhost export: the plug-in's export command run on a scene, its dialog
// worked from the options, once for every target; copies in compositors'
// formats and previews made from the lines each run wrote.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <ostream>
#include <sstream>

#include "host/app/Clipboard.h"
#include "host/app/CornerPin.h"
#include "host/app/Command.h"
#include "host/app/HtmlPreview.h"
#include "host/app/PlateOptions.h"
#include "host/app/Preview.h"
#include "host/app/SceneInput.h"
#include "host/app/Workers.h"
#include "host/app/commands/ExportDialog.h"
#include "host/app/commands/ExportPlan.h"
#include "host/app/commands/SharedCopies.h"
#include "host/fileio/Concat.h"
#include "host/fileio/SaveBatch.h"

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
Status WritePreview(const std::string& path, const std::vector<TrackPoint>& points,
                    const std::vector<bool>& behind, const DialogOutcome& outcome) {
  const std::string svg =
      RenderPreview(points, {outcome.camera, outcome.target, outcome.ModeText(), outcome.width,
                             outcome.height, outcome.start, behind});
  return SaveText(path, svg, "the preview ");
}

// The runs of one command on its scene: each target's dialog worked and its
// files written, the HTML pages after them, and the count. With several
// files to write (batch), they are saved durably together, a chunk at a
// time, and the summary names a file only once it is in place.
class ExportRuns {
 public:
  ExportRuns(ExportSession& session, tq::scene::Scene& scene, SceneNames& names,
             const OptionValues& options, bool many, bool batch, std::ostream& summary,
             std::ostream& err)
      : session_(session),
        scene_(scene),
        names_(names),
        options_(options),
        many_(many),
        summary_(summary),
        err_(err),
        batch_(batch ? std::make_unique<fileio::SaveBatch>() : nullptr) {
    if (batch_) fileio::SetSaveBatch(batch_.get());
  }

  void Run(const TargetRun& run, const std::optional<PlatePattern>& plate) {
    target_ = run.target;
    prefix_ = many_ ? target_ + ": " : "";
    if (!RunTarget(run, plate)) Failed(target_);
    if (batch_ && batch_->Size() >= fileio::SaveBatch::kMaxChunk) Commit();
  }

  int Finish() {
    Conclude();
    return Totals();
  }

  // The pages drawn and every file put in place, the lines held said. A
  // page shows the tracks whose files are in place: the files written so
  // far are put in place first, and a track whose file could not be is left
  // out (a page left with none is not written).
  void Conclude() {
    Commit();
    WriteShared();
    for (auto& [path, page, files] : pages_) {
      for (std::size_t i = page.tracks.size(); i-- > 0;) {
        if (std::find(lost_.begin(), lost_.end(), files[i]) == lost_.end()) continue;
        page.tracks.erase(page.tracks.begin() + static_cast<std::ptrdiff_t>(i));
      }
      if (page.tracks.empty()) {
        err_ << "tqhost: the preview " << path << " is not drawn: none of its tracks was written\n";
        continue;
      }
      if (const auto saved = SaveText(path, RenderHtmlPreview(page), "the preview "); !saved) {
        err_ << "tqhost: " << saved.error << "\n";
        failed_.push_back(path);
        continue;
      }
      const std::size_t n = page.tracks.size();
      Say((n > 1   ? "preview of " + std::to_string(n) + " targets drawn in "
           : many_ ? page.tracks.front().target + ": preview drawn in "
                   : "preview drawn in ") +
              path + "\n",
          path, path);
    }
    Commit();
  }

  // The count of files written and the targets that failed; the status.
  int Totals() {
    if (many_ || !options_.also.empty()) {
      summary_ << files_ << (files_ == 1 ? " file" : " files") << " written";
      if (!failed_.empty()) summary_ << "; failed: " << Joined(failed_);
      summary_ << "\n";
    }
    return failed_.empty() ? 0 : 1;
  }

  // What a concluded run in another process hands back: the lines it said
  // (said, errors), its count of files and its failed targets.
  std::string Report(const std::string& said, const std::string& errors) const {
    std::vector<std::string> fields = {said, errors, std::to_string(files_)};
    fields.insert(fields.end(), failed_.begin(), failed_.end());
    return PackFields(fields);
  }

  // Says another process's report after the lines said here, or why it
  // cannot be read.
  Status Absorb(const std::string& report) {
    const auto fields = UnpackFields(report);
    if (!fields || fields->size() < 3) return Fail("its report could not be read");
    const std::string& count = (*fields)[2];
    int files = 0;
    const auto [end, ec] = std::from_chars(count.data(), count.data() + count.size(), files);
    if (ec != std::errc() || end != count.data() + count.size())
      return Fail("its report could not be read");
    Commit();
    summary_ << (*fields)[0];
    err_ << (*fields)[1];
    files_ += files;
    for (std::size_t i = 3; i < fields->size(); ++i) Failed((*fields)[i]);
    return {};
  }

  void Failed(const std::string& who) {
    if (std::find(failed_.begin(), failed_.end(), who) == failed_.end()) failed_.push_back(who);
  }

 private:
  struct Held {
    std::string line;  // for the summary
    std::string path;  // the file it says was written, or ""
    std::string who;   // what failed when that file could not be: its target or page
  };

  // A line of the summary, said once every file held before it is in place
  // (at once without a batch); a line that names a file is counted with it.
  void Say(std::string line, std::string path = "", std::string who = "") {
    held_.push_back({std::move(line), std::move(path), std::move(who)});
    if (!batch_) Commit();
  }

  // The batch's files put in place, then the lines held: a file that could
  // not be saved is named on err with the reason, its line left out, and its
  // target or page failed. The lines of the files in place are said first,
  // with nothing on the way that takes memory, so that a run short of memory
  // never leaves a file in place that its summary does not name.
  void Commit() {
    std::vector<fileio::SaveBatch::Saved> saved;
    if (batch_) saved = batch_->Commit();
    const auto lostNow = [&](const std::string& path) {
      return std::any_of(saved.begin(), saved.end(), [&](const fileio::SaveBatch::Saved& s) {
        return !s.error.empty() && s.path == path;
      });
    };
    for (const Held& h : held_) {
      if (!h.path.empty() && (lostNow(h.path) || Contains(lost_, h.path))) continue;
      summary_ << h.line;
      if (!h.path.empty()) ++files_;
    }
    for (const fileio::SaveBatch::Saved& file : saved) {
      if (file.error.empty()) continue;
      err_ << "tqhost: cannot write " << file.path << ": " << file.error << "\n";
      lost_.push_back(file.path);
      const auto held = std::find_if(held_.begin(), held_.end(),
                                     [&](const Held& h) { return h.path == file.path; });
      Failed(held == held_.end() ? file.path : held->who);
    }
    held_.clear();
  }

  // The dialog worked and the track read back, or the lines that say why
  // the run did not end with a track.
  Result<std::vector<TrackPoint>> Dialog(const TargetRun& run,
                                         NotingDriver<framework::ScriptedDriver>& driver) {
    names_.Aim(scene_.Chor(), run.target);
    if (const Status names = CheckNames(run, options_, names_); !names)
      return Fail("tqhost: " + names.error);
    TrackTap tap;
    session_.Run(driver, tap);
    if (const Status ran = RunSucceeded(driver, run, options_); !ran) return Fail(ran.error);
    auto track = ReadTrack(tap.text);
    if (track) return std::move(*track);
    return Fail("tqhost: the plug-in wrote an unreadable track to " + run.output + ": " +
                track.error);
  }

  // Says lines on err, each of tqhost's own named by the target when the
  // run has several ("tqhost: Ball: warning: ..."). Nothing is written for
  // no lines: writing err flushes out.
  void Tell(const std::string& lines) {
    std::istringstream in(lines);
    for (std::string line; std::getline(in, line);) {
      err_ << (line.rfind("tqhost: ", 0) == 0 ? "tqhost: " + prefix_ + line.substr(8) : line)
           << "\n";
    }
  }

  bool RunTarget(const TargetRun& run, const std::optional<PlatePattern>& plate) {
    const std::string& output = run.output;
    NotingDriver<framework::ScriptedDriver> driver(DialogActions(run, options_));
    auto tracked = Dialog(run, driver);
    if (!tracked) {
      Tell(tracked.error);
      return false;
    }
    const std::vector<TrackPoint>& points = *tracked;
    const DialogOutcome& o = driver.outcome;
    std::vector<bool> beyond;
    const std::vector<bool> behind = Behind(scene_, o, points.size(), &camera_, &beyond);
    if (run.defaulted)
      Say(fileio::Concat({"tracked ", o.target, ", the first object that is not the camera\n"}));
    std::ostringstream line, warnings;
    Summarise(points, behind, output == "/dev/stdout" ? "standard output" : output, "written", line,
              warnings, beyond);
    Say(prefix_ + line.str(), output, target_);
    Tell(warnings.str());
    TrackInfo info;  // what the run knew, for the copies
    info.width = o.width;
    info.height = o.height;
    info.fps = scene_.Project()->GetFPS();
    info.startFrame = o.start;
    info.name = o.target;
    Copies(run, points, info, behind);
    bool ok = true;
    if (options_.clipboard) ok = Clipboard(points, info) && ok;
    if (!run.preview) return ok;
    const std::string& path = *run.preview;
    if (IsHtmlPath(path)) {
      const auto same = [&](const Page& page) { return page.path == path; };
      auto it = std::find_if(pages_.begin(), pages_.end(), same);
      if (it == pages_.end()) {
        pages_.push_back({path, {o.camera, o.width, o.height, *info.fps, o.start, plate, {}}, {}});
        it = pages_.end() - 1;
      }
      it->page.tracks.push_back({o.target, o.ModeText(), points, behind});
      it->files.push_back(output);
      return ok;
    }
    if (const auto saved = WritePreview(path, points, behind, o); !saved) {
      err_ << "tqhost: " << saved.error << "\n";
      return false;
    }
    Say(prefix_ + "preview drawn in " + path + "\n", path, target_);
    return ok;
  }

  // The copies that hold every target, once their tracks are all in.
  void WriteShared() {
    for (const SharedCopies::Written& w : shared_.Write()) {
      if (!w.error.empty()) {
        err_ << "tqhost: " << w.error << "\n";
        Failed(w.who);  // no target's
        continue;
      }
      Say(w.line, w.path, w.who);
    }
  }

  // Copies in compositors' formats. A copy that fails is failed by its own
  // name ("the nuke copy Robot.nk"), not its target's, whose track is written.
  void Copies(const TargetRun& run, const std::vector<TrackPoint>& points, const TrackInfo& info,
              const std::vector<bool>& behind) {
    for (const CopyOutput& copy : run.copies) {
      const FormatInfo* format = copy.format;
      const std::string& path = copy.path;
      if (copy.shared) {
        shared_.Add(copy, {points, info}, behind);
        continue;
      }
      const std::string who = fileio::Concat({"the ", format->name, " copy ", path});
      std::string note;
      const auto text = RenderTrack(format->format, points, info, &note);
      if (!text) {
        err_ << "tqhost: " << prefix_ << path << ": " << text.error << "\n";
        Failed(who);
      } else if (const auto saved = SaveText(path, *text); !saved) {
        err_ << "tqhost: " << saved.error << "\n";
        Failed(who);
      } else {
        Say(fileio::Concat({prefix_, format->name, " copy written to ",
                            path == "-" ? "standard output" : path,
                            note.empty() ? "" : " (" + note + ")", "\n"}),
            path, who);
      }
    }
  }

  bool Clipboard(const std::vector<TrackPoint>& points, const TrackInfo& info) {
    const auto text = RenderTrack(Format::kAe, points, info);
    const auto program = text ? CopyToClipboard(*text) : Fail(text.error);
    if (program) {
      Say(prefix_ + "After Effects keyframe data put on the clipboard (" + *program + ")\n");
      return true;
    }
    err_ << "tqhost: " << prefix_ << "--clipboard: " << program.error
         << "; the keyframe data is not on the clipboard\n";
    return false;
  }

  ExportSession& session_;
  tq::scene::Scene& scene_;
  SceneNames& names_;
  const OptionValues& options_;
  const bool many_;
  std::ostream& summary_;
  std::ostream& err_;
  std::unique_ptr<fileio::SaveBatch> batch_;  // installed while the runs last
  std::vector<Held> held_;                    // the summary's lines not yet said
  std::string target_, prefix_;
  int files_ = 0;
  std::vector<std::string> failed_;
  CameraFrames camera_;  // the camera worked out once for every target
  // An HTML page and the file of each of its tracks.
  struct Page {
    std::string path;
    HtmlPage page;
    std::vector<std::string> files;
  };
  std::vector<std::string> lost_;  // the files that could not be put in place
  SharedCopies shared_;            // the copies of every target
  std::vector<Page> pages_;        // in the order first named
};

int Export(const std::string& pluginPath, const std::vector<std::string>& rest,
           const OptionValues& options, std::ostream& out, std::ostream& err) {
  const OptionValues& a = options;
  const std::optional<PinTargets> pin = ReadPinTargets(a);
  if (rest.empty()) throw UsageError{"export needs a scene file"};
  if (rest.size() > 1)
    throw UsageError{"more than one scene given (" + rest[0] + ", " + rest[1] + ")"};
  UseDecimals(a.decimals);
  ApplyPlateOptions(a, nullptr);
  const std::vector<AlsoCopy> also = AlsoCopies(a.also, a.output);
  const std::optional<PlatePattern> plate = PreviewPlate(a);
  const std::size_t given = JobsGiven(a.jobs);  // a usage error before anything is loaded
  FilePlan plan;
  auto loaded = LoadScene(rest[0], a, err, nullptr, &plan.inputs);
  if (!loaded) return Refuse(err, loaded.error);
  std::unique_ptr<tq::scene::Scene> scene = std::move(*loaded);
  ApplyPlateOptions(a, scene.get());
  SceneNames names(scene->Chor(), "");
  const std::vector<TargetRun> runs = PlanRuns(a, pin, rest[0], *scene, names, also, plan);
  if (a.plan) return PrintPlan(runs, a, *scene, names, out, err);
  std::ostream& summary = plan.stdoutBy.empty() ? out : err;
  if (!MakeFolders(plan, summary, err)) return 1;
  ExportSession session(pluginPath, *scene, err);
  if (!session.Loaded()) return 1;
  // Files saved durably together when there are several; a run that writes
  // to standard output (its summary on standard error) saves one by one.
  const bool batch = plan.files.size() > 1 && plan.stdoutBy.empty();
  const std::size_t jobs = Jobs(a, given, runs.size(), batch, plan);
  // Slice k of the targets: from runs[First(k)] to before runs[First(k + 1)].
  const auto first = [&](std::size_t k) { return runs.size() * k / jobs; };
  const auto runSlice = [&](ExportRuns& exports, std::size_t k) {
    for (std::size_t i = first(k); i < first(k + 1); ++i) exports.Run(runs[i], plate);
  };
  Workers workers(jobs, [&](std::size_t k) {
    std::ostringstream said, errors;
    ExportRuns mine(session, *scene, names, a, true, batch, said, errors);
    runSlice(mine, k);
    mine.Conclude();
    return mine.Report(said.str(), errors.str());
  });
  ExportRuns exports(session, *scene, names, a, runs.size() > 1, batch, summary, err);
  runSlice(exports, 0);
  for (std::size_t k = 1; k < jobs; ++k) {
    if (!workers.Forked(k)) {
      runSlice(exports, k);
      continue;
    }
    const auto report = workers.Report(k);
    const Status absorbed = report ? exports.Absorb(*report) : Status(Fail(report.error));
    if (absorbed) continue;
    const std::string& from = runs[first(k)].target;
    const std::string& to = runs[first(k + 1) - 1].target;
    err << "tqhost: the export of the targets from " << from << " to " << to
        << " stopped: " << absorbed.error << "; the summary does not name their files\n";
    for (std::size_t i = first(k); i < first(k + 1); ++i) exports.Failed(runs[i].target);
  }
  return exports.Finish();
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
      [](const CommandCall& c) { return Export(c.pluginPath, c.rest, c.options, c.out, c.err); }};
  return command;
}

}  // namespace tq::app
