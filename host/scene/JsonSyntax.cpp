#include "host/scene/JsonSyntax.h"

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
        return Fail(open.back() == '{' ? "expected ',' or '}'" : "expected ',' or ']'");
      ++pos_;
      if (open.back() == '{' && !Key()) return error_;
      if (!Value(open)) return error_;
    }
    Blank();
    if (pos_ < text_.size()) return Fail("expected the end of the text");
    return "";
  }

 private:
  char Peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }

  void Blank() {
    while (pos_ < text_.size() && std::strchr(" \t\r\n", text_[pos_]) != nullptr &&
           text_[pos_] != '\0')
      ++pos_;
  }

  std::string Fail(const char* what) {
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
        Literal();
        return false;
      }
      Fail("expected a string as an object key");
      return false;
    }
    if (!String()) return false;
    Blank();
    if (Peek() != ':') {
      Fail("expected ':'");
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
    Fail(c == '\0' ? "unexpected end of the text" : "expected a value");
    return false;
  }

  bool Literal() {
    const char* word = Peek() == 't' ? "true" : Peek() == 'f' ? "false" : "null";
    for (const char* w = word; *w != '\0'; ++w, ++pos_) {
      if (Peek() != *w) {
        Fail("invalid literal");
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
        Fail("control character in a string");
        return false;
      }
      if (c == '\\') {
        ++pos_;
        const char e = Peek();
        if (e == 'u') {
          for (int i = 0; i < 4; ++i) {
            ++pos_;
            if (std::strchr("0123456789abcdefABCDEF", Peek()) == nullptr || Peek() == '\0') {
              Fail("invalid \\u escape");
              return false;
            }
          }
        } else if (e == '\0' || std::strchr("\"\\/bfnrt", e) == nullptr) {
          Fail("invalid escape");
          return false;
        }
      }
      ++pos_;
    }
    Fail("unterminated string");
    return false;
  }

  bool Digits() {
    if (Peek() < '0' || Peek() > '9') {
      Fail("invalid number");
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

int LineNestingDeeperThan(std::string_view text, int limit) {
  int depth = 0, line = 1;
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\n') ++line;
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if ((c == '[' || c == '{') && ++depth > limit) {
      return line;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return 0;
}

}  // namespace tq::scene
