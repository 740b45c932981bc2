// The journal's file, its recovery, and the package swap.
//
// The file: the magic "QVPCKJ1" and a zero byte, a 32-bit entry count, the entries
// (kind, existed mask, 16-bit length and bytes of the base, the same of the scratch
// base) and the CRC-32 of all bytes before it. It is always written whole beside
// itself, flushed and renamed into place, so it is never seen half written. A temporary
// (kind 3) is an entry like the others, its path in the base and no scratch, so a
// journal that lists none reads as it always did.
#include "pck/PckJournal.h"

#include <algorithm>
#include <functional>

#include "io/File.h"
#include "io/Digest.h"
#include "pck/PckFormat.h"
#include "platform/PathText.h"
#include "platform/Platform.h"

namespace {

constexpr char kMagic[8] = {'Q', 'V', 'P', 'C', 'K', 'J', '1', '\0'};
const char* const kExts[] = {"idx", "nam", "dat"};  // bit i of `existed` is kExts[i]

std::string Part(const std::string& base, const char* ext) { return base + "." + ext; }
std::string Aside(const std::string& base, const char* ext) { return Part(base, ext) + ".old"; }

// The folder that holds `path` ("" for the working directory).
std::string FolderOf(const std::string& path) {
  const size_t cut = plat::LastSeparator(path);
  return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

bool IsAbsolute(const std::string& path) {
  return (!path.empty() && plat::IsSeparator(path[0])) || (path.size() > 1 && path[1] == ':');
}

void PutString(std::string& out, const std::string& s) {
  const size_t n = std::min<size_t>(s.size(), 0xFFFF);
  out += char(n & 0xFF);
  out += char(n >> 8);
  out.append(s, 0, n);
}

bool GetString(const std::string& in, size_t& at, std::string& out) {
  if (at + 2 > in.size()) return false;
  const size_t n = uint8_t(in[at]) | size_t(uint8_t(in[at + 1])) << 8;
  at += 2;
  if (at + n > in.size()) return false;
  out = in.substr(at, n);
  at += n;
  return true;
}

bool Remove(const std::string& path, CError& why) {
  if (!plat::FileExists(path) || plat::DeleteFile(path)) return true;
  why = OsFailure("delete", path);
  return false;
}

// Renames `from` over `to`; the failure names the package's own file: the one that
// was to go aside, or the one that was to be replaced or restored.
bool Move(const std::string& from, const std::string& to, const char* what, CError& why) {
  if (plat::ReplaceFile(from, to)) return true;
  why = OsFailure(what, std::string_view(what) == "move aside" ? from : to);
  return false;
}

// A swap that did not reach its last rename: every file of the old package that went
// aside comes back, every new file that came in without an old one to restore is
// removed, and the scratch files go, the index last (so that a stop during this is
// settled the same way again).
bool RollBackSwap(const std::string& base, const std::string& scratch, uint8_t existed, CError& why) {
  for (int i = 0; i < 3; ++i) {
    const std::string to = Part(base, kExts[i]);
    if (existed & (1 << i)) {
      if (plat::FileExists(Aside(base, kExts[i])) && !Move(Aside(base, kExts[i]), to, "restore", why)) return false;
    } else if (!plat::FileExists(Part(scratch, kExts[i])) && !Remove(to, why)) {
      return false;
    }
  }
  return Remove(Part(scratch, "nam"), why) && Remove(Part(scratch, "dat"), why) &&
         Remove(Part(scratch, "idx"), why);
}

// A swap whose new index landed: only the old files are left to delete, index last.
bool FinishSwap(const std::string& base, const std::string& scratch, CError& why) {
  return Remove(Aside(base, "nam"), why) && Remove(Aside(base, "dat"), why) && Remove(Aside(base, "idx"), why) &&
         Remove(Part(scratch, "nam"), why) && Remove(Part(scratch, "dat"), why);
}

}  // namespace

bool PckRemoveFiles(const std::string& base, CError* error) {
  CError why;
  const bool ok = Remove(PckNameTableName(base), why) && Remove(PckDataName(base), why) &&
                  Remove(PckIndexName(base) + ".new", why) && Remove(PckIndexName(base), why);
  if (!ok && error) *error = why;
  return ok;
}

// ---------------------------------------------------------------- the journal

CPckJournal::CPckJournal(std::string folder) : m_folder(std::move(folder)) {
  while (m_folder.size() > 1 && plat::LastSeparator(m_folder) == m_folder.size() - 1) m_folder.pop_back();
  m_path = m_folder.empty() ? std::string(kPckJournalName) : m_folder + "/" + kPckJournalName;
}

std::string CPckJournal::Relative(const std::string& path) const {
  if (m_folder.empty()) return path;
  const std::string folder = plat::ToSlashes(m_folder) + "/", p = plat::ToSlashes(path);
  return p.compare(0, folder.size(), folder) == 0 ? path.substr(folder.size()) : path;
}

std::string CPckJournal::Resolve(const std::string& path) const {
  return m_folder.empty() || IsAbsolute(path) ? path : m_folder + "/" + path;
}

bool CPckJournal::Load(std::vector<PckJournalEntry>& out) {
  out.clear();
  if (!plat::FileExists(m_path)) return true;
  CFile file;
  std::string bytes;
  if (!file.Open(m_path, "rb") || !file.ReadAll(bytes)) {
    m_error = file.ErrorRecord().Failed() ? file.ErrorRecord() : OsFailure("read", m_path);
    return false;
  }
  // Written whole and renamed into place, a journal is never torn; one that does not
  // read back whole was damaged on the disk and holds nothing to act on.
  bool whole = bytes.size() >= sizeof kMagic + 8 && std::equal(kMagic, kMagic + sizeof kMagic, bytes.begin()) &&
               Crc32(bytes.data(), bytes.size() - 4) == GetLE32(reinterpret_cast<const uint8_t*>(bytes.data()) + bytes.size() - 4);
  size_t at = sizeof kMagic + 4;
  const uint32_t count = whole ? GetLE32(reinterpret_cast<const uint8_t*>(bytes.data()) + sizeof kMagic) : 0;
  const std::string body = whole ? bytes.substr(0, bytes.size() - 4) : std::string();
  for (uint32_t i = 0; whole && i < count; ++i) {
    PckJournalEntry e;
    if (at + 2 > body.size()) {
      whole = false;
      break;
    }
    e.kind = PckJournalEntry::Kind(uint8_t(body[at]));
    e.existed = uint8_t(body[at + 1]);
    at += 2;
    whole = GetString(body, at, e.base) && GetString(body, at, e.scratch) &&
            (e.kind == PckJournalEntry::kCreate || e.kind == PckJournalEntry::kSwap ||
             e.kind == PckJournalEntry::kTemp);
    if (whole) out.push_back(std::move(e));
  }
  if (!whole) out.clear();
  return true;
}

bool CPckJournal::Store(const std::vector<PckJournalEntry>& entries) {
  if (entries.empty()) {
    if (!plat::FileExists(m_path)) return true;
    if (!plat::DeleteFile(m_path)) {
      m_error = OsFailure("delete", m_path);
      return false;
    }
    plat::SyncFolder(m_folder);
    return true;
  }
  std::string bytes(kMagic, sizeof kMagic);
  uint8_t count[4];
  PutLE32(count, uint32_t(entries.size()));
  bytes.append(reinterpret_cast<char*>(count), 4);
  for (const PckJournalEntry& e : entries) {
    bytes += char(e.kind);
    bytes += char(e.existed);
    PutString(bytes, e.base);
    PutString(bytes, e.scratch);
  }
  uint8_t crc[4];
  PutLE32(crc, Crc32(bytes.data(), bytes.size()));
  bytes.append(reinterpret_cast<char*>(crc), 4);

  const std::string fresh = m_path + ".new";
  CFile file;
  bool ok = file.Create(fresh) && file.WriteAll(bytes.data(), bytes.size()) && file.Flush();
  ok = file.Close() && ok;
  if (!ok) {
    m_error = file.ErrorRecord();
    if (plat::FileExists(fresh)) plat::DeleteFile(fresh);
    return false;
  }
  if (!plat::ReplaceFile(fresh, m_path)) {
    m_error = OsFailure("replace", m_path);
    plat::DeleteFile(fresh);
    return false;
  }
  return true;
}

std::vector<PckJournalEntry> CPckJournal::Entries() {
  std::vector<PckJournalEntry> entries;
  Load(entries);
  for (PckJournalEntry& e : entries) {
    e.base = Resolve(e.base);
    if (!e.scratch.empty()) e.scratch = Resolve(e.scratch);
  }
  return entries;
}

PckJournalEntry CPckJournal::Stored(const PckJournalEntry& entry) const {
  PckJournalEntry stored = entry;
  stored.base = Relative(entry.base);
  stored.scratch = entry.scratch.empty() ? std::string() : Relative(entry.scratch);
  return stored;
}

bool CPckJournal::Add(const PckJournalEntry& entry) { return Add(std::vector<PckJournalEntry>{entry}); }

bool CPckJournal::Add(const std::vector<PckJournalEntry>& add) {
  return Rewrite([&](std::vector<PckJournalEntry>& entries) {
    for (const PckJournalEntry& entry : add) {
      PckJournalEntry stored = Stored(entry);
      if (std::find(entries.begin(), entries.end(), stored) == entries.end()) entries.push_back(std::move(stored));
    }
  });
}

bool CPckJournal::Drop(const PckJournalEntry& entry) { return Drop(std::vector<PckJournalEntry>{entry}); }

bool CPckJournal::Drop(const std::vector<PckJournalEntry>& drop) {
  return Rewrite([&](std::vector<PckJournalEntry>& entries) {
    for (const PckJournalEntry& entry : drop) {
      auto it = std::find(entries.begin(), entries.end(), Stored(entry));
      if (it != entries.end()) entries.erase(it);
    }
  });
}

bool CPckJournal::Rewrite(const std::function<void(std::vector<PckJournalEntry>&)>& change) {
  std::vector<PckJournalEntry> entries;
  if (!Load(entries)) return false;
  const size_t before = entries.size();
  change(entries);
  // Adding only what is missing and dropping only what is there: an unchanged count
  // is an unchanged journal, and nothing is written.
  return entries.size() == before || Store(entries);
}

bool CPckJournal::Recover() {
  m_error = CError();
  std::vector<PckJournalEntry> entries, left;
  if (!Load(entries)) return false;
  const bool damaged = entries.empty() && plat::FileExists(m_path);
  auto keep = [&](const PckJournalEntry& stored, const CError& why) {
    left.push_back(stored);
    if (!m_error.Failed()) m_error = why;
  };
  // Swaps and creations first: whether a swap is rolled back or finished depends on
  // its scratch index, which may also be listed as a temporary.
  std::vector<std::string> needed;  // scratch files of swaps still unsettled
  for (const PckJournalEntry& stored : entries) {
    if (stored.kind == PckJournalEntry::kTemp) continue;
    const std::string base = Resolve(stored.base);
    CError why;
    bool settled;
    if (stored.kind == PckJournalEntry::kCreate) {
      // The first index never landed: what there is of the package is the stopped
      // run's own, since a package is only created where no part of one exists.
      settled = plat::FileExists(PckIndexName(base)) || PckRemoveFiles(base, &why);
    } else {
      const std::string scratch = Resolve(stored.scratch);
      // The scratch index exists until the very last rename of the swap moves it in.
      settled = plat::FileExists(PckIndexName(scratch)) ? RollBackSwap(base, scratch, stored.existed, why)
                                                         : FinishSwap(base, scratch, why);
      if (!settled)
        for (const char* ext : kExts) needed.push_back(plat::ToSlashes(Part(stored.scratch, ext)));
    }
    if (!settled) keep(stored, why);
  }
  // A temporary was made by the stopped run under a name that nothing else had; one
  // that is gone landed or was never made. A folder by that name is no temporary.
  std::vector<std::string> synced;
  for (const PckJournalEntry& stored : entries) {
    if (stored.kind != PckJournalEntry::kTemp) continue;
    if (std::find(needed.begin(), needed.end(), plat::ToSlashes(stored.base)) != needed.end()) {
      left.push_back(stored);
      continue;
    }
    const std::string temp = Resolve(stored.base);
    CError why;
    if (plat::IsFolder(temp) || !plat::FileExists(temp)) continue;
    if (!Remove(temp, why)) {
      keep(stored, why);
      continue;
    }
    // On the disk before the journal forgets it: a power cut must not bring back an
    // unlisted temporary.
    const std::string folder = FolderOf(temp);
    if (std::find(synced.begin(), synced.end(), folder) == synced.end()) {
      plat::SyncFolder(folder);
      synced.push_back(folder);
    }
  }
  if (plat::FileExists(m_path + ".new")) plat::DeleteFile(m_path + ".new");
  if (damaged || left.size() != entries.size()) {
    CError keepError = m_error;
    if (!Store(left)) return false;
    m_error = keepError;
  }
  return left.empty();
}

// ---------------------------------------------------------------- the swap

bool PckSwapIn(const std::string& scratch, const std::string& base, CPckJournal& journal, CError* error) {
  PckJournalEntry entry{PckJournalEntry::kSwap, base, scratch, 0};
  for (int i = 0; i < 3; ++i)
    if (plat::FileExists(Part(base, kExts[i]))) entry.existed |= uint8_t(1 << i);
  CError why;
  auto fail = [&](const CError& e) {
    if (error) *error = e;
    return false;
  };
  if (!journal.Add(entry)) {
    // Nothing has moved: the new package, which cannot be swapped in unlisted, goes.
    CError ignored;
    for (const char* ext : {"nam", "dat", "idx"}) Remove(Part(scratch, ext), ignored);
    return fail(journal.Error());
  }

  auto undo = [&](CError e) {
    CError more;
    if (RollBackSwap(base, scratch, entry.existed, more))
      journal.Drop(entry);
    else
      e.text += "; the old package stays under " + Aside(base, "idx") + " and its .old companions until the next run (" +
                more.text + ")";
    return fail(e);
  };
  // Old files aside, index first: from here the old package is whole under its backups.
  for (int i = 0; i < 3; ++i)
    if ((entry.existed & (1 << i)) && !Move(Part(base, kExts[i]), Aside(base, kExts[i]), "move aside", why))
      return undo(why);
  // New files in, index last: the new package exists from the moment its index lands.
  for (const char* ext : {"nam", "dat", "idx"})
    if (!Move(Part(scratch, ext), Part(base, ext), "replace", why)) return undo(why);
  // The backups are no longer needed; should one not go, the journal entry stays and
  // the next recovery deletes it.
  if (FinishSwap(base, scratch, why)) journal.Drop(entry);
  return true;
}
