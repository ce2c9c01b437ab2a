#include "host/framework/Window.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "host/framework/Dialog.h"

struct HWND__ {
  std::string className;
  std::string text;
  DWORD style = 0;
  int id = 0;
  HWND parent = nullptr;
  std::vector<HWND> children;
  bool enabled = true;
  WNDPROC proc = nullptr;
  CWnd* owner = nullptr;          // the C++ object that owns the window
  std::unique_ptr<CWnd> wrapper;  // or the framework's wrapper for it
  // Combo box state.
  std::vector<std::pair<std::string, LPARAM>> items;
  int selection = -1;
  // Button state.
  LRESULT check = BST_UNCHECKED;
};

namespace {

std::unordered_set<HWND>& Live() {
  static std::unordered_set<HWND> live;
  return live;
}

HWND focus = nullptr;

bool Alive(HWND h) {
  return h != nullptr && Live().count(h) != 0;
}

bool SameClass(const std::string& a, const char* b) {
  return a.size() == std::strlen(b) && std::equal(a.begin(), a.end(), b, [](char x, char y) {
           return std::tolower(x) == std::tolower(y);
         });
}

LRESULT TextMessage(HWND h, UINT message, WPARAM wParam, LPARAM lParam, bool* handled) {
  *handled = true;
  switch (message) {
    case WM_SETTEXT:
      h->text = lParam != 0 ? reinterpret_cast<const char*>(lParam) : "";
      return TRUE;
    case WM_GETTEXTLENGTH:
      return static_cast<LRESULT>(h->text.size());
    case WM_GETTEXT: {
      auto* buffer = reinterpret_cast<char*>(lParam);
      if (buffer == nullptr || wParam == 0) return 0;
      const std::size_t n = std::min<std::size_t>(h->text.size(), wParam - 1);
      std::memcpy(buffer, h->text.data(), n);
      buffer[n] = '\0';
      return static_cast<LRESULT>(n);
    }
    default:
      *handled = false;
      return 0;
  }
}

// Case-insensitive order, as a sorted list box compares its entries.
bool LessNoCase(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) <
           std::tolower(static_cast<unsigned char>(y));
  });
}

LRESULT ComboBoxProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
  auto& items = h->items;
  const auto index = static_cast<int>(wParam);
  const bool inRange = index >= 0 && index < static_cast<int>(items.size());
  switch (message) {
    case CB_ADDSTRING: {
      if (lParam == 0) return CB_ERR;
      const std::string text = reinterpret_cast<const char*>(lParam);
      auto at = items.end();
      if ((h->style & CBS_SORT) != 0) {
        at = std::upper_bound(
            items.begin(), items.end(), text,
            [](const std::string& t, const auto& item) { return LessNoCase(t, item.first); });
      }
      const auto pos = at - items.begin();
      items.insert(at, {text, 0});
      if (h->selection >= pos) ++h->selection;
      return static_cast<LRESULT>(pos);
    }
    case CB_GETCOUNT:
      return static_cast<LRESULT>(items.size());
    case CB_GETCURSEL:
      return h->selection;
    case CB_SETCURSEL:
      // -1, or an index past the end, clears the selection and answers CB_ERR.
      if (!inRange) {
        h->selection = -1;
        h->text.clear();
        return CB_ERR;
      }
      h->selection = index;
      h->text = items[static_cast<std::size_t>(index)].first;
      return index;
    case CB_GETITEMDATA:
      return inRange ? items[static_cast<std::size_t>(index)].second : CB_ERR;
    case CB_SETITEMDATA:
      if (!inRange) return CB_ERR;
      items[static_cast<std::size_t>(index)].second = lParam;
      return TRUE;
    case CB_GETLBTEXTLEN:
      return inRange ? static_cast<LRESULT>(items[static_cast<std::size_t>(index)].first.size())
                     : CB_ERR;
    case CB_GETLBTEXT: {
      if (!inRange || lParam == 0) return CB_ERR;
      const std::string& text = items[static_cast<std::size_t>(index)].first;
      std::memcpy(reinterpret_cast<char*>(lParam), text.c_str(), text.size() + 1);
      return static_cast<LRESULT>(text.size());
    }
    case CB_FINDSTRINGEXACT: {
      if (lParam == 0) return CB_ERR;
      const std::string text = reinterpret_cast<const char*>(lParam);
      const int n = static_cast<int>(items.size());
      for (int k = 0; k < n; ++k) {
        const int i = (index + 1 + k) % n;  // from the entry after wParam, wrapping
        if (!LessNoCase(items[static_cast<std::size_t>(i)].first, text) &&
            !LessNoCase(text, items[static_cast<std::size_t>(i)].first)) {
          return i;
        }
      }
      return CB_ERR;
    }
    case CB_RESETCONTENT:
      items.clear();
      h->selection = -1;
      h->text.clear();
      return CB_OKAY;
    default:
      return DefWindowProcA(h, message, wParam, lParam);
  }
}

