// Conformance of the controls with Win32, as tables of message, arguments and
// expected answer, run across the styles each control supports.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/framework/Window.h"

namespace {

using tq::framework::CreateWindowRecord;
using tq::framework::DestroyWindowRecord;

struct Step {
  UINT message;
  WPARAM wParam;
  const char* text;  // as lParam when not null
  LPARAM lParam;
  LRESULT expected;
};

// Runs the steps and names the first that answers otherwise.
void RunSequence(HWND h, const std::vector<Step>& steps, const char* name) {
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const Step& s = steps[i];
    const LPARAM lp = s.text != nullptr ? reinterpret_cast<LPARAM>(s.text) : s.lParam;
    const LRESULT got = SendMessageA(h, s.message, s.wParam, lp);
    ASSERT_EQ(got, s.expected) << name << ": step " << i << " (message 0x" << std::hex << s.message
                               << ")";
  }
}

class Controls : public ::testing::Test {
 protected:
  void SetUp() override {
    dialog = CreateWindowRecord("#32770", "", 0, 1, nullptr, &DefWindowProcA);
  }
  void TearDown() override {
    DestroyWindowRecord(dialog);
    EXPECT_EQ(tq::framework::LiveWindowCount(), 0);
  }
  HWND Combo(DWORD style) { return CreateWindowRecord("ComboBox", "", style, 10, dialog, nullptr); }
  HWND dialog = nullptr;
};

TEST_F(Controls, ComboBoxWithoutSorting) {
  RunSequence(Combo(CBS_DROPDOWNLIST),
              {
                  {CB_GETCOUNT, 0, nullptr, 0, 0},
                  {CB_GETCURSEL, 0, nullptr, 0, CB_ERR},  // empty: no selection
                  {CB_SETCURSEL, 0, nullptr, 0, CB_ERR},  // empty: out of range
                  {CB_GETITEMDATA, 0, nullptr, 0, CB_ERR},
                  {CB_SETITEMDATA, 0, nullptr, 5, CB_ERR},
                  {CB_ADDSTRING, 0, "beta", 0, 0},
                  {CB_ADDSTRING, 0, "Alpha", 0, 1},  // appended: no sorting
                  {CB_ADDSTRING, 0, "   child", 0, 2},
                  {CB_ADDSTRING, 0, nullptr, 0, CB_ERR},
                  {CB_SETITEMDATA, 1, nullptr, 0x7fff12345678, TRUE},
                  {CB_GETITEMDATA, 1, nullptr, 0, 0x7fff12345678},
                  {CB_GETITEMDATA, 0, nullptr, 0, 0},
                  {CB_GETITEMDATA, 3, nullptr, 0, CB_ERR},
                  {CB_GETCURSEL, 0, nullptr, 0, CB_ERR},
                  {CB_SETCURSEL, 2, nullptr, 0, 2},
                  {CB_GETCURSEL, 0, nullptr, 0, 2},
                  {CB_SETCURSEL, 3, nullptr, 0, CB_ERR},  // past the end clears
                  {CB_GETCURSEL, 0, nullptr, 0, CB_ERR},
                  {CB_SETCURSEL, 1, nullptr, 0, 1},
                  {CB_SETCURSEL, static_cast<WPARAM>(-1), nullptr, 0, CB_ERR},  // -1 clears
                  {CB_GETCURSEL, 0, nullptr, 0, CB_ERR},
                  {CB_GETLBTEXTLEN, 2, nullptr, 0, 8},
                  {CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), "ALPHA", 0, 1},
                  {CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), "gamma", 0, CB_ERR},
                  {CB_RESETCONTENT, 0, nullptr, 0, CB_OKAY},
                  {CB_GETCOUNT, 0, nullptr, 0, 0},
                  {CB_GETCURSEL, 0, nullptr, 0, CB_ERR},
                  {CB_GETITEMDATA, 0, nullptr, 0, CB_ERR},
              },
              "unsorted");
}

TEST_F(Controls, ComboBoxWithSorting) {
  HWND h = Combo(CBS_DROPDOWNLIST | CBS_SORT);
  RunSequence(h,
              {
                  {CB_ADDSTRING, 0, "delta", 0, 0},
                  {CB_ADDSTRING, 0, "Bravo", 0, 0},
                  {CB_ADDSTRING, 0, "charlie", 0, 1},
                  {CB_SETCURSEL, 1, nullptr, 0, 1},  // charlie
                  {CB_ADDSTRING, 0, "alpha", 0, 0},
                  {CB_GETCURSEL, 0, nullptr, 0, 2},  // the selection moved with its entry
                  {CB_ADDSTRING, 0, "echo", 0, 4},
              },
              "sorted");
  EXPECT_EQ(tq::framework::ComboItems(h),
            (std::vector<std::string>{"alpha", "Bravo", "charlie", "delta", "echo"}));
}

