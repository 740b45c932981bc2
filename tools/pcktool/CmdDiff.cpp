// pcktool diff: the patch that turns one game folder into another.
//
// The game's packages are compared entry by entry through their stored sizes and MD5s,
// so unchanged entries are never decoded and changed ones are copied into the patch
// block for block as they are stored; plain files are compared by content. What the
// new game no longer has becomes an empty file in the patch (an entry or folder of a
// package) or a line of Delete.txt (a plain file or folder, or a whole package). Before
// anything is kept, the patch is checked against the old game exactly as the updater
// checks it, so a patch that would fail on the player's machine is never handed out.
//
// A changed file that the old game has goes as a delta of its decoded content against
// the old one, under "~delta/", its own path and the old content's MD5, where that is
// worth it (README, "Delta patches"); --no-delta carries every file whole.
#include <algorithm>
#include <climits>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "delta/Delta.h"
#include "io/Digest.h"
#include "io/File.h"
#include "io/FileStream.h"
#include "patch/PatchCheck.h"
#include "patch/PatchRelease.h"
#include "payload/PayloadFormat.h"
#include "pck/PckCodecs.h"
#include "pck/PckEntryLayout.h"
#include "pck/PckJournal.h"
#include "pck/PckWriter.h"
#include "platform/PathText.h"
#include "platform/Platform.h"
#include "tools/pcktool/Commands.h"
#include "tools/pcktool/GameDiff.h"
#include "tools/pcktool/Progress.h"
#include "tools/pcktool/Tool.h"

namespace {

// The folder the deltas are written into before they go into the patch. What an earlier,
// stopped run left there goes first; it goes once the patch is written, before the patch
// takes its place, so that a run that reports success leaves nothing behind.
bool RemoveScratchFolder(const std::string& dir) {
  if (!plat::FileExists(dir)) return true;
  plat::CFolderFind find;
  plat::FindData data;
  std::vector<std::string> files;
  if (find.First(dir, data)) do {
      if (!data.isDir) files.push_back(dir + "/" + data.name);
    } while (find.Next(data));
  find.Close();
  bool ok = true;
  for (const std::string& f : files) ok = plat::DeleteFile(f) && ok;
  return plat::RemoveDir(dir) && ok;
}
struct CScratchFolder {
  explicit CScratchFolder(std::string dir) : path(std::move(dir)) { RemoveScratchFolder(path); }
  ~CScratchFolder() { RemoveScratchFolder(path); }
  std::string path;
};

// A file on its way into the patch: counted for the bar, and a delta with the time stamp
// of the file it stands for.
class CStampedStream : public CProgressStream {
 public:
  CStampedStream(DataStream& inner, CProgress& progress, bool stamped, int32_t stamp)
      : CProgressStream(inner, progress), m_stamped(stamped), m_stamp(stamp) {}
  int32_t Stamp() override { return m_stamped ? m_stamp : CProgressStream::Stamp(); }

 private:
  bool m_stamped;
  int32_t m_stamp;
};

// Writes the planned tree into the writer opened by the caller.
bool WriteNode(PckWriter& w, const Node& node, CProgress& progress, const std::string& where) {
  for (const auto& [name, child] : node.children) {
    const std::string path = where.empty() ? name : where + "/" + name;
    if (child.source == Node::kFolder) {
      if (w.BeginDir(name) != 0) return Fail(path, w.LastError()), false;
      if (!WriteNode(w, child, progress, path)) return false;
      w.EndDir();
      continue;
    }
    std::unique_ptr<DataStream> source;
    char nothing = 0;
    if (child.source == Node::kEntry)
      source = child.reader->OpenEntry(child.index);
    else if (child.source == Node::kDisk)
      source = OpenFileStream(child.disk, "rb");
    else
      source = std::make_unique<MemoryStream>(&nothing, 0);
    if (!source) return Fail(child.source == Node::kDisk ? child.disk : path, "cannot be opened"), false;
    CStampedStream counted(*source, progress, child.delta, child.stamp);
    // A delta does not compress: it goes as it is.
    if (w.AppendFile(name, counted, int(child.delta ? PckCodec::Stored : PckCodec::Lzo1x)) != 0)
      return Fail(path, w.LastError()), false;
    progress.FileDone();
  }
  return true;
}

bool WriteDeleteList(const std::string& path, const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  const std::string temp = path + ".new";
  CFile file;
  const bool ok = file.Create(temp) && file.WriteAll(text.data(), text.size()) && file.Flush() && file.Close();
  if (!ok || !plat::ReplaceFile(temp, path)) {
    const std::string why = file.Failed() ? file.Error() : plat::LastError().text;
    plat::DeleteFile(temp);
    return Fail(path, why), false;
  }
  return true;
}

uint64_t PackageBytes(const std::string& base) {
  uint64_t total = 0;
  for (const std::string& f : {PckIndexName(base), PckNameTableName(base), PckDataName(base)}) {
    plat::FileInfo info;
    if (plat::StatPath(f, info)) total += uint64_t(info.size);
  }
  return total;
}

}  // namespace

