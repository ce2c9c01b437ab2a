#include "host/scene/GltfImport.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <map>
#include <new>
#include <set>

#include <nlohmann/json.hpp>
#include <sys/mman.h>
#include <tiny_gltf.h>

#include "host/fileio/Concat.h"
#include "host/scene/GltfFiles.h"
#include "host/scene/GltfImporter.h"
#include "host/scene/SceneWriter.h"
#include "host/scene/UniqueNames.h"
#include "math/Slowdown.h"

namespace tq::scene {
namespace {

using gltf::Fault;
using gltf::Importer;
using gltf::ThrowFault;

bool SkipImage(tinygltf::Image*, const int, std::string*, std::string*, int, int,
               const unsigned char*, int, void*) {
  return true;  // images are not imported
}

}  // namespace

Result<std::string> ImportedSceneText(const Scene& scene, const std::string& path) {
  auto over = [&](const char* size, std::size_t bytes) {
    return Fail(path + ": the scene would be " + size + std::to_string(bytes >> 20) +
                " MiB, over the 64 MiB a scene file may have; import one animation "
                "(--animation) or at a lower --fps");
  };
  // Far over, it is refused before its text is made (a million points take
  // hundreds of bytes each while they are written).
  if (const std::size_t least = SceneTextAtLeast(scene); least > kMaxSceneBytes)
    return over("at least ", least);
  std::string text = WriteSceneText(scene);
  if (text.size() > kMaxSceneBytes) return over("", text.size());
  const LoadResult loaded = LoadSceneText(text, path);
  if (!loaded) return Fail("the scene imported from " + path + " would not load: " + loaded.error);
  return text;
}

bool IsGltfPath(const std::string& path) {
  std::string lower = path;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  auto ends = [&](const char* e) {
    const std::size_t n = std::strlen(e);
    return lower.size() >= n && lower.compare(lower.size() - n, n, e) == 0;
  };
  return ends(".gltf") || ends(".glb");
}

namespace {

// Memory held back while tinygltf holds its own JSON tree of the document.
// Should an allocation fail meanwhile, the block is given back and the
// failure thrown; the tree, freed as the failure unwinds, takes a stack of
// its own (an allocation inside a destructor, which would end the process
// if it failed too) in what was given back. Once the model holds the
// document's marker (kLoadedMarker) the reading is over, and once it has
// said why it refuses the document its reading ends: either way the tree
// is freed where it stands, inside a destructor, and there the allocation
// is tried again in what was given back, not thrown. Room for the stack's most
// values three times over (its last doubling and the block it is copied
// from) and for the way those two blocks are allocated: tqhost rounds a
// block of 1 MiB or more up to whole 2 MiB pages aligned to 2 MiB (up to
// 4 MiB more each), and malloc grows its heap 4 MiB at a time for the
// stack's first, smaller blocks; with 1 MiB only, a million buffer views
// aborted under some limits. Mapped apart from the heap, so that giving it
// back gives the address space back whole, whatever the heap's pieces
// around it.
class HeldBack {
 public:
  HeldBack(std::size_t values, const tinygltf::Model& model, const std::string& refusal)
      : model_(model),
        refusal_(refusal),
        size_(3 * sizeof(nlohmann::json) * values + (std::size_t{16} << 20)),
        block_(mmap(nullptr, size_, PROT_READ | PROT_WRITE,
                    MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0)) {
    if (block_ == MAP_FAILED) throw std::bad_alloc();
    active_ = this;
    previous_ = std::set_new_handler(&GiveBack);
  }
  HeldBack(const HeldBack&) = delete;
  HeldBack& operator=(const HeldBack&) = delete;
  bool GivenBack() const { return block_ == nullptr; }
  ~HeldBack() {
    if (std::get_new_handler() == &GiveBack) std::set_new_handler(previous_);
    if (block_ != nullptr) munmap(block_, size_);
    active_ = nullptr;
  }

 private:
  static void GiveBack() {
    munmap(active_->block_, active_->size_);
    active_->block_ = nullptr;
    std::set_new_handler(active_->previous_);
    if (active_->model_.extensions.count(gltf::kLoadedMarker) == 0 && active_->refusal_.empty())
      throw std::bad_alloc();
  }
  static inline HeldBack* active_ = nullptr;
  const tinygltf::Model& model_;
  const std::string& refusal_;
  std::size_t size_;
  void* block_;
  std::new_handler previous_ = nullptr;
};

ImportResult Import(std::string_view bytes, const std::string& path, const GltfOptions& options,
                    const gltf::Need& need) {
  try {
    if (bytes.size() > kMaxGltfBytes) ThrowFault("(document)", "expected a file of at most 1 GiB");
    if (!IsFrameRate(options.fps))
      ThrowFault("(options)", fileio::Concat({"expected ", kFrameRateRule}));
    if (options.firstFrame && !std::isfinite(*options.firstFrame))
      ThrowFault("(options)", "expected a finite first frame");
    gltf::Prepared prepared = gltf::Prepare(bytes, path, need);
    std::size_t dataBytes = bytes.size();
    for (const auto& file : prepared.files) dataBytes += file.size;

    tinygltf::TinyGLTF loader;
    loader.SetImageLoader(&SkipImage, nullptr);
    loader.SetFsCallbacks(gltf::Callbacks(prepared));
    tinygltf::Model model;
    std::string err, warn;
    const std::string_view document = prepared.rewritten;
    const auto* data = reinterpret_cast<const unsigned char*>(document.data());
    const auto size = static_cast<unsigned>(document.size());
    const bool ok = [&] {
      const HeldBack heldBack(prepared.freeingStack, model, err);
      const bool read =
          prepared.binary
              ? loader.LoadBinaryFromMemory(&model, &err, &warn, data, size, prepared.base)
              : loader.LoadASCIIFromString(&model, &err, &warn, document.data(), size,
                                           prepared.base);
      // Memory ran out while tinygltf read: whether it then refused the
      // file (in the words of what it caught) or read it to the end.
      if (heldBack.GivenBack()) throw std::bad_alloc();
      return read;
    }();
    if (!ok) {
      while (!err.empty() && err.back() == '\n') err.pop_back();
      ThrowFault("(document)", "not valid glTF: " + err);
    }
    if (prepared.afterLoad) throw *prepared.afterLoad;
    Importer importer(model, prepared, options, dataBytes);
    std::unique_ptr<Scene> scene = importer.Import();
    return ImportedScene{std::move(scene), std::move(importer.warnings),
                         std::move(importer.animations), prepared.paths};
  } catch (const Fault& fault) {
    return Fail(path + ": " + fault.path + ": " + fault.what);
  } catch (const std::bad_alloc&) {
    return Fail(path + ": (document): not enough memory to import this file");
  } catch (const std::exception& e) {
    return Fail(path + ": (document): " + e.what());
  }
}

}  // namespace

ImportResult ImportGltfBytes(const std::string& bytes, const std::string& path,
                             const GltfOptions& options) {
  return Import(bytes, path, options, [](std::size_t, std::size_t) { return std::string(); });
}

ImportResult ImportGltfFile(const std::string& path, const GltfOptions& options) {
  Result<gltf::Bytes> bytes = gltf::OpenRegularFile(path, kMaxGltfBytes);
  if (!bytes) return Fail(path + ": cannot read: " + bytes.error);
  return Twice([&] {
    return Import(bytes->View(), path, options,
                  [&](std::size_t from, std::size_t n) { return bytes->Need(from, n); });
  });
}

}  // namespace tq::scene
