// An accessor's elements visited in place, for the passes that read
// accessors (GltfAccessors.cpp, GltfObjects.cpp).
#pragma once

#include "host/scene/GltfImporter.h"

namespace tq::scene::gltf {

template <class Visit>
void Importer::ForEachElement(int index, int width, bool normalized, Visit&& visit) const {
  const tinygltf::Accessor& a = m_.accessors[static_cast<std::size_t>(index)];
  const std::string at = At("accessors", index);
  const bool floats = ElementsAreFloats(a, at, width, normalized);
  const std::size_t w = static_cast<std::size_t>(width);
  const std::size_t component = ComponentSize(a.componentType), size = component * w;
  auto read = [&](const unsigned char* p, double* out) {
    for (std::size_t k = 0; k < w; ++k) {
      if (floats) {
        float f;
        std::memcpy(&f, p + 4 * k, 4);
        out[k] = f;
      } else {
        out[k] = Normalized(p + component * k, a.componentType);
      }
      if (!InSingle(out[k])) NotFinite(at);
    }
  };
  const std::vector<std::pair<std::size_t, std::size_t>> sparse = SparseValues(a, at);
  const std::size_t stride =
      a.bufferView < 0 ? 0 : m_.bufferViews[static_cast<std::size_t>(a.bufferView)].byteStride;
  const std::size_t step = stride != 0 ? stride : size;
  const bool viewed = a.bufferView >= 0;
  const unsigned char* data =
      viewed && a.count > 0 ? Element(a.bufferView, a.byteOffset, step, 0) : nullptr;
  if (floats && w == 3 && viewed && sparse.empty()) {
    // Positions, translations and scales: the same reading, kept in
    // registers.
    for (std::size_t i = 0; i < a.count; ++i) {
      double e[3];
      FloatTriple(data + i * step, e, at);
      visit(i, static_cast<const double*>(e));
    }
    return;
  }
  double v[16] = {};
  auto next = sparse.begin();
  for (std::size_t i = 0; i < a.count; ++i) {
    if (viewed) read(data + i * step, v);
    bool replaced = false;
    for (; next != sparse.end() && next->first == i; ++next, replaced = true) {
      read(Element(a.sparse.values.bufferView, static_cast<std::size_t>(a.sparse.values.byteOffset),
                   size, next->second),
           v);
    }
    visit(i, v);
    if (replaced && a.bufferView < 0) std::fill(v, v + w, 0.0);
  }
}

}  // namespace tq::scene::gltf
