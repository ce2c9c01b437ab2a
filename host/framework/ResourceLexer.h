// The resource script's lexer: tokens with their lines, the preprocessor's
// #define, #include, #if and #ifdef followed as a resource compiler does,
// and the style names a script may use. For the parser in Resources.cpp only.
#pragma once

#include <algorithm>
#include <cctype>
#include <charconv>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/framework/Resources.h"

namespace tq::framework::resource_script {

struct Fault {
  int line;
  std::string what;
};

enum class Tok { kEnd, kWord, kNumber, kString, kComma, kBar, kLBrace, kRBrace };

struct Token {
  Tok kind = Tok::kEnd;
  std::string text;
  long long number = 0;
  int line = 1;
};

inline const std::unordered_map<std::string, DWORD>& StyleNames() {
  static const std::unordered_map<std::string, DWORD> names = {
      {"WS_TABSTOP", WS_TABSTOP},
      {"WS_GROUP", WS_GROUP},
      {"WS_VSCROLL", WS_VSCROLL},
      {"WS_HSCROLL", 0x00100000},
      {"WS_BORDER", WS_BORDER},
      {"WS_CAPTION", WS_CAPTION},
      {"WS_SYSMENU", WS_SYSMENU},
      {"WS_DISABLED", WS_DISABLED},
      {"WS_VISIBLE", WS_VISIBLE},
      {"WS_CHILD", WS_CHILD},
      {"WS_POPUP", WS_POPUP},
      {"WS_DLGFRAME", 0x00400000},
      {"WS_THICKFRAME", 0x00040000},
      {"WS_EX_CLIENTEDGE", 0x200},
      {"WS_EX_STATICEDGE", 0x20000},
      {"DS_MODALFRAME", DS_MODALFRAME},
      {"DS_SETFONT", DS_SETFONT},
      {"DS_CENTER", DS_CENTER},
      {"DS_FIXEDSYS", 0x0008},
      {"DS_3DLOOK", 0x0004},
      {"DS_SHELLFONT", 0x0048},
      {"BS_PUSHBUTTON", BS_PUSHBUTTON},
      {"BS_DEFPUSHBUTTON", BS_DEFPUSHBUTTON},
      {"BS_CHECKBOX", BS_CHECKBOX},
      {"BS_AUTOCHECKBOX", BS_AUTOCHECKBOX},
      {"BS_RADIOBUTTON", BS_RADIOBUTTON},
      {"BS_GROUPBOX", BS_GROUPBOX},
      {"BS_AUTORADIOBUTTON", BS_AUTORADIOBUTTON},
      {"BS_LEFT", 0x100},
      {"BS_FLAT", 0x8000},
      {"CBS_SIMPLE", 0x0001},
      {"CBS_DROPDOWN", CBS_DROPDOWN},
      {"CBS_DROPDOWNLIST", CBS_DROPDOWNLIST},
      {"CBS_AUTOHSCROLL", CBS_AUTOHSCROLL},
      {"CBS_SORT", CBS_SORT},
      {"CBS_HASSTRINGS", 0x0200},
      {"ES_LEFT", ES_LEFT},
      {"ES_CENTER", 0x1},
      {"ES_RIGHT", 0x2},
      {"ES_NUMBER", ES_NUMBER},
      {"ES_AUTOHSCROLL", ES_AUTOHSCROLL},
      {"ES_READONLY", 0x0800},
      {"SS_LEFT", SS_LEFT},
      {"SS_CENTER", 0x1},
      {"SS_RIGHT", 0x2},
      {"SS_SUNKEN", 0x1000},
      {"SS_LEFTNOWORDWRAP", 0xC},
      {"SS_PATHELLIPSIS", 0x8000},
  };
  return names;
}

class Lexer {
 public:
  Lexer(const std::string& text, std::map<std::string, long long>& defines,
        const ResourceIncluder& includer, int depth = 0)
      : text_(text), defines_(defines), includer_(includer), depth_(depth) {}

  Token Next() {
    SkipSpaceAndDirectives();
    Token t;
    t.line = line_;
    if (pos_ >= text_.size()) return t;
    const char c = text_[pos_];
    if (c == ',') return Single(t, Tok::kComma);
    if (c == '|') return Single(t, Tok::kBar);
    if (c == '{') return Single(t, Tok::kLBrace);
    if (c == '}') return Single(t, Tok::kRBrace);
    if (c == '"') return String(t);
    if (std::isdigit(static_cast<unsigned char>(c)) || c == '-') return Number(t);
    if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
      std::size_t start = pos_;
      while (pos_ < text_.size() &&
             (std::isalnum(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '_')) {
        ++pos_;
      }
      t.kind = Tok::kWord;
      t.text = text_.substr(start, pos_ - start);
      return t;
    }
    throw Fault{line_, std::string("unexpected character '") + c + "'"};
  }

 private:
  Token Single(Token& t, Tok kind) {
    t.kind = kind;
    t.text = text_.substr(pos_++, 1);
    return t;
  }

  Token String(Token& t) {
    ++pos_;
    t.kind = Tok::kString;
    while (true) {
      if (pos_ >= text_.size() || text_[pos_] == '\n')
        throw Fault{t.line, "expected the closing \" of a string"};
      const char c = text_[pos_++];
      if (c == '"') {
        if (pos_ < text_.size() && text_[pos_] == '"') {
          t.text += '"';
          ++pos_;
          continue;
        }
        return t;
      }
      if (c == '\\' && pos_ < text_.size()) {
        const char e = text_[pos_++];
        t.text += e == 'n' ? '\n' : e == 't' ? '\t' : e;
        continue;
      }
      t.text += c;
    }
  }

