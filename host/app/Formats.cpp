#include "host/app/Formats.h"

#include <charconv>
#include <cmath>
#include <sstream>

#include "host/app/FormatIo.h"

namespace tq::app {

std::string FrameText(double frame) {
  char text[400];
  const float single = static_cast<float>(frame);
  const auto end = static_cast<double>(single) == frame
                       ? std::to_chars(text, text + sizeof text, single, std::chars_format::fixed)
                       : std::to_chars(text, text + sizeof text, frame, std::chars_format::fixed);
  return std::string(text, end.ptr);
}

std::string PixelText(std::int64_t value, int decimals, int atLeast) {
  char text[32];
  std::string out(text, WriteDecimals(text, value, decimals));
  if (atLeast > decimals) out.append(decimals == 0 ? "." : "").append(atLeast - decimals, '0');
  return out;
}

const FormatInfo* FindFormat(const std::string& name) {
  for (const FormatInfo& f : Formats()) {
    if (name == f.name) return &f;
  }
  return nullptr;
}

namespace {

Status Need(bool present, const char* format, const char* flag) {
  if (present) return {};
  return Fail(std::string("the ") + format + " format needs " + flag);
}

// The size and rate a format needs; refused naming the first flag missing.
Status SizeAndRate(const char* format, const TrackInfo& info) {
  if (auto fps = Need(info.fps.has_value(), format, "--fps"); !fps) return fps;
  if (auto width = Need(info.width.has_value(), format, "--width"); !width) return width;
  return Need(info.height.has_value(), format, "--height");
}

// What a format needs of a track, checked before a byte is written; the
// info it is written with (a format counting from 1 starts there).
Result<TrackInfo> Checked(const FormatInfo& row, const std::vector<TrackPoint>& points,
                          TrackInfo info, std::string* note) {
  const std::string name = row.name;
  if (points.empty() && row.needsFrames)
    return Fail("the " + name + " format needs frames, and the track has none");
  if (row.needsSizeAndRate) {
    if (Status needs = SizeAndRate(row.name, info); !needs) return Fail(needs.error);
  }
  // A name line cannot hold a line break (or any control character).
  if (row.nameLine) {
    for (const char c : info.name) {
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
        return Fail("the " + name +
                    " format cannot hold a name with a line break or another control character; "
                    "give --name a name without them");
      }
    }
  }
  if (!row.framesFromOne) return info;
  // Numbered as the images of a sequence are, from 1 at the track's first
  // frame, unless a first frame is given.
  if (info.firstFrame) {
    const double first = *info.firstFrame;
    if (first != std::floor(first) || first < 1) {
      return Fail("the " + name + " format counts whole frames from 1: --first-frame " +
                  FrameText(first) + " is not one of them");
    }
    return info;
  }
  if (info.startFrame != 1 && note != nullptr)
    *note = name + " frames 1.. are the shot's " + FrameText(info.startFrame) + "..";
  info.firstFrame = 1;
  return info;
}

}  // namespace

Result<std::string> RenderTrack(Format format, const std::vector<TrackPoint>& points,
                                const TrackInfo& info, std::string* note) {
  const FormatInfo& row = Formats()[static_cast<std::size_t>(format)];
  const auto checked = Checked(row, points, info, note);
  if (!checked) return Fail(checked.error);
  // Beyond 10^15 a frame and the next are no longer one apart in a double.
  if (const double last =
          points.empty() ? 0 : io::FrameOf(*checked, static_cast<int>(points.size()) - 1);
      !(std::fabs(last) <= 1e15))
    return Fail("the track's last frame would be " + FrameText(last) +
                "; frames are from -10^15 to 10^15");
  std::ostringstream out;
  row.write(out, points, *checked);
  return out.str();
}

Result<std::string> RenderTracks(Format format, const std::vector<Track>& tracks,
                                 std::string* note) {
  const FormatInfo& row = Formats()[static_cast<std::size_t>(format)];
  if (!row.manyInOneFile)
    return Fail(std::string("the ") + row.name + " format holds one track a file");
  std::ostringstream out;
  out << tracks.size() << "\n";
  for (const Track& track : tracks) {
    const auto checked = Checked(row, track.points, track.info, note);
    if (!checked) return Fail(track.info.name + ": " + checked.error);
    io::Write3dePoint(out, track.points, *checked);
  }
  return out.str();
}