LRESULT ButtonProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case BM_GETCHECK:
      return h->check;
    case BM_SETCHECK:
      h->check = static_cast<LRESULT>(wParam);
      return 0;
    case BM_CLICK:
      tq::framework::UserClick(h->parent, h->id);
      return 0;
    default:
      return DefWindowProcA(h, message, wParam, lParam);
  }
}

LRESULT PlainControlProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(h, message, wParam, lParam);
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

HWND Notify(HWND control, UINT code) {
  SendMessageA(control->parent, WM_COMMAND, MAKEWPARAM(static_cast<unsigned>(control->id), code),
               reinterpret_cast<LPARAM>(control));
  return control;
}

std::string FindUserControl(HWND dialog, int id, const char* cls, HWND* out) {
  HWND h = GetDlgItem(dialog, id);
  if (h == nullptr) return "there is no control " + std::to_string(id);
  if (cls != nullptr && !SameClass(h->className, cls)) {
    return "control " + std::to_string(id) + " is of class " + h->className + ", not " + cls;
  }
  if (!h->enabled) return "control " + std::to_string(id) + " is disabled";
  *out = h;
  return "";
}

}  // namespace

LRESULT SendMessageA(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!Alive(hWnd) || hWnd->proc == nullptr) return 0;
  return hWnd->proc(hWnd, message, wParam, lParam);
}

LRESULT DefWindowProcA(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!Alive(hWnd)) return 0;
  bool handled = false;
  const LRESULT r = TextMessage(hWnd, message, wParam, lParam, &handled);
  return handled ? r : 0;
}

BOOL EnableWindow(HWND hWnd, BOOL bEnable) {
  if (!Alive(hWnd)) return FALSE;
  const BOOL wasDisabled = hWnd->enabled ? FALSE : TRUE;
  hWnd->enabled = bEnable != FALSE;
  if (!hWnd->enabled && focus == hWnd) focus = nullptr;
  SendMessageA(hWnd, WM_ENABLE, static_cast<WPARAM>(bEnable), 0);
  return wasDisabled;
}

BOOL IsWindowEnabled(HWND hWnd) {
  return Alive(hWnd) && hWnd->enabled ? TRUE : FALSE;
}
BOOL IsWindow(HWND hWnd) {
  return Alive(hWnd) ? TRUE : FALSE;
}

HWND GetDlgItem(HWND hDlg, int nIDDlgItem) {
  if (!Alive(hDlg)) return nullptr;
  for (HWND child : hDlg->children) {
    if (child->id == nIDDlgItem) return child;
  }
  return nullptr;
}

int GetDlgCtrlID(HWND hWnd) {
  return Alive(hWnd) ? hWnd->id : 0;
}
HWND GetParent(HWND hWnd) {
  return Alive(hWnd) ? hWnd->parent : nullptr;
}

BOOL SetWindowTextA(HWND hWnd, LPCSTR lpString) {
  if (!Alive(hWnd)) return FALSE;
  SendMessageA(hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString));
  return TRUE;
}

BOOL SetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPCSTR lpString) {
  return SetWindowTextA(GetDlgItem(hDlg, nIDDlgItem), lpString);
}

std::string GetWindowTextString(HWND hWnd) {
  return Alive(hWnd) ? hWnd->text : std::string();
}

HWND SetFocus(HWND hWnd) {
  HWND previous = focus;
  focus = Alive(hWnd) ? hWnd : nullptr;
  return previous;
}

HWND GetFocus() {
  return Alive(focus) ? focus : nullptr;
}

LRESULT AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CWnd* wnd = CWnd::FromHandlePermanent(hWnd);
  if (wnd == nullptr) return DefWindowProcA(hWnd, message, wParam, lParam);
  return wnd->WindowProc(message, wParam, lParam);
}

