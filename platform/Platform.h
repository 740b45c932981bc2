// The platform layer: everything the portable core needs from the operating system.
//
// This header is the whole contract. PlatformWin32.cpp implements it over the wide
// Windows API (narrow text is code page 936, converted at each call), PlatformPosix.cpp
// over POSIX, where a backslash counts as a path separator like "/" (the byte after a
// code page 936 lead byte is never taken for a separator) and every name is converted
// between code page 936 and the locale's character set (UTF-8 in practice) at each call.
// So both sides hand the core the same code page 936 bytes for the same file. Nothing outside platform/,
// ui/ and res/ sees a Windows type; everything here speaks std::string, plain integers
// and FILE.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

// ---- why the last call failed ----

// The operating system's reason for the last failure of a call of this layer on this
// thread (errno or GetLastError), as a number and as a text in the system's words
// ("No space left on device"). Calls that succeed leave it as it was.
// BadName: a name that cannot be converted between code page 936 and the system's
// character set (POSIX), so no call was made. InUse: another program holds the file
// (a sharing or lock violation on Windows, a busy program file on POSIX); the Windows
// side has already waited about two seconds for it to be let go.
enum class OsErrorKind : uint8_t { Other, NotFound, Access, NoSpace, BadName, InUse };
struct OsError {
  int code = 0;
  std::string text;
  OsErrorKind kind = OsErrorKind::Other;  // what the code means, on either platform
};
const OsError& LastError();
// Records errno as the reason, after a C runtime call on a FILE (fwrite, fread) failed.
void NoteCrtError();

// ---- faults, for tests ----

// The file operations that a test can make fail, as a failing disk would.
enum class FileOp : uint8_t { Open, Write, Flush, Close, Rename, Unlink, MakeDir };
// What a failed operation reports: an I/O error or a full disk.
enum class Fault : uint8_t { None, Io, NoSpace };
// Called before every operation of the kinds above, with the path it concerns; what it
// returns other than Fault::None makes the operation fail with that error instead of
// running. (A test that wants the process stopped there ends it inside the hook.)
using FaultHook = std::function<Fault(FileOp op, const std::string& path)>;
void SetFaultHook(FaultHook hook);
// Asks the hook about one operation; true (with LastError set) when it is to fail.
// For the file handle above this layer, which writes, flushes and closes itself.
bool FaultInjected(FileOp op, const std::string& path);

// ---- paths and the process ----

// Full path of the running executable ("" when it cannot be told).
std::string ModuleFileName();
// The working directory; every relative name of the run is taken in it.
std::string GetWorkDir();
bool SetWorkDir(const std::string& path);

// ---- files ----

// fopen with the platform's path rules; returns null on failure.
FILE* OpenFile(const std::string& path, const char* mode);
// Creates a new file for reading and writing, failing when anything (a file, a folder,
// a link) already has the name: O_CREAT|O_EXCL|O_NOFOLLOW / CREATE_NEW, so that a link
// planted at a temporary name can never redirect the write. Null on failure.
FILE* CreateNewFile(const std::string& path);
// fclose, with its result: false when buffered bytes could not be written.
bool CloseFile(FILE* file);
// Cuts an open file to `length` bytes.
bool TruncateFile(FILE* file, int64_t length);

struct FileInfo {
  int64_t size = 0;     // bytes; 0 for a folder
  bool isDir = false;
  int64_t mtime = 0;    // seconds since 1970-01-01 UTC
};
// stat(); false when the path does not exist.
bool StatPath(const std::string& path, FileInfo& info);
// fstat() on an open file: modification time, or 0 when it cannot be read.
int64_t FileHandleMTime(FILE* file);
// 64-bit seek and tell on a C runtime file (fseeko / _fseeki64).
int SeekFile(FILE* file, int64_t offset, int whence);
int64_t TellFile(FILE* file);
// Flushes the C runtime buffer and asks the OS to put the file on the disk.
bool FlushFileToDisk(FILE* file);
// Asks the system to start writing the file's written bytes to the disk without waiting
// for them (the C runtime's buffer must have been flushed), so that a later
// FlushFileToDisk has less left to wait for. Only a hint: nothing where the system has
// no such call.
void StartWriteBack(FILE* file);

