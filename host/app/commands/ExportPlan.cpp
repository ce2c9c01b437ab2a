#include "host/app/commands/ExportPlan.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <ostream>
#include <sstream>

#include "dialog/ControlIds.h"
#include "host/app/CornerPin.h"
#include "host/app/HtmlPreview.h"
#include "host/app/Workers.h"
#include "host/fileio/Concat.h"
#include "host/fileio/InputFile.h"

namespace tq::app {
namespace {

// The modes that pick a group or a bone, for messages: "group-center or bone".
std::string PartModeNames() {
  std::string names;
  for (const TargetMode& m : TargetModes()) {
    if (m.part != nullptr) names += std::string(names.empty() ? "" : " or ") + m.name;
  }
  return names;
}

}  // namespace

std::string Joined(const std::vector<std::string>& names) {
  std::string list;
  for (const std::string& name : names) list += (list.empty() ? "" : ", ") + name;
  return list.empty() ? "none" : list;
}

bool Contains(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// Refuses a name or mode the scene cannot give, in the user's words.
Status CheckNames(const ParsedArgs& a, const SceneNames& n) {
  const std::string camera = a.Value("--camera"), target = a.Value("--target");
  if (a.Has("--camera") && !Contains(n.cameras, camera))
    return Fail("unknown camera '" + camera + "'; the cameras are " + Joined(n.cameras));
  if (a.Has("--target") && !Contains(n.objects, target))
    return Fail("unknown target '" + target + "'; the objects are " + Joined(n.objects));
  if (n.target == nullptr) return {};  // the dialog says what is missing
  const std::string of = std::string(" of '") + n.target->GetName() + "'";
  const std::string mode = a.Value("--mode", TargetModes().front().name);
  std::vector<std::string> offered;
  for (const TargetMode& m : TargetModes()) {
    if (n.Offers(m)) offered.push_back(m.name);
  }
  if (!Contains(offered, mode)) {
    return Fail("--mode " + mode + ": the target '" + n.target->GetName() + "' offers " +
                Joined(offered));
  }
  if (a.Has("--group") && !Contains(n.groups, a.Value("--group")))
    return Fail("unknown group '" + a.Value("--group") + "'" + of + "; its groups are " +
                Joined(n.groups));
  if (a.Has("--bone") && !Contains(n.bones, a.Value("--bone")))
    return Fail("unknown bone '" + a.Value("--bone") + "'" + of + "; its bones are " +
                Joined(n.bones));
  return {};
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
  if (a.Has("--mode")) actions.push_back(Action::Click(FindMode(a.Value("--mode"))->radio));
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

Status RunSucceeded(const NotingDriver<framework::ScriptedDriver>& driver, const ParsedArgs& a) {
  std::ostringstream err;
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
  if (failed) return Fail(err.str());
  return {};
}

namespace {

// The file a path names: symbolic links followed to the end (a dangling one
// too, to where it would write), then made absolute and normal.
std::string FileKey(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path p = fs::absolute(path, ec);
  for (int links = 0; links < 40 && fs::is_symlink(fs::symlink_status(p, ec)); ++links) {
    const fs::path target = fs::read_symlink(p, ec);
    if (ec) break;
    p = target.is_absolute() ? target : p.parent_path() / target;
  }
  const fs::path canonical = fs::weakly_canonical(p, ec);
  const fs::path file = ec ? p.lexically_normal() : canonical;
  // Its folder by what it is, not by its path: a folder that two paths reach
  // (a bind mount) is one folder.
  struct stat folder {};
  if (stat(file.parent_path().c_str(), &folder) != 0) return file.string();
  return std::to_string(folder.st_dev) + ":" + std::to_string(folder.st_ino) + "/" +
         file.filename().string();
}

// Whether path is this process's standard output however it is written
// (/dev/stdout, /dev/fd/1, /proc/self/fd/1, the terminal or file it is).
bool IsStandardOutput(const std::string& path) {
  struct stat out {
  }, named{};
  return path == "/dev/stdout" ||
         (fstat(STDOUT_FILENO, &out) == 0 && stat(path.c_str(), &named) == 0 &&
          out.st_dev == named.st_dev && out.st_ino == named.st_ino && !S_ISCHR(named.st_mode));
}

// The default output is a name the user never gave: in a stranger's folder
// it may be a FIFO (a run that never ends) or a link to another file (which
// would be written over), so there it must be a file or nothing yet.
void RefuseUnnamedSpecial(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    throw UsageError{"the default output " + path + " is " + tq::fileio::KindOf(st.st_mode) +
                     ", not a file; give -o FILE"};
  }
}

}  // namespace

void FilePlan::Add(const std::string& option, const std::string& path, const std::string& scene,
                   const char* what, const std::string& who) {
  const std::string named = who.empty() ? option : tq::fileio::Concat({option, " for '", who, "'"});
  if (IsStandardOutput(path) || path == "/dev/fd/1" || path == "/proc/self/fd/1") {
    if (!stdoutBy.empty()) {
      throw UsageError{stdoutBy + " and " + named +
                       " both write to standard output; at most one output may go there"};
    }
    stdoutBy = named;
    return;
  }
  struct stat st {};
  const bool exists = stat(path.c_str(), &st) == 0;
  if (exists && S_ISCHR(st.st_mode)) return;  // /dev/null and the like
  // Checked here with every other output, before anything is written.
  if (exists && S_ISDIR(st.st_mode))
    throw UsageError{named + " " + path + ": that is a folder; give the name of a file"};
  const std::string k = FileKey(path);
  if (k == FileKey(scene)) throw UsageError{option + " " + path + ": that is " + what};
  for (const std::string& input : inputs) {
    if (k == FileKey(input))
      throw UsageError{option + " " + path + ": the scene's data is read from that file"};
  }
  for (const auto& [other, otherOption] : files) {
    if (other.first == k) {
      throw UsageError{otherOption + " and " + named + " both name " + path +
                       "; each output needs a file of its own"};
    }
  }
  files.push_back({{k, path}, named});
}

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
  return fallback;  // "" when every object is the camera: nothing to track
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
    const TargetMode* mode = FindMode(t.Value("--mode"));
    if (mode == nullptr || mode->part == nullptr)
      throw UsageError{"--target " + choice.name + ":" + choice.mode + ":" + choice.groupOrBone +
                       ": a group or bone goes with " + PartModeNames()};
    t.values[std::string("--") + mode->part] = choice.groupOrBone;
  }
  // A group or a bone given alone says the mode.
  for (const TargetMode& m : TargetModes()) {
    if (!t.Has("--mode") && m.part != nullptr && t.Has(std::string("--") + m.part))
      t.values["--mode"] = m.name;
  }
  if (t.Has("--mode") && FindMode(t.Value("--mode")) == nullptr) {
    throw UsageError{"--mode must be " + ModeNames(", ", " or ") + ", not '" + t.Value("--mode") +
                     "'"};
  }
  return t;
}