namespace tq::framework {

HWND CreateWindowRecord(const std::string& className, const std::string& text, DWORD style, int id,
                        HWND parent, WNDPROC proc) {
  auto* h = new HWND__;
  h->className = className;
  h->text = text;
  h->style = style;
  h->id = id;
  h->parent = Alive(parent) ? parent : nullptr;
  h->enabled = (style & WS_DISABLED) == 0;
  if (proc == nullptr) {
    if (SameClass(className, "ComboBox")) {
      proc = &ComboBoxProc;
    } else if (SameClass(className, "Button")) {
      proc = &ButtonProc;
    } else {
      proc = &PlainControlProc;
    }
  }
  h->proc = proc;
  Live().insert(h);
  if (h->parent != nullptr) h->parent->children.push_back(h);
  return h;
}

HWND CreateControl(const ControlTemplate& control, HWND parent) {
  static const char* const names[] = {"Button", "ComboBox", "Edit", "Static"};
  return CreateWindowRecord(names[static_cast<int>(control.cls)], control.text, control.style,
                            control.id, parent, nullptr);
}

void DestroyWindowRecord(HWND hWnd) {
  if (!Alive(hWnd)) return;
  while (!hWnd->children.empty()) DestroyWindowRecord(hWnd->children.back());
  if (hWnd->parent != nullptr) std::erase(hWnd->parent->children, hWnd);
  if (hWnd->owner != nullptr) hWnd->owner->m_hWnd = nullptr;
  if (focus == hWnd) focus = nullptr;
  Live().erase(hWnd);
  delete hWnd;
}

void Attach(HWND hWnd, CWnd* owner) {
  if (!Alive(hWnd)) return;
  hWnd->owner = owner;
  owner->m_hWnd = hWnd;
}

WindowInfo DescribeWindow(HWND hWnd) {
  if (!Alive(hWnd)) return {};
  return {hWnd->className, hWnd->text, hWnd->style, hWnd->id, hWnd->enabled};
}

std::vector<HWND> Children(HWND hWnd) {
  return Alive(hWnd) ? hWnd->children : std::vector<HWND>();
}

std::vector<std::string> ComboItems(HWND combo) {
  std::vector<std::string> texts;
  if (!Alive(combo)) return texts;
  for (const auto& item : combo->items) texts.push_back(item.first);
  return texts;
}

bool IsRadio(HWND button) {
  if (!Alive(button) || !SameClass(button->className, "Button")) return false;
  const DWORD type = button->style & BS_TYPEMASK;
  return type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON;
}

int LiveWindowCount() {
  return static_cast<int>(Live().size());
}

std::string UserSelectCombo(HWND dialog, int id, int index) {
  HWND h = nullptr;
  std::string why = FindUserControl(dialog, id, "ComboBox", &h);
  if (!why.empty()) return why;
  if (index < 0 || index >= static_cast<int>(h->items.size())) {
    return "combo box " + std::to_string(id) + " has no entry " + std::to_string(index) +
           " (it has " + std::to_string(h->items.size()) + ")";
  }
  SetFocus(h);
  h->selection = index;
  h->text = h->items[static_cast<std::size_t>(index)].first;
  Notify(h, CBN_SELCHANGE);
  return "";
}

std::string UserSelectComboText(HWND dialog, int id, const std::string& text) {
  HWND h = nullptr;
  std::string why = FindUserControl(dialog, id, "ComboBox", &h);
  if (!why.empty()) return why;
  // The exact text first; then the text without the indentation of a tree.
  for (int pass = 0; pass < 2; ++pass) {
    for (std::size_t i = 0; i < h->items.size(); ++i) {
      std::string entry = h->items[i].first;
      if (pass == 1) entry.erase(0, entry.find_first_not_of(' '));
      if (entry == text) return UserSelectCombo(dialog, id, static_cast<int>(i));
    }
  }
  std::string list;
  for (const auto& item : h->items) list += (list.empty() ? "\"" : ", \"") + item.first + "\"";
  return "combo box " + std::to_string(id) + " has no entry \"" + text + "\" (it has " +
         (list.empty() ? "none" : list) + ")";
}

std::string UserSetText(HWND dialog, int id, const std::string& text) {
  HWND h = nullptr;
  std::string why = FindUserControl(dialog, id, "Edit", &h);
  if (!why.empty()) return why;
  SetFocus(h);
  h->text = text;
  Notify(h, EN_CHANGE);
  return "";
}

std::string UserClick(HWND dialog, int id) {
  HWND h = nullptr;
  std::string why = FindUserControl(dialog, id, "Button", &h);
  if (!why.empty()) return why;
  SetFocus(h);
  const DWORD type = h->style & BS_TYPEMASK;
  if (type == BS_AUTORADIOBUTTON) {
    for (HWND other : GroupOf(h)) {
      if (IsRadio(other)) other->check = BST_UNCHECKED;
    }
    h->check = BST_CHECKED;
  } else if (type == BS_AUTOCHECKBOX) {
    h->check = h->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
  }
  Notify(h, BN_CLICKED);
  return "";
}

}  // namespace tq::framework

