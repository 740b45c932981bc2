// PckWriter: sequential building, editing in place, and the atomic index commit.
#include "pck/PckWriter.h"

#include "pck/PckEntryPipeline.h"

#include <algorithm>
#include <cstring>

#include "platform/Platform.h"

namespace {

// A name or path between quotes, for messages.
std::string Quoted(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  out.append(text);
  out += '"';
  return out;
}
}  // namespace

PckWriter::PckWriter() : m_header(PckHeader::Default()) {}

PckWriter::~PckWriter() { Close(); }

void PckWriter::SetPassword(const char* text) { m_cipher.SetPassword(text ? text : ""); }

int PckWriter::Fail(CError error) {
  // A failed write says itself which file and why; that says more than the operation.
  if (m_dat.Failed())
    m_error = m_dat.ErrorRecord();
  else if (m_nam.Failed())
    m_error = m_nam.ErrorRecord();
  else
    m_error = std::move(error);
  return -1;
}

int PckWriter::Fail(std::string why) { return Fail(Failure(ErrorKind::BadArgument, m_base, std::move(why))); }

std::string_view PckWriter::Name(int index) const { return m_index.Name(index); }

// ---------------------------------------------------------------- open and close

int PckWriter::Create(const std::string& base, uint32_t blockSize) {
  Abandon();
  m_commitFailed = false;
  if (blockSize < 1 || blockSize > kPckMaxBlockSize)
    return Fail("block size " + std::to_string(blockSize) + " is out of range");
  // The old index goes first: should the process stop before Close, what is left is no
  // package at all rather than an old index over truncated names and data.
  const std::string idx = PckIndexName(base);
  if (plat::FileExists(idx) && !plat::DeleteFile(idx)) return Fail(OsFailure("remove", idx));
  if (!m_dat.Create(PckDataName(base))) return Fail(m_dat.ErrorRecord());
  if (!m_nam.Create(PckNameTableName(base))) {
    m_dat.Close();
    return Fail(m_nam.ErrorRecord());
  }
  m_base = base;
  m_header = PckHeader::Default(blockSize);
  m_index.Clear();
  m_stack.clear();
  m_datEnd = 0;
  m_pipeline.reset();  // its jobs are made for one block size and password
  m_dirty = true;
  return 0;
}

int PckWriter::OpenForEdit(const std::string& base) { return Open(base, true); }

int PckWriter::OpenToCheck(const std::string& base) { return Open(base, false); }

int PckWriter::Open(const std::string& base, bool forEdit) {
  Abandon();
  m_commitFailed = false;
  CFile idxFile;
  std::string idx, names, why;
  std::vector<PckRecord> records;
  if (!idxFile.Open(PckIndexName(base), "rb")) return Fail(OsFailure("read", PckIndexName(base)));
  if (!idxFile.ReadAll(idx)) return Fail(OsFailure("read", PckIndexName(base)));
  idxFile.Close();
  const char* mode = forEdit ? "rb+" : "rb";
  const char* verb = forEdit ? "open for writing" : "read";
  if (!m_dat.Open(PckDataName(base), mode)) return Fail(OsFailure(verb, PckDataName(base)));
  if (!m_nam.Open(PckNameTableName(base), mode)) {
    CError why = OsFailure(verb, PckNameTableName(base));
    m_dat.Close();
    return Fail(std::move(why));
  }
  // What does not read as a package is damaged, and is never edited.
  auto failClose = [this, &base](std::string text) {
    m_dat.Close();
    m_nam.Close();
    m_index.Clear();
    return Fail(Failure(ErrorKind::Damaged, PckIndexName(base), std::move(text)));
  };
  // Nor is one that cannot be read: the writer is then left closed, as after any failure.
  auto failOs = [this](CError error) {
    const int rc = Fail(std::move(error));  // first: a failed read explains itself
    m_dat.Close();
    m_nam.Close();
    m_index.Clear();
    return rc;
  };
  if (!PckParseIndex(idx, m_header, records, &why)) return failClose(PckIndexName(base) + ": " + why);
  // Editing rewrites the index in this layout, so only this version is taken on.
  if (m_header.version != kPckVersion) return failClose(PckIndexName(base) + ": version is not 2");
  if (!m_header.HasUsableBlockSize()) return failClose(PckIndexName(base) + ": block size out of range");
  if (records.empty()) return failClose(PckIndexName(base) + ": index holds no root folder");
  if (!m_nam.ReadAll(names)) return failOs(OsFailure("read", PckNameTableName(base)));
  if (!PckCheckTree(records, names, &why)) return failClose(PckIndexName(base) + ": " + why);
  int64_t datLen = m_dat.Length();
  if (datLen < 0) return failOs(OsFailure("measure", PckDataName(base)));
  m_datEnd = m_datStart = uint64_t(datLen);
  m_namStart = names.size();
  // Appending to a data file shorter than its index says would put new entries where
  // old records point; such a package is refused before anything is written.
  for (size_t i = 0; i < records.size(); ++i) {
    const PckRecord& r = records[i];
    if (r.type == kPckFile && uint64_t(r.dataOffset) + kPckEntryHeaderSize +
                                      4ull * PckBlockCount(r.size, m_header.blockSize) > m_datEnd)
      return failClose(PckIndexName(base) + ": record " + std::to_string(i) + " lies beyond the end of " +
                       PckDataName(base));
  }
  if (!m_index.Build(std::move(records), std::move(names), &why)) return failClose(PckIndexName(base) + ": " + why);
  m_base = base;
  m_stack.clear();
  m_pipeline.reset();
  m_dirty = false;
  m_editing = forEdit;
  m_readOnly = !forEdit;
  m_renameTried = false;
  return 0;
}

