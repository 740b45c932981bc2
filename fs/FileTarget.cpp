// Writing through packages and plain folders. Plain files are written beside the target
// and renamed over it, so a crash, a full disk or a short source never leaves a
// truncated file where a good one was. A temporary takes a name that nothing else has
// (no file of the patch, no file on the disk) and is created anew; it is deleted only by
// the run that made it, or by the next run because the journal lists it.
#include "fs/FileTarget.h"


#include <algorithm>
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

// How many numbered names a temporary tries (".qvnew", ".qvnew2", ...) before giving up.
constexpr int kTempNames = 1000;

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

std::vector<PckJournalEntry> TempEntries(const std::vector<std::string>& temps) {
  std::vector<PckJournalEntry> entries;
  for (const std::string& temp : temps) entries.push_back({PckJournalEntry::kTemp, temp, "", 0});
  return entries;
}
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
  // What did not land is not left behind (and stays gone through a power cut, since the
  // journal forgets it next).
  for (auto& p : pending) {
    p->file.Close();
    if (!p->temp.empty() && plat::FileExists(p->temp) && plat::DeleteFile(p->temp)) {
      const size_t cut = plat::LastSeparator(p->temp);
      plat::SyncFolder(cut == std::string::npos ? std::string() : p->temp.substr(0, cut));
    }
  }
  // The journal forgets every temporary of the batch that is gone; one that could not be
  // deleted stays listed for the next run. (Should the journal not be written, it keeps
  // names that nothing has, which its recovery passes over.)
  if (m_journal && !m_listedTemps.empty()) {
    std::vector<std::string> gone;
    for (const std::string& temp : m_listedTemps)
      if (!plat::FileExists(temp)) gone.push_back(temp);
    if (!gone.empty()) m_journal->Drop(TempEntries(gone));
  }
  m_listedTemps.clear();
  m_pickedTemps.clear();
  m_tempKeys.clear();
  return result;
}

void CFileTarget::ReserveLandings(const std::vector<Landing>& landings) {
  m_reserved.clear();
  m_plainOrder.clear();
  m_plainNext = 0;
  auto reserve = [this](const std::string& path) {
    // The path and the folders on its way (a folder's key is a prefix of its files').
    std::string key = Key(path);
    while (m_reserved.insert(key).second) {
      const size_t cut = key.rfind('/');
      if (cut == std::string::npos || cut == 0) break;
      key.resize(cut);
    }
  };
  for (const Landing& landing : landings) {
    if (!landing.inPackage) {
      reserve(landing.path);
      m_plainOrder.push_back(landing.path);
      continue;
    }
    for (const std::string& part : {PckIndexName(landing.base), PckNameTableName(landing.base),
                                    PckDataName(landing.base), PckIndexName(landing.base) + ".new"})
      reserve(part);
  }
}

std::string CFileTarget::PickTemp(const std::string& path) const {
  const size_t cut = plat::LastSeparator(path);
  const std::string folder = cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
  for (int n = 1; n <= kTempNames; ++n) {
    const std::string number = n == 1 ? std::string() : std::to_string(n);
    std::string temp = path + ".qvnew" + number;
    // Paths are limited: a target near the limit gets a short name in its folder.
    if (temp.size() > kMaxPathBytes) temp = folder + "~qvnew" + number + ".tmp";
    if (temp.size() > kMaxPathBytes) return {};
    const std::string key = Key(temp);
    if (!m_reserved.count(key) && !m_tempKeys.count(key) && !plat::FileExists(temp)) return temp;
  }
  return {};
}

