// The file calls the day log needs that differ between systems: files read
// and replaced without following links, a new file created exclusively, the
// lock that keeps one writer per log folder, and the user's state folder.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>

#include "platform/outcome.h"

#ifdef _WIN32
// The system header names its own ReplaceFile function by a macro, which
// would rename this header's ReplaceFile in every file that includes both.
#include <windows.h>
#undef ReplaceFile
#endif

namespace raid {

// What a path names, looked at without following a link. Two stamps are
// equal when nothing has replaced or changed the file between them.
struct FileStamp {
  bool exists = false;
  bool regular = false;  // a plain file (not a link, folder or device)
  bool link = false;
  uint64_t size = 0;
  int64_t modifiedNs = 0;
  uint64_t volume = 0;
  uint64_t fileId = 0;
  bool operator==(const FileStamp&) const = default;
};

FileStamp StatNoFollow(const std::string& path);

// Reads a plain file whole; a link, a folder or a file above maxBytes is
// refused (the error then starts with "larger than" or "not a plain file").
Outcome ReadPlainFile(const std::string& path, uint64_t maxBytes, std::string& bytes);

// Replaces path with bytes: a new file with a unique name is created
// exclusively in path's folder (never through a link), written, flushed to
// the disk and renamed over path; then the folder itself is flushed. path
// is never opened for writing, so a link planted there is replaced, not
// followed. written receives the stamp of the new file. access: who may
// read the new file on Linux, whatever the process's file mode mask (the
// Windows file inherits its folder's rights).
enum class FileAccess {
  Default,        // as the process's file mode mask allows, never writable by others (0644 at most)
  OwnerOnly,      // readable and writable by its owner alone (0600)
  ReadableByAll,  // 0644, whatever the mask: status any user may read
};
Outcome ReplaceFile(const std::string& path, const std::string& bytes, FileStamp* written = nullptr,
                    FileAccess access = FileAccess::Default);

// Creates path with bytes, failing when anything (also a link) is there.
Outcome CreateNewFile(const std::string& path, const std::string& bytes);

// Opens path for a stream of output (the simulated requests' trace) without
// following a link and without truncating anything: a new file is created
// (0600 on Linux); an existing pipe or terminal is written to; an existing
// plain file, link or folder is refused, saying so.
Outcome OpenNewOutputStream(const std::string& path, std::unique_ptr<std::ostream>& out);

// Whether a folder given for the day logs or the settings is ours alone:
// refused (with the reason) when another user owns it (anyone but us or
// root) or may write to it: writable by all, or by a group other than our
// own, without the sticky bit that keeps others from replacing our files.
// Its parent counts alike (whoever may write it could replace the folder),
// and so does a link in its place that another user owns.
// A missing folder passes (it is created as ours). Windows: always passes
// (its folders' rights are access lists).
Outcome CheckPrivateFolder(const std::string& path);

// Creates a folder and its parents, readable by the user only when new
// (0700), or by all (0755, as the file mode mask allows). Never writable by
// others, whatever the mask.
Outcome MakeFolders(const std::string& path, bool readableByAll = false);

// The folder for a user's saved program state: $XDG_STATE_HOME, else
// ~/.local/state (Windows: %LOCALAPPDATA%).
std::string UserStateFolder();

// An exclusive lock held in a folder, so that one process at a time writes
// there; the system drops it when the process ends, however it ends. It is
// the file ".raidlog.lock" in the folder: Linux locks it (a file of this
// user's, mode 0600, so no other user can open it to hold the lock);
// Windows holds it open without sharing.
class FolderLock {
 public:
  FolderLock() = default;
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

  // Fails, saying why, when another process holds it (HeldElsewhere()) or
  // it could not be had at all.
  Outcome Acquire(const std::string& folder);
  void Release();
  bool HeldElsewhere() const { return held_; }

 private:
  bool held_ = false;
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
};

}  // namespace raid
