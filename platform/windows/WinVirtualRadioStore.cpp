// The virtual radio's store on Windows: a directory under the user's local
// application data (else the user's temporary directory), held open without
// delete sharing so it cannot be renamed or replaced while in use; a file is
// live while a handle holds a LockFileEx lock on it. The lock covers one byte
// far beyond any content, so readers never meet it; Windows (and Wine, which
// keeps these locks in its server) releases it when the holding process ends.
#include <windows.h>

#include <cerrno>
#include <string>
#include <system_error>

#include "platform/virtual/VirtualRadioStore.h"

namespace quorlink::platform::vradio::store {

namespace {

constexpr DWORD kLockOffset = 0x40000000;  // 1 GiB: no entry is ever that long
constexpr std::size_t kMostRead = 4096;

std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

std::wstring Environment(const wchar_t* name) {
  wchar_t buffer[MAX_PATH + 1];
  DWORD n = GetEnvironmentVariableW(name, buffer, MAX_PATH + 1);
  return n > 0 && n <= MAX_PATH ? std::wstring(buffer, n) : std::wstring();
}

int ErrnoOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EWOULDBLOCK;
    case ERROR_DISK_FULL:
      return ENOSPC;
    default:
      return EIO;
  }
}

OVERLAPPED LockRange() {
  OVERLAPPED at{};
  at.Offset = kLockOffset;
  return at;
}

}  // namespace

class Rendezvous {
 public:
  Rendezvous(HANDLE handle, std::string path) : handle_(handle), path_(std::move(path)) {
    wide_ = Wide(path_);
  }
  ~Rendezvous() { CloseHandle(handle_); }
  Rendezvous(const Rendezvous&) = delete;
  Rendezvous& operator=(const Rendezvous&) = delete;

  const std::string& Path() const { return path_; }
  std::wstring Entry(const std::string& name) const { return wide_ + L"\\" + Wide(name); }
  bool StillDirectory() const {
    BY_HANDLE_FILE_INFORMATION info{};
    return GetFileInformationByHandle(handle_, &info) != 0 &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
  }

 private:
  HANDLE handle_;
  std::string path_;
  std::wstring wide_;
};

namespace {

// Opens an entry that must be a plain file (never a directory or a link).
HANDLE OpenRegular(const Rendezvous& dir, const std::string& name, DWORD access,
                   DWORD disposition) {
  HANDLE h = CreateFileW(
      dir.Entry(name).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, disposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return h;
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileInformationByHandle(h, &info) == 0 ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    CloseHandle(h);
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  return h;
}

[[noreturn]] void NotPrivate(const std::string& path) {
  throw std::system_error(EACCES, std::generic_category(),
                          path + " is not a private directory of this user");
}

}  // namespace

std::string DefaultDirectory() {
  std::wstring base = Environment(L"LOCALAPPDATA");
  if (base.empty()) base = Environment(L"TEMP");
  if (base.empty()) base = L".";
  return Narrow(base) + "\\quorlink-vradio";
}

// Both defaults lie in the user's own profile, which other users cannot
// enter; the directory inherits that protection.
Dir OpenPrivateDirectory(const std::string& path) {
  const std::wstring wide = Wide(path);
  if (CreateDirectoryW(wide.c_str(), nullptr) == 0 && GetLastError() != ERROR_ALREADY_EXISTS)
    throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                            "cannot create " + path);
  // No delete sharing: nobody renames or removes it while we hold it.
  HANDLE h = CreateFileW(wide.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                            "cannot inspect " + path);
  auto dir = std::make_shared<const Rendezvous>(h, path);
  if (!dir->StillDirectory()) NotPrivate(path);
  return dir;
}

bool StillPrivate(const Rendezvous& dir) {
  return dir.StillDirectory();
}

const std::string& PathOf(const Rendezvous& dir) {
  return dir.Path();
}

