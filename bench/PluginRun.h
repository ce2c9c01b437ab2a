// Runs the plug-in's export in-process, as the plug-in module would: a DLL
// module state of its own (with a window procedure that makes it current),
// the plug-in's application registered there and its resource script loaded.
#pragma once

#include <string>

#include "export/Parameters.h"
#include "host/framework/Kernel32.h"
#include "host/framework/ScriptedDriver.h"
#include "host/framework/Window.h"
#include "plugin/PluginApp.h"

namespace tq::bench {

class PluginRun {
 public:
  PluginRun() {
    current_ = this;
    resources_ = LoadLibraryA(TQ_SOURCE_DIR "/dialog/tqmotion.rc");
    state_.m_hCurrentResourceHandle = resources_;
  }
  ~PluginRun() {
    FreeLibrary(resources_);
    current_ = nullptr;
  }
  PluginRun(const PluginRun&) = delete;
  PluginRun& operator=(const PluginRun&) = delete;

  // The export alone, on a filled record.
  int Export(HChor* chor, PParameters& record, framework::UiDriver& driver) {
    framework::ScopedUiDriver use(&driver);
    AFX_MAINTAIN_STATE keep(&state_);
    app_.parameters = &record;
    const int result = app_.ChorWorking(chor);
    app_.parameters = nullptr;
    return result;
  }

 private:
  static LRESULT WndProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    AFX_MAINTAIN_STATE keep(&current_->state_);
    return AfxWndProc(h, message, wParam, lParam);
  }

  static inline PluginRun* current_ = nullptr;
  AFX_MODULE_STATE state_{TRUE, &WndProc, 0x0400};
  CTQMotionApp app_;  // registers with state_, constructed just after it
  HMODULE resources_ = nullptr;
};

// A record with every field set, for driving the export directly.
inline PParameters Record(HChor* chor, HCamera* camera, HQuorObject* object, float fps, float start,
                          float end, int width, int height, const std::string& file, int mode) {
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
  return p;
}

}  // namespace tq::bench