int PckWriter::CheckChangeable() {
  if (!IsOpen()) return Fail("package is not open");
  if (m_readOnly) return Fail("package is open for reading only");
  return 0;
}

void PckWriter::Abandon() {
  DropEntries();
  const bool gaveUp = m_dirty && m_editing;
  m_dirty = false;
  m_dat.Close();
  m_nam.Close();
  if (gaveUp) GiveBackAppended();
  m_editing = false;
  m_readOnly = false;
}

void PckWriter::GiveBackAppended() {
  // The index on the disk reaches nothing past the lengths the two files had when the
  // package was opened, so whatever this session appended can go. (Reopened by name:
  // the streams may still have held bytes that a failed flush could not write.)
  const std::pair<std::string, uint64_t> files[] = {{PckDataName(m_base), m_datStart},
                                                    {PckNameTableName(m_base), m_namStart}};
  for (const auto& [path, length] : files) {
    CFile file;
    if (file.Open(path, "rb+") && file.Length() > int64_t(length)) file.Truncate(length);
    file.Close();
  }
}

int PckWriter::Close() {
  if (!IsOpen()) return 0;
  // Folders that sequential building left open are closed, so the index is whole.
  while (m_dirty && !m_stack.empty()) EndDir();
  if (m_dirty) {
    m_dirty = false;
    // Names and data first, so that the new index never points at bytes that are not
    // on the disk; then the index beside the old one, flushed, and renamed over it.
    // Any write to them that failed, even one the C runtime only buffered and that
    // failed later, fails these flushes: the index is then never replaced.
    const std::string idx = PckIndexName(m_base), fresh = idx + ".new";
    CError why;
    bool ok = (LandEntries() || (why = m_error, false)) && (m_dat.Flush() || (why = m_dat.ErrorRecord(), false)) &&
              (m_nam.Flush() || (why = m_nam.ErrorRecord(), false));
    if (ok) {
      CFile out;
      std::string bytes = PckEncodeIndex(m_header, m_index.Records());
      ok = out.Create(fresh) && out.WriteAll(bytes.data(), bytes.size()) && out.Flush();
      ok = out.Close() && ok;
      if (!ok) why = out.ErrorRecord();
      m_renameTried = ok;
      if (ok && !plat::ReplaceFile(fresh, idx)) {
        ok = false;
        why = OsFailure("replace", idx);
      }
    }
    if (!ok) {
      if (plat::FileExists(fresh)) plat::DeleteFile(fresh);
      m_commitFailed = true;
      m_error = why;
    }
  }
  m_dat.Close();
  m_nam.Close();
  // A commit that failed before the index was put in place leaves the package as it
  // was; the space its new names and data took is given back. (After a failed rename
  // the new index may have landed all the same, so nothing is cut then.)
  if (m_commitFailed && m_editing && !m_renameTried) GiveBackAppended();
  m_editing = false;
  return 0;
}

// ---------------------------------------------------------------- lookups

int PckWriter::FindChild(int folder, std::string_view name) const { return m_index.FindChild(folder, name); }

int PckWriter::Find(std::string_view path) const { return m_index.Find(path); }

int PckWriter::FindDeepest(std::string_view path, std::string& rest) const { return m_index.FindDeepest(path, rest); }

std::unique_ptr<PckDirIterator> PckWriter::OpenDir(std::string_view path) { return OpenDir(Find(path)); }

std::unique_ptr<PckDirIterator> PckWriter::OpenDir(int index) { return m_index.OpenDir(index); }

// ---------------------------------------------------------------- names and entries

