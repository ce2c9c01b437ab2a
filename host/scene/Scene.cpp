#include "host/scene/Scene.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
HProject* currentProject = nullptr;
HWND mainWindow = nullptr;
}  // namespace

double HPlate::FoldSlope2() const {
  // g(s) = d/dr [r (1 + k1 s + k2 s^2 + k3 s^3)] with s = r^2:
  // 1 + 3 k1 s + 5 k2 s^2 + 7 k3 s^3, and g(0) = 1. Between the roots of g'
  // (a quadratic, solved exactly) g is monotonic, so it turns negative on
  // one of those pieces exactly when it is not positive at the piece's end;
  // there bisection finds where.
  const double a = 3 * k1, b = 5 * k2, c = 7 * k3;
  const auto g = [&](double s) { return 1 + s * (a + s * (b + s * c)); };
  const auto root = [&](double low, double high) {  // g(low) > 0 >= g(high)
    for (;;) {
      const double middle = low + (high - low) / 2;
      if (middle <= low || middle >= high) return high;
      (g(middle) > 0 ? low : high) = middle;
    }
  };
  std::vector<double> ends;  // the positive roots of g' = a + 2 b s + 3 c s^2
  if (c != 0) {
    const double d = b * b - 3 * a * c;
    if (d >= 0) {
      for (const double sign : {-1.0, 1.0}) ends.push_back((-b + sign * std::sqrt(d)) / (3 * c));
    }
  } else if (b != 0) {
    ends.push_back(-a / (2 * b));
  }
  std::sort(ends.begin(), ends.end());
  double low = 0;
  for (const double end : ends) {
    if (!(end > low)) continue;
    if (g(end) <= 0) return root(low, end);
    low = end;
  }
  // Beyond the last end g heads for the sign of its leading term.
  const double lead = c != 0 ? c : b != 0 ? b : a;
  if (!(lead < 0)) return std::numeric_limits<double>::infinity();
  double high = std::max(2 * low, 1.0);
  while (g(high) > 0) high *= 2;
  return root(low, high);
}

std::string HPlate::Unreal() const {
  if (!(pixelAspect >= 0.01 && pixelAspect <= 100)) return "a pixel aspect from 0.01 to 100";
  if (!(std::fabs(offsetX) <= 100 && std::fabs(offsetY) <= 100))
    return "a film offset within 100 image widths";
  for (const double k : {k1, k2, p1, p2, k3}) {
    if (!(std::fabs(k) <= 1000)) return "distortion coefficients from -1000 to 1000";
  }
  return "";
}

const char* ObjectTypeName(int type) {
  switch (type) {
    case ObjectType::kModel:
      return "model";
    case ObjectType::kCamera:
      return "camera";
    case ObjectType::kLight:
      return "light";
    case ObjectType::kNull:
      return "null";
    case ObjectType::kFolder:
      return "folder";
    default:
      return "object";
  }
}

HProject* GetHProject() {
  return currentProject;
}
HWND GetMainApplicationWnd() {
  return mainWindow;
}

namespace tq::scene {
void SetMainApplicationWnd(HWND window) {
  mainWindow = window;
}
}  // namespace tq::scene

HTreeObject::~HTreeObject() = default;

HProperty* HTreeObject::GetPropertyAt(int i) const {
  if (i < 0 || i >= static_cast<int>(properties_.size())) return nullptr;
  return properties_[static_cast<std::size_t>(i)];
}

String HTreeObject::GetFullName() const {
  std::string full = name_;
  for (const HTreeObject* p = parent_; p != nullptr; p = p->parent_) full = p->name_ + "." + full;
  return String(full.c_str());
}

void HTreeObject::AddProperty(HProperty* property) {
  property->SetParent(this);
  properties_.push_back(property);
}

HTransformProperty::HTransformProperty(std::string name, HVectorProperty* translate,
                                       HRotateProperty* rotate, HVectorProperty* scale)
    : HProperty(std::move(name), Kind::kGroup),
      translate_(translate),
      rotate_(rotate),
      scale_(scale) {
  translate_->SetParent(this);
  rotate_->SetParent(this);
  scale_->SetParent(this);
}

void HQuorObject::AppendChild(HQuorObject* child) {
  (child_ == nullptr ? child_ : lastChild_->sibling_) = child;
  lastChild_ = child;
}

HBone::HBone(std::string name, int type, HChor* chor, HTransformProperty* transform, Vector pivot)
    : HQuorObject(std::move(name), type), chor_(chor), transform_(transform), pivot_(pivot) {}

void HBone::AppendChildBone(HBone* bone) {
  (childBone_ == nullptr ? childBone_ : lastChildBone_->siblingBone_) = bone;
  lastChildBone_ = bone;
}