  Token Number(Token& t) {
    std::size_t start = pos_;
    bool negative = false;
    if (text_[pos_] == '-') {
      negative = true;
      ++pos_;
    }
    int base = 10;
    if (pos_ + 1 < text_.size() && text_[pos_] == '0' &&
        (text_[pos_ + 1] == 'x' || text_[pos_ + 1] == 'X')) {
      base = 16;
      pos_ += 2;
    }
    std::size_t digits = pos_;
    while (pos_ < text_.size() && std::isxdigit(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    unsigned long long value = 0;
    const auto r = std::from_chars(text_.data() + digits, text_.data() + pos_, value, base);
    if (digits == pos_ || r.ec != std::errc() || r.ptr != text_.data() + pos_ ||
        value > 0xFFFFFFFFull) {
      throw Fault{line_, "expected a number, not \"" + text_.substr(start, pos_ - start) + "\""};
    }
    // A trailing L or U suffix, as C allows.
    while (pos_ < text_.size() && (text_[pos_] == 'L' || text_[pos_] == 'U')) ++pos_;
    t.kind = Tok::kNumber;
    t.number = negative ? -static_cast<long long>(value) : static_cast<long long>(value);
    t.text = text_.substr(start, pos_ - start);
    return t;
  }

  void SkipSpaceAndDirectives() {
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (c == '\n') {
        ++line_;
        ++pos_;
        atLineStart_ = true;
      } else if (std::isspace(static_cast<unsigned char>(c))) {
        ++pos_;
      } else if (text_.compare(pos_, 2, "//") == 0) {
        while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
      } else if (text_.compare(pos_, 2, "/*") == 0) {
        const std::size_t end = text_.find("*/", pos_ + 2);
        if (end == std::string::npos) throw Fault{line_, "expected the end */ of a comment"};
        for (std::size_t i = pos_; i < end; ++i) line_ += text_[i] == '\n';
        pos_ = end + 2;
      } else if (c == '#' && atLineStart_) {
        Directive();
      } else {
        atLineStart_ = false;
        return;
      }
    }
  }

  void Directive() {
    std::size_t end = text_.find('\n', pos_);
    if (end == std::string::npos) end = text_.size();
    const std::string line = text_.substr(pos_, end - pos_);
    pos_ = end;
    if (line.rfind("#include", 0) == 0 && includer_) return Include(line);
    if (line.rfind("#define", 0) != 0) return;  // #pragma, #if, ...
    std::size_t i = 7;
    auto skip = [&] {
      while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    };
    skip();
    std::size_t nameStart = i;
    while (i < line.size() && (std::isalnum(static_cast<unsigned char>(line[i])) || line[i] == '_'))
      ++i;
    const std::string name = line.substr(nameStart, i - nameStart);
    skip();
    std::size_t valueStart = i;
    while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i])) && line[i] != '/')
      ++i;
    std::string value = line.substr(valueStart, i - valueStart);
    if (name.empty()) throw Fault{line_, "expected a name after #define"};
    long long number = 0;
    int base = 10;
    std::size_t from = 0;
    bool negative = !value.empty() && value[0] == '-';
    if (negative) from = 1;
    if (value.compare(from, 2, "0x") == 0 || value.compare(from, 2, "0X") == 0) {
      base = 16;
      from += 2;
    }
    const auto r = std::from_chars(value.data() + from, value.data() + value.size(), number, base);
    if (value.size() == from || r.ec != std::errc() || r.ptr != value.data() + value.size()) {
      const auto known = defines_.find(value);
      if (known == defines_.end()) {
        throw Fault{line_, "expected a number or a defined name after #define " + name};
      }
      number = known->second;
    } else if (negative) {
      number = -number;
    }
    defines_[name] = number;
  }

  // #include "header": a header of #define lines (and comments), whose names
  // then stand in the script, as a resource compiler takes them.
  void Include(const std::string& line) {
    const auto open = line.find('"');
    const auto close = open == std::string::npos ? open : line.find('"', open + 1);
    if (close == std::string::npos) throw Fault{line_, "expected #include \"header\""};
    const std::string name = line.substr(open + 1, close - open - 1);
    if (depth_ >= kMaxIncludeDepth) {
      throw Fault{line_, "cannot include \"" + name + "\": includes nested too deep"};
    }
    std::string why;
    const std::optional<std::string> header = includer_(name, why);
    if (!header) {
      throw Fault{line_, "cannot include \"" + name + "\": " + (why.empty() ? "not found" : why)};
    }
    Lexer inner(*header, defines_, includer_, depth_ + 1);
    try {
      inner.SkipSpaceAndDirectives();
      if (inner.pos_ < inner.text_.size()) {
        throw Fault{inner.line_, "expected only #define lines and comments"};
      }
    } catch (const Fault& fault) {
      throw Fault{line_,
                  "in \"" + name + "\" line " + std::to_string(fault.line) + ": " + fault.what};
    }
  }

  static constexpr int kMaxIncludeDepth = 8;
  const std::string& text_;
  std::map<std::string, long long>& defines_;
  const ResourceIncluder& includer_;
  int depth_;
  std::size_t pos_ = 0;
  int line_ = 1;
  bool atLineStart_ = true;
};

}  // namespace tq::framework::resource_script
