// Text handed to the desktop's clipboard through the programs that own it
// (wl-copy, then xclip), without letting one of them kill, hang or silently
// fail the caller: each runs with its output detached and a bounded time,
// a broken pipe is an error rather than a signal, and the next program is
// tried when one fails.
#pragma once

#include <string>
#include <vector>

#include "host/fileio/Result.h"

namespace tq::app {

struct ClipboardProgram {
  std::string name;               // as found on PATH ("wl-copy")
  std::vector<std::string> args;  // after the name
};

// The programs tried, in order.
const std::vector<ClipboardProgram>& ClipboardPrograms();

// Hands text to the first program that takes it whole and exits 0 within
// seconds; answers its name, or why not (every program's failure, or that
// none is installed).
Result<std::string> CopyToClipboard(
    const std::string& text, const std::vector<ClipboardProgram>& programs = ClipboardPrograms(),
    int seconds = 5);

}  // namespace tq::app