int64_t PckWriter::WriteName(std::string_view name) {
  const uint64_t at = m_index.Names().size();
  std::string entry = PckEncodeNameEntry(name);
  if (at + entry.size() > kPckMaxOffset) return -1;
  if (!m_nam.Seek(at) || !m_nam.WriteAll(entry.data(), entry.size())) {
    // what reached the file is dead space; the in-memory copy must still match the file
    // offsets of later names, so take the file's own end from now on
    const int64_t len = m_nam.Length();
    if (len > 0) m_index.PadNames(size_t(len));
    return -1;
  }
  return int64_t(m_index.AppendName(entry));
}

// ---------------------------------------------------------------- sequential building

int PckWriter::BeginDir(std::string_view name) {
  if (!IsOpen()) return Fail("package is not open");
  const bool root = m_index.Empty();
  if (root ? !name.empty() : !PckNameIsStorable(name)) return Fail("bad folder name \"" + std::string(name) + "\"");
  if (!root && m_stack.empty()) return Fail("no folder is open");
  if (!root && FindChild(int(m_stack.back()), name) >= 0)
    return Fail(Quoted(name) + " exists already");
  int64_t at = WriteName(name);
  if (at < 0) return Fail("cannot write to " + PckNameTableName(m_base));
  const uint32_t index = m_index.Append(PckRecord::Folder(uint32_t(at)), root ? -1 : int64_t(m_stack.back()), name);
  m_stack.push_back(index);
  m_dirty = true;
  return 0;
}

int PckWriter::AppendFile(std::string_view name, DataStream& source, int codec) {
  if (!IsOpen()) return Fail("package is not open");
  if (!PckNameIsStorable(name)) return Fail("bad file name \"" + std::string(name) + "\"");
  // A file outside every folder would make an index that no reader accepts.
  if (m_stack.empty()) return Fail("no folder is open");
  if (FindChild(int(m_stack.back()), name) >= 0)
    return Fail(Quoted(name) + " exists already");
  PckRecord r;
  r.type = kPckFile;
  // The name first (.nam and .dat fill independently), then the entry, which may land
  // later: the record goes in now and gets its place in .dat when its first block does.
  int64_t at = WriteName(name);
  if (at < 0) return Fail("cannot write to " + PckNameTableName(m_base));
  r.nameOffset = uint32_t(at);
  const uint32_t index = uint32_t(m_index.Size());
  if (!WriteEntryDeferred(source, codec, r, index)) return Fail("cannot store \"" + std::string(name) + "\"");
  PckRecord& top = m_index.Record(m_stack.back());
  top.SetChildCount(top.ChildCount() + 1);
  top.SetSpan(top.Span() + 1);
  m_index.Append(r, int64_t(m_stack.back()), name);
  m_dirty = true;
  return 0;
}

int PckWriter::EndDir() {
  if (m_stack.empty()) return 0;
  const uint32_t closed = m_stack.back();
  m_stack.pop_back();
  m_index.Append(PckRecord::FolderEnd(), m_stack.empty() ? -1 : int64_t(m_stack.back()), {});
  if (!m_stack.empty()) {
    const uint32_t span = m_index.Records()[closed].Span();
    PckRecord& below = m_index.Record(m_stack.back());
    below.SetChildCount(below.ChildCount() + 1);
    below.SetSpan(below.Span() + span + 2);
  }
  m_dirty = true;
  return 0;
}

// ---------------------------------------------------------------- editing

int PckWriter::InsertFolder(uint32_t parent, std::string_view name) {
  int64_t at = WriteName(name);
  if (at < 0) return -1;
  const size_t c = size_t(parent) + m_index.Records()[parent].Span();
  m_index.Insert(c + 1, {PckRecord::Folder(uint32_t(at)), PckRecord::FolderEnd()}, parent, name);
  return int(c + 1);
}

int PckWriter::InsertFile(uint32_t parent, std::string_view name, DataStream& source, int codec) {
  PckRecord r;
  r.type = kPckFile;
  int64_t at = WriteName(name);
  if (at < 0) return -1;
  r.nameOffset = uint32_t(at);
  if (!WriteEntry(source, codec, r)) return -1;
  const size_t d = size_t(parent) + m_index.Records()[parent].Span();
  m_index.Insert(d + 1, {r}, parent, name);
  return int(d + 1);
}

namespace {
bool SplitRest(const std::string& rest, std::vector<std::string_view>& names) {
  if (!PckSplitPath(rest, names) || names.empty()) return false;
  for (std::string_view n : names)
    if (!PckNameIsStorable(n)) return false;
  return true;
}

// The path of the first folder that MakeDir or AddFile creates: the names of `path` that
// exist, and the first one that does not.
std::string FirstNewFolder(std::string_view path, size_t missing) {
  std::vector<std::string_view> all;
  PckSplitPath(path, all);
  std::string out;
  for (size_t i = 0; i + missing <= all.size(); ++i) {
    if (i > 0) out += '/';
    out.append(all[i]);
  }
  return out;
}
}  // namespace

