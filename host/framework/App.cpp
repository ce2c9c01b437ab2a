#include "host/framework/App.h"

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/framework/TestSeams.h"
#include "host/framework/Trace.h"
#include "host/framework/UiDriver.h"

const char afxChNil[] = "";

bool CRuntimeClass::IsDerivedFrom(const CRuntimeClass* base) const {
  for (const CRuntimeClass* c = this; c != nullptr; c = c->m_pBaseClass) {
    if (c == base) return true;
  }
  return false;
}

const CRuntimeClass CObject::classCObject = {"CObject", nullptr};
const CRuntimeClass* CObject::GetRuntimeClass() const {
  return &classCObject;
}
CObject::~CObject() = default;

IMPLEMENT_DYNAMIC(CCmdTarget, CObject)
IMPLEMENT_DYNAMIC(CWinThread, CCmdTarget)
IMPLEMENT_DYNAMIC(CWinApp, CWinThread)
IMPLEMENT_DYNAMIC(CDynLinkLibrary, CCmdTarget)

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const {
  return GetThisMessageMap();
}

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap() {
  static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, 0, nullptr}};
  static const AFX_MSGMAP map = {nullptr, &entries[0]};
  return &map;
}

BOOL CCmdTarget::OnCmdMsg(UINT nID, int nCode, void*, void*) {
  for (const AFX_MSGMAP* map = GetMessageMap(); map != nullptr;
       map = map->pfnGetBaseMap != nullptr ? map->pfnGetBaseMap() : nullptr) {
    for (const AFX_MSGMAP_ENTRY* e = map->lpEntries; e->pfn != nullptr; ++e) {
      if (e->nMessage == WM_COMMAND && e->nCode == static_cast<UINT>(nCode) && nID >= e->nID &&
          nID <= e->nLastID) {
        (this->*(e->pfn))();
        return TRUE;
      }
    }
  }
  return FALSE;
}

void CCmdTarget::BeginWaitCursor() {
  if (CWinApp* app = AfxGetApp()) app->DoWaitCursor(1);
}

void CCmdTarget::EndWaitCursor() {
  if (CWinApp* app = AfxGetApp()) app->DoWaitCursor(-1);
}

BOOL CWinThread::InitInstance() {
  return FALSE;
}
int CWinThread::Run() {
  return ExitInstance();
}
BOOL CWinThread::PreTranslateMessage(tagMSG*) {
  return FALSE;
}
BOOL CWinThread::PumpMessage() {
  return FALSE;
}
BOOL CWinThread::OnIdle(long) {
  return FALSE;
}
BOOL CWinThread::IsIdleMessage(tagMSG*) {
  return TRUE;
}
int CWinThread::ExitInstance() {
  return 0;
}
CWnd* CWinThread::GetMainWnd() {
  return m_pMainWnd;
}

BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
END_MESSAGE_MAP()

CWinApp::CWinApp(LPCSTR lpszAppName) : m_pszAppName(lpszAppName) {
  m_pModuleState = tq::framework::ModuleStateUnderConstruction();
  if (m_pModuleState != nullptr) {
    tq::framework::EndModuleConstruction();
  } else {
    m_pModuleState = AfxGetModuleState();
  }
  m_pModuleState->m_pCurrentWinApp = this;
  m_pModuleState->m_lpszCurrentAppName = lpszAppName;
}

CWinApp::~CWinApp() {
  if (m_pModuleState->m_bDLL) tq::framework::TraceEvent("~CWinApp");
  if (m_pModuleState->m_pCurrentWinApp == this) m_pModuleState->m_pCurrentWinApp = nullptr;
}

BOOL CWinApp::InitInstance() {
  tq::framework::TraceEvent("CWinApp::InitInstance");
  return TRUE;
}
int CWinApp::Run() {
  return CWinThread::Run();
}
BOOL CWinApp::OnIdle(long lCount) {
  return CWinThread::OnIdle(lCount);
}
int CWinApp::ExitInstance() {
  tq::framework::TraceEvent("CWinApp::ExitInstance");
  return 0;
}

int CWinApp::DoMessageBox(LPCSTR lpszPrompt, UINT nType, UINT) {
  return tq::framework::GetUiDriver()->MessageBox(
      lpszPrompt != nullptr ? lpszPrompt : "", m_pszAppName != nullptr ? m_pszAppName : "", nType);
}

