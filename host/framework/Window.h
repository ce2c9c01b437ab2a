// Windows, messages and the User32 calls of the compatibility layer.
//
// A window is a record in the framework's registry: its class, text, style,
// id, parent and children, enabled state, the window procedure that receives
// its messages and, for a control, the control's own state. A window that a
// module's C++ object owns (a dialog) gets the window procedure of the module
// state current when it is created, so a plug-in's AfxWndProcDllStatic sees
// its messages; AfxWndProc routes them to CWnd::WindowProc, OnWndMsg and the
// message map. Each built-in control kind has its file, its window procedure
// and its state record (Button.cpp, ComboBox.cpp, Edit.cpp, Static.cpp),
// registered from one table (Controls.cpp).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/framework/App.h"
#include "host/framework/Resources.h"
#include "host/framework/Types.h"

class CDataExchange;

LRESULT SendMessageA(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
BOOL EnableWindow(HWND hWnd, BOOL bEnable);
BOOL IsWindowEnabled(HWND hWnd);
BOOL IsWindow(HWND hWnd);
BOOL SetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPCSTR lpString);
HWND GetDlgItem(HWND hDlg, int nIDDlgItem);
int GetDlgCtrlID(HWND hWnd);
HWND GetParent(HWND hWnd);
BOOL SetWindowTextA(HWND hWnd, LPCSTR lpString);
// The window's whole text (a convenience beside WM_GETTEXT).
std::string GetWindowTextString(HWND hWnd);
HWND SetFocus(HWND hWnd);
HWND GetFocus();
LRESULT DefWindowProcA(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

class CWnd : public CCmdTarget {
  DECLARE_DYNAMIC(CWnd)
  DECLARE_MESSAGE_MAP()
 public:
  CWnd() = default;
  ~CWnd() override;
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;

  // The C++ object of a window: its owner's, or a wrapper the framework keeps
  // for the window's life (a CComboBox for a combo box, a CButton for a
  // button, ...). Null for null or a window that no longer exists.
  static CWnd* FromHandle(HWND hWnd);
  static CWnd* FromHandlePermanent(HWND hWnd);

  CWnd* GetDlgItem(int nID) const;
  void SetDlgItemTextA(int nID, LPCSTR lpszString);
  BOOL EnableWindow(BOOL bEnable = TRUE);
  BOOL UpdateData(BOOL bSaveAndValidate = TRUE);
  LRESULT SendMessageA(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

  virtual void PreSubclassWindow();
  virtual BOOL DestroyWindow();
  virtual BOOL ContinueModal();
  virtual void EndModalLoop(int nResult);
  virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
  virtual BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* pResult);
  virtual WNDPROC* GetSuperWndProcAddr();
  virtual void DoDataExchange(CDataExchange* pDX);
  virtual BOOL PreTranslateMessage(tagMSG* pMsg);
  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
  virtual LRESULT DefWindowProcA(UINT message, WPARAM wParam, LPARAM lParam);
  virtual void PostNcDestroy();
  virtual BOOL CheckAutoCenter();
  virtual BOOL IsFrameWnd() const;
  // WM_INITDIALOG; dialogs answer it.
  virtual LRESULT HandleInitDialog(WPARAM wParam, LPARAM lParam);

  HWND m_hWnd = nullptr;
  int m_nModalResult = -1;
  bool m_bModalRunning = false;
};

class CComboBox : public CWnd {
 public:
  int AddString(LPCSTR text) {
    return static_cast<int>(SendMessageA(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)));
  }
  int GetCount() { return static_cast<int>(SendMessageA(CB_GETCOUNT)); }
  int GetCurSel() { return static_cast<int>(SendMessageA(CB_GETCURSEL)); }
  int SetCurSel(int i) {
    return static_cast<int>(SendMessageA(CB_SETCURSEL, static_cast<WPARAM>(i)));
  }
};
class CButton : public CWnd {};
class CEdit : public CWnd {};
class CStatic : public CWnd {};

namespace tq::framework {

// Creates a window. proc null: the control procedure of cls.
HWND CreateWindowRecord(const std::string& className, const std::string& text, DWORD style, int id,
                        HWND parent, WNDPROC proc);
HWND CreateControl(const ControlTemplate& control, HWND parent);
// Destroys a window and all its children, freeing their state and wrappers.
void DestroyWindowRecord(HWND hWnd);
void Attach(HWND hWnd, CWnd* owner);

// What the framework knows of a window, for drivers and tests.
struct WindowInfo {
  std::string className;  // "#32770" (dialog), "Button", "ComboBox", "Edit", "Static", ...
  std::string text;
  DWORD style = 0;
  int id = 0;
  bool enabled = true;
};
WindowInfo DescribeWindow(HWND hWnd);
std::vector<HWND> Children(HWND hWnd);
// Combo box content for drivers and tests.
std::vector<std::string> ComboItems(HWND combo);
// True for a button of an auto radio or radio style.
bool IsRadio(HWND button);
int LiveWindowCount();
// The state of a dialog in words: each control with its id, class, text,
// enabled state, check or list and selection. For failure reports.
std::string DescribeDialog(HWND dialog);

// What a person does, as the control and then the parent see it. Each answers
// "" when it applied, or why it could not (unknown id, disabled control, no
// such entry, ...).
std::string UserSelectCombo(HWND dialog, int id, int index);
std::string UserSelectComboText(HWND dialog, int id, const std::string& text);
std::string UserSetText(HWND dialog, int id, const std::string& text);
std::string UserClick(HWND dialog, int id);

}  // namespace tq::framework
