#include "host/app/Formats.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <stdexcept>

#include <nlohmann/json.hpp>

namespace tq::app {
namespace {

double FrameOf(const TrackInfo& info, int index, double shift = 0) {
  return (info.firstFrame ? *info.firstFrame : info.startFrame + shift) + index;
}

// A rate as a number that prints as the shortest text of its float (23.976,
// not 23.97599983215332).
double RateValue(double fps) {
  double value = fps;
  const std::string text = FrameText(fps);
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

Status Need(bool present, const char* format, const char* flag) {
  if (present) return {};
  return Fail(std::string("the ") + format + " format needs " + flag);
}

}  // namespace

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

namespace {

// Reads a pixel value at s: "-"?, digits, and "." with 1 or more digits or
// nothing. Answers the end of the value, or null when there is none; sets
// beyond (and leaves it set) when it has more than 6 decimals or lies outside the 32-bit range
// (its fraction included) that the plug-in writes.
const char* ReadPixel(const char* s, const char* end, std::int64_t& value, int& decimals,
                      bool& beyond) {
  const bool negative = s < end && *s == '-';
  const char* at = s + (negative ? 1 : 0);
  const char* digits = at;
  std::uint64_t v = 0;
  int count = 0;  // significant digits, up to where v could overflow
  for (; at < end && *at >= '0' && *at <= '9'; ++at) {
    if (v != 0 || *at != '0') ++count;
    if (count <= 18) v = v * 10 + static_cast<std::uint64_t>(*at - '0');
  }
  if (at == digits) return nullptr;
  decimals = 0;
  if (at < end && *at == '.') {
    const char* fraction = ++at;
    for (; at < end && *at >= '0' && *at <= '9'; ++at) {
      if (v != 0 || *at != '0') ++count;
      if (count <= 18) v = v * 10 + static_cast<std::uint64_t>(*at - '0');
    }
    if (at == fraction) return nullptr;
    decimals = static_cast<int>(std::min<std::ptrdiff_t>(at - fraction, kMostDecimals + 1));
  }
  const bool out = decimals > kMostDecimals || count > 18 ||
                   v > (negative ? 2147483648u : 2147483647u) *
                           static_cast<std::uint64_t>(kTenTo[std::min(decimals, kMostDecimals)]);
  if (out) beyond = true;
  value = out ? 0 : negative ? -static_cast<std::int64_t>(v) : static_cast<std::int64_t>(v);
  return at;
}

// Gathers a track's points, bringing them all to the most decimals any of
// its values has.
class PointsBuilder {
 public:
  void Add(int index, std::int64_t x, int xDecimals, std::int64_t y, int yDecimals) {
    Widen(std::max(xDecimals, yDecimals));
    points_.push_back(
        {index, decimals_, x * kTenTo[decimals_ - xDecimals], y * kTenTo[decimals_ - yDecimals]});
  }
  std::vector<TrackPoint> Take() { return std::move(points_); }