namespace {

// The rows of the table, one a format, in the order help and errors list them.
constexpr FormatInfo kFormats[] = {
    {.format = Format::kNuke,
     .name = "nuke",
     .application = "Nuke",
     .where = "Nuke: a Tracker's or Transform's curve editor, File > Import ascii",
     .summary = "\"frame x y\" lines: a Tracker's or Transform's curve, File > Import",
     .copySuffix = ".nk.txt",
     .write = io::WriteNuke,
     .read = io::ReadNuke,
     .looksLike = io::LooksLikeNuke},
    {.format = Format::kNukeNode,
     .name = "nuke-node",
     .application = "Nuke",
     .where = "Nuke: paste it into the Node Graph",
     .summary = "a Transform that follows the track: paste it into the Node Graph",
     .copySuffix = ".nk",
     .needsFrames = true,
     .write = io::WriteNukeNode,
     .read = io::ReadNukeNode,
     .looksLike = io::LooksLikeNukeNode},
    {.format = Format::kAe,
     .name = "ae",
     .application = "After Effects",
     .where = "After Effects: select a layer's Position (or a null's) at the first frame and "
              "paste",
     .summary = "After Effects keyframe data: paste it on a layer's Position",
     .copySuffix = ".ae.txt",
     .needsSizeAndRate = true,
     .needsFrames = true,
     .write = io::WriteAe,
     .read = io::ReadAe,
     .looksLike = io::LooksLikeAe},
    {.format = Format::kShake,
     .name = "shake",
     .application = "Shake",
     .where = "Shake: a Tracker's Load Track File",
     .summary = "a Shake track file: a Tracker's Load Track File",
     .copySuffix = ".shk.txt",
     .needsFrames = true,
     .nameLine = true,
     .write = io::WriteShake,
     .read = io::ReadShake,
     .looksLike = io::LooksLikeShake},
    {.format = Format::k3de,
     .name = "3de",
     .application = "3DEqualizer",
     .where = "3DEqualizer: Points > Import 2D Tracks (3DE format)",
     .summary = "3DEqualizer 2D points: Points > Import 2D Tracks",
     .copySuffix = ".3de.txt",
     .needsFrames = true,
     .framesFromOne = true,
     .nameLine = true,
     .manyInOneFile = true,
     .write = io::Write3de,
     .read = io::Read3de,
     .looksLike = io::LooksLike3de},
    {.format = Format::kCsv,
     .name = "csv",
     .application = "a spreadsheet",
     .where = "any spreadsheet or script",
     .summary = "\"frame,x,y\" with a header",
     .copySuffix = ".csv",
     .write = io::WriteCsv,
     .read = io::ReadCsv,
     .looksLike = io::LooksLikeCsv},
    {.format = Format::kJson,
     .name = "json",
     .application = "a script",
     .where = "scripts (Python, Blender, Fusion, Houdini)",
     .summary = "{\"width\", \"height\", \"fps\", \"name\", \"frames\": [{\"frame\", \"x\", "
                "\"y\"}]}",
     .copySuffix = ".json",
     .needsSizeAndRate = true,
     .write = io::WriteJson,
     .read = io::ReadJson,
     .looksLike = io::LooksLikeJson},
};

}  // namespace

const std::vector<FormatInfo>& Formats() {
  static const std::vector<FormatInfo> formats(std::begin(kFormats), std::end(kFormats));
  return formats;
}

std::string FormatNames(const char* last) {
  std::string names;
  const auto& formats = Formats();
  for (std::size_t i = 0; i < formats.size(); ++i) {
    names += i == 0 ? "" : i + 1 == formats.size() && last != nullptr ? last : ", ";
    names += formats[i].name;
  }
  return names;
}

Result<Track> ReadAnyTrack(const std::string& text, const std::string& fileName, TrackInfo info) {
  Result<Track> track = Fail("no track");
  const FormatInfo* format = nullptr;
  // The plug-in's text (tab-separated) first: its lines look like no format.
  for (const FormatInfo& f : Formats()) {
    if (format == nullptr && f.looksLike != nullptr && f.looksLike(text)) format = &f;
  }
  if (format != nullptr) {
    track = format->read(text, std::move(info));
  } else if (auto points = ReadTrack(text)) {
    track = Track{std::move(*points), std::move(info)};
  } else {
    track = Fail(points.error);
  }
  if (!track) track.error = fileName + ": " + track.error;
  return track;
}

}  // namespace tq::app
