// A reader of Nuke's script syntax written for the tests, from the public
// description of .nk files (Tcl words): bare words, "quoted" words with
// backslash escapes, {braced} lists nesting; a node is its class followed by
// a braced list of knob names and values; an animated value is {curve xF v
// v ...}, a key a frame from F on. Nothing of tqhost's is used.
#pragma once

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace tq::testing {

struct NukeWord {
  std::string text;            // a bare or quoted word
  std::vector<NukeWord> list;  // a braced word's words
  bool braced = false;
};

inline std::vector<NukeWord> NukeWords(const std::string& s, std::size_t& at, bool inBraces) {
  std::vector<NukeWord> words;
  while (true) {
    while (at < s.size() && (s[at] == ' ' || s[at] == '\n' || s[at] == '\t')) ++at;
    if (at == s.size()) {
      if (inBraces) throw std::runtime_error("an open brace is not closed");
      return words;
    }
    NukeWord w;
    if (s[at] == '}') {
      if (!inBraces) throw std::runtime_error("a closing brace without its opening one");
      ++at;
      return words;
    } else if (s[at] == '{') {
      w.braced = true;
      w.list = NukeWords(s, ++at, true);
    } else if (s[at] == '"') {
      for (++at; at < s.size() && s[at] != '"'; ++at) {
        if (s[at] != '\\') {
          w.text += s[at];
        } else if (s[++at] >= '0' && s[at] <= '7') {
          w.text += static_cast<char>(std::stoi(s.substr(at, 3), nullptr, 8));
          at += 2;
        } else {
          w.text += s[at] == 'n' ? '\n' : s[at] == 't' ? '\t' : s[at];
        }
      }
      if (at++ == s.size()) throw std::runtime_error("a quote is not closed");
    } else {
      while (at < s.size() && std::string(" \n\t{}\"").find(s[at]) == std::string::npos)
        w.text += s[at++];
    }
    words.push_back(w);
  }
}

// The knobs of the first node of a class in a script, by name.
inline std::map<std::string, NukeWord> NukeNode(const std::string& script,
                                                const std::string& nodeClass) {
  std::size_t at = 0;
  const std::vector<NukeWord> words = NukeWords(script, at, false);
  for (std::size_t i = 0; i + 1 < words.size(); ++i) {
    if (words[i].braced || words[i].text != nodeClass || !words[i + 1].braced) continue;
    std::map<std::string, NukeWord> knobs;
    const auto& list = words[i + 1].list;
    for (std::size_t k = 0; k + 1 < list.size(); k += 2) knobs[list[k].text] = list[k + 1];
    return knobs;
  }
  throw std::runtime_error("no " + nodeClass + " node");
}

// A decimal text as a whole number of 10^-decimals ("-0.25" at 3: -250).
inline std::int64_t NukeCounts(const std::string& text, int decimals) {
  const std::size_t point = text.find('.');
  std::string fraction = point == std::string::npos ? "" : text.substr(point + 1);
  if (static_cast<int>(fraction.size()) > decimals) throw std::runtime_error("too many digits");
  fraction.append(static_cast<std::size_t>(decimals) - fraction.size(), '0');
  return std::stoll(text.substr(0, point) + fraction);
}

// The keys of a value, as frame and value text: a curve's, or a constant's
// at frame 0.
inline std::map<double, std::string> NukeKeys(const NukeWord& value) {
  if (!value.braced) return {{0.0, value.text}};
  if (value.list.empty() || value.list[0].text != "curve") throw std::runtime_error("not a curve");
  std::map<double, std::string> keys;
  double frame = 0;
  for (std::size_t i = 1; i < value.list.size(); ++i) {
    const std::string& t = value.list[i].text;
    if (t[0] == 'x') {
      frame = std::stod(t.substr(1));
    } else {
      keys[frame] = t;
      frame += 1;
    }
  }
  return keys;
}

}  // namespace tq::testing
