#include "host/fileio/SaveBatch.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "host/fileio/FileStream.h"
#include "host/fileio/Temporaries.h"

namespace tq::fileio {
namespace {
SaveBatch* installed = nullptr;
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
  for (const Waiting& file : pending_) {
    close(file.fd);
    if (file.temporary.empty()) continue;
    unlink(file.temporary.c_str());
    detail::Unguard(file.temporary);
  }
}

void SaveBatch::Add(Waiting file) {
  pending_.push_back(std::move(file));
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

void SaveBatch::CommitWaiting() {
  const SystemCalls& sys = Sys();
  // Every file's bytes on the disk, each file's write errors answered; their
  // writing has been under way since each was closed.
  constexpr unsigned kWritten =
      SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER;
  std::vector<int> errors(pending_.size(), 0);
  for (std::size_t i = 0; i < pending_.size(); ++i) {
    if (sys.syncFileRange(pending_[i].fd, 0, 0, kWritten) != 0) errors[i] = errno;
  }
  // Then durable, with what describes them: one sync of each file system
  // they are on (a journal commit and a disk flush for them all, where a sync
  // of each file would flush the disk once each); a file alone, or on a file
  // system whose sync fails, is synced by itself.
  std::vector<std::pair<dev_t, bool>> systems;  // each, and whether its sync succeeded
  for (std::size_t i = 0; i < pending_.size(); ++i) {
    if (errors[i] != 0) continue;
    struct stat st;
    bool synced = false;
    if (pending_.size() > 1 && fstat(pending_[i].fd, &st) == 0) {
      auto it = std::find_if(systems.begin(), systems.end(),
                             [&](const auto& s) { return s.first == st.st_dev; });
      if (it == systems.end())
        it = systems.insert(it, {st.st_dev, sys.syncfs(pending_[i].fd) == 0});
      synced = it->second;
    }
    if (!synced && sys.fsync(pending_[i].fd) != 0) errors[i] = errno;
  }
  // Then each in place, a failed one removed.
  std::vector<std::string> folders;
  for (std::size_t i = 0; i < pending_.size(); ++i) {
    Waiting& file = pending_[i];
    int& error = errors[i];
    if (error == 0 && file.unnamed)
      error = detail::NameUnnamed(file.fd, file.target, file.temporary);
    if (close(file.fd) != 0 && error == 0) error = errno;
    if (error == 0 && sys.rename(file.temporary.c_str(), file.target.c_str()) != 0) error = errno;
    if (error != 0 && !file.temporary.empty()) unlink(file.temporary.c_str());
    if (!file.temporary.empty()) detail::Unguard(file.temporary);
    const std::string folder = detail::DirectoryOf(file.target);
    if (error == 0 && std::find(folders.begin(), folders.end(), folder) == folders.end())
      folders.push_back(folder);
    done_.push_back({std::move(file.path), error == 0 ? "" : std::strerror(error)});
  }
  pending_.clear();
  // The renames made durable, each folder once.
  for (const std::string& folder : folders) {
    const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) continue;
    fsync(dir);
    close(dir);
  }
}

}  // namespace tq::fileio
