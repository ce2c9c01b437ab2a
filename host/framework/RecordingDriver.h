// The default UI driver: records message boxes and the wait cursor, cancels
// every dialog at once and every save request.
#pragma once

#include <string>
#include <vector>

#include "host/framework/UiDriver.h"

namespace tq::framework {

// A driver that records and does nothing else; the default.
class RecordingDriver : public UiDriver {
 public:
  void RunModalLoop(CDialog& dialog) override;
  int MessageBox(const std::string& text, const std::string& caption, UINT type) override;
  int SaveRequest(fileio::SaveRequestCall& call) override;
  void WaitCursor(bool shown) override;

  std::vector<std::string> messages;
  int waitCursorShows = 0;
  int waitCursorHides = 0;
  bool waitCursorShown = false;
};

}  // namespace tq::framework
