// The platform layer over the wide Windows API. Paths and texts arrive as code page 936
// bytes and are converted at each call, so that file names come out the same on any
// Windows, whatever its ANSI code page.
#include "platform/WindowsApi.h"

#include <mmsystem.h>
#include <shellapi.h>
#include <io.h>

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/FaultInternal.h"
#include "platform/PathText.h"
#include "platform/ProfileText.h"
#include "platform/WideText.h"

namespace plat {

namespace {

// The system's text for a Windows error code, without the line end it comes with.
std::string SystemText(DWORD code) {
  wchar_t* text = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string out = n && text ? Narrow(std::wstring_view(text, n)) : "error " + std::to_string(code);
  if (text) LocalFree(text);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.')) out.pop_back();
  return out;
}

// Records GetLastError() (for Win32 calls) or errno (for C runtime calls) as the reason
// of the failure that just happened; returns `result`.
OsErrorKind Win32Kind(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND: case ERROR_PATH_NOT_FOUND: case ERROR_INVALID_DRIVE: return OsErrorKind::NotFound;
    case ERROR_SHARING_VIOLATION: case ERROR_LOCK_VIOLATION: return OsErrorKind::InUse;
    case ERROR_ACCESS_DENIED: case ERROR_WRITE_PROTECT:
    case ERROR_FILE_EXISTS: case ERROR_ALREADY_EXISTS: return OsErrorKind::Access;
    case ERROR_DISK_FULL: case ERROR_HANDLE_DISK_FULL: return OsErrorKind::NoSpace;
    default: return OsErrorKind::Other;
  }
}

template <class T>
T FailedWin32(T result) {
  const DWORD code = GetLastError();
  detail::SetLastError(static_cast<int>(code), SystemText(code), Win32Kind(code));
  return result;
}
// Another program holds the file: a virus scanner or an indexer lets go within moments,
// so a call that meets this is tried again for about two seconds before it fails.
bool HeldByAnother(DWORD code) { return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION; }
constexpr int kHeldRetries = 10;
constexpr DWORD kHeldRetryMs = 200;

template <class Call>
auto RetryWhileHeld(Call call) {
  auto result = call();
  for (int i = 0; i < kHeldRetries && !result && HeldByAnother(GetLastError()); ++i) {
    Sleep(kHeldRetryMs);
    result = call();
  }
  return result;
}

// Whether another program holds `path` so that it can be neither replaced nor deleted:
// Windows answers a rename or a delete over such a file with "access denied", which an
// open for deleting tells apart from a file that is really read-only or forbidden.
bool HeldAgainstDelete(const std::wstring& path) {
  HANDLE probe = CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (probe != INVALID_HANDLE_VALUE) {
    CloseHandle(probe);
    return false;
  }
  return HeldByAnother(GetLastError());
}

// A rename or delete onto `path`, tried again while another program holds the file; a
// file still held at the end fails as a sharing violation, so that it reads as in use.
template <class Call>
bool RetryWhileHeldAgainstDelete(const std::wstring& path, Call call) {
  for (int i = 0;; ++i) {
    if (call()) return true;
    const DWORD code = GetLastError();
    const bool held = HeldByAnother(code) || (code == ERROR_ACCESS_DENIED && HeldAgainstDelete(path));
    if (!held) {
      SetLastError(code);
      return false;
    }
    if (i == kHeldRetries) {
      SetLastError(ERROR_SHARING_VIOLATION);
      return false;
    }
    Sleep(kHeldRetryMs);
  }
}

template <class T>
T FailedCrt(T result) {
  const int code = errno;
  detail::SetLastError(code, std::strerror(code), detail::ErrnoKind(code));
  return result;
}

}  // namespace

namespace detail {
void RaiseFault(Fault fault) {
  const DWORD code = fault == Fault::NoSpace ? ERROR_DISK_FULL : ERROR_WRITE_FAULT;
  errno = fault == Fault::NoSpace ? ENOSPC : EIO;
  ::SetLastError(code);
  SetLastError(static_cast<int>(code), SystemText(code), Win32Kind(code));
}
}  // namespace detail

