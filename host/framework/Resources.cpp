#include "host/framework/Resources.h"

#include "host/framework/ResourceLexer.h"

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

using resource_script::Fault;
using resource_script::Lexer;
using resource_script::StyleNames;
using resource_script::Tok;
using resource_script::Token;

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
