// Test seams of the framework: switches that make the next calls of a
// framework function fail, so that a failed allocation or start-up is a test,
// not a hope. The framework reads them; only tests set them.
#pragma once

namespace tq::framework {

// LocalAlloc answers null while set.
void SetLocalAllocFails(bool fails);
bool LocalAllocFails();
// AfxWinInit answers 0 while set.
void SetAfxWinInitFails(bool fails);
bool AfxWinInitFails();

}  // namespace tq::framework
