// The animations: listed, chosen, their channels read, sampled at the
// run's frames and baked into each object's keys.
#include "host/scene/GltfImporter.h"

#include <charconv>

#include "host/fileio/Concat.h"

namespace tq::scene::gltf {

// A track's value at seconds: the end values outside its inputs; STEP,
// LINEAR (spherical for rotations, shorter arc) or CUBICSPLINE between. The
// segment is found in single precision, as key times are written: a key an
// exporter wrote at float(frame / fps) is reached on that frame, even when
// the rounding put it a little after the frame's time.
std::array<double, 4> Sample(const Track& track, double seconds) {
  const std::size_t w = static_cast<std::size_t>(track.width);
  const bool cubic = track.interp == Interp::kCubic;
  const std::size_t per = cubic ? 3 : 1;
  auto value = [&](std::size_t k, std::size_t part) {  // part: 0 in, 1 value, 2 out
    std::array<double, 4> v{};
    const std::size_t base = (k * per + (cubic ? part : 0)) * w;
    for (std::size_t i = 0; i < w; ++i) v[i] = track.values[base + i];
    return v;
  };
  const std::size_t n = track.times.size();
  const float at = static_cast<float>(seconds);
  if (at <= track.times.front()) return value(0, 1);
  if (at >= track.times.back()) return value(n - 1, 1);
  const std::size_t k = static_cast<std::size_t>(
      std::upper_bound(track.times.begin(), track.times.end(), at) - track.times.begin());
  const double t0 = track.times[k - 1], t1 = track.times[k];
  const double dt = t1 - t0, u = std::clamp((seconds - t0) / dt, 0.0, 1.0);
  const auto p0 = value(k - 1, 1), p1 = value(k, 1);
  if (track.interp == Interp::kStep) return p0;
  std::array<double, 4> r{};
  if (cubic) {
    const auto m0 = value(k - 1, 2), m1 = value(k, 0);
    const double u2 = u * u, u3 = u2 * u;
    for (std::size_t i = 0; i < w; ++i) {
      r[i] = (2 * u3 - 3 * u2 + 1) * p0[i] + (u3 - 2 * u2 + u) * dt * m0[i] +
             (-2 * u3 + 3 * u2) * p1[i] + (u3 - u2) * dt * m1[i];
    }
    if (w == 4) {
      const double len = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2] + r[3] * r[3]);
      if (!(len > 0)) ThrowFault(track.where, "a rotation of zero length between keys");
      for (double& e : r) e /= len;
    }
    return r;
  }
  if (w == 4) {
    SlerpShorterArc(p0.data(), p1.data(), u, r.data());
    return r;
  }
  for (std::size_t i = 0; i < w; ++i) r[i] = p0[i] + (p1[i] - p0[i]) * u;
  return r;
}

// The host's film is 35 units wide: the focal length of a vertical field of
// view at an aspect ratio.
double FocalLength(double aspect, double yfov) {
  return 17.5 / (aspect * std::tan(yfov / 2));
}

std::string Importer::AnimationName(int a) const {
  const std::string& name = m_.animations[static_cast<std::size_t>(a)].name;
  return At("animations", a) + (name.empty() ? "" : " (" + name + ")");
}

void Importer::ListAnimations() {
  for (std::size_t a = 0; a < m_.animations.size(); ++a) {
    const tinygltf::Animation& anim = m_.animations[a];
    GltfAnimation listed{static_cast<int>(a), anim.name, 0, 0};
    bool any = false;
    double t0 = 0, t1 = 0;
    for (std::size_t s = 0; s < anim.samplers.size(); ++s) {
      const std::vector<double> times = Numbers(anim.samplers[s].input, 1, false);
      if (times.empty()) continue;
      t0 = any ? std::min(t0, times.front()) : times.front();
      t1 = any ? std::max(t1, times.back()) : times.back();
      any = true;
    }
    listed.firstFrame = std::floor(t0 * options_.fps);
    listed.lastFrame = std::ceil(t1 * options_.fps);
    animations.push_back(listed);
  }
}

