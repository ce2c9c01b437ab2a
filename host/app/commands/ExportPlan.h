// What tqhost export will do, worked out before anything runs: each target's
// run with every file it writes, the files checked together, and how many
// processes share the runs.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "host/app/HtmlPreview.h"
#include "host/app/Options.h"
#include "host/app/commands/ExportTargets.h"
#include "host/app/commands/FilePlan.h"
#include "host/app/commands/OutputPatterns.h"
#include "host/scene/Scene.h"

namespace tq::app {

// The targets of the command, once each, with every path expanded and
// checked (in plan, with the scene's own files) before anything runs.
// A corner pin (pin) gives the four targets.
std::vector<TargetRun> PlanRuns(const OptionValues& options, const std::optional<PinTargets>& pin,
                                const std::string& scenePath, tq::scene::Scene& scene,
                                const SceneNames& names, const std::vector<AlsoCopy>& also,
                                FilePlan& plan);

// The plan as JSON, one line: {"camera": NAME, "runs": [{"target", "mode",
// "group" or "bone" (when the mode picks one), "output", "copies": [{"format",
// "path"}], "preview" (or null)}]}; standard output is "/dev/stdout".
std::string PlanJson(const std::vector<TargetRun>& runs, const std::string& camera);

// The preview's footage (--plate), once the preview's kind is checked (a
// usage error for a name that is not FILE.svg, FILE.html or -).
std::optional<PlatePattern> PreviewPlate(const OptionValues& a);

// What the runs would write, as JSON on out, once every name is checked as a
// run checks it; nothing is written. The exit status.
int PrintPlan(const std::vector<TargetRun>& runs, const OptionValues& a, tq::scene::Scene& scene,
              SceneNames& names, std::ostream& out, std::ostream& err);

// How many processes share the targets: given (--jobs), else one for each
// processor with 8 targets or more. One for a run whose tracks all go to
// one place (standard output, the clipboard, an HTML page).
std::size_t Jobs(const OptionValues& options, std::size_t given, std::size_t targets, bool batch,
                 const FilePlan& plan);
// The count --jobs gives (0 without it); a usage error for anything but 1 to 64.
std::size_t JobsGiven(const OptionValues::Text& jobs);

}  // namespace tq::app
