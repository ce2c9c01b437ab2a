#include "host/app/commands/ExportPlan.h"

#include <algorithm>
#include <charconv>
#include <ostream>
#include <map>
#include <unordered_map>

#include "host/app/Command.h"
#include "host/app/CornerPin.h"
#include "host/app/HtmlPreview.h"
#include "host/app/Preview.h"
#include "host/app/Workers.h"
#include "host/fileio/Concat.h"

#include <nlohmann/json.hpp>

namespace tq::app {

namespace {

using Fields = std::map<std::string, std::string>;

// The fields of a run's file patterns.
Fields FieldsOf(const TargetRun& run, const std::string& camera) {
  return {
      {"target", run.target}, {"camera", camera}, {"mode", run.mode->name}, {"group", run.Part()}};
}

// Each target's run, with the mode and the group or bone it takes (given
// with the target, or for the whole command); the same target given twice
// is one target. modes: one target is run in different modes; groups: one
// target and mode with different groups or bones.
std::vector<TargetRun> Runs(const OptionValues& a, const std::optional<PinTargets>& pin,
                            HChor* chor, const SceneNames& names, bool& modes, bool& groups) {
  std::vector<TargetRun> runs;
  std::unordered_map<std::string, std::vector<std::size_t>> ofTarget;  // each target's runs
  modes = groups = false;
  for (const TargetChoice& choice : TargetChoices(chor, a, pin, names)) {
    if (choice.name.empty())
      throw UsageError{"the scene has no object to track (cameras and folders are not targets)"};
    TargetRun run = RunOf(choice, a);
    std::vector<std::size_t>& mine = ofTarget[run.target];
    const auto same = [&](std::size_t r) {
      return runs[r].mode == run.mode && runs[r].Part() == run.Part();
    };
    if (std::any_of(mine.begin(), mine.end(), same)) continue;
    for (const std::size_t r : mine) {
      modes = modes || runs[r].mode != run.mode;
      groups = groups || runs[r].mode == run.mode;
    }
    mine.push_back(runs.size());
    runs.push_back(std::move(run));
  }
  if (runs.empty())
    throw UsageError{"the scene has no object to track (cameras and folders are not targets)"};
  return runs;
}

// With several targets an output is named by its target as it is given
// (NAME, NAME:MODE, NAME:MODE:GROUP), as two may come out the same ('a/b'
// and 'a_b'); with one, by the option alone.
std::string Who(const TargetRun& run, bool many, bool modes) {
  if (!many) return "";
  if (!run.Part().empty())
    return tq::fileio::Concat({run.target, ":", run.mode->name, ":", run.Part()});
  return modes ? run.target + ":" + run.mode->name : run.target;
}

std::string Output(const std::string& path) {
  return path == "-" ? "/dev/stdout" : path;
}

}  // namespace

std::vector<TargetRun> PlanRuns(const OptionValues& a, const std::optional<PinTargets>& pinned,
                                const std::string& scenePath, tq::scene::Scene& scene,
                                const SceneNames& names, const std::vector<AlsoCopy>& also,
                                FilePlan& plan) {
  bool modes = false, groups = false;
  std::vector<TargetRun> runs = Runs(a, pinned, scene.Chor(), names, modes, groups);
  const std::string camera = CameraOf(a, names);
  if (pinned && runs.size() != 4)
    throw UsageError{"--corner-pin names one target twice; a pin needs four different corners"};
  const bool many = runs.size() > 1;
  // Without -o: a file each, named by what tells the targets apart.
  const auto defaultName = [&](bool group) {
    return !many ? std::string("TQmotion.txt")
                 : tq::fileio::Concat({"TQmotion-{target}", modes ? "-{mode}" : "",
                                       group ? "-{group}" : "", ".txt"});
  };
  const std::string pattern = a.output.value_or(defaultName(groups));
  if (many && pattern == "-")
    throw UsageError{"-o - writes one track; with several targets give -o PATTERN with {target}"};
  CheckPattern("-o", pattern, many);
  const bool pin = pinned.has_value();
  for (const AlsoCopy& copy : also) {
    CheckPattern(
        "--also", copy.pattern,
        many && !copy.format->manyInOneFile && !(pin && WritesCornerPin(copy.format->format)));
  }
  const bool pagePerTarget =
      a.preview && CheckPattern("--preview", *a.preview, many && !IsHtmlPath(*a.preview));
  std::vector<std::string> pages;  // each run's page, to find one already planned
  for (TargetRun& run : runs) {
    const bool first = &run == &runs.front();
    const Fields fields = FieldsOf(run, camera);
    const bool grouped = groups && !run.Part().empty();
    run.output = Output(Expand(a.output ? pattern : defaultName(grouped), fields));
    if (!a.output) RefuseUnnamedSpecial(run.output);
    const std::string who = Who(run, many, modes);
    plan.Add(a.output ? "-o" : "the default output", run.output, scenePath, "the scene file", who);
    for (const AlsoCopy& copy : also) {
      const bool shared = SharedCopy(copy, many, pin);
      const bool corner = shared && pin && WritesCornerPin(copy.format->format);
      run.copies.push_back(
          {copy.format, Expand(copy.pattern, fields), shared, corner, corner && pinned->fromImage});
      if (shared && !first) continue;  // one file of every target
      plan.Add(std::string("--also ") + copy.format->name, Output(run.copies.back().path),
               scenePath, "the scene file", shared ? "" : who);
    }
    if (!a.preview) continue;
    // An HTML page without {target} is one page for every target.
    run.preview = Expand(*a.preview, fields);
    const bool shared = IsHtmlPath(*run.preview) && !pagePerTarget && Contains(pages, *run.preview);
    pages.push_back(*run.preview);
    if (!shared) plan.Add("--preview", Output(*run.preview), scenePath, "the scene file", who);
  }
  return runs;
}

std::string PlanJson(const std::vector<TargetRun>& runs, const std::string& camera) {
  using Json = nlohmann::ordered_json;
  Json list = Json::array();
  for (const TargetRun& run : runs) {
    Json one = {{"target", run.target}, {"mode", run.mode->name}};
    if (run.mode->part != nullptr) one[run.mode->part] = run.Part();
    one["output"] = run.output;
    one["copies"] = Json::array();
    for (const CopyOutput& copy : run.copies)
      one["copies"].push_back({{"format", copy.format->name}, {"path", Output(copy.path)}});
    one["preview"] = run.preview ? Json(Output(*run.preview)) : Json(nullptr);
    list.push_back(std::move(one));
  }
  // Names are the scene's bytes: anything not UTF-8 is replaced, not refused.
  return Json{{"camera", camera}, {"runs", std::move(list)}}.dump(-1, ' ', false,
                                                                  Json::error_handler_t::replace) +
         "\n";
}

// The preview's footage (--plate), once the preview's kind is checked: the
// extension chooses it, and any other name is refused before anything is
// written ('-' is an SVG on standard output).
std::optional<PlatePattern> PreviewPlate(const OptionValues& a) {
  if (a.preview && *a.preview != "-" && !IsSvgPath(*a.preview) && !IsHtmlPath(*a.preview)) {
    throw UsageError{"--preview " + *a.preview +
                     ": a preview is FILE.svg (a picture) or FILE.html or FILE.htm (a page)"};
  }
  if (!a.plate) return std::nullopt;
  if (!IsHtmlPath(a.preview.value_or("")))
    throw UsageError{"--plate shows footage in an HTML preview: give --preview FILE.html"};
  auto parsed = ParsePlate(*a.plate);
  if (!parsed) throw UsageError{"--plate " + *a.plate + ": " + parsed.error};
  return std::move(*parsed);
}

// What the runs would write, as JSON on out, once every name is checked as a
// run checks it; nothing is written.
int PrintPlan(const std::vector<TargetRun>& runs, const OptionValues& a, tq::scene::Scene& scene,
              SceneNames& names, std::ostream& out, std::ostream& err) {
  for (const TargetRun& run : runs) {
    names.Aim(scene.Chor(), run.target);
    if (const Status checked = CheckNames(run, a, names); !checked)
      return Refuse(err, (runs.size() > 1 ? run.target + ": " : "") + checked.error);
  }
  out << PlanJson(runs, CameraOf(a, names));
  return 0;
}

std::size_t JobsGiven(const OptionValues::Text& jobs) {
  if (!jobs) return 0;
  const std::string& text = *jobs;
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < 1 || value > 64)
    throw UsageError{"--jobs " + text + ": give a count of processes from 1 to 64"};
  return value;
}

std::size_t Jobs(const OptionValues& a, std::size_t given, std::size_t targets, bool batch,
                 const FilePlan& plan) {
  const std::size_t jobs = given > 0 ? given : std::min(Processors(), targets / 8);
  // Devices and descriptors (/dev/fd/N) are no place for a batch: a process
  // of the run could reach another's descriptors through them.
  const bool special = std::any_of(plan.files.begin(), plan.files.end(), [](const auto& f) {
    const std::string& path = f.first.second;
    return path.rfind("/dev/", 0) == 0 || path.rfind("/proc/", 0) == 0;
  });
  const auto also = AlsoCopies(a.also, a.output);
  const bool shared = std::any_of(also.begin(), also.end(), [&](const AlsoCopy& c) {
    return SharedCopy(c, targets > 1, a.cornerPin.has_value());
  });
  const bool oneProcess =
      !batch || special || shared || a.clipboard || (a.preview && IsHtmlPath(*a.preview));
  return oneProcess ? 1 : std::clamp<std::size_t>(jobs, 1, targets);
}

}  // namespace tq::app
