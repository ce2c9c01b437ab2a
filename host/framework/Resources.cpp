#include "host/framework/Resources.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <limits>
#include <unordered_map>

namespace tq::framework {
namespace {

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

const std::unordered_map<std::string, DWORD>& StyleNames() {
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

class Parser {
 public:
  Parser(const std::string& text, const ResourceIncluder& includer)
      : lexer_(text, defines_, includer) {
    defines_["IDOK"] = IDOK;
    defines_["IDCANCEL"] = IDCANCEL;
    defines_["IDC_STATIC"] = IDC_STATIC;
    Advance();
  }

  std::unique_ptr<ResourceScript> Parse() {
    auto script = std::make_unique<ResourceScript>();
    while (tok_.kind != Tok::kEnd) {
      if (IsWord("STRINGTABLE")) {
        Advance();
        StringTable(*script);
        continue;
      }
      const int line = tok_.line;
      const int id = Id("a resource id or STRINGTABLE");
      if (!IsWord("DIALOG") && !IsWord("DIALOGEX")) {
        ThrowFault("expected DIALOG or DIALOGEX after resource id " + std::to_string(id));
      }
      Advance();
      DialogTemplate dialog = Dialog(id);
      if (!script->dialogs.emplace(id, std::move(dialog)).second) {
        throw Fault{line, "expected a dialog id not used before (" + std::to_string(id) + " is)"};
      }
    }
    return script;
  }

 private:
  [[noreturn]] void ThrowFault(const std::string& what) const { throw Fault{tok_.line, what}; }
  void Advance() { tok_ = lexer_.Next(); }
  bool IsWord(const char* w) const { return tok_.kind == Tok::kWord && tok_.text == w; }
  bool IsBegin() const { return IsWord("BEGIN") || tok_.kind == Tok::kLBrace; }
  bool IsEnd() const { return IsWord("END") || tok_.kind == Tok::kRBrace; }

  std::string Describe() const {
    if (tok_.kind == Tok::kEnd) return "the end of the file";
    return "\"" + tok_.text + "\"";
  }

  void Expect(Tok kind, const char* what) {
    if (tok_.kind != kind) ThrowFault(std::string("expected ") + what + ", found " + Describe());
    Advance();
  }

  int Id(const std::string& what) {
    long long v = 0;
    if (tok_.kind == Tok::kNumber) {
      v = tok_.number;
    } else if (tok_.kind == Tok::kWord && defines_.count(tok_.text) != 0) {
      v = defines_[tok_.text];
    } else {
      ThrowFault("expected " + what + ", found " + Describe());
    }
    if (v < -1 || v > 65535) ThrowFault("expected an id from 0 to 65535, found " + tok_.text);
    Advance();
    return static_cast<int>(v);
  }

  int Coordinate() {
    if (tok_.kind != Tok::kNumber || tok_.number < -32768 || tok_.number > 32767) {
      ThrowFault("expected a coordinate, found " + Describe());
    }
    const int v = static_cast<int>(tok_.number);
    Advance();
    return v;
  }

  std::string Text(const char* what) {
    if (tok_.kind != Tok::kString)
      ThrowFault(std::string("expected ") + what + ", found " + Describe());
    std::string s = tok_.text;
    Advance();
    return s;
  }

  // styles: term { | term }, term: [NOT] number | STYLE_NAME | defined name.
  DWORD Styles(DWORD base) {
    DWORD style = base;
    while (true) {
      bool negate = false;
      if (IsWord("NOT")) {
        negate = true;
        Advance();
      }
      DWORD bits = 0;
      if (tok_.kind == Tok::kNumber) {
        bits = static_cast<DWORD>(tok_.number & 0xFFFFFFFF);
      } else if (tok_.kind == Tok::kWord && StyleNames().count(tok_.text) != 0) {
        bits = StyleNames().at(tok_.text);
      } else if (tok_.kind == Tok::kWord && defines_.count(tok_.text) != 0) {
        bits = static_cast<DWORD>(defines_[tok_.text] & 0xFFFFFFFF);
      } else {
        ThrowFault("expected a style, found " + Describe());
      }
      Advance();
      style = negate ? (style & ~bits) : (style | bits);
      if (tok_.kind != Tok::kBar) return style;
      Advance();
    }
  }

  void StringTable(ResourceScript& script) {
    while (tok_.kind == Tok::kWord && !IsBegin()) Advance();  // DISCARDABLE, LANGUAGE ...
    if (!IsBegin()) ThrowFault("expected BEGIN after STRINGTABLE, found " + Describe());
    Advance();
    while (!IsEnd()) {
      if (tok_.kind == Tok::kEnd) ThrowFault("expected END of the STRINGTABLE");
      const int id = Id("a string id or END");
      if (tok_.kind == Tok::kComma) Advance();
      const int line = tok_.line;
      std::string text = Text("the string's text");
      if (!script.strings.emplace(id, std::move(text)).second) {
        throw Fault{line, "expected a string id not used before (" + std::to_string(id) + " is)"};
      }
    }
    Advance();
  }

  DialogTemplate Dialog(int id) {
    DialogTemplate d;
    d.id = id;
    while (tok_.kind == Tok::kWord && !IsBegin() && !IsWord("STYLE") && !IsWord("CAPTION") &&
           !IsWord("FONT") && !IsWord("EXSTYLE")) {
      Advance();  // DISCARDABLE and the like
    }
    Rect(d);
    if (tok_.kind == Tok::kComma) {  // help id
      Advance();
      Coordinate();
    }
    while (!IsBegin()) {
      if (IsWord("STYLE")) {
        Advance();
        d.style = Styles(0);
      } else if (IsWord("EXSTYLE")) {
        Advance();
        Styles(0);
      } else if (IsWord("CAPTION")) {
        Advance();
        d.caption = Text("the caption text");
      } else if (IsWord("FONT")) {
        Advance();
        const int size = Coordinate();
        Expect(Tok::kComma, "a comma");
        d.font = std::to_string(size) + " " + Text("the font's face name");
        while (tok_.kind == Tok::kComma) {  // weight, italic, charset
          Advance();
          Coordinate();
        }
      } else {
        ThrowFault("expected STYLE, CAPTION, FONT or BEGIN, found " + Describe());
      }
    }
    Advance();
    while (!IsEnd()) {
      if (tok_.kind == Tok::kEnd) ThrowFault("expected END of dialog " + std::to_string(id));
      d.controls.push_back(Control());
    }
    Advance();
    return d;
  }

  // x, y, cx, cy of a dialog or a control.
  template <class Template>
  void Rect(Template& c) {
    c.x = Coordinate();
    Expect(Tok::kComma, "a comma");
    c.y = Coordinate();
    Expect(Tok::kComma, "a comma");
    c.cx = Coordinate();
    Expect(Tok::kComma, "a comma");
    c.cy = Coordinate();
  }

  void OptionalStyle(ControlTemplate& c) {
    if (tok_.kind == Tok::kComma) {
      Advance();
      c.style = Styles(c.style);
    }
  }

  ControlTemplate Control() {
    if (tok_.kind != Tok::kWord) ThrowFault("expected a control statement, found " + Describe());
    const std::string kind = tok_.text;
    Advance();
    ControlTemplate c;
    c.style = WS_CHILD | WS_VISIBLE;
    if (kind == "COMBOBOX" || kind == "EDITTEXT") {
      c.cls = kind == "COMBOBOX" ? ControlClass::kComboBox : ControlClass::kEdit;
      c.style |= WS_TABSTOP;
      c.id = Id("a control id");
      Expect(Tok::kComma, "a comma");
      Rect(c);
      OptionalStyle(c);
      return c;
    }
    if (kind == "CONTROL") return GenericControl(c);
    if (TextControl(kind, c)) return c;
    ThrowFault("expected a control statement (COMBOBOX, EDITTEXT, CONTROL, LTEXT, ...), found \"" +
               kind + "\"");
  }

  // "text", id, the start that text controls and CONTROL share.
  void TextAndId(ControlTemplate& c) {
    c.text = Text("the control's text");
    Expect(Tok::kComma, "a comma");
    c.id = Id("a control id");
    Expect(Tok::kComma, "a comma");
  }

  // LTEXT, PUSHBUTTON, AUTORADIOBUTTON, ...: "text", id, x, y, cx, cy [, style].
  bool TextControl(const std::string& kind, ControlTemplate& c) {
    struct TextKind {
      const char* name;
      ControlClass cls;
      DWORD style;
    };
    static const TextKind textKinds[] = {
        {"LTEXT", ControlClass::kStatic, SS_LEFT},
        {"RTEXT", ControlClass::kStatic, 0x2},
        {"CTEXT", ControlClass::kStatic, 0x1},
        {"PUSHBUTTON", ControlClass::kButton, BS_PUSHBUTTON | WS_TABSTOP},
        {"DEFPUSHBUTTON", ControlClass::kButton, BS_DEFPUSHBUTTON | WS_TABSTOP},
        {"RADIOBUTTON", ControlClass::kButton, BS_RADIOBUTTON},
        {"AUTORADIOBUTTON", ControlClass::kButton, BS_AUTORADIOBUTTON},
        {"CHECKBOX", ControlClass::kButton, BS_CHECKBOX | WS_TABSTOP},
        {"AUTOCHECKBOX", ControlClass::kButton, BS_AUTOCHECKBOX | WS_TABSTOP},
        {"GROUPBOX", ControlClass::kButton, BS_GROUPBOX},
    };
    for (const TextKind& k : textKinds) {
      if (kind != k.name) continue;
      c.cls = k.cls;
      c.style |= k.style;
      TextAndId(c);
      Rect(c);
      OptionalStyle(c);
      return true;
    }
    return false;
  }

  // CONTROL "text", id, "class", style, x, y, cx, cy.
  ControlTemplate GenericControl(ControlTemplate& c) {
    TextAndId(c);
    std::string cls = Text("a window class such as \"Button\"");
    for (char& ch : cls) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    static const std::pair<const char*, ControlClass> kClasses[] = {
        {"button", ControlClass::kButton},
        {"combobox", ControlClass::kComboBox},
        {"edit", ControlClass::kEdit},
        {"static", ControlClass::kStatic}};
    const auto known = std::find_if(std::begin(kClasses), std::end(kClasses),
                                    [&](const auto& k) { return cls == k.first; });
    if (known == std::end(kClasses)) {
      ThrowFault("expected the class \"Button\", \"ComboBox\", \"Edit\" or \"Static\"");
    }
    c.cls = known->second;
    Expect(Tok::kComma, "a comma");
    c.style = Styles(c.style);
    Expect(Tok::kComma, "a comma");
    Rect(c);
    return c;
  }

  std::map<std::string, long long> defines_;
  Lexer lexer_;
  Token tok_;
};

}  // namespace

ResourceIncluder IncludeBeside(const std::string& fileName) {
  const auto slash = fileName.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : fileName.substr(0, slash + 1);
  return [folder](const std::string& name, std::string& why) -> std::optional<std::string> {
    const std::string path = name.empty() || name[0] == '/' ? name : folder + name;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
      why = path + ": not a regular file";
      return std::nullopt;
    }
    if (std::filesystem::file_size(path, ec) > kMaxHeaderBytes) {
      why = path + ": larger than 1 MiB";
      return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in) {
      why = path + ": cannot be read";
      return std::nullopt;
    }
    return text.str();
  };
}

ParsedResources ParseResourceScript(const std::string& text, const std::string& fileName,
                                    const ResourceIncluder& includer) {
  ParsedResources result;
  try {
    result.script = Parser(text, includer).Parse();
  } catch (const Fault& fault) {
    result.error = fileName + ":" + std::to_string(fault.line) + ": " + fault.what;
  }
  return result;
}

}  // namespace tq::framework
