// Dialogs and dialog data exchange.
#pragma once

#include <optional>
#include <string>

#include "host/framework/Window.h"

class CDialog : public CWnd {
  DECLARE_DYNAMIC(CDialog)
  DECLARE_MESSAGE_MAP()
 public:
  explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
  ~CDialog() override;

  // Creates the dialog from template nIDTemplate of the current resource
  // handle, sends WM_INITDIALOG and runs the modal loop on the UI driver.
  // Answers the value given to EndDialog (IDOK, IDCANCEL), or -1 when the
  // template is missing.
  virtual INT_PTR DoModal();
  void EndDialog(int nResult);

  virtual BOOL OnInitDialog();
  // Exchanges the data back (UpdateData(TRUE)); ends with IDOK only when that
  // succeeds.
  virtual void OnOK();
  virtual void OnCancel();
  virtual void PreInitDialog();
  BOOL PreTranslateMessage(tagMSG* pMsg) override;
  BOOL CheckAutoCenter() override;
  LRESULT HandleInitDialog(WPARAM wParam, LPARAM lParam) override;

  UINT m_nIDHelp;
  CWnd* m_pParentWnd;
};

// One pass of data exchange between a dialog's controls and its variables.
class CDataExchange {
 public:
  CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate);

  // The control about to be exchanged; it gets the focus if the pass fails.
  HWND PrepareCtrl(int nIDC);
  HWND PrepareEditCtrl(int nIDC) { return PrepareCtrl(nIDC); }
  // Ends the pass as failed: focus on the last prepared control.
  [[noreturn]] void Fail();

  BOOL m_bSaveAndValidate;
  CWnd* m_pDlgWnd;
  HWND m_hWndLastControl = nullptr;
};

// Text of an edit control <-> value. Saving refuses text that is not a whole
// number (no trailing junk, no overflow) or, for a float, not a finite number
// whose truncation fits an int; it then shows a message and fails the pass.
// A float is shown in its shortest form that reads back as the same float.
void DDX_Text(CDataExchange* pDX, int nIDC, int& value);
void DDX_Text(CDataExchange* pDX, int nIDC, float& value);
// When saving, refuses a value outside [minVal, maxVal] with a message.
void DDV_MinMaxInt(CDataExchange* pDX, int value, int minVal, int maxVal);

namespace tq::framework {
// Leading and trailing blanks are allowed; nothing else beside the number.
std::optional<int> ParseInt(const std::string& text);
std::optional<float> ParseFloat(const std::string& text);
std::string FormatFloat(float value);
}  // namespace tq::framework