namespace {
std::map<std::pair<std::string, std::string>, int>& Profile() {
  static std::map<std::pair<std::string, std::string>, int> profile;
  return profile;
}
}  // namespace

namespace tq::framework {
void WriteProfileEntry(const char* section, const char* entry, int value) {
  Profile()[{section, entry}] = value;
}
void RemoveProfileEntry(const char* section, const char* entry) {
  Profile().erase({section, entry});
}
}  // namespace tq::framework

UINT CWinApp::GetProfileInt(LPCSTR lpszSection, LPCSTR lpszEntry, int nDefault) {
  const auto& profile = Profile();
  const auto it = profile.find({lpszSection, lpszEntry});
  return static_cast<UINT>(it == profile.end() ? nDefault : it->second);
}

BOOL CWinApp::WriteProfileInt(LPCSTR lpszSection, LPCSTR lpszEntry, int nValue) {
  tq::framework::WriteProfileEntry(lpszSection, lpszEntry, nValue);
  return TRUE;
}

void CWinApp::DoWaitCursor(int nCode) {
  const bool wasShown = m_nWaitCursorCount > 0;
  m_nWaitCursorCount += nCode;
  if (m_nWaitCursorCount < 0) m_nWaitCursorCount = 0;
  const bool shown = m_nWaitCursorCount > 0;
  if (shown != wasShown) tq::framework::GetUiDriver()->WaitCursor(shown);
}

CWaitCursor::CWaitCursor() {
  if (CWinApp* app = AfxGetApp()) app->BeginWaitCursor();
}

CWaitCursor::~CWaitCursor() {
  if (CWinApp* app = AfxGetApp()) app->EndWaitCursor();
}

int AfxMessageBox(LPCSTR lpszText, UINT nType, UINT nIDHelp) {
  if (CWinApp* app = AfxGetApp()) return app->DoMessageBox(lpszText, nType, nIDHelp);
  return tq::framework::GetUiDriver()->MessageBox(lpszText != nullptr ? lpszText : "", "", nType);
}

BOOL AfxWinInit(HINSTANCE hInstance, HINSTANCE, LPSTR, int) {
  tq::framework::TraceEvent("AfxWinInit");
  if (tq::framework::AfxWinInitFails()) return FALSE;
  AFX_MODULE_STATE* state = AfxGetModuleState();
  state->m_hCurrentInstanceHandle = hInstance;
  state->m_hCurrentResourceHandle = hInstance;
  if (CWinApp* app = state->m_pCurrentWinApp) app->m_hInstance = hInstance;
  return TRUE;
}

void AfxWinTerm() {
  tq::framework::TraceEvent("AfxWinTerm");
}

void AfxCoreInitModule() {
  tq::framework::TraceEvent("AfxCoreInitModule");
}

namespace {
// The framework's CDynLinkLibrary objects; whatever is left at process end
// is freed with this list.
std::vector<std::unique_ptr<CDynLinkLibrary>>& Libraries() {
  static std::vector<std::unique_ptr<CDynLinkLibrary>> libraries;
  return libraries;
}
}  // namespace

namespace tq::framework {
int DynLinkLibraryCount() {
  return static_cast<int>(Libraries().size());
}
}  // namespace tq::framework

BOOL AfxInitExtensionModule(AFX_EXTENSION_MODULE& state, HMODULE hModule) {
  tq::framework::TraceEvent("AfxInitExtensionModule");
  if (state.bInitialized) return TRUE;
  state.hModule = hModule;
  state.hResource = hModule;
  state.bInitialized = TRUE;
  return TRUE;
}

void AfxTermExtensionModule(AFX_EXTENSION_MODULE& state, BOOL) {
  tq::framework::TraceEvent("AfxTermExtensionModule");
  auto& libs = Libraries();
  std::erase_if(libs, [&](const auto& lib) { return lib->m_hModule == state.hModule; });
  state.bInitialized = FALSE;
}

CDynLinkLibrary::CDynLinkLibrary(AFX_EXTENSION_MODULE& state, BOOL bSystem)
    : m_hModule(state.hModule), m_hResource(state.hResource), m_bSystem(bSystem) {
  tq::framework::TraceEvent("CDynLinkLibrary");
  Libraries().emplace_back(this);
}

CDynLinkLibrary::~CDynLinkLibrary() = default;
