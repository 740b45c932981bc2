// The reading file system of the patcher: one name space over the plain files on disk
// and the files inside the game's packages, where "<dir>/<base>/<inner path>" names the
// entry <inner path> of the package <dir>/<base>.idx/.nam/.dat. The mode decides which
// side is asked first; files can be preloaded into memory and are then read from there.
//
// Lifetime: every stream and folder iterator handed out for a package entry refers to
// the package reader inside the source, so it must be destroyed before the source.
// Paths longer than kMaxPath bytes are refused by every operation (they fail as if the
// file did not exist) instead of being cut to another, existing name.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "io/DataStream.h"
#include "io/Limits.h"

class PckReader;

enum SourceMode { PackageFirst = 0, DiskFirst = 1, PackageOnly = 2, DiskOnly = 3 };

// Where a path falls inside a package: the package base and the path inside it.
struct PackagePath {
  std::string base;
  std::string inner;
};

class CFileSource {
 public:
  static constexpr size_t kMaxPath = kMaxPathBytes;
  static constexpr size_t kMaxPassword = kMaxPasswordBytes;

  CFileSource();
  virtual ~CFileSource();
  CFileSource(const CFileSource&) = delete;
  CFileSource& operator=(const CFileSource&) = delete;

  // Any value is kept; one outside SourceMode makes every lookup find nothing.
  virtual void SetMode(int mode);
  virtual int GetMode() const;
  // Keeps the first kMaxPassword bytes; null or "" clears. Applies to the next open.
  virtual void SetPassword(const char* text);
  // Preloads <base>.idx, .dat and .nam; on failure none of them stays loaded. 0 or -1.
  virtual int PreloadPackage(const std::string& base);
  // Unloads all three that are loaded; -1 when one of them was not.
  virtual int UnloadPackage(const std::string& base);
  // Reads a whole file into memory; -1 when it is already loaded, empty, a folder,
  // larger than 2 GiB or cannot be read completely.
  virtual int PreloadFile(const std::string& path);
  // -1 when the path is not loaded. A package reader opened over the loaded copy keeps
  // that copy alive, so unloading never pulls memory from under a reader.
  virtual int UnloadFile(const std::string& path);
  // modeText null or "rb": looked up by the mode. Any other mode text opens the plain
  // file with fopen's modes, whatever the source mode (so "wb" creates or truncates it),
  // and drops a loaded copy of it, which would be stale from now on.
  virtual std::unique_ptr<DataStream> OpenFile(const std::string& path, const char* modeText = nullptr);
  // Destroys the stream and leaves the caller's pointer null; false when it was null.
  virtual bool CloseFile(std::unique_ptr<DataStream>&& stream);
  // Size in bytes, or -1 when missing, a folder, a package root or larger than 2 GiB.
  virtual int32_t FileSize(const std::string& path);
  virtual bool FileExists(const std::string& path);
  // Trailing separators are ignored. Null when the folder is found on no side.
  virtual std::unique_ptr<DirIterator> OpenDir(const std::string& path);

  // The deepest complete package that holds `path` (with "/" appended first when
  // appendSlash is set, so that a package's own root is found; the added slash never
  // ends up in `inner`); none otherwise.
  std::optional<PackagePath> SplitPackagePath(const std::string& path, bool appendSlash) const;

 private:
  using Block = std::vector<uint8_t>;

  bool Exists(const std::string& path) const;  // loaded or on disk
  std::shared_ptr<Block> Cached(const std::string& path) const;
  std::unique_ptr<DataStream> OpenForReading(const std::string& path) const;
  PckReader* GetPackage(const std::string& base);

  std::unique_ptr<DataStream> PackageOpen(const std::string& path);
  int32_t PackageSize(const std::string& path);
  std::unique_ptr<DirIterator> PackageList(const std::string& path);
  std::unique_ptr<DataStream> DiskOpen(const std::string& path) const;
  int32_t DiskSize(const std::string& path) const;
  bool DiskExists(const std::string& path) const;
  std::unique_ptr<DirIterator> DiskList(const std::string& path) const;

  int m_mode = PackageFirst;
  std::string m_password;
  // Keys are folded (ASCII letters without case, "\\" as "/"), as the game's paths are.
  std::unordered_map<std::string, std::unique_ptr<PckReader>> m_packages;
  std::unordered_map<std::string, std::shared_ptr<Block>> m_cache;
};

// The source the whole program reads through; null until one is installed. Not owned.
extern CFileSource* g_fileSource;

// g_fileSource->OpenDir(path), or null when no source is installed.
std::unique_ptr<DirIterator> OpenDirThroughSource(const std::string& path);