namespace {

struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using HandlePtr = std::unique_ptr<void, HandleCloser>;

struct FindCloser {
  void operator()(HANDLE handle) const { FindClose(handle); }
};
using FindPtr = std::unique_ptr<void, FindCloser>;

// Seconds between 1601-01-01 (FILETIME) and 1970-01-01 (time_t).
constexpr int64_t kEpochDelta = 11644473600LL;
constexpr int64_t kTicksPerSecond = 10000000LL;

int64_t FileTimeToUnix(const FILETIME& ft) {
  int64_t ticks = static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
  return ticks / kTicksPerSecond - kEpochDelta;
}

FILETIME UnixToFileTime(int64_t seconds) {
  uint64_t ticks = static_cast<uint64_t>((seconds + kEpochDelta) * kTicksPerSecond);
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(ticks);
  ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return ft;
}

// Beyond this a profile value is cut, as no real setting comes near it.
constexpr size_t kMaxProfileValue = 1 << 20;

bool IsDotName(const std::string& name) { return name == "." || name == ".."; }

bool EndsWithSeparator(const std::string& path) {
  return !path.empty() && LastSeparator(path) == path.size() - 1;
}

// The absolute form of a path, "" when it cannot be made.
std::wstring FullPath(const std::string& path) {
  const std::wstring wide = Wide(path);
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetFullPathNameW(wide.c_str(), static_cast<DWORD>(buf.size()), buf.data(), nullptr);
    if (n == 0) return {};
    if (n < buf.size()) return buf.substr(0, n);
    buf.resize(n);
  }
}

DWORD Attributes(const std::string& path) { return GetFileAttributesW(Wide(path).c_str()); }

bool Exists(const std::string& path) { return Attributes(path) != INVALID_FILE_ATTRIBUTES; }

std::wstring FindPattern(const std::string& folder) {
  return Wide(folder.empty() || EndsWithSeparator(folder) ? folder + "*.*" : folder + "\\*.*");
}

// The entry names of a folder, "." and ".." left out; read in full before anything in
// it is deleted. A name that code page 936 cannot hold is given as its short name, so
// that it can still be deleted; the folder listing of callers never does that, since a
// short name is no name to store or show.
bool ListNames(const std::string& folder, std::vector<std::string>& names) {
  WIN32_FIND_DATAW found;
  HANDLE raw = FindFirstFileW(FindPattern(folder).c_str(), &found);
  if (raw == INVALID_HANDLE_VALUE) return false;
  FindPtr handle(raw);
  do {
    bool lossless = true;
    std::string name = Narrow(found.cFileName, &lossless);
    if (!lossless && found.cAlternateFileName[0]) name = Narrow(found.cAlternateFileName);
    if (!IsDotName(name)) names.push_back(name);
  } while (FindNextFileW(handle.get(), &found));
  return true;
}

// Deletes a file or a folder tree by hand. Attributes are cleared first, since read-only,
// hidden or system entries refuse deletion. A junction or folder link is removed itself,
// never the tree it points to.
bool RemoveTree(const std::string& path) {
  const std::wstring wide = Wide(path);
  DWORD attr = GetFileAttributesW(wide.c_str());
  if (attr == INVALID_FILE_ATTRIBUTES) return false;
  if (FaultInjected(FileOp::Unlink, path)) return false;
  if (attr & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))
    SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!(attr & FILE_ATTRIBUTE_DIRECTORY)) return DeleteFileW(wide.c_str()) != 0 || FailedWin32(false);
  bool ok = true;
  if (!(attr & FILE_ATTRIBUTE_REPARSE_POINT)) {
    std::vector<std::string> names;
    if (!ListNames(path, names)) return false;
    for (const std::string& name : names) ok = RemoveTree(path + "\\" + name) && ok;
  }
  return (RemoveDirectoryW(wide.c_str()) != 0 || FailedWin32(false)) && ok;
}

