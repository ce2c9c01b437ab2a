#include "host/app/HtmlPreview.h"

#include <algorithm>
#include <cctype>

#include <nlohmann/json.hpp>

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

// JSON that can stand inside a <script> element: '<', '>' and '&' occur only
// inside strings, where their \u escapes mean the same characters.
std::string ScriptSafe(const std::string& json) {
  std::string out;
  out.reserve(json.size());
  for (const char c : json) {
    if (c == '<') {
      out += "\\u003c";
    } else if (c == '>') {
      out += "\\u003e";
    } else if (c == '&') {
      out += "\\u0026";
    } else {
      out += c;
    }
  }
  return out;
}

std::string PageData(const HtmlPage& page) {
  using json = nlohmann::ordered_json;
  json data = {{"camera", page.camera},   {"width", page.width},      {"height", page.height},
               {"fps", page.fps},         {"start", page.startFrame}, {"plate", nullptr},
               {"targets", json::array()}};
  if (page.plate) {
    data["plate"] = {
        {"head", page.plate->head}, {"digits", page.plate->digits}, {"tail", page.plate->tail}};
  }
  for (const HtmlTrack& track : page.tracks) {
    json x = json::array(), y = json::array(), unprojected = json::array(), behind = json::array();
    for (std::size_t i = 0; i < track.points.size(); ++i) {
      const TrackPoint& p = track.points[i];
      x.push_back(p.x);
      y.push_back(p.y);
      if (Unprojected(p)) {
        unprojected.push_back(i);
      } else if (i < track.behind.size() && track.behind[i]) {
        behind.push_back(i);
      }
    }
    data["targets"].push_back({{"name", track.target},
                               {"mode", track.mode},
                               {"x", std::move(x)},
                               {"y", std::move(y)},
                               {"unprojected", std::move(unprojected)},
                               {"behind", std::move(behind)}});
  }
  // Names that are not UTF-8 show U+FFFD where a byte does not fit.
  return ScriptSafe(data.dump(-1, ' ', false, json::error_handler_t::replace));
}

}  // namespace

scene::Result<PlatePattern> ParsePlate(const std::string& pattern) {
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
        return scene::Fail("a '%' must begin %d, %0Nd or %% (write '%%' for a '%' of the name)");
      }
      ++end;
      digits = width.empty() ? 0 : (width.size() > 2 ? 99 : std::stoi(width));
    } else {
      *part += c;
      continue;
    }
    if (part == &tail) {
      return scene::Fail("more than one frame field (#### or %04d)");
    }
    if (digits > 32) {
      return scene::Fail("a frame field of more than 32 digits");
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
  return kHtmlPageHead + PageData(page) + kHtmlPageTail;
}

}  // namespace tq::app
