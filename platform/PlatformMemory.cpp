// The platform layer over a file system held in memory, for the fuzzing build only (see
// PlatformMemory.h). It keeps the contract of Platform.h as the POSIX file keeps it:
// the same errno values and OsErrorKind for the same failures, the fault hook asked
// before the same operations, "." and ".." listed first, the shell delete's matching and
// its refusals. What it leaves out costs a fuzzer its speed and proves nothing about the
// parsers: the disk, syncing, character set conversion (names stay code page 936) and
// links (there are none). A FILE* is a real C runtime stream (fopencookie) over a node
// of the tree, so the core reads and writes it with fread, fwrite and fseeko as usual.
#include "platform/PlatformMemory.h"

#include <pthread.h>
#include <time.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <set>
#include <unordered_map>

#include "platform/FaultInternal.h"
#include "platform/PathText.h"
#include "platform/Platform.h"
#include "platform/ProfileText.h"

namespace plat {

namespace detail {
void RaiseFault(Fault fault) {
  errno = fault == Fault::NoSpace ? ENOSPC : EIO;
  SetLastError(errno, std::strerror(errno), ErrnoKind(errno));
}
}  // namespace detail

namespace {

// Every file and folder gets this modification time until one is set.
constexpr int64_t kNow = 1700000000;

struct Node {
  bool dir = false;
  bool writable = true;
  bool runnable = false;
  int64_t mtime = kNow;
  std::string data;                                       // a file's content
  std::map<std::string, std::shared_ptr<Node>> children;  // a folder's entries
};
using NodePtr = std::shared_ptr<Node>;

NodePtr NewNode(bool dir) {
  NodePtr n = std::make_shared<Node>();
  n->dir = dir;
  return n;
}

NodePtr DeepCopy(const Node& n) {
  NodePtr c = std::make_shared<Node>(n);
  for (auto& [name, child] : c->children) child = DeepCopy(*child);
  return c;
}

struct State {
  NodePtr root = NewNode(true);
  std::vector<std::string> cwd;  // the working folder's parts below the root
  uint64_t used = 0;
  std::string module = "/QuorvaneUpdate.exe";
  std::set<std::string> mutexes;
  std::map<intptr_t, std::string> locks;  // lock handle -> the folder's absolute path
  intptr_t nextLock = 1;
  uint64_t changes = 0;  // see memfs::Changes
};


State& S() {
  static State state;
  return state;
}

// Counts one change of the tree (memfs::Changes).
void Changed() { ++S().changes; }

// Records errno `code` as the reason of the failure that just happened; returns `result`.
template <class T>
T Fail(int code, T result) {
  errno = code;
  detail::SetLastError(code, std::strerror(code), detail::ErrnoKind(code));
  return result;
}

uint64_t Subtree(const Node& n) {
  uint64_t bytes = n.data.size();
  for (const auto& [name, child] : n.children) bytes += Subtree(*child);
  return bytes;
}

// The bytes of all files (open files that were deleted are no longer counted).
void Recount() { S().used = Subtree(*S().root); }

// Grows or shrinks a file's content, refusing to pass the capacity as a full disk would.
bool Resize(Node& n, uint64_t size) {
  if (size > n.data.size() && S().used + (size - n.data.size()) > memfs::kCapacity) return Fail(ENOSPC, false);
  S().used = S().used + size - n.data.size();
  n.data.resize(size);
  Changed();
  n.mtime = kNow;
  return true;
}

// A path taken apart: the folder that holds its last part, that part, and the entry
// (null when there is none). The root has no parent and an empty name.
struct Where {
  NodePtr parent;
  std::string name;
  NodePtr node;
  std::vector<std::string> parts;  // the absolute path's parts
};

// Walks the path from the root or the working folder: "." stays, ".." goes up (never
// above the root), empty parts are skipped. Every part before the last must be a folder.
// False with errno (ENOENT, ENOTDIR) when the way there is missing.
// Whether the text is code page 936 as the POSIX side can convert it: a lead byte
// 0x81..0xFE followed by a trail byte 0x40..0xFE other than 0x7F, or a single byte other
// than 0xFF. So a "/" or "\\" after a lead byte, which the program never takes for a
// separator, is refused here as on a real disk instead of being read as one.
bool IsCp936(std::string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == 0xFF) return false;
    if (!IsLeadByte(c)) continue;
    if (i + 1 >= text.size()) return false;
    const unsigned char t = static_cast<unsigned char>(text[++i]);
    if (t < 0x40 || t == 0x7F || t == 0xFF) return false;
  }
  return true;
}

