// tqhost convert: a track file in a compositor's format.
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>

#include "host/app/Command.h"
#include "host/app/Formats.h"
#include "host/app/SceneInput.h"
#include "host/app/commands/ExportPlan.h"
#include "host/fileio/InputFile.h"
#include "host/framework/Dialog.h"
#include "host/scene/Time.h"

namespace tq::app {
namespace {

const char kConvertHead[] = R"(Usage: tqhost convert TRACK --to FORMAT [-o FILE] [OPTIONS]

Writes a track file (the plug-in's, or one convert or --also wrote in any
format but nuke-node) in a compositor's import format, on standard output
without -o:

)";

// The formats, one line each: "  nuke   ...".
std::string FormatLines() {
  std::string lines;
  for (const FormatInfo& f : Formats()) {
    const std::string name = f.name;
    lines +=
        "  " + name + std::string(name.size() < 9 ? 11 - name.size() : 2, ' ') + f.summary + "\n";
  }
  return lines + "\n";
}

const char kConvertTail[] = R"(  --width N, --height N, --fps F
                      the track's image size and rate (ae and json need them)

Frames are the scene's: the start frame plus the line index. 3de numbers the
frames of a sequence from 1 at the track's first frame (--first-frame
overrides).
)";

// tqhost convert: a track file in a compositor's format.
int Convert(const std::vector<std::string>& rest, const ParsedArgs& a, std::ostream& out,
            std::ostream& err) {
  if (rest.size() != 1) throw UsageError{"convert needs exactly one track file"};
  if (!a.Has("--to")) throw UsageError{"convert needs --to FORMAT (" + FormatNames() + ")"};
  const FormatInfo* format = FindFormat(a.Value("--to"));
  if (format == nullptr) {
    throw UsageError{"--to must be " + FormatNames(" or ") + ", not '" + a.Value("--to") + "'"};
  }
  // A regular file (or "-") of at most 64 MiB: never a folder, a FIFO or
  // /dev/zero, and never more kept than that.
  const Result<std::string> in = fileio::ReadInputFile(rest[0]);
  if (!in) return Refuse(err, in.error);
  TrackInfo known;
  known.name = std::filesystem::path(rest[0]).stem().string();
  auto track = ReadAnyTrack(*in, rest[0], known);
  if (!track) return Refuse(err, track.error);
  const std::vector<TrackPoint>& points = track->points;
  TrackInfo& info = track->info;
  auto number = [&](const char* option, double above, double most) {
    const auto v = framework::ParseFloat(a.Value(option));
    if (!v || !(*v > above) || !(*v <= most)) {
      throw UsageError{std::string(option) + " must be a number" +
                       (above > -HUGE_VAL ? " above 0" : "") + ", not '" + a.Value(option) + "'"};
    }
    return static_cast<double>(*v);
  };
  auto size = [&](const char* option) {
    const auto n = framework::ParseInt(a.Value(option));
    if (!n || *n <= 0) throw UsageError{std::string(option) + " must be a whole number above 0"};
    return *n;
  };
  if (a.Has("--width")) info.width = size("--width");
  if (a.Has("--height")) info.height = size("--height");
  if (a.Has("--fps")) info.fps = number("--fps", 0, tq::scene::kTicksPerSecond);
  if (a.Has("--first-frame")) {
    // Read as the double it is written as: 16777217 stays 16777217.
    const std::string text = a.Value("--first-frame");
    double first = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), first);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(first) ||
        std::fabs(first) > 1e15)
      throw UsageError{"--first-frame must be a frame number, not '" + text + "'"};
    info.firstFrame = first;
  }
  if (a.Has("--name")) info.name = a.Value("--name");
  std::string note;
  const auto converted = RenderTrack(format->format, points, info, &note);
  if (!converted) {
    err << "tqhost: " << rest[0] << ": " << converted.error << "\n";
    return 1;
  }
  if (!note.empty()) err << "tqhost: " << note << "\n";
  std::string output = a.Value("--output", "-");
  if (output != "-") FilePlan().Add("-o", output, rest[0], "the track it reads");
  if (output == "-") return (out << *converted, 0);
  if (const auto saved = SaveText(output, *converted); !saved) return Refuse(err, saved.error);
  err << points.size() << (points.size() == 1 ? " frame" : " frames") << " converted to " << output
      << "\n";
  return 0;
}

}  // namespace

const Command& ConvertCommand() {
  static const Command command = {
      "convert",
      "  convert TRACK     writes a track in a compositor's format; see\n"
      "                    'tqhost convert --help'\n",
      [] { return kConvertHead + FormatLines() + OptionHelp(ConvertOptions()) + kConvertTail; },
      {&ConvertOptions()},
      {"--width", "--height", "--fps", "--output"},
      [](const CommandCall& c) { return Convert(c.rest, c.args, c.out, c.err); }};
  return command;
}

}  // namespace tq::app
