#include <bit>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/framework/CString.h"
#include "host/framework/Dialog.h"
#include "host/framework/Kernel32.h"
#include "host/framework/ScriptedDriver.h"
#include "host/framework/TerminalDriver.h"

namespace {

using tq::framework::Action;
using tq::framework::ScriptedDriver;

constexpr int kList = 1000, kSorted = 1001, kNumber = 1002, kValue = 1003;
constexpr int kR1 = 1004, kR2 = 1005, kGo = 1007, kThrow = 1008;

const char kTestScript[] = R"(
#define IDD_TEST 100
STRINGTABLE BEGIN 1 "Test menu" END
IDD_TEST DIALOGEX 0, 0, 200, 100
STYLE DS_MODALFRAME | WS_POPUP | WS_CAPTION
CAPTION "Test dialog"
BEGIN
  COMBOBOX 1000, 5, 5, 100, 60, CBS_DROPDOWNLIST | WS_VSCROLL
  COMBOBOX 1001, 5, 20, 100, 60, CBS_DROPDOWNLIST | CBS_SORT
  EDITTEXT 1002, 5, 35, 50, 14, ES_AUTOHSCROLL
  EDITTEXT 1003, 60, 35, 50, 14
  CONTROL "One", 1004, "Button", BS_AUTORADIOBUTTON | WS_GROUP, 5, 50, 40, 10
  CONTROL "Two", 1005, "Button", BS_AUTORADIOBUTTON, 50, 50, 40, 10
  AUTORADIOBUTTON "Three", 1006, 95, 50, 40, 10
  PUSHBUTTON "Go", 1007, 5, 65, 40, 14, WS_GROUP
  PUSHBUTTON "Throw", 1008, 50, 65, 40, 14
  DEFPUSHBUTTON "OK", IDOK, 100, 80, 40, 14
  PUSHBUTTON "Cancel", IDCANCEL, 150, 80, 40, 14
  LTEXT "Long label:", -1, 5, 84, 20, 8
  EDITTEXT 1009, 25, 82, 40, 14
END
)";

AFX_MODULE_STATE* testState = nullptr;

// The test module's window procedure: its state current for every message.
LRESULT TestWndProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
  AFX_MAINTAIN_STATE keep(testState);
  return AfxWndProc(h, message, wParam, lParam);
}

class TestDialog : public CDialog {
 public:
  TestDialog() : CDialog(100) {}

  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    for (const char* name : {"zulu", "alpha", "mike"}) {
      ::SendMessageA(::GetDlgItem(m_hWnd, kList), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
      ::SendMessageA(::GetDlgItem(m_hWnd, kSorted), CB_ADDSTRING, 0,
                     reinterpret_cast<LPARAM>(name));
    }
    ::SendMessageA(::GetDlgItem(m_hWnd, kR1), BM_SETCHECK, BST_CHECKED, 0);
    events.push_back("init");
    return TRUE;
  }
  void DoDataExchange(CDataExchange* pDX) override {
    DDX_Text(pDX, kNumber, number);
    DDV_MinMaxInt(pDX, number, 0, 5000);
    DDX_Text(pDX, kValue, value);
    DDV_MinMaxInt(pDX, static_cast<int>(value), 0, 10000);
  }
  void OnList() {
    const auto sel = ::SendMessageA(::GetDlgItem(m_hWnd, kList), CB_GETCURSEL, 0, 0);
    events.push_back("list " + std::to_string(sel) +
                     (AfxGetModuleState() == testState ? " in module" : ""));
  }
  void OnR2() { events.push_back("r2"); }
  void OnGo() {
    events.push_back(AfxGetModuleState() == testState ? "go in module" : "go outside");
  }
  void OnThrow() { throw std::runtime_error("handler failed"); }

  int number = 12;
  float value = 299.69998f;
  std::vector<std::string> events;

  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(TestDialog, CDialog)
ON_CBN_SELCHANGE(kList, OnList)
ON_BN_CLICKED(kR2, OnR2)
ON_BN_CLICKED(kGo, OnGo)
ON_BN_CLICKED(kThrow, OnThrow)
END_MESSAGE_MAP()

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = tq::framework::CreateResourceModule("test.rc", kTestScript);
    ASSERT_NE(module_, nullptr) << tq::framework::LastLoadError();
    state_ = std::make_unique<AFX_MODULE_STATE>(FALSE, &TestWndProc, 0x0400);
    state_->m_hCurrentResourceHandle = module_;
    testState = state_.get();
  }
  void TearDown() override {
    EXPECT_EQ(AfxGetModuleState(), AfxGetAppModuleState());
    FreeLibrary(module_);
    EXPECT_EQ(tq::framework::LiveWindowCount(), 0);
  }

  // Runs the dialog as the test module does: its state current.
  INT_PTR Run(TestDialog& dialog, ScriptedDriver& driver) {
    tq::framework::ScopedUiDriver use(&driver);
    AFX_MAINTAIN_STATE keep(testState);
    return dialog.DoModal();
  }

  HMODULE module_ = nullptr;
  std::unique_ptr<AFX_MODULE_STATE> state_;
};