std::vector<int> Importer::ChosenAnimations() const {
  std::vector<int> chosen;
  const int count = static_cast<int>(m_.animations.size());
  if (!options_.animation) {
    for (int a = 0; a < count; ++a) chosen.push_back(a);
    return chosen;
  }
  const std::string& want = *options_.animation;
  for (int a = 0; a < count; ++a) {
    if (m_.animations[static_cast<std::size_t>(a)].name == want || std::to_string(a) == want)
      return {a};  // the first that answers
  }
  std::string names;
  for (int a = 0; a < count; ++a) {
    const std::string& name = m_.animations[static_cast<std::size_t>(a)].name;
    if (!names.empty()) names += ", ";
    names += name.empty() ? std::to_string(a) : name;
  }
  ThrowFault("animations", fileio::Concat({"no animation '", want, "'; the file has ",
                                           names.empty() ? std::string_view("none") : names}));
}

std::pair<int, std::optional<Path>> Importer::Target(int a, int c,
                                                     const tinygltf::AnimationChannel& ch,
                                                     const std::string& where) {
  auto core = [](const std::string& p) -> std::optional<Path> {
    if (p == "translation") return Path::kTranslation;
    if (p == "rotation") return Path::kRotation;
    if (p == "scale") return Path::kScale;
    return std::nullopt;  // morph target weights are not imported
  };
  if (ch.target_path != gltf::kPointerPath) return {ch.target_node, core(ch.target_path)};
  const auto found = prepared_.pointers.find({a, c});
  if (found == prepared_.pointers.end()) return {-1, std::nullopt};
  const std::string& pointer = found->second;
  const std::string at = where + ".target.extensions.KHR_animation_pointer.pointer";
  for (const char* list : {"/nodes/", "/cameras/"}) {
    if (pointer.rfind(list, 0) != 0) continue;
    const std::size_t from = std::strlen(list), slash = pointer.find('/', from);
    const std::string digits = pointer.substr(from, slash - from);
    const std::string rest = slash == std::string::npos ? "" : pointer.substr(slash + 1);
    const bool nodes = list[1] == 'n';
    const std::size_t count = nodes ? m_.nodes.size() : m_.cameras.size();
    if (digits.empty() || digits.size() > 9 ||
        digits.find_first_not_of("0123456789") != std::string::npos ||
        !In(std::stoi(digits), count))
      ThrowFault(at,
                 std::string("expected a ") + (nodes ? "node" : "camera") + " index in " + pointer);
    const int index = std::stoi(digits);
    if (nodes && core(rest)) return {index, core(rest)};
    if (!nodes && rest == "perspective/yfov") return {index, Path::kYfov};
    if ((nodes && rest != "weights" && rest.rfind("extensions/", 0) != 0) ||
        (!nodes && rest == "perspective/aspectRatio"))
      Warn(where + " animates " + pointer + ", which is not read");
    return {-1, std::nullopt};
  }
  return {-1, std::nullopt};  // materials, lights' colours, ...
}

void Importer::ChooseAnimations() {
  nodeTracks_.assign(m_.nodes.size(), {-1, -1, -1});
  double longest = -1;
  for (const int a : ChosenAnimations()) {
    const tinygltf::Animation& anim = m_.animations[static_cast<std::size_t>(a)];
    for (std::size_t c = 0; c < anim.channels.size(); ++c) {
      const tinygltf::AnimationChannel& ch = anim.channels[c];
      const std::string where = At("animations", a) + "." + At("channels", static_cast<int>(c));
      const auto [target, path] = Target(a, static_cast<int>(c), ch, where);
      if (!path) continue;
      int& slot = *path == Path::kYfov
                      ? yfovTracks_.try_emplace(target, -1).first->second
                      : nodeTracks_[static_cast<std::size_t>(target)][static_cast<int>(*path)];
      if (slot >= 0) {
        const char* names[] = {"translation", "rotation", "scale", "yfov"};
        Warn(where + " animates the " + names[static_cast<int>(*path)] + " of " +
             At(*path == Path::kYfov ? "cameras" : "nodes", target) + " as " +
             tracks_[static_cast<std::size_t>(slot)].where +
             " does; the first in the file is kept");
        continue;
      }
      slot = static_cast<int>(tracks_.size());
      tracks_.push_back(ReadTrack(anim, a, ch, *path, where));
      const double t0 = tracks_.back().times.front(), t1 = tracks_.back().times.back();
      startSeconds_ = animated_ ? std::min(startSeconds_, t0) : t0;
      endSeconds_ = animated_ ? std::max(endSeconds_, t1) : t1;
      animated_ = true;
      if (t1 - t0 > longest) {
        longest = t1 - t0;
        longest_ = a;
      }
    }
  }
}

