// Host-side tooling: saves many files durably together instead of one by one.
//
// While a batch is installed, FileStream::Close of a file it replaces (a
// regular file, or a name that does not exist yet) writes every byte to the
// temporary, starts writing it to the disk and hands the temporary, still
// open and not yet in place, to the batch; Close then answers 1 when every
// byte reached the temporary. Commit makes the files handed over durable
// together and only then puts each over its target, so the cost of a sync is
// paid once for many files rather than once for each:
// - every temporary's bytes are written out and its write errors checked,
//   then the file system they are on is synced once for them all (one
//   journal commit and one flush of the disk's cache, where syncing each
//   file flushes the cache once per file: 5 to 10 ms each on some disks;
//   the sync also writes out whatever else waits to be written there, once
//   a chunk, so it is used only for kTogetherFrom files or more and while
//   the system holds little else unsaved); other files, and those on a file
//   system whose sync fails, are synced each by itself.
//   Only then is each renamed over its target, and each folder synced once
//   for all its renames;
// - a file that fails leaves its target exactly as it was and no temporary
//   behind, and Commit says which file failed and why; the others are saved;
// - a file that finds the disk full (no space, no inode, over quota) while
//   files wait commits them, freeing the old files they replace, and tries
//   again; with none of its own waiting, it waits for another process of
//   the run to commit its own. A batch saves every file one at a time would;
// - at most `chunk` files wait at once (each holds a descriptor): the file
//   that reaches it commits them all, so a batch never depends on the
//   process's descriptor limit. Their results wait for the next Commit;
// - a temporary that must have a name while it waits (where the file system
//   has no unnamed files) is removed by every signal that ends the process,
//   as FileStream's are; an unnamed one has no name to leave behind.
// Files written in place (standard output, devices, pipes, descriptors) are
// never batched: they are written as they go. A batch destroyed with files
// still waiting abandons them: their targets stay untouched.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tq::fileio {

class SaveBatch {
 public:
  // The most files that wait at once, whatever chunk is asked.
  static constexpr std::size_t kMaxChunk = 128;
  // A commit of this many files or more syncs their file system once, while
  // the system holds less than kOthersUnsaved bytes waiting to be written;
  // other commits sync each file. A file system's sync also writes out what
  // other programs left unsaved there (256 MB of it cost a run of 100 files
  // 0.2 to 0.4 s), and for fewer files each file's own sync is as fast
  // (0.4 to 0.6 ms for 1 to 4 files either way; 8 files: 1.0 ms against 0.3,
  // 128 files: 13 ms against 0.6, on the development machine).
  static constexpr std::size_t kTogetherFrom = 8;
  static constexpr unsigned long long kOthersUnsaved = 16ull << 20;

  explicit SaveBatch(std::size_t chunk = kMaxChunk);
  SaveBatch(const SaveBatch&) = delete;
  SaveBatch& operator=(const SaveBatch&) = delete;
  ~SaveBatch();

  // One file handed over: the name it was opened with, and why it could not
  // be saved ("" when it was).
  struct Saved {
    std::string path;
    std::string error;
  };

  // Files handed over since the last Commit, committed or still waiting.
  std::size_t Size() const noexcept { return pending_.size() + done_.size(); }
  // Commits the files still waiting; answers every file handed over since
  // the last Commit, in the order their streams were closed.
  std::vector<Saved> Commit();
  // Commits the files still waiting, their answers kept for the next Commit;
  // answers whether any waited (a process out of descriptors frees them so).
  bool Release();
  // With none of its own waiting: waits (at most 2 s) for another process
  // of the run, forked from this one, to commit files of its batch, whose
  // old files may hold the space this one needs; false when none waits.
  bool AwaitOthers();

  // A temporary complete on disk but not yet in place (FileStream's part).
  struct Waiting {
    int fd;
    bool unnamed;           // no name yet (O_TMPFILE)
    std::string temporary;  // its name when it has one
    std::string target;     // the file it replaces, links resolved
    std::string path;       // the name it was opened with
  };
  void Add(Waiting file);

 private:
  std::vector<int> MakeDurable();
  void CommitWaiting();

  std::size_t chunk_;
  std::vector<Waiting> pending_;
  std::vector<Saved> done_;
};

// Installs a batch for every FileStream (null removes it); answers the
// previous one.
SaveBatch* SetSaveBatch(SaveBatch* batch);
// The batch installed, or null.
SaveBatch* CurrentSaveBatch();

}  // namespace tq::fileio
