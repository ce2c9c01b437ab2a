// The plug-in's entry points: what the host loads and calls.
//
// Life cycle, as pre- and post-conditions:
// - After the file is loaded, afxModuleState and then theApp exist (static
//   construction, in that order).
// - RawDllMain(1) then DllMain(1), on one thread: on success the plug-in is
//   Ready; on either's failure (0) it is Failed and the host unloads it. In
//   every case the loader's module state is current again afterwards.
// - Kfx* are called only when Ready; each leaves the caller's module state
//   current on every way out.
// - DllMain(0) then RawDllMain(0) before unloading: ExitInstance runs once;
//   the caller's module state is current again after RawDllMain(0). Static
//   destruction then removes theApp, then afxModuleState.
#pragma once

#include "host/framework/ModuleState.h"
#include "host/framework/Types.h"
#include "host/scene/Scene.h"
#include "math/String.h"

#define TQ_EXPORT __attribute__((visibility("default")))

TQ_EXPORT AFX_MODULE_STATE* AfxGetStaticModuleState();
TQ_EXPORT LRESULT AfxWndProcDllStatic(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

extern "C" {
TQ_EXPORT int KfxLoadCommandEntry(int index, int* entry);
TQ_EXPORT int KfxOnAddCommandMenu(void* ignored, int index, String* menuText, int* first,
                                  int* second);
TQ_EXPORT int KfxOnCommand(HChor* chor, int index);
TQ_EXPORT int RawDllMain(HINSTANCE module, unsigned int reason, void* reserved);
TQ_EXPORT int DllMain(HINSTANCE module, unsigned int reason, void* reserved);
}
