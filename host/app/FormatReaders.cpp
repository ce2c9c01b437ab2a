// Reading tracks back: the plug-in's text, and every compositor format that
// holds a track's values as text rows (the Nuke node is read in
// NukeNodeReader.cpp).
#include <charconv>
#include <cmath>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <string_view>

#include <nlohmann/json.hpp>

#include "host/app/FormatIo.h"

namespace tq::app {
namespace {

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

// How the rows of a format are laid out.
struct Rows {
  const char* layout;   // as a refusal names it: "frame,x,y"
  char separator;       // ',', or 0 for runs of spaces and tabs
  std::size_t columns;  // frame, x, y and what a format adds (Shake's correlation)
  std::size_t padded;   // the digits a format pads the fraction to (0: none)
};

// The fields of a line: split at each separator, or at runs of blanks.
std::vector<std::string> Fields(const std::string& line, char separator) {
  std::vector<std::string> fields;
  std::size_t at = 0;
  while (at <= line.size()) {
    if (separator == 0) {
      at = line.find_first_not_of(" \t\r", at);
      if (at == std::string::npos) break;
    }
    const std::size_t end =
        separator == 0 ? line.find_first_of(" \t\r", at) : line.find(separator, at);
    fields.push_back(line.substr(at, end == std::string::npos ? end : end - at));
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return fields;
}

// A value without the zeros a format pads its fraction with: a fraction of
// more digits than the padding is the track's own.
std::string Unpadded(std::string value, std::size_t padded) {
  const std::size_t point = value.find('.');
  if (point == std::string::npos || value.size() - point - 1 > padded) return value;
  while (value.back() == '0') value.pop_back();
  if (value.back() == '.') value.pop_back();
  return value;
}

// Reads rows "frame x y" from the line numbered number on, count of them
// (every line left for count < 0), frames following one another from the
// first row's.
Status ReadRows(std::istream& in, int number, int count, const Rows& rows, PointsBuilder& points,
                TrackInfo& info) {
  std::string line;
  int index = 0;
  for (; index != count && std::getline(in, line); ++number, ++index) {
    const std::vector<std::string> f = Fields(line, rows.separator);
    double frame = 0;
    std::int64_t x = 0, y = 0;
    int xd = 0, yd = 0;
    bool beyond = false;
    bool ok = f.size() == rows.columns;
    for (std::size_t k = 0; ok && k < 3; ++k) {
      const std::string v = k > 0 ? Unpadded(f[k], rows.padded) : f[k];
      const char* end = v.data() + v.size();
      if (k == 0) {
        const auto r = std::from_chars(v.data(), end, frame);
        ok = r.ec == std::errc() && r.ptr == end && std::isfinite(frame);
      } else {
        ok = io::ReadPixel(v.data(), end, k == 1 ? x : y, k == 1 ? xd : yd, beyond) == end;
      }
    }
    if (!ok || beyond) return Fail(Refused(number, rows.layout, beyond && ok, line));
    // Beyond 10^15 a frame and the next are no longer one apart in a double.
    if (std::fabs(frame) > 1e15) {
      return Fail("line " + std::to_string(number) + " has the frame " + FrameText(frame) +
                  "; frames are from -10^15 to 10^15");
    }
    if (index == 0) info.startFrame = frame;
    // A track's frames follow one another: a gap or a step back would be
    // lost in the copy, so it is refused.
    if (frame != info.startFrame + index) {
      return Fail("line " + std::to_string(number) + " has the frame " + FrameText(frame) +
                  "; a track's frames follow one another (expected " +
                  FrameText(info.startFrame + index) + ")");
    }
    points.Add(index, x, xd, y, yd);
  }
  if (index < count) return Fail("the file ends before its " + std::to_string(count) + " rows");
  return {};
}

// The rows from the line numbered number on (count of them, or every line
// left for count < 0) as a track with what info knows.
Result<Track> TrackOfRows(std::istream& in, int number, int count, const Rows& rows,
                          TrackInfo info) {
  PointsBuilder points;
  if (auto read = ReadRows(in, number, count, rows, points, info); !read) return Fail(read.error);
  return Track{points.Take(), std::move(info)};
}

// A header line that must be there, word for word.
bool Expect(std::istream& in, const std::string& want) {
  std::string line;
  return std::getline(in, line) && line == want;
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
      const char* r2 = io::ReadPixel(r1.ptr + 1, end, x, xd, beyond);
      if (r2 != nullptr && r2 < end && *r2 == '\t') {
        const char* r3 = io::ReadPixel(r2 + 1, end, y, yd, beyond);
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

namespace io {

const char* ReadPixel(const char* s, const char* end, std::int64_t& value, int& decimals,
                      bool& beyond, std::uint64_t most) {
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
                   v > (negative ? most + 1 : most) *
                           static_cast<std::uint64_t>(kTenTo[std::min(decimals, kMostDecimals)]);
  if (out) beyond = true;
  value = out ? 0 : negative ? -static_cast<std::int64_t>(v) : static_cast<std::int64_t>(v);
  return at;
}

bool LooksLikeCsv(const std::string& text) {
  return text.rfind("frame,x,y", 0) == 0;
}
bool LooksLikeJson(const std::string& text) {
  return !text.empty() && text[0] == '{';
}
bool LooksLikeShake(const std::string& text) {
  return text.rfind("TrackName ", 0) == 0;
}
bool LooksLikeAe(const std::string& text) {
  return text.rfind("Adobe After Effects 8.0 Keyframe Data\n", 0) == 0;
}
// "frame x y": a number, then blanks between three fields, no tab (the
// plug-in's text).
bool LooksLikeNuke(const std::string& text) {
  const std::string first = text.substr(0, text.find('\n'));
  return !first.empty() && (first[0] == '-' || (first[0] >= '0' && first[0] <= '9')) &&
         first.find('\t') == std::string::npos && Fields(first, 0).size() == 3;
}
// A point count alone on the first line.
bool LooksLike3de(const std::string& text) {
  const std::string first = text.substr(0, text.find('\n'));
  return !first.empty() && first.find_first_not_of("0123456789") == std::string::npos;
}

Result<Track> ReadCsv(const std::string& text, TrackInfo info) {
  std::istringstream in(text);
  std::string header;
  std::getline(in, header);
  if (header != "frame,x,y") return Fail(Refused(1, "frame,x,y", false, header));
  return TrackOfRows(in, 2, -1, {"frame,x,y", ',', 3, 0}, std::move(info));
}

Result<Track> ReadNuke(const std::string& text, TrackInfo info) {
  std::istringstream in(text);
  return TrackOfRows(in, 1, -1, {"frame x y", ' ', 3, 0}, std::move(info));
}

Result<Track> ReadShake(const std::string& text, TrackInfo info) {
  std::istringstream in(text);
  std::string line;
  std::getline(in, line);
  info.name = line.substr(std::strlen("TrackName "));
  if (!Expect(in, "   Frame             X             Y   Correlation"))
    return Fail("line 2 is not Shake's column header \"Frame X Y Correlation\"");
  return TrackOfRows(in, 3, -1, {"Frame X Y Correlation", 0, 4, 3}, std::move(info));
}

Result<Track> Read3de(const std::string& text, TrackInfo info) {
  std::istringstream in(text);
  std::string count, colour, frames;
  std::getline(in, count);
  if (count != "1") {
    return Fail("the file holds " + count +
                " points; a track is one (convert reads a file of one point)");
  }
  std::getline(in, info.name);
  std::getline(in, colour);
  std::getline(in, frames);
  int rows = 0;
  const auto r = std::from_chars(frames.data(), frames.data() + frames.size(), rows);
  if (r.ec != std::errc() || r.ptr != frames.data() + frames.size() || rows < 0)
    return Fail("line 4 is not the point's count of frames");
  return TrackOfRows(in, 5, rows, {"frame x y", ' ', 3, 15}, std::move(info));
}

// After Effects' Position keyframes: Y down from the top, turned back up.
Result<Track> ReadAe(const std::string& text, TrackInfo info) {
  PointsBuilder points;
  std::istringstream in(text);
  std::string line;
  std::getline(in, line);
  std::getline(in, line);
  auto number = [&](const char* key) {
    std::string row;
    std::getline(in, row);
    const std::string want = std::string("\t") + key + "\t";
    double v = 0;
    if (row.rfind(want, 0) != 0) return v;
    std::from_chars(row.data() + want.size(), row.data() + row.size(), v);
    return v;
  };
  info.fps = number("Units Per Second");
  info.width = static_cast<int>(number("Source Width"));
  info.height = static_cast<int>(number("Source Height"));
  if (!(*info.fps > 0) || *info.width <= 0 || *info.height <= 0)
    return Fail("lines 3 to 5 are not the rate, width and height of keyframe data");
  for (int skip = 0; skip < 3; ++skip) std::getline(in, line);
  std::getline(in, line);
  if (line.rfind("Effects\tCorner Pin", 0) == 0)
    return Fail(CornerPinRefused("After Effects' Corner Pin keyframe data"));
  if (line != "Transform\tPosition" || !Expect(in, "\tFrame\tX pixels\tY pixels\tZ pixels\t"))
    return Fail("lines 9 and 10 are not the header of a layer's Position");
  std::string rows, tail;
  while (std::getline(in, line) && !line.empty()) rows += line + "\n";
  std::istringstream body(rows);
  if (auto read = ReadRows(body, 11, -1, {"frame x y z", 0, 4, 0}, points, info); !read)
    return Fail(read.error);
  std::vector<TrackPoint> taken = points.Take();
  for (TrackPoint& p : taken) {
    if (!Unprojected(p)) p.y = *info.height * kTenTo[p.decimals] - p.y;
  }
  return Track{std::move(taken), std::move(info)};
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
            io::ReadPixel(text, written.ptr, value, decimals, beyond) != written.ptr || beyond)
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

}  // namespace io
}  // namespace tq::app
