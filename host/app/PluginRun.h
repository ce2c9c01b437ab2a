// What tqhost export and tqhost dialog share: the plug-in loaded on a scene
// and run, the dialog's outcome as it ended, the track as the run wrote it,
// and the summary of a run.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "dialog/ControlIds.h"
#include "host/app/Modes.h"
#include "host/app/BehindCamera.h"
#include "host/app/Formats.h"
#include "host/app/Options.h"
#include "host/app/PluginModule.h"
#include "host/fileio/FileStream.h"
#include "host/framework/Dialog.h"
#include "host/framework/UiDriver.h"
#include "host/framework/Window.h"
#include "host/scene/Scene.h"

namespace tq::app {

// The plug-in at path, loaded; null with the reason on err (a warning about
// its resource library is printed too).
std::unique_ptr<PluginModule> LoadPlugin(const std::string& path, std::ostream& err);

// What the dialog showed when it ended: the names and numbers the summary
// and the preview need. ran stays false when no dialog came up.
struct DialogOutcome {
  std::string camera, target, file;
  const TargetMode* mode = &TargetModes().front();  // the radio button checked
  std::string part;                                 // its group or bone, or ""
  int width = 0, height = 0;
  float start = 0, end = 0;
  INT_PTR result = -1;
  bool ran = false;
  int focus = 0;  // the control in focus at the end: the one a refusal was about

  // The run as a preview names it ("model centre", "group NAME").
  std::string ModeText() const { return ModeLabel(*mode, part); }

  void Capture(const CDialog& dialog) {
    HWND d = dialog.m_hWnd;
    camera = GetWindowTextString(GetDlgItem(d, IDC_COMBO1));
    target = GetWindowTextString(GetDlgItem(d, IDC_COMBO2));
    file = GetWindowTextString(GetDlgItem(d, IDC_FILE_NAME));
    width = framework::ParseInt(GetWindowTextString(GetDlgItem(d, IDC_WIDTH))).value_or(0);
    height = framework::ParseInt(GetWindowTextString(GetDlgItem(d, IDC_HEIGHT))).value_or(0);
    start = framework::ParseFloat(GetWindowTextString(GetDlgItem(d, IDC_START_FRAME))).value_or(0);
    end = framework::ParseFloat(GetWindowTextString(GetDlgItem(d, IDC_END_FRAME))).value_or(0);
    result = dialog.m_nModalResult;
    ran = true;
    auto checked = [&](int id) {
      return SendMessageA(GetDlgItem(d, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
    };
    auto selected = [&](int id) {
      std::string text = GetWindowTextString(GetDlgItem(d, id));
      return text.erase(0, text.find_first_not_of(' '));  // a bone's indentation
    };
    mode = &TargetModes().front();
    for (const TargetMode& m : TargetModes()) {
      if (checked(m.radio)) mode = &m;
    }
    part = mode->list != 0 ? selected(mode->list) : "";
    focus = GetDlgCtrlID(GetFocus());
  }
};

// A driver that notes the dialog's outcome when its loop ends.
template <class Driver>
class NotingDriver : public Driver {
 public:
  using Driver::Driver;
  void RunModalLoop(CDialog& dialog) override {
    Driver::RunModalLoop(dialog);
    outcome.Capture(dialog);
  }
  DialogOutcome outcome;
};

// Keeps the text of the last stream the run opened: the track as written.
class TrackTap : public fileio::StreamTap {
 public:
  void Opened(const std::string&) override { text.clear(); }
  void Wrote(const char* data, unsigned long n) override { text.append(data, n); }
  std::string text;
};

// The plug-in loaded on a scene, ready to run its export command (command 0)
// on the scene's choreography as often as asked, the host's main window its
// dialog's parent.
class ExportSession {
 public:
  ExportSession(const std::string& pluginPath, tq::scene::Scene& scene, std::ostream& err)
      : scene_(scene) {
    scene.MakeCurrent();
    plugin_ = LoadPlugin(pluginPath, err);
    mainWindow_ =
        framework::CreateWindowRecord("TqHostMain", "tqhost", 0, 0, nullptr, &DefWindowProcA);
    tq::scene::SetMainApplicationWnd(mainWindow_);
  }
  ~ExportSession() {
    tq::scene::SetMainApplicationWnd(nullptr);
    framework::DestroyWindowRecord(mainWindow_);
  }
  ExportSession(const ExportSession&) = delete;
  ExportSession& operator=(const ExportSession&) = delete;

  bool Loaded() const { return plugin_ != nullptr; }

  // One run of the command with driver as its UI; the track it writes is
  // kept in tap.
  void Run(framework::UiDriver& driver, TrackTap& tap) {
    fileio::StreamTap* previousTap = fileio::SetStreamTap(&tap);
    framework::ScopedUiDriver use(&driver);
    plugin_->Run(scene_.Chor(), 0);
    fileio::SetStreamTap(previousTap);
  }

 private:
  tq::scene::Scene& scene_;
  std::unique_ptr<PluginModule> plugin_;
  HWND mainWindow_ = nullptr;
};

// One run of the export command on a loaded scene; false (with the reason on
// err) when the plug-in cannot be loaded.
bool RunExportCommand(const std::string& pluginPath, tq::scene::Scene& scene,
                      framework::UiDriver& driver, TrackTap& tap, std::ostream& err);

// Puts --decimals (0 when not given) in the application's profile, where
// the plug-in reads it when its command starts; a value that is not a whole
// number from 0 to 6 is a usage error.
void UseDecimals(const ParsedArgs& args);

inline constexpr char kNoDialog[] = "the settings dialog could not be shown";

// The summary of a run that ended with OK, from the lines it wrote: how many,
// and why there are none, or why some could not be projected, are mirrored
// or lie beyond where the lens's distortion holds.
void Summarise(const std::vector<TrackPoint>& points, const std::vector<bool>& behind,
               const std::string& file, const char* verb, std::ostream& out, std::ostream& err,
               const std::vector<bool>& beyond = {});

// The frames of a run's track that lie behind its camera (and in beyond,
// when given, those beyond its lens's distortion).
std::vector<bool> Behind(tq::scene::Scene& scene, const DialogOutcome& o, std::size_t frames,
                         CameraFrames* kept = nullptr, std::vector<bool>* beyond = nullptr);

}  // namespace tq::app
