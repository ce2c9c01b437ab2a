#include "host/scene/JsonSyntax.h"

#include <array>
#include <cstring>
#include <vector>

namespace tq::scene {
namespace {

class Checker {
 public:
  explicit Checker(std::string_view text) : text_(text) {}

  std::string Run() {
    // An explicit stack of open arrays and objects: no recursion, whatever
    // the depth.
    std::vector<char> open;
    if (!Value(open)) return error_;
    while (!open.empty()) {
      Blank();
      const char closer = open.back() == '{' ? '}' : ']';
      if (Peek() == closer) {
        ++pos_;
        open.pop_back();
        continue;
      }
      if (Peek() != ',')
        return Stop(open.back() == '{' ? "expected ',' or '}'" : "expected ',' or ']'");
      ++pos_;
      if (open.back() == '{' && !Key()) return error_;
      if (!Value(open)) return error_;
    }
    Blank();
    if (pos_ < text_.size()) return Stop("expected the end of the text");
    return "";
  }

 private:
  char Peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }

  void Blank() {
    while (pos_ < text_.size() && std::strchr(" \t\r\n", text_[pos_]) != nullptr &&
           text_[pos_] != '\0')
      ++pos_;
  }

  std::string Stop(const char* what) {
    std::size_t line = 1, lineStart = 0;
    const std::size_t at = pos_ < text_.size() ? pos_ : text_.size();
    for (std::size_t i = 0; i < at; ++i) {
      if (text_[i] == '\n') {
        ++line;
        lineStart = i + 1;
      }
    }
    error_ = "parse error at line " + std::to_string(line) + ", column " +
             std::to_string(at - lineStart + 1) + ": " + what;
    return error_;
  }

  // "key": of an object, after its '{' or ','.
  bool Key() {
    Blank();
    if (Peek() != '"') {
      // A word where a key belongs reads as far as it spells a literal.
      if (Peek() != '\0' && std::strchr("tfn", Peek()) != nullptr) {
        const std::size_t start = pos_;
        if (Literal()) {  // a whole literal is still not a key
          pos_ = start;
          Stop("expected a string as an object key");
        }
        return false;
      }
      Stop("expected a string as an object key");
      return false;
    }
    if (!String()) return false;
    Blank();
    if (Peek() != ':') {
      Stop("expected ':'");
      return false;
    }
    ++pos_;
    return true;
  }

  // One value; an array or object opened is left on the stack.
  bool Value(std::vector<char>& open) {
    Blank();
    const char c = Peek();
    if (c == '{' || c == '[') {
      ++pos_;
      Blank();
      if (Peek() == (c == '{' ? '}' : ']')) {
        ++pos_;
        return true;
      }
      open.push_back(c);
      return c == '{' ? Key() && Value(open) : Value(open);
    }
    if (c == '"') return String();
    if (c == '-' || (c >= '0' && c <= '9')) return Number();
    if (c != '\0' && std::strchr("tfn", c) != nullptr) return Literal();
    Stop(c == '\0' ? "unexpected end of the text" : "expected a value");
    return false;
  }

  bool Literal() {
    const char* word = Peek() == 't' ? "true" : Peek() == 'f' ? "false" : "null";
    for (const char* w = word; *w != '\0'; ++w, ++pos_) {
      if (Peek() != *w) {
        Stop("invalid literal");
        return false;
      }
    }
    return true;
  }

  bool String() {
    ++pos_;
    while (pos_ < text_.size()) {
      const auto c = static_cast<unsigned char>(text_[pos_]);
      if (c == '"') {
        ++pos_;
        return true;
      }
      if (c < 0x20) {
        Stop("control character in a string");
        return false;
      }
      if (c == '\\') {
        ++pos_;
        const char e = Peek();
        if (e == 'u') {
          for (int i = 0; i < 4; ++i) {
            ++pos_;
            if (std::strchr("0123456789abcdefABCDEF", Peek()) == nullptr || Peek() == '\0') {
              Stop("invalid \\u escape");
              return false;
            }
          }
        } else if (e == '\0' || std::strchr("\"\\/bfnrt", e) == nullptr) {
          Stop("invalid escape");
          return false;
        }
      }
      ++pos_;
    }
    Stop("unterminated string");
    return false;
  }

  bool Digits() {
    if (Peek() < '0' || Peek() > '9') {
      Stop("invalid number");
      return false;
    }
    while (Peek() >= '0' && Peek() <= '9') ++pos_;
    return true;
  }

