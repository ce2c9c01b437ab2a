// The writers of the compositor formats: each writes a track as its
// compositor reads it, every value with the track's decimals.
#include <charconv>
#include <cstdio>
#include <ostream>

#include <nlohmann/json.hpp>

#include "host/app/FormatIo.h"

namespace tq::app::io {

double FrameOf(const TrackInfo& info, int index) {
  return (info.firstFrame ? *info.firstFrame : info.startFrame) + index;
}

double RateValue(double fps) {
  double value = fps;
  const std::string text = FrameText(fps);
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

void WriteAeHeader(std::ostream& out, const TrackInfo& info) {
  out << "Adobe After Effects 8.0 Keyframe Data\n\n"
      << "\tUnits Per Second\t" << FrameText(RateValue(*info.fps)) << "\n"
      << "\tSource Width\t" << *info.width << "\n"
      << "\tSource Height\t" << *info.height << "\n"
      << "\tSource Pixel Aspect Ratio\t1\n"
      << "\tComp Pixel Aspect Ratio\t1\n\n";
}

// After Effects keyframe data: origin top-left, Y down.
void WriteAe(std::ostream& out, const std::vector<TrackPoint>& points, const TrackInfo& info) {
  WriteAeHeader(out, info);
  out << "Transform\tPosition\n"
      << "\tFrame\tX pixels\tY pixels\tZ pixels\t\n";
  for (const TrackPoint& p : points) {
    // A frame that could not be projected keeps its marker values.
    const std::int64_t y = Unprojected(p) ? p.y : *info.height * kTenTo[p.decimals] - p.y;
    out << '\t' << FrameText(FrameOf(info, p.index)) << '\t' << PixelText(p.x, p.decimals) << '\t'
        << PixelText(y, p.decimals) << "\t0\t\n";
  }
  out << "\n\nEnd of Keyframe Data\n";
}

void WriteShake(std::ostream& out, const std::vector<TrackPoint>& points, const TrackInfo& info) {
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
// never stands in memory as a tree of values. A whole frame is an integer.
void WriteJson(std::ostream& out, const std::vector<TrackPoint>& points, const TrackInfo& info) {
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
    const double frame = FrameOf(info, p.index);
    // Whole frames within 2^53 are integers exactly.
    const bool whole = frame > -9007199254740992.0 && frame < 9007199254740992.0 &&
                       frame == static_cast<double>(static_cast<std::int64_t>(frame));
    out << (i == 0 ? "\n" : ",\n") << "  {\n   \"frame\": "
        << (whole ? Value(static_cast<std::int64_t>(frame)) : Value(frame)).dump()
        << ",\n   \"x\": " << PixelText(p.x, p.decimals)
        << ",\n   \"y\": " << PixelText(p.y, p.decimals) << "\n  }";
  }
  out << (points.empty() ? "]" : "\n ]") << "\n}\n";
}

void WriteNuke(std::ostream& out, const std::vector<TrackPoint>& points, const TrackInfo& info) {
  for (const TrackPoint& p : points)
    out << FrameText(FrameOf(info, p.index)) << ' ' << PixelText(p.x, p.decimals) << ' '
        << PixelText(p.y, p.decimals) << '\n';
}

void WriteCsv(std::ostream& out, const std::vector<TrackPoint>& points, const TrackInfo& info) {
  out << "frame,x,y\n";
  for (const TrackPoint& p : points)
    out << FrameText(FrameOf(info, p.index)) << ',' << PixelText(p.x, p.decimals) << ','
        << PixelText(p.y, p.decimals) << '\n';
}

void Write3dePoint(std::ostream& out, const std::vector<TrackPoint>& points,
                   const TrackInfo& info) {
  out << info.name << "\n0\n" << points.size() << "\n";
  for (const TrackPoint& p : points) {
    out << FrameText(FrameOf(info, p.index)) << ' ' << PixelText(p.x, p.decimals, 15) << ' '
        << PixelText(p.y, p.decimals, 15) << '\n';
  }
}

void Write3de(std::ostream& out, const std::vector<TrackPoint>& points, const TrackInfo& info) {
  out << "1\n";
  Write3dePoint(out, points, info);
}

void WriteNukeCurve(std::ostream& out, double firstFrame, const std::vector<std::int64_t>& values,
                    int decimals) {
  out << "{curve x" << FrameText(firstFrame);
  for (const std::int64_t v : values) out << ' ' << PixelText(v, decimals);
  out << '}';
}

std::string NukeQuoted(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\n') {
      quoted += "\\n";
    } else if (c == '\t') {
      quoted += "\\t";
    } else if (u < 0x20 || u == 0x7f) {
      char octal[8];
      std::snprintf(octal, sizeof octal, "\\%03o", u);
      quoted += octal;
    } else {
      if (c == '\\' || c == '"' || c == '$' || c == '[' || c == ']' || c == '{' || c == '}')
        quoted += '\\';
      quoted += c;
    }
  }
  return quoted + "\"";
}

std::string NukeNodeName(const std::string& prefix, const std::string& name) {
  std::string safe = prefix + name;
  for (char& c : safe) {
    const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!keep) c = '_';
  }
  return safe.empty() || (safe[0] >= '0' && safe[0] <= '9') ? "_" + safe : safe;
}

// A Transform whose translate follows the track from its first frame and
// whose centre is the first frame's point: an element placed at that point
// moves with the target. Nuke's pixels count from the bottom-left, as the
// track's do.
void WriteNukeNode(std::ostream& out, const std::vector<TrackPoint>& points,
                   const TrackInfo& info) {
  const TrackPoint& first = points.front();
  std::vector<std::int64_t> dx, dy;
  for (const TrackPoint& p : points) {
    dx.push_back(p.x - first.x);
    dy.push_back(p.y - first.y);
  }
  out << "set cut_paste_input [stack 0]\npush $cut_paste_input\nTransform {\n translate {";
  WriteNukeCurve(out, FrameOf(info, 0), dx, first.decimals);
  out << ' ';
  WriteNukeCurve(out, FrameOf(info, 0), dy, first.decimals);
  out << "}\n center {" << PixelText(first.x, first.decimals) << ' '
      << PixelText(first.y, first.decimals) << "}\n name " << NukeNodeName("Track_", info.name)
      << "\n label " << NukeQuoted(info.name) << "\n selected true\n}\n";
}

}  // namespace tq::app::io