std::vector<AlsoCopy> AlsoCopies(const ParsedArgs& a) {
  std::vector<AlsoCopy> copies;
  for (const std::string& given : a.List("--also")) {
    const auto colon = given.find(':');
    const FormatInfo* format =
        colon == std::string::npos ? nullptr : FindFormat(given.substr(0, colon));
    if (format == nullptr || colon + 1 >= given.size()) {
      throw UsageError{"--also takes FORMAT:FILE, the format one of " + FormatNames() + "; not '" +
                       given + "'"};
    }
    copies.push_back({format, given.substr(colon + 1)});
  }
  return copies;
}

bool SharedCopy(const AlsoCopy& copy, bool many, bool pin) {
  return many && (copy.format->manyInOneFile || (pin && WritesCornerPin(copy.format->format))) &&
         !CheckPattern("--also", copy.pattern, false);
}

std::vector<TargetRun> PlanRuns(const ParsedArgs& a, tq::scene::Scene& scene,
                                const SceneNames& names, const std::vector<AlsoCopy>& also,
                                FilePlan& plan) {
  // Each target's run, with the mode and the group or bone it takes (given
  // with the target, or for the whole command); the same target given twice
  // is one target.
  const std::string camera = a.Value("--camera", names.cameras.empty() ? "" : names.cameras[0]);
  std::vector<TargetRun> runs;
  bool modes = false;   // one name with different modes
  bool groups = false;  // one name and mode with different groups or bones
  for (const TargetChoice& choice : TargetChoices(scene.Chor(), a, names)) {
    if (choice.name.empty())
      throw UsageError{"the scene has no object to track (cameras and folders are not targets)"};
    TargetRun run{ArgsOfTarget(a, choice), {}};
    const std::string mode = run.args.Value("--mode", TargetModes().front().name);
    const char* part = FindMode(mode)->part;
    run.fields = {{"target", run.args.Value("--target")},
                  {"camera", camera},
                  {"mode", mode},
                  {"group", part == nullptr ? "" : run.args.Value(std::string("--") + part)}};
    const auto same = [&](TargetRun& r) {
      return r.fields["target"] == run.fields["target"] && r.fields["mode"] == mode &&
             r.fields["group"] == run.fields["group"];
    };
    if (std::any_of(runs.begin(), runs.end(), same)) continue;
    for (TargetRun& r : runs) {
      modes = modes || (r.fields["target"] == run.fields["target"] && r.fields["mode"] != mode);
      groups = groups || (r.fields["target"] == run.fields["target"] && r.fields["mode"] == mode);
    }
    runs.push_back(std::move(run));
  }
  if (runs.empty())
    throw UsageError{"the scene has no object to track (cameras and folders are not targets)"};
  if (a.Has("--corner-pin") && runs.size() != 4)
    throw UsageError{"--corner-pin names one target twice; a pin needs four different corners"};
  const bool many = runs.size() > 1;
  // Without -o: a file each, named by what tells the targets apart.
  const auto defaultName = [&](bool group) {
    return !many ? std::string("TQmotion.txt")
                 : tq::fileio::Concat({"TQmotion-{target}", modes ? "-{mode}" : "",
                                       group ? "-{group}" : "", ".txt"});
  };
  const std::string pattern = a.Value("--output", defaultName(groups));
  if (many && pattern == "-")
    throw UsageError{"-o - writes one track; with several targets give -o PATTERN with {target}"};
  CheckPattern("-o", pattern, many);
  const bool pin = a.Has("--corner-pin");
  for (const AlsoCopy& copy : also) {
    CheckPattern(
        "--also", copy.pattern,
        many && !copy.format->manyInOneFile && !(pin && WritesCornerPin(copy.format->format)));
  }
  const std::string preview = a.Value("--preview"), scenePath = a.positional[1];
  const bool pagePerTarget =
      a.Has("--preview") && CheckPattern("--preview", preview, many && !IsHtmlPath(preview));
  auto output = [](const std::string& path) { return path == "-" ? "/dev/stdout" : path; };
  for (std::size_t k = 0; k < runs.size(); ++k) {
    TargetRun& run = runs[k];
    const bool grouped = groups && !run.fields["group"].empty();
    run.args.values["--output"] =
        output(Expand(a.Has("--output") ? pattern : defaultName(grouped), run.fields));
    if (!a.Has("--output")) RefuseUnnamedSpecial(run.args.values["--output"]);
    // With several targets an output is named by its target as it is given
    // (NAME, NAME:MODE, NAME:MODE:GROUP), as two may come out the same
    // ('a/b' and 'a_b'); without -o it is not an option.
    const std::string who =
        !many ? ""
        : run.fields["group"].empty()
            ? (modes ? run.fields["target"] + ":" + run.fields["mode"] : run.fields["target"])
            : tq::fileio::Concat(
                  {run.fields["target"], ":", run.fields["mode"], ":", run.fields["group"]});
    plan.Add(a.Has("--output") ? "-o" : "the default output", run.args.values["--output"],
             scenePath, "the scene file", who);
    for (const AlsoCopy& copy : also) {
      const bool shared = SharedCopy(copy, many, pin);
      if (k > 0 && shared) continue;  // one file of every target
      plan.Add(std::string("--also ") + copy.format->name, output(Expand(copy.pattern, run.fields)),
               scenePath, "the scene file", shared ? "" : who);
    }
    // An HTML page without {target} is one page for every target.
    const std::string page = Expand(preview, run.fields);
    const bool shared = IsHtmlPath(page) && !pagePerTarget &&
                        std::any_of(runs.begin(), runs.begin() + static_cast<std::ptrdiff_t>(k),
                                    [&](auto& r) { return Expand(preview, r.fields) == page; });
    if (a.Has("--preview") && !shared)
      plan.Add("--preview", output(page), scenePath, "the scene file", who);
  }
  return runs;
}

