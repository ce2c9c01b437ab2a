#include "host/framework/Window.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "host/framework/WindowRecord.h"

namespace {

std::unordered_set<HWND>& Live() {
  static std::unordered_set<HWND> live;
  return live;
}

HWND focus = nullptr;

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

}  // namespace

namespace tq::framework {

bool Alive(HWND h) {
  return h != nullptr && Live().count(h) != 0;
}

bool SameClass(const std::string& a, const char* b) {
  return a.size() == std::strlen(b) && std::equal(a.begin(), a.end(), b, [](char x, char y) {
           return std::tolower(x) == std::tolower(y);
         });
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

}  // namespace tq::framework

using tq::framework::Alive;
using tq::framework::SameClass;

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
  if (const BuiltinClass* builtin = FindBuiltinClass(className)) {
    h->state = builtin->createState();
    if (proc == nullptr) proc = builtin->proc;
  }
  h->proc = proc != nullptr ? proc : &DefWindowProcA;
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

std::string DescribeDialog(HWND dialog) {
  const WindowInfo d = DescribeWindow(dialog);
  std::string out = "dialog " + std::to_string(d.id) + " \"" + d.text + "\":\n";
  for (HWND child : Children(dialog)) {
    const WindowInfo c = DescribeWindow(child);
    out += "  " + std::to_string(c.id) + " " + c.className + (c.enabled ? "" : " (disabled)") +
           (GetFocus() == child ? " (focus)" : "");
    if (c.className == "ComboBox") {
      const auto items = ComboItems(child);
      const auto sel = SendMessageA(child, CB_GETCURSEL, 0, 0);
      out += " [";
      for (std::size_t i = 0; i < items.size(); ++i) {
        out += (i ? ", \"" : "\"") + items[i] + "\"" + (static_cast<LRESULT>(i) == sel ? "*" : "");
      }
      out += "]";
    } else {
      out += " \"" + c.text + "\"";
      if (IsRadio(child))
        out += SendMessageA(child, BM_GETCHECK, 0, 0) == BST_CHECKED ? " (checked)" : "";
    }
    out += "\n";
  }
  return out;
}

int LiveWindowCount() {
  return static_cast<int>(Live().size());
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
    const tq::framework::BuiltinClass* builtin = tq::framework::FindBuiltinClass(hWnd->className);
    hWnd->wrapper = builtin != nullptr ? builtin->createWrapper() : std::make_unique<CWnd>();
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