TEST_F(DialogTest, RunsModallyAndRoutesNotificationsThroughTheMessageMap) {
  TestDialog dialog;
  ScriptedDriver driver({Action::SelectText(kList, "mike"), Action::Click(kR2), Action::Click(kGo),
                         Action::SetText(kNumber, " 640 "), Action::Ok()});
  EXPECT_EQ(Run(dialog, driver), IDOK);
  EXPECT_TRUE(driver.Failures().empty()) << driver.Failures()[0];
  EXPECT_EQ(dialog.events,
            (std::vector<std::string>{"init", "list 2 in module", "r2", "go in module"}));
  EXPECT_EQ(dialog.number, 640);
  EXPECT_EQ(std::bit_cast<std::uint32_t>(dialog.value), std::bit_cast<std::uint32_t>(299.69998f));
}

TEST_F(DialogTest, ModuleStateIsRestoredWhenAHandlerThrows) {
  TestDialog dialog;
  ScriptedDriver driver({Action::Click(kThrow)});
  EXPECT_THROW(Run(dialog, driver), std::runtime_error);
  EXPECT_EQ(AfxGetModuleState(), AfxGetAppModuleState());
}

TEST_F(DialogTest, RefusedValueKeepsTheDialogOpenWithFocusOnTheControl) {
  TestDialog dialog;
  ScriptedDriver driver({Action::SetText(kNumber, "5001"), Action::Ok(),
                         Action::SetText(kNumber, "5000"), Action::SetText(kValue, "abc"),
                         Action::Ok()});
  EXPECT_EQ(Run(dialog, driver), IDCANCEL);  // the actions ran out with it open
  EXPECT_EQ(driver.messages,
            (std::vector<std::string>{"Please enter an integer between 0 and 5000.",
                                      "Please enter a number."}));
  ASSERT_EQ(driver.Failures().size(), 1u);
  EXPECT_EQ(
      driver.Failures()[0].rfind("the actions ran out while the dialog was open; cancelled it\n"
                                 "dialog 100 \"Test dialog\":\n",
                                 0),
      0u)
      << driver.Failures()[0];
  EXPECT_EQ(dialog.number, 5000);  // fields before the refused one stay written
}

TEST_F(DialogTest, FocusStaysOnTheRefusedControl) {
  TestDialog dialog;
  // The number was typed last, but the value is the field refused.
  ScriptedDriver driver(
      {Action::SetText(kValue, "10001"), Action::SetText(kNumber, "1"), Action::Ok()});
  EXPECT_EQ(Run(dialog, driver), IDCANCEL);
  EXPECT_EQ(driver.messages,
            std::vector<std::string>{"Please enter an integer between 0 and 10000."});
  ASSERT_EQ(driver.Failures().size(), 1u);
  EXPECT_NE(driver.Failures()[0].find("  1003 Edit (focus) \"10001\""), std::string::npos)
      << driver.Failures()[0];
}

TEST_F(DialogTest, ActionThatCannotApplyFailsLoudlyAndCancels) {
  TestDialog dialog;
  ScriptedDriver driver({Action::SelectText(kSorted, "nothing"), Action::Ok()});
  EXPECT_EQ(Run(dialog, driver), IDCANCEL);
  ASSERT_EQ(driver.Failures().size(), 1u);
  const std::string& failure = driver.Failures()[0];
  EXPECT_EQ(
      failure.rfind("cannot select \"nothing\" in 1001: combo box 1001 has no entry \"nothing\" "
                    "(it has \"alpha\", \"mike\", \"zulu\")\n",
                    0),
      0u)
      << failure;
  EXPECT_NE(failure.find("  1004 Button \"One\" (checked)"), std::string::npos) << failure;
  EXPECT_EQ(driver.Remaining(), 1u);  // OK was never pressed
}

TEST_F(DialogTest, MissingTemplateAnswersMinusOne) {
  CDialog dialog(4242);
  ScriptedDriver driver;
  tq::framework::ScopedUiDriver use(&driver);
  AFX_MAINTAIN_STATE keep(testState);
  EXPECT_EQ(dialog.DoModal(), -1);
}

