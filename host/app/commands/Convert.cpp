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
#include "host/app/commands/FilePlan.h"
#include "host/fileio/InputFile.h"
#include "host/framework/Dialog.h"
#include "host/scene/Time.h"

namespace tq::app {
namespace {

const char kConvertHead[] = R"(Usage: tqhost convert TRACK --to FORMAT [-o FILE] [OPTIONS]

Writes a track file (the plug-in's, or one convert or --also wrote in any
format; a corner pin, four tracks in one, is refused) in a compositor's
import format, on standard output without -o:

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
int Convert(const std::vector<std::string>& rest, const OptionValues& a, std::ostream& out,
            std::ostream& err) {
  if (rest.size() != 1) throw UsageError{"convert needs exactly one track file"};
  if (!a.to) throw UsageError{"convert needs --to FORMAT (" + FormatNames() + ")"};
  const FormatInfo* format = FindFormat(*a.to);
  if (format == nullptr)
    throw UsageError{"--to must be " + FormatNames(" or ") + ", not '" + *a.to + "'"};
  // A regular file (or "-") of at most 64 MiB: never a folder, a FIFO or
  // /dev/zero, and never more kept than that.
  const Result<std::string> in = fileio::ReadInputFile(rest[0]);
  if (!in) return Refuse(err, in.error);
  TrackInfo known;
  known.name = std::filesystem::path(rest[0]).stem().string();
  auto track = ReadAnyTrack(*in, rest[0], known);
  if (!track) return Refuse(err, track.error);
  // An export writes a line for every frame of a range of at least one.
  if (track->points.empty())
    return Refuse(err, rest[0] + ": holds no frames, so there is no track to convert");
  const std::vector<TrackPoint>& points = track->points;
  TrackInfo& info = track->info;
  if (a.width) info.width = ImageSize("--width", *a.width);
  if (a.height) info.height = ImageSize("--height", *a.height);
  if (a.fps) {
    const auto v = framework::ParseFloat(*a.fps);
    if (!v || !(*v > 0) || !(*v <= tq::scene::kTicksPerSecond))
      throw UsageError{"--fps must be a number above 0, not '" + *a.fps + "'"};
    info.fps = static_cast<double>(*v);
  }
  if (a.firstFrame) {
    // Read as the double it is written as: 16777217 stays 16777217.
    const std::string& text = *a.firstFrame;
    double first = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), first);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(first) ||
        std::fabs(first) > 1e15)
      throw UsageError{"--first-frame must be a frame number, not '" + text + "'"};
    info.firstFrame = first;
  }
  if (a.name) info.name = *a.name;
  std::string note;
  const auto converted = RenderTrack(format->format, points, info, &note);
  if (!converted) {
    err << "tqhost: " << rest[0] << ": " << converted.error << "\n";
    return 1;
  }
  if (!note.empty()) err << "tqhost: " << note << "\n";
  const std::string output = a.output.value_or("-");
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
      [](const CommandCall& c) { return Convert(c.rest, c.options, c.out, c.err); }};
  return command;
}

}  // namespace tq::app
