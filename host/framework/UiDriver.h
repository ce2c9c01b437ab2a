// The UI driver: what a person does with the dialogs, message boxes, the save
// request and the wait cursor goes through one interface that the host
// program installs. Every user action reaches the dialog as a real one would:
// the control changes, then the notification goes to its parent.
#pragma once

#include <string>

#include "host/fileio/SaveRequest.h"
#include "host/framework/Types.h"

class CDialog;

namespace tq::framework {

class UiDriver {
 public:
  virtual ~UiDriver() = default;
  // Delivers user actions to an open modal dialog until it ends (until
  // dialog.ContinueModal() is false). Must end the dialog itself rather than
  // return while it is still open.
  virtual void RunModalLoop(CDialog& dialog) = 0;
  virtual int MessageBox(const std::string& text, const std::string& caption, UINT type) = 0;
  // The host's save-file request; non-zero with the chosen path in call.path.
  virtual int SaveRequest(fileio::SaveRequestCall& call) = 0;
  virtual void WaitCursor(bool shown) = 0;
};

// Installs a driver (null restores the default) and routes the file
// library's save request to it; answers the previous one (null for the
// default). The default records message boxes and the wait cursor, cancels
// every dialog at once and every save request.
UiDriver* SetUiDriver(UiDriver* driver);
UiDriver* GetUiDriver();
// The driver in use when none is installed (a RecordingDriver).
UiDriver& DefaultUiDriver();

// Installs a driver for a scope.
class ScopedUiDriver {
 public:
  explicit ScopedUiDriver(UiDriver* driver) : previous_(SetUiDriver(driver)) {}
  ~ScopedUiDriver() { SetUiDriver(previous_); }
  ScopedUiDriver(const ScopedUiDriver&) = delete;
  ScopedUiDriver& operator=(const ScopedUiDriver&) = delete;

 private:
  UiDriver* previous_;
};

}  // namespace tq::framework