 private:
  void Widen(int decimals) {
    if (decimals <= decimals_) return;
    for (TrackPoint& p : points_) {
      p.x *= kTenTo[decimals - decimals_];
      p.y *= kTenTo[decimals - decimals_];
      p.decimals = decimals;
    }
    decimals_ = decimals;
  }
  std::vector<TrackPoint> points_;
  int decimals_ = 0;
};

// Why a line was refused: not the layout, or a value the plug-in never
// writes, or a Windows line end.
std::string Refused(int number, const char* layout, bool beyond, std::string_view line) {
  if (!line.empty() && line.back() == '\r') {
    return "line " + std::to_string(number) +
           " ends in a carriage return (a Windows line end); a track's lines end in a line feed "
           "alone";
  }
  return "line " + std::to_string(number) +
         (beyond ? " has a value beyond a track's: X and Y are pixels from -2147483648 to "
                   "2147483647, with up to 6 decimals"
                 : std::string(" is not \"") + layout + "\"");
}

// Whether JSON text nests arrays and objects deeper than most levels (the
// brackets inside strings not counted): such a file is refused before it is
// parsed, whose tree would take many times the file's size.
bool NestedDeeperThan(const std::string& text, int most) {
  int depth = 0;
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') ++i;
      if (c == '"') inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > most) return true;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return false;
}

}  // namespace

Result<std::vector<TrackPoint>> ReadTrack(const std::string& text) {
  PointsBuilder points;
  int number = 0;
  // Line by line, as getline reads them: a last line needs no line break.
  for (const char *next = text.data(), *stop = next + text.size(); next < stop;) {
    ++number;
    const char* s = next;
    const auto* br =
        static_cast<const char*>(std::memchr(s, '\n', static_cast<std::size_t>(stop - s)));
    const char* end = br != nullptr ? br : stop;
    next = br != nullptr ? br + 1 : stop;
    int index = 0, xd = 0, yd = 0;
    std::int64_t x = 0, y = 0;
    bool beyond = false;
    auto r1 = std::from_chars(s, end, index);
    if (r1.ec == std::errc() && r1.ptr < end && *r1.ptr == '\t') {
      const char* r2 = ReadPixel(r1.ptr + 1, end, x, xd, beyond);
      if (r2 != nullptr && r2 < end && *r2 == '\t') {
        const char* r3 = ReadPixel(r2 + 1, end, y, yd, beyond);
        if (r3 == end && !beyond) {
          if (index != number - 1) {
            return Fail("line " + std::to_string(number) + " has the index " +
                        std::to_string(index) + "; indices count from 0 (expected " +
                        std::to_string(number - 1) + ")");
          }
          points.Add(index, x, xd, y, yd);
          continue;
        }
      }
    }
    return Fail(Refused(number, "index<TAB>x<TAB>y", beyond, std::string_view(s, end - s)));
  }
  return points.Take();
}

const FormatInfo* FindFormat(const std::string& name) {
  for (const FormatInfo& f : Formats()) {
    if (name == f.name) return &f;
  }
  return nullptr;
}

namespace {

// After Effects keyframe data: origin top-left, Y down.
void WriteAe(std::ostream& out, const std::vector<TrackPoint>& points, const TrackInfo& info,
             double) {
  out << "Adobe After Effects 8.0 Keyframe Data\n\n"
      << "\tUnits Per Second\t" << FrameText(RateValue(*info.fps)) << "\n"
      << "\tSource Width\t" << *info.width << "\n"
      << "\tSource Height\t" << *info.height << "\n"
      << "\tSource Pixel Aspect Ratio\t1\n"
      << "\tComp Pixel Aspect Ratio\t1\n\n"
      << "Transform\tPosition\n"
      << "\tFrame\tX pixels\tY pixels\tZ pixels\t\n";
  for (const TrackPoint& p : points) {
    // A frame that could not be projected keeps its marker values.
    const std::int64_t y = Unprojected(p) ? p.y : *info.height * kTenTo[p.decimals] - p.y;
    out << '\t' << FrameText(FrameOf(info, p.index)) << '\t' << PixelText(p.x, p.decimals) << '\t'
        << PixelText(y, p.decimals) << "\t0\t\n";
  }
  out << "\n\nEnd of Keyframe Data\n";
}

void WriteShake(std::ostream& out, const std::vector<TrackPoint>& points, const TrackInfo& info,
                double) {
  out << "TrackName " << info.name << "\n"
      << "   Frame             X             Y   Correlation\n";
  for (const TrackPoint& p : points) {
    char line[128];
    std::snprintf(line, sizeof line, "%8.2f %13s %13s %13.3f\n", FrameOf(info, p.index),
                  PixelText(p.x, p.decimals, 3).c_str(), PixelText(p.y, p.decimals, 3).c_str(),
                  1.0);
    out << line;
  }
}

// The text nlohmann::json's dump(1) gives the whole document, written a
// frame at a time (each value by the same serializer), so that a long track
// never stands in memory as a tree of values.
void WriteJson(std::ostream& out, const std::vector<TrackPoint>& points, const TrackInfo& info,
               double) {
  using Value = nlohmann::ordered_json;
  // A byte of the name that is not UTF-8 (a file's name may hold any) shows
  // as U+FFFD, as in the HTML preview.
  const std::string name = Value(info.name).dump(-1, ' ', false, Value::error_handler_t::replace);
  out << "{\n \"width\": " << Value(*info.width).dump()
      << ",\n \"height\": " << Value(*info.height).dump()
      << ",\n \"fps\": " << Value(RateValue(*info.fps)).dump() << ",\n \"name\": " << name
      << ",\n \"frames\": [";
  for (std::size_t i = 0; i < points.size(); ++i) {
    const TrackPoint& p = points[i];
    out << (i == 0 ? "\n" : ",\n") << "  {\n   \"frame\": " << Value(FrameOf(info, p.index)).dump()
        << ",\n   \"x\": " << PixelText(p.x, p.decimals)
        << ",\n   \"y\": " << PixelText(p.y, p.decimals) << "\n  }";
  }
  out << (points.empty() ? "]" : "\n ]") << "\n}\n";
}

void WriteNuke(std::ostream& out, const std::vector<TrackPoint>& points, const TrackInfo& info,
               double) {
  for (const TrackPoint& p : points)
    out << FrameText(FrameOf(info, p.index)) << ' ' << PixelText(p.x, p.decimals) << ' '
        << PixelText(p.y, p.decimals) << '\n';
}

void WriteCsv(std::ostream& out, const std::vector<TrackPoint>& points, const TrackInfo& info,
              double) {
  out << "frame,x,y\n";
  for (const TrackPoint& p : points)
    out << FrameText(FrameOf(info, p.index)) << ',' << PixelText(p.x, p.decimals) << ','
        << PixelText(p.y, p.decimals) << '\n';
}

void Write3de(std::ostream& out, const std::vector<TrackPoint>& points, const TrackInfo& info,
              double shift) {
  out << "1\n" << info.name << "\n0\n" << points.size() << "\n";
  for (const TrackPoint& p : points) {
    out << FrameText(FrameOf(info, p.index, shift)) << ' ' << PixelText(p.x, p.decimals, 15) << ' '
        << PixelText(p.y, p.decimals, 15) << '\n';
  }
}

// The size and rate a format needs; refused naming the first flag missing.
Status SizeAndRate(const char* format, const TrackInfo& info) {
  if (auto fps = Need(info.fps.has_value(), format, "--fps"); !fps) return fps;
  if (auto width = Need(info.width.has_value(), format, "--width"); !width) return width;
  return Need(info.height.has_value(), format, "--height");
}

}  // namespace

Result<std::string> RenderTrack(Format format, const std::vector<TrackPoint>& points,
                                const TrackInfo& info, std::string* note) {
  const FormatInfo& row = Formats()[static_cast<std::size_t>(format)];
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
  // A format that counts whole frames from 1 moves a track that starts
  // below 1 as a whole, so that its first frame is 1.
  double shift = 0;
  if (row.wholeFramesFromOne) {
    const double first = FrameOf(info, 0);
    if (first != std::floor(first)) {
      return Fail("the " + name + " format needs whole frames, and the track starts at frame " +
                  FrameText(first) +
                  "; start it on a whole frame (--start, or --first-frame in convert)");
    }
    if (info.firstFrame && first < 1) {
      return Fail(std::string("the ") + name + " format counts frames from 1: --first-frame " +
                  FrameText(first) + " is below it");
    }
    if (!info.firstFrame && first < 1) {
      shift = 1 - first;
      if (note != nullptr) {
        *note = "frames moved by " + FrameText(shift) + " so that the first is 1 (" +
                row.application + " counts from 1)";
      }
    }
  }
  std::ostringstream out;
  row.write(out, points, info, shift);
  return out.str();
}

namespace {

Result<Track> ReadCsv(const std::string& text, TrackInfo info) {
  PointsBuilder points;
  std::istringstream in(text);
  std::string line;
  std::getline(in, line);
  if (line != "frame,x,y") return Fail(Refused(1, "frame,x,y", false, line));
  int count = 0;
  for (int number = 2; std::getline(in, line); ++number, ++count) {
    const char* s = line.data();
    const char* end = s + line.size();
    double frame = 0;
    std::int64_t x = 0, y = 0;
    int xd = 0, yd = 0;
    bool beyond = false;
    const auto f = std::from_chars(s, end, frame);
    const char* r2 = f.ec == std::errc() && f.ptr < end && *f.ptr == ','
                         ? ReadPixel(f.ptr + 1, end, x, xd, beyond)
                         : nullptr;
    const char* r3 =
        r2 != nullptr && r2 < end && *r2 == ',' ? ReadPixel(r2 + 1, end, y, yd, beyond) : nullptr;
    if (r3 != end || beyond || !std::isfinite(frame))
      return Fail(Refused(number, "frame,x,y", beyond && r3 == end, line));
    // Beyond 10^15 a frame and the next are no longer one apart in a double.
    if (std::fabs(frame) > 1e15) {
      return Fail("line " + std::to_string(number) + " has the frame " + FrameText(frame) +
                  "; frames are from -10^15 to 10^15");
    }
    if (count == 0) info.startFrame = frame;
    // A track's frames follow one another: a gap or a step back would be
    // lost in the copy, so it is refused.
    if (frame != info.startFrame + count) {
      return Fail("line " + std::to_string(number) + " has the frame " + FrameText(frame) +
                  "; a track's frames follow one another (expected " +
                  FrameText(info.startFrame + count) + ")");
    }
    points.Add(count, x, xd, y, yd);
  }
  return Track{points.Take(), std::move(info)};
}

Result<Track> ReadJson(const std::string& text, TrackInfo info) {
  PointsBuilder points;
  try {
    if (NestedDeeperThan(text, 16)) throw std::out_of_range("it nests deeper than 16 levels");
    const auto doc = nlohmann::json::parse(text);
    // Read as numbers first: a value out of range is refused, not cast.
    auto whole = [&](const char* key) {
      const double v = doc.at(key).get<double>();
      if (!(v >= 1 && v <= 1e9) || v != std::floor(v))
        throw std::out_of_range(std::string(key) + " is not a whole number above 0");
      return static_cast<int>(v);
    };
    info.width = whole("width");
    info.height = whole("height");
    info.fps = doc.at("fps").get<double>();
    if (!(*info.fps > 0) || !std::isfinite(*info.fps))
      throw std::out_of_range("fps is not above 0");
    info.name = doc.at("name").get<std::string>();
    const auto& frames = doc.at("frames");
    if (!frames.is_array()) throw std::out_of_range("frames is not an array");
    for (std::size_t i = 0; i < frames.size(); ++i) {
      const double frame = frames[i].at("frame").get<double>();
      if (!(std::fabs(frame) <= 1e15))
        throw std::out_of_range("a frame is not a number from -10^15 to 10^15");
      if (i == 0) info.startFrame = frame;
      if (frame != info.startFrame + static_cast<double>(i))
        throw std::out_of_range("frames[" + std::to_string(i) + "] is frame " + FrameText(frame) +
                                "; a track's frames follow one another");
      // A value as the shortest text that reads back as its number: the
      // digits it was written with, but for trailing zeros.
      auto pixel = [&](const char* key, int& decimals) {
        const auto& v = frames[i].at(key);
        const std::string refusal =
            "frames[" + std::to_string(i) + "]." + key +
            " is not a pixel value with up to 6 decimals in the 32-bit range";
        if (!v.is_number()) throw std::out_of_range(refusal);
        char text[64];
        const auto written =
            v.is_number_unsigned() ? std::to_chars(text, text + sizeof text, v.get<std::uint64_t>())
            : v.is_number_integer() ? std::to_chars(text, text + sizeof text, v.get<std::int64_t>())
                                    : std::to_chars(text, text + sizeof text, v.get<double>(),
                                                    std::chars_format::fixed);
        std::int64_t value = 0;
        bool beyond = false;
        if (written.ec != std::errc() ||
            ReadPixel(text, written.ptr, value, decimals, beyond) != written.ptr || beyond)
          throw std::out_of_range(refusal);
        return value;
      };
      int xd = 0, yd = 0;
      const std::int64_t x = pixel("x", xd), y = pixel("y", yd);
      points.Add(static_cast<int>(i), x, xd, y, yd);
    }
  } catch (const nlohmann::json::exception& e) {
    return Fail(std::string("not a track of the json format: ") + e.what());
  } catch (const std::out_of_range& e) {
    return Fail(std::string("not a track of the json format: ") + e.what());
  }
  return Track{points.Take(), std::move(info)};
}

}  // namespace

const std::vector<FormatInfo>& Formats() {
  static const std::vector<FormatInfo> formats = {
      {Format::kNuke, "nuke", "Nuke",
       "Nuke: a Tracker's or Transform's curve editor, File > Import ascii",
       "\"frame x y\" lines: a Tracker's or Transform's curve, File > Import", false, false, false,
       false, WriteNuke, nullptr},
      {Format::kAe, "ae", "After Effects",
       "After Effects: select a layer's Position (or a null's) at the first frame and paste",
       "After Effects keyframe data: paste it on a layer's Position", true, true, false, false,
       WriteAe, nullptr},
      {Format::kShake, "shake", "Shake", "Shake: a Tracker's Load Track File",
       "a Shake track file: a Tracker's Load Track File", false, true, false, true, WriteShake,
       nullptr},
      {Format::k3de, "3de", "3DEqualizer", "3DEqualizer: Points > Import 2D Tracks (3DE format)",
       "3DEqualizer 2D points: Points > Import 2D Tracks", false, true, true, true, Write3de,
       nullptr},
      {Format::kCsv, "csv", "a spreadsheet", "any spreadsheet or script",
       "\"frame,x,y\" with a header", false, false, false, false, WriteCsv, ReadCsv},
      {Format::kJson, "json", "a script", "scripts (Python, Blender, Fusion, Houdini)",
       "{\"width\", \"height\", \"fps\", \"name\", \"frames\": [{\"frame\", \"x\", \"y\"}]}", true,
       false, false, false, WriteJson, ReadJson},
  };
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
  if (text.rfind("frame,x,y", 0) == 0) {
    track = ReadCsv(text, std::move(info));
  } else if (!text.empty() && text[0] == '{') {
    track = ReadJson(text, std::move(info));
  } else if (auto points = ReadTrack(text)) {
    track = Track{std::move(*points), std::move(info)};
  } else {
    track = Fail(points.error);
  }
  if (!track) track.error = fileName + ": " + track.error;
  return track;
}

}  // namespace tq::app
