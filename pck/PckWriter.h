// Creates packages and edits them in place. New names and data are only ever appended
// to .nam and .dat; the index lives in memory and is committed at Close by writing a new
// index beside the old one and renaming it over it, after the appended names and data
// are on the disk. Until that rename the package on disk is exactly what it was, so a
// crash or a full disk at any moment leaves the old package or the new one.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "io/DataStream.h"
#include "pck/PckCodecs.h"
#include "io/File.h"
#include "pck/PckFormat.h"
#include "pck/PckIndex.h"
#include "pck/PckReader.h"
#include "pck/PckTree.h"

class CEntryPipeline;

class PckWriter {
 public:
  PckWriter();
  // Performs Close.
  virtual ~PckWriter();
  PckWriter(const PckWriter&) = delete;
  PckWriter& operator=(const PckWriter&) = delete;

  // ---- editing (after OpenForEdit) ----
  // Creates every missing folder of `path`; -1 when all of it exists.
  virtual int MakeDir(std::string_view path);
  // Creates the missing folders and a file at the last name; -1 when the file exists.
  virtual int AddFile(std::string_view path, DataStream& source, int codec);
  // Gives an existing file new content; the record keeps its place and name.
  virtual int ReplaceFile(std::string_view path, DataStream& source, int codec);
  // Removes a file, or a folder with its whole subtree. The root cannot be deleted.
  virtual int Delete(std::string_view path);

  // ---- sequential building (after Create) ----
  virtual int BeginDir(std::string_view name);
  virtual int AppendFile(std::string_view name, DataStream& source, int codec);
  virtual int EndDir();

  virtual std::unique_ptr<PckDirIterator> OpenDir(std::string_view path);
  virtual std::unique_ptr<PckDirIterator> OpenDir(int index);
  virtual void SetPassword(const char* text);
  virtual int Hook() { return 0; }

  int Create(const std::string& base, uint32_t blockSize = kPckDefaultBlockSize);
  int OpenForEdit(const std::string& base);
  // Opens the package with every check that OpenForEdit makes but its files for reading
  // only, to look at what an edit would meet: every change then fails, and nothing of the
  // package is ever opened for writing, created or written.
  int OpenToCheck(const std::string& base);
  // Commits the index when it changed and closes the files. Always 0; CommitFailed()
  // tells whether the commit failed (the package then stays as it was).
  int Close();
  // Closes without committing, as if the process had stopped: the package stays as it
  // was when opened.
  void Abandon();

  int Find(std::string_view path) const;
  int FindChild(int folder, std::string_view name) const;
  // Follows `path` as far as it exists: the last record found (0 when the first name is
  // missing) with the names not found in `rest`, joined with "/"; -1 when a name before
  // the last resolves to a file.
  int FindDeepest(std::string_view path, std::string& rest) const;

  bool CommitFailed() const { return m_commitFailed; }
  // Why the last call failed: its text, and the whole record.
  const std::string& LastError() const { return m_error.text; }
  const CError& Error() const { return m_error; }
  const PckHeader& Header() const { return m_header; }
  const std::vector<PckRecord>& Records() const { return m_index.Records(); }
  std::string_view Name(int index) const;

 private:
  int Fail(CError error);
  // A request that cannot be done ("exists already"), or the failed write behind it.
  int Fail(std::string why);
  bool IsOpen() const { return m_dat.IsOpen(); }
  int Open(const std::string& base, bool forEdit);
  // 0 when the open package may be changed, else -1 with the reason.
  int CheckChangeable();
  // Appends a name to .nam; its offset, or -1.
  int64_t WriteName(std::string_view name);
  // Appends a file's entry to .dat and fills the record's data offset, size, digest and
  // time stamp; false (and the record untouched) when anything fails.
  bool WriteEntry(DataStream& source, int codec, PckRecord& record);
  // The same for sequential building, where the entry may land after the call (its
  // offset then goes into record `index`, which the caller adds right away): the next
  // entries need not wait for it. LandEntries lands everything on its way and says
  // whether all of it was written; DropEntries forgets it.
  bool WriteEntryDeferred(DataStream& source, int codec, PckRecord& record, uint32_t index);
  bool LandEntries();
  void DropEntries();
  CEntryPipeline& Pipeline();
  int InsertFolder(uint32_t parent, std::string_view name);
  int InsertFile(uint32_t parent, std::string_view name, DataStream& source, int codec);
  void AddDeadBytes(uint64_t n);
  // Cuts .dat and .nam back to their lengths when opened for editing.
  void GiveBackAppended();

  friend class CEntryPipeline;
  CPckCipher m_cipher;
  std::unique_ptr<CEntryPipeline> m_pipeline;  // blocks on their way to .dat
  std::string m_base;
  CFile m_dat, m_nam;
  PckHeader m_header;
  CPckIndex m_index;                   // records and the whole .nam, in step with the files
  std::vector<uint32_t> m_stack;       // folders opened by BeginDir
  uint64_t m_datEnd = 0;
  bool m_dirty = false;
  bool m_commitFailed = false;
  bool m_editing = false;      // opened by OpenForEdit: the files existed before
  bool m_readOnly = false;     // opened by OpenToCheck
  bool m_renameTried = false;  // the commit got as far as renaming the new index
  uint64_t m_datStart = 0, m_namStart = 0;  // their lengths when opened
  CError m_error;
};