// Records that a name could not be converted, as PlatformPosix.cpp does.
bool NoteBadName() {
  errno = EILSEQ;
  detail::SetLastError(EILSEQ, "the name is not code page 936 text", OsErrorKind::BadName);
  return false;
}

// The parts of the absolute path that `path` names.
std::vector<std::string> Parts(std::string_view path) {
  const std::string slashed = ToSlashes(path);
  std::vector<std::string> parts = !slashed.empty() && slashed[0] == '/' ? std::vector<std::string>() : S().cwd;
  size_t at = 0;
  while (at <= slashed.size()) {
    size_t end = slashed.find('/', at);
    if (end == std::string::npos) end = slashed.size();
    std::string part = slashed.substr(at, end - at);
    at = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(std::move(part));
  }
  return parts;
}

bool Resolve(std::string_view path, Where& w) {
  if (path.empty()) return Fail(ENOENT, false);
  if (!IsCp936(path)) return NoteBadName();
  std::vector<std::string> parts = Parts(path);
  // POSIX checks every folder on the way, so "missing/../a" fails; the walk here checks
  // the folders of the normalised path, which the fuzzed code cannot tell apart.
  NodePtr node = S().root, parent;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (!node->dir) return Fail(ENOTDIR, false);
    auto it = node->children.find(parts[i]);
    parent = node;
    if (it == node->children.end()) {
      if (i + 1 < parts.size()) return Fail(ENOENT, false);
      node = nullptr;
      break;
    }
    node = it->second;
  }
  w.parent = parent;
  w.name = parts.empty() ? std::string() : parts.back();
  w.node = node;
  w.parts = std::move(parts);
  return true;
}

NodePtr Find(std::string_view path) {
  Where w;
  return Resolve(path, w) ? w.node : nullptr;
}

std::string Join(const std::vector<std::string>& parts) {
  std::string out;
  for (const std::string& p : parts) out += "/" + p;
  return out.empty() ? "/" : out;
}

// ---- streams over nodes ----

struct Handle {
  NodePtr node;
  int64_t pos = 0;
  bool read = false, write = false, append = false;
};

std::unordered_map<FILE*, Handle*>& Handles() {
  static std::unordered_map<FILE*, Handle*> handles;
  return handles;
}

ssize_t CookieRead(void* cookie, char* buf, size_t size) {
  Handle& h = *static_cast<Handle*>(cookie);
  if (!h.read) return Fail(EBADF, -1);
  const std::string& data = h.node->data;
  if (h.pos >= int64_t(data.size())) return 0;
  const size_t n = std::min(size, data.size() - size_t(h.pos));
  std::memcpy(buf, data.data() + h.pos, n);
  h.pos += int64_t(n);
  return ssize_t(n);
}

// fopencookie's write returns 0 on an error, never a negative count.
ssize_t CookieWrite(void* cookie, const char* buf, size_t size) {
  Handle& h = *static_cast<Handle*>(cookie);
  if (!h.write) return Fail(EBADF, 0);
  Node& n = *h.node;
  if (h.append) h.pos = int64_t(n.data.size());
  const uint64_t end = uint64_t(h.pos) + size;
  if (end > n.data.size() && !Resize(n, end)) return 0;
  std::memcpy(n.data.data() + h.pos, buf, size);
  n.mtime = kNow;
  Changed();
  h.pos = int64_t(end);
  return ssize_t(size);
}

int CookieSeek(void* cookie, off64_t* offset, int whence) {
  Handle& h = *static_cast<Handle*>(cookie);
  int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? h.pos : int64_t(h.node->data.size());
  if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) return Fail(EINVAL, -1);
  const int64_t target = base + int64_t(*offset);
  if (target < 0) return Fail(EINVAL, -1);
  h.pos = target;
  *offset = target;
  return 0;
}

int CookieClose(void* cookie) {
  Handle* h = static_cast<Handle*>(cookie);
  for (auto it = Handles().begin(); it != Handles().end(); ++it)
    if (it->second == h) {
      Handles().erase(it);
      break;
    }
  delete h;
  return 0;
}

