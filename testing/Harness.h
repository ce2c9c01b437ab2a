// Runs the plug-in's command in-process, as the plug-in module would: a DLL
// module state of its own (with a window procedure that makes it current),
// an application registered there, and the plug-in's resource script. For
// the tests and the benchmarks, which drive the plug-in's code linked in.
#pragma once

#include <memory>
#include <string>

#include "export/Parameters.h"
#include "host/framework/Kernel32.h"
#include "host/framework/ScriptedDriver.h"
#include "host/framework/Window.h"
#include "plugin/PluginApp.h"

namespace tq::testing {

class PluginHarness {
 public:
  PluginHarness() {
    current_ = this;
    resources_ = LoadLibraryA(TQ_SOURCE_DIR "/dialog/tqmotion.rc");
    state_.m_hCurrentResourceHandle = resources_;
  }
  ~PluginHarness() {
    FreeLibrary(resources_);
    current_ = nullptr;
  }
  PluginHarness(const PluginHarness&) = delete;
  PluginHarness& operator=(const PluginHarness&) = delete;

  // The command as KfxOnCommand runs it.
  int Command(HChor* chor, framework::UiDriver& driver) {
    framework::ScopedUiDriver use(&driver);
    AFX_MAINTAIN_STATE keep(&state_);
    return app.OnChor(chor);
  }

  // The export alone, on a record the test fills.
  int Export(HChor* chor, PParameters& record, framework::UiDriver& driver) {
    framework::ScopedUiDriver use(&driver);
    AFX_MAINTAIN_STATE keep(&state_);
    app.parameters = &record;
    const int result = app.ChorWorking(chor);
    app.parameters = nullptr;
    return result;
  }

  AFX_MODULE_STATE* State() { return &state_; }

 private:
  static LRESULT WndProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    AFX_MAINTAIN_STATE keep(&current_->state_);
    return AfxWndProc(h, message, wParam, lParam);
  }

  static inline PluginHarness* current_ = nullptr;
  AFX_MODULE_STATE state_{TRUE, &WndProc, 0x0400};

 public:
  CTQMotionApp app;  // registers with state_, constructed just before it

 private:
  HMODULE resources_ = nullptr;
};

// A record with every field set, for driving the export directly.
inline PParameters Record(HChor* chor, HCamera* camera, HQuorObject* object, float fps, float start,
                          float end, int width, int height, const std::string& file, int mode = 0) {
  PParameters p;
  p.chor = chor;
  p.camera = camera;
  p.object = object;
  p.bone = nullptr;
  p.group = nullptr;
  p.fileName = file.c_str();
  p.fps = fps;
  p.startFrame = start;
  p.endFrame = end;
  p.width = width;
  p.height = height;
  p.targetMode = mode;
  p.decimals = 0;
  return p;
}

}  // namespace tq::testing
