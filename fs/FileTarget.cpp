// Writing through packages and plain folders. Plain files are written beside the target
// and renamed over it, so a crash, a full disk or a short source never leaves a
// truncated file where a good one was.
#include "fs/FileTarget.h"


#include <vector>

#include "io/File.h"
#include "io/Limits.h"
#include "pck/PckFormat.h"
#include "pck/PckJournal.h"
#include "pck/PckReader.h"
#include "pck/PckWriter.h"
#include "platform/PathText.h"
#include "platform/Platform.h"

namespace {

std::string Key(const std::string& path) { return PckFoldName(plat::ToSlashes(path)); }

bool AnyPackagePartExists(const std::string& base) {
  return plat::FileExists(PckIndexName(base)) || plat::FileExists(PckNameTableName(base)) ||
         plat::FileExists(PckDataName(base));
}

// The temporary beside `path` that a new plain file is written to before it replaces
// the old one. Paths are limited, so a target near the limit gets a short name in its
// folder instead; "" when not even that fits.
std::string TempNameFor(const std::string& path) {
  std::string temp = path + ".qvnew";
  if (temp.size() <= kMaxPathBytes) return temp;
  size_t cut = plat::LastSeparator(path);
  temp = (cut == std::string::npos ? std::string() : path.substr(0, cut + 1)) + "~qvnew.tmp";
  return temp.size() <= kMaxPathBytes ? temp : std::string();
}

// Copies the whole stream; false when it ends before its declared size, an entry stream
// failed to decode, or a write fails.
bool CopyStream(DataStream& stream, CFile& out) {
  static thread_local std::vector<char> buffer(64u << 10);
  int64_t copied = 0;
  while (!stream.Eof()) {
    int32_t n = stream.Read(buffer.data(), int32_t(buffer.size()));
    if (n <= 0) break;
    if (!out.WriteAll(buffer.data(), size_t(n))) return false;
    copied += n;
  }
  if (stream.Failed()) return false;
  int32_t declared = stream.Size();
  return declared < 0 || copied >= declared;
}

}  // namespace

bool CLandingView::PackageExists(const std::string& base) const { return ::PackageExists(base); }
bool CLandingView::Exists(const std::string& path) const { return plat::FileExists(path); }

CFileTarget::CFileTarget() = default;
// A plain file written to its temporary, waiting to replace its file.
struct CFileTarget::CPendingFile {
  std::string path, temp, key;  // key: the path folded, to find it again
  CFile file;
  int32_t stamp = 0;
};

namespace {
constexpr size_t kBatchFiles = 32;  // open temporaries at most
}  // namespace

CFileTarget::~CFileTarget() { CloseAll(); }

void CFileTarget::SetBatchPlainFiles(bool on) {
  if (!on) LandPlainFiles();
  m_batchPlainFiles = on;
}

int CFileTarget::LandPlainFiles() {
  std::vector<std::unique_ptr<CPendingFile>> pending = std::move(m_pending);
  m_pending.clear();
  int result = 0;
  // All contents first: each temporary is on the disk before any file is replaced.
  for (auto& p : pending) {
    if (result != 0) break;
    const bool ok = p->file.Flush();
    if (!p->file.Close() || !ok) result = Fail(p->file.ErrorRecord());
  }
  for (auto& p : pending) {
    if (result != 0) break;
    if (p->stamp > 0) plat::SetFileTime(p->temp, p->stamp);
    bool ok = plat::ReplaceFile(p->temp, p->path);
    // A read-only target refuses to be replaced on Windows.
    if (!ok && plat::FileExists(p->path) && plat::SetNormalAttributes(p->path)) ok = plat::ReplaceFile(p->temp, p->path);
    if (!ok) {
      result = Fail(OsFailure("replace", p->path));
      break;
    }
    p->temp.clear();  // the rename has put itself on the disk, its folder synced
  }
  // What did not land is not left behind.
  for (auto& p : pending) {
    p->file.Close();
    if (!p->temp.empty() && plat::FileExists(p->temp)) plat::DeleteFile(p->temp);
  }
  return result;
}

int CFileTarget::Fail(CError why) {
  m_error = std::move(why);
  return -1;
}

int CFileTarget::Fail(std::string why) { return Fail(Failure(ErrorKind::BadArgument, "", std::move(why))); }