FILE* OpenNode(const NodePtr& node, bool read, bool write, bool append, const char* mode) {
  auto* h = new Handle{node, 0, read, write, append};
  cookie_io_functions_t io{CookieRead, CookieWrite, CookieSeek, CookieClose};
  FILE* f = fopencookie(h, mode, io);
  if (!f) {
    delete h;
    return Fail<FILE*>(ENOMEM, nullptr);
  }
  Handles()[f] = h;
  return f;
}

Handle* HandleOf(FILE* file) {
  auto it = Handles().find(file);
  return it == Handles().end() ? nullptr : it->second;
}

// Removes `name` from `parent` with everything below it, asking the fault hook about
// every entry as the POSIX delete does; a folder whose entries could not all be removed
// stays.
bool RemoveTree(Node& parent, const std::string& name) {
  auto it = parent.children.find(name);
  if (it == parent.children.end()) return Fail(ENOENT, false);
  if (FaultInjected(FileOp::Unlink, name)) return false;
  NodePtr node = it->second;
  bool ok = true;
  if (node->dir) {
    std::vector<std::string> names;
    for (const auto& [child, n] : node->children) names.push_back(child);
    for (const std::string& child : names) ok = RemoveTree(*node, child) && ok;
    if (!node->children.empty()) return false;
  }
  S().used -= node->data.size();
  parent.children.erase(name);
  Changed();
  return ok;
}

}  // namespace

// ---- the harnesses' side ----

namespace memfs {

uint64_t Changes() { return S().changes; }

void Reset() {
  State& s = S();
  s.root = NewNode(true);
  s.cwd.clear();
  s.used = 0;
  s.mutexes.clear();
  s.locks.clear();
}

bool MakeDirs(const std::string& path) {
  NodePtr node = S().root;
  for (const std::string& part : Parts(path)) {
    if (!node->dir) return false;
    NodePtr& child = node->children[part];
    if (!child) {
      child = NewNode(true);
      Changed();
    }
    node = child;
  }
  return node->dir;
}

bool WriteFile(const std::string& path, std::string_view bytes) {
  std::vector<std::string> parts = Parts(path);
  if (parts.empty()) return false;
  parts.pop_back();
  if (!MakeDirs(Join(parts))) return false;
  Where w;
  if (!Resolve(path, w) || !w.parent || (w.node && w.node->dir)) return false;
  if (!w.node) w.node = w.parent->children[w.name] = NewNode(false);
  if (!Resize(*w.node, 0) || !Resize(*w.node, bytes.size())) return false;
  std::memcpy(w.node->data.data(), bytes.data(), bytes.size());
  return true;
}

bool ReadFile(const std::string& path, std::string& out) {
  NodePtr n = Find(path);
  if (!n || n->dir) return false;
  out = n->data;
  return true;
}

void RemoveAll(const std::string& path) {
  Where w;
  if (!Resolve(path, w) || !w.node) return;
  if (!w.parent) {
    Reset();
    return;
  }
  w.parent->children.erase(w.name);
  Recount();
  Changed();
}

namespace {
void SnapshotInto(const Node& n, const std::string& prefix, std::map<std::string, std::string>& out) {
  for (const auto& [name, child] : n.children) {
    const std::string rel = prefix.empty() ? name : prefix + "/" + name;
    if (child->dir) {
      out[rel] = "d";
      SnapshotInto(*child, rel, out);
    } else {
      out[rel] = "f" + child->data;
    }
  }
}
}  // namespace

std::map<std::string, std::string> Snapshot(const std::string& root) {
  std::map<std::string, std::string> out;
  if (NodePtr n = Find(root); n && n->dir) SnapshotInto(*n, "", out);
  return out;
}

struct CImage::Impl {
  NodePtr root;
  uint64_t used = 0;
};
CImage::CImage() : m_impl(std::make_unique<Impl>()) {}
CImage::~CImage() = default;
CImage::CImage(CImage&&) noexcept = default;
CImage& CImage::operator=(CImage&&) noexcept = default;

CImage Save() {
  CImage image;
  image.m_impl->root = DeepCopy(*S().root);
  image.m_impl->used = S().used;
  return image;
}

void Restore(const CImage& image) {
  Reset();
  S().root = DeepCopy(*image.m_impl->root);
  Changed();
  S().used = image.m_impl->used;
}

uint64_t UsedBytes() { return S().used; }

void SetModuleFileName(const std::string& path) { S().module = path; }

}  // namespace memfs

