#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <string>

#include "platform/file_io.h"
#include "platform/fd_stream.h"

namespace raid {

namespace {

std::string LastError() {
  const DWORD code = GetLastError();
  char* text = nullptr;
  const DWORD n =
      FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
  std::string s = n && text ? std::string(text, n) : "error " + std::to_string(code);
  if (text) LocalFree(text);
  while (!s.empty() && (s.back() == '\r' || s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

FileStamp StampOf(HANDLE h) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(h, &info)) return {};
  FileStamp f;
  f.exists = true;
  f.link = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  f.regular = !f.link && !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  f.size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  f.modifiedNs = static_cast<int64_t>((static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                                      info.ftLastWriteTime.dwLowDateTime) *
                 100;
  f.volume = info.dwVolumeSerialNumber;
  f.fileId = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return f;
}

// Opens without following a reparse point (a link or junction).
HANDLE OpenNoFollow(const std::string& path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
  return CreateFileA(path.c_str(), access, share, nullptr, disposition,
                     flags | FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

bool WriteAll(HANDLE h, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const size_t chunk = bytes.size() - done > 0x10000000 ? 0x10000000 : bytes.size() - done;
    DWORD n = 0;
    if (!WriteFile(h, bytes.data() + done, static_cast<DWORD>(chunk), &n, nullptr)) return false;
    done += n;
  }
  return FlushFileBuffers(h) != 0;
}

}  // namespace

FileStamp StatNoFollow(const std::string& path) {
  HANDLE h = OpenNoFollow(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          OPEN_EXISTING, 0);
  if (h == INVALID_HANDLE_VALUE) return {};
  const FileStamp f = StampOf(h);
  CloseHandle(h);
  return f;
}

Outcome ReadPlainFile(const std::string& path, uint64_t maxBytes, std::string& bytes) {
  HANDLE h = OpenNoFollow(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING, 0);
  if (h == INVALID_HANDLE_VALUE) return Outcome::Fail(LastError());
  const FileStamp f = StampOf(h);
  if (!f.regular) {
    CloseHandle(h);
    return Outcome::Fail(f.link ? "not a plain file (a link)" : "not a plain file");
  }
  if (f.size > maxBytes) {
    CloseHandle(h);
    return Outcome::Fail("larger than " + std::to_string(maxBytes / (1024 * 1024)) + " MiB");
  }
  std::string text(static_cast<size_t>(f.size), '\0');
  size_t done = 0;
  while (done < text.size()) {
    DWORD n = 0;
    if (!ReadFile(h, text.data() + done, static_cast<DWORD>(text.size() - done), &n, nullptr)) {
      const std::string why = LastError();
      CloseHandle(h);
      return Outcome::Fail(why);
    }
    if (n == 0) break;
    done += n;
  }
  CloseHandle(h);
  text.resize(done);
  bytes = std::move(text);
  return Outcome::Ok();
}

Outcome ReplaceFile(const std::string& path, const std::string& bytes, FileStamp* written, FileAccess) {
  static std::atomic<unsigned> counter{0};
  const std::string folder = FolderOf(path);
  std::string tmp;
  HANDLE h = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && h == INVALID_HANDLE_VALUE; ++attempt) {
    tmp = folder + "\\." + NameOf(path) + "." + std::to_string(GetCurrentProcessId()) + "." +
          std::to_string(counter++) + "." + std::to_string(static_cast<unsigned>(std::rand()) & 0xFFFF) + ".tmp";
    // CREATE_NEW fails on anything already there, a link included.
    h = CreateFileA(tmp.c_str(), GENERIC_WRITE | GENERIC_READ, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) return Outcome::Fail(LastError());
  }
  if (h == INVALID_HANDLE_VALUE) return Outcome::Fail("no free name for a new file");
  bool ok = WriteAll(h, bytes);
  std::string why = ok ? std::string() : LastError();
  const FileStamp stamp = StampOf(h);
  CloseHandle(h);
  if (ok && !MoveFileExA(tmp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    why = LastError();
    ok = false;
  }
  if (!ok) {
    DeleteFileA(tmp.c_str());
    return Outcome::Fail(why);
  }
  if (written) *written = stamp;
  return Outcome::Ok();
}

Outcome CreateNewFile(const std::string& path, const std::string& bytes) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return Outcome::Fail(LastError());
  const bool ok = WriteAll(h, bytes);
  const std::string why = ok ? std::string() : LastError();
  CloseHandle(h);
  if (!ok) {
    DeleteFileA(path.c_str());
    return Outcome::Fail(why);
  }
  return Outcome::Ok();
}

Outcome OpenNewOutputStream(const std::string& path, std::unique_ptr<std::ostream>& out) {
  // A new file only: whatever has the name (a file, a link) is left alone.
  HANDLE h =
      CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    if (GetLastError() == ERROR_FILE_EXISTS)
      return Outcome::Fail("the file exists and is not overwritten: give a new file name");
    return Outcome::Fail(LastError());
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_TEXT);
  if (fd < 0) {
    CloseHandle(h);
    return Outcome::Fail("cannot use the new file");
  }
  out = std::make_unique<FdStream>(fd);
  return Outcome::Ok();
}

Outcome CheckPrivateFolder(const std::string&) { return Outcome::Ok(); }

Outcome MakeFolders(const std::string& path, bool) {
  for (size_t pos = 0; pos <= path.size();) {
    const size_t next = path.find_first_of("/\\", pos);
    const std::string part = path.substr(0, next == std::string::npos ? path.size() : next);
    pos = next == std::string::npos ? path.size() + 1 : next + 1;
    if (part.empty() || part.back() == ':') continue;
    if (!CreateDirectoryA(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
      return Outcome::Fail(part + ": " + LastError());
  }
  const DWORD attr = GetFileAttributesA(path.c_str());
  if (attr == INVALID_FILE_ATTRIBUTES || !(attr & FILE_ATTRIBUTE_DIRECTORY))
    return Outcome::Fail(path + ": not a folder");
  return Outcome::Ok();
}

std::string UserStateFolder() {
  const char* local = std::getenv("LOCALAPPDATA");
  return local && *local ? std::string(local) : std::string();
}

Outcome FolderLock::Acquire(const std::string& folder) {
  Release();
  held_ = false;
  std::string path = folder.empty() ? std::string(".") : folder;
  if (path.back() != '/' && path.back() != '\\') path += '\\';
  path += ".raidlog.lock";
  // No sharing: while this handle is open, every other open fails.
  HANDLE h = OpenNoFollow(path, GENERIC_READ, 0, OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN);
  if (h == INVALID_HANDLE_VALUE) {
    if (GetLastError() == ERROR_SHARING_VIOLATION) {
      held_ = true;
      return Outcome::Fail("another copy is writing its day log in " + folder);
    }
    return Outcome::Fail(path + ": " + LastError());
  }
  if (!StampOf(h).regular) {
    CloseHandle(h);
    return Outcome::Fail(path + ": not a plain file");
  }
  handle_ = h;
  return Outcome::Ok();
}

void FolderLock::Release() {
  if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
  handle_ = nullptr;
}

FolderLock::~FolderLock() { Release(); }

}  // namespace raid
