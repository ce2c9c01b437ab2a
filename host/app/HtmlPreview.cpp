#include "host/app/HtmlPreview.h"

#include <cctype>
#include <charconv>
#include <cstring>

#include "host/app/HtmlPageText.h"

namespace tq::app {

namespace {

// A piece of a file name as part of a relative URL: unreserved characters
// and '/' stay, everything else (quotes, spaces, '#', '?', '%', ':', bytes
// of UTF-8) is percent-encoded, so the browser reads it as a path and
// nothing but a path.
std::string UrlPath(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (std::isalnum(u) || c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
      out += c;
    } else {
      out += '%';
      out += kHex[u >> 4];
      out += kHex[u & 15];
    }
  }
  return out;
}

// The page's data is written straight into its text, with no tree of values
// on the way: freeing a tree takes memory of its own, which a run short of
// memory may not have. The text is JSON that can stand inside a <script>
// element: '<', '>' and '&' occur only inside strings, written there as
// their \u escapes, which mean the same characters.

// The length of the UTF-8 sequence that starts at text[i], or 0 when the
// bytes there are not one (a stray continuation byte, an overlong form, a
// surrogate, a sequence cut short or beyond U+10FFFF).
std::size_t Utf8Length(const std::string& text, std::size_t i) {
  const auto at = [&](std::size_t k) {
    return i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0u;
  };
  const unsigned lead = at(0);
  const auto follows = [&](std::size_t k, unsigned low = 0x80, unsigned high = 0xBF) {
    return at(k) >= low && at(k) <= high;
  };
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return follows(1) ? 2 : 0;
  if (lead >= 0xE0 && lead <= 0xEF) {
    const unsigned low = lead == 0xE0 ? 0xA0 : 0x80, high = lead == 0xED ? 0x9F : 0xBF;
    return follows(1, low, high) && follows(2) ? 3 : 0;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    const unsigned low = lead == 0xF0 ? 0x90 : 0x80, high = lead == 0xF4 ? 0x8F : 0xBF;
    return follows(1, low, high) && follows(2) && follows(3) ? 4 : 0;
  }
  return 0;
}

// A JSON string. A byte that is not part of UTF-8 shows as U+FFFD.
void AppendString(std::string& out, const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  out += '"';
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    const auto u = static_cast<unsigned char>(c);
    const std::size_t n = Utf8Length(text, i);
    if (n == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
      continue;
    }
    if (n > 1) {
      out.append(text, i, n);
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20 || c == '<' || c == '>' || c == '&') {
      out += "\\u00";
      out += kHex[u >> 4];
      out += kHex[u & 15];
    } else {
      out += c;
    }
    i += n;
  }
  out += '"';
}

template <class Number>
void AppendNumber(std::string& out, Number value) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  out.append(text, end);
}

// One of a track's values, as the file has it (with its decimals: the
// viewer shows them again with toFixed). Every coordinate of the page is
// written here.
void AppendCoordinate(std::string& out, std::int64_t value, int decimals) {
  char text[32];
  out.append(text, WriteDecimals(text, value, decimals));
}

// A key and the start of its value, after the first key of an object.
void AppendKey(std::string& out, const char* key) {
  out += ",\"";
  out += key;
  out += "\":";
}

void AppendTrack(std::string& out, const HtmlTrack& track) {
  out += "{\"name\":";
  AppendString(out, track.target);
  AppendKey(out, "mode");
  AppendString(out, track.mode);
  const std::vector<TrackPoint>& points = track.points;
  AppendKey(out, "decimals");
  AppendNumber(out, points.empty() ? 0 : points[0].decimals);
  AppendKey(out, "x");
  for (std::size_t i = 0; i < points.size(); ++i) {
    out += i == 0 ? '[' : ',';
    AppendCoordinate(out, points[i].x, points[i].decimals);
  }
  out += points.empty() ? "[]" : "]";
  AppendKey(out, "y");
  for (std::size_t i = 0; i < points.size(); ++i) {
    out += i == 0 ? '[' : ',';
    AppendCoordinate(out, points[i].y, points[i].decimals);
  }
  out += points.empty() ? "[]" : "]";
  // The frames marked: those not projected, and of the others those behind
  // the camera.
  for (const bool unprojected : {true, false}) {
    AppendKey(out, unprojected ? "unprojected" : "behind");
    out += '[';
    bool first = true;
    for (std::size_t i = 0; i < points.size(); ++i) {
      const bool behind = i < track.behind.size() && track.behind[i];
      if (unprojected ? !Unprojected(points[i]) : Unprojected(points[i]) || !behind) continue;
      if (!first) out += ',';
      first = false;
      AppendNumber(out, i);
    }
    out += ']';
  }
  out += '}';
}