// True when some folder on the way to `path` (not the last component) is a junction or
// a folder link: the shell delete does not follow them out of the folder it was given.
bool PassesLink(const std::string& path) {
  for (size_t at : SeparatorPositions(path)) {
    if (at == 0 || path[at - 1] == ':') continue;
    DWORD attr = Attributes(path.substr(0, at));
    if (attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
  }
  return false;
}

// Deletes the given entries with the shell, then removes by hand whatever survived:
// the shell's result is not trusted either way (Wine's shell and long paths may leave
// entries behind), so success means every entry is really gone.
bool DeleteEntries(const std::vector<std::string>& paths) {
  std::wstring list;  // names separated by '\0', ended by a second '\0'
  for (const std::string& path : paths) {
    std::wstring full = FullPath(path);
    if (full.empty()) continue;  // an empty name would end the list early
    list += full;
    list.push_back(L'\0');
  }
  if (!list.empty()) {
    list.push_back(L'\0');
    SHFILEOPSTRUCTW op{};
    op.wFunc = FO_DELETE;
    op.pFrom = list.c_str();
    op.fFlags = FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
    SHFileOperationW(&op);
  }
  bool ok = true;
  for (const std::string& path : paths) {
    if (Exists(path)) ok = RemoveTree(path) && ok;
  }
  return ok;
}

}  // namespace

// ---- paths and the process ----

std::string ModuleFileName() {
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) return NarrowPath(buf.substr(0, n));
    if (buf.size() >= 32768) return {};
    buf.resize(buf.size() * 2);
  }
}

std::string GetWorkDir() {
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD need = GetCurrentDirectoryW(0, nullptr);
    if (need == 0) return {};
    std::wstring buf(need, L'\0');
    DWORD n = GetCurrentDirectoryW(need, buf.data());
    if (n == 0) return {};
    if (n < need) return NarrowPath(buf.substr(0, n));
    // another thread changed the folder between the two calls; ask again
  }
  return {};
}

bool SetWorkDir(const std::string& path) { return SetCurrentDirectoryW(Wide(path).c_str()) != 0; }

// ---- files ----

FILE* OpenFile(const std::string& path, const char* mode) {
  if (FaultInjected(FileOp::Open, path)) return nullptr;
  const std::wstring wide = Wide(path), wideMode = Wide(mode);
  SetLastError(ERROR_SUCCESS);
  FILE* file = RetryWhileHeld([&] { return _wfopen(wide.c_str(), wideMode.c_str()); });
  if (file) return file;
  // The C runtime says EACCES for a file another program holds; the system's code tells.
  return HeldByAnother(GetLastError()) ? FailedWin32<FILE*>(nullptr) : FailedCrt<FILE*>(nullptr);
}

FILE* CreateNewFile(const std::string& path) {
  if (FaultInjected(FileOp::Open, path)) return nullptr;
  // CREATE_NEW fails on any existing name, a link included. Others may read and delete
  // the file meanwhile, as with fopen.
  HANDLE raw = CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                           nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (raw == INVALID_HANDLE_VALUE) return FailedWin32<FILE*>(nullptr);
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(raw), _O_RDWR | _O_BINARY);
  if (fd < 0) {
    CloseHandle(raw);
    return FailedCrt<FILE*>(nullptr);
  }
  FILE* file = _fdopen(fd, "w+b");
  if (!file) {
    FailedCrt(0);
    _close(fd);
  }
  return file;
}

bool CloseFile(FILE* file) { return !file || fclose(file) == 0 || FailedCrt(false); }

bool TruncateFile(FILE* file, int64_t length) {
  return (fflush(file) == 0 && _chsize_s(_fileno(file), length) == 0) || FailedCrt(false);
}

bool StatPath(const std::string& path, FileInfo& info) {
  // GetFileAttributesEx rather than _stat: the C runtime's stat fails on a trailing
  // separator and shifts times by the daylight saving offset on some volumes.
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data)) return FailedWin32(false);
  info.isDir = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  info.size = info.isDir ? 0 : static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
  info.mtime = FileTimeToUnix(data.ftLastWriteTime);
  return true;
}

int64_t FileHandleMTime(FILE* file) {
  if (!file) return 0;
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  FILETIME written;
  if (handle == INVALID_HANDLE_VALUE || !GetFileTime(handle, nullptr, nullptr, &written)) return 0;
  return FileTimeToUnix(written);
}

