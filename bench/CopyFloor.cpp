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
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <set>
#include <string>

namespace {

// A whole file, read at once into a buffer of its size.
struct Bytes {
  std::unique_ptr<char[]> data;
  std::size_t size = 0;
};
bool ReadAll(const char* path, Bytes& bytes) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) return false;
  bytes.data = std::make_unique_for_overwrite<char[]>(static_cast<std::size_t>(st.st_size));
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

}  // namespace

int main(int argc, char** argv) {
  Bytes scene, track;
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
