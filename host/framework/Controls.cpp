// The built-in control classes, registered from one table.
#include "host/framework/WindowRecord.h"

namespace tq::framework {

const BuiltinClass* FindBuiltinClass(const std::string& name) {
  static const BuiltinClass* const kClasses[] = {&kButtonClass, &kComboBoxClass, &kEditClass,
                                                 &kStaticClass};
  for (const BuiltinClass* c : kClasses) {
    if (SameClass(name, c->name)) return c;
  }
  return nullptr;
}

}  // namespace tq::framework