Track Importer::ReadTrack(const tinygltf::Animation& anim, int a,
                          const tinygltf::AnimationChannel& ch, Path path,
                          const std::string& where) const {
  const tinygltf::AnimationSampler& sampler = anim.samplers[static_cast<std::size_t>(ch.sampler)];
  const std::string at = At("animations", a) + "." + At("samplers", ch.sampler);
  Track track;
  track.where = where;
  track.width = path == Path::kRotation ? 4 : path == Path::kYfov ? 1 : 3;
  if (sampler.interpolation == "STEP") {
    track.interp = Interp::kStep;
  } else if (sampler.interpolation == "CUBICSPLINE") {
    track.interp = Interp::kCubic;
  } else if (sampler.interpolation != "LINEAR" && !sampler.interpolation.empty()) {
    ThrowFault(at + ".interpolation", "expected LINEAR, STEP or CUBICSPLINE");
  }
  const std::vector<double> times = Numbers(sampler.input, 1, false);
  track.times.assign(times.begin(), times.end());
  track.values = Numbers(sampler.output, track.width, path == Path::kRotation);
  const std::size_t per = track.interp == Interp::kCubic ? 3 : 1;
  const std::size_t w = static_cast<std::size_t>(track.width);
  if (track.times.empty() || track.values.size() != track.times.size() * per * w)
    ThrowFault(at, "expected as many outputs as inputs");
  for (std::size_t k = 1; k < track.times.size(); ++k) {
    if (!(track.times[k] > track.times[k - 1]))
      ThrowFault(at + ".input", "expected increasing times");
  }
  for (std::size_t k = 0; k < track.times.size(); ++k) {
    double* v = &track.values[(k * per + (per == 3 ? 1 : 0)) * w];
    if (path == Path::kRotation) {
      const double len = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2] + v[3] * v[3]);
      if (!(len > 0))
        ThrowFault(at + ".output",
                   "expected rotations of non-zero length (key " + std::to_string(k) + ")");
      for (int i = 0; i < 4; ++i) v[i] /= len;
    }
    if (path == Path::kYfov && !(v[0] > 0 && v[0] < M_PI))
      ThrowFault(at + ".output",
                 "expected fields of view above 0 and below pi (key " + std::to_string(k) + ")");
  }
  return track;
}

void Importer::CheckRange() const {
  if (!animated_) return;
  const double first = std::floor(startSeconds_ * options_.fps) - 1;
  const double last = std::ceil(endSeconds_ * options_.fps) + 1;
  if (!(last - first <= kMaxAnimationFrames) || !FramesToTicks(first, options_.fps) ||
      !FramesToTicks(last, options_.fps)) {
    ThrowFault("animations", "expected animations of at most " +
                                 std::to_string(static_cast<int>(kMaxAnimationFrames)) +
                                 " frames whose times fit the host's ticks");
  }
}

std::vector<Time> Importer::SampleTicks() const {
  std::vector<Time> ticks;
  const double offset =
      options_.firstFrame ? *options_.firstFrame - std::floor(*options_.firstFrame) : 0.0;
  const double f0 = startSeconds_ * options_.fps, f1 = endSeconds_ * options_.fps;
  for (double k = std::floor(f0 - offset); k <= std::ceil(f1 - offset); ++k)
    ticks.push_back(*FramesToTicks(k + offset, options_.fps));
  for (const Track& track : tracks_) {
    if (track.interp != Interp::kStep) continue;
    for (std::size_t k = 1; k < track.times.size(); ++k) {
      // The first tick that shows key k's value, and the one before.
      // (Reached as Sample reaches it: in single precision.)
      double t = std::ceil(track.times[k] * kTicksPerSecond) + 1;
      while (static_cast<float>((t - 1) / kTicksPerSecond) >= track.times[k]) t -= 1;
      if (t - 1 < ticks.front() || t > ticks.back()) continue;
      ticks.push_back(static_cast<Time>(t));
      ticks.push_back(static_cast<Time>(t - 1));
    }
  }
  std::sort(ticks.begin(), ticks.end());
  ticks.erase(std::unique(ticks.begin(), ticks.end()), ticks.end());
  return ticks;
}

