#include "host/framework/TerminalDriver.h"

#include <algorithm>
#include <map>
#include <string_view>

#include "host/fileio/Concat.h"
#include "host/framework/Dialog.h"
#include "host/framework/Kernel32.h"
#include "host/framework/Window.h"

namespace tq::framework {
namespace {

// Dialog units to character cells: a character is 4 units wide, 8 high.
int Column(int x) {
  return x / 4;
}
int Row(int y) {
  return y / 8;
}

std::string Fit(const std::string& text, std::size_t width) {
  if (text.size() <= width) return text + std::string(width - text.size(), ' ');
  return width == 0 ? std::string() : text.substr(0, width - 1) + "~";
}

bool IsClass(HWND h, const char* cls) {
  return DescribeWindow(h).className == cls;
}

// A control as the terminal shows it, cells wide (labels and buttons whole).
std::string ControlText(HWND child, const WindowInfo& c, std::size_t cells) {
  if (c.className == "Edit") return fileio::Concat({"[", Fit(c.text, cells - 2), "]"});
  if (c.className == "ComboBox") return fileio::Concat({"[", Fit(c.text, cells - 4), " v]"});
  if (c.className != "Button") return Fit(c.text, std::max(cells, c.text.size()));
  const DWORD type = c.style & BS_TYPEMASK;
  const bool checked = SendMessageA(child, BM_GETCHECK, 0, 0) == BST_CHECKED;
  std::string text;
  if (type == BS_GROUPBOX) {
    text = "-- " + c.text + " --";
  } else if (IsRadio(child)) {
    text = std::string(checked ? "(*) " : "( ) ") + c.text;
  } else if (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX) {
    text = std::string(checked ? "[x] " : "[ ] ") + c.text;
  } else {
    text = (type == BS_DEFPUSHBUTTON ? "<<" : "< ") + c.text +
           (type == BS_DEFPUSHBUTTON ? ">>" : " >");
  }
  return Fit(text, std::max(cells, text.size()));
}

constexpr int kTop = 1;   // the dialog's frame starts on this row
constexpr int kLeft = 1;  // and this column

}  // namespace

std::vector<HWND> TerminalDriver::Focusable(HWND dialog) const {
  std::vector<HWND> out;
  for (HWND child : Children(dialog)) {
    const WindowInfo info = DescribeWindow(child);
    if (!info.enabled || info.className == "Static") continue;
    if (info.className == "Button" && (info.style & BS_TYPEMASK) == BS_GROUPBOX) continue;
    out.push_back(child);
  }
  return out;
}

void TerminalDriver::DrawFrame(int top, int left, int height, int width,
                               const std::string& caption) {
  const std::string rule(static_cast<std::size_t>(std::max(width - 2, 0)), '-');
  terminal_.Put(top, left, "+" + rule + "+", Terminal::kNormal);
  for (int r = top + 1; r < top + height - 1; ++r) {
    terminal_.Put(r, left, fileio::Concat({"|", std::string(rule.size(), ' '), "|"}),
                  Terminal::kNormal);
  }
  terminal_.Put(top + height - 1, left, "+" + rule + "+", Terminal::kNormal);
  if (!caption.empty()) terminal_.Put(top, left + 2, " " + caption + " ", Terminal::kBold);
}

void TerminalDriver::Draw(HWND dialog, HWND focus) {
  terminal_.Clear();
  const WindowInfo d = DescribeWindow(dialog);
  int width = 0, height = 0;
  // The frame holds every control; the controls stand in template order.
  const DialogTemplate* t = template_;
  if (t != nullptr) {
    width = Column(t->cx) + 2;
    height = Row(t->cy) + 2;
  }
  // Each control at its place, but never over the one before it on its row:
  // a label is shown whole, and what follows it moves right.
  struct Placed {
    int row, col;
    std::string text;
    int attributes;
  };
  std::vector<Placed> placed;
  std::map<int, int> free;  // by row: the first column after the last control
  std::size_t index = 0;
  for (HWND child : Children(dialog)) {
    const WindowInfo c = DescribeWindow(child);
    const ControlTemplate* ct =
        t != nullptr && index < t->controls.size() ? &t->controls[index] : nullptr;
    ++index;
    if (ct == nullptr) continue;
    const int row = kTop + 1 + Row(ct->y);
    const int col = kLeft + 1 + Column(ct->x);
    const auto cells = static_cast<std::size_t>(std::max(Column(ct->cx), 3));
    int attributes = c.enabled ? Terminal::kNormal : Terminal::kDim;
    if (child == focus) attributes |= Terminal::kReverse;
    std::string text = ControlText(child, c, cells);
    const int at = std::max(col, free[row]);
    free[row] = at + static_cast<int>(text.size()) + 1;
    width = std::max(width, free[row] - kLeft);
    placed.push_back({row, at, std::move(text), attributes});
  }
  DrawFrame(kTop, kLeft, std::max(height, 3), std::max(width, 20), d.text);
  for (const Placed& p : placed) terminal_.Put(p.row, p.col, p.text, p.attributes);
  const int statusRow = kTop + std::max(height, 3);
  terminal_.Put(statusRow, kLeft,
                status_.empty()
                    ? "Tab: next  Left/Right: choose  Space: press  Enter: OK  Esc: Cancel"
                    : status_,
                Terminal::kDim);
  terminal_.Show();
}

void TerminalDriver::HandleKey(CDialog& dialog, int key, std::size_t& focus) {
  HWND h = dialog.m_hWnd;
  const std::vector<HWND> controls = Focusable(h);
  if (controls.empty()) return;
  focus = std::min(focus, controls.size() - 1);
  HWND current = controls[focus];
  const int id = DescribeWindow(current).id;
  switch (key) {
    case Terminal::kKeyTab:
    case Terminal::kKeyDown:
      focus = (focus + 1) % controls.size();
      return;
    case Terminal::kKeyBackTab:
    case Terminal::kKeyUp:
      focus = (focus + controls.size() - 1) % controls.size();
      return;
    case Terminal::kKeyEscape:
      UserClick(h, IDCANCEL);
      return;
    case Terminal::kKeyLeft:
    case Terminal::kKeyRight:
      if (IsClass(current, "ComboBox")) {
        const auto count = static_cast<int>(SendMessageA(current, CB_GETCOUNT, 0, 0));
        const auto selected = static_cast<int>(SendMessageA(current, CB_GETCURSEL, 0, 0));
        const int next = std::clamp(selected + (key == Terminal::kKeyRight ? 1 : -1), 0, count - 1);
        if (count > 0 && next != selected) UserSelectCombo(h, id, next);
      }
      return;
    case Terminal::kKeyBackspace:
      if (IsClass(current, "Edit")) {
        std::string text = GetWindowTextString(current);
        if (!text.empty()) text.pop_back();
        UserSetText(h, id, text);
      }
      return;
    case ' ':
      if (IsClass(current, "Button")) {
        UserClick(h, id);
        return;
      }
      break;
    case Terminal::kKeyEnter:
      UserClick(h, IsClass(current, "Button") ? id : IDOK);
      return;
    default:
      break;
  }
  if (IsClass(current, "Edit") && key >= 32 && key < 127) {
    UserSetText(h, id, GetWindowTextString(current) + static_cast<char>(key));
  }
}

void TerminalDriver::RunModalLoop(CDialog& dialog) {
  HWND outer = open_;
  const DialogTemplate* outerTemplate = template_;
  open_ = dialog.m_hWnd;
  // Looked up now, while the dialog's module state is current.
  template_ = FindDialogTemplate(static_cast<UINT>(DescribeWindow(open_).id));
  std::size_t focus = 0;
  while (dialog.ContinueModal()) {
    const std::vector<HWND> controls = Focusable(dialog.m_hWnd);
    // Keep the focus on a control that can have it; a refused value puts it
    // on its field.
    if (HWND f = GetFocus(); f != nullptr) {
      const auto it = std::find(controls.begin(), controls.end(), f);
      if (it != controls.end()) focus = static_cast<std::size_t>(it - controls.begin());
    }
    if (!controls.empty()) focus = std::min(focus, controls.size() - 1);
    HWND current = controls.empty() ? nullptr : controls[focus];
    Draw(dialog.m_hWnd, current);
    const int key = terminal_.ReadKey();
    if (key == Terminal::kKeyNone) {
      dialog.EndDialog(IDCANCEL);
      break;
    }
    SetFocus(nullptr);
    HandleKey(dialog, key, focus);
  }
  open_ = outer;
  template_ = outerTemplate;
}

int TerminalDriver::MessageBox(const std::string& text, const std::string& caption, UINT) {
  if (open_ != nullptr) Draw(open_, nullptr);
  const int width = std::min(std::max(static_cast<int>(text.size()) + 4, 24),
                             std::max(terminal_.Columns() - 4, 24));
  const int top = std::max(terminal_.Rows() / 2 - 3, 0);
  const int left = std::max((terminal_.Columns() - width) / 2, 0);
  DrawFrame(top, left, 5, width, caption.empty() ? "Message" : caption);
  terminal_.Put(top + 1, left + 2, Fit(text, static_cast<std::size_t>(width - 4)),
                Terminal::kNormal);
  terminal_.Put(top + 3, left + width / 2 - 3, "[ OK ]", Terminal::kReverse);
  terminal_.Show();
  terminal_.ReadKey();
  return IDOK;
}

bool TerminalDriver::EditLine(const std::string& title, const std::string& prompt,
                              std::string& text) {
  const int width = std::max(std::min(terminal_.Columns() - 4, 76), 30);
  const int top = std::max(terminal_.Rows() / 2 - 3, 0);
  const int left = std::max((terminal_.Columns() - width) / 2, 0);
  while (true) {
    if (open_ != nullptr) Draw(open_, nullptr);
    DrawFrame(top, left, 6, width, title);
    terminal_.Put(top + 1, left + 2, Fit(prompt, static_cast<std::size_t>(width - 4)),
                  Terminal::kNormal);
    const std::size_t room = static_cast<std::size_t>(width - 4);
    const std::string shown = text.size() < room ? text : text.substr(text.size() - room + 1);
    terminal_.Put(top + 2, left + 2, Fit(shown + "_", room), Terminal::kReverse);
    terminal_.Put(top + 4, left + 2, "Enter: save  Esc: cancel", Terminal::kDim);
    terminal_.Show();
    const int key = terminal_.ReadKey();
    if (key == Terminal::kKeyNone || key == Terminal::kKeyEscape) return false;
    if (key == Terminal::kKeyEnter) {
      if (!text.empty()) return true;
    } else if (key == Terminal::kKeyBackspace) {
      if (!text.empty()) text.pop_back();
    } else if (key >= 32 && key < 127) {
      text += static_cast<char>(key);
    }
  }
}

int TerminalDriver::SaveRequest(fileio::SaveRequestCall& call) {
  std::string path = call.path->Get();
  if (!EditLine(call.title->Get(), std::string("Save as (") + call.filter->Get() + "):", path))
    return 0;
  *call.path = path.c_str();
  return 1;
}

void TerminalDriver::WaitCursor(bool shown) {
  status_ = shown ? "Working..." : "";
  if (shown) {
    terminal_.Put(terminal_.Rows() - 1, 0, "Working...", Terminal::kBold);
    terminal_.Show();
  }
}

}  // namespace tq::framework
