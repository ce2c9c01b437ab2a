#include "host/fileio/SaveBatch.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <new>
#include <utility>

#include "host/fileio/FileStream.h"
#include "host/fileio/Temporaries.h"

namespace tq::fileio {
namespace {
SaveBatch* installed = nullptr;

// The files waiting in the batches of every process of this program's run:
// one count in memory that the processes forked from it share.
std::atomic<long>* SharedWaiting() {
  static std::atomic<long>* const count = [] {
    void* page = mmap(nullptr, sizeof(std::atomic<long>), PROT_READ | PROT_WRITE,
                      MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    static std::atomic<long> own{0};  // where no page can be had: this process's alone
    return page == MAP_FAILED ? &own : new (page) std::atomic<long>(0);
  }();
  return count;
}
// Made before any process of the run is forked.
[[gnu::constructor]] void ShareWaiting() {
  SharedWaiting();
}
}  // namespace

SaveBatch* SetSaveBatch(SaveBatch* batch) {
  return std::exchange(installed, batch);
}

SaveBatch* CurrentSaveBatch() {
  return installed;
}

SaveBatch::SaveBatch(std::size_t chunk) : chunk_(std::clamp<std::size_t>(chunk, 1, kMaxChunk)) {}

SaveBatch::~SaveBatch() {
  if (installed == this) installed = nullptr;
  SharedWaiting()->fetch_sub(static_cast<long>(pending_.size()));
  for (const Waiting& file : pending_) {
    close(file.fd);
    if (file.temporary.empty()) continue;
    unlink(file.temporary.c_str());
    detail::Unguard(file.temporary);
  }
}

void SaveBatch::Add(Waiting file) {
  pending_.push_back(std::move(file));
  SharedWaiting()->fetch_add(1);
  if (pending_.size() >= chunk_) CommitWaiting();
}

std::vector<SaveBatch::Saved> SaveBatch::Commit() {
  CommitWaiting();
  return std::exchange(done_, {});
}

bool SaveBatch::Release() {
  if (pending_.empty()) return false;
  CommitWaiting();
  return true;
}

bool SaveBatch::AwaitOthers() {
  std::atomic<long>& waiting = *SharedWaiting();
  const long before = waiting.load();
  if (before <= 0) return false;
  // Until another process commits (its next file or its end), at most 2 s.
  for (int i = 0; i < 1000; ++i) {
    usleep(2000);
    if (waiting.load() < before) return true;
  }
  return false;
}

// Every waiting file's bytes and what describes them on the disk; the errno
// of each file that failed, else 0.
std::vector<int> SaveBatch::MakeDurable() {
  const SystemCalls& sys = Sys();
  // Every file's bytes on the disk, each file's write errors answered; their
  // writing has been under way since each was closed.
  constexpr unsigned kWritten =
      SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER;
  std::vector<int> errors(pending_.size(), 0);
  for (std::size_t i = 0; i < pending_.size(); ++i) {
    if (sys.syncFileRange(pending_[i].fd, 0, 0, kWritten) != 0) errors[i] = errno;
  }
  // Then durable, with what describes them: for many files, one sync of
  // each file system they are on (a journal commit and a disk flush for them
  // all, where a sync of each file would flush the disk once each), unless
  // other programs left much unsaved, which that sync would wait for too;
  // else, and on a file system whose sync fails, each file by itself.
  const bool together = pending_.size() >= kTogetherFrom && sys.unsavedBytes() < kOthersUnsaved;
  std::vector<std::pair<dev_t, bool>> systems;  // each, and whether its sync succeeded
  for (std::size_t i = 0; i < pending_.size(); ++i) {
    if (errors[i] != 0) continue;
    struct stat st;
    bool synced = false;
    if (together && fstat(pending_[i].fd, &st) == 0) {
      auto it = std::find_if(systems.begin(), systems.end(),
                             [&](const auto& s) { return s.first == st.st_dev; });
      if (it == systems.end())
        it = systems.insert(it, {st.st_dev, sys.syncfs(pending_[i].fd) == 0});
      synced = it->second;
    }
    if (!synced && sys.fsync(pending_[i].fd) != 0) errors[i] = errno;
  }
  return errors;
}

void SaveBatch::CommitWaiting() {
  const SystemCalls& sys = Sys();
  std::vector<int> errors = MakeDurable();
  // What putting them in place needs is made first: from the first rename
  // on nothing takes memory until every file's answer is kept, so that a
  // process short of memory never puts a file in place without saying so
  // (nor leaves this loop half-way with descriptors already closed).
  std::vector<std::string> folders;  // each folder once
  std::vector<std::size_t> folderOf(pending_.size());
  for (std::size_t i = 0; i < pending_.size(); ++i) {
    const std::string folder = detail::DirectoryOf(pending_[i].target);
    const auto it = std::find(folders.begin(), folders.end(), folder);
    folderOf[i] = static_cast<std::size_t>(it - folders.begin());
    if (it == folders.end()) folders.push_back(folder);
    if (errors[i] == 0 && pending_[i].unnamed)
      errors[i] = detail::NameUnnamed(pending_[i].fd, pending_[i].target, pending_[i].temporary);
  }
  std::vector<char> renamed(folders.size(), 0);
  done_.reserve(done_.size() + pending_.size());
  // Then each in place, a failed one removed.
  for (std::size_t i = 0; i < pending_.size(); ++i) {
    Waiting& file = pending_[i];
    int& error = errors[i];
    if (close(file.fd) != 0 && error == 0) error = errno;
    if (error == 0 && sys.rename(file.temporary.c_str(), file.target.c_str()) != 0) error = errno;
    if (error != 0 && !file.temporary.empty()) unlink(file.temporary.c_str());
    if (!file.temporary.empty()) detail::Unguard(file.temporary);
    if (error == 0) renamed[folderOf[i]] = 1;
    done_.push_back({std::move(file.path), {}});
    if (error == 0) continue;
    try {
      done_.back().error = std::strerror(error);
    } catch (const std::bad_alloc&) {
      done_.back().error = "out of memory";  // short enough to need no memory
    }
  }
  SharedWaiting()->fetch_sub(static_cast<long>(pending_.size()));
  pending_.clear();
  // The renames made durable, each folder once.
  for (std::size_t k = 0; k < folders.size(); ++k) {
    if (renamed[k] == 0) continue;
    const int dir = open(folders[k].c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) continue;
    fsync(dir);
    close(dir);
  }
}

}  // namespace tq::fileio