Matrix34 HBone::GetLocalMatrix() const {
  const Time now = chor_ != nullptr ? chor_->GetTime() : 0;
  const HVectorProperty* tp = transform_->GetTranslate();
  const HRotateProperty* rp = transform_->GetRotate();
  const Time tt = tp->LastAsked().value_or(now);
  const Time rt = rp->LastAsked().value_or(now);
  // The values just evaluated at those times, not evaluated again.
  const Vector t = tp->ValueAt(tt);
  const Quaternion q = rp->ValueAt(rt);
  const Vector s = transform_->GetScale()->GetChannel().Evaluate(rt);
  Matrix34 m(q);
  for (Vector4& row : m.row) {
    row.x = row.x * s.x;
    row.y = row.y * s.y;
    row.z = row.z * s.z;
  }
  m.row[0].w = t.x;
  m.row[1].w = t.y;
  m.row[2].w = t.z;
  return m;
}

HPatch* HModelCache::GetPatch(unsigned int i) const {
  if (!found_ || i >= patches_.size()) return nullptr;
  return &patches_[i];
}

HCP* HModelCache::AddPoint(Vector position) {
  return &points_.emplace_back(position);
}

void HModelCache::AddPatch(HCP* a, HCP* b, HCP* c, HCP* d) {
  patches_.emplace_back(a, b, c, d);
}

void HModelCache::AddPatch5(HCP* a, HCP* b, HCP* c, HCP* d, HCP* e) {
  patches5_.emplace_back(a, b, c, d, e);
  if (patches5_.size() > 1) patches5_[patches5_.size() - 2].SetNext(&patches5_.back());
}

Matrix34 HGroup::GetMatrix() const {
  return Matrix34(Vector4(1, 0, 0, center_.x), Vector4(0, 1, 0, center_.y),
                  Vector4(0, 0, 1, center_.z));
}

void HBoneContainer::AppendBone(HBone* bone) {
  (first_ == nullptr ? first_ : last_->siblingBone_) = bone;
  last_ = bone;
}

void HChor::SetTime(Time t) {
  time_ = t;
  if (project_ != nullptr) project_->Log("HChor::SetTime " + std::to_string(t));
}

void HChor::AppendCamera(HCamera* camera) {
  if (lastCamera_ == nullptr) {
    firstCamera_ = camera;
  } else {
    lastCamera_->SetNextCamera(camera);
  }
  lastCamera_ = camera;
}

void HProject::SetTime(Time t) {
  time_ = t;
  Log("HProject::SetTime " + std::to_string(t));
}

void HProject::UpdateAllViews(int hint) {
  ++updateAllViews_;
  Log("UpdateAllViews " + std::to_string(hint));
}

void HProject::RefreshAllTrees() {
  ++refreshAllTrees_;
  Log("RefreshAllTrees");
}

