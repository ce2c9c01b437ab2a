// The interactive UI driver: draws a dialog from its template on a character
// terminal and lets a person work it with the keyboard.
//
//   Tab, Down / Shift-Tab, Up   move between the controls that are enabled
//   Left, Right                 choose the previous or next entry of a list
//   letters, digits, Backspace  edit the text of an edit field
//   Space                       press the button or radio button in focus
//   Enter                       press it too; in a list or a field: OK
//   Esc                         Cancel
//
// Message boxes wait for a key; the save request asks for a path on one line
// (Enter confirms, Esc cancels). What a key does reaches the dialog exactly as
// a scripted action would: the control changes, then its parent is notified.
// The screen itself is a Terminal, so the driver runs on ncurses in tqhost
// and on a fake in the tests.
#pragma once

#include <string>
#include <vector>

#include "host/framework/Resources.h"
#include "host/framework/UiDriver.h"

namespace tq::framework {

class Terminal {
 public:
  enum Attribute { kNormal = 0, kReverse = 1, kDim = 2, kBold = 4 };
  enum Key {
    kKeyNone = -1,  // no more input: the driver cancels what is open
    kKeyTab = 9,
    kKeyEnter = 10,
    kKeyEscape = 27,
    kKeyBackspace = 127,
    kKeyUp = 0x1000,
    kKeyDown,
    kKeyLeft,
    kKeyRight,
    kKeyBackTab,
  };
  virtual ~Terminal() = default;
  virtual int Rows() const = 0;
  virtual int Columns() const = 0;
  virtual void Clear() = 0;
  virtual void Put(int row, int column, const std::string& text, int attributes) = 0;
  virtual void Show() = 0;
  virtual int ReadKey() = 0;
};

class TerminalDriver : public UiDriver {
 public:
  explicit TerminalDriver(Terminal& terminal) : terminal_(terminal) {}

  void RunModalLoop(CDialog& dialog) override;
  int MessageBox(const std::string& text, const std::string& caption, UINT type) override;
  int SaveRequest(fileio::SaveRequestCall& call) override;
  void WaitCursor(bool shown) override;

 private:
  std::vector<HWND> Focusable(HWND dialog) const;
  void Draw(HWND dialog, HWND focus);
  void DrawFrame(int top, int left, int height, int width, const std::string& caption);
  // A one-line editor under a prompt; false when cancelled.
  bool EditLine(const std::string& title, const std::string& prompt, std::string& text);
  void HandleKey(CDialog& dialog, int key, std::size_t& focus);

  Terminal& terminal_;
  HWND open_ = nullptr;
  const DialogTemplate* template_ = nullptr;
  std::string status_;
};

}  // namespace tq::framework