int SeekFile(FILE* file, int64_t offset, int whence) {
  // A seek writes out what is buffered, so this is where a failed write often shows.
  return _fseeki64(file, offset, whence) == 0 ? 0 : FailedCrt(-1);
}

int64_t TellFile(FILE* file) { return _ftelli64(file); }

bool FlushFileToDisk(FILE* file) {
  return file && ((fflush(file) == 0 && _commit(_fileno(file)) == 0) || FailedCrt(false));
}

// Windows writes cached bytes out on its own schedule and has no call to start it early.
void StartWriteBack(FILE*) {}

bool FileExists(const std::string& path) { return Exists(path); }

bool IsWritable(const std::string& path) { return _waccess(Wide(path).c_str(), 2) == 0; }

bool DeleteFile(const std::string& path) {
  if (!Exists(path)) return FailedWin32(false);
  if (FaultInjected(FileOp::Unlink, path)) return false;
  const std::wstring wide = Wide(path);
  return RetryWhileHeldAgainstDelete(wide, [&] { return DeleteFileW(wide.c_str()) != 0; }) || FailedWin32(false);
}

bool MakeDir(const std::string& path) {
  if (FaultInjected(FileOp::MakeDir, path)) return false;
  return CreateDirectoryW(Wide(path).c_str(), nullptr) != 0 || FailedWin32(false);
}

bool RemoveDir(const std::string& path) {
  if (FaultInjected(FileOp::Unlink, path)) return false;
  return RemoveDirectoryW(Wide(path).c_str()) != 0 || FailedWin32(false);
}

bool IsFolder(const std::string& path) {
  DWORD attr = Attributes(path);
  return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY) && !(attr & FILE_ATTRIBUTE_REPARSE_POINT);
}

// MoveFileEx with write-through already puts a rename on the disk.
bool SyncFolder(const std::string&) { return true; }

bool ReplaceFile(const std::string& from, const std::string& to) {
  if (FaultInjected(FileOp::Rename, to)) return false;
  const std::wstring src = Wide(from), dst = Wide(to);
  return RetryWhileHeldAgainstDelete(dst, [&] {
           return MoveFileExW(src.c_str(), dst.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
         }) ||
         FailedWin32(false);
}

bool FreeSpace(const std::string& path, uint64_t& bytes) {
  ULARGE_INTEGER available{};
  const std::wstring folder = FullPath(path.empty() ? std::string(".") : path);
  if (folder.empty() || !GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr)) return FailedWin32(false);
  bytes = detail::AdjustFreeSpace(path, uint64_t(available.QuadPart));
  return true;
}

bool SetNormalAttributes(const std::string& path) {
  return SetFileAttributesW(Wide(path).c_str(), FILE_ATTRIBUTE_NORMAL) != 0;
}

