#include "host/app/Preview.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <sstream>

namespace tq::app {

namespace {

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string FrameLabel(float start, int index) {
  const double frame = static_cast<double>(start) + index;
  std::ostringstream s;
  s << frame;
  return s.str();
}

}  // namespace

bool ReadTrack(const std::string& text, std::vector<TrackPoint>& points, std::string& error) {
  std::istringstream in(text);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    TrackPoint p{};
    const char* s = line.data();
    const char* end = s + line.size();
    auto r1 = std::from_chars(s, end, p.index);
    if (r1.ec == std::errc() && r1.ptr < end && *r1.ptr == '\t') {
      auto r2 = std::from_chars(r1.ptr + 1, end, p.x);
      if (r2.ec == std::errc() && r2.ptr < end && *r2.ptr == '\t') {
        auto r3 = std::from_chars(r2.ptr + 1, end, p.y);
        if (r3.ec == std::errc() && r3.ptr == end) {
          points.push_back(p);
          continue;
        }
      }
    }
    error = "line " + std::to_string(number) + " is not \"index<TAB>x<TAB>y\"";
    return false;
  }
  return true;
}

std::string RenderPreview(const std::vector<TrackPoint>& points, const PreviewInfo& info) {
  const double w = std::max(info.width, 1), h = std::max(info.height, 1);
  const double margin = std::max(w, h) * 0.08 + 40;
  const double unit = std::max(w, h) / 400.0;  // strokes and text scale with the image
  // Points far outside the picture (a target behind or at the camera) are
  // left out of the line.
  auto visible = [&](const TrackPoint& p) {
    return std::fabs(static_cast<double>(p.x)) <= 4 * w &&
           std::fabs(static_cast<double>(p.y)) <= 4 * h;
  };
  auto sx = [&](long x) { return static_cast<double>(x); };
  auto sy = [&](long y) { return h - static_cast<double>(y); };  // origin bottom-left

  std::ostringstream svg;
  svg.precision(6);
  const std::string title = "Screen track of " + info.target + " through " + info.camera;
  svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"" << -margin << " "
      << -margin - 30 * unit << " " << w + 2 * margin << " " << h + 2 * margin + 30 * unit
      << "\" font-family=\"sans-serif\">\n";
  svg << "<title>" << Escape(title) << "</title>\n";
  svg << "<rect x=\"" << -margin << "\" y=\"" << -margin - 30 * unit << "\" width=\""
      << w + 2 * margin << "\" height=\"" << h + 2 * margin + 30 * unit
      << "\" fill=\"#f4f4f4\"/>\n";
  svg << "<text x=\"" << -margin + 8 * unit << "\" y=\"" << -margin - 12 * unit << "\" font-size=\""
      << 12 * unit << "\" font-weight=\"bold\">" << Escape(info.target) << " through "
      << Escape(info.camera) << "</text>\n";
  svg << "<text x=\"" << -margin + 8 * unit << "\" y=\"" << -margin + 4 * unit << "\" font-size=\""
      << 9 * unit << "\" fill=\"#555\">" << info.width << " x " << info.height << " pixels, "
      << points.size() << (points.size() == 1 ? " frame" : " frames")
      << ", origin bottom-left</text>\n";
  svg << "<rect x=\"0\" y=\"0\" width=\"" << w << "\" height=\"" << h
      << "\" fill=\"white\" stroke=\"#333\" stroke-width=\"" << unit << "\"/>\n";
  svg << "<text x=\"" << 4 * unit << "\" y=\"" << h - 4 * unit << "\" font-size=\"" << 9 * unit
      << "\" fill=\"#888\">(0, 0)</text>\n";
  svg << "<text x=\"" << w - 4 * unit << "\" y=\"" << 12 * unit << "\" font-size=\"" << 9 * unit
      << "\" fill=\"#888\" text-anchor=\"end\">(" << info.width << ", " << info.height
      << ")</text>\n";

  svg << "<polyline fill=\"none\" stroke=\"#1f6fd1\" stroke-width=\"" << 1.5 * unit
      << "\" points=\"";
  for (const TrackPoint& p : points) {
    if (visible(p)) svg << sx(p.x) << "," << sy(p.y) << " ";
  }
  svg << "\"/>\n";
  std::vector<std::pair<double, double>> labels;
  for (std::size_t i = 0; i < points.size(); ++i) {
    const TrackPoint& p = points[i];
    if (!visible(p)) continue;
    svg << "<circle cx=\"" << sx(p.x) << "\" cy=\"" << sy(p.y) << "\" r=\"" << 2 * unit
        << "\" fill=\"#1f6fd1\"><title>frame " << FrameLabel(info.startFrame, p.index) << ": ("
        << p.x << ", " << p.y << ")</title></circle>\n";
    // Every 10th frame, unless it would sit on a label already drawn.
    const bool crowded = std::any_of(labels.begin(), labels.end(), [&](const auto& l) {
      return std::hypot(sx(p.x) - l.first, sy(p.y) - l.second) < 16 * unit;
    });
    if (p.index % 10 == 0 && !crowded) {
      labels.emplace_back(sx(p.x), sy(p.y));
      svg << "<text x=\"" << sx(p.x) + 4 * unit << "\" y=\"" << sy(p.y) - 4 * unit
          << "\" font-size=\"" << 9 * unit << "\" fill=\"#555\">"
          << FrameLabel(info.startFrame, p.index) << "</text>\n";
    }
  }
  auto mark = [&](const TrackPoint& p, const char* colour, const char* word) {
    if (!visible(p)) return;
    svg << "<circle cx=\"" << sx(p.x) << "\" cy=\"" << sy(p.y) << "\" r=\"" << 6 * unit
        << "\" fill=\"none\" stroke=\"" << colour << "\" stroke-width=\"" << 2 * unit << "\"/>\n";
    svg << "<text x=\"" << sx(p.x) + 8 * unit << "\" y=\"" << sy(p.y) + 14 * unit
        << "\" font-size=\"" << 11 * unit << "\" fill=\"" << colour << "\">" << word << " (frame "
        << FrameLabel(info.startFrame, p.index) << ")</text>\n";
  };
  if (!points.empty()) {
    mark(points.front(), "#1a9850", "first");
    mark(points.back(), "#d73027", "last");
  }
  svg << "</svg>\n";
  return svg.str();
}

}  // namespace tq::app