int CFileTarget::CloseAll() {
  int result = LandPlainFiles();
  for (auto& [key, writer] : m_writers) {
    writer->Close();
    if (writer->CommitFailed()) result = Fail(writer->Error());
  }
  m_writers.clear();
  // A created package whose index has landed is a package like any other now.
  if (m_journal)
    for (const std::string& base : m_created)
      if (plat::FileExists(PckIndexName(base))) m_journal->Drop({PckJournalEntry::kCreate, base, "", 0});
  m_created.clear();
  return result;
}

void CFileTarget::SetPassword(const char* text) {
  std::string value = text ? text : "";
  if (value.size() > kMaxPassword) value.resize(kMaxPassword);
  m_password = std::move(value);
}

std::optional<PackagePath> CFileTarget::FindPackage(const std::string& path, size_t rootLength,
                                                    const CLandingView& view) {
  std::vector<size_t> separators = plat::SeparatorPositions(path);
  for (auto it = separators.rbegin(); it != separators.rend(); ++it) {
    // A cut at the root or above it would name the game folder itself, or something
    // beside it, as a package.
    if (*it == 0 || *it <= rootLength) break;
    std::string base = path.substr(0, *it);
    if (view.PackageExists(base)) return PackagePath{std::move(base), path.substr(*it + 1)};
  }
  return std::nullopt;
}

std::optional<PackagePath> CFileTarget::SplitNewPackagePath(const std::string& path, size_t rootLength,
                                                            const CLandingView& view) {
  std::vector<size_t> separators = plat::SeparatorPositions(path);
  size_t pos = 0;
  for (auto it = separators.rbegin(); it != separators.rend(); ++it) {
    if (*it == 0 || *it < rootLength) break;
    if (pos > 0 && view.Exists(path.substr(0, *it))) return PackagePath{path.substr(0, pos), path.substr(pos + 1)};
    pos = *it;
  }
  if (pos == 0 || pos <= rootLength) return std::nullopt;
  return PackagePath{path.substr(0, pos), path.substr(pos + 1)};
}

std::optional<Landing> CFileTarget::Land(const std::string& path, bool intoPackage, const CLandingView& view) const {
  const size_t root = m_root.size();
  Landing landing;
  std::optional<PackagePath> where = FindPackage(path, root, view);
  if (!where) {
    if (!intoPackage) {
      landing.path = path;
      return landing;
    }
    if (!(m_nFlags & kFlagCreatePackages)) return std::nullopt;
    where = SplitNewPackagePath(path, root, view);
    if (!where) return std::nullopt;
    landing.create = true;
  }
  landing.inPackage = true;
  landing.base = std::move(where->base);
  landing.inner = std::move(where->inner);
  return landing;
}

PckWriter* CFileTarget::OpenPackage(const std::string& base, bool create) {
  const std::string key = Key(base);
  if (auto it = m_writers.find(key); it != m_writers.end()) return it->second.get();
  auto writer = std::make_unique<PckWriter>();
  if (writer->OpenForEdit(base) != 0) {
    // A part of a package that does not open may be all that is left of game data;
    // making a package there would truncate it.
    if (!create) return Fail(writer->Error()), nullptr;
    if (AnyPackagePartExists(base)) return Fail(writer->Error()), nullptr;
    // Listed before its first file exists: should the run stop before the first index
    // lands, the next run removes what there is of it.
    const PckJournalEntry entry{PckJournalEntry::kCreate, base, "", 0};
    if (m_journal && !m_journal->Add(entry)) return Fail(m_journal->Error()), nullptr;
    auto maker = std::make_unique<PckWriter>();
    bool made = maker->Create(base, kNewPackageBlockSize) == 0;
    if (made) {
      maker->BeginDir("");
      maker->EndDir();
      maker->Close();
      made = !maker->CommitFailed();
    }
    if (!made) {
      Fail(maker->Error());
      maker.reset();
      // Nothing of it may stay: a later run would take the parts for game data.
      if (PckRemoveFiles(base) && m_journal) m_journal->Drop(entry);
      return nullptr;
    }
    if (m_journal) m_created.push_back(base);
    if (writer->OpenForEdit(base) != 0) return Fail(writer->Error()), nullptr;
  }
  PckWriter* result = writer.get();
  m_writers.emplace(key, std::move(writer));
  return result;
}

int CFileTarget::PutFile(const std::string& path, DataStream& stream, bool intoPackage, int codec) {
  std::optional<Landing> landing = Land(path, intoPackage, CLandingView());
  if (!landing) return Fail("no package can be made for " + path);
  return Put(*landing, stream, codec);
}

