#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>

#include "platform/file_io.h"
#include "platform/fd_stream.h"

namespace raid {

namespace {

std::string Why(int err) { return std::strerror(err); }

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

FileStamp StampOf(const struct stat& s) {
  FileStamp f;
  f.exists = true;
  f.regular = S_ISREG(s.st_mode);
  f.link = S_ISLNK(s.st_mode);
  f.size = static_cast<uint64_t>(s.st_size);
  f.modifiedNs = static_cast<int64_t>(s.st_mtim.tv_sec) * 1000000000 + s.st_mtim.tv_nsec;
  f.volume = static_cast<uint64_t>(s.st_dev);
  f.fileId = static_cast<uint64_t>(s.st_ino);
  return f;
}

bool WriteAll(int fd, const std::string& bytes, int& err) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      err = errno;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  if (::fsync(fd) != 0) {
    err = errno;
    return false;
  }
  return true;
}

// Flushes a folder's entries (a rename in it) to the disk.
void SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

FileStamp StatNoFollow(const std::string& path) {
  struct stat s {};
  if (::lstat(path.c_str(), &s) != 0) return {};
  return StampOf(s);
}

Outcome ReadPlainFile(const std::string& path, uint64_t maxBytes, std::string& bytes) {
  // O_NONBLOCK: a fifo planted in place of the file must not hang the read.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return Outcome::Fail(errno == ELOOP ? "not a plain file (a link)" : Why(errno));
  struct stat s {};
  if (::fstat(fd, &s) != 0 || !S_ISREG(s.st_mode)) {
    ::close(fd);
    return Outcome::Fail("not a plain file");
  }
  if (static_cast<uint64_t>(s.st_size) > maxBytes) {
    ::close(fd);
    return Outcome::Fail("larger than " + std::to_string(maxBytes / (1024 * 1024)) + " MiB");
  }
  std::string text;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      const std::string why = Why(errno);
      ::close(fd);
      return Outcome::Fail(why);
    }
    if (n == 0) break;
    text.append(buf, static_cast<size_t>(n));
    if (text.size() > maxBytes) {
      ::close(fd);
      return Outcome::Fail("larger than " + std::to_string(maxBytes / (1024 * 1024)) + " MiB");
    }
  }
  ::close(fd);
  bytes = std::move(text);
  return Outcome::Ok();
}

Outcome ReplaceFile(const std::string& path, const std::string& bytes, FileStamp* written, FileAccess access) {
  const bool ownerOnly = access == FileAccess::OwnerOnly;
  static std::atomic<unsigned> counter{0};
  const std::string folder = FolderOf(path);
  std::string tmp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    tmp = folder + "/." + NameOf(path) + "." + std::to_string(::getpid()) + "." + std::to_string(counter++) + "." +
          std::to_string(static_cast<unsigned>(std::rand()) & 0xFFFF) + ".tmp";
    fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, ownerOnly ? 0600 : 0644);
    if (fd < 0 && errno != EEXIST) return Outcome::Fail(Why(errno));
  }
  if (fd < 0) return Outcome::Fail("no free name for a new file");
  int err = 0;
  bool ok = WriteAll(fd, bytes, err);
  if (ok && access != FileAccess::Default && ::fchmod(fd, ownerOnly ? 0600 : 0644) != 0) {
    err = errno;
    ok = false;
  }
  struct stat s {};
  if (ok && ::fstat(fd, &s) != 0) {
    err = errno;
    ok = false;
  }
  if (::close(fd) != 0 && ok) {
    err = errno;
    ok = false;
  }
  if (ok && ::rename(tmp.c_str(), path.c_str()) != 0) {
    err = errno;
    ok = false;
  }
  if (!ok) {
    ::unlink(tmp.c_str());
    return Outcome::Fail(Why(err));
  }
  SyncFolder(folder);
  if (written) *written = StampOf(s);
  return Outcome::Ok();
}

Outcome CreateNewFile(const std::string& path, const std::string& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return Outcome::Fail(Why(errno));
  int err = 0;
  bool ok = WriteAll(fd, bytes, err);
  if (::close(fd) != 0 && ok) {
    err = errno;
    ok = false;
  }
  if (!ok) {
    ::unlink(path.c_str());
    return Outcome::Fail(Why(err));
  }
  SyncFolder(FolderOf(path));
  return Outcome::Ok();
}

Outcome OpenNewOutputStream(const std::string& path, std::unique_ptr<std::ostream>& out) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600);
  if (fd < 0 && errno == EEXIST) {
    // Something is there: only a pipe or a terminal is written to, as
    // writing to it destroys nothing. Opened without creating, truncating
    // or following a link, then looked at.
    fd = ::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
      return Outcome::Fail(errno == ELOOP ? "it is a link, which is not followed" : "it exists: " + Why(errno));
    struct stat s {};
    if (::fstat(fd, &s) != 0 || !(S_ISFIFO(s.st_mode) || S_ISCHR(s.st_mode) || S_ISSOCK(s.st_mode))) {
      ::close(fd);
      return Outcome::Fail("the file exists and is not overwritten: give a new file name");
    }
  }
  if (fd < 0) return Outcome::Fail(Why(errno));
  out = std::make_unique<FdStream>(fd);
  return Outcome::Ok();
}