Mat4 Importer::Local(int node, double seconds) const {
  const tinygltf::Node& n = m_.nodes[static_cast<std::size_t>(node)];
  const std::array<int, 3>& tracks = nodeTracks_[static_cast<std::size_t>(node)];
  const bool animated = tracks[0] >= 0 || tracks[1] >= 0 || tracks[2] >= 0;
  if (n.matrix.size() == 16 && !animated) {
    Mat4 m;
    std::copy(n.matrix.begin(), n.matrix.end(), m.begin());
    return m;
  }
  Vec3 t = {0, 0, 0}, s = {1, 1, 1};
  Quat q = {0, 0, 0, 1};
  if (n.translation.size() == 3) t = {n.translation[0], n.translation[1], n.translation[2]};
  if (n.rotation.size() == 4) q = {n.rotation[0], n.rotation[1], n.rotation[2], n.rotation[3]};
  if (n.scale.size() == 3) s = {n.scale[0], n.scale[1], n.scale[2]};
  auto sampled = [&](int path) {
    return Sample(tracks_[static_cast<std::size_t>(tracks[static_cast<std::size_t>(path)])],
                  seconds);
  };
  if (tracks[0] >= 0) {
    const auto v = sampled(0);
    t = {v[0], v[1], v[2]};
  }
  if (tracks[1] >= 0) {
    const auto v = sampled(1);
    q = {v[0], v[1], v[2], v[3]};
  }
  if (tracks[2] >= 0) {
    const auto v = sampled(2);
    s = {v[0], v[1], v[2]};
  }
  const double len = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
  for (double& e : q) e /= len;
  return Compose(t, q, s);
}

void Importer::Worlds(double seconds, bool again) {
  for (const int node : order_) {
    const std::size_t i = static_cast<std::size_t>(node);
    if (again && animatedNode_[i] == 0) continue;
    const int p = parent_[i];
    world_[i] = p < 0 ? Local(node, seconds)
                      : Multiply(world_[static_cast<std::size_t>(p)], Local(node, seconds));
  }
}

void Importer::FindSkinRoots() {
  skinRoot_.assign(m_.nodes.size(), -1);
  skinBind_.assign(m_.nodes.size(), kIdentity);
  for (const int node : order_) {
    const tinygltf::Node& n = m_.nodes[static_cast<std::size_t>(node)];
    if (n.skin < 0 || n.mesh < 0) continue;
    const tinygltf::Skin& skin = m_.skins[static_cast<std::size_t>(n.skin)];
    if (skin.joints.empty()) continue;
    const std::set<int> joints(skin.joints.begin(), skin.joints.end());
    std::size_t root = 0;
    for (std::size_t j = 0; j < skin.joints.size(); ++j) {
      if (skin.joints[j] == skin.skeleton ||
          (skin.skeleton < 0 &&
           joints.count(parent_[static_cast<std::size_t>(skin.joints[j])]) == 0)) {
        root = j;
        break;
      }
    }
    skinRoot_[static_cast<std::size_t>(node)] = skin.joints[root];
    const std::vector<double> ibm = InverseBinds(n.skin);
    if (!ibm.empty())
      std::copy_n(ibm.begin() + static_cast<long>(root * 16), 16,
                  skinBind_[static_cast<std::size_t>(node)].begin());
  }
}

Mat4 Importer::ObjectMatrix(int node) const {
  const std::size_t i = static_cast<std::size_t>(node);
  if (skinRoot_[i] < 0) return world_[i];
  return Multiply(world_[static_cast<std::size_t>(skinRoot_[i])], skinBind_[i]);
}

bool Importer::ObjectAnimated(int node) const {
  const std::size_t i = static_cast<std::size_t>(node);
  return animatedNode_[static_cast<std::size_t>(skinRoot_[i] < 0 ? node : skinRoot_[i])] != 0;
}

void Importer::MarkAnimated() {
  animatedNode_.assign(m_.nodes.size(), 0);
  for (const int node : order_) {
    const std::size_t i = static_cast<std::size_t>(node);
    const auto& t = nodeTracks_[i];
    animatedNode_[i] = t[0] >= 0 || t[1] >= 0 || t[2] >= 0 ||
                       (parent_[i] >= 0 && animatedNode_[static_cast<std::size_t>(parent_[i])]);
  }
}