bool FileExists(const std::string& path);          // any kind of entry
bool IsWritable(const std::string& path);          // access(path, W_OK)
bool DeleteFile(const std::string& path);          // a file only
// One level; false if it fails or exists. The new entry is synced into its parent
// (POSIX), so a folder that a later rename puts files into survives a power cut.
bool MakeDir(const std::string& path);
bool RemoveDir(const std::string& path);           // an empty folder
bool IsFolder(const std::string& path);            // a folder, not a link to one
// Puts the folder's list of names on the disk (after creating, renaming or deleting in
// it); true where folders cannot be synced at all.
bool SyncFolder(const std::string& folder);
// Renames `from` over `to`, replacing it atomically and durably (MoveFileEx with
// replace-existing and write-through; rename() and a sync of the folder on POSIX).
bool ReplaceFile(const std::string& from, const std::string& to);
// The bytes this user may still write on the volume that holds `path` (statvfs's
// f_bavail × f_frsize / GetDiskFreeSpaceEx); false when it cannot be told. A test can
// make it report less (SetFreeSpaceHook), as a nearly full disk would.
bool FreeSpace(const std::string& path, uint64_t& bytes);
// For tests: when set, FreeSpace answers with the hook's value (the hook gets the path
// and the real answer, and returns what to report).
void SetFreeSpaceHook(std::function<uint64_t(const std::string& path, uint64_t real)> hook);
// Clears read-only and the other attributes (SetFileAttributes NORMAL / chmod u+rw).
bool SetNormalAttributes(const std::string& path);
// Sets the modification (and access) time, seconds since 1970-01-01 UTC.
bool SetFileTime(const std::string& path, int64_t mtime);
// Gives `to` the run permission that `from` has (chmod from its mode bits on POSIX, so
// that a copy of a program stays runnable); true where files carry no such bit.
bool CopyRunPermission(const std::string& from, const std::string& to);
// Whether `name` (from untrusted input) can be created as one entry of a folder on this
// system's disks: never empty, ".", "..", a separator ("/" or "\\" outside a two-byte
// character) or a control byte; on Windows also everything IsSafeName refuses (devices,
// drives, streams, <>"|?*, trailing dots and blanks), names that POSIX disks hold.
bool IsCreatableName(std::string_view name);
// The shell's delete: a file, or a folder with everything below it, without asking.
// The last path component may hold the wildcards * and ?; every match is deleted.
// Symbolic links and junctions are removed themselves, never followed: neither on the
// way to the last component nor below a folder being deleted. Returns true when the
// call succeeded (a pattern that matches nothing succeeds).
// The folder the entries were removed from is synced (POSIX) before it returns.
bool ShellDelete(const std::string& path);
// What ShellDelete(path) would remove, removing nothing: each entry the path names (every
// match of its wildcards), as the folder part of `path` followed by the entry's name.
// Empty when nothing matches, or when ShellDelete would refuse (a parent, a root, a link
// on the way). One matcher for both, so that a plan made from it is what the deletion does.
std::vector<std::string> ShellDeleteTargets(const std::string& path);

// ---- folder listing (FindFirstFile / opendir) ----

struct FindData {
  std::string name;
  bool isDir = false;
  uint32_t sizeLow = 0;  // low 32 bits of the file size
  // False when the name on the disk holds a character that code page 936 lacks (or, on
  // POSIX, bytes that are no text in the locale's character set). `name` then has a
  // stand-in for it ('?' on Windows, 0xFF on POSIX) and must be neither stored nor
  // taken for the file's real name; on POSIX no call of this layer opens it.
  bool exact = true;
};

// Lists one folder. "." and ".." are delivered like any other entry.
class CFolderFind {
 public:
  CFolderFind();
  ~CFolderFind();
  CFolderFind(const CFolderFind&) = delete;
  CFolderFind& operator=(const CFolderFind&) = delete;