// ---- paths and the process ----

std::string ModuleFileName() { return S().module; }

std::string GetWorkDir() { return Join(S().cwd); }

bool SetWorkDir(const std::string& path) {
  Where w;
  if (!Resolve(path, w)) return Fail(errno, false);
  if (!w.node) return Fail(ENOENT, false);
  if (!w.node->dir) return Fail(ENOTDIR, false);
  S().cwd = w.parts;
  return true;
}

// ---- files ----

FILE* OpenFile(const std::string& path, const char* mode) {
  if (FaultInjected(FileOp::Open, path)) return nullptr;
  if (!mode || !*mode) return Fail<FILE*>(EINVAL, nullptr);
  const char kind = mode[0];
  const bool plus = std::strchr(mode, '+') != nullptr;
  if (kind != 'r' && kind != 'w' && kind != 'a') return Fail<FILE*>(EINVAL, nullptr);
  Where w;
  if (!Resolve(path, w)) return nullptr;
  if (w.node && w.node->dir) return Fail<FILE*>(EISDIR, nullptr);
  if (!w.node) {
    if (kind == 'r') return Fail<FILE*>(ENOENT, nullptr);
    if (!w.parent) return Fail<FILE*>(EISDIR, nullptr);
    w.node = w.parent->children[w.name] = NewNode(false);
    Changed();
  } else if ((kind != 'r' || plus) && !w.node->writable) {
    return Fail<FILE*>(EACCES, nullptr);
  }
  if (kind == 'w' && !Resize(*w.node, 0)) return nullptr;
  return OpenNode(w.node, kind == 'r' || plus, kind != 'r' || plus, kind == 'a', mode);
}

FILE* CreateNewFile(const std::string& path) {
  if (FaultInjected(FileOp::Open, path)) return nullptr;
  Where w;
  if (!Resolve(path, w)) return nullptr;
  if (w.node || !w.parent) return Fail<FILE*>(EEXIST, nullptr);
  w.node = w.parent->children[w.name] = NewNode(false);
  Changed();
  return OpenNode(w.node, true, true, false, "w+b");
}

bool CloseFile(FILE* file) { return !file || fclose(file) == 0 || Fail(errno, false); }

bool TruncateFile(FILE* file, int64_t length) {
  Handle* h = HandleOf(file);
  if (!h || length < 0) return Fail(EINVAL, false);
  if (fflush(file) != 0) return Fail(errno, false);
  if (!h->write) return Fail(EINVAL, false);
  return Resize(*h->node, uint64_t(length));
}

bool StatPath(const std::string& path, FileInfo& info) {
  Where w;
  if (!Resolve(path, w)) return false;
  if (!w.node) return Fail(ENOENT, false);
  info.isDir = w.node->dir;
  info.size = w.node->dir ? 0 : int64_t(w.node->data.size());
  info.mtime = w.node->mtime;
  return true;
}

int64_t FileHandleMTime(FILE* file) {
  Handle* h = HandleOf(file);
  return h ? h->node->mtime : 0;
}

int SeekFile(FILE* file, int64_t offset, int whence) {
  return fseeko(file, off_t(offset), whence) == 0 ? 0 : Fail(errno, -1);
}

int64_t TellFile(FILE* file) { return int64_t(ftello(file)); }

bool FlushFileToDisk(FILE* file) { return file && (fflush(file) == 0 || Fail(errno, false)); }

void StartWriteBack(FILE*) {}

bool FileExists(const std::string& path) { return Find(path) != nullptr; }

bool IsWritable(const std::string& path) {
  NodePtr n = Find(path);
  return n && n->writable;
}

bool DeleteFile(const std::string& path) {
  Where w;
  if (!Resolve(path, w)) return false;
  if (!w.node) return Fail(ENOENT, false);
  if (w.node->dir) return Fail(EISDIR, false);
  if (FaultInjected(FileOp::Unlink, path)) return false;
  S().used -= w.node->data.size();
  w.parent->children.erase(w.name);
  Changed();
  return true;
}