TEST_F(DialogTest, StringsComeThroughTheCurrentResourceHandle) {
  CString text;
  EXPECT_FALSE(text.LoadStringA(1));  // the host program has no string table
  AFX_MAINTAIN_STATE keep(testState);
  EXPECT_TRUE(text.LoadStringA(1));
  EXPECT_STREQ(text, "Test menu");
  EXPECT_FALSE(text.LoadStringA(2));
  EXPECT_TRUE(text.IsEmpty());
  CString formatted;
  formatted.Format("%s%s", "   ", "A1");
  formatted += ".lng";
  EXPECT_STREQ(formatted, "   A1.lng");
}

// --- data exchange ---------------------------------------------------------

TEST(DataExchange, IntegerTexts) {
  struct Row {
    const char* text;
    std::optional<int> value;
  } rows[] = {
      {"640", 640},
      {" -12 ", -12},
      {"+7", 7},
      {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},
      {"99999999999", std::nullopt},
      {"12px", std::nullopt},
      {"", std::nullopt},
      {"1.5", std::nullopt},
      {"0x10", std::nullopt},
      {"- 1", std::nullopt},
  };
  for (const Row& r : rows) EXPECT_EQ(tq::framework::ParseInt(r.text), r.value) << r.text;
}

TEST(DataExchange, FloatTexts) {
  struct Row {
    const char* text;
    std::optional<float> value;
  } rows[] = {
      {"10000.5", 10000.5f},
      {"-0.5", -0.5f},
      {"100000.9", 100000.9f},
      {"1e3", 1000.0f},
      {" 12.5", 12.5f},
      {"nan", std::nullopt},
      {"inf", std::nullopt},
      {"-inf", std::nullopt},
      {"1e39", std::nullopt},
      {"3e9", std::nullopt},
      {"2147483648", std::nullopt},
      {"-2147483648", -2147483648.0f},
      {"12,5", std::nullopt},
      {"", std::nullopt},
  };
  for (const Row& r : rows) EXPECT_EQ(tq::framework::ParseFloat(r.text), r.value) << r.text;
}

TEST(DataExchange, FloatTextRoundTripsBitForBit) {
  for (float f : {299.69998f, 299.7f, 0.1f, 12.5f, -0.0f, 1e-7f, 16777217.0f, 100000.9f}) {
    const auto back = tq::framework::ParseFloat(tq::framework::FormatFloat(f));
    ASSERT_TRUE(back.has_value()) << f;
    EXPECT_EQ(std::bit_cast<std::uint32_t>(*back), std::bit_cast<std::uint32_t>(f));
  }
  EXPECT_EQ(tq::framework::FormatFloat(299.69998f), "299.69998");
}

}  // namespace

// --- the terminal driver ---------------------------------------------------

namespace {

using tq::framework::Terminal;

// A terminal whose keys come from a list and whose screen is a text grid.
class FakeTerminal : public Terminal {
 public:
  explicit FakeTerminal(std::vector<int> keys) : keys_(std::move(keys)) { Clear(); }
  int Rows() const override { return 30; }
  int Columns() const override { return 90; }
  void Clear() override { screen_.assign(30, std::string(90, ' ')); }
  void Put(int row, int column, const std::string& text, int attributes) override {
    if (row < 0 || row >= 30 || column < 0) return;
    std::string& line = screen_[static_cast<std::size_t>(row)];
    for (std::size_t i = 0; i < text.size() && column + i < line.size(); ++i)
      line[column + i] = text[i];
    if ((attributes & kReverse) != 0) reversed.push_back(text);
  }
  void Show() override { shown.push_back(Screen()); }
  int ReadKey() override { return next_ < keys_.size() ? keys_[next_++] : kKeyNone; }
  std::string Screen() const {
    std::string all;
    for (const auto& line : screen_) all += line + "\n";
    return all;
  }
  std::vector<std::string> shown;
  std::vector<std::string> reversed;

 private:
  std::vector<int> keys_;
  std::size_t next_ = 0;
  std::vector<std::string> screen_;
};

std::vector<int> Keys(std::initializer_list<int> keys) {
  return keys;
}
std::vector<int> Typed(const std::string& text) {
  return std::vector<int>(text.begin(), text.end());
}

}  // namespace

class TerminalDialogTest : public DialogTest {
 protected:
  INT_PTR RunOn(TestDialog& dialog, FakeTerminal& terminal) {
    tq::framework::TerminalDriver driver(terminal);
    tq::framework::ScopedUiDriver use(&driver);
    AFX_MAINTAIN_STATE keep(testState);
    return dialog.DoModal();
  }
};