bool SetFileTime(const std::string& path, int64_t mtime) {
  // Through a handle rather than _utime: that also reaches folders and read-only files
  // (attribute writes are allowed on them) and is not limited to 32-bit times.
  HANDLE raw = CreateFileW(Wide(path).c_str(), FILE_WRITE_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (raw == INVALID_HANDLE_VALUE) return false;
  HandlePtr handle(raw);
  FILETIME ft = UnixToFileTime(mtime);
  return ::SetFileTime(handle.get(), nullptr, &ft, &ft) != 0;
}

bool CopyRunPermission(const std::string&, const std::string&) { return true; }

bool IsCreatableName(std::string_view name) { return IsSafeName(name); }

namespace {

// What a shell delete of `path` reaches: every entry its last part names (every match of
// its wildcards), as the folder part of `path` followed by the name. False when it would
// delete nothing at all: a parent, a drive or a stream asked for, a link on the way, a
// folder that cannot be listed.
bool ResolveShellDelete(const std::string& path, std::vector<std::string>& matches) {
  std::string p = path;
  while (p.size() > 1 && EndsWithSeparator(p)) p.pop_back();
  size_t sep = LastSeparator(p);
  std::string folder = sep == std::string::npos ? "" : p.substr(0, sep + 1);
  std::string last = sep == std::string::npos ? p : p.substr(sep + 1);
  // Refuse a parent, a drive ("C:", "C:\\") or a stream: the shell deletes no such thing.
  if (last.empty() || IsDotName(last) || last.find(':') != std::string::npos) return false;
  if (PassesLink(p)) return false;
  if (!HasWildcards(last)) {
    if (!Exists(p)) return false;
    matches.push_back(p);
    return true;
  }
  // The matching is done here rather than by the shell, so that "*.*", case and
  // two-byte characters behave as on POSIX, and 8.3 short names never match (but for
  // a name that code page 936 cannot hold, which is known only by its short name here).
  std::vector<std::string> names;
  if (!ListNames(folder, names)) return false;
  for (const std::string& name : names) {
    if (WildcardMatch(last, name)) matches.push_back(folder + name);
  }
  return true;
}

}  // namespace

std::vector<std::string> ShellDeleteTargets(const std::string& path) {
  std::vector<std::string> matches;
  ResolveShellDelete(path, matches);
  return matches;
}

bool ShellDelete(const std::string& path) {
  std::vector<std::string> matches;
  if (!ResolveShellDelete(path, matches)) return false;
  // A pattern that matches nothing succeeds, as the shell's does.
  return matches.empty() || DeleteEntries(matches);
}

// ---- folder listing ----

struct CFolderFind::Impl {
  FindPtr handle;
};

CFolderFind::CFolderFind() : m_impl(std::make_unique<Impl>()) {}
CFolderFind::~CFolderFind() = default;

namespace {

void FillFindData(const WIN32_FIND_DATAW& found, FindData& out) {
  // A name the code page cannot hold comes with '?', as the ANSI listing gives it, and
  // then fails to open: a caller that stores names must never store another one.
  out.exact = true;
  out.name = Narrow(found.cFileName, &out.exact);
  out.isDir = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  out.sizeLow = found.nFileSizeLow;
}

}  // namespace

bool CFolderFind::First(const std::string& folder, FindData& out) {
  Close();
  WIN32_FIND_DATAW found;
  HANDLE raw = FindFirstFileW(FindPattern(folder).c_str(), &found);
  if (raw == INVALID_HANDLE_VALUE) return false;
  m_impl->handle.reset(raw);
  FillFindData(found, out);
  return true;
}

bool CFolderFind::Next(FindData& out) {
  if (!m_impl->handle) return false;
  WIN32_FIND_DATAW found;
  if (!FindNextFileW(m_impl->handle.get(), &found)) return false;
  FillFindData(found, out);
  return true;
}

void CFolderFind::Close() { m_impl->handle.reset(); }

bool CFolderFind::IsOpen() const { return m_impl->handle != nullptr; }

// ---- text for and from the terminal ----

std::string ToConsoleText(std::string_view cp936) { return std::string(cp936); }

std::string FromSystemText(std::string_view text, bool* exact) {
  const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return Narrow(wide, exact);
}

std::string SystemCharsetName() { return "UTF-16"; }

// ---- processes ----

void AfterForkInChild(void (*)()) {}

// ---- time ----

void SleepMs(uint32_t ms) { Sleep(ms); }

uint32_t TickMs() { return timeGetTime(); }

// ---- profile strings ----

namespace {

// True when the file begins with the byte order mark of UTF-16 or UTF-8.
bool StartsWithByteOrderMark(const std::string& path) {
  FILE* file = _wfopen(Wide(path).c_str(), L"rb");
  if (!file) return false;
  unsigned char head[3] = {};
  const size_t n = fread(head, 1, sizeof head, file);
  fclose(file);
  return (n >= 2 && ((head[0] == 0xFF && head[1] == 0xFE) || (head[0] == 0xFE && head[1] == 0xFF))) ||
         (n == 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF);
}

}  // namespace

int GetProfileString(const std::string& section, const std::string& key, const std::string& def,
                     char* out, int size, const std::string& path) {
  if (!out || size <= 0) return 0;
  // The system's call reads the bytes of a file without a byte order mark in the ANSI
  // code page; on a Windows whose code page is not 936 that would garble a Chinese value,
  // so such a file is read by hand there. A Unicode file is the system's to read.
  if (GetACP() != 936) {
    if (!StartsWithByteOrderMark(path)) return ReadProfileFile(section, key, def, out, size, path);
    std::wstring full = FullPath(path);
    if (full.empty()) full = Wide(path);
    std::vector<wchar_t> buf(kMaxProfileValue);
    DWORD n = GetPrivateProfileStringW(Wide(section).c_str(), Wide(key).c_str(), Wide(def).c_str(), buf.data(),
                                       static_cast<DWORD>(buf.size()), full.c_str());
    return CopyTruncated(Narrow(std::wstring_view(buf.data(), n)), out, size);
  }
  // Windows looks for a relative name in the Windows folder; everywhere else in this
  // program a relative name means the working directory.
  std::string full = NarrowPath(FullPath(path));
  if (full.empty()) full = path;
  // The ANSI call cuts a two-byte character in half when the buffer is short, counting
  // a byte it never wrote (seen under Wine). So the whole value is read into a buffer
  // large enough and cut here on a character boundary.
  std::vector<char> buf(std::max<size_t>(static_cast<size_t>(size) + 2, 256));
  for (;;) {
    DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), def.c_str(), buf.data(),
                                       static_cast<DWORD>(buf.size()), full.c_str());
    if (n + 1 < buf.size()) return CopyTruncated(std::string_view(buf.data(), n), out, size);
    // Cut short even here: its last byte may be the unwritten one.
    if (buf.size() >= kMaxProfileValue) return CopyTruncated(std::string_view(buf.data(), n - 1), out, size);
    buf.resize(buf.size() * 2);
  }
}