void AppendPageData(std::string& out, const HtmlPage& page) {
  out += "{\"camera\":";
  AppendString(out, page.camera);
  AppendKey(out, "width");
  AppendNumber(out, page.width);
  AppendKey(out, "height");
  AppendNumber(out, page.height);
  AppendKey(out, "fps");
  AppendNumber(out, page.fps);
  AppendKey(out, "start");
  AppendNumber(out, page.startFrame);
  AppendKey(out, "plate");
  if (page.plate) {
    out += "{\"head\":";
    AppendString(out, page.plate->head);
    AppendKey(out, "digits");
    AppendNumber(out, page.plate->digits);
    AppendKey(out, "tail");
    AppendString(out, page.plate->tail);
    out += '}';
  } else {
    out += "null";
  }
  AppendKey(out, "targets");
  out += '[';
  for (std::size_t i = 0; i < page.tracks.size(); ++i) {
    if (i > 0) out += ',';
    AppendTrack(out, page.tracks[i]);
  }
  out += "]}";
}

}  // namespace

Result<PlatePattern> ParsePlate(const std::string& pattern) {
  PlatePattern plate;
  std::string head, tail;
  std::string* part = &head;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    std::size_t end = i;
    int digits = -1;
    if (c == '#') {
      while (end < pattern.size() && pattern[end] == '#') ++end;
      digits = static_cast<int>(end - i);
    } else if (c == '%' && i + 1 < pattern.size() && pattern[i + 1] == '%') {
      *part += '%';
      ++i;
      continue;
    } else if (c == '%') {
      end = i + 1;
      const bool zero = end < pattern.size() && pattern[end] == '0';
      while (end < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[end]))) ++end;
      const std::string width =
          pattern.substr(i + 1 + (zero ? 1 : 0), end - i - 1 - (zero ? 1 : 0));
      if (end >= pattern.size() || pattern[end] != 'd' || (!zero && !width.empty()) ||
          (zero && width.empty())) {
        return Fail("a '%' must begin %d, %0Nd or %% (write '%%' for a '%' of the name)");
      }
      ++end;
      digits = width.empty() ? 0 : (width.size() > 2 ? 99 : std::stoi(width));
    } else {
      *part += c;
      continue;
    }
    if (part == &tail) {
      return Fail("more than one frame field (#### or %04d)");
    }
    if (digits > 32) {
      return Fail("a frame field of more than 32 digits");
    }
    plate.digits = digits;
    part = &tail;
    i = end - 1;
  }
  // "//x" is a path on this machine ("/x"), never a host's name.
  const auto slashes = head.find_first_not_of('/');
  if (slashes != std::string::npos && slashes > 1) head.erase(0, slashes - 1);
  plate.head = UrlPath(head);
  plate.tail = UrlPath(tail);
  return plate;
}

namespace {
// The last five characters of a name, in lower case.
std::string LowerTail(const std::string& path) {
  std::string lower;
  for (const char c : path.substr(path.size() > 5 ? path.size() - 5 : 0))
    lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}
}  // namespace

bool IsHtmlPath(const std::string& path) {
  const std::string lower = LowerTail(path);
  return lower.ends_with(".html") || lower.ends_with(".htm");
}

bool IsSvgPath(const std::string& path) {
  return LowerTail(path).ends_with(".svg");
}

std::string RenderHtmlPreview(const HtmlPage& page) {
  // Made once at about its size (a value takes a few bytes) and then filled.
  std::size_t size = std::strlen(kHtmlPageHead) + std::strlen(kHtmlPageTail) + 256;
  for (const HtmlTrack& track : page.tracks)
    size += 64 + 2 * (track.target.size() + track.mode.size()) + 16 * track.points.size();
  std::string text;
  text.reserve(size);
  text += kHtmlPageHead;
  AppendPageData(text, page);
  text += kHtmlPageTail;
  return text;
}

}  // namespace tq::app
