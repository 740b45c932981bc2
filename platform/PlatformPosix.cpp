// The platform layer over POSIX. Paths arrive in the Windows style of the rest of the
// program: code page 936 bytes, "\\" a separator too. Every path goes through CSysPath
// before it reaches the OS: separators become "/" (the trail byte of a code page 936
// character is left alone) and the text is converted to the locale's character set, so
// that a name lands on the disk as the system and its other programs see it. Names that
// come back (listings, the working folder) are converted the other way.
#include <dirent.h>
#include <pthread.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>
#include <utime.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/Charset.h"
#include "platform/FaultInternal.h"
#include "platform/PathText.h"
#include "platform/ProfileText.h"
#include "platform/Platform.h"

static_assert(sizeof(off_t) == 8, "large files need a 64-bit off_t");

namespace plat {

namespace detail {
void RaiseFault(Fault fault) {
  errno = fault == Fault::NoSpace ? ENOSPC : EIO;
  SetLastError(errno, std::strerror(errno), ErrnoKind(errno));
}
}  // namespace detail

namespace {

// Records errno as the reason of the failure that just happened; returns `result`.
template <class T>
T Failed(T result) {
  const int code = errno;
  detail::SetLastError(code, std::strerror(code), detail::ErrnoKind(code));
  return result;
}

// Records that a name could not be converted, as the failure of the call it was for.
void NoteBadName() {
  errno = EILSEQ;
  detail::SetLastError(EILSEQ, "the name cannot be converted between code page 936 and " + charset::SystemCharset(),
                       OsErrorKind::BadName);
}

// A path of the program as the system takes it: "/" separators, the locale's character
// set. A path that cannot be converted records a BadName failure, and the call that
// wanted it fails without reaching the system.
class CSysPath {
 public:
  explicit CSysPath(std::string_view path, const char* empty = nullptr) {
    if (path.empty() && empty) {
      m_text = empty;
      m_ok = true;
      return;
    }
    m_ok = charset::ToSystem(ToSlashes(path), m_text);
    if (!m_ok) NoteBadName();
  }
  explicit operator bool() const { return m_ok; }
  const char* c_str() const { return m_text.c_str(); }
  const std::string& str() const { return m_text; }

 private:
  std::string m_text;
  bool m_ok = false;
};

// Closes its descriptor on every way out of a function.
class CFd {
 public:
  explicit CFd(int fd = -1) : m_fd(fd) {}
  ~CFd() { Reset(); }
  CFd(const CFd&) = delete;
  CFd& operator=(const CFd&) = delete;
  CFd& operator=(CFd&& other) noexcept {
    if (this != &other) {
      Reset();
      m_fd = other.m_fd;
      other.m_fd = -1;
    }
    return *this;
  }
  int Get() const { return m_fd; }
  bool Valid() const { return m_fd >= 0; }
  void Reset() {
    if (m_fd >= 0) close(m_fd);
    m_fd = -1;
  }

