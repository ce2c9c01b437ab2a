// A plug-in whose command asks for a dialog that does not exist: the host
// must tell that no dialog came up instead of reporting success.
#include "host/framework/Dialog.h"
#include "math/String.h"

#define TQ_EXPORT extern "C" __attribute__((visibility("default")))

TQ_EXPORT int KfxLoadCommandEntry(int index, int* out) {
  if (index != 0) return 0;
  *out = 0;
  return 1;
}

TQ_EXPORT int KfxOnAddCommandMenu(void*, int index, String* text, int* first, int* second) {
  *text = "No dialog";
  *second = 0;
  if (index != 0) return 0;
  *first = 1;
  return 1;
}

TQ_EXPORT int KfxOnCommand(void*, int index) {
  if (index != 0) return 0;
  CDialog dialog(4242, nullptr);
  dialog.DoModal();
  return 1;
}

TQ_EXPORT int RawDllMain(void*, unsigned int, void*) {
  return 1;
}

TQ_EXPORT int DllMain(void*, unsigned int, void*) {
  return 1;
}
