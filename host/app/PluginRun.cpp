#include "host/app/PluginRun.h"

#include <algorithm>
#include <charconv>
#include <ostream>

#include "dialog/ControlIds.h"
#include "export/Parameters.h"
#include "host/app/BehindCamera.h"
#include "host/framework/App.h"
#include "host/framework/Window.h"

namespace tq::app {

std::unique_ptr<PluginModule> LoadPlugin(const std::string& path, std::ostream& err) {
  std::string warning;
  auto plugin = PluginModule::Load(path, &warning);
  if (!plugin) {
    err << "tqhost: " << plugin.error << "\n";
    return nullptr;
  }
  if (!warning.empty()) err << "tqhost: warning: " << warning << "\n";
  return std::move(*plugin);
}

// One run of the export command on a loaded scene; false (with the reason on
// err) when the plug-in cannot be loaded.
bool RunExportCommand(const std::string& pluginPath, tq::scene::Scene& scene,
                      framework::UiDriver& driver, TrackTap& tap, std::ostream& err) {
  ExportSession session(pluginPath, scene, err);
  if (!session.Loaded()) return false;
  session.Run(driver, tap);
  return true;
}

void UseDecimals(const ParsedArgs& args) {
  const std::string given = args.Value("--decimals", "0");
  int decimals = -1;
  const auto [end, ec] = std::from_chars(given.data(), given.data() + given.size(), decimals);
  if (ec != std::errc() || end != given.data() + given.size() || given[0] == '-' ||
      decimals > kMostDecimals) {
    throw UsageError{"--decimals must be a whole number from 0 to 6, not '" + given + "'"};
  }
  framework::WriteProfileEntry(kProfileSection, kProfileDecimals, decimals);
}

// The summary of a run that ended with OK, from the lines it wrote: how many,
// and why there are none or why some could not be projected.
void Summarise(const std::vector<TrackPoint>& points, const std::vector<bool>& behind,
               const std::string& file, const char* verb, std::ostream& out, std::ostream& err,
               const std::vector<bool>& beyond) {
  const std::size_t frames = points.size();
  if (frames == 0) {
    out << "0 frames " << verb << " (the start frame is after the end frame)\n";
    return;
  }
  out << frames << (frames == 1 ? " frame " : " frames ") << verb << " to " << file << "\n";
  // A frame beyond the lens's model is told as that alone.
  const auto marked = [](const std::vector<bool>& v, std::size_t i) {
    return i < v.size() && v[i];
  };
  std::size_t saturated = 0, mirrored = 0, folded = 0;
  for (std::size_t i = 0; i < frames; ++i) {
    if (marked(beyond, i)) {
      ++folded;
    } else {
      saturated += Unprojected(points[i]) ? 1 : 0;
      mirrored += marked(behind, i) ? 1 : 0;
    }
  }
  if (saturated > 0) {
    err << "tqhost: warning: " << saturated << " of " << frames
        << " frames could not be projected: the target is at the camera or in its image plane\n";
  }
  if (mirrored > 0) {
    err << "tqhost: warning: " << mirrored << " of " << frames
        << " frames: the target is behind the camera; those values are mirrored\n";
  }
  if (folded > 0) {
    err << "tqhost: warning: " << folded << " of " << frames
        << " frames lie beyond where the lens's distortion holds (it turns back on itself "
           "there); they are written as frames that could not be projected\n";
  }
}

// The frames of a run's track that lie behind its camera.
std::vector<bool> Behind(tq::scene::Scene& scene, const DialogOutcome& o, std::size_t frames,
                         CameraFrames* kept, std::vector<bool>* beyond) {
  return FramesBehindCamera(scene, {o.camera, o.target, o.mode, o.part}, o.start, frames,
                            scene.Project()->GetFPS(), kept, beyond);
}

}  // namespace tq::app