TEST_F(Controls, ButtonsAcrossStyles) {
  for (DWORD style :
       {BS_PUSHBUTTON, BS_DEFPUSHBUTTON, BS_RADIOBUTTON, BS_AUTORADIOBUTTON, BS_AUTOCHECKBOX}) {
    HWND b = CreateWindowRecord("Button", "b", style, 20, dialog, nullptr);
    RunSequence(b,
                {
                    {BM_GETCHECK, 0, nullptr, 0, BST_UNCHECKED},
                    {BM_SETCHECK, BST_CHECKED, nullptr, 0, 0},
                    {BM_GETCHECK, 0, nullptr, 0, BST_CHECKED},
                    {BM_SETCHECK, BST_UNCHECKED, nullptr, 0, 0},
                    {BM_GETCHECK, 0, nullptr, 0, BST_UNCHECKED},
                },
                "button");
    DestroyWindowRecord(b);
  }
}

TEST_F(Controls, AutoRadioClickUnchecksItsGroupOnly) {
  auto radio = [&](int id, DWORD extra) {
    return CreateWindowRecord("Button", "", BS_AUTORADIOBUTTON | extra, id, dialog, nullptr);
  };
  HWND a = radio(1, WS_GROUP), b = radio(2, 0), c = radio(3, 0);
  HWND other = radio(4, WS_GROUP);
  SendMessageA(a, BM_SETCHECK, BST_CHECKED, 0);
  SendMessageA(b, BM_SETCHECK, BST_CHECKED, 0);  // a message checks without unchecking
  SendMessageA(other, BM_SETCHECK, BST_CHECKED, 0);
  EXPECT_EQ(SendMessageA(a, BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(tq::framework::UserClick(dialog, 3), "");
  EXPECT_EQ(SendMessageA(a, BM_GETCHECK, 0, 0), BST_UNCHECKED);
  EXPECT_EQ(SendMessageA(b, BM_GETCHECK, 0, 0), BST_UNCHECKED);
  EXPECT_EQ(SendMessageA(c, BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(SendMessageA(other, BM_GETCHECK, 0, 0), BST_CHECKED);
}

TEST_F(Controls, DisabledControlsTakeNoUserAction) {
  HWND combo = Combo(CBS_DROPDOWNLIST);
  SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("x"));
  HWND edit = CreateWindowRecord("Edit", "old", 0, 11, dialog, nullptr);
  HWND button = CreateWindowRecord("Button", "", BS_AUTORADIOBUTTON, 12, dialog, nullptr);
  EnableWindow(combo, FALSE);
  EnableWindow(edit, FALSE);
  EnableWindow(button, FALSE);
  EXPECT_EQ(tq::framework::UserSelectCombo(dialog, 10, 0), "control 10 is disabled");
  EXPECT_EQ(tq::framework::UserSetText(dialog, 11, "new"), "control 11 is disabled");
  EXPECT_EQ(tq::framework::UserClick(dialog, 12), "control 12 is disabled");
  EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), CB_ERR);
  EXPECT_EQ(GetWindowTextString(edit), "old");
  EXPECT_EQ(SendMessageA(button, BM_GETCHECK, 0, 0), BST_UNCHECKED);
  EXPECT_EQ(tq::framework::UserClick(dialog, 99), "there is no control 99");
  EXPECT_EQ(tq::framework::UserClick(dialog, 11), "control 11 is of class Edit, not Button");
  EXPECT_EQ(tq::framework::UserSelectComboText(dialog, 10, "y"), "control 10 is disabled");
  EnableWindow(combo, TRUE);
  EXPECT_EQ(tq::framework::UserSelectComboText(dialog, 10, "y"),
            "combo box 10 has no entry \"y\" (it has \"x\")");
  EXPECT_EQ(tq::framework::UserSelectCombo(dialog, 10, 1),
            "combo box 10 has no entry 1 (it has 1)");
}

TEST_F(Controls, TextAndWrappers) {
  HWND edit = CreateWindowRecord("Edit", "", 0, 11, dialog, nullptr);
  EXPECT_TRUE(SetDlgItemTextA(dialog, 11, "12.5"));
  char buffer[4];
  EXPECT_EQ(SendMessageA(edit, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer)), 3);
  EXPECT_STREQ(buffer, "12.");
  EXPECT_EQ(SendMessageA(edit, WM_GETTEXTLENGTH, 0, 0), 4);
  HWND combo = Combo(0);
  CWnd* wrapper = CWnd::FromHandle(combo);
  ASSERT_NE(dynamic_cast<CComboBox*>(wrapper), nullptr);
  EXPECT_EQ(CWnd::FromHandle(combo), wrapper);  // one wrapper per window
  EXPECT_EQ(CWnd::FromHandlePermanent(combo), nullptr);
  EXPECT_EQ(CWnd::FromHandle(nullptr), nullptr);
  EXPECT_EQ(static_cast<CComboBox*>(wrapper)->AddString("a"), 0);
  EXPECT_EQ(static_cast<CComboBox*>(wrapper)->GetCount(), 1);
}

}  // namespace
