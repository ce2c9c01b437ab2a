// The floor of a whole tqhost process: the least a process must do for the
// same result. Reads the scene file, then saves the bytes of the track file
// to each output durably, the best simple way: one output through a
// temporary, fsync, rename and a sync of its folder; several with every
// temporary written first, then one sync of the file system for them all
// (syncfs: one journal commit and one flush of the disk, where an fsync each
// flushes the disk once per file), then each renamed over its output and
// each folder synced once.
//
//   copy_floor SCENE TRACK OUTPUT...
//
// With --export, the floor of a whole export: the scene parsed whole (every
// object's every value into the types a loader keeps, by simdjson's
// On-Demand parser), the target's track worked out by the benchmarks' own
// direct loop through the scene's one camera, its lines saved durably as
// above.
//
//   copy_floor --export TARGET FRAMES SCENE OUTPUT
#include <fcntl.h>
#include <simdjson.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "bench/Direct.h"

namespace {

// A whole file, read at once into a buffer of its size (and padding bytes
// after it, zero).
struct Bytes {
  std::unique_ptr<char[]> data;
  std::size_t size = 0;
};
bool ReadAll(const char* path, Bytes& bytes, std::size_t padding = 0) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) return false;
  bytes.data =
      std::make_unique_for_overwrite<char[]>(static_cast<std::size_t>(st.st_size) + padding);
  std::fill_n(bytes.data.get() + st.st_size, padding, '\0');
  for (ssize_t n; bytes.size < static_cast<std::size_t>(st.st_size) &&
                  (n = read(fd, bytes.data.get() + bytes.size, st.st_size - bytes.size)) > 0;)
    bytes.size += std::size_t(n);
  return close(fd) == 0 && bytes.size == static_cast<std::size_t>(st.st_size);
}

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
}

