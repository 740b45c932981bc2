// The writing file system of the patcher, the counterpart of CFileSource: a path below
// the game folder lands inside an existing package, inside a package made for it, or in
// a plain folder. Packages opened for writing are kept until the target is destroyed,
// so each one is opened once and its index committed once, at destruction.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include "fs/DataStream.h"
#include "fs/FileSource.h"

class PckWriter;

class CFileTarget {
 public:
  static constexpr size_t kMaxPassword = 127;
  static constexpr uint32_t kNewPackageBlockSize = 65536;
  // A package that does not exist yet may be created for a file meant for one.
  static constexpr uint32_t kFlagCreatePackages = 1;

  CFileTarget();
  // Destroys every writer, which commits its package.
  virtual ~CFileTarget();
  CFileTarget(const CFileTarget&) = delete;
  CFileTarget& operator=(const CFileTarget&) = delete;

  // The order of the virtual operations is part of the interface.

  // Keeps the first kMaxPassword bytes; null or "" clears.
  virtual void SetPassword(const char* text);
  // 0 or -1. A zero-length stream into a package removes the entry there.
  virtual int PutFile(const std::string& path, DataStream& stream, bool intoPackage, int codec);
  // 0; -1 when a plain file cannot be deleted; -2 when its package does not open; -3
  // when the package has no such entry.
  virtual int RemoveFile(const std::string& path);
  virtual int Reserved(int) { return 0; }
  // Gives every open package its hook; 0.
  virtual int FlushAll();

  // Commits and closes every package opened so far (what destruction does), and says
  // whether all of them were written: 0, or -1 when any index could not be committed.
  int CloseAll();

  void SetFlags(uint32_t flags) { m_nFlags = flags; }

  // The package that a file at `path` should go into when none holds it yet: the child,
  // on the way to the file, of the deepest existing folder that is not the file's own.
  static std::optional<PackagePath> SplitNewPackagePath(const std::string& path);
  // The deepest complete package on disk that holds `path`.
  static std::optional<PackagePath> FindPackage(const std::string& path);

  uint32_t m_nFlags = 0;

 protected:
  // The writer of the package at `base`, opened for editing (made first when `create`
  // is set and no part of it exists); null when it cannot be had.
  PckWriter* OpenPackage(const std::string& base, bool create);
  static int WritePlainFile(const std::string& path, DataStream& stream);

 private:
  std::string m_password;
  // Keys are folded (ASCII letters without case, "\\" as "/").
  std::unordered_map<std::string, std::unique_ptr<PckWriter>> m_writers;
};
