// The button: push buttons, radio buttons (auto radio buttons check
// themselves and clear the others of their group) and check boxes.
#include <algorithm>

#include "host/framework/WindowRecord.h"

namespace tq::framework {
namespace {

struct ButtonState : ControlState {
  LRESULT check = BST_UNCHECKED;
};

ButtonState& State(HWND h) {
  return *h->StateOf<ButtonState>();
}

LRESULT ButtonProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
  ButtonState* button = h->StateOf<ButtonState>();
  if (button == nullptr) return DefWindowProcA(h, message, wParam, lParam);
  switch (message) {
    case BM_GETCHECK:
      return button->check;
    case BM_SETCHECK:
      button->check = static_cast<LRESULT>(wParam);
      return 0;
    case BM_CLICK:
      tq::framework::UserClick(h->parent, h->id);
      return 0;
    default:
      return DefWindowProcA(h, message, wParam, lParam);
  }
}

// The radio buttons of the group a control belongs to: from the nearest
// control at or before it with WS_GROUP to the next one with WS_GROUP.
std::vector<HWND> GroupOf(HWND control) {
  std::vector<HWND> group;
  if (control->parent == nullptr) return group;
  const auto& siblings = control->parent->children;
  auto it = std::find(siblings.begin(), siblings.end(), control);
  auto start = it;
  while (start != siblings.begin() && ((*start)->style & WS_GROUP) == 0) --start;
  for (auto g = start; g != siblings.end(); ++g) {
    if (g != start && ((*g)->style & WS_GROUP) != 0) break;
    group.push_back(*g);
  }
  return group;
}

}  // namespace

const BuiltinClass kButtonClass = {
    "Button", &ButtonProc,
    []() -> std::unique_ptr<ControlState> { return std::make_unique<ButtonState>(); },
    []() -> std::unique_ptr<CWnd> { return std::make_unique<CButton>(); }};

bool IsRadio(HWND button) {
  if (!Alive(button) || !SameClass(button->className, "Button")) return false;
  const DWORD type = button->style & BS_TYPEMASK;
  return type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON;
}

std::string UserClick(HWND dialog, int id) {
  HWND h = nullptr;
  std::string why = FindUserControl(dialog, id, "Button", &h);
  if (!why.empty()) return why;
  SetFocus(h);
  const DWORD type = h->style & BS_TYPEMASK;
  if (type == BS_AUTORADIOBUTTON) {
    for (HWND other : GroupOf(h)) {
      if (IsRadio(other)) other->StateOf<ButtonState>()->check = BST_UNCHECKED;
    }
    State(h).check = BST_CHECKED;
  } else if (type == BS_AUTOCHECKBOX) {
    State(h).check = State(h).check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
  }
  Notify(h, BN_CLICKED);
  return "";
}

}  // namespace tq::framework
