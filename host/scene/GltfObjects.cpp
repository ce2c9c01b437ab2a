// The scene's objects made from the nodes: cameras, models with their
// points and patches, and a skin's bones.
#include "host/scene/GltfElements.h"
#include "host/scene/GltfImporter.h"

namespace tq::scene::gltf {

template <bool Unit>
[[gnu::noinline]] std::size_t Importer::TightPoints(HCP* out, const unsigned char* p,
                                                    std::size_t step, std::size_t count,
                                                    const float bounds[3], const Vec3& scale,
                                                    std::array<double, 3>& sum) {
  const float bx = bounds[0], by = bounds[1], bz = bounds[2];
  const double sx = scale[0], sy = scale[1], sz = scale[2];
  double x = sum[0], y = sum[1], z = sum[2];
  constexpr std::size_t kFew = Unit ? SIZE_MAX : 64;
  std::size_t made = 0;
  for (bool refused = false; made < count && !refused;) {
    const std::size_t few = std::min(kFew, count - made);
    std::size_t i = 0;
    for (; i < few; ++i, p += step) {
      // Each float loaded on its own: copied as one block, the triple went
      // through the stack (8 bytes stored, read back as floats), and a
      // store that a read cannot take from in flight (where the stack
      // puts it across a cache line) stalled every point.
      float f[3];
      std::memcpy(&f[0], p, sizeof(float));
      std::memcpy(&f[1], p + sizeof(float), sizeof(float));
      std::memcpy(&f[2], p + 2 * sizeof(float), sizeof(float));
      // All three compared, then one branch.
      const unsigned inside = static_cast<unsigned>(std::fabs(f[0]) <= bx) &
                              static_cast<unsigned>(std::fabs(f[1]) <= by) &
                              static_cast<unsigned>(std::fabs(f[2]) <= bz);
      if (inside == 0) {
        refused = true;
        break;
      }
      if constexpr (Unit) {
        new (out + made + i) HCP(Vector(f[0], f[1], f[2]));
        x += f[0];
        y += f[1];
        z += f[2];
      } else {
        new (out + made + i)
            HCP(Vector(static_cast<float>(f[0] * sx), static_cast<float>(f[1] * sy),
                       static_cast<float>(f[2] * sz)));
      }
    }
    if constexpr (!Unit) {
      for (const HCP* point = out + made; point != out + made + i; ++point) {
        const Vector v = point->GetModelPosition();
        x += v.x;
        y += v.y;
        z += v.z;
      }
    }
    made += i;
  }
  sum = {x, y, z};
  return made;
}

std::string Importer::Clean(std::string name, const std::string& fallback) {
  for (char& c : name) {
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  }
  if (name.size() > kMaxNameLength - 16) {
    std::size_t cut = kMaxNameLength - 16;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    name.resize(cut);
  }
  return name.empty() ? fallback : name;
}

std::string Importer::NodeName(int node) const {
  const std::string& name = m_.nodes[static_cast<std::size_t>(node)].name;
  return At("nodes", node) + (name.empty() ? "" : " (" + Clean(name, "") + ")");
}

void Importer::AddObject(int node) {
  const tinygltf::Node& n = m_.nodes[static_cast<std::size_t>(node)];
  const std::string where = At("nodes", node);
  const std::string name = usedNames_.Take(Clean(n.name, "node" + std::to_string(node)));
  HBone* object = nullptr;
  if (n.camera >= 0) {
    const tinygltf::Camera& camera = m_.cameras[static_cast<std::size_t>(n.camera)];
    if (camera.type == "perspective") {
      object = AddCamera(name, n.camera);
    } else {
      Warn(where + ": the " + camera.type + " camera " + name +
           " is imported as a null (only perspective cameras project)");
    }
  }
  if (object == nullptr && n.mesh >= 0) object = AddModel(name, node);
  if (object == nullptr) {
    const bool light = n.extensions.count("KHR_lights_punctual") != 0;
    object = scene_->AddObject(name, light ? ObjectType::kLight : ObjectType::kNull);
  }
  Baked& b = baked_[static_cast<std::size_t>(node)];
  if (!b.animated) {
    Vec3 s = b.constant.scale;
    for (int k = 0; k < 3; ++k) s[k] /= b.pointScale[k];
    const Quat& q = b.constant.rotate;
    scene_->SetTransform(object, Channel<Vector>(ToVector(b.constant.translate, "nodes", node)),
                         Channel<Quaternion>(StoredRotation(q[0], q[1], q[2], q[3])),
                         Channel<Vector>(ToVector(s, "nodes", node)));
    return;
  }
  scene_->SetTransform(object, Channel<Vector>(Interpolation::kLinear, b.t),
                       Channel<Quaternion>(Interpolation::kLinear, b.r),
                       Channel<Vector>(Interpolation::kLinear, b.s));
  b = Baked{};  // its keys are the channels' now
}

float Importer::Focal(double aspect, double yfov, const std::string& at) const {
  const int width = options_.width;
  if (aspect <= 0) aspect = double(width) / double(Height(aspect, at));
  const double exact = FocalLength(aspect, yfov);
  const float focal = exact > 0 && exact <= 3.4e38 ? static_cast<float>(exact) : 0.0f;
  if (!(focal > 0))
    ThrowFault(at + ".perspective",
               "expected a field of view and aspect ratio that give a focal length");
  return focal;
}

int Importer::Height(double aspect, const std::string& at) const {
  if (options_.height) return *options_.height;
  if (!(aspect > 0)) return 1080;
  const double h = RoundHalfAway(options_.width / aspect);
  if (!(h >= 1 && h <= INT32_MAX))
    ThrowFault(at + ".perspective.aspectRatio",
               "expected an aspect ratio that gives a height of at least 1 pixel");
  return static_cast<int>(h);
}

HBone* Importer::AddCamera(const std::string& name, int index) {
  const tinygltf::PerspectiveCamera& p = m_.cameras[static_cast<std::size_t>(index)].perspective;
  const std::string at = At("cameras", index);
  const int height = Height(p.aspectRatio, at);
  const auto animatedFocal = focal_.find(index);
  HCamera* c = scene_->AddCamera(name, animatedFocal != focal_.end()
                                           ? animatedFocal->second
                                           : Channel<float>(Focal(p.aspectRatio, p.yfov, at)));
  HProperty* options = scene_->AddProperty(c, "OutputOptions", HProperty::Kind::kGroup);
  HProperty* resolution = scene_->AddProperty(options, "Resolution", HProperty::Kind::kGroup);
  scene_->AddProperty(resolution, "Width", HProperty::Kind::kInt, options_.width);
  scene_->AddProperty(resolution, "Height", HProperty::Kind::kInt, height);
  HProperty* range = scene_->AddProperty(options, "Range", HProperty::Kind::kGroup);
  const int first = animated_ ? FirstFrame() : 0, last = animated_ ? LastFrame() : 0;
  scene_->AddProperty(range, "StartFrame", HProperty::Kind::kTime,
                      FramesToTicks(first, options_.fps).value_or(0));
  scene_->AddProperty(range, "EndFrame", HProperty::Kind::kTime,
                      FramesToTicks(last, options_.fps).value_or(0));
  return c;
}

HBone* Importer::AddModel(const std::string& name, int node) {
  const tinygltf::Node& n = m_.nodes[static_cast<std::size_t>(node)];
  const tinygltf::Mesh& mesh = m_.meshes[static_cast<std::size_t>(n.mesh)];
  const Vec3& scale = baked_[static_cast<std::size_t>(node)].pointScale;
  HModel* model = scene_->AddModel(name);
  HModelCache* cache = model->GetCache();
  HGroupContainer* groups = scene_->AddGroupContainer(model);
  UniqueNames groupNames;
  for (std::size_t pi = 0; pi < mesh.primitives.size(); ++pi) {
    const tinygltf::Primitive& p = mesh.primitives[pi];
    const std::string at = At("meshes", n.mesh) + "." + At("primitives", static_cast<int>(pi));
    const auto position = p.attributes.find("POSITION");
    if (position == p.attributes.end()) continue;
    const std::size_t base = cache->PointCount();
    const std::array<double, 3> sum = AddPositions(cache, position->second, n.mesh, scale);
    const std::size_t vertices = cache->PointCount() - base;
    // Its index accessor, or 0, 1, 2, ... (not made).
    const UnsignedList indices = PrimitiveIndices(p, vertices);
    AddTriangles(cache, p.mode, base, p.indices < 0 ? nullptr : &indices, vertices);
    std::string group = "primitive" + std::to_string(pi);
    if (p.material >= 0 && !m_.materials[static_cast<std::size_t>(p.material)].name.empty())
      group = Clean(m_.materials[static_cast<std::size_t>(p.material)].name, group);
    Vector center;
    if (vertices > 0) {
      const double c = static_cast<double>(vertices);
      center = {static_cast<float>(sum[0] / c), static_cast<float>(sum[1] / c),
                static_cast<float>(sum[2] / c)};
    }
    scene_->AddGroup(groups, groupNames.Take(group), center);
  }
  if (n.skin >= 0) AddBones(model, n.skin, scale);
  return model;
}

std::array<double, 3> Importer::AddPositions(HModelCache* cache, int index, int mesh,
                                             const Vec3& scale) const {
  const tinygltf::Accessor& a = m_.accessors[static_cast<std::size_t>(index)];
  if (a.componentType != TINYGLTF_COMPONENT_TYPE_FLOAT || a.bufferView < 0 || a.sparse.isSparse ||
      tinygltf::GetNumComponentsInType(static_cast<uint32_t>(a.type)) != 3) {
    std::array<double, 3> sum = {0, 0, 0};
    ForEachElement(index, 3, false, [&](std::size_t, const double* xyz) {
      const Vector point = Scaled(xyz, scale, mesh);
      cache->AddPoint(point);
      sum[0] += point.x;
      sum[1] += point.y;
      sum[2] += point.z;
    });
    return sum;
  }
  const std::string at = At("accessors", index);
  const std::size_t stride = m_.bufferViews[static_cast<std::size_t>(a.bufferView)].byteStride;
  const std::size_t step = stride != 0 ? stride : 12;
  const unsigned char* data = a.count > 0 ? Element(a.bufferView, a.byteOffset, step, 0) : nullptr;
  const bool unit = scale[0] == 1 && scale[1] == 1 && scale[2] == 1;
  const float bounds[3] = {ScaledBound(scale[0]), ScaledBound(scale[1]), ScaledBound(scale[2])};
  std::array<double, 3> sum = {0, 0, 0};
  cache->AddPoints(a.count, [&](HCP* out, std::size_t first, std::size_t count) {
    const unsigned char* p = data + first * step;
    for (std::size_t i = 0; i < count;) {
      i += unit ? TightPoints<true>(out + i, p + i * step, step, count - i, bounds, scale, sum)
                : TightPoints<false>(out + i, p + i * step, step, count - i, bounds, scale, sum);
      if (i == count) break;
      double xyz[3];
      FloatTriple(p + i * step, xyz, at);
      const Vector point = Scaled(xyz, scale, mesh);
      new (out + i) HCP(point);
      sum = {sum[0] + point.x, sum[1] + point.y, sum[2] + point.z};
      ++i;
    }
  });
  return sum;
}

float Importer::ScaledBound(double scale) {
  if (!std::isfinite(scale) || scale == 0) return -1;
  const double limit =
      scale == 1 ? 3.4e38 : std::min(3.4e38, 3.4e38 / std::fabs(scale) * (1 - 0x1p-30));
  float bound = static_cast<float>(limit);
  if (bound > limit) bound = std::nextafter(bound, 0.0f);
  return bound;
}

void Importer::AddTriangles(HModelCache* cache, int mode, std::size_t base,
                            const UnsignedList* indices, std::size_t vertices) const {
  const std::size_t count = indices != nullptr ? indices->count : vertices;
  auto point = [&](std::size_t i) {
    return cache->Point(base + (indices != nullptr ? (*indices)[i] : i));
  };
  // Patch i of n made as corners(i, a, b, c).
  auto patches = [&](std::size_t n, auto corners) {
    cache->AddPatches(n, [&](HPatch* out, std::size_t first, std::size_t count) {
      for (std::size_t i = 0; i < count; ++i) {
        HCP *a, *b, *c;
        corners(first + i, a, b, c);
        new (out + i) HPatch(a, b, c, c);
      }
    });
  };
  if (mode == TINYGLTF_MODE_TRIANGLES) {
    if (count < 3) return;
    if (indices == nullptr) {  // the points in turn
      HModelCache::PointCursor next = cache->Points(base);
      patches(count / 3, [&](std::size_t, HCP*& a, HCP*& b, HCP*& c) {
        a = next.Next();
        b = next.Next();
        c = next.Next();
      });
      return;
    }
    patches(count / 3, [&](std::size_t t, HCP*& a, HCP*& b, HCP*& c) {
      a = point(3 * t);
      b = point(3 * t + 1);
      c = point(3 * t + 2);
    });
  } else if (mode == TINYGLTF_MODE_TRIANGLE_STRIP && count >= 3) {
    patches(count - 2, [&](std::size_t i, HCP*& a, HCP*& b, HCP*& c) {
      a = point(i % 2 == 0 ? i : i + 1);
      b = point(i % 2 == 0 ? i + 1 : i);
      c = point(i + 2);
    });
  } else if (mode == TINYGLTF_MODE_TRIANGLE_FAN && count >= 3) {
    patches(count - 2, [&](std::size_t i, HCP*& a, HCP*& b, HCP*& c) {
      a = point(0);
      b = point(i + 1);
      c = point(i + 2);
    });
  }
}

void Importer::AddBones(HModel* model, int skinIndex, const Vec3& scale) {
  const tinygltf::Skin& skin = m_.skins[static_cast<std::size_t>(skinIndex)];
  const std::string at = At("skins", skinIndex);
  const std::vector<double> inverseBind = InverseBinds(skinIndex);
  HBoneContainer* container = scene_->AddBoneContainer(model);
  std::map<int, HBone*> bones;
  UniqueNames boneNames;
  // Parents before children.
  std::vector<std::size_t> order(skin.joints.size());
  for (std::size_t j = 0; j < order.size(); ++j) order[j] = j;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return depth_[static_cast<std::size_t>(skin.joints[a])] <
           depth_[static_cast<std::size_t>(skin.joints[b])];
  });
  for (const std::size_t j : order) {
    const int joint = skin.joints[j];
    Vector pivot;
    if (!inverseBind.empty()) {
      const Vector bind = BindPosition(&inverseBind[j * 16], at);
      pivot =
          ToVector({bind.x * scale[0], bind.y * scale[1], bind.z * scale[2]}, "skins", skinIndex);
    }
    const int p = parent_[static_cast<std::size_t>(joint)];
    const auto parent = bones.find(p);
    const std::string name = boneNames.Take(
        Clean(m_.nodes[static_cast<std::size_t>(joint)].name, "node" + std::to_string(joint)));
    bones[joint] =
        scene_->AddBone(container, parent != bones.end() ? parent->second : nullptr, name, pivot);
  }
}

Vector Importer::BindPosition(const double* m, const std::string& where) {
  Matrix44 bind;
  for (int r = 0; r < 4; ++r) {
    bind.row[r] = Vector4(static_cast<float>(m[r]), static_cast<float>(m[4 + r]),
                          static_cast<float>(m[8 + r]), static_cast<float>(m[12 + r]));
  }
  const Matrix44 inverse = bind.Inverse();
  const Vector4& x = inverse.row[0];
  const Vector4& y = inverse.row[1];
  const Vector4& z = inverse.row[2];
  if (std::isnan(x.w) || std::isnan(y.w) || std::isnan(z.w))
    ThrowFault(where + ".inverseBindMatrices", "expected invertible matrices");
  return {x.w, y.w, z.w};
}

}  // namespace tq::scene::gltf