  bool Number() {
    if (Peek() == '-') ++pos_;
    if (Peek() == '0') {
      ++pos_;
    } else if (!Digits()) {
      return false;
    }
    if (Peek() == '.') {
      ++pos_;
      if (!Digits()) return false;
    }
    if (Peek() == 'e' || Peek() == 'E') {
      ++pos_;
      if (Peek() == '+' || Peek() == '-') ++pos_;
      if (!Digits()) return false;
    }
    return true;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  std::string error_;
};

}  // namespace

std::string DescribeJsonSyntaxError(std::string_view text) {
  return Checker(text).Run();
}

namespace {

// The end of the string whose opening quote is at p[-1]: past its closing
// quote, or end when it has none.
const char* StringEnd(const char* p, const char* end) {
  for (;;) {
    const void* quote = std::memchr(p, '"', static_cast<std::size_t>(end - p));
    if (quote == nullptr) return end;
    const char* q = static_cast<const char*>(quote);
    std::size_t backslashes = 0;
    while (q - backslashes > p && q[-1 - static_cast<std::ptrdiff_t>(backslashes)] == '\\')
      ++backslashes;
    p = q + 1;
    if (backslashes % 2 == 0) return p;
  }
}

// The JSON path of the value at offset, read from the text before it.
std::string PathAt(std::string_view text, std::size_t offset) {
  struct Step {
    bool isIndex;
    std::size_t index = 0;
    std::string_view key;
    bool keyNext = true;
  };
  std::vector<Step> steps;
  const char* const begin = text.data();
  for (const char* p = begin; p < begin + offset;) {
    const char c = *p++;
    if (c == '"') {
      const char* e = StringEnd(p, begin + offset);
      if (!steps.empty() && !steps.back().isIndex && steps.back().keyNext) {
        steps.back().key = std::string_view(p, static_cast<std::size_t>(e - 1 - p));
        steps.back().keyNext = false;
      }
      p = e;
    } else if (c == '[' || c == '{') {
      steps.push_back({c == '[', 0, {}, true});
    } else if ((c == ']' || c == '}') && !steps.empty()) {
      steps.pop_back();
    } else if (c == ',' && !steps.empty()) {
      ++steps.back().index;
      steps.back().keyNext = true;
    }
  }
  // The first four steps and the last two, when there are more than eight.
  std::string path;
  for (std::size_t i = 0; i < steps.size(); ++i) {
    if (steps.size() > 8 && i == 4) {
      path += "...";
      i = steps.size() - 2;
    }
    if (steps[i].isIndex) {
      path += '[';
      path += std::to_string(steps[i].index);
      path += ']';
    } else {
      if (!path.empty() && path.back() != '.') path += '.';
      path += steps[i].key;
    }
  }
  return path.empty() ? "(document)" : path;
}

// Printable ASCII, its escapes one of \" \\ \/ \b \f \n \r \t: a JSON
// string's contents as they stand, whatever a parse would make of the text
// around them.
bool PlainAscii(std::string_view s) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] < ' ' || s[i] > '~') return false;
    if (s[i] == '\\' &&
        (++i == s.size() || std::string_view("\"\\/bfnrt").find(s[i]) == std::string_view::npos))
      return false;
  }
  return true;
}

}  // namespace

DeepNesting NestingDeeperThan(std::string_view text, int limit) {
  // What each byte does to the depth: +1, -1, or 2 for a quote that opens a
  // string (a table: the scan runs over every scene loaded).
  static const auto kKinds = [] {
    std::array<signed char, 256> kinds{};
    kinds['['] = kinds['{'] = 1;
    kinds[']'] = kinds['}'] = -1;
    kinds['"'] = 2;
    return kinds;
  }();
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  int depth = 0;
  for (const char* p = begin; p < end; ++p) {
    const int kind = kKinds[static_cast<unsigned char>(*p)];
    if (kind == 0) continue;
    if (kind == 2) {
      p = StringEnd(p + 1, end) - 1;  // on the closing quote
      continue;
    }
    depth += kind;
    if (depth > limit) {
      const std::size_t offset = static_cast<std::size_t>(p - begin);
      return {offset, PathAt(text, offset)};
    }
  }
  return {};
}

std::vector<TextSpan> ListMemberStrings(std::string_view text, std::string_view list,
                                        std::string_view key, std::string_view prefix) {
  std::vector<TextSpan> spans;
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  int depth = 0;
  bool inList = false;                 // in the array at the top object's key `list`
  std::string_view topKey, memberKey;  // the last keys at depths 1 and 3
  for (const char* p = begin; p < end; ++p) {
    const char c = *p;
    if (c == '"') {
      const char* e = StringEnd(p + 1, end);
      // A string still open at the end (or closed by the text's last byte):
      // no JSON object ends there, and its contents reach no further.
      if (e == end) break;
      const std::string_view contents(p + 1, static_cast<std::size_t>(e - 1 - (p + 1)));
      const char* after = e;
      while (after < end && std::strchr(" \t\r\n", *after) != nullptr && *after != '\0') ++after;
      if (after < end && *after == ':') {
        if (depth == 1) topKey = contents;
        if (depth == 3) memberKey = contents;
      } else if (inList && depth == 3 && memberKey == key && contents.starts_with(prefix) &&
                 PlainAscii(contents)) {
        spans.push_back({static_cast<std::size_t>(p - begin), static_cast<std::size_t>(e - p)});
      }
      p = e - 1;
    } else if (c == '[' || c == '{') {
      ++depth;
      if (depth == 2) inList = c == '[' && topKey == list;
      if (depth == 3) memberKey = {};
    } else if (c == ']' || c == '}') {
      if (depth == 2) inList = false;
      --depth;
    }
  }
  return spans;
}

}  // namespace tq::scene
