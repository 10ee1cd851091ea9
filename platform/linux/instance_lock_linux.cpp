#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/instance_lock.h"

namespace raid {

std::string& InstanceLock::MachineFolder() {
  static std::string folder = "/run/raidgui";
  return folder;
}

std::string InstanceLock::PathFor(const std::string& name, Scope scope) {
  if (scope == Scope::Machine && ::geteuid() == 0) return MachineFolder() + "/" + name + ".lock";
  // The runtime folder is the user's own; without it the shared /tmp gets a
  // name per user, so one user's lock never shuts out another.
  const char* dir = std::getenv("XDG_RUNTIME_DIR");
  if (dir && *dir) return std::string(dir) + "/" + name + ".lock";
  return "/tmp/" + name + "-" + std::to_string(::geteuid()) + ".lock";
}

// An advisory lock on a file; the kernel drops it when the process ends,
// however it ends.
Outcome InstanceLock::Acquire(const std::string& name, const std::string& program, Scope scope) {
  Release();
  held_ = false;
  holder_.clear();
  const bool machine = scope == Scope::Machine && ::geteuid() == 0;
  if (machine) {
    // The folder must be root's and writable by root alone: anyone else who
    // could write there could plant or remove the lock.
    const std::string& folder = MachineFolder();
    if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
      return Outcome::Fail("cannot create the lock folder " + folder + ": " + std::strerror(errno));
    }
    struct stat d {};
    if (::lstat(folder.c_str(), &d) != 0 || !S_ISDIR(d.st_mode) || d.st_uid != 0 || (d.st_mode & 0022) != 0) {
      return Outcome::Fail("the lock folder " + folder + " is not a folder that only root may write");
    }
  }
  const std::string path = PathFor(name, scope);
  // No link is followed (the folder may be shared) and a fifo cannot hang
  // the open. The file holds the holder's program name.
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  // A lock file we may only read still locks; it just keeps no name.
  if (fd_ < 0 && (errno == EACCES || errno == EROFS))
    fd_ = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) {
    return Outcome::Fail("cannot create the lock file " + path + ": " +
                         (errno == ELOOP ? "it is a link" : std::strerror(errno)));
  }
  struct stat s {};
  // In the shared /tmp a file planted by someone else must not stand in for
  // our lock, nor a second name of one of our own files (a hard link to,
  // say, a root-owned file would otherwise be emptied when the holder's
  // name is written).
  const bool shared = path.rfind("/tmp/", 0) == 0;
  const bool strict = shared || machine;
  if (::fstat(fd_, &s) != 0 || !S_ISREG(s.st_mode) || (strict && (s.st_uid != ::geteuid() || s.st_nlink != 1)) ||
      (machine && (s.st_mode & 0077) != 0)) {
    Release();
    return Outcome::Fail("the lock file " + path + " is not a plain file of this user");
  }
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    const int e = errno;
    if (e == EWOULDBLOCK) {
      // The name the holder left: printable characters of its first line.
      char text[64] = {};
      const ssize_t n = ::pread(fd_, text, sizeof text - 1, 0);
      for (ssize_t i = 0; i < n && text[i] != '\n'; ++i)
        if (text[i] >= 0x20 && text[i] < 0x7F) holder_ += text[i];
    }
    Release();
    held_ = e == EWOULDBLOCK;
    return Outcome::Fail(held_ ? std::string("another copy is running")
                               : "cannot lock " + path + ": " + std::strerror(e));
  }
  // The holder's name replaces whatever an earlier holder left. Best
  // effort: the lock holds without it.
  const std::string line = program.empty() ? std::string() : program + "\n";
  [[maybe_unused]] const bool named =
      ::ftruncate(fd_, 0) == 0 && ::pwrite(fd_, line.data(), line.size(), 0) == static_cast<ssize_t>(line.size());
  return Outcome::Ok();
}

void InstanceLock::Release() {
  if (fd_ >= 0) ::close(fd_);  // closing drops the lock
  fd_ = -1;
}

InstanceLock::~InstanceLock() { Release(); }

bool InstanceLock::HeldBy(const std::string& program) const { return held_ && !program.empty() && holder_ == program; }

}  // namespace raid
