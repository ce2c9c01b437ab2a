#include <cstring>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "host/framework/App.h"
#include "host/framework/Kernel32.h"
#include "host/framework/TestSeams.h"
#include "host/framework/Trace.h"
#include "tests/fileio/TempDir.h"

namespace {

using tq::testing::TempDir;
using tq::testing::WriteFile;

const std::string kTestModule = std::string(TQ_BIN_DIR) + "/testmodule.so";

TEST(LocalAlloc, SeamMakesItFail) {
  HLOCAL block = LocalAlloc(0, 8192);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(LocalFree(block), nullptr);
  tq::framework::SetLocalAllocFails(true);
  EXPECT_EQ(LocalAlloc(0, 8192), nullptr);
  tq::framework::SetLocalAllocFails(false);
}

TEST(LoadLibrary, ResourceScriptBecomesAResourceOnlyModule) {
  TempDir dir;
  const std::string path = dir / "menu.lng";
  WriteFile(path, "STRINGTABLE BEGIN 1 \"Export\" 7 \"Seven\" END\n");
  HMODULE module = LoadLibraryA(path.c_str());
  ASSERT_NE(module, nullptr) << tq::framework::LastLoadError();
  const auto* resources = tq::framework::ModuleResources(module);
  ASSERT_NE(resources, nullptr);
  EXPECT_EQ(resources->strings.at(1), "Export");
  EXPECT_EQ(GetProcAddress(module, "anything"), nullptr);
  char name[512];
  EXPECT_EQ(GetModuleFileNameA(module, name, sizeof name), path.size());
  EXPECT_EQ(name, path);
  EXPECT_TRUE(FreeLibrary(module));
}

TEST(LoadLibrary, BrokenOrMissingScriptFailsWithAReason) {
  TempDir dir;
  const std::string path = dir / "broken.lng";
  WriteFile(path, "STRINGTABLE\nBEGIN\n  1 Export\nEND\n");
  EXPECT_EQ(LoadLibraryA(path.c_str()), nullptr);
  EXPECT_EQ(tq::framework::LastLoadError(),
            path + ":3: expected the string's text, found \"Export\"");
  EXPECT_EQ(LoadLibraryA((dir / "absent.lng").c_str()), nullptr);
  EXPECT_EQ(tq::framework::LastLoadError(), dir / "absent.lng" + ": No such file or directory");
}

// What went wrong is a value to decide on, never a message to search.
TEST(LoadLibrary, StatusNamesTheOutcome) {
  using Outcome = tq::framework::LoadStatus::Outcome;
  TempDir dir;
  WriteFile(dir / "good.lng", "STRINGTABLE BEGIN 1 \"x\" END\n");
  WriteFile(dir / "broken.lng", "STRINGTABLE BEGIN\n 1 broken\nEND\n");
  WriteFile(dir / "text.so", "not a shared object");
  std::filesystem::create_directory(dir / "folder.lng");
  struct Row {
    std::string path;
    Outcome outcome;
  } rows[] = {
      {dir / "good.lng", Outcome::kLoaded},     {dir / "missing.lng", Outcome::kNotFound},
      {dir / "missing.so", Outcome::kNotFound}, {dir / "folder.lng", Outcome::kUnreadable},
      {dir / "broken.lng", Outcome::kBroken},   {dir / "text.so", Outcome::kUnfit},
      {"", Outcome::kNotFound},
  };
  for (const Row& r : rows) {
    HMODULE module = LoadLibraryA(r.path.c_str());
    EXPECT_EQ(tq::framework::LastLoadStatus().outcome, r.outcome) << r.path;
    EXPECT_EQ(module != nullptr, r.outcome == Outcome::kLoaded) << r.path;
    EXPECT_EQ(tq::framework::LastLoadError().empty(), r.outcome == Outcome::kLoaded) << r.path;
    if (module != nullptr) FreeLibrary(module);
  }
}

TEST(LoadLibrary, SharedObjectRunsStaticConstructionAndDestruction) {
  tq::framework::ClearTrace();
  HMODULE module = LoadLibraryA(kTestModule.c_str());
  ASSERT_NE(module, nullptr) << tq::framework::LastLoadError();
  EXPECT_EQ(tq::framework::TraceEvents(), std::vector<std::string>{"TestModuleApp"});
  auto stateOf =
      reinterpret_cast<AFX_MODULE_STATE* (*)()>(GetProcAddress(module, "TestModuleState"));
  ASSERT_NE(stateOf, nullptr);
  AFX_MODULE_STATE* state = stateOf();
  ASSERT_NE(state->m_pCurrentWinApp, nullptr);  // the module's application registered there
  EXPECT_EQ(AfxGetAppModuleState()->m_pCurrentWinApp, nullptr);
  EXPECT_EQ(GetProcAddress(module, "NoSuchFunction"), nullptr);
  const auto* resources = tq::framework::ModuleResources(module);
  ASSERT_NE(resources, nullptr);
  EXPECT_EQ(resources->strings.at(1), "Test module menu");
  tq::framework::ClearTrace();
  EXPECT_TRUE(FreeLibrary(module));
  // The application goes before its module state.
  EXPECT_EQ(tq::framework::TraceEvents(),
            (std::vector<std::string>{"~CWinApp", "~AFX_MODULE_STATE"}));
}

TEST(LoadLibrary, NotASharedObjectFails) {
  TempDir dir;
  WriteFile(dir / "fake.plg", "not an ELF file");
  EXPECT_EQ(LoadLibraryA((dir / "fake.plg").c_str()), nullptr);
  EXPECT_NE(tq::framework::LastLoadError().find("fake.plg"), std::string::npos);
  EXPECT_EQ(LoadLibraryA(nullptr), nullptr);
  EXPECT_EQ(tq::framework::LastLoadError(), "no module name given");
}

TEST(GetModuleFileName, ShortBuffersAreNeverOverrun) {
  const std::string longPath = "/opt/" + std::string(600, 'p') + "/motion.lng";
  HMODULE module = tq::framework::CreateResourceModule(longPath, "");
  ASSERT_NE(module, nullptr);
  struct Row {
    DWORD size;
    DWORD result;
  } rows[] = {{1, 1},
              {512, 512},
              {static_cast<DWORD>(longPath.size()), static_cast<DWORD>(longPath.size())},
              {static_cast<DWORD>(longPath.size() + 1), static_cast<DWORD>(longPath.size())}};
  for (const Row& r : rows) {
    std::string buffer(r.size + 16, '#');
    EXPECT_EQ(GetModuleFileNameA(module, buffer.data(), r.size), r.result) << r.size;
    const std::size_t copied = std::min<std::size_t>(r.size - 1, longPath.size());
    EXPECT_EQ(buffer.compare(0, copied, longPath, 0, copied), 0) << r.size;
    EXPECT_EQ(buffer[copied], '\0') << r.size;
    EXPECT_EQ(buffer.substr(r.size), std::string(16, '#')) << r.size;
  }
  char none = '#';
  EXPECT_EQ(GetModuleFileNameA(module, &none, 0), 0u);
  EXPECT_EQ(none, '#');
  FreeLibrary(module);
  char self[4096];
  EXPECT_GT(GetModuleFileNameA(nullptr, self, sizeof self), 0u);
  EXPECT_NE(std::strstr(self, "framework_test"), nullptr);
}

TEST(AfxWinInit, SetsTheModuleHandlesAndCanBeMadeToFail) {
  LRESULT (*proc)(HWND, UINT, WPARAM, LPARAM) = nullptr;
  AFX_MODULE_STATE state(FALSE, proc, 0x0400);
  AFX_MAINTAIN_STATE keep(&state);
  HMODULE module = tq::framework::CreateResourceModule("x.lng", "");
  char empty[] = "";
  EXPECT_TRUE(AfxWinInit(module, nullptr, empty, 0));
  EXPECT_EQ(state.m_hCurrentInstanceHandle, module);
  EXPECT_EQ(state.m_hCurrentResourceHandle, module);
  tq::framework::SetAfxWinInitFails(true);
  EXPECT_FALSE(AfxWinInit(module, nullptr, empty, 0));
  tq::framework::SetAfxWinInitFails(false);
  FreeLibrary(module);
}

TEST(ExtensionModule, DynLinkLibraryIsTheFrameworksToFree) {
  AFX_EXTENSION_MODULE ext = {};
  HMODULE module = tq::framework::CreateResourceModule("ext.lng", "");
  const int before = tq::framework::DynLinkLibraryCount();
  EXPECT_TRUE(AfxInitExtensionModule(ext, module));
  EXPECT_TRUE(ext.bInitialized);
  new CDynLinkLibrary(ext, FALSE);  // owned by the framework from here on
  EXPECT_EQ(tq::framework::DynLinkLibraryCount(), before + 1);
  AfxTermExtensionModule(ext, TRUE);
  EXPECT_EQ(tq::framework::DynLinkLibraryCount(), before);
  EXPECT_FALSE(ext.bInitialized);
  FreeLibrary(module);
}

}  // namespace
