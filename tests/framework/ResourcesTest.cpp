#include <gtest/gtest.h>

#include "host/framework/Resources.h"
#include "tests/fileio/TempDir.h"

namespace {

using tq::framework::ControlClass;
using tq::framework::ParseResourceScript;

const char kScript[] = R"(// A dialog and a string table.
#include "resource.h"
#define IDD_MAIN 1000
#define IDC_LIST 1001
#define IDC_ALIAS IDC_LIST
/* a block
   comment */
STRINGTABLE DISCARDABLE
BEGIN
    1 "Menu text"
    IDD_MAIN "Say ""hi""\tnow"
END

IDD_MAIN DIALOGEX 0, 0, 200, 120
STYLE DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU
CAPTION "Settings"
FONT 8, "MS Sans Serif", 0, 0, 0x1
BEGIN
    COMBOBOX IDC_LIST, 10, 10, 100, 80, CBS_DROPDOWNLIST | CBS_SORT | WS_TABSTOP
    EDITTEXT 1002, 10, 30, 50, 14, ES_AUTOHSCROLL
    CONTROL "One", 1003, "Button", BS_AUTORADIOBUTTON | WS_GROUP, 10, 50, 40, 10
    AUTORADIOBUTTON "Two", 1004, 10, 60, 40, 10
    RADIOBUTTON "Three", 1005, 10, 70, 40, 10, NOT WS_VISIBLE
    LTEXT "Label", IDC_STATIC, 10, 80, 40, 8
    GROUPBOX "Box", -1, 5, 45, 100, 40
    PUSHBUTTON "Go", 1006, 120, 10, 50, 14, WS_DISABLED
    DEFPUSHBUTTON "OK", IDOK, 120, 90, 50, 14
    PUSHBUTTON "Cancel", IDCANCEL, 120, 106, 50, 14
END
)";

TEST(ResourceScript, ParsesStringsDialogsAndDefines) {
  const auto parsed = ParseResourceScript(kScript, "test.rc");
  ASSERT_TRUE(parsed.script) << parsed.error;
  EXPECT_EQ(parsed.script->strings.at(1), "Menu text");
  EXPECT_EQ(parsed.script->strings.at(1000), "Say \"hi\"\tnow");
  const auto& d = parsed.script->dialogs.at(1000);
  EXPECT_EQ(d.caption, "Settings");
  EXPECT_EQ(d.font, "8 MS Sans Serif");
  EXPECT_EQ(d.style, DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU);
  ASSERT_EQ(d.controls.size(), 10u);
  const auto& combo = d.controls[0];
  EXPECT_EQ(combo.cls, ControlClass::kComboBox);
  EXPECT_EQ(combo.id, 1001);
  EXPECT_NE(combo.style & CBS_SORT, 0u);
  EXPECT_EQ(d.controls[2].cls, ControlClass::kButton);
  EXPECT_EQ(d.controls[2].style & BS_TYPEMASK, BS_AUTORADIOBUTTON);
  EXPECT_NE(d.controls[2].style & WS_GROUP, 0u);
  EXPECT_EQ(d.controls[3].style & (BS_TYPEMASK | WS_GROUP), BS_AUTORADIOBUTTON);
  EXPECT_EQ(d.controls[4].style & WS_VISIBLE, 0u);
  EXPECT_EQ(d.controls[5].id, IDC_STATIC);
  EXPECT_EQ(d.controls[5].cls, ControlClass::kStatic);
  EXPECT_NE(d.controls[7].style & WS_DISABLED, 0u);
  EXPECT_EQ(d.controls[8].id, IDOK);
  EXPECT_EQ(d.controls[8].style & BS_TYPEMASK, BS_DEFPUSHBUTTON);
  EXPECT_EQ(d.controls[9].text, "Cancel");
}

