// The built plug-in, loaded at run time as the host loads it.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <elf.h>
#include <sys/stat.h>

#include <functional>

#include <gtest/gtest.h>

#include "dialog/ControlIds.h"
#include "host/app/PluginModule.h"
#include "host/framework/Kernel32.h"
#include "host/framework/ScriptedDriver.h"
#include "host/framework/TestSeams.h"
#include "host/framework/Trace.h"
#include "host/framework/Window.h"
#include "tests/fileio/TempDir.h"

namespace {

using tq::app::PluginModule;
using tq::framework::Action;
using tq::framework::ScriptedDriver;
using tq::testing::TempDir;

const std::string kPlugin = std::string(TQ_BIN_DIR) + "/tqmotion.plg";

// Why the plug-in at path is refused; "" when it loads.
std::string Refusal(const std::string& path) {
  auto plugin = PluginModule::Load(path);
  return plugin ? "" : plugin.error;
}

using Hook = int (*)(HINSTANCE, unsigned int, void*);

// The plug-in loaded, its hooks not yet run.
struct Loaded {
  explicit Loaded(const std::string& path = kPlugin) : module(LoadLibraryA(path.c_str())) {
    rawDllMain = reinterpret_cast<Hook>(GetProcAddress(module, "RawDllMain"));
    dllMain = reinterpret_cast<Hook>(GetProcAddress(module, "DllMain"));
  }
  ~Loaded() { FreeLibrary(module); }
  HMODULE module;
  Hook rawDllMain;
  Hook dllMain;
};

TEST(Plugin, ExportsItsSevenEntryPointsAndNothingElse) {
  FILE* nm = popen(("nm -D --defined-only " + kPlugin).c_str(), "r");
  ASSERT_NE(nm, nullptr);
  std::set<std::string> names;
  char line[1024];
  while (std::fgets(line, sizeof line, nm) != nullptr) {
    char address[64], type[8], name[900];
    if (std::sscanf(line, "%63s %7s %899s", address, type, name) == 3) names.insert(name);
  }
  ASSERT_EQ(pclose(nm), 0);
  EXPECT_EQ(names,
            (std::set<std::string>{"KfxLoadCommandEntry", "KfxOnAddCommandMenu", "KfxOnCommand",
                                   "RawDllMain", "DllMain", "_Z23AfxGetStaticModuleStatev",
                                   "_Z19AfxWndProcDllStaticP6HWND__jjl"}));
}

TEST(Plugin, LoadAndUnloadHooksStepByStep) {
  tq::framework::ClearTrace();
  AFX_MODULE_STATE* before = AfxGetModuleState();
  {
    Loaded plugin;
    ASSERT_NE(plugin.module, nullptr) << tq::framework::LastLoadError();
    ASSERT_NE(plugin.rawDllMain, nullptr);
    auto* state = reinterpret_cast<AFX_MODULE_STATE* (*)()>(
        GetProcAddress(plugin.module, "_Z23AfxGetStaticModuleStatev"))();
    EXPECT_EQ(state->m_dwVersion, 0x0400u);
    EXPECT_TRUE(state->m_bDLL);
    EXPECT_NE(state->m_pCurrentWinApp, nullptr);  // theApp registered with it
    const int libraries = tq::framework::DynLinkLibraryCount();

    EXPECT_EQ(plugin.rawDllMain(plugin.module, 1, nullptr), 1);
    EXPECT_EQ(AfxGetModuleState(), state);  // the plug-in's state, until DllMain ends
    EXPECT_EQ(AfxGetThreadState()->m_pPrevModuleState, before);
    EXPECT_EQ(plugin.dllMain(plugin.module, 1, nullptr), 1);
    EXPECT_EQ(AfxGetModuleState(), before);
    EXPECT_EQ(state->m_hCurrentInstanceHandle, plugin.module);
    EXPECT_NE(state->m_hCurrentResourceHandle, plugin.module);  // the .lng beside it
    EXPECT_EQ(tq::framework::DynLinkLibraryCount(), libraries + 1);
    EXPECT_EQ(tq::framework::TraceEvents(),
              (std::vector<std::string>{"AfxCoreInitModule", "AfxWinInit", "CWinApp::InitInstance",
                                        "AfxInitExtensionModule", "CDynLinkLibrary"}));

    // Other reasons change nothing.
    for (unsigned int reason : {2u, 3u}) {
      EXPECT_EQ(plugin.rawDllMain(plugin.module, reason, nullptr), 1);
      EXPECT_EQ(plugin.dllMain(plugin.module, reason, nullptr), 1);
      EXPECT_EQ(AfxGetModuleState(), before);
    }
    EXPECT_EQ(tq::framework::TraceEvents().size(), 5u);

    tq::framework::ClearTrace();
    EXPECT_EQ(plugin.dllMain(plugin.module, 0, nullptr), 1);
    EXPECT_EQ(AfxGetModuleState(), state);
    EXPECT_EQ(plugin.rawDllMain(plugin.module, 0, nullptr), 1);
    EXPECT_EQ(AfxGetModuleState(), before);
    EXPECT_EQ(tq::framework::DynLinkLibraryCount(), libraries);
  }
  // ExitInstance once, before AfxWinTerm and the extension module's end; then
  // static destruction: theApp before afxModuleState.
  EXPECT_EQ(tq::framework::TraceEvents(),
            (std::vector<std::string>{"CWinApp::ExitInstance", "AfxWinTerm",
                                      "AfxTermExtensionModule", "~CWinApp", "~AFX_MODULE_STATE"}));
}

TEST(Plugin, MemoryProbeFailureStopsTheLoadBeforeAnySwitch) {
  Loaded plugin;
  AFX_MODULE_STATE* before = AfxGetModuleState();
  tq::framework::SetLocalAllocFails(true);
  EXPECT_EQ(plugin.rawDllMain(plugin.module, 1, nullptr), 0);
  tq::framework::SetLocalAllocFails(false);
  EXPECT_EQ(AfxGetModuleState(), before);
}

TEST(Plugin, AfxWinInitFailureEndsTheFrameworkAndRestoresTheState) {
  Loaded plugin;
  AFX_MODULE_STATE* before = AfxGetModuleState();
  ASSERT_EQ(plugin.rawDllMain(plugin.module, 1, nullptr), 1);
  tq::framework::ClearTrace();
  tq::framework::SetAfxWinInitFails(true);
  EXPECT_EQ(plugin.dllMain(plugin.module, 1, nullptr), 0);
  tq::framework::SetAfxWinInitFails(false);
  EXPECT_EQ(AfxGetModuleState(), before);
  EXPECT_EQ(tq::framework::TraceEvents(),
            (std::vector<std::string>{"AfxCoreInitModule", "AfxWinInit", "AfxWinTerm"}));
  tq::framework::ClearTrace();
}

class Ready : public ::testing::Test {
 protected:
  void SetUp() override {
    scene.MakeCurrent();
    scene.AddObject("N", 4);  // listed first: the default target
    scene.AddCamera("Cam");
    auto loaded = PluginModule::Load(kPlugin);
    ASSERT_TRUE(loaded) << loaded.error;
    plugin = std::move(*loaded);
    using Entry = int (*)(int, int*);
    loadCommandEntry =
        reinterpret_cast<Entry>(GetProcAddress(plugin->Handle(), "KfxLoadCommandEntry"));
    addMenu = reinterpret_cast<int (*)(void*, int, String*, int*, int*)>(
        GetProcAddress(plugin->Handle(), "KfxOnAddCommandMenu"));
  }
  tq::scene::Scene scene{"P", 30, "C"};
  std::unique_ptr<PluginModule> plugin;
  int (*loadCommandEntry)(int, int*) = nullptr;
  int (*addMenu)(void*, int, String*, int*, int*) = nullptr;
};

TEST_F(Ready, CommandTable) {
  int v = 42;
  EXPECT_EQ(loadCommandEntry(0, &v), 1);
  EXPECT_EQ(v, 0);
  v = 42;
  EXPECT_EQ(loadCommandEntry(1, &v), 0);
  EXPECT_EQ(loadCommandEntry(-1, &v), 0);
  EXPECT_EQ(v, 42);
}

TEST_F(Ready, MenuTextAndOutValues) {
  AFX_MODULE_STATE* before = AfxGetModuleState();
  String text("old text");
  int first = 7, second = 7;
  EXPECT_EQ(addMenu(nullptr, 0, &text, &first, &second), 1);
  EXPECT_STREQ(text.Get(), "Export TQ motiondata...");
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 0);
  text = "again";
  first = second = 7;
  EXPECT_EQ(addMenu(nullptr, 1, &text, &first, &second), 0);
  EXPECT_STREQ(text.Get(), "Export TQ motiondata...");  // filled for any index
  EXPECT_EQ(first, 7);
  EXPECT_EQ(second, 0);
  EXPECT_EQ(AfxGetModuleState(), before);
}

