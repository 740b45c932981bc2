// CFileSource: resolves paths to package entries or plain files, by the source's mode,
// and keeps preloaded files and opened package readers for its whole life.
#include "fs/FileSource.h"

#include <climits>
#include <cstring>
#include <new>
#include <string_view>

#include "io/FileStream.h"
#include "fs/FoldingDirIterator.h"
#include "pck/PckFormat.h"
#include "pck/PckReader.h"
#include "platform/PathText.h"
#include "platform/Platform.h"

CFileSource* g_fileSource = nullptr;

std::unique_ptr<DirIterator> OpenDirThroughSource(const std::string& path) {
  return g_fileSource ? g_fileSource->OpenDir(path) : nullptr;
}

namespace {

std::string Key(const std::string& path) { return PckFoldName(plat::ToSlashes(path)); }

// A read-only stream over a preloaded file that shares the block with the cache, so
// the block lives as long as the longest of them.
class CachedFileStream : public MemoryStream {
 public:
  explicit CachedFileStream(std::shared_ptr<std::vector<uint8_t>> block)
      : MemoryStream(block->data(), static_cast<int32_t>(block->size())), m_block(std::move(block)) {}
  // The block is every later reader's copy of the file; it must not change.
  int32_t Write(const void*, int32_t) override { return -1; }

 private:
  std::shared_ptr<std::vector<uint8_t>> m_block;
};

// Asks the two sides in the order the mode gives; `none` for a mode outside SourceMode.
template <typename R, typename PackageSide, typename DiskSide, typename Found>
R ByMode(int mode, PackageSide package, DiskSide disk, Found found, R none) {
  switch (mode) {
    case PackageFirst: {
      R r = package();
      if (found(r)) return r;
      return disk();
    }
    case DiskFirst: {
      R r = disk();
      if (found(r)) return r;
      return package();
    }
    case PackageOnly:
      return package();
    case DiskOnly:
      return disk();
    default:
      return none;
  }
}

bool OpensForWriting(const char* mode) { return std::strpbrk(mode, "wa+") != nullptr; }

}  // namespace

CFileSource::CFileSource() = default;
CFileSource::~CFileSource() = default;

void CFileSource::SetMode(int mode) { m_mode = mode; }
int CFileSource::GetMode() const { return m_mode; }

void CFileSource::SetPassword(const char* text) {
  m_password = text ? std::string(std::string_view(text).substr(0, kMaxPassword)) : std::string();
}

int CFileSource::PreloadPackage(const std::string& base) {
  const std::string names[] = {PckIndexName(base), PckDataName(base), PckNameTableName(base)};
  for (size_t i = 0; i < 3; ++i) {
    if (PreloadFile(names[i]) != 0) {
      // A half-loaded package would make every retry fail on the part already loaded.
      for (size_t j = 0; j < i; ++j) UnloadFile(names[j]);
      return -1;
    }
  }
  return 0;
}

int CFileSource::UnloadPackage(const std::string& base) {
  int result = 0;
  for (const std::string& name : {PckIndexName(base), PckDataName(base), PckNameTableName(base)}) {
    if (UnloadFile(name) != 0) result = -1;
  }
  return result;
}

int CFileSource::PreloadFile(const std::string& path) {
  if (path.size() > kMaxPath) return -1;
  std::string key = Key(path);
  if (m_cache.count(key)) return -1;
  plat::FileInfo info;
  if (!plat::StatPath(path, info) || info.isDir || info.size <= 0 || info.size > INT32_MAX) return -1;
  UniqueFile file(plat::OpenFile(path, "rb"));
  if (!file) return -1;
  std::shared_ptr<Block> block;
  try {
    block = std::make_shared<Block>(static_cast<size_t>(info.size));
  } catch (const std::bad_alloc&) {
    return -1;
  }
  // A short read (the file shrank, or a read error) must not leave a cut copy behind.
  if (fread(block->data(), 1, block->size(), file.get()) != block->size()) return -1;
  m_cache.emplace(std::move(key), std::move(block));
  return 0;
}

int CFileSource::UnloadFile(const std::string& path) {
  if (path.size() > kMaxPath) return -1;
  return m_cache.erase(Key(path)) ? 0 : -1;
}

std::unique_ptr<DataStream> CFileSource::OpenFile(const std::string& path, const char* modeText) {
  if (path.size() > kMaxPath) return nullptr;
  if (modeText && std::strcmp(modeText, "rb") != 0) {
    if (OpensForWriting(modeText)) m_cache.erase(Key(path));
    return OpenFileStream(path, modeText);
  }
  return ByMode<std::unique_ptr<DataStream>>(
      m_mode, [&] { return PackageOpen(path); }, [&] { return DiskOpen(path); },
      [](const std::unique_ptr<DataStream>& s) { return s != nullptr; }, nullptr);
}

bool CFileSource::CloseFile(std::unique_ptr<DataStream>&& stream) {
  std::unique_ptr<DataStream> owned = std::move(stream);
  return owned != nullptr;
}

int32_t CFileSource::FileSize(const std::string& path) {
  if (path.size() > kMaxPath) return -1;
  return ByMode<int32_t>(
      m_mode, [&] { return PackageSize(path); }, [&] { return DiskSize(path); },
      [](int32_t size) { return size >= 0; }, -1);
}