// A temporary beside path holding text, synced when alone.
bool WriteTemporary(const std::string& path, const Bytes& text, bool alone) {
  const int fd = open((path + ".tmp").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const bool written = fd >= 0 &&
                       write(fd, text.data.get(), text.size) == static_cast<ssize_t>(text.size) &&
                       (!alone || fsync(fd) == 0);
  return fd >= 0 && close(fd) == 0 && written;
}

// Syncs a folder, or with all, the file system it is on.
bool Sync(const std::string& folder, bool all) {
  const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const bool synced = dir >= 0 && (all ? syncfs(dir) : fsync(dir)) == 0;
  if (dir >= 0) close(dir);
  return synced;
}

namespace od = simdjson::ondemand;
using tq::bench::direct::Curve;

// A channel: a constant or keys, each frame's time in ticks rounded half
// away from zero, a rotation's four floats made unit length in double
// (within 1e-7 of 1, left as they are).
Curve ChannelOf(od::value value, int dim, double fps) {
  Curve c;
  c.dim = dim;
  const auto floats = [&](od::array a) {
    double q[4];
    int n = 0;
    for (auto v : a) q[n++] = static_cast<float>(v.get_double().value());
    double norm = 1.0;
    if (dim == 4) {
      norm = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
      if (std::fabs(norm - 1.0) < 1e-7) norm = 1.0;
    }
    for (int k = 0; k < n; ++k) c.values.push_back(static_cast<float>(q[k] / norm));
  };
  if (value.type().value() == od::json_type::array) {
    floats(value.get_array().value());
    return c;
  }
  for (auto member : value.get_object()) {
    const std::string_view key = member.unescaped_key().value();
    if (key == "interpolation") {
      const std::string_view mode = member.value().get_string().value();
      c.mode = mode == "smooth" ? Curve::kSmooth : mode == "step" ? Curve::kStep : Curve::kLinear;
    } else if (key == "keys") {
      for (auto pair : member.value().get_array()) {
        auto at = pair.get_array().begin();
        const double frame = (*at).get_double().value();
        c.times.push_back(
            static_cast<std::int32_t>(tq::bench::direct::RoundHalfAway(frame / fps * 135000.0)));
        ++at;
        floats((*at).get_array().value());
      }
    }
  }
  return c;
}

// Every object's channels and output size by name; the camera's name.
struct Parsed {
  std::map<std::string, std::map<std::string, Curve>> channels;
  std::string camera;
  int width = 0, height = 0;
  float fps = 0;
};

Parsed ParseScene(const Bytes& scene) {
  Parsed p;
  od::parser parser;
  od::document doc =
      parser.iterate(scene.data.get(), scene.size, scene.size + simdjson::SIMDJSON_PADDING).value();
  for (auto field : doc.get_object()) {
    const std::string_view key = field.unescaped_key().value();
    if (key == "project") {
      p.fps = static_cast<float>(field.value()["fps"].get_double().value());
    } else if (key == "chor") {
      for (auto object : field.value()["objects"].get_array()) {
        std::string type, name;
        std::map<std::string, Curve> channels;
        for (auto member : object.get_object()) {
          const std::string_view what = member.unescaped_key().value();
          if (what == "type") {
            type = member.value().get_string().value();
          } else if (what == "name") {
            name = member.value().get_string().value();
          } else if (what == "output") {
            auto output = member.value().get_object();
            p.width = static_cast<int>(output["width"].get_int64().value());
            p.height = static_cast<int>(output["height"].get_int64().value());
          } else {
            channels[std::string(what)] =
                ChannelOf(member.value().value(), what == "rotate" ? 4 : 3, p.fps);
          }
        }
        if (type == "camera") p.camera = name;
        p.channels[name] = std::move(channels);
      }
    }
  }
  return p;
}

// The track of target through the scene's camera, frames 0 to frames - 1.
Bytes ExportTrack(const Bytes& scene, const std::string& target, int frames) {
  Parsed p = ParseScene(scene);
  const auto channel = [&](const std::string& object, const char* name, Curve constant) {
    auto& of = p.channels[object];
    return of.count(name) != 0 ? of[name] : constant;
  };
  Curve one, still, none, lens;
  one.values = {1, 1, 1}, still.dim = 4, still.values = {0, 0, 0, 1}, none.values = {0, 0, 0};
  lens.dim = 1, lens.values = {35.0f};
  tq::bench::direct::Shot shot;
  shot.cameraTranslate = channel(p.camera, "translate", none);
  shot.cameraRotate = channel(p.camera, "rotate", still);
  shot.cameraScale = channel(p.camera, "scale", one);
  shot.focal = lens;
  shot.targetTranslate = channel(target, "translate", none);
  shot.targetRotate = channel(target, "rotate", still);
  shot.width = p.width, shot.height = p.height, shot.fps = p.fps;
  const std::string text = tq::bench::direct::Track(shot, frames);
  Bytes track;
  track.size = text.size();
  track.data = std::make_unique_for_overwrite<char[]>(text.size());
  text.copy(track.data.get(), text.size());
  return track;
}

}  // namespace

int main(int argc, char** argv) {
  Bytes scene, track;
  if (argc == 6 && std::string(argv[1]) == "--export") {
    if (!ReadAll(argv[4], scene, simdjson::SIMDJSON_PADDING)) {
      std::fprintf(stderr, "copy_floor: cannot read the scene\n");
      return 1;
    }
    track = ExportTrack(scene, argv[2], std::atoi(argv[3]));
    if (!WriteTemporary(argv[5], track, true) ||
        rename((std::string(argv[5]) + ".tmp").c_str(), argv[5]) != 0 ||
        !Sync(FolderOf(argv[5]), false))
      return 1;
    return 0;
  }
  if (argc < 4 || !ReadAll(argv[1], scene) || !ReadAll(argv[2], track)) {
    std::fprintf(stderr, "copy_floor: cannot read the scene or the track\n");
    return 1;
  }
  const bool alone = argc == 4;
  std::set<std::string> folders;
  for (int i = 3; i < argc; ++i) {
    folders.insert(FolderOf(argv[i]));
    if (!WriteTemporary(argv[i], track, alone)) {
      std::fprintf(stderr, "copy_floor: cannot write %s\n", argv[i]);
      return 1;
    }
  }
  if (!alone && !Sync(*folders.begin(), true)) return 1;
  for (int i = 3; i < argc; ++i) {
    if (rename((std::string(argv[i]) + ".tmp").c_str(), argv[i]) != 0) return 1;
  }
  for (const std::string& folder : folders) {
    if (!Sync(folder, false)) return 1;
  }
  return 0;
}
