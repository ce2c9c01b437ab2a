// A scripted driver that also lets a test look at the dialog when it opens
// and when its actions are done (before its windows go).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "host/framework/Dialog.h"
#include "host/framework/ScriptedDriver.h"

namespace tq::testing {

class ProbeDriver : public framework::ScriptedDriver {
 public:
  using ScriptedDriver::ScriptedDriver;
  void RunModalLoop(CDialog& dialog) override {
    if (atStart) atStart(dialog.m_hWnd);
    ScriptedDriver::RunModalLoop(dialog);
    if (atEnd) atEnd(dialog.m_hWnd);
  }
  std::function<void(HWND)> atStart;
  std::function<void(HWND)> atEnd;
};

inline std::vector<std::string> Items(HWND dialog, int id) {
  return framework::ComboItems(GetDlgItem(dialog, id));
}
inline bool Enabled(HWND dialog, int id) {
  return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}
inline bool Checked(HWND dialog, int id) {
  return SendMessageA(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}
inline std::string Text(HWND dialog, int id) {
  return GetWindowTextString(GetDlgItem(dialog, id));
}

}  // namespace tq::testing
