#include "host/framework/Dialog.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "host/framework/Kernel32.h"
#include "host/framework/UiDriver.h"

namespace {

// Unwinds a failed data exchange pass to UpdateData.
struct DataExchangeFailed {};

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

}  // namespace

namespace tq::framework {

namespace {

// The whole text as one number of type T: blanks around it and a leading '+'
// are allowed, nothing else.
template <class T>
std::optional<T> ParseWhole(const std::string& text) {
  std::string t = Trimmed(text);
  if (!t.empty() && t[0] == '+') t.erase(0, 1);
  T value{};
  const auto r = std::from_chars(t.data(), t.data() + t.size(), value);
  if (t.empty() || r.ec != std::errc() || r.ptr != t.data() + t.size()) return std::nullopt;
  return value;
}

}  // namespace

std::optional<int> ParseInt(const std::string& text) {
  return ParseWhole<int>(text);
}

std::optional<float> ParseFloat(const std::string& text) {
  const std::optional<float> value = ParseWhole<float>(text);
  // Not finite, or too large for the truncation to an int that a range check
  // makes of it.
  if (!value || !std::isfinite(*value) || !(*value >= -2147483648.0f && *value < 2147483648.0f)) {
    return std::nullopt;
  }
  return value;
}

std::string FormatFloat(float value) {
  char buffer[64];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, r.ptr);
}

}  // namespace tq::framework

IMPLEMENT_DYNAMIC(CDialog, CWnd)

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_COMMAND(IDOK, OnOK)
ON_COMMAND(IDCANCEL, OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_nIDHelp(nIDTemplate), m_pParentWnd(pParentWnd) {}

CDialog::~CDialog() {
  if (m_hWnd != nullptr) tq::framework::DestroyWindowRecord(m_hWnd);
}

INT_PTR CDialog::DoModal() {
  const tq::framework::DialogTemplate* t = tq::framework::FindDialogTemplate(m_nIDHelp);
  if (t == nullptr) return -1;
  HWND parent = m_pParentWnd != nullptr ? m_pParentWnd->m_hWnd : nullptr;
  HWND dialog = tq::framework::CreateWindowRecord("#32770", t->caption, t->style, t->id, parent,
                                                  AfxGetModuleState()->m_pfnAfxWndProc);
  tq::framework::Attach(dialog, this);
  for (const auto& control : t->controls) tq::framework::CreateControl(control, dialog);
  // The windows go on every way out, also when a handler throws.
  struct Windows {
    CDialog* owner;
    ~Windows() { owner->DestroyWindow(); }
  } windows{this};
  m_nModalResult = -1;
  m_bModalRunning = true;
  ::SendMessageA(dialog, WM_INITDIALOG, 0, 0);
  if (ContinueModal()) tq::framework::GetUiDriver()->RunModalLoop(*this);
  return m_nModalResult;
}

void CDialog::EndDialog(int nResult) {
  EndModalLoop(nResult);
}

BOOL CDialog::OnInitDialog() {
  UpdateData(FALSE);
  return TRUE;
}

void CDialog::OnOK() {
  if (!UpdateData(TRUE)) return;
  EndDialog(IDOK);
}

void CDialog::OnCancel() {
  EndDialog(IDCANCEL);
}
void CDialog::PreInitDialog() {}
BOOL CDialog::PreTranslateMessage(tagMSG* pMsg) {
  return CWnd::PreTranslateMessage(pMsg);
}
BOOL CDialog::CheckAutoCenter() {
  return TRUE;
}

LRESULT CDialog::HandleInitDialog(WPARAM, LPARAM) {
  PreInitDialog();
  return OnInitDialog();
}

BOOL CWnd::UpdateData(BOOL bSaveAndValidate) {
  CDataExchange dx(this, bSaveAndValidate);
  try {
    DoDataExchange(&dx);
  } catch (const DataExchangeFailed&) {
    return FALSE;
  }
  return TRUE;
}

CDataExchange::CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate)
    : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}

HWND CDataExchange::PrepareCtrl(int nIDC) {
  m_hWndLastControl = ::GetDlgItem(m_pDlgWnd->m_hWnd, nIDC);
  return m_hWndLastControl;
}

void CDataExchange::Fail() {
  if (m_bSaveAndValidate && m_hWndLastControl != nullptr) SetFocus(m_hWndLastControl);
  throw DataExchangeFailed{};
}

namespace {

// Shows value in the control, or reads it back when saving; text that does
// not parse shows the message and fails the pass.
template <class T, class Parse, class Format>
void ExchangeText(CDataExchange* pDX, int nIDC, T& value, Parse parse, Format format,
                  const char* message) {
  HWND control = pDX->PrepareEditCtrl(nIDC);
  if (!pDX->m_bSaveAndValidate) {
    SetWindowTextA(control, format(value).c_str());
    return;
  }
  const auto parsed = parse(GetWindowTextString(control));
  if (!parsed) {
    AfxMessageBox(message, MB_ICONEXCLAMATION);
    pDX->Fail();
  }
  value = *parsed;
}

}  // namespace

void DDX_Text(CDataExchange* pDX, int nIDC, int& value) {
  ExchangeText(
      pDX, nIDC, value, tq::framework::ParseInt, [](int v) { return std::to_string(v); },
      "Please enter an integer.");
}

void DDX_Text(CDataExchange* pDX, int nIDC, float& value) {
  ExchangeText(pDX, nIDC, value, tq::framework::ParseFloat, tq::framework::FormatFloat,
               "Please enter a number.");
}

void DDV_MinMaxInt(CDataExchange* pDX, int value, int minVal, int maxVal) {
  if (!pDX->m_bSaveAndValidate) return;
  if (value < minVal || value > maxVal) {
    char text[96];
    std::snprintf(text, sizeof text, "Please enter an integer between %d and %d.", minVal, maxVal);
    AfxMessageBox(text, MB_ICONEXCLAMATION);
    pDX->Fail();
  }
}
