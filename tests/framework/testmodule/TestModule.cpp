// A code module built for the framework's tests: static objects like a
// plug-in's (a DLL module state, then an application), its own resources, and
// one exported function.
#include "host/framework/App.h"
#include "host/framework/Kernel32.h"
#include "host/framework/Trace.h"

namespace {

LRESULT TestModuleWndProc(HWND, UINT, WPARAM, LPARAM) {
  return 0;
}

AFX_MODULE_STATE moduleState(TRUE, &TestModuleWndProc, 0x0400);

class TestModuleApp : public CWinApp {
 public:
  TestModuleApp() { tq::framework::TraceEvent("TestModuleApp"); }
};
TestModuleApp app;

const char kResources[] = R"(
STRINGTABLE
BEGIN
  1 "Test module menu"
END
)";
const bool registered =
    (tq::framework::RegisterEmbeddedResources(&registered, kResources, "testmodule.so"), true);

}  // namespace

extern "C" __attribute__((visibility("default"))) AFX_MODULE_STATE* TestModuleState() {
  return &moduleState;
}
