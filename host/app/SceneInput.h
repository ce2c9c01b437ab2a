// What every command does with its files: reads a shot (a scene file, or a
// glTF file with the options given) and saves text through the durable,
// never-half-written replace a track gets.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "host/app/Options.h"
#include "host/scene/GltfImport.h"
#include "host/fileio/Result.h"
#include "host/scene/Scene.h"

namespace tq::app {

// The scene of path, or why not; a glTF file's warnings are printed on err,
// and its animations listed in animations when asked.
Result<std::unique_ptr<tq::scene::Scene>> LoadScene(
    const std::string& path, const ParsedArgs& a, std::ostream& err,
    std::vector<tq::scene::GltfAnimation>* animations = nullptr,
    std::vector<std::string>* inputs = nullptr);

// Saves text, or says why not, naming the file (what names it: "the
// preview ").
Status SaveText(const std::string& path, const std::string& text, const char* what = "");

}  // namespace tq::app