TEST(ResourceScript, RefusesBrokenScriptsWithTheirLine) {
  struct Row {
    const char* script;
    const char* error;
  } rows[] = {
      {"STRINGTABLE\nBEGIN\n1 Text\nEND", "f.rc:3: expected the string's text, found \"Text\""},
      {"STRINGTABLE\nBEGIN\n1 \"open", "f.rc:3: expected the closing \" of a string"},
      {"STRINGTABLE\nBEGIN\n1 \"a\"\n", "f.rc:4: expected END of the STRINGTABLE"},
      {"STRINGTABLE BEGIN 1 \"a\" 1 \"b\" END",
       "f.rc:1: expected a string id not used before (1 is)"},
      {"100 DIALOG 0, 0, 10\nBEGIN END", "f.rc:2: expected a comma, found \"BEGIN\""},
      {"100 MENU 0, 0, 10, 10", "f.rc:1: expected DIALOG or DIALOGEX after resource id 100"},
      {"\n\nIDD_X DIALOG 0,0,1,1 BEGIN END",
       "f.rc:3: expected a resource id or STRINGTABLE, found \"IDD_X\""},
      {"1 DIALOG 0,0,1,1\nBEGIN\n  SLIDER 5, 1,1,1,1\nEND",
       "f.rc:3: expected a control statement (COMBOBOX, EDITTEXT, CONTROL, LTEXT, ...), found "
       "\"SLIDER\""},
      {"1 DIALOG 0,0,1,1\nBEGIN\n  COMBOBOX 5, 1,1,1,1, CBS_FANCY\nEND",
       "f.rc:3: expected a style, found \"CBS_FANCY\""},
      {"1 DIALOG 0,0,1,1\nBEGIN\n  CONTROL \"x\", 5, \"Slider\", 0, 1,1,1,1\nEND",
       "f.rc:3: expected the class \"Button\", \"ComboBox\", \"Edit\" or \"Static\""},
      {"1 DIALOG 0,0,1,1\nBEGIN\n  EDITTEXT 5, 1,1,1\nEND",
       "f.rc:4: expected a comma, found \"END\""},
      {"1 DIALOG 0,0,1,1\nBEGIN\n", "f.rc:3: expected END of dialog 1"},
      {"1 DIALOG 0,0,1,1 BEGIN END\n1 DIALOG 0,0,1,1 BEGIN END",
       "f.rc:2: expected a dialog id not used before (1 is)"},
      {"#define\n", "f.rc:1: expected a name after #define"},
      {"#define X Y\n", "f.rc:1: expected a number or a defined name after #define X"},
      {"/* never closed", "f.rc:1: expected the end */ of a comment"},
      {"STRINGTABLE BEGIN 99999 \"a\" END", "f.rc:1: expected an id from 0 to 65535, found 99999"},
      {"1 DIALOG 0,0,1,1 STYLE WS_POPUP CAPTION 3 BEGIN END",
       "f.rc:1: expected the caption text, found \"3\""},
      {"STRINGTABLE BEGIN 1 \"a\" END @", "f.rc:1: unexpected character '@'"},
  };
  for (const Row& r : rows) {
    const auto parsed = ParseResourceScript(r.script, "f.rc");
    EXPECT_EQ(parsed.script, nullptr) << r.script;
    EXPECT_EQ(parsed.error, r.error) << r.script;
  }
}

// A script includes a header of #defines as a resource compiler does: from
// its own folder, only #define lines and comments, not nested for ever.
TEST(ResourceScript, IncludesHeadersOfDefinesBesideIt) {
  tq::testing::TempDir dir;
  tq::testing::WriteFile(dir / "ids.h", "#pragma once\n// ids\n#define IDD_X 7 /* the dialog */\n");
  tq::testing::WriteFile(dir / "code.h", "#define A 1\nint x;\n");
  tq::testing::WriteFile(dir / "self.h", "#include \"self.h\"\n");
  const std::string dialog = "IDD_X DIALOG 0, 0, 10, 10\nBEGIN\nEND\n";
  const std::string path = dir / "f.rc";
  const auto parsed = ParseResourceScript("#include \"ids.h\"\n" + dialog, path,
                                          tq::framework::IncludeBeside(path));
  ASSERT_TRUE(parsed.script) << parsed.error;
  EXPECT_EQ(parsed.script->dialogs.count(7), 1u);
  struct Row {
    std::string include, error;
  } rows[] = {
      {"missing.h", "f.rc:1: cannot include \"missing.h\": " + dir / "missing.h" +
                        ": not a regular file"},
      {"code.h", "f.rc:1: in \"code.h\" line 2: expected only #define lines and comments"},
      {"self.h", "f.rc:1: in \"self.h\" line 1: "},
  };
  for (const Row& r : rows) {
    const auto refused = ParseResourceScript("#include \"" + r.include + "\"\n" + dialog, path,
                                             tq::framework::IncludeBeside(path));
    EXPECT_EQ(refused.script, nullptr) << r.include;
    EXPECT_EQ(refused.error.rfind(dir.path().string() + "/" + r.error, 0), 0u)
        << refused.error;
  }
}

}  // namespace