TEST_F(TerminalDialogTest, DrawsTheTemplate) {
  TestDialog dialog;
  FakeTerminal terminal(Keys({Terminal::kKeyEscape}));
  EXPECT_EQ(RunOn(dialog, terminal), IDCANCEL);
  ASSERT_FALSE(terminal.shown.empty());
  const std::string& screen = terminal.shown.front();
  EXPECT_NE(screen.find("+- Test dialog -"), std::string::npos) << screen;
  EXPECT_NE(screen.find("(*) One"), std::string::npos) << screen;
  EXPECT_NE(screen.find("( ) Two"), std::string::npos) << screen;
  EXPECT_NE(screen.find("[12"), std::string::npos) << screen;         // the number field
  EXPECT_NE(screen.find("[299.69998"), std::string::npos) << screen;  // the float field
  EXPECT_NE(screen.find("<<OK>>"), std::string::npos) << screen;
  EXPECT_NE(screen.find("Long label: ["), std::string::npos) << screen;  // whole, then its field
  EXPECT_EQ(terminal.reversed.front().rfind("[", 0), 0u);  // the first list has the focus
}

TEST_F(TerminalDialogTest, KeysWorkTheControls) {
  TestDialog dialog;
  using T = Terminal;
  // The focus goes list, sorted list, number, value, One, Two, Three, Go,
  // Throw, OK, Cancel. The list has no selection yet: Right picks entry 0,
  // then 1. The number "12" is cleared and 640 typed; Two and Go are pressed
  // with Space; Enter on OK ends the dialog.
  std::vector<int> keys = {T::kKeyRight, T::kKeyRight,     T::kKeyTab,
                           T::kKeyTab,   T::kKeyBackspace, T::kKeyBackspace};
  for (int k : Typed("640")) keys.push_back(k);
  for (int k : std::vector<int>{T::kKeyTab, T::kKeyTab, T::kKeyTab, ' ', T::kKeyTab, T::kKeyTab,
                                ' ', T::kKeyTab, T::kKeyTab, T::kKeyEnter}) {
    keys.push_back(k);
  }
  FakeTerminal terminal(keys);
  EXPECT_EQ(RunOn(dialog, terminal), IDOK);
  EXPECT_EQ(dialog.events, (std::vector<std::string>{"init", "list 0 in module", "list 1 in module",
                                                     "r2", "go in module"}));
  EXPECT_EQ(dialog.number, 640);
}

TEST_F(TerminalDialogTest, RefusedValueShowsAMessageAndReturnsToTheField) {
  TestDialog dialog;
  std::vector<int> keys = {Terminal::kKeyTab, Terminal::kKeyTab};
  for (int k : Typed("999")) keys.push_back(k);  // "12999"
  keys.push_back(Terminal::kKeyEnter);           // OK: refused
  keys.push_back(' ');                           // dismisses the message box
  keys.push_back(Terminal::kKeyBackspace);       // back in the number field
  keys.push_back(Terminal::kKeyBackspace);       // "129"
  keys.push_back(Terminal::kKeyEnter);
  FakeTerminal terminal(keys);
  EXPECT_EQ(RunOn(dialog, terminal), IDOK);
  EXPECT_EQ(dialog.number, 129);
  bool messageShown = false;
  for (const auto& screen : terminal.shown) {
    messageShown = messageShown ||
                   screen.find("Please enter an integer between 0 and 5000.") != std::string::npos;
  }
  EXPECT_TRUE(messageShown);
}

TEST_F(TerminalDialogTest, EndOfInputCancels) {
  TestDialog dialog;
  FakeTerminal terminal(Keys({Terminal::kKeyTab}));
  EXPECT_EQ(RunOn(dialog, terminal), IDCANCEL);
}

TEST(TerminalDriver, SaveRequestEditsThePathOnOneLine) {
  std::vector<int> keys(4, Terminal::kKeyBackspace);  // "name.txt" -> "name"
  for (int k : Typed(".csv")) keys.push_back(k);
  keys.push_back(Terminal::kKeyEnter);
  keys.push_back(Terminal::kKeyEscape);  // the second request is cancelled
  FakeTerminal terminal(keys);
  tq::framework::TerminalDriver driver(terminal);
  tq::framework::ScopedUiDriver use(&driver);
  String title("Export"), filter("Text|*.txt||"), path("name.txt"), ext("txt");
  EXPECT_EQ(SaveRequest(title, filter, path, ext.buffer, ext.buffer, 3, nullptr, nullptr), 1);
  EXPECT_STREQ(path.Get(), "name.csv");
  EXPECT_EQ(SaveRequest(title, filter, path, ext.buffer, ext.buffer, 3, nullptr, nullptr), 0);
  EXPECT_STREQ(path.Get(), "name.csv");
  EXPECT_NE(terminal.shown.front().find("Save as (Text|*.txt||):"), std::string::npos);
}
