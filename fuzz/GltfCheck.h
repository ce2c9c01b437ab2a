// What every glTF fuzz target asks of an import: a refusal names the file,
// and the loader reads back every scene imported (short of the loader's
// size limit). A fault ends the process.
#pragma once

#include <string>

#include "host/scene/GltfImport.h"
#include "host/scene/SceneWriter.h"

inline void CheckImport(const tq::scene::ImportResult& imported, const std::string& name) {
  if (!imported) {
    if (imported.error.rfind(name, 0) != 0) __builtin_trap();
    return;
  }
  const std::string text = tq::scene::WriteSceneText(*imported->scene);
  if (text.size() <= tq::scene::kMaxSceneBytes && !tq::scene::LoadSceneText(text, name))
    __builtin_trap();
}
