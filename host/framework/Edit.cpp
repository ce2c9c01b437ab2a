// The edit field: its text is all its state, which the window keeps.
#include "host/framework/WindowRecord.h"

namespace tq::framework {
namespace {

LRESULT EditProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(h, message, wParam, lParam);
}

}  // namespace

const BuiltinClass kEditClass = {
    "Edit", &EditProc, []() -> std::unique_ptr<ControlState> { return nullptr; },
    []() -> std::unique_ptr<CWnd> { return std::make_unique<CEdit>(); }};

std::string UserSetText(HWND dialog, int id, const std::string& text) {
  HWND h = nullptr;
  std::string why = FindUserControl(dialog, id, "Edit", &h);
  if (!why.empty()) return why;
  SetFocus(h);
  h->text = text;
  Notify(h, EN_CHANGE);
  return "";
}

}  // namespace tq::framework
