#include "plugin/Entry.h"

#include "host/framework/App.h"
#include "host/framework/CString.h"
#include "host/framework/Kernel32.h"
#include "host/framework/Window.h"
#include "plugin/PluginApp.h"

namespace {

constexpr unsigned int kProcessDetach = 0;
constexpr unsigned int kProcessAttach = 1;

// The plug-in's module state: the framework's, with this module's window
// procedure and the version 0x0400.
class _AFX_DLL_MODULE_STATE : public AFX_MODULE_STATE {
 public:
  _AFX_DLL_MODULE_STATE() : AFX_MODULE_STATE(TRUE, &AfxWndProcDllStatic, 0x0400) {}
  ~_AFX_DLL_MODULE_STATE() override = default;
};

// Constructed in this order when the file loads, destroyed in reverse.
_AFX_DLL_MODULE_STATE afxModuleState;
CTQMotionApp theApp;
AFX_EXTENSION_MODULE controlDLL = {};

}  // namespace

AFX_MODULE_STATE* AfxGetStaticModuleState() {
  return &afxModuleState;
}

LRESULT AfxWndProcDllStatic(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  AFX_MAINTAIN_STATE state(&afxModuleState);
  return AfxWndProc(hWnd, message, wParam, lParam);
}

extern "C" int KfxLoadCommandEntry(int index, int* entry) {
  if (index != 0) return 0;
  *entry = 0;
  return 1;
}

extern "C" int KfxOnAddCommandMenu(void*, int index, String* menuText, int* first, int* second) {
  AFX_MAINTAIN_STATE state(AfxGetStaticModuleState());
  CString text;
  text.LoadStringA(1);  // a missing string leaves the text empty
  *menuText = static_cast<LPCSTR>(text);
  *second = 0;
  int result = 0;
  if (index == 0) {
    *first = 1;
    result = 1;
  }
  return result;
}

extern "C" int KfxOnCommand(HChor* chor, int index) {
  AFX_MAINTAIN_STATE state(AfxGetStaticModuleState());
  if (index != 0) return 0;
  auto* app = static_cast<CTQMotionApp*>(AfxGetModuleState()->m_pCurrentWinApp);
  return app->OnChor(chor);
}

extern "C" int RawDllMain(HINSTANCE, unsigned int reason, void*) {
  if (reason == kProcessAttach) {
    HLOCAL probe = LocalAlloc(0, 0x2000);
    if (probe == nullptr) return 0;
    LocalFree(probe);
    AfxGetThreadState()->m_pPrevModuleState = AfxSetModuleState(&afxModuleState);
  } else if (reason == kProcessDetach) {
    AfxSetModuleState(AfxGetThreadState()->m_pPrevModuleState);
  }
  return 1;
}

extern "C" int DllMain(HINSTANCE module, unsigned int reason, void*) {
  if (reason == kProcessAttach) {
    AfxCoreInitModule();
    int result = 1;
    if (!AfxWinInit(module, nullptr, const_cast<char*>(afxChNil), 0)) {
      AfxWinTerm();
      result = 0;
    } else {
      CWinApp* app = AfxGetModuleState()->m_pCurrentWinApp;
      if (app != nullptr && !app->InitInstance()) {
        app->ExitInstance();
        AfxWinTerm();
        result = 0;
      } else {
        AfxInitExtensionModule(controlDLL, module);
        new CDynLinkLibrary(controlDLL, FALSE);  // the framework's from here on
      }
    }
    AfxSetModuleState(AfxGetThreadState()->m_pPrevModuleState);
    return result;
  }
  if (reason == kProcessDetach) {
    AfxGetThreadState()->m_pPrevModuleState = AfxSetModuleState(&afxModuleState);
    if (CWinApp* app = AfxGetModuleState()->m_pCurrentWinApp) app->ExitInstance();
    AfxWinTerm();
    AfxTermExtensionModule(controlDLL, TRUE);
  }
  return 1;
}
