#include "plugin/PluginApp.h"

#include <cstring>
#include <string>

#include "host/framework/CString.h"
#include "host/framework/Kernel32.h"

namespace {
constexpr int kMenuTextId = 1;
constexpr int kSettingsDialogId = 1000;
}  // namespace

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
  // A library without the menu text or the settings dialog is as unusable as
  // a broken one: the plug-in keeps its own resources.
  const tq::framework::ResourceScript* resources = tq::framework::ModuleResources(library);
  const char* lacking = nullptr;
  if (resources == nullptr || resources->strings.count(kMenuTextId) == 0) {
    lacking = "string 1 (the menu text)";
  } else if (resources->dialogs.count(kSettingsDialogId) == 0) {
    lacking = "dialog 1000 (the settings dialog)";
  }
  if (lacking != nullptr) {
    tq::framework::RefuseLibrary(library, std::string(static_cast<LPCSTR>(name)) + ": has no " + lacking);
    return 0;
  }
  // Never released: it stays loaded as long as the plug-in.
  AfxGetModuleState()->m_hCurrentResourceHandle = library;
  return 1;
}
