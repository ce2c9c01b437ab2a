#include "host/app/CornerPin.h"

#include <algorithm>
#include <sstream>

#include "host/app/FormatIo.h"

namespace tq::app {
namespace {

const char* const kCorners[4] = {"BL", "BR", "TR", "TL"};

// Whether the corners at line i turn one way all round (a convex pin,
// either side up); false when they cross over or three stand in a line.
// The products are exact: values are within 2^31 x 10^6 < 2^52, their
// differences within 2^53, a product of two within 2^106.
bool Turns(const std::vector<PinCorner>& c, std::size_t i) {
  int positive = 0, negative = 0;
  for (int k = 0; k < 4; ++k) {
    const TrackPoint& a = c[k].track.points[i];
    const TrackPoint& b = c[(k + 1) % 4].track.points[i];
    const TrackPoint& d = c[(k + 2) % 4].track.points[i];
    const __int128 cross = static_cast<__int128>(b.x - a.x) * (d.y - b.y) -
                           static_cast<__int128>(b.y - a.y) * (d.x - b.x);
    positive += cross > 0;
    negative += cross < 0;
  }
  return positive == 4 || negative == 4;
}

// Refuses a pin a compositor cannot use, naming the first frame that says
// why and the corner it is about.
Status Check(const std::vector<PinCorner>& c) {
  if (c.size() != 4) {
    return Fail("the corner pin needs its four corners, and " + std::to_string(c.size()) +
                (c.size() == 1 ? " was" : " were") + " tracked");
  }
  const std::size_t n = c[0].track.points.size();
  for (const PinCorner& corner : c) {
    if (corner.track.points.size() != n)
      return Fail("the corner pin's four tracks do not have the same frames");
  }
  for (std::size_t i = 0; i < n; ++i) {
    const std::string frame = FrameText(io::FrameOf(c[0].track.info, static_cast<int>(i)));
    for (int k = 0; k < 4; ++k) {
      const bool lost = Unprojected(c[k].track.points[i]);
      if (lost || (i < c[k].behind.size() && c[k].behind[i])) {
        return Fail(std::string("the corner ") + kCorners[k] + " (" + c[k].track.info.name + ") " +
                    (lost ? "could not be projected" : "is behind the camera") + " at frame " +
                    frame + "; a corner pin needs every corner in front");
      }
    }
    if (!Turns(c, i)) {
      return Fail("the corner pin folds at frame " + frame +
                  ": its corners BL, BR, TR, TL cross over or stand in a line");
    }
  }
  return {};
}

std::vector<std::int64_t> Values(const Track& t, bool y) {
  std::vector<std::int64_t> values;
  for (const TrackPoint& p : t.points) values.push_back(y ? p.y : p.x);
  return values;
}

// from1 to from4: the image's corners or the first frame's points.
std::string From(const std::vector<PinCorner>& c, int k, bool fromImage) {
  const TrackInfo& info = c[0].track.info;
  const int d = c[0].track.points[0].decimals;
  if (!fromImage) {
    const TrackPoint& p = c[k].track.points[0];
    return PixelText(p.x, d) + " " + PixelText(p.y, d);
  }
  const std::int64_t w = (k == 1 || k == 2) ? *info.width * kTenTo[d] : 0;
  const std::int64_t h = (k == 2 || k == 3) ? *info.height * kTenTo[d] : 0;
  return PixelText(w, d) + " " + PixelText(h, d);
}

void WriteNukePin(std::ostream& out, const std::vector<PinCorner>& c, bool fromImage) {
  const double first = io::FrameOf(c[0].track.info, 0);
  const int d = c[0].track.points[0].decimals;
  out << "set cut_paste_input [stack 0]\npush $cut_paste_input\nCornerPin2D {\n";
  for (int k = 0; k < 4; ++k) {
    out << " to" << k + 1 << " {";
    io::WriteNukeCurve(out, first, Values(c[k].track, false), d);
    out << ' ';
    io::WriteNukeCurve(out, first, Values(c[k].track, true), d);
    out << "}\n";
  }
  for (int k = 0; k < 4; ++k) out << " from" << k + 1 << " {" << From(c, k, fromImage) << "}\n";
  std::string label;
  for (int k = 0; k < 4; ++k) label += (k ? ", " : "") + c[k].track.info.name;
  out << " name " << io::NukeNodeName("CornerPin_", c[0].track.info.name) << "\n label "
      << io::NukeQuoted(label) << "\n selected true\n}\n";
}

// The Corner Pin effect's four points, in the order of its parameters.
void WriteAePin(std::ostream& out, const std::vector<PinCorner>& c) {
  const TrackInfo& info = c[0].track.info;
  io::WriteAeHeader(out, info);
  const struct {
    const char* name;
    int corner;
  } params[] = {
      {"Upper Left #2", 3}, {"Upper Right #3", 2}, {"Lower Left #4", 0}, {"Lower Right #5", 1}};
  for (const auto& param : params) {
    out << "Effects\tCorner Pin #1\t" << param.name << "\n\tFrame\tX pixels\tY pixels\t\n";
    for (const TrackPoint& p : c[param.corner].track.points) {
      out << '\t' << FrameText(io::FrameOf(info, p.index)) << '\t' << PixelText(p.x, p.decimals)
          << '\t' << PixelText(*info.height * kTenTo[p.decimals] - p.y, p.decimals) << "\t\n";
    }
    out << "\n";
  }
  out << "\nEnd of Keyframe Data\n";
}

}  // namespace

std::optional<PinTargets> ReadPinTargets(const OptionValues& a) {
  const std::string from = a.pinFrom.value_or("first-frame");
  if (from != "first-frame" && from != "image")
    throw UsageError{"--pin-from must be first-frame or image, not '" + from + "'"};
  if (a.pinFrom && !a.cornerPin) throw UsageError{"--pin-from goes with --corner-pin"};
  if (!a.cornerPin) return std::nullopt;
  if (!a.targets.empty() || a.allTargets)
    throw UsageError{"--corner-pin names its four targets; give no --target or --all-targets"};
  std::vector<std::string> corners;
  std::istringstream in(*a.cornerPin);
  for (std::string corner; std::getline(in, corner, ',');) corners.push_back(corner);
  if (corners.size() != 4 || a.cornerPin->back() == ',') {
    throw UsageError{
        "--corner-pin takes four targets, BL,BR,TR,TL (bottom-left, bottom-right, "
        "top-right, top-left), not '" +
        *a.cornerPin + "'"};
  }
  for (std::size_t i = 0; i < 4; ++i) {
    if (std::count(corners.begin(), corners.end(), corners[i]) > 1)
      throw UsageError{"--corner-pin names '" + corners[i] +
                       "' twice; a pin needs four different corners"};
  }
  return PinTargets{corners, from == "image"};
}

bool WritesCornerPin(Format format) {
  return format == Format::kNuke || format == Format::kNukeNode || format == Format::kAe;
}

Result<std::string> RenderCornerPin(Format format, const std::vector<PinCorner>& corners,
                                    bool fromImage) {
  if (!WritesCornerPin(format)) return Fail("the format holds no corner pin");
  if (Status checked = Check(corners); !checked) return Fail(checked.error);
  const TrackInfo& info = corners[0].track.info;
  if (format == Format::kAe && (!info.fps || !info.width || !info.height))
    return Fail("the ae format needs --fps, --width and --height");
  std::ostringstream out;
  if (format == Format::kAe) {
    WriteAePin(out, corners);
  } else {
    WriteNukePin(out, corners, fromImage);
  }
  return out.str();
}

}  // namespace tq::app
