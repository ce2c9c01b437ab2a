// Reading back the Nuke node of a track (nuke-node): a Transform whose
// center is the track's first point and whose translate curves are its
// motion from there, in Nuke's script syntax (Tcl words). A corner pin
// (CornerPin2D) holds four tracks and is refused, naming what to read.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <string_view>

#include "host/app/FormatIo.h"

namespace tq::app::io {
namespace {

constexpr std::string_view kBlanks = " \t\r\n";

// The next word of a script as written: {braced} (braces kept, nesting),
// "quoted" (quotes kept) or bare; empty at the end. Sets bad when a brace
// or a quote is not closed.
std::string_view NextWord(std::string_view s, std::size_t& at, bool& bad) {
  at = std::min(s.find_first_not_of(kBlanks, at), s.size());
  const std::size_t start = at;
  if (at == s.size()) return {};
  if (s[at] != '{' && s[at] != '"') {
    at = std::min(s.find_first_of(kBlanks, at), s.size());
    return s.substr(start, at - start);
  }
  int depth = 0;
  for (; at < s.size(); ++at) {
    if (s[at] == '\\') {
      ++at;
    } else if (s[start] == '"') {
      if (at > start && s[at] == '"') break;
    } else if (s[at] == '{') {
      ++depth;
    } else if (s[at] == '}' && --depth == 0) {
      break;
    }
  }
  if (at >= s.size()) {
    bad = true;
    return {};
  }
  return s.substr(start, ++at - start);
}

std::vector<std::string_view> Words(std::string_view s, bool& bad) {
  std::vector<std::string_view> words;
  std::size_t at = 0;
  for (std::string_view w; !(w = NextWord(s, at, bad)).empty();) words.push_back(w);
  return words;
}

bool Braced(std::string_view w) {
  return !w.empty() && w.front() == '{';
}
std::string_view Inner(std::string_view w) {
  return w.substr(1, w.size() - 2);
}

// A word's text: a braced word's as it stands, a quoted or bare word's with
// its backslash escapes (\n, \t, \ooo, \c) replaced.
std::string Unquoted(std::string_view w) {
  if (Braced(w)) return std::string(Inner(w));
  if (!w.empty() && w.front() == '"') w = Inner(w);
  std::string text;
  for (std::size_t i = 0; i < w.size(); ++i) {
    if (w[i] != '\\' || i + 1 == w.size()) {
      text += w[i];
      continue;
    }
    const char c = w[++i];
    int code = 0;
    std::size_t n = 0;
    for (; n < 3 && i + n < w.size() && w[i + n] >= '0' && w[i + n] <= '7'; ++n)
      code = code * 8 + (w[i + n] - '0');
    if (n > 0) i += n - 1;
    text += n > 0 ? static_cast<char>(code) : c == 'n' ? '\n' : c == 't' ? '\t' : c;
  }
  return text;
}

// A word of the file as a refusal quotes it: its first 32 bytes, any
// outside printable ASCII as '?', and "..." where it is cut.
std::string Shown(std::string_view w) {
  std::string shown(w.substr(0, 32));
  for (char& c : shown) c = c >= ' ' && c <= '~' ? c : '?';
  return w.size() > 32 ? shown + "..." : shown;
}

// A value as written: whole numbers of 10^-d of a pixel.
struct Value {
  std::int64_t v = 0;
  int d = 0;
};

// Reads a word as a pixel value within most pixels either way.
bool ReadValue(std::string_view w, Value& value, std::uint64_t most) {
  bool beyond = false;
  const char* end = w.data() + w.size();
  return ReadPixel(w.data(), end, value.v, value.d, beyond, most) == end && !beyond;
}

// One channel of translate: keys a frame apart from first, or, not
// animated, one value for every frame.
struct Channel {
  std::vector<Value> keys;
  bool animated = false;
  double first = 0;
};

// "{curve x1001 0 1.25 3.5}" or "0". A key's frame is its "x" or the
// frame after the key before it; the keys follow one another frame by
// frame. Translate reaches twice a track's range (a point at one end, the
// first frame's at the other).
Status ReadChannel(std::string_view word, const std::string& axis, Channel& c) {
  bool bad = false;
  const std::vector<std::string_view> w =
      Braced(word) ? Words(Inner(word), bad) : std::vector<std::string_view>{word};
  const std::string what = "the Transform's translate " + axis;
  if (bad || w.empty() || (Braced(word) && w[0] != "curve"))
    return Fail(what + " is not a value or {curve ...}");
  c.animated = Braced(word);
  double frame = 0;
  bool framed = !c.animated;
  for (std::size_t k = c.animated ? 1 : 0; k < w.size(); ++k) {
    if (c.animated && w[k].size() > 1 && w[k][0] == 'x') {
      double f = 0;
      const auto r = std::from_chars(w[k].data() + 1, w[k].data() + w[k].size(), f);
      if (r.ec != std::errc() || r.ptr != w[k].data() + w[k].size() || !(std::fabs(f) <= 1e15))
        return Fail(what + " has the key frame '" + Shown(w[k]) + "'");
      if (!c.keys.empty() && f != frame) {
        return Fail(what + " has a key at frame " + FrameText(f) +
                    "; a track's frames follow one another (expected " + FrameText(frame) + ")");
      }
      if (c.keys.empty()) c.first = f;
      frame = f;
      framed = true;
      continue;
    }
    Value v;
    if (!ReadValue(w[k], v, 4294967295u))
      return Fail(what + " has '" + Shown(w[k]) + "' where a key's value goes");
    if (!framed) return Fail(what + " has a key before its first frame (x and the frame)");
    // Beyond 10^15 a frame and the next are no longer one apart in a double.
    if (!(std::fabs(frame) <= 1e15))
      return Fail(what + " has a key at frame " + FrameText(frame) +
                  "; frames are from -10^15 to 10^15");
    c.keys.push_back(v);
    frame += 1;
  }
  if (c.keys.empty() || (!c.animated && c.keys.size() != 1))
    return Fail(what + " is not a value or {curve ...} with keys");
  return {};
}

// The knobs of the script's first node, by name, and its class; refused
// when there is no node.
Result<std::string_view> FirstNode(const std::string& text,
                                   std::map<std::string, std::string_view>& knobs) {
  bool bad = false;
  const std::vector<std::string_view> top = Words(text, bad);
  for (std::size_t i = 0; !bad && i + 1 < top.size(); ++i) {
    if (Braced(top[i]) || !Braced(top[i + 1])) continue;
    const std::vector<std::string_view> body = Words(Inner(top[i + 1]), bad);
    if (bad || body.size() % 2 != 0) break;
    for (std::size_t k = 0; k < body.size(); k += 2) knobs[std::string(body[k])] = body[k + 1];
    return top[i];
  }
  return Fail("not a Nuke node: a class and its {knobs}, each knob a name and a value");
}

// The track: the centre plus the translate at every frame, every value
// brought to the most decimals any has.
Result<std::vector<TrackPoint>> Sum(const Value center[2], const Channel channels[2]) {
  const Channel& timed = channels[0].animated ? channels[0] : channels[1];
  int d = std::max(center[0].d, center[1].d);
  for (int a = 0; a < 2; ++a) {
    for (const Value& v : channels[a].keys) d = std::max(d, v.d);
  }
  std::vector<TrackPoint> points;
  for (std::size_t i = 0; i < timed.keys.size(); ++i) {
    std::int64_t xy[2];
    for (int a = 0; a < 2; ++a) {
      const Value& t = channels[a].keys[channels[a].animated ? i : 0];
      xy[a] = center[a].v * kTenTo[d - center[a].d] + t.v * kTenTo[d - t.d];
      if (xy[a] < INT32_MIN * kTenTo[d] || xy[a] > INT32_MAX * kTenTo[d]) {
        return Fail("the Transform's center plus translate at frame " +
                    FrameText(timed.first + static_cast<double>(i)) +
                    " is beyond a track's: X and Y are pixels from -2147483648 to 2147483647");
      }
    }
    points.push_back({static_cast<int>(i), d, xy[0], xy[1]});
  }
  return points;
}

}  // namespace

std::string CornerPinRefused(const char* what) {
  return std::string("a corner pin (") + what +
         ") holds four tracks, and convert reads one; convert each corner's own track instead "
         "(export --corner-pin writes them with -o '{target}.txt')";
}

bool LooksLikeNukeNode(const std::string& text) {
  const std::string first = text.substr(0, text.find('\n'));
  const std::size_t name =
      first.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_");
  return first == "set cut_paste_input [stack 0]" ||
         (name > 0 && name != std::string::npos && first.substr(name) == " {");
}

Result<Track> ReadNukeNode(const std::string& text, TrackInfo info) {
  std::map<std::string, std::string_view> knobs;
  const auto node = FirstNode(text, knobs);
  if (!node) return Fail(node.error);
  if (*node == "CornerPin2D") return Fail(CornerPinRefused("Nuke's CornerPin2D"));
  if (*node != "Transform") {
    return Fail("the node is a " + Shown(*node) +
                "; convert reads the Transform of a track (nuke-node)");
  }
  bool bad = false;
  const auto center = Words(Braced(knobs["center"]) ? Inner(knobs["center"]) : "", bad);
  const auto translate = Words(Braced(knobs["translate"]) ? Inner(knobs["translate"]) : "", bad);
  Value c[2];
  if (bad || center.size() != 2 || !ReadValue(center[0], c[0], 2147483647u) ||
      !ReadValue(center[1], c[1], 2147483647u))
    return Fail("the Transform's center is not {x y}, two pixel values in a track's range");
  if (translate.size() != 2) return Fail("the Transform's translate is not {x y}");
  Channel channels[2];
  for (int a = 0; a < 2; ++a) {
    if (Status read = ReadChannel(translate[a], a == 0 ? "x" : "y", channels[a]); !read)
      return Fail(read.error);
  }
  if (!channels[0].animated && !channels[1].animated)
    return Fail("the Transform's translate is not animated: a track is a curve");
  if (channels[0].animated && channels[1].animated &&
      (channels[0].first != channels[1].first ||
       channels[0].keys.size() != channels[1].keys.size()))
    return Fail("the Transform's translate x and y curves do not have the same frames");
  info.startFrame = channels[channels[0].animated ? 0 : 1].first;
  if (knobs.count("label") != 0) info.name = Unquoted(knobs["label"]);
  auto points = Sum(c, channels);
  if (!points) return Fail(points.error);
  return Track{std::move(*points), std::move(info)};
}

}  // namespace tq::app::io
