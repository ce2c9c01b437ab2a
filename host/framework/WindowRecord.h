// The record behind an HWND, shared by the window manager (Window.cpp) and
// the built-in controls (Button.cpp, ComboBox.cpp, Edit.cpp, Static.cpp);
// nothing outside the framework's window code includes it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/framework/Window.h"

namespace tq::framework {

// A control's own state, created with its window and freed with it.
struct ControlState {
  virtual ~ControlState() = default;
};

// A built-in control class: its name, its window procedure, the state record
// each of its windows gets and the wrapper CWnd::FromHandle makes for one.
struct BuiltinClass {
  const char* name;
  WNDPROC proc;
  std::unique_ptr<ControlState> (*createState)();
  std::unique_ptr<CWnd> (*createWrapper)();
};

// Each kept in its control's file.
extern const BuiltinClass kButtonClass;
extern const BuiltinClass kComboBoxClass;
extern const BuiltinClass kEditClass;
extern const BuiltinClass kStaticClass;

// The built-in class of that name (case-insensitive), or null (Controls.cpp).
const BuiltinClass* FindBuiltinClass(const std::string& name);

// Window names compare without regard to case.
bool SameClass(const std::string& a, const char* b);
bool Alive(HWND h);
// Sends the control's notification code to its parent as WM_COMMAND.
HWND Notify(HWND control, UINT code);
// The enabled control id of class cls (null: any) in dialog, or why not.
std::string FindUserControl(HWND dialog, int id, const char* cls, HWND* out);

}  // namespace tq::framework

struct HWND__ {
  std::string className;
  std::string text;
  DWORD style = 0;
  int id = 0;
  HWND parent = nullptr;
  std::vector<HWND> children;
  bool enabled = true;
  WNDPROC proc = nullptr;
  CWnd* owner = nullptr;                               // the C++ object that owns the window
  std::unique_ptr<CWnd> wrapper;                       // or the framework's wrapper for it
  std::unique_ptr<tq::framework::ControlState> state;  // a built-in control's

  // The state of a control of class State, or null for another kind.
  template <class State>
  State* StateOf() {
    return dynamic_cast<State*>(state.get());
  }
};