std::size_t JobsGiven(const ParsedArgs& a) {
  if (!a.Has("--jobs")) return 0;
  const std::string text = a.Value("--jobs");
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < 1 || value > 64)
    throw UsageError{"--jobs " + text + ": give a count of processes from 1 to 64"};
  return value;
}

std::size_t Jobs(const ParsedArgs& a, std::size_t given, std::size_t targets, bool batch,
                 const FilePlan& plan) {
  const std::size_t jobs = given > 0 ? given : std::min(Processors(), targets / 8);
  // Devices and descriptors (/dev/fd/N) are no place for a batch: a process
  // of the run could reach another's descriptors through them.
  const bool special = std::any_of(plan.files.begin(), plan.files.end(), [](const auto& f) {
    const std::string& path = f.first.second;
    return path.rfind("/dev/", 0) == 0 || path.rfind("/proc/", 0) == 0;
  });
  const auto also = AlsoCopies(a);
  const bool shared = std::any_of(also.begin(), also.end(), [&](const AlsoCopy& c) {
    return SharedCopy(c, targets > 1, a.Has("--corner-pin"));
  });
  const bool oneProcess = !batch || special || shared || a.Has("--clipboard") ||
                          (a.Has("--preview") && IsHtmlPath(a.Value("--preview")));
  return oneProcess ? 1 : std::clamp<std::size_t>(jobs, 1, targets);
}

}  // namespace tq::app
