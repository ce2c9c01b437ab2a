// The floor of a whole tqhost process: the least a process must do for the
// same result. Reads the scene file, then writes the bytes of the track file
// to each output the durable way tqhost does (a temporary, fsync, rename,
// fsync of the folder).
//
//   copy_floor SCENE TRACK OUTPUT...
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

bool ReadAll(const char* path, std::string& text) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char block[1 << 16];
  for (ssize_t n; (n = read(fd, block, sizeof block)) > 0;) text.append(block, std::size_t(n));
  return close(fd) == 0;
}

bool SaveDurably(const std::string& path, const std::string& text) {
  const std::string folder = path.find('/') == std::string::npos
                                 ? "."
                                 : path.substr(0, path.rfind('/') == 0 ? 1 : path.rfind('/'));
  const std::string temporary = path + ".tmp";
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()) ||
      fsync(fd) != 0 || close(fd) != 0 || rename(temporary.c_str(), path.c_str()) != 0)
    return false;
  const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const bool synced = dir >= 0 && fsync(dir) == 0;
  if (dir >= 0) close(dir);
  return synced;
}

}  // namespace

int main(int argc, char** argv) {
  std::string scene, track;
  if (argc < 4 || !ReadAll(argv[1], scene) || !ReadAll(argv[2], track)) {
    std::fprintf(stderr, "copy_floor: cannot read the scene or the track\n");
    return 1;
  }
  for (int i = 3; i < argc; ++i) {
    if (!SaveDurably(argv[i], track)) {
      std::fprintf(stderr, "copy_floor: cannot write %s\n", argv[i]);
      return 1;
    }
  }
  return 0;
}
