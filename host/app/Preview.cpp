#include "host/app/Preview.h"

#include <algorithm>
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
  return FrameText(static_cast<double>(start) + index);
}

}  // namespace

namespace {

// The picture being drawn: the image's size in pixels, the region shown
// (the image and as much of the track outside it as the picture can hold)
// and the unit that strokes and text scale with.
class SvgPreview {
 public:
  SvgPreview(const std::vector<TrackPoint>& points, const PreviewInfo& info)
      : points_(points),
        info_(info),
        w_(std::max(info.width, 1)),
        h_(std::max(info.height, 1)),
        unit_(std::max(w_, h_) / 400.0) {
    svg_.precision(6);
    // The region: the image, grown to the projected frames (not beyond ten
    // image sizes each way, where a point behind the camera may go).
    left_ = 0, right_ = w_, top_ = 0, bottom_ = h_;
    for (const TrackPoint& p : points_) {
      if (Saturated(p)) continue;
      left_ = std::min(left_, std::max(X(p), -10 * w_));
      right_ = std::max(right_, std::min(X(p), 11 * w_));
      top_ = std::min(top_, std::max(Y(p), -10 * h_));
      bottom_ = std::max(bottom_, std::min(Y(p), 11 * h_));
    }
    const double margin = std::max(w_, h_) * 0.08 + 40;
    left_ -= margin, right_ += margin, top_ -= margin + 30 * unit_, bottom_ += margin;
    if (std::any_of(points_.begin(), points_.end(), Saturated)) bottom_ += 40 * unit_;
  }

  std::string Draw() {
    Heading();
    ImageFrame();
    Track();
    if (!points_.empty()) {
      Mark(points_.front(), "#1a9850", "first");
      Mark(points_.back(), "#d73027", "last");
    }
    SaturatedFrames();
    svg_ << "</svg>\n";
    return svg_.str();
  }

 private:
  static bool Saturated(const TrackPoint& p) { return Unprojected(p); }
  bool Behind(const TrackPoint& p) const {
    const auto i = static_cast<std::size_t>(p.index);
    return i < info_.behind.size() && info_.behind[i];
  }
  // Where a point is drawn: its values as doubles, the origin moved to the
  // bottom-left.
  double X(const TrackPoint& p) const { return PixelDouble(p.x, p.decimals); }
  double Y(const TrackPoint& p) const { return h_ - PixelDouble(p.y, p.decimals); }
  // A point's place written exactly, with the track's decimals.
  void Place(const TrackPoint& p, const char* between) {
    if (p.decimals == 0) {
      svg_ << X(p) << between << Y(p);
    } else {
      const std::int64_t h = static_cast<std::int64_t>(h_) * kTenTo[p.decimals];
      svg_ << PixelText(p.x, p.decimals) << between << PixelText(h - p.y, p.decimals);
    }
  }

  void Heading() {
    const std::string mode = info_.mode.empty() ? "" : " (" + info_.mode + ")";
    const std::string title = "Screen track of " + info_.target + mode + " through " + info_.camera;
    const double width = right_ - left_, height = bottom_ - top_;
    svg_ << "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"" << left_ << " " << top_ << " "
         << width << " " << height << "\" font-family=\"sans-serif\">\n";
    svg_ << "<title>" << Escape(title) << "</title>\n";
    svg_ << "<rect x=\"" << left_ << "\" y=\"" << top_ << "\" width=\"" << width << "\" height=\""
         << height << "\" fill=\"#f4f4f4\"/>\n";
    const double x = left_ + 8 * unit_;
    svg_ << "<text x=\"" << x << "\" y=\"" << top_ + 18 * unit_ << "\" font-size=\"" << 12 * unit_
         << "\" font-weight=\"bold\">" << Escape(info_.target) << Escape(mode) << " through "
         << Escape(info_.camera) << "</text>\n";
    svg_ << "<text x=\"" << x << "\" y=\"" << top_ + 32 * unit_ << "\" font-size=\"" << 9 * unit_
         << "\" fill=\"#555\">" << info_.width << " x " << info_.height << " pixels, "
         << points_.size() << (points_.size() == 1 ? " frame" : " frames")
         << ", origin bottom-left; outside the image in grey</text>\n";
  }

  // The image on top of the region, clear, with its corners named.
  void ImageFrame() {
    svg_ << "<rect x=\"0\" y=\"0\" width=\"" << w_ << "\" height=\"" << h_
         << "\" fill=\"white\" stroke=\"#333\" stroke-width=\"" << unit_ << "\"/>\n";
    svg_ << "<text x=\"" << 4 * unit_ << "\" y=\"" << h_ - 4 * unit_ << "\" font-size=\""
         << 9 * unit_ << "\" fill=\"#888\">(0, 0)</text>\n";
    svg_ << "<text x=\"" << w_ - 4 * unit_ << "\" y=\"" << 12 * unit_ << "\" font-size=\""
         << 9 * unit_ << "\" fill=\"#888\" text-anchor=\"end\">(" << info_.width << ", "
         << info_.height << ")</text>\n";
  }