std::vector<int> Importer::MovingObjects(std::size_t keys) const {
  std::vector<int> moving;
  for (const int node : order_) {
    if (ObjectAnimated(node)) moving.push_back(node);
  }
  if (static_cast<double>(moving.size()) * static_cast<double>(keys) > kMaxBakedKeys) {
    ThrowFault(AnimationName(longest_),
               std::to_string(moving.size()) + " animated objects x " + std::to_string(keys) +
                   " keys would be more than the " +
                   std::to_string(static_cast<int>(kMaxBakedKeys)) +
                   " keys imported; import one animation (--animation) or at a lower --fps");
  }
  return moving;
}

void Importer::BakeConstants(Time first) {
  for (const int node : order_) {
    Baked& b = baked_[static_cast<std::size_t>(node)];
    b.constant = Decompose(ObjectMatrix(node));
    b.animated = ObjectAnimated(node);
    if (m_.nodes[static_cast<std::size_t>(node)].mesh >= 0) {
      for (int k = 0; k < 3; ++k)
        b.pointScale[k] = b.constant.scale[k] != 0 ? b.constant.scale[k] : 1;
    }
    if (b.constant.sheared) Sheared(node, first);
  }
}

void Importer::BakeKeys(const std::vector<Time>& ticks, const std::vector<int>& moving) {
  std::vector<char> scaleWarned(m_.nodes.size(), 0);
  for (const Time tick : ticks) {
    if (moving.empty()) break;
    Worlds(static_cast<double>(tick) / kTicksPerSecond, true);
    for (const int node : moving) {
      Baked& b = baked_[static_cast<std::size_t>(node)];
      Decomposed d = Decompose(ObjectMatrix(node));
      if (d.sheared && !sheared_.count(node)) Sheared(node, tick);
      for (int k = 0; k < 3; ++k) d.scale[k] /= b.pointScale[k];
      b.t.push_back({tick, ToVector(d.translate, "nodes", node)});
      b.r.push_back({tick, StoredRotation(d.rotate[0], d.rotate[1], d.rotate[2], d.rotate[3])});
      b.s.push_back({tick, ToVector(d.scale, "nodes", node)});
      const Vector& s = b.s.back().value;
      if (m_.nodes[static_cast<std::size_t>(node)].mesh >= 0 &&
          scaleWarned[static_cast<std::size_t>(node)] == 0 &&
          (std::fabs(s.x - 1) > 1e-6 || std::fabs(s.y - 1) > 1e-6 || std::fabs(s.z - 1) > 1e-6)) {
        scaleWarned[static_cast<std::size_t>(node)] = 1;
        Warn(NodeName(node) +
             ": its scale is animated; the model's points hold its scale at the "
             "first frame, so its model and group centres are off where the "
             "scale differs");
      }
    }
  }
}

void Importer::BakeFocalLengths(const std::vector<Time>& ticks) {
  for (const auto& [camera, track] : yfovTracks_) {
    const tinygltf::PerspectiveCamera& p = m_.cameras[static_cast<std::size_t>(camera)].perspective;
    std::vector<Key<float>> keys;
    for (const Time tick : ticks) {
      const double yfov = Sample(tracks_[static_cast<std::size_t>(track)],
                                 static_cast<double>(tick) / kTicksPerSecond)[0];
      keys.push_back({tick, Focal(Aspect(p), yfov, At("cameras", camera))});
    }
    focal_.emplace(camera, Channel<float>(Interpolation::kLinear, keys));
  }
}

void Importer::Bake() {
  const std::size_t n = m_.nodes.size();
  MarkAnimated();
  FindSkinRoots();
  world_.assign(n, kIdentity);
  baked_.assign(n, Baked{});
  const std::vector<Time> ticks = animated_ ? SampleTicks() : std::vector<Time>{0};
  const double first = static_cast<double>(ticks.front()) / kTicksPerSecond;
  Worlds(first, false);
  const std::vector<int> moving = MovingObjects(ticks.size());
  BakeConstants(ticks.front());
  BakeKeys(ticks, moving);
  BakeFocalLengths(ticks);
}

void Importer::Sheared(int node, Time tick) {
  sheared_.insert(node);
  char frame[32];
  const char* end =
      std::to_chars(frame, frame + sizeof frame, TicksToFramesExact(tick, options_.fps)).ptr;
  Warn(NodeName(node) + ": its world matrix is sheared at frame " +
       std::string(frame, static_cast<std::size_t>(end - frame)) +
       " (a rotated child of a non-uniformly scaled parent); translate, rotate "
       "and scale cannot hold it, so its track is off by the shear");
}

}  // namespace tq::scene::gltf
