// The settings dialog of one target's run, worked from tqhost export's
// options, and its end read: a track, or what kept the run from one.
#pragma once

#include <string>
#include <vector>

#include "host/app/Options.h"
#include "host/app/PluginRun.h"
#include "host/app/commands/ExportTargets.h"
#include "host/framework/ScriptedDriver.h"

namespace tq::app {

// The dialog worked as the options say, in the order of the option table,
// then OK.
std::vector<framework::Action> DialogActions(const TargetRun& run, const OptionValues& options);

// The option that fills a control, with its value when given ("--width 0"),
// for messages about that control; "" for a control no option fills.
std::string OptionOfControl(int id, const TargetRun& run, const OptionValues& options);

// Whether the run ended with a track, or what kept it from that as lines to
// print: message boxes in the dialog's own words, named by the option of the
// control they are about; the driver's failures show the dialog only with
// --verbose.
Status RunSucceeded(const NotingDriver<framework::ScriptedDriver>& driver, const TargetRun& run,
                    const OptionValues& options);

}  // namespace tq::app