  // The line (broken where frames could not be projected), a dot per frame,
  // and a label every 10th frame, moved aside (with a leader) rather than
  // left out where it would sit on another.
  void Track() {
    svg_ << "<polyline fill=\"none\" stroke=\"#1f6fd1\" stroke-width=\"" << 1.5 * unit_
         << "\" points=\"";
    for (const TrackPoint& p : points_) {
      if (Saturated(p)) {
        svg_ << "\"/>\n<polyline fill=\"none\" stroke=\"#1f6fd1\" stroke-width=\"" << 1.5 * unit_
             << "\" points=\"";
        continue;
      }
      Place(p, ",");
      svg_ << " ";
    }
    svg_ << "\"/>\n";
    std::vector<std::pair<double, double>> taken;
    for (const TrackPoint& p : points_) {
      if (Saturated(p)) continue;
      const std::string frame = FrameLabel(info_.startFrame, p.index);
      const bool behind = Behind(p);
      svg_ << "<circle" << (behind ? " class=\"behind\"" : "") << " cx=\"";
      Place(p, "\" cy=\"");
      svg_ << "\" r=\"" << 2 * unit_ << "\" fill=\"" << (behind ? "#f08c00" : "#1f6fd1")
           << "\"><title>frame " << frame << ": (" << PixelText(p.x, p.decimals) << ", "
           << PixelText(p.y, p.decimals) << ")" << (behind ? " behind the camera: mirrored" : "")
           << "</title></circle>\n";
      if (p.index % 10 != 0) continue;
      Label(X(p), Y(p), frame, taken);
    }
  }

  // A label near (x, y): the first free place on rings around the point.
  void Label(double x, double y, const std::string& text,
             std::vector<std::pair<double, double>>& taken) {
    const double step = 14 * unit_;
    double lx = x + 4 * unit_, ly = y - 4 * unit_;
    auto free = [&](double cx, double cy) {
      return std::none_of(taken.begin(), taken.end(), [&](const auto& t) {
        return std::fabs(cx - t.first) < 22 * unit_ && std::fabs(cy - t.second) < 11 * unit_;
      });
    };
    for (int ring = 0; !free(lx, ly) && ring < 40; ++ring) {
      const double angle = ring * 2.399963;  // the golden angle: rings that do not repeat
      const double radius = step * (1 + ring / 4.0);
      lx = x + radius * std::cos(angle);
      ly = y + radius * std::sin(angle);
    }
    taken.emplace_back(lx, ly);
    if (std::hypot(lx - x, ly - y) > 8 * unit_) {
      svg_ << "<line x1=\"" << x << "\" y1=\"" << y << "\" x2=\"" << lx << "\" y2=\"" << ly
           << "\" stroke=\"#bbb\" stroke-width=\"" << 0.5 * unit_ << "\"/>\n";
    }
    svg_ << "<text x=\"" << lx << "\" y=\"" << ly << "\" font-size=\"" << 9 * unit_
         << "\" fill=\"#555\">" << text << "</text>\n";
  }

  void Mark(const TrackPoint& p, const char* colour, const char* word) {
    if (Saturated(p)) return;
    svg_ << "<circle cx=\"";
    Place(p, "\" cy=\"");
    svg_ << "\" r=\"" << 6 * unit_ << "\" fill=\"none\" stroke=\"" << colour << "\" stroke-width=\""
         << 2 * unit_ << "\"/>\n";
    svg_ << "<text x=\"" << X(p) + 8 * unit_ << "\" y=\"" << Y(p) + 14 * unit_ << "\" font-size=\""
         << 11 * unit_ << "\" fill=\"" << colour << "\">" << word << " (frame "
         << FrameLabel(info_.startFrame, p.index) << ")</text>\n";
  }

  // Frames that could not be projected, marked on a strip below the region
  // at their place in the run.
  void SaturatedFrames() {
    const auto count = std::count_if(points_.begin(), points_.end(), Saturated);
    if (count == 0) return;
    const double y = bottom_ - 28 * unit_, span = right_ - left_ - 16 * unit_;
    svg_ << "<text x=\"" << left_ + 8 * unit_ << "\" y=\"" << y - 4 * unit_ << "\" font-size=\""
         << 9 * unit_ << "\" fill=\"#d73027\">" << count << " of " << points_.size()
         << " frames could not be projected (the target at the camera, in its image plane or "
            "beyond where the lens's distortion holds)</text>\n";
    for (const TrackPoint& p : points_) {
      if (!Saturated(p)) continue;
      const double x =
          left_ + 8 * unit_ +
          span * (points_.size() > 1 ? double(p.index) / double(points_.size() - 1) : 0);
      svg_ << "<rect class=\"saturated\" x=\"" << x - unit_ << "\" y=\"" << y << "\" width=\""
           << 2 * unit_ << "\" height=\"" << 12 * unit_ << "\" fill=\"#d73027\"><title>frame "
           << FrameLabel(info_.startFrame, p.index) << " could not be projected</title></rect>\n";
    }
  }

  const std::vector<TrackPoint>& points_;
  const PreviewInfo& info_;
  const double w_, h_, unit_;
  double left_, right_, top_, bottom_;
  std::ostringstream svg_;
};

}  // namespace

std::string RenderPreview(const std::vector<TrackPoint>& points, const PreviewInfo& info) {
  return SvgPreview(points, info).Draw();
}

}  // namespace tq::app