IMPLEMENT_DYNAMIC(CWnd, CCmdTarget)

BEGIN_MESSAGE_MAP(CWnd, CCmdTarget)
END_MESSAGE_MAP()

CWnd::~CWnd() {
  if (Alive(m_hWnd) && m_hWnd->owner == this) m_hWnd->owner = nullptr;
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd) {
  return Alive(hWnd) ? hWnd->owner : nullptr;
}

CWnd* CWnd::FromHandle(HWND hWnd) {
  if (!Alive(hWnd)) return nullptr;
  if (hWnd->owner != nullptr) return hWnd->owner;
  if (!hWnd->wrapper) {
    if (SameClass(hWnd->className, "ComboBox")) {
      hWnd->wrapper = std::make_unique<CComboBox>();
    } else if (SameClass(hWnd->className, "Button")) {
      hWnd->wrapper = std::make_unique<CButton>();
    } else if (SameClass(hWnd->className, "Edit")) {
      hWnd->wrapper = std::make_unique<CEdit>();
    } else if (SameClass(hWnd->className, "Static")) {
      hWnd->wrapper = std::make_unique<CStatic>();
    } else {
      hWnd->wrapper = std::make_unique<CWnd>();
    }
    hWnd->wrapper->m_hWnd = hWnd;
  }
  return hWnd->wrapper.get();
}

CWnd* CWnd::GetDlgItem(int nID) const {
  return FromHandle(::GetDlgItem(m_hWnd, nID));
}
void CWnd::SetDlgItemTextA(int nID, LPCSTR lpszString) {
  ::SetDlgItemTextA(m_hWnd, nID, lpszString);
}
BOOL CWnd::EnableWindow(BOOL bEnable) {
  return ::EnableWindow(m_hWnd, bEnable);
}
LRESULT CWnd::SendMessageA(UINT message, WPARAM wParam, LPARAM lParam) {
  return ::SendMessageA(m_hWnd, message, wParam, lParam);
}

void CWnd::PreSubclassWindow() {}
BOOL CWnd::DestroyWindow() {
  if (!Alive(m_hWnd)) return FALSE;
  tq::framework::DestroyWindowRecord(m_hWnd);
  m_hWnd = nullptr;
  return TRUE;
}
BOOL CWnd::ContinueModal() {
  return m_bModalRunning ? TRUE : FALSE;
}
void CWnd::EndModalLoop(int nResult) {
  m_nModalResult = nResult;
  m_bModalRunning = false;
}
BOOL CWnd::OnCommand(WPARAM wParam, LPARAM) {
  return OnCmdMsg(LOWORD(wParam), static_cast<int>(HIWORD(wParam)), nullptr, nullptr);
}
BOOL CWnd::OnNotify(WPARAM, LPARAM, LRESULT*) {
  return FALSE;
}
WNDPROC* CWnd::GetSuperWndProcAddr() {
  return nullptr;
}
void CWnd::DoDataExchange(CDataExchange*) {}
BOOL CWnd::PreTranslateMessage(tagMSG*) {
  return FALSE;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (!OnWndMsg(message, wParam, lParam, &result)) result = DefWindowProcA(message, wParam, lParam);
  return result;
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
  if (message == WM_COMMAND) {
    *pResult = OnCommand(wParam, lParam);
    return TRUE;
  }
  if (message == WM_INITDIALOG) {
    *pResult = HandleInitDialog(wParam, lParam);
    return TRUE;
  }
  return FALSE;
}

LRESULT CWnd::DefWindowProcA(UINT message, WPARAM wParam, LPARAM lParam) {
  return ::DefWindowProcA(m_hWnd, message, wParam, lParam);
}
void CWnd::PostNcDestroy() {}
BOOL CWnd::CheckAutoCenter() {
  return TRUE;
}
BOOL CWnd::IsFrameWnd() const {
  return FALSE;
}
LRESULT CWnd::HandleInitDialog(WPARAM, LPARAM) {
  return 0;
}
