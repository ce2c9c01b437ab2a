#include "plugin/PluginApp.h"

#include <cstring>

#include "host/framework/CString.h"
#include "host/framework/Kernel32.h"

BEGIN_MESSAGE_MAP(CTQMotionApp, CWinApp)
END_MESSAGE_MAP()

BOOL CTQMotionApp::InitInstance() {
  // Without a resource library the plug-in runs on its own resources.
  SetAppLocalizationDLL(m_hInstance);
  return CWinApp::InitInstance();
}

int CTQMotionApp::ExitInstance() {
  return CWinApp::ExitInstance();
}

int SetAppLocalizationDLL(HINSTANCE module) {
  char path[512];
  const DWORD length = GetModuleFileNameA(module, path, sizeof path);
  if (length == 0 || length >= sizeof path) return 0;
  // The last dot of the whole path, which may lie in a folder's name.
  if (char* dot = std::strrchr(path, '.')) *dot = '\0';
  CString name(path);
  name += ".lng";
  HMODULE library = LoadLibraryA(name);
  if (library == nullptr) return 0;
  // Never released: it stays loaded as long as the plug-in.
  AfxGetModuleState()->m_hCurrentResourceHandle = library;
  return 1;
}
