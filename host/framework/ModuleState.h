// Module state: which module's application, resources and window procedure
// the framework works with on the calling thread.
//
// The host program has one module state of its own (AfxGetAppModuleState).
// A plug-in declares another as a static object and makes it current on every
// entry from outside with AfxSetModuleState, kept and restored by a scoped
// AFX_MAINTAIN_STATE.
//
// How a plug-in's application object finds its module state: the plug-in's
// static objects are constructed when its file is loaded, before any hook
// runs and while the loader's module state is current, the module state
// first and the application after it. A module state constructed with the
// DLL flag therefore announces itself as the module being constructed; the
// next CWinApp constructed on any thread becomes that module state's current
// application and ends the announcement. Without an announced module state a
// CWinApp registers with the module state current on its thread. LoadLibraryA
// ends the announcement once the file's static construction is over, so an
// announced state without an application never catches a later one.
#pragma once

#include "host/framework/Types.h"

class CWinApp;

class AFX_MODULE_STATE {
 public:
  AFX_MODULE_STATE(BOOL bDLL, WNDPROC pfnAfxWndProc, DWORD dwVersion);
  AFX_MODULE_STATE(const AFX_MODULE_STATE&) = delete;
  AFX_MODULE_STATE& operator=(const AFX_MODULE_STATE&) = delete;
  virtual ~AFX_MODULE_STATE();

  CWinApp* m_pCurrentWinApp = nullptr;
  HINSTANCE m_hCurrentInstanceHandle = nullptr;
  HINSTANCE m_hCurrentResourceHandle = nullptr;
  const char* m_lpszCurrentAppName = nullptr;
  BOOL m_bDLL;
  WNDPROC m_pfnAfxWndProc;
  DWORD m_dwVersion;
};

class AFX_THREAD_STATE {
 public:
  AFX_MODULE_STATE* m_pModuleState = nullptr;      // null: the host program's
  AFX_MODULE_STATE* m_pPrevModuleState = nullptr;  // passed between load hooks
};

AFX_THREAD_STATE* AfxGetThreadState();
// Makes state current on this thread; returns the state it replaced.
AFX_MODULE_STATE* AfxSetModuleState(AFX_MODULE_STATE* state);
// The current module state, or the host program's when none is set.
AFX_MODULE_STATE* AfxGetModuleState();
// The host program's own module state.
AFX_MODULE_STATE* AfxGetAppModuleState();

// The framework's window procedure: to the window's C++ object. The host's
// own module state routes its windows' messages through it; it is defined
// with the windows (Window.cpp).
LRESULT AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
// The current module state's application.
CWinApp* AfxGetApp();

// Makes a module state current for a scope and restores the one it replaced on
// every way out, also when an exception passes through.
struct AFX_MAINTAIN_STATE {
  explicit AFX_MAINTAIN_STATE(AFX_MODULE_STATE* pNewState);
  AFX_MAINTAIN_STATE(const AFX_MAINTAIN_STATE&) = delete;
  AFX_MAINTAIN_STATE& operator=(const AFX_MAINTAIN_STATE&) = delete;
  ~AFX_MAINTAIN_STATE();
  AFX_MODULE_STATE* m_pPrevModuleState;
};

namespace tq::framework {
// The module state announced by its construction and not yet claimed by an
// application (see above); null when none.
AFX_MODULE_STATE* ModuleStateUnderConstruction();
void EndModuleConstruction();
}  // namespace tq::framework
