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
          if (p.index != number - 1) {
            error = "line " + std::to_string(number) + " has the index " + std::to_string(p.index) +
                    "; indices count from 0 (expected " + std::to_string(number - 1) + ")";
            return false;
          }
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

namespace {

// The picture being drawn: the image's size in pixels, the margin around it
// and the unit that strokes and text scale with.
class SvgPreview {
 public:
  SvgPreview(const std::vector<TrackPoint>& points, const PreviewInfo& info)
      : points_(points),
        info_(info),
        w_(std::max(info.width, 1)),
        h_(std::max(info.height, 1)),
        margin_(std::max(w_, h_) * 0.08 + 40),
        unit_(std::max(w_, h_) / 400.0) {
    svg_.precision(6);
  }

  std::string Draw() {
    Heading();
    ImageFrame();
    Track();
    if (!points_.empty()) {
      Mark(points_.front(), "#1a9850", "first");
      Mark(points_.back(), "#d73027", "last");
    }
    svg_ << "</svg>\n";
    return svg_.str();
  }

 private:
  // Points far outside the picture (a target behind or at the camera) are
  // left out of the line.
  bool Visible(const TrackPoint& p) const {
    return std::fabs(static_cast<double>(p.x)) <= 4 * w_ &&
           std::fabs(static_cast<double>(p.y)) <= 4 * h_;
  }
  double X(long x) const { return static_cast<double>(x); }
  double Y(long y) const { return h_ - static_cast<double>(y); }  // origin bottom-left

  void Heading() {
    const std::string title = "Screen track of " + info_.target + " through " + info_.camera;
    const double top = -margin_ - 30 * unit_;
    const double width = w_ + 2 * margin_, height = h_ + 2 * margin_ + 30 * unit_;
    svg_ << "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"" << -margin_ << " " << top << " "
         << width << " " << height << "\" font-family=\"sans-serif\">\n";
    svg_ << "<title>" << Escape(title) << "</title>\n";
    svg_ << "<rect x=\"" << -margin_ << "\" y=\"" << top << "\" width=\"" << width << "\" height=\""
         << height << "\" fill=\"#f4f4f4\"/>\n";
    svg_ << "<text x=\"" << -margin_ + 8 * unit_ << "\" y=\"" << -margin_ - 12 * unit_
         << "\" font-size=\"" << 12 * unit_ << "\" font-weight=\"bold\">" << Escape(info_.target)
         << " through " << Escape(info_.camera) << "</text>\n";
    svg_ << "<text x=\"" << -margin_ + 8 * unit_ << "\" y=\"" << -margin_ + 4 * unit_
         << "\" font-size=\"" << 9 * unit_ << "\" fill=\"#555\">" << info_.width << " x "
         << info_.height << " pixels, " << points_.size()
         << (points_.size() == 1 ? " frame" : " frames") << ", origin bottom-left</text>\n";
  }

  void ImageFrame() {
    svg_ << "<rect x=\"0\" y=\"0\" width=\"" << w_ << "\" height=\"" << h_
         << "\" fill=\"white\" stroke=\"#333\" stroke-width=\"" << unit_ << "\"/>\n";
    svg_ << "<text x=\"" << 4 * unit_ << "\" y=\"" << h_ - 4 * unit_ << "\" font-size=\""
         << 9 * unit_ << "\" fill=\"#888\">(0, 0)</text>\n";
    svg_ << "<text x=\"" << w_ - 4 * unit_ << "\" y=\"" << 12 * unit_ << "\" font-size=\""
         << 9 * unit_ << "\" fill=\"#888\" text-anchor=\"end\">(" << info_.width << ", "
         << info_.height << ")</text>\n";
  }

  // The line, a dot per frame, and a label every 10th frame unless it would
  // sit on a label already drawn.
  void Track() {
    svg_ << "<polyline fill=\"none\" stroke=\"#1f6fd1\" stroke-width=\"" << 1.5 * unit_
         << "\" points=\"";
    for (const TrackPoint& p : points_) {
      if (Visible(p)) svg_ << X(p.x) << "," << Y(p.y) << " ";
    }
    svg_ << "\"/>\n";
    std::vector<std::pair<double, double>> labels;
    for (const TrackPoint& p : points_) {
      if (!Visible(p)) continue;
      const std::string frame = FrameLabel(info_.startFrame, p.index);
      svg_ << "<circle cx=\"" << X(p.x) << "\" cy=\"" << Y(p.y) << "\" r=\"" << 2 * unit_
           << "\" fill=\"#1f6fd1\"><title>frame " << frame << ": (" << p.x << ", " << p.y
           << ")</title></circle>\n";
      const bool crowded = std::any_of(labels.begin(), labels.end(), [&](const auto& l) {
        return std::hypot(X(p.x) - l.first, Y(p.y) - l.second) < 16 * unit_;
      });
      if (p.index % 10 != 0 || crowded) continue;
      labels.emplace_back(X(p.x), Y(p.y));
      svg_ << "<text x=\"" << X(p.x) + 4 * unit_ << "\" y=\"" << Y(p.y) - 4 * unit_
           << "\" font-size=\"" << 9 * unit_ << "\" fill=\"#555\">" << frame << "</text>\n";
    }
  }

  void Mark(const TrackPoint& p, const char* colour, const char* word) {
    if (!Visible(p)) return;
    svg_ << "<circle cx=\"" << X(p.x) << "\" cy=\"" << Y(p.y) << "\" r=\"" << 6 * unit_
         << "\" fill=\"none\" stroke=\"" << colour << "\" stroke-width=\"" << 2 * unit_ << "\"/>\n";
    svg_ << "<text x=\"" << X(p.x) + 8 * unit_ << "\" y=\"" << Y(p.y) + 14 * unit_
         << "\" font-size=\"" << 11 * unit_ << "\" fill=\"" << colour << "\">" << word << " (frame "
         << FrameLabel(info_.startFrame, p.index) << ")</text>\n";
  }

  const std::vector<TrackPoint>& points_;
  const PreviewInfo& info_;
  const double w_, h_, margin_, unit_;
  std::ostringstream svg_;
};

}  // namespace

std::string RenderPreview(const std::vector<TrackPoint>& points, const PreviewInfo& info) {
  return SvgPreview(points, info).Draw();
}

}  // namespace tq::app