namespace tq::scene {

template <class T, class... Args>
T* Scene::Own(Args&&... args) {
  static_assert(alignof(T) <= alignof(std::max_align_t));
  // Room for the handle before the object is placed: nothing to undo when
  // growing throws.
  if (objects_.size() == objects_.capacity()) objects_.reserve(2 * objects_.size() + 16);
  T* raw = new (Place(sizeof(T))) T(std::forward<Args>(args)...);
  objects_.push_back(raw);
  return raw;
}

Scene::Scene(std::string projectName, float fps, std::string chorName)
    : project_(std::make_unique<HProject>(std::move(projectName), fps)) {
  chor_ = Own<HChor>(std::move(chorName), project_.get());
}

void Scene::NameChor(std::string name) {
  chor_->name_ = std::move(name);
}

Scene::~Scene() {
  if (currentProject == project_.get()) currentProject = nullptr;
  for (auto o = objects_.rbegin(); o != objects_.rend(); ++o) (*o)->~HTreeObject();
}

namespace {
// Blocks double from 64 KiB to 512 KiB; once a scene holds 2 MiB of them,
// each further block is 2 MiB, large enough to be made of huge pages (a
// block of 1 MiB or more is, in the programs that load shots) where 4 KiB
// pages would each cost a fault. A small scene takes little, a large one
// pays a fault per 2 MiB.
constexpr std::size_t kBlockBytes = 64 * 1024;
constexpr std::size_t kSmallBlocksBytes = 2 * 1024 * 1024;
}  // namespace

void* Scene::Place(std::size_t size) {
  constexpr std::size_t align = alignof(std::max_align_t);
  size = (size + align - 1) / align * align;
  auto block = [](std::size_t bytes) { return std::unique_ptr<std::byte[]>(new std::byte[bytes]); };
  if (size > kBlockBytes) {
    // An object larger than the smallest block has one of its own, kept
    // before the block being filled (or, as the only block, marked full).
    if (blocks_.empty()) used_ = size_ = 0;
    blocks_.insert(blocks_.begin(), block(size));
    return blocks_.front().get();
  }
  if (used_ + size > size_) {
    const std::size_t next = size_ == 0 ? kBlockBytes
                             : blockBytes_ >= kSmallBlocksBytes
                                 ? kSmallBlocksBytes
                                 : std::min(2 * size_, kSmallBlocksBytes / 4);
    blocks_.push_back(block(next));
    blockBytes_ += next;
    size_ = next;
    used_ = 0;
  }
  void* at = blocks_.back().get() + used_;
  used_ += size;
  return at;
}

void Scene::MakeCurrent() {
  currentProject = project_.get();
}

HTransformProperty* Scene::MakeTransform(HTreeObject* owner, Channel<Vector> translate,
                                         Channel<Quaternion> rotate, Channel<Vector> scale) {
  auto* t = Own<HVectorProperty>("Translate", std::move(translate), project_.get());
  auto* r = Own<HRotateProperty>("Rotate", std::move(rotate), project_.get());
  auto* s = Own<HVectorProperty>("Scale", std::move(scale), project_.get());
  auto* transform = Own<HTransformProperty>("Transform", t, r, s);
  transform->SetParent(owner);
  return transform;
}

HTransformProperty* Scene::DefaultTransform(HTreeObject* owner) {
  return MakeTransform(owner, Channel<Vector>(Vector(0, 0, 0)), Channel<Quaternion>(Quaternion()),
                       Channel<Vector>(Vector(1, 1, 1)));
}

void Scene::Adopt(HQuorObject* object) {
  chor_->AppendChild(object);
}

HCamera* Scene::AddCamera(const std::string& name, Channel<float> focal) {
  auto* focalProperty = Own<HFloatProperty>("FocalLength", std::move(focal), project_.get());
  auto* camera = Own<HCamera>(name, chor_, nullptr, focalProperty);
  focalProperty->SetParent(camera);
  camera->SetTransformProperty(DefaultTransform(camera));
  Adopt(camera);
  chor_->AppendCamera(camera);
  return camera;
}

void Scene::SetFocalLength(HCamera* camera, Channel<float> focal) {
  camera->GetFocalLength()->SetChannel(std::move(focal));
}

HModel* Scene::AddModel(const std::string& name) {
  auto* model = Own<HModel>(name, chor_, nullptr);
  model->SetTransformProperty(DefaultTransform(model));
  Adopt(model);
  return model;
}

HBone* Scene::AddObject(const std::string& name, int type) {
  auto* object = Own<HBone>(name, type, chor_, nullptr);
  object->SetTransformProperty(DefaultTransform(object));
  Adopt(object);
  return object;
}

HQuorObject* Scene::AddFolder(const std::string& name) {
  auto* folder = Own<HQuorObject>(name, ObjectType::kFolder);
  Adopt(folder);
  return folder;
}

HProperty* Scene::AddProperty(HTreeObject* owner, const std::string& name, HProperty::Kind kind,
                              int value) {
  auto* property = Own<HProperty>(name, kind, value);
  owner->AddProperty(property);
  return property;
}

HGroupContainer* Scene::AddGroupContainer(HModel* model) {
  auto* groups = Own<HGroupContainer>();
  groups->SetParent(model);
  model->SetContainers(groups, model->GetChildBoneContainer());
  return groups;
}

HGroup* Scene::AddGroup(HGroupContainer* container, const std::string& name, Vector center) {
  auto* group = Own<HGroup>(name, center);
  group->SetParent(container);
  container->AppendChild(group);
  return group;
}

HBoneContainer* Scene::AddBoneContainer(HModel* model) {
  auto* bones = Own<HBoneContainer>();
  bones->SetParent(model);
  model->SetContainers(model->GetChildGroupContainer(), bones);
  return bones;
}

HBone* Scene::AddBone(HBoneContainer* container, HBone* parent, const std::string& name,
                      Vector pivot) {
  auto* bone = Own<HBone>(name, ObjectType::kOther, chor_, nullptr, pivot);
  bone->SetParent(parent != nullptr ? static_cast<HTreeObject*>(parent) : container);
  bone->SetTransformProperty(DefaultTransform(bone));
  if (parent != nullptr) {
    parent->AppendChildBone(bone);
  } else {
    container->AppendBone(bone);
  }
  return bone;
}

void Scene::SetTransform(HBone* object, Channel<Vector> translate, Channel<Quaternion> rotate,
                         Channel<Vector> scale) {
  if (HTransformProperty* transform = object->GetTransform()) {
    transform->GetTranslate()->SetChannel(std::move(translate));
    transform->GetRotate()->SetChannel(std::move(rotate));
    transform->GetScale()->SetChannel(std::move(scale));
    return;
  }
  object->SetTransformProperty(
      MakeTransform(object, std::move(translate), std::move(rotate), std::move(scale)));
}

HQuorObject* Scene::FindObject(const std::string& name) const {
  for (HQuorObject* o = chor_->GetChild(); o != nullptr; o = o->GetSibling()) {
    if (name == o->GetName()) return o;
  }
  return nullptr;
}

}  // namespace tq::scene