namespace {

// Whether users other than us may write to a folder (no sticky bit to keep
// them from replacing what is ours); the reason, else "".
std::string OthersMayReplace(const struct stat& s, const std::string& what) {
  const bool othersWrite = (s.st_mode & S_IWOTH) != 0 || ((s.st_mode & S_IWGRP) != 0 && s.st_gid != ::getegid());
  if (!othersWrite || (s.st_mode & S_ISVTX) != 0) return "";
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(s.st_mode & 07777));
  return "other users may write to " + what + " (mode " + mode + ", no sticky bit), so they could replace " +
         (what == "the folder" ? "its files" : "it");
}

}  // namespace

Outcome CheckPrivateFolder(const std::string& path) {
  // The folder's parent and a link in its place count too: whoever may
  // write the parent, or owns the link, could put a folder of theirs there.
  struct stat l {};
  if (::lstat(path.c_str(), &l) == 0 && S_ISLNK(l.st_mode) && l.st_uid != ::geteuid() && l.st_uid != 0)
    return Outcome::Fail("it is a link another user owns (uid " + std::to_string(l.st_uid) +
                         "), who could point it elsewhere");
  std::string parent = path;
  while (parent.size() > 1 && parent.back() == '/') parent.pop_back();
  const size_t slash = parent.rfind('/');
  parent = slash == std::string::npos ? "." : slash == 0 ? "/" : parent.substr(0, slash);
  struct stat p {};
  if (::stat(parent.c_str(), &p) == 0 && S_ISDIR(p.st_mode))
    if (const std::string why = OthersMayReplace(p, "its parent folder " + parent); !why.empty())
      return Outcome::Fail(why);
  struct stat s {};
  if (::stat(path.c_str(), &s) != 0) return errno == ENOENT ? Outcome::Ok() : Outcome::Fail(Why(errno));
  if (!S_ISDIR(s.st_mode)) return Outcome::Fail("not a folder");
  if (s.st_uid != ::geteuid() && s.st_uid != 0)
    return Outcome::Fail("the folder belongs to another user (uid " + std::to_string(s.st_uid) +
                         "), who could change or replace its files");
  if (const std::string why = OthersMayReplace(s, "the folder"); !why.empty()) return Outcome::Fail(why);
  return Outcome::Ok();
}

Outcome MakeFolders(const std::string& path, bool readableByAll) {
  std::string part;
  size_t pos = 0;
  while (pos <= path.size()) {
    const size_t next = path.find('/', pos);
    part = path.substr(0, next == std::string::npos ? path.size() : next);
    pos = next == std::string::npos ? path.size() + 1 : next + 1;
    if (part.empty()) continue;
    if (::mkdir(part.c_str(), readableByAll ? 0755 : 0700) != 0 && errno != EEXIST)
      return Outcome::Fail(part + ": " + Why(errno));
  }
  struct stat s {};
  if (::stat(path.c_str(), &s) != 0 || !S_ISDIR(s.st_mode)) return Outcome::Fail(path + ": not a folder");
  return Outcome::Ok();
}

std::string UserStateFolder() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state && *state == '/') return state;
  const char* home = std::getenv("HOME");
  if (home && *home) return std::string(home) + "/.local/state";
  return {};
}

Outcome FolderLock::Acquire(const std::string& folder) {
  Release();
  held_ = false;
  const std::string path = folder.empty() ? std::string(".") : folder;
  // A lock on the folder itself could be held by anyone who may list it,
  // and a monitor's log folder is readable by all: the lock is a file of
  // our own that nobody else may open. No link is followed and a fifo
  // cannot hang the open.
  const std::string file = path + "/.raidlog.lock";
  constexpr int kFlags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  fd_ = ::open(file.c_str(), O_RDWR | O_CREAT | kFlags, 0600);
  if (fd_ < 0 && (errno == EACCES || errno == EROFS)) fd_ = ::open(file.c_str(), O_RDONLY | kFlags);
  if (fd_ < 0) {
    return Outcome::Fail(file + ": " + (errno == ELOOP ? std::string("it is a link") : Why(errno)));
  }
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || st.st_nlink != 1 ||
      (st.st_mode & 0077) != 0) {
    Release();
    return Outcome::Fail(file + " is not a private file of this user");
  }
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    const int e = errno;
    Release();
    held_ = e == EWOULDBLOCK;
    return Outcome::Fail(held_ ? "another copy is writing its day log in " + path : path + ": " + Why(e));
  }
  return Outcome::Ok();
}

void FolderLock::Release() {
  if (fd_ >= 0) ::close(fd_);  // closing drops the lock
  fd_ = -1;
}

FolderLock::~FolderLock() { Release(); }

}  // namespace raid
