// JSON trees freed without allocating. nlohmann-json's own destructor first
// gathers a large array's elements on a stack of its own, an allocation
// that can fail when memory has run out, and then ends the process from a
// destructor; a tree held here is taken apart bottom up instead (its depth
// is bounded by whoever parsed or built it).
#pragma once

#include <utility>

namespace tq::scene {

template <typename Json>
void Dismantle(Json& v) noexcept {
  if (v.is_array()) {
    auto& a = v.template get_ref<typename Json::array_t&>();
    for (; !a.empty(); a.pop_back()) Dismantle(a.back());
  } else if (v.is_object()) {
    auto& o = v.template get_ref<typename Json::object_t&>();
    while (!o.empty()) {
      auto last = std::prev(o.end());
      Dismantle(last->second);
      o.erase(last);
    }
  }
}

// A tree freed by Dismantle when it goes (unwinding too).
template <typename Json>
struct JsonTree {
  JsonTree() = default;
  explicit JsonTree(Json v) : value(std::move(v)) {}
  JsonTree(const JsonTree&) = delete;
  JsonTree& operator=(const JsonTree&) = delete;
  ~JsonTree() { Dismantle(value); }
  Json value;
};

}  // namespace tq::scene
