#include <string>

#include <gtest/gtest.h>

#include "host/framework/Kernel32.h"
#include "host/framework/Trace.h"
#include "plugin/PluginApp.h"
#include "tests/fileio/TempDir.h"

namespace {

LRESULT NoProc(HWND, UINT, WPARAM, LPARAM) {
  return 0;
}

// The name SetAppLocalizationDLL tries for a module of this path, read from
// the reason its load failed ("" when it tried none).
std::string TriedName(const std::string& modulePath) {
  AFX_MODULE_STATE state(FALSE, &NoProc, 0x0400);
  AFX_MAINTAIN_STATE keep(&state);
  HMODULE module = tq::framework::CreateResourceModule(modulePath, "");
  LoadLibraryA("");  // clears the last reason
  EXPECT_EQ(SetAppLocalizationDLL(module), 0);
  EXPECT_EQ(state.m_hCurrentResourceHandle, nullptr);
  FreeLibrary(module);
  const std::string& reason = tq::framework::LastLoadError();
  const auto colon = reason.rfind(": ");
  return reason == "no module name given" ? "" : reason.substr(0, colon);
}

TEST(SetAppLocalizationDLL, NameIsThePathUpToItsLastDotPlusLng) {
  EXPECT_EQ(TriedName("/opt/host/plugins/motion.plg"), "/opt/host/plugins/motion.lng");
  EXPECT_EQ(TriedName("/opt/host/plugins/motion"), "/opt/host/plugins/motion.lng");
  // The last dot of the whole path, even in a folder's name.
  EXPECT_EQ(TriedName("/opt/host/release.4/plugins/motion"), "/opt/host/release.lng");
}

TEST(SetAppLocalizationDLL, PathLongerThanTheBufferLoadsNothing) {
  const std::string longPath = "/opt/" + std::string(600, 'x') + "/motion.plg";
  EXPECT_EQ(TriedName(longPath), "");
  // 512 characters leave no room for the terminating zero; 511 fit.
  EXPECT_EQ(TriedName("/opt/" + std::string(501, 'x') + "/m.plg"), "");
  const std::string fits = "/opt/" + std::string(500, 'x') + "/m.plg";
  EXPECT_EQ(TriedName(fits), fits.substr(0, fits.size() - 4) + ".lng");
}

TEST(SetAppLocalizationDLL, LoadedLibraryBecomesTheResourceHandle) {
  tq::testing::TempDir dir;
  tq::testing::WriteFile(dir / "motion.lng", tq::testing::TranslatedResources("Menu"));
  AFX_MODULE_STATE state(FALSE, &NoProc, 0x0400);
  AFX_MAINTAIN_STATE keep(&state);
  HMODULE module = tq::framework::CreateResourceModule(dir / "motion.plg", "");
  EXPECT_EQ(SetAppLocalizationDLL(module), 1);
  ASSERT_NE(state.m_hCurrentResourceHandle, nullptr);
  EXPECT_EQ(tq::framework::ModuleResources(state.m_hCurrentResourceHandle)->strings.at(1), "Menu");
  FreeLibrary(state.m_hCurrentResourceHandle);
  FreeLibrary(module);
}

// A library without the menu text or the dialog is refused like a broken
// one, with its name and what it lacks, and the plug-in keeps its own.
TEST(SetAppLocalizationDLL, LibraryLackingAResourceIsRefused) {
  struct Row {
    std::string script, lacks;
  } rows[] = {
      {"STRINGTABLE BEGIN 1 \"Menu\" END\n", "dialog 1000 (the settings dialog)"},
      {"STRINGTABLE BEGIN 2 \"Other\" END\n", "string 1 (the menu text)"},
  };
  for (const Row& r : rows) {
    tq::testing::TempDir dir;
    tq::testing::WriteFile(dir / "motion.lng", r.script);
    AFX_MODULE_STATE state(FALSE, &NoProc, 0x0400);
    AFX_MAINTAIN_STATE keep(&state);
    HMODULE module = tq::framework::CreateResourceModule(dir / "motion.plg", "");
    EXPECT_EQ(SetAppLocalizationDLL(module), 0);
    EXPECT_EQ(state.m_hCurrentResourceHandle, nullptr);
    EXPECT_EQ(tq::framework::LastLoadError(), dir / "motion.lng" + ": has no " + r.lacks);
    FreeLibrary(module);
  }
}

TEST(CTQMotionApp, InitInstanceLoadsTheResourceLibraryThenTheFrameworks) {
  tq::testing::TempDir dir;
  tq::testing::WriteFile(dir / "motion.lng", tq::testing::TranslatedResources("Menu"));
  AFX_MODULE_STATE state(TRUE, &NoProc, 0x0400);
  CTQMotionApp app;
  ASSERT_EQ(state.m_pCurrentWinApp, &app);
  EXPECT_EQ(app.parameters, nullptr);
  EXPECT_FALSE(app.fileStream.IsOpen());
  AFX_MAINTAIN_STATE keep(&state);
  HMODULE module = tq::framework::CreateResourceModule(dir / "motion.plg", "");
  char empty[] = "";
  ASSERT_TRUE(AfxWinInit(module, nullptr, empty, 0));
  tq::framework::ClearTrace();
  EXPECT_TRUE(app.InitInstance());
  EXPECT_EQ(tq::framework::TraceEvents(), std::vector<std::string>{"CWinApp::InitInstance"});
  EXPECT_NE(state.m_hCurrentResourceHandle, module);
  EXPECT_EQ(app.ExitInstance(), 0);
  FreeLibrary(state.m_hCurrentResourceHandle);
  FreeLibrary(module);
}

}  // namespace
