// The scene file's models: their geometry (points, patches, the heads of
// their splines), their groups and their bones.
#include <charconv>

#include "host/scene/SceneReader.h"

namespace tq::scene::loading {

HBone* Reader::ReadModel(od::object& o, const std::string& name) {
  HModel* model = scene_->AddModel(name);
  HModelCache* cache = model->GetCache();
  // Patches, heads and groups refer to the points: one that comes before
  // them in the file is read after them.
  bool pointsRead = false;
  std::vector<std::string_view> later;
  auto read = [&](std::string_view key, od::value& value) {
    if (key == "points") {
      od::array points = Array(value, "expected an array of [x, y, z]");
      Elements(points, [&](od::value& p, std::size_t) { cache->AddPoint(ReadVector(p)); });
      pointsRead = true;
    }
    if (key == "heads") ReadHeads(value, cache);
    if (key == "patches") ReadPatches(value, cache, 4);
    if (key == "patches5") ReadPatches(value, cache, 5);
    if (key == "groups") ReadGroups(value, model);
    if (key == "bones") ReadBones(value, model);
  };
  Transform transform;
  Fields(o,
         {"type", "name", "translate", "rotate", "scale", "points", "heads", "patches", "patches5",
          "groups", "bones"},
         [&](std::string_view key, od::value& value) {
           if (transform.Read(*this, key, value)) return;
           const bool needsPoints =
               key == "heads" || key == "patches" || key == "patches5" || key == "groups";
           if (needsPoints && !pointsRead) {
             later.push_back(key);
             return;
           }
           read(key, value);
         });
  if (!later.empty()) {
    BeforeRewalk();
    od::value v;
    for (const char* key : {"points", "heads", "patches", "patches5", "groups"}) {
      const bool wanted = key == std::string_view("points")
                              ? !pointsRead
                              : std::find(later.begin(), later.end(), key) != later.end();
      if (!wanted) continue;
      Check(o.reset().error());
      if (!Lookup(o, key, v)) continue;
      Enter at(*this, key);
      read(key, v);
    }
  }
  transform.Apply(*scene_, model);
  return model;
}

std::size_t Reader::PointIndex(od::value& v, std::size_t count) {
  if (count == 0) {
    TypeOf(v);
    Reject("expected a control point index, but the model has no points");
  }
  return static_cast<std::size_t>(Integer(v, 0, static_cast<long long>(count) - 1));
}

void Reader::ReadPatches(od::value& value, HModelCache* cache, std::size_t corners) {
  const std::size_t n = cache->PointCount();
  od::array patches = Array(value, "expected an array of patches");
  const std::string expected = "expected " + std::to_string(corners) + " control point indices";
  Elements(patches, [&](od::value& patch, std::size_t) {
    od::array indices = Array(patch, expected.c_str());
    HCP* cp[5] = {};
    std::size_t count = 0;
    {
      Enter at(*this, std::size_t{0});
      for (auto result : indices) {
        od::value e;
        Check(std::move(result).get(e));
        if (count < corners) {
          // Read straight when it names a point there is; else read again
          // the careful way, for the message.
          std::uint64_t i = 0;
          if (e.get_uint64().get(i) != simdjson::SUCCESS || i >= n) {
            at.Index(count);
            i = PointIndex(e, n);
          }
          cp[count] = cache->Point(static_cast<std::size_t>(i));
        }
        ++count;
      }
    }
    if (count != corners) Reject(expected);
    if (corners == 4) {
      cache->AddPatch(cp[0], cp[1], cp[2], cp[3]);
    } else {
      cache->AddPatch5(cp[0], cp[1], cp[2], cp[3], cp[4]);
    }
  });
}

void Reader::ReadHeads(od::value& value, HModelCache* cache) {
  const std::size_t n = cache->PointCount();
  od::object heads = Object(value, "expected an object {\"point\": head}");
  constexpr std::size_t kNone = SIZE_MAX;
  std::vector<std::size_t> next(n, kNone);
  std::vector<bool> named(n, false);
  std::vector<std::string_view> comments;
  for (auto result : heads) {
    od::field field;
    Check(std::move(result).get(field));
    const std::string_view key = RawKey(field);
    Enter at(*this, key);
    where_ = field.key().raw() - 1;
    if (IsComment(key)) {
      if (std::find(comments.begin(), comments.end(), key) != comments.end())
        Reject("expected each key once in an object");
      comments.push_back(key);
      Comment(field.value());
      continue;
    }
    std::size_t point = 0;
    const bool digits = !key.empty() && key.size() < 10 &&
                        key.find_first_not_of("0123456789") == std::string_view::npos;
    if (digits) std::from_chars(key.data(), key.data() + key.size(), point);
    if (!digits || point >= n) {
      Reject("expected a key naming a control point index from 0 to " +
             std::to_string(n == 0 ? 0 : n - 1));
    }
    if (named[point]) Reject("expected each key once in an object");
    named[point] = true;
    const std::size_t head = PointIndex(field.value(), n);
    if (head != point) next[point] = head;  // a point that names itself is its own head
  }
  ResolveHeads(next, cache);
}

// Each chain resolves to its end, every point once: a walk stops at a
// point already resolved, and a walk that meets itself is a cycle.
void Reader::ResolveHeads(const std::vector<std::size_t>& next, HModelCache* cache) {
  constexpr std::size_t kNone = SIZE_MAX;
  enum : char { kOpen, kWalking, kResolved };
  const std::size_t n = next.size();
  std::vector<char> state(n, kOpen);
  std::vector<std::size_t> end(n);
  std::vector<std::size_t> chain;
  for (std::size_t start = 0; start < n; ++start) {
    chain.clear();
    std::size_t p = start;
    while (state[p] == kOpen && next[p] != kNone) {
      state[p] = kWalking;
      chain.push_back(p);
      p = next[p];
    }
    if (state[p] == kWalking) {
      where_ = nullptr;
      Reject(PathText(std::to_string(start)), "expected a chain of heads that ends, not a cycle");
    }
    const std::size_t last = state[p] == kResolved ? end[p] : p;
    for (const std::size_t q : chain) {
      state[q] = kResolved;
      end[q] = last;
      cache->Point(q)->SetHead(cache->Point(last));
    }
  }
}

void Reader::ReadGroups(od::value& value, HModel* model) {
  od::array groups = Array(value, "expected an array of groups");
  HGroupContainer* container = scene_->AddGroupContainer(model);
  const HModelCache* cache = model->GetCache();
  LaggingNameCheck names(RoomAhead(groups));
  const std::size_t depth = path_.size();
  auto refuse = [&](const std::optional<LaggingNameCheck::Read>& repeat) {
    if (!repeat) return;
    where_ = repeat->where;
    Reject(ElementPath(depth, repeat->index, "name"), "expected a group name not used before");
  };
  Elements(groups, [&](od::value& element, std::size_t index) {
    std::string name;
    bool hasName = false;
    const char* where = nullptr;
    std::string_view kept;
    try {
      kept = ReadGroup(element, cache, container, name, hasName, where);
    } catch (const Fault&) {
      // A fault in a group first finishes the checks before it, its own
      // group's too, so that the fault reported is the first in the file.
      refuse(names.Flush());
      if (hasName && names.Repeats(name)) refuse(LaggingNameCheck::Read{name, index, where});
      throw;
    }
    refuse(names.Add({kept, index, where}));
  });
  refuse(names.Flush());
}

// One group, added to the scene; answers its name as the scene keeps it.
// name, hasName and where (its place in the text) are set once it is read.
std::string_view Reader::ReadGroup(od::value& element, const HModelCache* cache,
                                   HGroupContainer* container, std::string& name, bool& hasName,
                                   const char*& where) {
  od::object g = Object(element, "expected a group object");
  std::optional<Vector> pivot;
  double sum[3] = {0, 0, 0};
  std::size_t count = 0;
  Fields(g, {"name", "points", "pivot"}, [&](std::string_view key, od::value& v) {
    if (key == "name") {
      name = Name(v);
      hasName = true;
      where = where_;
    } else if (key == "pivot") {
      pivot = ReadVector(v);
    } else {
      od::array points = Array(v, "expected an array of control point indices");
      Elements(points, [&](od::value& index, std::size_t) {
        const Vector p = cache->Point(PointIndex(index, cache->PointCount()))->GetModelPosition();
        sum[0] += p.x;
        sum[1] += p.y;
        sum[2] += p.z;
        ++count;
      });
    }
  });
  if (!hasName) Reject(PathText("name"), "missing");
  Vector center;
  if (pivot) {
    center = *pivot;
  } else if (count > 0) {
    const double c = static_cast<double>(count);
    center = Vector(static_cast<float>(sum[0] / c), static_cast<float>(sum[1] / c),
                    static_cast<float>(sum[2] / c));
  }
  // The name kept, measured as read (a name holds no NUL).
  return {scene_->AddGroup(container, name, center)->GetName(), name.size()};
}

// The path of an element's field: the array at depth (path_'s length
// there), its element index, its key.
std::string Reader::ElementPath(std::size_t depth, std::size_t index, std::string_view key) {
  const std::vector<Step> inside(path_.begin() + static_cast<std::ptrdiff_t>(depth), path_.end());
  path_.resize(depth);
  path_.push_back({{}, index, true});
  std::string path = PathText(key);
  path_.resize(depth);
  path_.insert(path_.end(), inside.begin(), inside.end());
  return path;
}

void Reader::ReadBones(od::value& value, HModel* model) {
  od::array bones = Array(value, "expected an array of bones");
  HBoneContainer* container = scene_->AddBoneContainer(model);
  NameSet boneNames;
  boneNames.reserve(RoomAhead(bones));
  Elements(bones, [&](od::value& b, std::size_t) { ReadBone(b, container, nullptr, boneNames); });
}

void Reader::ReadBone(od::value& value, HBoneContainer* container, HBone* parent,
                      NameSet& boneNames) {
  od::object b = Object(value, "expected a bone object");
  od::value v;
  // The bone is made from its name and pivot before its children.
  if (!Lookup(b, "name", v)) Reject(PathText("name"), "missing");
  std::string name;
  {
    Enter at(*this, "name");
    name = Name(v);
    if (boneNames.count(name) != 0) Reject("expected a bone name not used before in this model");
  }
  Vector pivot;
  Check(b.reset().error());
  if (Lookup(b, "pivot", v)) {
    Enter at(*this, "pivot");
    pivot = ReadVector(v);
  }
  HBone* bone = scene_->AddBone(container, parent, name, pivot);
  boneNames.insert(bone->GetName());
  Check(b.reset().error());
  Fields(b, {"name", "pivot", "children"}, [&](std::string_view key, od::value& v2) {
    if (key != "children") return;
    od::array children = Array(v2, "expected an array of bones");
    Elements(children,
             [&](od::value& child, std::size_t) { ReadBone(child, container, bone, boneNames); });
  });
}

}  // namespace tq::scene::loading