TEST_F(Ready, CommandRunsOnlyForIndexZeroAndAlwaysAnswersOne) {
  AFX_MODULE_STATE* before = AfxGetModuleState();
  ScriptedDriver none;
  {
    tq::framework::ScopedUiDriver use(&none);
    EXPECT_EQ(plugin->Run(scene.Chor(), 1), 0);
  }
  EXPECT_TRUE(none.Failures().empty());  // no dialog came up
  EXPECT_EQ(scene.Project()->UpdateAllViewsCalls(), 0);
  for (bool ok : {false, true}) {
    TempDir dir;
    ScriptedDriver driver({Action::SetText(IDC_WIDTH, "64"), Action::SetText(IDC_HEIGHT, "48"),
                           Action::Click(IDC_BUTTON1), Action::AnswerSave(dir / "t.txt"),
                           ok ? Action::Ok() : Action::Cancel()});
    tq::framework::ScopedUiDriver use(&driver);
    EXPECT_EQ(plugin->Run(scene.Chor(), 0), 1);
    EXPECT_EQ(AfxGetModuleState(), before);
    EXPECT_EQ(std::filesystem::exists(dir / "t.txt"), ok);
  }
}

TEST_F(Ready, CallersStateIsRestoredWhenAnExceptionLeavesTheCommand) {
  AFX_MODULE_STATE* before = AfxGetModuleState();
  scene.Project()->SetLogging(true);
  scene.Project()->SetObserver([](const std::string& e) {
    if (e == "UpdateAllViews 1") throw std::runtime_error("host failed");
  });
  ScriptedDriver driver({Action::Cancel()});
  tq::framework::ScopedUiDriver use(&driver);
  EXPECT_THROW(plugin->Run(scene.Chor(), 0), std::runtime_error);
  EXPECT_EQ(AfxGetModuleState(), before);
  scene.Project()->SetObserver(nullptr);
}