int TakeLock(const Dir& dir, const std::string& name, Lock& lock) {
  lock.Release();
  HANDLE h = OpenRegular(*dir, name, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
  if (h == INVALID_HANDLE_VALUE) return ErrnoOf(GetLastError());
  OVERLAPPED at = LockRange();
  if (LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) == 0) {
    const DWORD error = GetLastError();
    CloseHandle(h);
    return error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING ? EWOULDBLOCK
                                                                      : ErrnoOf(error);
  }
  lock.dir_ = dir;
  lock.name_ = name;
  lock.native_ = reinterpret_cast<std::intptr_t>(h);
  return 0;
}

// The name stays (Windows cannot unlink a file others may hold open); an
// unlocked entry counts as absent, and the content goes so nothing stale
// is read as current.
void Lock::Release() {
  if (native_ == -1) return;
  HANDLE h = reinterpret_cast<HANDLE>(native_);
  SetFilePointer(h, 0, nullptr, FILE_BEGIN);
  SetEndOfFile(h);
  OVERLAPPED at = LockRange();
  UnlockFileEx(h, 0, 1, 0, &at);
  CloseHandle(h);
  native_ = -1;
  dir_.reset();
}

bool Lock::Write(const std::string& text) {
  if (native_ == -1) return false;
  HANDLE h = reinterpret_cast<HANDLE>(native_);
  if (SetFilePointer(h, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER || !SetEndOfFile(h))
    return false;
  DWORD written = 0;
  return text.empty() ||
         (WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) != 0 &&
          written == text.size());
}

bool IsLocked(const Rendezvous& dir, const std::string& name) {
  HANDLE h = OpenRegular(dir, name, GENERIC_READ, OPEN_EXISTING);
  if (h == INVALID_HANDLE_VALUE) return false;
  OVERLAPPED at = LockRange();
  // Locks belong to handles, so this conflicts with a holder in this process too.
  const bool locked = LockFileEx(h, LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) == 0;
  if (!locked) UnlockFileEx(h, 0, 1, 0, &at);
  CloseHandle(h);
  return locked;
}

std::optional<std::string> ReadSmallFile(const Rendezvous& dir, const std::string& name) {
  HANDLE h = OpenRegular(dir, name, GENERIC_READ, OPEN_EXISTING);
  if (h == INVALID_HANDLE_VALUE) return std::nullopt;
  std::string text;
  char buf[512];
  DWORD n = 0;
  while (text.size() <= kMostRead && ReadFile(h, buf, sizeof buf, &n, nullptr) != 0 && n > 0)
    text.append(buf, n);
  CloseHandle(h);
  return text;
}

int WriteFileAtomically(const Rendezvous& dir, const std::string& name, const std::string& text) {
  const std::string temporary = name + ".tmp" + std::to_string(GetCurrentProcessId());
  HANDLE h = CreateFileW(dir.Entry(temporary).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return ErrnoOf(GetLastError());
  DWORD written = 0;
  const bool ok = text.empty() || (WriteFile(h, text.data(), static_cast<DWORD>(text.size()),
                                             &written, nullptr) != 0 &&
                                   written == text.size());
  CloseHandle(h);
  if (!ok || MoveFileExW(dir.Entry(temporary).c_str(), dir.Entry(name).c_str(),
                         MOVEFILE_REPLACE_EXISTING) == 0) {
    const int err = ok ? ErrnoOf(GetLastError()) : EIO;
    DeleteFileW(dir.Entry(temporary).c_str());
    return err;
  }
  return 0;
}

int RemoveName(const Rendezvous& dir, const std::string& name) {
  return DeleteFileW(dir.Entry(name).c_str()) != 0 ? 0 : ErrnoOf(GetLastError());
}

std::vector<std::string> Names(const Rendezvous& dir, const std::string& prefix) {
  std::vector<std::string> names;
  WIN32_FIND_DATAW found{};
  HANDLE find = FindFirstFileW(dir.Entry(prefix + "*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
      continue;
    std::string name = Narrow(found.cFileName);
    if (name.rfind(prefix, 0) == 0) names.push_back(std::move(name));
  } while (FindNextFileW(find, &found) != 0);
  FindClose(find);
  return names;
}

}  // namespace quorlink::platform::vradio::store
