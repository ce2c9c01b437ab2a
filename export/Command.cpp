// The export command: a fresh record with the defaults, the settings dialog,
// the export on OK, the record freed and the host's views refreshed.
#include "dialog/PDialog.h"
#include "export/Parameters.h"
#include "host/framework/App.h"
#include "math/Rounding.h"
#include "plugin/PluginApp.h"

int CTQMotionApp::OnChor(HChor* chor) {
  parameters = new PParameters;
  PParameters& p = *parameters;
  p.chor = chor;
  p.endFrame = 0.0f;
  p.startFrame = 0.0f;
  p.height = 0;
  p.width = 0;
  p.targetMode = TargetMode::kOrigin;
  p.camera = nullptr;
  p.group = nullptr;
  p.object = nullptr;
  p.bone = nullptr;  // only the bone list writes it; nothing reads it
  p.fps = GetHProject()->GetFPS();
  p.fileName = "TQmotion.txt";
  // Whole pixels unless the profile asks for decimals the export can write.
  const UINT decimals = GetProfileInt(kProfileSection, kProfileDecimals, 0);
  p.decimals = decimals <= static_cast<UINT>(kMostDecimals) ? static_cast<int>(decimals) : 0;

  PDialog dialog(parameters);
  if (dialog.DoModal() == IDOK) ChorWorking(chor);

  if (parameters != nullptr) {
    if (parameters->fileName.buffer != nullptr) {
      FreeString(parameters->fileName.buffer);
      parameters->fileName.buffer = nullptr;
    }
    delete parameters;
    parameters = nullptr;
  }
  HProject* project = GetHProject();
  project->UpdateAllViews(1);
  project->RefreshAllTrees();
  return 1;
}