TEST_F(Ready, WindowProcedureRunsWithThePluginsState) {
  auto proc = reinterpret_cast<WNDPROC>(
      GetProcAddress(plugin->Handle(), "_Z19AfxWndProcDllStaticP6HWND__jjl"));
  auto stateOf = reinterpret_cast<AFX_MODULE_STATE* (*)()>(
      GetProcAddress(plugin->Handle(), "_Z23AfxGetStaticModuleStatev"));
  struct Probe : CWnd {
    LRESULT WindowProc(UINT message, WPARAM, LPARAM) override {
      seen = AfxGetModuleState();
      if (message == 0x8000) throw std::runtime_error("handler failed");
      return 5;
    }
    AFX_MODULE_STATE* seen = nullptr;
  } probe;
  HWND h = tq::framework::CreateWindowRecord("Probe", "", 0, 0, nullptr, proc);
  tq::framework::Attach(h, &probe);
  AFX_MODULE_STATE* before = AfxGetModuleState();
  EXPECT_EQ(SendMessageA(h, 0x0400, 0, 0), 5);
  EXPECT_EQ(probe.seen, stateOf());
  EXPECT_EQ(AfxGetModuleState(), before);
  EXPECT_THROW(SendMessageA(h, 0x8000, 0, 0), std::runtime_error);
  EXPECT_EQ(AfxGetModuleState(), before);
  tq::framework::DestroyWindowRecord(h);
}

// A copy of the plug-in in a folder of its own, with or without a resource
// library beside it.
class PluginCopy : public ::testing::Test {
 protected:
  void SetUp() override {
    scene.MakeCurrent();
    scene.AddCamera("Cam");
    std::filesystem::copy_file(kPlugin, dir / "motion.plg");
  }
  std::string MenuText(std::string* warning = nullptr) {
    auto plugin = PluginModule::Load(dir / "motion.plg", warning);
    EXPECT_TRUE(plugin) << plugin.error;
    if (!plugin) return "";
    return (*plugin)->Commands().at(0).menuText;
  }
  tq::scene::Scene scene{"P", 30, "C"};
  TempDir dir;
};

TEST_F(PluginCopy, OwnResourcesWithoutResourceLibrary) {
  EXPECT_EQ(MenuText(), "Export TQ motiondata...");
}

TEST_F(PluginCopy, ResourceLibraryIsPreferred) {
  tq::testing::WriteFile(dir / "motion.lng",
                         tq::testing::TranslatedResources("Bildschirmspur exportieren"));
  EXPECT_EQ(MenuText(), "Bildschirmspur exportieren");
}