bool CFileSource::FileExists(const std::string& path) {
  if (path.size() > kMaxPath) return false;
  return ByMode<bool>(
      m_mode, [&] { return PackageSize(path) >= 0; }, [&] { return DiskExists(path); },
      [](bool found) { return found; }, false);
}

std::unique_ptr<DirIterator> CFileSource::OpenDir(const std::string& path) {
  if (path.size() > kMaxPath) return nullptr;
  std::string folder = path;
  // Only real separators go: a trailing "\\" may be the second byte of a character.
  std::vector<size_t> separators = plat::SeparatorPositions(folder);
  while (!separators.empty() && separators.back() == folder.size() - 1 && folder.size() > 1) {
    folder.pop_back();
    separators.pop_back();
  }
  return ByMode<std::unique_ptr<DirIterator>>(
      m_mode, [&] { return PackageList(folder); }, [&] { return DiskList(folder); },
      [](const std::unique_ptr<DirIterator>& it) { return it != nullptr; }, nullptr);
}

std::optional<PackagePath> CFileSource::SplitPackagePath(const std::string& path, bool appendSlash) const {
  std::string text = appendSlash ? path + "/" : path;
  std::vector<size_t> separators = plat::SeparatorPositions(text);
  for (auto it = separators.rbegin(); it != separators.rend(); ++it) {
    size_t at = *it;
    if (at == 0) break;
    std::string base = text.substr(0, at);
    if (Exists(PckIndexName(base)) && Exists(PckNameTableName(base)) && Exists(PckDataName(base))) {
      std::string inner = text.substr(at + 1);
      // The slash added for the root search is no part of the inner path: the package
      // would take "sub/" for a folder "sub" followed by an empty name.
      if (appendSlash && !inner.empty()) inner.pop_back();
      return PackagePath{std::move(base), std::move(inner)};
    }
  }
  return std::nullopt;
}

bool CFileSource::Exists(const std::string& path) const {
  return m_cache.count(Key(path)) != 0 || plat::FileExists(path);
}

std::shared_ptr<CFileSource::Block> CFileSource::Cached(const std::string& path) const {
  auto it = m_cache.find(Key(path));
  return it == m_cache.end() ? nullptr : it->second;
}

std::unique_ptr<DataStream> CFileSource::OpenForReading(const std::string& path) const {
  if (std::shared_ptr<Block> block = Cached(path)) return std::make_unique<CachedFileStream>(std::move(block));
  return OpenFileStream(path, "rb");
}

PckReader* CFileSource::GetPackage(const std::string& base) {
  std::string key = Key(base);
  auto it = m_packages.find(key);
  if (it != m_packages.end()) return it->second.get();
  std::unique_ptr<DataStream> index = OpenForReading(PckIndexName(base));
  std::unique_ptr<DataStream> data = OpenForReading(PckDataName(base));
  std::unique_ptr<DataStream> names = OpenForReading(PckNameTableName(base));
  if (!index || !data || !names) return nullptr;
  auto reader = std::make_unique<PckReader>();
  reader->SetPassword(m_password.c_str());
  if (reader->Open(std::move(index), std::move(data), std::move(names)) != 0) return nullptr;
  return m_packages.emplace(std::move(key), std::move(reader)).first->second.get();
}

std::unique_ptr<DataStream> CFileSource::PackageOpen(const std::string& path) {
  std::optional<PackagePath> split = SplitPackagePath(path, false);
  if (!split) return nullptr;
  PckReader* reader = GetPackage(split->base);
  if (!reader) return nullptr;
  // Always, even when empty: a cleared password must not leave the old one in use.
  reader->SetPassword(m_password.c_str());
  return reader->OpenEntry(split->inner);
}

int32_t CFileSource::PackageSize(const std::string& path) {
  std::optional<PackagePath> split = SplitPackagePath(path, false);
  if (!split) return -1;
  PckReader* reader = GetPackage(split->base);
  return reader ? reader->FileSize(split->inner) : -1;
}

std::unique_ptr<DirIterator> CFileSource::PackageList(const std::string& path) {
  std::optional<PackagePath> split = SplitPackagePath(path, true);
  if (!split) return nullptr;
  PckReader* reader = GetPackage(split->base);
  if (!reader) return nullptr;
  return reader->OpenDir(split->inner);
}

std::unique_ptr<DataStream> CFileSource::DiskOpen(const std::string& path) const {
  return OpenForReading(path);
}

int32_t CFileSource::DiskSize(const std::string& path) const {
  // A preloaded file answers like it opens: from memory, even once gone from the disk.
  if (std::shared_ptr<Block> block = Cached(path)) return static_cast<int32_t>(block->size());
  plat::FileInfo info;
  if (!plat::StatPath(path, info) || info.isDir || info.size > INT32_MAX) return -1;
  return static_cast<int32_t>(info.size);
}

bool CFileSource::DiskExists(const std::string& path) const {
  // "" is the working folder, which always exists.
  return path.empty() || Exists(path);
}

std::unique_ptr<DirIterator> CFileSource::DiskList(const std::string& path) const {
  std::string folder = path.empty() ? "." : path;
  plat::FileInfo info;
  if (!plat::StatPath(folder, info) || !info.isDir) return nullptr;
  return std::make_unique<PackageFoldingDirIterator>(folder);
}
