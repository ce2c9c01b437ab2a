#include "host/framework/ModuleState.h"

#include "host/framework/TestSeams.h"
#include "host/framework/Trace.h"

namespace {
AFX_MODULE_STATE* underConstruction = nullptr;
std::vector<std::string>& Events() {
  static std::vector<std::string> events;
  return events;
}
bool localAllocFails = false;
bool winInitFails = false;
}  // namespace

namespace tq::framework {
AFX_MODULE_STATE* ModuleStateUnderConstruction() {
  return underConstruction;
}
void EndModuleConstruction() {
  underConstruction = nullptr;
}
void TraceEvent(std::string event) {
  Events().push_back(std::move(event));
}
const std::vector<std::string>& TraceEvents() {
  return Events();
}
void ClearTrace() {
  Events().clear();
}
void SetLocalAllocFails(bool fails) {
  localAllocFails = fails;
}
void SetAfxWinInitFails(bool fails) {
  winInitFails = fails;
}
bool AfxWinInitFails() {
  return winInitFails;
}
bool LocalAllocFails() {
  return localAllocFails;
}
}  // namespace tq::framework

AFX_MODULE_STATE::AFX_MODULE_STATE(BOOL bDLL, WNDPROC pfnAfxWndProc, DWORD dwVersion)
    : m_bDLL(bDLL), m_pfnAfxWndProc(pfnAfxWndProc), m_dwVersion(dwVersion) {
  if (bDLL) underConstruction = this;
}

AFX_MODULE_STATE::~AFX_MODULE_STATE() {
  if (underConstruction == this) underConstruction = nullptr;
  if (m_bDLL) tq::framework::TraceEvent("~AFX_MODULE_STATE");
  // A state destroyed while current must not stay current.
  AFX_THREAD_STATE* thread = AfxGetThreadState();
  if (thread->m_pModuleState == this) thread->m_pModuleState = nullptr;
  if (thread->m_pPrevModuleState == this) thread->m_pPrevModuleState = nullptr;
}

AFX_THREAD_STATE* AfxGetThreadState() {
  thread_local AFX_THREAD_STATE state;
  return &state;
}

AFX_MODULE_STATE* AfxGetAppModuleState() {
  static AFX_MODULE_STATE appState(FALSE, &AfxWndProc, 0x0400);
  return &appState;
}

AFX_MODULE_STATE* AfxSetModuleState(AFX_MODULE_STATE* state) {
  AFX_THREAD_STATE* thread = AfxGetThreadState();
  AFX_MODULE_STATE* previous =
      thread->m_pModuleState != nullptr ? thread->m_pModuleState : AfxGetAppModuleState();
  thread->m_pModuleState = state;
  return previous;
}

AFX_MODULE_STATE* AfxGetModuleState() {
  AFX_MODULE_STATE* state = AfxGetThreadState()->m_pModuleState;
  return state != nullptr ? state : AfxGetAppModuleState();
}

CWinApp* AfxGetApp() {
  return AfxGetModuleState()->m_pCurrentWinApp;
}

AFX_MAINTAIN_STATE::AFX_MAINTAIN_STATE(AFX_MODULE_STATE* pNewState)
    : m_pPrevModuleState(AfxSetModuleState(pNewState)) {}

AFX_MAINTAIN_STATE::~AFX_MAINTAIN_STATE() {
  AfxSetModuleState(m_pPrevModuleState);
}
