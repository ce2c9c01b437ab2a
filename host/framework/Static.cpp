// The static control: a label; its text is all its state.
#include "host/framework/WindowRecord.h"

namespace tq::framework {
namespace {

LRESULT StaticProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(h, message, wParam, lParam);
}

}  // namespace

const BuiltinClass kStaticClass = {
    "Static", &StaticProc, []() -> std::unique_ptr<ControlState> { return nullptr; },
    []() -> std::unique_ptr<CWnd> { return std::make_unique<CStatic>(); }};

}  // namespace tq::framework
