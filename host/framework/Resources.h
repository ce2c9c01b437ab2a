// Resource scripts: the subset of the Windows .rc syntax that carries a
// module's string table and dialog templates.
//
//   #define NAME 1000            (defines; other lines starting with # are
//   #include "header.h"           ignored; an included header holds only
//                                 #define lines and comments)
//   // and /* */ comments
//   STRINGTABLE [options] BEGIN  id "text" ...  END     ({ } may stand for BEGIN/END)
//   id DIALOG|DIALOGEX x, y, cx, cy [, helpId] [options]
//   STYLE styles | CAPTION "text" | FONT size, "face" [, ...] | EXSTYLE styles
//   BEGIN
//     COMBOBOX id, x, y, cx, cy [, style]
//     EDITTEXT id, x, y, cx, cy [, style]
//     LTEXT|RTEXT|CTEXT|PUSHBUTTON|DEFPUSHBUTTON|RADIOBUTTON|AUTORADIOBUTTON|
//     CHECKBOX|AUTOCHECKBOX|GROUPBOX "text", id, x, y, cx, cy [, style]
//     CONTROL "text", id, "class", style, x, y, cx, cy
//   END
//
// Ids are numbers or #defined names (IDOK, IDCANCEL and IDC_STATIC are
// known); styles are |-joined numbers or Win32 style names, NOT clears a bit.
// Errors name the file, the line and what was expected.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <memory>
#include <string>
#include <vector>

#include "host/framework/Types.h"

namespace tq::framework {

// A control's window class.
enum class ControlClass { kButton, kComboBox, kEdit, kStatic };

struct ControlTemplate {
  ControlClass cls;
  std::string text;
  int id = 0;
  int x = 0, y = 0, cx = 0, cy = 0;
  DWORD style = 0;
};

struct DialogTemplate {
  int id = 0;
  std::string caption;
  DWORD style = 0;
  std::string font;
  int x = 0, y = 0, cx = 0, cy = 0;
  std::vector<ControlTemplate> controls;
};

struct ResourceScript {
  std::map<int, std::string> strings;
  std::map<int, DialogTemplate> dialogs;
};

struct ParsedResources {
  std::unique_ptr<ResourceScript> script;  // null on failure
  std::string error;                       // "file:line: expected ..." on failure
};

// Answers the text of a header a script includes, or nothing with why.
using ResourceIncluder =
    std::function<std::optional<std::string>(const std::string& name, std::string& why)>;
// Reads included headers from the folder of fileName (at most 1 MiB each).
ResourceIncluder IncludeBeside(const std::string& fileName);
inline constexpr std::size_t kMaxHeaderBytes = std::size_t{1} << 20;

// Parses a script; #include "header" takes the header's #define lines
// through includer (none given: #include lines are passed over, as for a
// script built into a module with its headers written in).
ParsedResources ParseResourceScript(const std::string& text, const std::string& fileName,
                                    const ResourceIncluder& includer = {});

}  // namespace tq::framework