// ---- single instance ----

CInstanceMutex::~CInstanceMutex() { Release(); }

bool CInstanceMutex::Acquire(const std::string& name) {
  Release();
  HANDLE handle = CreateMutexW(nullptr, TRUE, Wide(name).c_str());  // owned by the first copy
  DWORD error = GetLastError();
  // No handle at all (access denied when another user's copy made it, or a bad name)
  // counts as held: two copies at once would write the same packages.
  if (!handle) return false;
  if (error == ERROR_ALREADY_EXISTS) {
    CloseHandle(handle);  // keeping it would keep the name alive after the owner quits
    return false;
  }
  m_handle = reinterpret_cast<intptr_t>(handle);
  m_path = name;
  return true;
}

void CInstanceMutex::Release() {
  if (m_handle != -1) {
    ReleaseMutex(reinterpret_cast<HANDLE>(m_handle));
    CloseHandle(reinterpret_cast<HANDLE>(m_handle));
  }
  m_handle = -1;
  m_path.clear();
}

// ---- folder lock ----

CFolderLock::~CFolderLock() { Release(); }

bool CFolderLock::TryAcquire(const std::string& folder) {
  Release();
  // A lock file that nobody else may open while we hold it, gone when we let it go.
  std::string path = folder.empty() ? std::string("pck.lock")
                                    : folder + (EndsWithSeparator(folder) ? "" : "\\") + "pck.lock";
  HANDLE raw = CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (raw == INVALID_HANDLE_VALUE) return FailedWin32(false);
  m_handle = reinterpret_cast<intptr_t>(raw);
  return true;
}

void CFolderLock::Release() {
  if (m_handle != -1) CloseHandle(reinterpret_cast<HANDLE>(m_handle));
  m_handle = -1;
}

// ---- message boxes ----

namespace {

class CWindowsUi : public IMessageUi {
 public:
  int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override {
    // An empty caption asks for the system's own ("Error"), as a null one does.
    const std::wstring wideCaption = Wide(caption);
    HWND owner = (flags & kMbNoOwner) ? nullptr : GetActiveWindow();
    return MessageBoxW(owner, Wide(text).c_str(), caption.empty() ? nullptr : wideCaption.c_str(), flags & ~kMbNoOwner);
  }

  void DrainMessages() override {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        // Swallowing the quit here would leave the main loop running forever.
        PostQuitMessage(static_cast<int>(msg.wParam));
        return;
      }
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
};

}  // namespace

std::unique_ptr<IMessageUi> CreateNativeMessageUi() { return std::make_unique<CWindowsUi>(); }

}  // namespace plat