  // Starts listing `folder`; false when it cannot be listed.
  bool First(const std::string& folder, FindData& out);
  // The next entry; false at the end.
  bool Next(FindData& out);
  void Close();
  bool IsOpen() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

// ---- text for and from the terminal ----

// Code page 936 text as the terminal shows it: in the locale's character set on POSIX
// (what cannot be converted shows as '?'); unchanged on Windows, where the program's
// own code page is the console's.
std::string ToConsoleText(std::string_view cp936);
// Text in the system's character set (a command-line argument) as code page 936, with
// `exact` set false when it holds a character the code page lacks (see FindData).
std::string FromSystemText(std::string_view text, bool* exact = nullptr);
// The character set names are converted to and from on this system ("UTF-8"; on
// Windows "UTF-16").
std::string SystemCharsetName();

// ---- processes ----

// Calls `callback` in the child process after a fork() (pthread_atfork); nothing on
// Windows, which has no fork.
void AfterForkInChild(void (*callback)());

// ---- time ----

void SleepMs(uint32_t ms);
// Milliseconds since some fixed point; wraps like timeGetTime.
uint32_t TickMs();

// ---- profile strings (GetPrivateProfileString semantics) ----

// Reads `key` of `section` from the INI file `path`: section and key compare without
// case, the value is trimmed of blanks, and at most size-1 bytes are copied into `out`
// (always zero-terminated when size > 0). A missing file, section or key gives `def`.
// Returns the number of bytes copied, without the terminator.
int GetProfileString(const std::string& section, const std::string& key, const std::string& def,
                     char* out, int size, const std::string& path);

// ---- single instance ----

// A named, machine-wide mutex that keeps a second copy of the program from running
// (CreateMutex on Windows, an flock'd lock file in the temporary folder on POSIX).
class CInstanceMutex {
 public:
  CInstanceMutex() = default;
  ~CInstanceMutex();
  CInstanceMutex(const CInstanceMutex&) = delete;
  CInstanceMutex& operator=(const CInstanceMutex&) = delete;
  // True when this process now owns the name; false when another copy holds it.
  bool Acquire(const std::string& name);
  void Release();

 private:
  intptr_t m_handle = -1;
  std::string m_path;
};

// ---- one writer per folder ----

// An exclusive lock on a folder, held by one object of one process at a time and given
// up when the object goes or the process ends (flock on the folder / a lock file opened
// without sharing and deleted on close). Packages and the game folder are changed only
// under it, so two updaters, or an updater and pcktool, never write at once.
class CFolderLock {
 public:
  CFolderLock() = default;
  ~CFolderLock();
  CFolderLock(const CFolderLock&) = delete;
  CFolderLock& operator=(const CFolderLock&) = delete;
  // True when the lock is now held; false at once when another holds it (or the folder
  // cannot be opened: LastError says which).
  bool TryAcquire(const std::string& folder);
  void Release();
  bool Held() const { return m_handle != -1; }

 private:
  intptr_t m_handle = -1;
};

// ---- message boxes and the message drain ----

// The flags and results used with message boxes (the values of the Win32 API).
enum : unsigned {
  kMbOk = 0x0,
  kMbYesNo = 0x4,
  kMbIconQuestion = 0x20,
  kMbIconWarning = 0x30,
  kMbIconInfo = 0x40,
};
enum : int { kIdOk = 1, kIdCancel = 2, kIdYes = 6, kIdNo = 7 };
inline constexpr unsigned kMbTypeMask = 0xF;  // the button set within the flags
// The program's own flag, never passed to the system: the box has no owner window, so
// the window behind it stays usable (the version questions are asked that way).
inline constexpr unsigned kMbNoOwner = 0x80000000u;

// Where the core shows its questions and keeps the window alive during long work.
// The Win32 dialog implements it with MessageBoxW and a PeekMessage loop; the console
// updater with terminal prompts; tests with a recording double.
class IMessageUi {
 public:
  virtual ~IMessageUi() = default;
  // text and caption are code page 936 (an empty caption: the system's default one);
  // returns kIdOk, kIdYes, kIdNo, ...
  virtual int MessageBox(const std::string& text, const std::string& caption, unsigned flags) = 0;
  // Dispatches pending window messages, if any.
  virtual void DrainMessages() = 0;
};

// The native implementation: MessageBoxA and the PeekMessage drain on Windows; on POSIX
// it answers every box with its default (OK, or No for a question) and drains nothing.
std::unique_ptr<IMessageUi> CreateNativeMessageUi();

}  // namespace plat