 private:
  int m_fd;
};

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

bool IsDotName(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// The names in an open folder, "." and ".." left out. Collected before anything is
// deleted, since removing entries while readdir runs may skip or repeat some.
bool ListNames(int dirFd, std::vector<std::string>& names) {
  int copy = dup(dirFd);
  if (copy < 0) return false;
  DirPtr dir(fdopendir(copy));
  if (!dir) {
    close(copy);
    return false;
  }
  while (dirent* entry = readdir(dir.get())) {
    if (!IsDotName(entry->d_name)) names.emplace_back(entry->d_name);
  }
  return true;
}

// Deletes `name` inside the folder `parentFd` with everything below it. Works on
// descriptors and raw entry names: a name read from the disk may itself hold a "\\"
// (legal on POSIX), which must never be re-read as a separator leading elsewhere.
// Symbolic links are removed, never followed.
bool RemoveTreeAt(int parentFd, const std::string& name) {
  struct stat st;
  if (fstatat(parentFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return Failed(false);
  if (FaultInjected(FileOp::Unlink, name)) return false;
  if (!S_ISDIR(st.st_mode)) return unlinkat(parentFd, name.c_str(), 0) == 0 || Failed(false);

  // The shell deletes read-only folders without asking; without write and search
  // permission their entries could not be removed.
  if ((st.st_mode & S_IRWXU) != S_IRWXU)
    fchmodat(parentFd, name.c_str(), (st.st_mode & 07777) | S_IRWXU, 0);
  bool ok = true;
  {
    CFd dir(openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    std::vector<std::string> names;
    if (!dir.Valid() || !ListNames(dir.Get(), names)) return Failed(false);
    for (const std::string& child : names) ok = RemoveTreeAt(dir.Get(), child) && ok;
  }
  return (unlinkat(parentFd, name.c_str(), AT_REMOVEDIR) == 0 || Failed(false)) && ok;
}

// Opens a folder for the shell delete without following a symbolic link anywhere on
// the way: a planted link must not lead a delete out of the folder it was meant for.
int OpenFolderNoFollow(const std::string& folder) {
  int fd = open(folder.size() && folder[0] == '/' ? "/" : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  size_t at = 0;
  while (fd >= 0 && at <= folder.size()) {
    size_t end = folder.find('/', at);
    if (end == std::string::npos) end = folder.size();
    const std::string part = folder.substr(at, end - at);
    at = end + 1;
    if (part.empty() || part == ".") continue;
    int next = openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0) Failed(0);
    close(fd);
    fd = next;
  }
  return fd;
}

// Syncs a folder given as the system names it.
bool SyncSysFolder(const std::string& folder) {
  CFd fd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.Valid()) return true;
  return fsync(fd.Get()) == 0 || errno != EIO || Failed(false);
}

// The folder of a path already in "/" form ("/" is never a trail byte, so rfind is safe).
std::string FolderOf(const std::string& slashed) {
  size_t sep = slashed.rfind('/');
  return sep == std::string::npos ? "." : (sep == 0 ? "/" : slashed.substr(0, sep));
}

// A lock file name from a mutex name: separators (as in "Global\\Name") become "_"
// so that the name can never point outside the temporary folder.
std::string LockFileName(const std::string& name) {
  std::string safe = ToSlashes(name);
  for (char& c : safe)
    if (c == '/') c = '_';
  return safe.empty() ? std::string("_") : safe;
}

}  // namespace

// ---- paths and the process ----

std::string ModuleFileName() {
  std::string buf(256, '\0');
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return {};
    if (static_cast<size_t>(n) < buf.size()) return charset::FromSystem(buf.substr(0, n));
    if (buf.size() >= 65536) return {};
    buf.resize(buf.size() * 2);
  }
}

std::string GetWorkDir() {
  std::string buf(256, '\0');
  for (;;) {
    if (getcwd(buf.data(), buf.size())) return charset::FromSystem(buf.c_str());
    if (errno != ERANGE || buf.size() >= 65536) return {};
    buf.resize(buf.size() * 2);
  }
}

bool SetWorkDir(const std::string& path) {
  CSysPath p(path);
  return p && (chdir(p.c_str()) == 0 || Failed(false));
}

// ---- files ----

FILE* OpenFile(const std::string& path, const char* mode) {
  if (FaultInjected(FileOp::Open, path)) return nullptr;
  CSysPath p(path);
  if (!p) return nullptr;
  FILE* file = fopen(p.c_str(), mode);
  if (!file) return Failed<FILE*>(nullptr);
  // A folder opens for reading on POSIX, and reads back as nonsense (its "length" runs
  // to the end of the 64-bit range); Windows refuses it, and so does this.
  struct stat st;
  if (fstat(fileno(file), &st) == 0 && S_ISDIR(st.st_mode)) {
    fclose(file);
    errno = EISDIR;
    return Failed<FILE*>(nullptr);
  }
  return file;
}

FILE* CreateNewFile(const std::string& path) {
  if (FaultInjected(FileOp::Open, path)) return nullptr;
  CSysPath p(path);
  if (!p) return nullptr;
  int fd = open(p.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return Failed<FILE*>(nullptr);
  FILE* file = fdopen(fd, "w+b");
  if (!file) {
    Failed(0);
    close(fd);
  }
  return file;
}

bool CloseFile(FILE* file) { return !file || fclose(file) == 0 || Failed(false); }

bool TruncateFile(FILE* file, int64_t length) {
  return (fflush(file) == 0 && ftruncate(fileno(file), static_cast<off_t>(length)) == 0) || Failed(false);
}

bool StatPath(const std::string& path, FileInfo& info) {
  struct stat st;
  CSysPath p(path);
  if (!p) return false;
  if (stat(p.c_str(), &st) != 0) return Failed(false);
  info.isDir = S_ISDIR(st.st_mode);
  info.size = info.isDir ? 0 : static_cast<int64_t>(st.st_size);
  info.mtime = static_cast<int64_t>(st.st_mtime);
  return true;
}

int64_t FileHandleMTime(FILE* file) {
  struct stat st;
  if (!file || fstat(fileno(file), &st) != 0) return 0;
  return static_cast<int64_t>(st.st_mtime);
}

int SeekFile(FILE* file, int64_t offset, int whence) {
  // A seek writes out what is buffered, so this is where a failed write often shows.
  return fseeko(file, static_cast<off_t>(offset), whence) == 0 ? 0 : Failed(-1);
}

int64_t TellFile(FILE* file) { return static_cast<int64_t>(ftello(file)); }

bool FlushFileToDisk(FILE* file) {
  return file && ((fflush(file) == 0 && fsync(fileno(file)) == 0) || Failed(false));
}

#if defined(__linux__)
void StartWriteBack(FILE* file) {
  if (file) sync_file_range(fileno(file), 0, 0, SYNC_FILE_RANGE_WRITE);
}
#else
void StartWriteBack(FILE*) {}
#endif

bool FileExists(const std::string& path) {
  struct stat st;
  CSysPath p(path);
  return p && lstat(p.c_str(), &st) == 0;
}

// A file without any write bit is read-only even for root, whom access() lets write
// anything: that is what the read-only attribute means on Windows.
bool IsWritable(const std::string& path) {
  CSysPath p(path);
  struct stat st;
  if (!p || stat(p.c_str(), &st) != 0 || (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return false;
  return access(p.c_str(), W_OK) == 0;
}

bool DeleteFile(const std::string& path) {
  CSysPath p(path);
  struct stat st;
  if (!p) return false;
  if (lstat(p.c_str(), &st) != 0) return Failed(false);
  if (S_ISDIR(st.st_mode)) {
    errno = EISDIR;
    return Failed(false);
  }
  if (FaultInjected(FileOp::Unlink, path)) return false;
  return unlink(p.c_str()) == 0 || Failed(false);
}

bool MakeDir(const std::string& path) {
  if (FaultInjected(FileOp::MakeDir, path)) return false;
  CSysPath p(path);
  if (!p || mkdir(p.c_str(), 0777) != 0) return p && Failed(false);
  std::string sys = p.str();
  while (sys.size() > 1 && sys.back() == '/') sys.pop_back();
  return SyncSysFolder(FolderOf(sys));
}

bool RemoveDir(const std::string& path) {
  if (FaultInjected(FileOp::Unlink, path)) return false;
  CSysPath p(path);
  return p && (rmdir(p.c_str()) == 0 || Failed(false));
}

bool IsFolder(const std::string& path) {
  struct stat st;
  CSysPath p(path);
  return p && lstat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Makes a rename durable: the new folder entry is only on the disk once the folder is.
// Folders that cannot be opened or synced (some file systems refuse) are left as they
// are; only a real write error counts as a failure.
bool SyncFolder(const std::string& folder) {
  CSysPath p(folder, ".");
  return !p || SyncSysFolder(p.str());
}

bool ReplaceFile(const std::string& from, const std::string& to) {
  CSysPath src(from), dst(to);
  if (FaultInjected(FileOp::Rename, to)) return false;
  if (!src || !dst) return false;
  if (rename(src.c_str(), dst.c_str()) != 0) return Failed(false);
  std::string srcFolder = FolderOf(src.str()), dstFolder = FolderOf(dst.str());
  bool ok = SyncSysFolder(dstFolder);
  // A move between folders also changed the one the file left.
  if (srcFolder != dstFolder) ok = SyncSysFolder(srcFolder) && ok;
  return ok;
}

bool FreeSpace(const std::string& path, uint64_t& bytes) {
  CSysPath p(path, ".");
  struct statvfs vfs;
  if (!p || statvfs(p.c_str(), &vfs) != 0) return p && Failed(false);
  bytes = detail::AdjustFreeSpace(path, uint64_t(vfs.f_bavail) * uint64_t(vfs.f_frsize));
  return true;
}

bool SetNormalAttributes(const std::string& path) {
  CSysPath p(path);
  struct stat st;
  if (!p || stat(p.c_str(), &st) != 0) return false;
  return chmod(p.c_str(), (st.st_mode & 07777) | S_IRUSR | S_IWUSR) == 0;
}

bool SetFileTime(const std::string& path, int64_t mtime) {
  utimbuf times;
  times.actime = static_cast<time_t>(mtime);
  times.modtime = static_cast<time_t>(mtime);
  CSysPath p(path);
  return p && utime(p.c_str(), &times) == 0;
}

bool CopyRunPermission(const std::string& from, const std::string& to) {
  struct stat src, dst;
  CSysPath fromPath(from), toPath(to);
  if (!fromPath || !toPath) return false;
  if (stat(fromPath.c_str(), &src) != 0 || stat(toPath.c_str(), &dst) != 0) return Failed(false);
  const mode_t run = src.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH);
  if ((dst.st_mode & run) == run) return true;
  return chmod(toPath.c_str(), (dst.st_mode & 07777) | run) == 0 || Failed(false);
}

bool IsCreatableName(std::string_view name) { return IsPosixCreatableName(name); }

namespace {

// What a shell delete of `path` reaches: the folder it names, opened without following a
// link anywhere on the way, and the raw names in it that the last part names (every
// match of its wildcards). `folder` gets the folder part as the caller wrote it, and
// `pattern` whether the last part has wildcards. False
// when it would delete nothing at all (a parent or the root asked for, a link on the
// way, a name that does not convert).
bool ResolveShellDelete(const std::string& path, CFd& dir, std::string& folder, std::vector<std::string>& names,
                        bool& pattern) {
  ShellDeleteParts parts;
  // Refuse what would take a parent or the root along: the shell deletes no such thing.
  if (!SplitShellDeletePath(path, parts)) return false;
  folder = parts.folder;
  pattern = parts.pattern;
  const std::string& last = parts.last;

  CSysPath sysFolder(parts.open);
  if (!sysFolder) return false;
  CFd opened(OpenFolderNoFollow(sysFolder.str()));
  if (!opened.Valid()) return false;
  if (!pattern) {
    CSysPath sysLast(last);
    struct stat st;
    if (!sysLast) return false;
    if (fstatat(opened.Get(), sysLast.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) names.push_back(sysLast.str());
  } else {
    std::vector<std::string> all;
    if (!ListNames(opened.Get(), all)) return false;
    // The pattern is code page 936, the names are the disk's: each is matched as the
    // program would list it, and removed under its own bytes.
    for (const std::string& name : all)
      if (WildcardMatch(last, charset::FromSystem(name))) names.push_back(name);
  }
  dir.Reset();
  dir = std::move(opened);
  return true;
}

}  // namespace

bool ShellDelete(const std::string& path) {
  CFd dir;
  std::string folder;
  std::vector<std::string> names;
  bool pattern = false;
  if (!ResolveShellDelete(path, dir, folder, names, pattern)) return false;
  if (!pattern && names.empty()) {
    errno = ENOENT;
    return Failed(false);
  }
  bool ok = true;
  for (const std::string& name : names) ok = RemoveTreeAt(dir.Get(), name) && ok;
  // The removals are durable once the folder that held the entries is.
  if (!names.empty() && fsync(dir.Get()) != 0 && errno == EIO) ok = Failed(false);
  return ok;
}

std::vector<std::string> ShellDeleteTargets(const std::string& path) {
  CFd dir;
  std::string folder;
  std::vector<std::string> names, targets;
  bool pattern = false;
  if (!ResolveShellDelete(path, dir, folder, names, pattern)) return targets;
  for (const std::string& name : names) targets.push_back(folder + charset::FromSystem(name));
  return targets;
}

// ---- folder listing ----

struct CFolderFind::Impl {
  DirPtr dir;
  // Not every file system lists "." and ".." first, or at all; they are handed out
  // first by hand, as Windows does, and skipped when readdir brings them.
  int dotsGiven = 0;
};

CFolderFind::CFolderFind() : m_impl(std::make_unique<Impl>()) {}
CFolderFind::~CFolderFind() = default;

bool CFolderFind::First(const std::string& folder, FindData& out) {
  Close();
  CSysPath p(folder, ".");
  if (!p) return false;
  m_impl->dir.reset(opendir(p.c_str()));
  if (!m_impl->dir) return false;
  return Next(out);
}

bool CFolderFind::Next(FindData& out) {
  if (!m_impl->dir) return false;
  if (m_impl->dotsGiven < 2) {
    out.name = m_impl->dotsGiven++ == 0 ? "." : "..";
    out.isDir = true;
    out.sizeLow = 0;
    out.exact = true;
    return true;
  }
  while (dirent* entry = readdir(m_impl->dir.get())) {
    if (IsDotName(entry->d_name)) continue;
    struct stat st;
    int fd = dirfd(m_impl->dir.get());
    // A link is listed as what it points to; a broken one as itself.
    bool known = fstatat(fd, entry->d_name, &st, 0) == 0 ||
                 fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0;
    out.exact = true;
    out.name = charset::FromSystem(entry->d_name, &out.exact);
    out.isDir = known ? S_ISDIR(st.st_mode) : entry->d_type == DT_DIR;
    out.sizeLow = known && !out.isDir ? static_cast<uint32_t>(st.st_size & 0xFFFFFFFFu) : 0;
    return true;
  }
  return false;
}

void CFolderFind::Close() {
  m_impl->dir.reset();
  m_impl->dotsGiven = 0;
}

bool CFolderFind::IsOpen() const { return m_impl->dir != nullptr; }

// ---- text for and from the terminal ----

std::string ToConsoleText(std::string_view cp936) { return charset::ForDisplay(cp936); }

std::string FromSystemText(std::string_view text, bool* exact) { return charset::FromSystem(text, exact); }

std::string SystemCharsetName() { return charset::SystemCharset(); }

// ---- processes ----

void AfterForkInChild(void (*callback)()) { pthread_atfork(nullptr, nullptr, callback); }

// ---- time ----

void SleepMs(uint32_t ms) {
  timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

uint32_t TickMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

// ---- profile strings ----

int GetProfileString(const std::string& section, const std::string& key, const std::string& def,
                     char* out, int size, const std::string& path) {
  return ReadProfileFile(section, key, def, out, size, path);
}

// ---- single instance ----

CInstanceMutex::~CInstanceMutex() { Release(); }

bool CInstanceMutex::Acquire(const std::string& name) {
  Release();
  const char* tmp = getenv("TMPDIR");
  std::string folder = tmp && *tmp ? tmp : "/tmp";
  // The name is the program's, in code page 936; one the system cannot take keeps a
  // '?' where it cannot, which is still one fixed name for every copy.
  std::string path = folder + "/" + charset::ForDisplay(LockFileName(name)) + ".lock";
  // Close-on-exec: a game started by this process must not inherit and keep the lock.
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  // A name that cannot be taken counts as held: two copies at once would write the same
  // packages, so failing closed is the safe side.
  if (fd < 0) return false;
  // Another user's copy must be able to open the same file despite our umask.
  fchmod(fd, 0666);
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return false;
  }
  // The file is never unlinked: a copy that opened it just before would lock a dead inode.
  m_handle = fd;
  m_path = path;
  return true;
}

void CInstanceMutex::Release() {
  if (m_handle >= 0) close(static_cast<int>(m_handle));
  m_handle = -1;
  m_path.clear();
}

// ---- folder lock ----

CFolderLock::~CFolderLock() { Release(); }

bool CFolderLock::TryAcquire(const std::string& folder) {
  Release();
  // The folder itself carries the lock, so no lock file is ever left behind. Close-on-
  // exec: a game started from here must not inherit and keep it.
  CSysPath p(folder, ".");
  if (!p) return false;
  int fd = open(p.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Failed(false);
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    Failed(0);
    close(fd);
    return false;
  }
  m_handle = fd;
  return true;
}

void CFolderLock::Release() {
  if (m_handle >= 0) close(static_cast<int>(m_handle));
  m_handle = -1;
}

}  // namespace plat
