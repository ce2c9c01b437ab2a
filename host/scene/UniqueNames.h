// Names made unique the way the glTF importer names objects, groups and
// bones: a name is kept while it is free, and a repeat becomes the first free
// of "name.2", "name.3", ...
#pragma once

#include <cstddef>
#include <map>
#include <set>
#include <string>

namespace tq::scene {

class UniqueNames {
 public:
  std::string Take(const std::string& name) {
    if (Try(name)) return name;
    // Every suffix below next_[name] is taken already (names are never
    // given back), so a run of repeats goes on from the last one.
    int& k = next_.try_emplace(name, 2).first->second;
    std::string candidate = name + "." + std::to_string(k);
    while (!Try(candidate)) candidate = name + "." + std::to_string(++k);
    ++k;
    return candidate;
  }
  // How many names Take has tried in all.
  std::size_t Tries() const { return tries_; }

 private:
  bool Try(const std::string& candidate) {
    ++tries_;
    return used_.insert(candidate).second;
  }
  std::set<std::string> used_;
  std::map<std::string, int> next_;
  std::size_t tries_ = 0;
};

}  // namespace tq::scene
