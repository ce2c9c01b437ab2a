#include <stdexcept>

#include <gtest/gtest.h>

#include "host/framework/App.h"
#include "host/framework/ModuleState.h"

namespace {

LRESULT NoProc(HWND, UINT, WPARAM, LPARAM) {
  return 0;
}

TEST(ModuleState, SetReturnsTheReplacedStateAndGetFallsBackToTheApp) {
  AFX_MODULE_STATE* app = AfxGetAppModuleState();
  EXPECT_EQ(AfxGetModuleState(), app);
  AFX_MODULE_STATE mine(TRUE, &NoProc, 0x0400);
  EXPECT_EQ(AfxSetModuleState(&mine), app);
  EXPECT_EQ(AfxGetModuleState(), &mine);
  EXPECT_EQ(AfxSetModuleState(nullptr), &mine);
  EXPECT_EQ(AfxGetModuleState(), app);
  EXPECT_EQ(mine.m_dwVersion, 0x0400u);
  EXPECT_EQ(mine.m_pfnAfxWndProc, &NoProc);
  tq::framework::EndModuleConstruction();
}

TEST(ModuleState, MaintainStateRestoresOnEveryWayOut) {
  AFX_MODULE_STATE a(FALSE, &NoProc, 1), b(FALSE, &NoProc, 2);
  AfxSetModuleState(&a);
  {
    AFX_MAINTAIN_STATE keep(&b);
    EXPECT_EQ(AfxGetModuleState(), &b);
    EXPECT_EQ(keep.m_pPrevModuleState, &a);
  }
  EXPECT_EQ(AfxGetModuleState(), &a);
  EXPECT_THROW(
      {
        AFX_MAINTAIN_STATE keep(&b);
        throw std::runtime_error("handler failed");
      },
      std::runtime_error);
  EXPECT_EQ(AfxGetModuleState(), &a);
  AfxSetModuleState(nullptr);
}

TEST(ModuleState, PreviousStateSlotPassesBetweenTwoCallsOnOneThread) {
  AFX_MODULE_STATE plugin(FALSE, &NoProc, 0x0400);
  AFX_MODULE_STATE loader(FALSE, &NoProc, 0x0400);
  AfxSetModuleState(&loader);
  // The first hook switches and leaves the caller's state in the slot ...
  AfxGetThreadState()->m_pPrevModuleState = AfxSetModuleState(&plugin);
  EXPECT_EQ(AfxGetModuleState(), &plugin);
  // ... the second restores it from there.
  AfxSetModuleState(AfxGetThreadState()->m_pPrevModuleState);
  EXPECT_EQ(AfxGetModuleState(), &loader);
  AfxSetModuleState(nullptr);
  AfxGetThreadState()->m_pPrevModuleState = nullptr;
}

class App : public CWinApp {};

TEST(ModuleState, ApplicationRegistersWithTheStateUnderConstruction) {
  AFX_MODULE_STATE elsewhere(FALSE, &NoProc, 0x0400);
  AfxSetModuleState(&elsewhere);
  {
    // As a plug-in's statics: the DLL state first, then the application,
    // while the loader's state is current.
    AFX_MODULE_STATE dll(TRUE, &NoProc, 0x0400);
    App app;
    EXPECT_EQ(dll.m_pCurrentWinApp, &app);
    EXPECT_EQ(elsewhere.m_pCurrentWinApp, nullptr);
    EXPECT_EQ(tq::framework::ModuleStateUnderConstruction(), nullptr);
    // A second application is no longer the DLL's.
    App second;
    EXPECT_EQ(dll.m_pCurrentWinApp, &app);
    EXPECT_EQ(elsewhere.m_pCurrentWinApp, &second);
  }
  EXPECT_EQ(elsewhere.m_pCurrentWinApp, nullptr);  // withdrawn on destruction
  AfxSetModuleState(nullptr);
}

TEST(ModuleState, ApplicationWithoutAnnouncedStateRegistersWithTheCurrentOne) {
  AFX_MODULE_STATE current(FALSE, &NoProc, 0x0400);
  AFX_MAINTAIN_STATE keep(&current);
  App app;
  EXPECT_EQ(current.m_pCurrentWinApp, &app);
  EXPECT_EQ(AfxGetApp(), &app);
}

}  // namespace