bool MakeDir(const std::string& path) {
  if (FaultInjected(FileOp::MakeDir, path)) return false;
  Where w;
  if (!Resolve(path, w)) return false;
  if (w.node) return Fail(EEXIST, false);
  w.parent->children[w.name] = NewNode(true);
  Changed();
  return true;
}

bool RemoveDir(const std::string& path) {
  if (FaultInjected(FileOp::Unlink, path)) return false;
  Where w;
  if (!Resolve(path, w)) return false;
  if (!w.node) return Fail(ENOENT, false);
  if (!w.node->dir) return Fail(ENOTDIR, false);
  if (!w.parent) return Fail(EBUSY, false);
  if (!w.node->children.empty()) return Fail(ENOTEMPTY, false);
  w.parent->children.erase(w.name);
  Changed();
  return true;
}

bool IsFolder(const std::string& path) {
  NodePtr n = Find(path);
  return n && n->dir;
}

bool SyncFolder(const std::string&) { return true; }

bool ReplaceFile(const std::string& from, const std::string& to) {
  if (FaultInjected(FileOp::Rename, to)) return false;
  Where src, dst;
  if (!Resolve(from, src)) return false;
  if (!src.node) return Fail(ENOENT, false);
  if (!Resolve(to, dst)) return false;
  if (!src.parent || !dst.parent) return Fail(EBUSY, false);
  if (src.node == dst.node) return true;
  if (src.node->dir) {
    // A folder cannot move below itself, nor over a file or a folder with entries.
    if (dst.parts.size() > src.parts.size() &&
        std::equal(src.parts.begin(), src.parts.end(), dst.parts.begin()))
      return Fail(EINVAL, false);
    if (dst.node && !dst.node->dir) return Fail(ENOTDIR, false);
    if (dst.node && !dst.node->children.empty()) return Fail(ENOTEMPTY, false);
  } else if (dst.node && dst.node->dir) {
    return Fail(EISDIR, false);
  }
  NodePtr moving = src.node;
  src.parent->children.erase(src.name);
  if (dst.node) S().used -= dst.node->data.size();
  dst.parent->children[dst.name] = moving;
  Changed();
  return true;
}

bool FreeSpace(const std::string& path, uint64_t& bytes) {
  bytes = detail::AdjustFreeSpace(path, memfs::kCapacity - std::min(S().used, memfs::kCapacity));
  return true;
}

bool SetNormalAttributes(const std::string& path) {
  NodePtr n = Find(path);
  if (!n) return false;
  if (!n->writable) Changed();
  n->writable = true;
  return true;
}

bool SetFileTime(const std::string& path, int64_t mtime) {
  NodePtr n = Find(path);
  if (!n) return false;
  if (n->mtime != mtime) Changed();
  n->mtime = mtime;
  return true;
}

bool CopyRunPermission(const std::string& from, const std::string& to) {
  NodePtr src = Find(from), dst = Find(to);
  if (!src || !dst) return Fail(ENOENT, false);
  if (!dst->runnable && src->runnable) Changed();
  dst->runnable = dst->runnable || src->runnable;
  return true;
}

bool IsCreatableName(std::string_view name) { return IsPosixCreatableName(name); }

namespace {

// What a shell delete of `path` reaches, as on POSIX: the folder it names, and the
// names in it that the last part names (every match of its wildcards). False when it
// would delete nothing at all (a parent or the root asked for, the folder missing).
bool ResolveShellDelete(const std::string& path, NodePtr& dir, std::string& folder, std::vector<std::string>& names,
                        bool& pattern) {
  ShellDeleteParts parts;
  if (!SplitShellDeletePath(path, parts)) return false;
  if (!IsCp936(parts.slashed)) return NoteBadName();
  folder = parts.folder;
  pattern = parts.pattern;
  const std::string& last = parts.last;
  Where w;
  if (!Resolve(parts.open, w)) return false;
  if (!w.node) return Fail(ENOENT, false);
  if (!w.node->dir) return Fail(ENOTDIR, false);
  for (const auto& [name, child] : w.node->children)
    if (pattern ? WildcardMatch(last, name) : name == last) names.push_back(name);
  dir = w.node;
  return true;
}

}  // namespace

