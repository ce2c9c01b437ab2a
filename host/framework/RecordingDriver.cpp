#include "host/framework/RecordingDriver.h"

#include "host/framework/Dialog.h"

namespace tq::framework {

UiDriver& DefaultUiDriver() {
  static RecordingDriver driver;
  return driver;
}

void RecordingDriver::RunModalLoop(CDialog& dialog) {
  if (dialog.ContinueModal()) dialog.EndDialog(IDCANCEL);
}

int RecordingDriver::MessageBox(const std::string& text, const std::string&, UINT) {
  messages.push_back(text);
  return IDOK;
}

int RecordingDriver::SaveRequest(fileio::SaveRequestCall&) {
  return 0;
}

void RecordingDriver::WaitCursor(bool shown) {
  waitCursorShown = shown;
  (shown ? waitCursorShows : waitCursorHides)++;
}

}  // namespace tq::framework