int CFileTarget::Put(const Landing& landing, DataStream& stream, int codec) {
  if (!landing.inPackage) return WritePlainFile(landing.path, stream);
  PckWriter* writer = OpenPackage(landing.base, landing.create);
  if (!writer) return -1;
  // Always, even when empty: a cleared password must not leave an earlier one in use.
  writer->SetPassword(m_password.c_str());
  // An empty file stands for a removed one: a file, or a folder with all below it.
  if (stream.Size() == 0) {
    writer->Delete(landing.inner);
    return 0;
  }
  const int32_t start = stream.Tell();
  if (writer->ReplaceFile(landing.inner, stream, codec) == 0) return 0;
  if (stream.Seek(start, 0) != 0) return Fail("cannot read the file for " + landing.inner + " again");
  if (writer->AddFile(landing.inner, stream, codec) == 0) return 0;
  return Fail(writer->Error());
}

int CFileTarget::WritePlainFile(const std::string& path, DataStream& stream) {
  // An empty file where the game has a plain folder removes the folder, as the shell
  // deletes one, just as it removes a folder of a package.
  if (stream.Size() == 0 && plat::IsFolder(path)) {
    if (LandPlainFiles() != 0) return -1;
    plat::ShellDelete(path);
    return 0;
  }
  size_t cut = plat::LastSeparator(path);
  if (cut != std::string::npos && cut > 0) {
    std::string parent = path.substr(0, cut);
    // What cannot be made is reported by the creation of the file.
    if (!plat::FileExists(parent)) plat::MakeFolders(parent);
  }
  const std::string temp = TempNameFor(path);
  if (temp.empty()) return Fail(path + ": the path is too long");
  if (m_batchPlainFiles) return BatchPlainFile(path, temp, stream);
  // Created anew, never through a link planted at the temporary's name.
  CFile file;
  if (!file.Create(temp)) return Fail(file.ErrorRecord());
  bool ok = CopyStream(stream, file) && file.Flush();
  ok = file.Close() && ok;
  CError why = file.Failed() ? file.ErrorRecord()
                             : Failure(ErrorKind::Damaged, path, "cannot read the content for " + path);
  if (ok) {
    int32_t stamp = stream.Stamp();
    if (stamp > 0) plat::SetFileTime(temp, stamp);
    ok = plat::ReplaceFile(temp, path);
    // A read-only target refuses to be replaced on Windows.
    if (!ok && plat::FileExists(path) && plat::SetNormalAttributes(path)) ok = plat::ReplaceFile(temp, path);
    if (!ok) why = OsFailure("replace", path);
  }
  if (!ok) {
    if (plat::FileExists(temp)) plat::DeleteFile(temp);
    return Fail(why);
  }
  return 0;
}

int CFileTarget::BatchPlainFile(const std::string& path, const std::string& temp, DataStream& stream) {
  // A file that is already in the batch (under any spelling), or that shares its
  // temporary, lands with the batch before it first; so does a full batch.
  const std::string key = Key(path);
  for (const auto& p : m_pending)
    if (p->key == key || p->temp == temp || m_pending.size() >= kBatchFiles) {
      if (LandPlainFiles() != 0) return -1;
      break;
    }
  auto p = std::make_unique<CPendingFile>();
  p->path = path;
  p->temp = temp;
  p->key = key;
  p->stamp = stream.Stamp();
  // Created anew, never through a link planted at the temporary's name.
  if (!p->file.Create(temp)) return Fail(p->file.ErrorRecord());
  if (!CopyStream(stream, p->file) || !p->file.StartFlush()) {
    CError why = p->file.Failed() ? p->file.ErrorRecord()
                                  : Failure(ErrorKind::Damaged, path, "cannot read the content for " + path);
    p->file.Close();
    plat::DeleteFile(temp);
    return Fail(why);
  }
  m_pending.push_back(std::move(p));
  return 0;
}

int CFileTarget::RemoveFile(const std::string& path) {
  std::optional<PackagePath> where = FindPackage(path, m_root.size());
  if (!where && LandPlainFiles() != 0) return -1;
  if (!where) return plat::DeleteFile(path) ? 0 : -1;
  PckWriter* writer = OpenPackage(where->base, false);
  if (!writer) return -2;
  writer->SetPassword(m_password.c_str());
  return writer->Delete(where->inner) == 0 ? 0 : -3;
}

int CFileTarget::FlushAll() {
  for (auto& entry : m_writers) entry.second->Hook();
  return 0;
}