int CFileTarget::ListTemps(const std::string& path, size_t room) {
  std::vector<std::string> paths{path};
  // The planned plain files after this one join the listing, up to the first that the
  // batch cannot take (it is full, or the file is in it already).
  if (m_journal) {
    auto at = std::find(m_plainOrder.begin() + std::ptrdiff_t(m_plainNext), m_plainOrder.end(), path);
    if (at != m_plainOrder.end()) {
      m_plainNext = size_t(at - m_plainOrder.begin()) + 1;
      std::unordered_set<std::string> keys{Key(path)};
      for (const auto& p : m_pending) keys.insert(p->key);
      for (++at; at != m_plainOrder.end() && paths.size() < room; ++at) {
        if (!keys.insert(Key(*at)).second) break;
        if (!m_pickedTemps.count(*at)) paths.push_back(*at);
      }
    }
  }
  std::vector<std::string> temps;
  for (const std::string& p : paths) {
    std::string temp = PickTemp(p);
    if (temp.empty()) {
      if (p == path) break;
      continue;  // its own turn says so
    }
    m_tempKeys.insert(Key(temp));
    m_pickedTemps[p] = temp;
    temps.push_back(std::move(temp));
  }
  auto forget = [&] {
    for (const std::string& temp : temps) m_tempKeys.erase(Key(temp));
    for (const std::string& p : paths) m_pickedTemps.erase(p);
  };
  if (!m_pickedTemps.count(path)) {
    forget();
    const size_t cut = plat::LastSeparator(path);
    const bool fits = (cut == std::string::npos ? 0 : cut + 1) + sizeof "~qvnew.tmp" - 1 <= kMaxPathBytes;
    return Fail(Failure(ErrorKind::BadArgument, path,
                        fits ? "no free name for the temporary of " + path : path + ": the path is too long"));
  }
  if (!m_journal) return 0;
  // Listed before the first of them exists: a stop from here on leaves the next run
  // a list of exactly what to delete.
  if (!m_journal->Add(TempEntries(temps))) {
    forget();
    return Fail(m_journal->Error());
  }
  m_listedTemps.insert(m_listedTemps.end(), temps.begin(), temps.end());
  return 0;
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
    const bool deleted = plat::ShellDelete(path);
    // (A file in it held open by another program keeps it.)
    if (!plat::FileExists(path)) return 0;
    return Fail(deleted ? Failure(ErrorKind::Access, path, "cannot remove the folder " + path + ": it is still there")
                        : OsFailure("remove the folder", path));
  }
  size_t cut = plat::LastSeparator(path);
  if (cut != std::string::npos && cut > 0) {
    std::string parent = path.substr(0, cut);
    // What cannot be made is reported by the creation of the file.
    if (!plat::FileExists(parent)) plat::MakeFolders(parent);
  }
  // Unbatched, a file is a batch of its own that lands at once.
  const int result = BatchPlainFile(path, stream);
  return result != 0 || m_batchPlainFiles ? result : LandPlainFiles();
}

int CFileTarget::BatchPlainFile(const std::string& path, DataStream& stream) {
  // A file that is already in the batch (under any spelling) lands with the batch before
  // it first; so does a full batch.
  const std::string key = Key(path);
  const size_t capacity = m_batchPlainFiles ? kBatchFiles : 1;
  bool land = m_pending.size() >= capacity;
  for (const auto& p : m_pending) land = land || p->key == key;
  if (land && LandPlainFiles() != 0) return -1;
  // Its temporary was picked with the batch's listing; one not picked (a file out of the
  // plan's order), or whose name has been taken since, is picked now.
  auto picked = m_pickedTemps.find(path);
  if (picked != m_pickedTemps.end() && plat::FileExists(picked->second)) m_pickedTemps.erase(picked);
  if (m_pickedTemps.find(path) == m_pickedTemps.end() && ListTemps(path, capacity - m_pending.size()) != 0) return -1;
  auto p = std::make_unique<CPendingFile>();
  p->path = path;
  p->temp = m_pickedTemps[path];
  p->key = key;
  p->stamp = stream.Stamp();
  m_pickedTemps.erase(path);
  // Created anew under a name that nothing has, never through a link planted there.
  if (!p->file.CreateNew(p->temp)) return Fail(p->file.ErrorRecord());
  if (!CopyStream(stream, p->file) || !p->file.StartFlush()) {
    CError why = p->file.Failed() ? p->file.ErrorRecord()
                                  : Failure(ErrorKind::Damaged, path, "cannot read the content for " + path);
    p->file.Close();
    plat::DeleteFile(p->temp);
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
