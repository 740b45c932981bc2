// The editing commands (add, replace, delete, mkdir) and compact. An edit is one
// OpenForEdit, one operation and one Close: a failed operation is abandoned, so the
// package's index stays as it was, and a failed commit is reported as a failure.
#include <algorithm>
#include <climits>
#include <functional>
#include <string>
#include <vector>

#include "io/FileStream.h"
#include "io/IWalkSink.h"
#include "pck/PckCompact.h"
#include "pck/PckWriter.h"
#include "platform/Platform.h"
#include "tools/pcktool/Commands.h"
#include "tools/pcktool/Progress.h"
#include "tools/pcktool/Tool.h"

namespace {

// Files already in a package were enciphered under one password; a file added under
// another would be unreadable beside them. So before anything is written, the password
// must decode (to the stored MD5) one of the package's smallest files, if it has any.
bool PasswordFits(const std::string& base, const std::string& password) {
  PckReader reader;
  if (!OpenPackage(reader, base, password)) return false;
  const auto& records = reader.Records();
  std::vector<int> candidates;
  for (size_t i = 0; i < records.size(); ++i)
    if (records[i].type == kPckFile && records[i].size > 0) candidates.push_back(int(i));
  if (candidates.empty()) return true;
  const size_t tries = std::min<size_t>(3, candidates.size());
  std::partial_sort(candidates.begin(), candidates.begin() + std::ptrdiff_t(tries), candidates.end(),
                    [&records](int a, int b) { return records[size_t(a)].size < records[size_t(b)].size; });
  for (size_t t = 0; t < tries; ++t)
    if (reader.VerifyEntry(candidates[t]) == 0) return true;
  Fail(base, "the password does not decode the files already in the package (see --password)");
  return false;
}

// Opens the package, runs `op` and commits.
int Edit(const std::string& base, const std::string& password, bool writesContent,
         const std::function<int(PckWriter&)>& op) {
  plat::CFolderLock lock;
  if (!TakeFolderOf(base, lock)) return kExitFailed;
  PckReader probe;
  if (!OpenPackage(probe, base, "")) return kExitFailed;
  probe.Close();
  if (writesContent && !PasswordFits(base, password)) return kExitFailed;
  PckWriter w;
  w.SetPassword(password.c_str());
  if (w.OpenForEdit(base) != 0) return Fail("", w.LastError());
  if (op(w) != 0) {
    std::string why = w.LastError();
    w.Abandon();
    return Fail(base, why);
  }
  w.Close();
  if (w.CommitFailed()) return Fail(base, w.LastError());
  return kExitOk;
}

// Stores a disk file through AddFile or ReplaceFile.
int StoreFile(const Options& opt, bool replace) {
  const std::string& base = opt.operands[0];
  const std::string& path = opt.operands[1];
  const std::string& file = opt.operands[2];
  plat::FileInfo info;
  if (!plat::StatPath(file, info)) return Fail(file, plat::LastError().text);
  if (info.isDir) return Fail(file, "is a folder");
  if (info.size > INT32_MAX) return Fail(file, "is larger than 2 GiB, which a package cannot hold");
  auto stream = OpenFileStream(file, "rb");
  if (!stream) return Fail(file, "cannot be opened: " + ErrnoText());
  if (stream->Size() < 0 || stream->Length64() > INT32_MAX) return Fail(file, "size cannot be read or is over 2 GiB");
  return Edit(base, opt.password, true, [&](PckWriter& w) {
    CProgress progress(1, uint64_t(stream->Size()));
    CProgressStream counted(*stream, progress);
    return replace ? w.ReplaceFile(path, counted, opt.codec) : w.AddFile(path, counted, opt.codec);
  });
}

// Counts the files compaction copies, for the bar.
class CCompactSink : public IWalkSink {
 public:
  explicit CCompactSink(CProgress& progress) : m_progress(progress) {}
  void OnEvent(int32_t type, const void*, int32_t) override {
    if (type == kWalkFileDone) m_progress.FileDone();
  }

 private:
  CProgress& m_progress;
};

}  // namespace

int RunAdd(const Options& opt) { return StoreFile(opt, false); }

int RunReplace(const Options& opt) { return StoreFile(opt, true); }

int RunDelete(const Options& opt) {
  return Edit(opt.operands[0], "", false, [&](PckWriter& w) { return w.Delete(opt.operands[1]); });
}

int RunMkdir(const Options& opt) {
  return Edit(opt.operands[0], "", false, [&](PckWriter& w) { return w.MakeDir(opt.operands[1]); });
}

// The copy is made under a scratch name beside TARGET and moved over it when complete,
// so TARGET may be BASE itself and a failed run leaves TARGET as it was.
int RunCompact(const Options& opt) {
  const std::string& base = opt.operands[0];
  const std::string& target = opt.operands[1];
  plat::CFolderLock lock;
  if (!TakeFolderOf(target, lock)) return kExitFailed;
  uint64_t files = 0;
  {
    // The reader's checks keep a damaged index from being copied as it is.
    PckReader reader;
    if (!OpenPackage(reader, base, "")) return kExitFailed;
    for (const PckRecord& r : reader.Records()) files += r.type == kPckFile;
  }
  const std::string scratch = ScratchBase(target);
  RemovePackageFiles(scratch);
  CError why;
  int rc;
  {
    CProgress progress(files, 0);
    CCompactSink sink(progress);
    rc = CompactPackage(base, scratch, &sink, &why);
  }
  if (rc != 0) {
    RemovePackageFiles(scratch);
    return Fail(base, why.text);
  }
  return SwapIntoPlace(scratch, target) ? kExitOk : kExitFailed;
}
