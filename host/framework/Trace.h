// The framework's trace: a log of the life-cycle calls a module makes
// (AfxWinInit, AfxWinTerm, ExitInstance, the destruction of applications and
// module states, ...), kept so that the order of a plug-in's start-up and
// shut-down can be read back. It lives in the framework library and so
// outlives an unloaded plug-in.
#pragma once

#include <string>
#include <vector>

namespace tq::framework {

void TraceEvent(std::string event);
const std::vector<std::string>& TraceEvents();
void ClearTrace();

}  // namespace tq::framework
