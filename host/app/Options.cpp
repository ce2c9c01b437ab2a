#include "host/app/Options.h"

#include "host/app/Modes.h"

#include "host/app/Formats.h"

#include <algorithm>
#include <sstream>

namespace tq::app {

const std::vector<Option>& GlobalOptions() {
  static const std::vector<Option> options = {
      {"--plugin", nullptr, "PATH", "the plug-in to load (default: tqmotion.plg beside tqhost)",
       &OptionValues::plugin},
      {"--verbose", nullptr, nullptr,
       "on a failure in the dialog, also show the dialog's controls and their ids",
       &OptionValues::verbose},
      {"--help", "-h", nullptr, "this text; 'tqhost COMMAND --help' tells about a command",
       &OptionValues::help},
      {"--version", nullptr, nullptr, "the version of tqhost", &OptionValues::version},
  };
  return options;
}

namespace {

// The export's options by what they choose, in the order they work the
// dialog: what is tracked, then the camera's image, then what is written.
std::vector<Option> TargetOptions() {
  static const std::string modeHelp = ModeNames(" | ") + " (the radio buttons; default: origin)";
  return {
      {"--camera", nullptr, "NAME",
       "pick the camera (fills size and range from its output options); default: the first "
       "camera",
       &OptionValues::camera},
      {"--target", nullptr, "NAME[:MODE[:GROUP_OR_BONE]]",
       "pick the object to track; default: the first object that is not a camera. Given more "
       "than once, one run and "
       "one file a target (a mode and a group or bone may follow its name)",
       &OptionValues::targets},
      {"--all-targets", nullptr, nullptr, "one run and one file for every listed object",
       &OptionValues::allTargets},
      {"--corner-pin", nullptr, "BL,BR,TR,TL",
       "four targets (each as --target takes it) tracked as a corner pin, in the order "
       "bottom-left, bottom-right, top-right, top-left: --also nuke, nuke-node or ae without "
       "{target} writes the pin (Nuke's CornerPin2D, After Effects' Corner Pin)",
       &OptionValues::cornerPin},
      {"--pin-from", nullptr, "first-frame|image",
       "a Nuke corner pin's from points: the four points at the first frame, or the image's "
       "corners (default: first-frame)",
       &OptionValues::pinFrom},
      {"--mode", nullptr, "MODE", modeHelp.c_str(), &OptionValues::mode},
      {"--group", nullptr, "NAME",
       "pick the model's group (alone, it means --mode group-center; default: the first)",
       &OptionValues::group},
      {"--bone", nullptr, "NAME",
       "pick the model's bone (alone, it means --mode bone; default: the first)",
       &OptionValues::bone},
  };
}

std::vector<Option> ImageOptions() {
  return {
      {"--width", nullptr, "N", "type the image width", &OptionValues::width},
      {"--height", nullptr, "N", "type the image height", &OptionValues::height},
      {"--start", nullptr, "F", "type the first frame (may be fractional)", &OptionValues::start},
      {"--end", nullptr, "F", "type the last frame (inclusive)", &OptionValues::end},
      {"--decimals", nullptr, "N",
       "write X and Y with N digits after the point, 0 to 6: where the target lands, not the "
       "nearest whole pixel; every copy and preview keeps them (default: 0, whole pixels). The "
       "plug-in reads it from the application's profile when the command starts",
       &OptionValues::decimals},
      {"--film-offset", nullptr, "X,Y",
       "the lens shifted by X and Y times the image's width, right and up (as a solved camera's "
       "film offset or Blender's shift): the track lands on the plate as shot; over the scene "
       "file's, on the --camera camera or else every camera",
       &OptionValues::filmOffset},
      {"--pixel-aspect", nullptr, "A",
       "a pixel's width over its height (2 for an anamorphic plate; default 1 or the scene "
       "file's)",
       &OptionValues::pixelAspect},
      {"--distortion", nullptr, "brown:K1,K2[,P1,P2[,K3]]",
       "the lens's distortion, Brown-Conrady as OpenCV defines it (radial K1, K2, K3, "
       "tangential P1, P2); a frame beyond where it turns back on itself is written as one "
       "that could not be projected",
       &OptionValues::distortion},
  };
}

std::vector<Option> OutputOptions() {
  static const std::string alsoHelp = [] {
    std::string suffixes;
    for (const FormatInfo& f : Formats())
      suffixes += (suffixes.empty() ? "" : ", ") + std::string(f.copySuffix);
    return "also write the track in a compositor's format (" + FormatNames() +
           "), with size, rate, start frame and name from the run; without FILE, named after -o "
           "with its extension replaced (" +
           suffixes + " in that order)";
  }();
  return {
      {"--output", "-o", "FILE",
       "choose the output file in the save request (default: TQmotion.txt in the current "
       "folder; - for standard output)",
       &OptionValues::output},
      {"--preview", nullptr, "FILE.svg|FILE.html",
       "also draw the track: an SVG picture, or (.html) a page to scrub it in a browser; "
       "without {target}, one page holds every target",
       &OptionValues::preview},
      {"--plate", nullptr, "PATTERN",
       "footage under the track in the HTML preview: an image sequence such as plate.####.jpg "
       "or plate.%04d.jpg, relative to the page, numbered by the track's frames",
       &OptionValues::plate},
      {"--also", nullptr, "FORMAT[:FILE]", alsoHelp.c_str(), &OptionValues::also},
      {"--clipboard", nullptr, nullptr,
       "also put the track on the clipboard as After Effects keyframe data (xclip or wl-copy)",
       &OptionValues::clipboard},
      {"--plan", nullptr, nullptr,
       "write nothing: print, as JSON, what the run would write (each target's run, its mode, "
       "group or bone, output, copies and preview), every name and path checked as for the run",
       &OptionValues::plan},
      {"--jobs", nullptr, "N",
       "how many processes share the targets of a run (default: one for each processor with 8 "
       "targets or more; 1 runs them in turn). A run with --clipboard, an HTML preview or an "
       "output under /dev or /proc runs them in turn",
       &OptionValues::jobs},
  };
}

}  // namespace

const std::vector<Option>& ExportOptions() {
  static const std::vector<Option> options = [] {
    std::vector<Option> all = TargetOptions();
    for (auto group : {ImageOptions, OutputOptions}) {
      const std::vector<Option> more = group();
      all.insert(all.end(), more.begin(), more.end());
    }
    return all;
  }();
  return options;
}

const std::vector<Option>& ImportOptions() {
  static const std::vector<Option> options = {
      {"--fps", nullptr, "F", "a glTF scene's frame rate: a frame is seconds x F (default 24)",
       &OptionValues::fps},
      {"--animation", nullptr, "NAME|INDEX",
       "play one of a glTF scene's animations alone (default: all of them together)",
       &OptionValues::animation},
  };
  return options;
}

const std::vector<Option>& InfoOptions() {
  static const std::vector<Option> options = {
      {"--json", nullptr, nullptr,
       "the same as one JSON document for pipelines, its fields documented and kept",
       &OptionValues::json},
  };
  return options;
}

const std::vector<Option>& ConvertOptions() {
  static const std::string toHelp = "the format: " + FormatNames(" or ");
  static const std::vector<Option> options = {
      {"--to", nullptr, "FORMAT", toHelp.c_str(), &OptionValues::to},
      {"--first-frame", nullptr, "N",
       "the frame of the track's first line (default: its start frame, 0 for the plug-in's "
       "file; 3de counts from 1 at the track's first frame)",
       &OptionValues::firstFrame},
      {"--name", nullptr, "NAME", "the track's name (shake, 3de, json; default: the file's name)",
       &OptionValues::name},
  };
  return options;
}

std::string OptionUsage(const Option& option) {
  std::string usage = option.alias != nullptr ? std::string(option.alias) + ", " : "";
  usage += option.name;
  if (option.value != nullptr) usage += std::string(" ") + option.value;
  return usage;
}

std::string OptionHelp(const std::vector<Option>& table) {
  constexpr std::size_t kColumn = 22, kWidth = 79;
  std::string out;
  for (const Option& option : table) {
    std::string line = "  " + OptionUsage(option);
    if (line.size() + 2 > kColumn) {
      out += line + "\n";
      line.clear();
    }
    line.resize(kColumn, ' ');
    std::istringstream words(option.help);
    std::string word;
    bool first = true;
    while (words >> word) {
      if (!first && line.size() + 1 + word.size() > kWidth) {
        out += line + "\n";
        line = std::string(kColumn, ' ');
        first = true;
      }
      line += (first ? "" : " ") + word;
      first = false;
    }
    out += line + "\n";
  }
  return out;
}

namespace {

const Option* Find(const std::string& spelling,
                   const std::vector<const std::vector<Option>*>& tables) {
  for (const auto* table : tables) {
    for (const Option& option : *table) {
      if (spelling == option.name || (option.alias != nullptr && spelling == option.alias)) {
        return &option;
      }
    }
  }
  return nullptr;
}

// The edits (insert, delete, change a letter, swap two neighbours) from a
// to b.
std::size_t Distance(const std::string& a, const std::string& b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min(
          {d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  }
  return d[a.size()][b.size()];
}

// "unknown option --taget; did you mean --target?": the nearest option
// when it is a slip (at most 2 edits, and fewer than a third of the name).
std::string Unknown(const std::string& spelling,
                    const std::vector<const std::vector<Option>*>& tables) {
  std::string nearest;
  std::size_t best = 3;
  for (const auto* table : tables) {
    for (const Option& option : *table) {
      const std::size_t d = Distance(spelling, option.name);
      if (d < best && d * 3 < spelling.size()) {
        best = d;
        nearest = option.name;
      }
    }
  }
  return "unknown option " + spelling + (nearest.empty() ? "" : "; did you mean " + nearest + "?");
}

}  // namespace

ParsedArgs ParseArgs(const std::vector<std::string>& args,
                     const std::vector<const std::vector<Option>*>& tables) {
  ParsedArgs parsed;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (optionsEnded || a.size() < 2 || a[0] != '-') {
      parsed.positional.push_back(a);
      continue;
    }
    if (a == "--") {
      optionsEnded = true;
      continue;
    }
    // --name=value, -ovalue, or the name alone.
    std::string spelling = a;
    std::string attached;
    bool hasAttached = false;
    if (a.rfind("--", 0) == 0) {
      if (const auto eq = a.find('='); eq != std::string::npos) {
        spelling = a.substr(0, eq);
        attached = a.substr(eq + 1);
        hasAttached = true;
      }
    } else if (a.size() > 2) {
      spelling = a.substr(0, 2);
      attached = a.substr(2);
      hasAttached = true;
    }
    const Option* option = Find(spelling, tables);
    if (option == nullptr) throw UsageError{Unknown(spelling, tables)};
    const std::string name = option->name;
    auto* list = std::get_if<std::vector<std::string> OptionValues::*>(&option->field);
    if (parsed.Gave(*option) && list == nullptr) throw UsageError{name + " is given twice"};
    parsed.given.insert(option);
    if (option->value == nullptr) {
      if (hasAttached) throw UsageError{name + " takes no value"};
      parsed.options.*std::get<bool OptionValues::*>(option->field) = true;
      continue;
    }
    if (hasAttached && attached.empty()) throw UsageError{name + " needs a value"};
    if (!hasAttached && i + 1 >= args.size()) throw UsageError{spelling + " needs a value"};
    std::string value = hasAttached ? attached : args[++i];
    if (list != nullptr) {
      (parsed.options.*(*list)).push_back(std::move(value));
    } else {
      parsed.options.*std::get<OptionValues::Text OptionValues::*>(option->field) =
          std::move(value);
    }
  }
  return parsed;
}

}  // namespace tq::app