// The module's file name is the path it was loaded by: a link to the plug-in
// takes the resource library beside the link, not beside the file.
TEST_F(PluginCopy, LinkedPluginTakesTheResourceLibraryBesideTheLink) {
  TempDir links;
  std::filesystem::create_symlink(dir / "motion.plg", links / "linked.plg");
  tq::testing::WriteFile(links / "linked.lng", tq::testing::TranslatedResources("Beside the link"));
  tq::testing::WriteFile(dir / "motion.lng", tq::testing::TranslatedResources("Beside the file"));
  auto plugin = PluginModule::Load(links / "linked.plg");
  ASSERT_TRUE(plugin) << plugin.error;
  EXPECT_EQ((*plugin)->Commands().at(0).menuText, "Beside the link");
}

// A cut plug-in is refused before the dynamic loader maps it (which would
// fault with SIGBUS), whatever length it was cut to.
TEST(PluginModule, RefusesATruncatedPluginBeforeLoadingIt) {
  TempDir dir;
  const std::string whole = tq::testing::ReadFile(kPlugin);
  for (const std::size_t length :
       {std::size_t{10}, std::size_t{64}, std::size_t{4096}, std::size_t{20000}}) {
    const std::string cut = dir / ("cut" + std::to_string(length) + ".plg");
    tq::testing::WriteFile(cut, whole.substr(0, length));
    EXPECT_EQ(Refusal(cut), "cannot load the plug-in " + cut + ": the file is truncated");
  }
  std::string other = whole;
  other[EI_CLASS] = ELFCLASS32;  // another machine's object
  tq::testing::WriteFile(dir / "other.plg", other);
  EXPECT_EQ(Refusal(dir / "other.plg"), "cannot load the plug-in " + dir / "other.plg" +
                                            ": not an ELF shared object of this machine");
}

// A resource library that cannot serve is warned about, with its name and
// why, and the built-in resources serve: a broken script, one without the
// dialog, and what is read only from a regular file of at most 4 MiB (a pipe
// of that name would block the host for ever, /dev/zero grow it without end).
TEST_F(PluginCopy, ResourceLibraryThatCannotServeFallsBackWithAWarning) {
  auto text = [](std::string script) {
    return [script](const std::string& p) { tq::testing::WriteFile(p, script); };
  };
  struct Row {
    std::function<void(const std::string&)> make;
    std::string why;  // what follows the library's path
  } rows[] = {
      {text("STRINGTABLE BEGIN\n 1 broken\nEND\n"),
       ":2: expected the string's text, found \"broken\""},
      {text("STRINGTABLE BEGIN 1 \"Menu\" END\n"), ": has no dialog 1000 (the settings dialog)"},
      {[](const std::string& p) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); }, ": not a regular file"},
      {[](const std::string& p) { std::filesystem::create_symlink("/dev/zero", p); },
       ": not a regular file"},
      {[](const std::string& p) {
         tq::testing::WriteFile(
             p, tq::testing::TranslatedResources("Big") + std::string(std::size_t{4} << 20, ' '));
       },
       ": larger than 4 MiB"},
  };
  for (const Row& r : rows) {
    std::filesystem::remove(dir / "motion.lng");
    r.make(dir / "motion.lng");
    std::string warning;
    EXPECT_EQ(MenuText(&warning), "Export TQ motiondata...");
    EXPECT_EQ(warning, dir / "motion.lng" + r.why + " (the plug-in uses its built-in resources)");
  }
}

TEST(PluginModule, RefusesWhatIsNotAPlugin) {
  TempDir dir;
  tq::testing::WriteFile(dir / "text.plg", "not a shared object");
  EXPECT_EQ(Refusal(dir / "missing.plg"),
            "cannot load the plug-in " + dir / "missing.plg" + ": no such file");
  EXPECT_NE(Refusal(dir / "text.plg").find("text.plg"), std::string::npos);
  // A shared object without the entry points.
  EXPECT_EQ(Refusal(std::string(TQ_BIN_DIR) + "/testmodule.so"),
            "cannot load the plug-in " + std::string(TQ_BIN_DIR) +
                "/testmodule.so: it has no entry point KfxLoadCommandEntry");
  tq::framework::SetLocalAllocFails(true);
  const std::string hookFailed = Refusal(kPlugin);
  tq::framework::SetLocalAllocFails(false);
  EXPECT_EQ(hookFailed, "cannot load the plug-in " + kPlugin + ": its load hook RawDllMain failed");
}

}  // namespace
