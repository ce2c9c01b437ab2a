// A loaded plug-in: an RAII handle that knows its path, resolves the entry
// points once, runs the load hooks, and unloads in the reverse order.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/framework/Types.h"
#include "host/fileio/Result.h"
#include "host/scene/Scene.h"
#include "math/String.h"

namespace tq::app {

class PluginModule {
 public:
  using LoadCommandEntry = int (*)(int, int*);
  using OnAddCommandMenu = int (*)(void*, int, String*, int*, int*);
  using OnCommand = int (*)(HChor*, int);
  using Hook = int (*)(HINSTANCE, unsigned int, void*);

  struct Command {
    int index;
    std::string menuText;
  };

  // Loads the file, resolves the five entry points and runs RawDllMain and
  // DllMain with reason 1. Refused when the file is missing or not a shared
  // object, lacks an entry point or a hook fails; a plug-in whose hook failed
  // is closed again without further calls.
  // warning: set when the plug-in's resource library exists but was refused.
  static Result<std::unique_ptr<PluginModule>> Load(const std::string& path,
                                                    std::string* warning = nullptr);
  // Runs DllMain and RawDllMain with reason 0, then closes the library.
  ~PluginModule();
  PluginModule(const PluginModule&) = delete;
  PluginModule& operator=(const PluginModule&) = delete;

  // Every command the plug-in lists (indices from 0 until it says no).
  std::vector<Command> Commands() const;
  int Run(HChor* chor, int index) const { return onCommand_(chor, index); }
  HMODULE Handle() const { return module_; }

 private:
  PluginModule() = default;

  HMODULE module_ = nullptr;
  LoadCommandEntry loadCommandEntry_ = nullptr;
  OnAddCommandMenu onAddCommandMenu_ = nullptr;
  OnCommand onCommand_ = nullptr;
  Hook rawDllMain_ = nullptr;
  Hook dllMain_ = nullptr;
};

// tqmotion.plg beside the running program; "" when its path is unknown.
std::string DefaultPluginPath();

}  // namespace tq::app