bool ShellDelete(const std::string& path) {
  NodePtr dir;
  std::string folder;
  std::vector<std::string> names;
  bool pattern = false;
  if (!ResolveShellDelete(path, dir, folder, names, pattern)) return false;
  if (!pattern && names.empty()) return Fail(ENOENT, false);
  bool ok = true;
  for (const std::string& name : names) ok = RemoveTree(*dir, name) && ok;
  return ok;
}

std::vector<std::string> ShellDeleteTargets(const std::string& path) {
  NodePtr dir;
  std::string folder;
  std::vector<std::string> names, targets;
  bool pattern = false;
  if (!ResolveShellDelete(path, dir, folder, names, pattern)) return targets;
  for (const std::string& name : names) targets.push_back(folder + name);
  return targets;
}

// ---- folder listing ----

struct CFolderFind::Impl {
  std::vector<FindData> entries;  // taken when the listing starts
  size_t next = 0;
  bool open = false;
};

CFolderFind::CFolderFind() : m_impl(std::make_unique<Impl>()) {}
CFolderFind::~CFolderFind() = default;

bool CFolderFind::First(const std::string& folder, FindData& out) {
  Close();
  Where w;
  if (!Resolve(folder.empty() ? "." : folder, w)) return false;
  if (!w.node) return Fail(ENOENT, false);
  if (!w.node->dir) return Fail(ENOTDIR, false);
  FindData dot;
  dot.isDir = true;
  dot.name = ".";
  m_impl->entries.push_back(dot);
  dot.name = "..";
  m_impl->entries.push_back(dot);
  for (const auto& [name, child] : w.node->children) {
    FindData e;
    e.name = name;
    e.isDir = child->dir;
    e.sizeLow = child->dir ? 0 : uint32_t(child->data.size() & 0xFFFFFFFFu);
    m_impl->entries.push_back(std::move(e));
  }
  m_impl->open = true;
  return Next(out);
}

bool CFolderFind::Next(FindData& out) {
  if (!m_impl->open || m_impl->next >= m_impl->entries.size()) return false;
  out = m_impl->entries[m_impl->next++];
  return true;
}

void CFolderFind::Close() {
  m_impl->entries.clear();
  m_impl->next = 0;
  m_impl->open = false;
}

bool CFolderFind::IsOpen() const { return m_impl->open; }

// ---- text: names are code page 936 bytes here, as the program holds them ----

std::string ToConsoleText(std::string_view cp936) { return std::string(cp936); }

std::string FromSystemText(std::string_view text, bool*) { return std::string(text); }

std::string SystemCharsetName() { return "CP936"; }

// ---- processes and time ----

void AfterForkInChild(void (*callback)()) { pthread_atfork(nullptr, nullptr, callback); }

// Waiting lets nothing else change a file system that only this process sees.
void SleepMs(uint32_t) {}

uint32_t TickMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return uint32_t(uint64_t(now.tv_sec) * 1000u + uint64_t(now.tv_nsec) / 1000000u);
}

// ---- profile strings ----

int GetProfileString(const std::string& section, const std::string& key, const std::string& def, char* out, int size,
                     const std::string& path) {
  return ReadProfileFile(section, key, def, out, size, path);
}

// ---- single instance and folder locks, held in the process ----

CInstanceMutex::~CInstanceMutex() { Release(); }

bool CInstanceMutex::Acquire(const std::string& name) {
  Release();
  if (!S().mutexes.insert(name).second) return false;
  m_handle = 1;
  m_path = name;
  return true;
}

void CInstanceMutex::Release() {
  if (m_handle >= 0) S().mutexes.erase(m_path);
  m_handle = -1;
  m_path.clear();
}

CFolderLock::~CFolderLock() { Release(); }

bool CFolderLock::TryAcquire(const std::string& folder) {
  Release();
  Where w;
  if (!Resolve(folder.empty() ? "." : folder, w)) return false;
  if (!w.node) return Fail(ENOENT, false);
  if (!w.node->dir) return Fail(ENOTDIR, false);
  const std::string key = Join(w.parts);
  for (const auto& [handle, held] : S().locks)
    if (held == key) return Fail(EWOULDBLOCK, false);
  m_handle = S().nextLock++;
  S().locks[m_handle] = key;
  return true;
}

void CFolderLock::Release() {
  if (m_handle != -1) S().locks.erase(m_handle);
  m_handle = -1;
}

}  // namespace plat
