#include "host/framework/UiDriver.h"

namespace tq::framework {
namespace {

UiDriver* installed = nullptr;

}  // namespace

UiDriver* GetUiDriver() {
  return installed != nullptr ? installed : &DefaultUiDriver();
}

UiDriver* SetUiDriver(UiDriver* driver) {
  UiDriver* previous = installed;
  installed = driver;
  fileio::SetSaveRequestHandler(
      [](fileio::SaveRequestCall& call) { return GetUiDriver()->SaveRequest(call); });
  return previous;
}

}  // namespace tq::framework