// Both calls change the index only when they succeed. Should one fail after it made some
// of the missing folders, those folders go again: the first of them holds the others and
// no file, so removing it leaves records, spans, counts and dead bytes as they were. The
// index keeps its state of being changed or not, so earlier edits are still committed.
int PckWriter::MakeDir(std::string_view path) {
  // An edit changes records in place; entries of sequential building land first.
  if (!LandEntries()) return -1;
  if (CheckChangeable() != 0) return -1;
  if (!m_stack.empty()) return Fail("folders of sequential building are still open");
  std::string rest;
  int r = FindDeepest(path, rest);
  if (r < 0 || rest.empty()) return Fail(Quoted(path) + " exists or lies below a file");
  std::vector<std::string_view> names;
  if (!SplitRest(rest, names)) return Fail("bad path \"" + std::string(path) + "\"");
  const bool wasDirty = m_dirty;
  for (size_t i = 0; i < names.size(); ++i) {
    r = InsertFolder(uint32_t(r), names[i]);
    if (r < 0) {
      if (i > 0) Delete(FirstNewFolder(path, names.size()));
      m_dirty = wasDirty;
      return Fail("cannot write to " + PckNameTableName(m_base));
    }
  }
  m_dirty = true;
  return 0;
}

int PckWriter::AddFile(std::string_view path, DataStream& source, int codec) {
  // An edit changes records in place; entries of sequential building land first.
  if (!LandEntries()) return -1;
  if (CheckChangeable() != 0) return -1;
  if (!m_stack.empty()) return Fail("folders of sequential building are still open");
  std::string rest;
  int r = FindDeepest(path, rest);
  if (r < 0 || rest.empty()) return Fail(Quoted(path) + " exists or lies below a file");
  std::vector<std::string_view> names;
  if (!SplitRest(rest, names)) return Fail("bad path \"" + std::string(path) + "\"");
  const bool wasDirty = m_dirty;
  auto undo = [&](size_t made, std::string why) {
    if (made > 0) Delete(FirstNewFolder(path, names.size()));
    m_dirty = wasDirty;
    return Fail(std::move(why));
  };
  for (size_t i = 0; i + 1 < names.size(); ++i) {
    r = InsertFolder(uint32_t(r), names[i]);
    if (r < 0) return undo(i, "cannot write to " + PckNameTableName(m_base));
  }
  if (InsertFile(uint32_t(r), names.back(), source, codec) < 0)
    return undo(names.size() - 1, "cannot store \"" + std::string(path) + "\"");
  m_dirty = true;
  return 0;
}

void PckWriter::AddDeadBytes(uint64_t n) {
  // The field is 32-bit; it saturates rather than wrap round to a small number, which
  // would hide dead space from the tidy pass.
  m_header.deadBytes = uint32_t(std::min<uint64_t>(uint64_t(m_header.deadBytes) + n, kPckMaxOffset));
}

int PckWriter::ReplaceFile(std::string_view path, DataStream& source, int codec) {
  // An edit changes records in place; entries of sequential building land first.
  if (!LandEntries()) return -1;
  if (CheckChangeable() != 0) return -1;
  int i = Find(path);
  if (i <= 0 || m_index.Records()[size_t(i)].type != kPckFile) return Fail(Quoted(path) + " is not a file");
  // The new entry is written into a copy; the record changes only once it is complete.
  PckRecord r = m_index.Records()[size_t(i)];
  if (!WriteEntry(source, codec, r)) return Fail("cannot store \"" + std::string(path) + "\"");
  AddDeadBytes(m_index.Records()[size_t(i)].size);
  m_index.Record(size_t(i)) = r;
  m_dirty = true;
  return 0;
}

int PckWriter::Delete(std::string_view path) {
  // An edit changes records in place; entries of sequential building land first.
  if (!LandEntries()) return -1;
  if (CheckChangeable() != 0) return -1;
  // Folders still open in sequential building have spans that do not yet cover their
  // children, so the tree cannot be cut until they are closed.
  if (!m_stack.empty()) return Fail("folders of sequential building are still open");
  int s = Find(path);
  if (s < 0) return Fail(Quoted(path) + " not found");
  if (s == 0) return Fail("the root cannot be deleted");
  AddDeadBytes(m_index.Erase(size_t(s)));
  m_dirty = true;
  return 0;
}