int RunDiff(const Options& opt) {
  const std::string& oldRoot = opt.operands[0];
  const std::string& newRoot = opt.operands[1];
  const std::string& out = opt.operands[2];
  std::vector<std::string> olds = {oldRoot};
  olds.insert(olds.end(), opt.from.begin(), opt.from.end());
  for (const std::string& dir : olds)
    if (!plat::IsFolder(dir)) return Fail(dir, "is not a folder");
  if (!plat::IsFolder(newRoot)) return Fail(newRoot, "is not a folder");

  // One patch for every old game: each compared with the new one, the trees joined.
  CGameDiff diff(oldRoot, newRoot, opt.password);
  if (!diff.Run()) return kExitFailed;
  for (const std::string& older : opt.from) {
    CGameDiff other(older, newRoot, opt.password);
    if (!other.Run() || !diff.Absorb(other)) return kExitFailed;
  }

  if (!plat::IsFolder(out) && !plat::MakeFolders(out)) return Fail(out, "cannot create the folder");
  plat::CFolderLock lock;
  if (!TakeFolder(out, lock)) return kExitFailed;
  const std::string base = out + "/patch", scratch = ScratchBase(base);
  RemovePackageFiles(scratch);
  std::unique_ptr<CScratchFolder> deltas;
  if (!opt.noDelta) {
    deltas = std::make_unique<CScratchFolder>(base + ".pcktool-deltas");
    if (!plat::MakeDir(deltas->path)) return Fail(deltas->path, plat::LastError().text);
    if (!diff.MakeDeltas(opt.deltaLevel < 0 ? kDeltaDefaultLevel : opt.deltaLevel, deltas->path, scratch))
      return kExitFailed;
  }
  PckWriter w;
  w.SetPassword(opt.password.c_str());
  if (w.Create(scratch) != 0) return Fail(base, w.LastError());
  {
    CProgress progress(diff.Files(), diff.Bytes());
    const bool ok = w.BeginDir("") == 0 && WriteNode(w, diff.Root(), progress, "");
    if (!ok) {
      w.Abandon();
      RemovePackageFiles(scratch);
      return kExitFailed;
    }
    w.EndDir();
  }
  w.Close();
  if (w.CommitFailed()) {
    RemovePackageFiles(scratch);
    return Fail(base, w.LastError());
  }
  if (deltas && !RemoveScratchFolder(deltas->path)) {
    const std::string why = plat::LastError().text;
    RemovePackageFiles(scratch);
    return Fail(deltas->path, "cannot be removed: " + why);
  }
  // The updater's own check, against the old game: what it would refuse is not made.
  // The old game is only read (it may be a read-only copy), never opened for writing.
  // It applies every delta to the old game's file and compares the result with the new
  // file's MD5.
  for (const std::string& old : olds) {
    CPatchPlan plan;
    CError problem;
    if (CheckPatchPackage(scratch, g_packageNames, old, CFileTarget::kFlagCreatePackages, opt.password.c_str(),
                          nullptr, plan, problem, GameAccess::ReadOnly) != 0) {
      RemovePackageFiles(scratch);
      return Fail("diff", "the updater would refuse this patch on the old game " + ShowName(old) + ": " + problem.text);
    }
  }
  // An earlier run's Delete.txt goes before the new patch lands, so that a stop in
  // between leaves a patch without a Delete.txt rather than one with another's.
  const std::string deleteList = out + "/Delete.txt";
  if (plat::FileExists(deleteList) && !plat::DeleteFile(deleteList)) return Fail(deleteList, plat::LastError().text);
  if (!SwapIntoPlace(scratch, base)) return kExitFailed;
  if (!WriteDeleteList(deleteList, diff.Deletes())) return kExitFailed;
  diff.PrintSummary(PackageBytes(base));

  if (!opt.updaterImage.empty()) {
    CPayloadBuilder builder;
    std::string why;
    for (const std::string& f : {PckIndexName(base), PckNameTableName(base), PckDataName(base), deleteList})
      if (!builder.Add(f.substr(f.rfind('/') + 1), f, why)) return Fail(f, why);
    bool signatureRemoved = false;
    if (!builder.Write(opt.updaterImage, opt.updaterExe, why, &signatureRemoved)) return Fail(opt.updaterExe, why);
    if (signatureRemoved) NoteSignatureRemoved("diff", opt.updaterImage, opt.updaterExe);
    printf("built %s\n", Shown(opt.updaterExe).c_str());
  }
  return kExitOk;
}
