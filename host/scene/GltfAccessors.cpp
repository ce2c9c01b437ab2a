// An accessor's elements read in place: floats, normalized integers,
// sparse values, indices.
#include "host/scene/GltfElements.h"
#include "host/scene/GltfImporter.h"

namespace tq::scene::gltf {

const unsigned char* Importer::Element(int view, std::size_t offset, std::size_t stride,
                                       std::size_t i) const {
  const tinygltf::BufferView& bv = m_.bufferViews[static_cast<std::size_t>(view)];
  return buffers_[static_cast<std::size_t>(bv.buffer)].data() + bv.byteOffset + offset + i * stride;
}

double Importer::Normalized(const unsigned char* p, int type) {
  switch (type) {
    case TINYGLTF_COMPONENT_TYPE_BYTE:
      return std::max(static_cast<signed char>(p[0]) / 127.0, -1.0);
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE:
      return p[0] / 255.0;
    case TINYGLTF_COMPONENT_TYPE_SHORT: {
      std::int16_t v;
      std::memcpy(&v, p, 2);
      return std::max(v / 32767.0, -1.0);
    }
    default: {
      std::uint16_t v;
      std::memcpy(&v, p, 2);
      return v / 65535.0;
    }
  }
}

std::vector<double> Importer::Numbers(int index, int width, bool normalized) const {
  std::vector<double> out;
  ForEachElement(index, width, normalized,
                 [&](std::size_t, const double* v) { out.insert(out.end(), v, v + width); });
  return out;
}

void Importer::FloatTriple(const unsigned char* p, double xyz[3], const std::string& at) {
  for (int k = 0; k < 3; ++k) {
    float f;
    std::memcpy(&f, p + 4 * k, 4);
    xyz[k] = f;
    if (!InSingle(xyz[k])) NotFinite(at);
  }
}

Importer::UnsignedList Importer::Unsigneds(int view, std::size_t offset, int componentType,
                                           std::size_t count) const {
  const std::size_t size = ComponentSize(componentType);
  return {count == 0 ? nullptr : Element(view, offset, size, 0), size, count};
}

bool Importer::ElementsAreFloats(const tinygltf::Accessor& a, const std::string& at, int width,
                                 bool normalized) {
  const bool floats = a.componentType == TINYGLTF_COMPONENT_TYPE_FLOAT;
  const bool integers = normalized && a.normalized &&
                        a.componentType != TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT && !floats;
  if (!floats && !integers)
    ThrowFault(at, normalized ? "expected 32-bit floats (componentType 5126) or normalized 8- or "
                                "16-bit integers"
                              : "expected 32-bit floats (componentType 5126)");
  if (tinygltf::GetNumComponentsInType(static_cast<uint32_t>(a.type)) != width)
    ThrowFault(at, "expected " + std::to_string(width) + " components an element");
  return floats;
}

std::vector<std::pair<std::size_t, std::size_t>> Importer::SparseValues(
    const tinygltf::Accessor& a, const std::string& at) const {
  std::vector<std::pair<std::size_t, std::size_t>> sparse;  // element, value
  if (!a.sparse.isSparse) return sparse;
  const std::vector<std::size_t> targets =
      Indices(a.sparse.indices.bufferView, static_cast<std::size_t>(a.sparse.indices.byteOffset),
              a.sparse.indices.componentType, static_cast<std::size_t>(a.sparse.count));
  for (std::size_t k = 0; k < targets.size(); ++k) {
    if (targets[k] >= a.count) ThrowFault(at + ".sparse.indices", "expected indices within count");
    sparse.push_back({targets[k], k});
  }
  std::stable_sort(sparse.begin(), sparse.end(),
                   [](const auto& x, const auto& y) { return x.first < y.first; });
  return sparse;
}

std::vector<std::size_t> Importer::Indices(int view, std::size_t offset, int componentType,
                                           std::size_t count) const {
  const UnsignedList list = Unsigneds(view, offset, componentType, count);
  std::vector<std::size_t> out;
  out.reserve(count);
  for (std::size_t i = 0; i < count; ++i) out.push_back(list[i]);
  return out;
}

Importer::UnsignedList Importer::PrimitiveIndices(const tinygltf::Primitive& p,
                                                  std::size_t vertices) const {
  if (p.indices < 0) return {};
  const tinygltf::Accessor& a = m_.accessors[static_cast<std::size_t>(p.indices)];
  const std::string at = At("accessors", p.indices);
  const std::size_t size = ComponentSize(a.componentType);
  if (a.bufferView < 0) ThrowFault(at, "expected a bufferView");
  if (a.componentType == TINYGLTF_COMPONENT_TYPE_BYTE ||
      a.componentType == TINYGLTF_COMPONENT_TYPE_SHORT ||
      a.componentType == TINYGLTF_COMPONENT_TYPE_FLOAT ||
      tinygltf::GetNumComponentsInType(static_cast<uint32_t>(a.type)) != 1)
    ThrowFault(at, "expected unsigned integer indices");
  const std::size_t stride = m_.bufferViews[static_cast<std::size_t>(a.bufferView)].byteStride;
  if (stride != 0 && stride != size) ThrowFault(at, "expected tightly packed indices");
  const UnsignedList out = Unsigneds(a.bufferView, a.byteOffset, a.componentType, a.count);
  for (std::size_t i = 0; i < out.count; ++i) {
    if (out[i] >= vertices)
      ThrowFault(
          at, "expected indices below the primitive's " + std::to_string(vertices) + " vertices");
  }
  return out;
}

std::vector<double> Importer::InverseBinds(int skinIndex) const {
  const tinygltf::Skin& skin = m_.skins[static_cast<std::size_t>(skinIndex)];
  if (skin.inverseBindMatrices < 0) return {};
  const std::string at = At("skins", skinIndex) + ".inverseBindMatrices";
  std::vector<double> ibm = Numbers(skin.inverseBindMatrices, 16, false);
  if (ibm.size() != skin.joints.size() * 16) ThrowFault(at, "expected one matrix a joint");
  return ibm;
}

}  // namespace tq::scene::gltf
