// pcktool create: a sequential build of a folder tree. The tree is listed and sorted
// first, so the bar knows its total and the package files being written never end up
// listed inside themselves; the package is built under a scratch name and moved over
// BASE only when complete, so a failed run leaves an existing package untouched.
#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "io/FileStream.h"
#include "pck/PckWriter.h"
#include "platform/Platform.h"
#include "tools/pcktool/Commands.h"
#include "tools/pcktool/Progress.h"
#include "tools/pcktool/Tool.h"

namespace {

struct PlanItem {
  enum Kind : uint8_t { kFile, kEnter, kLeave } kind;
  std::string name;      // within its folder
  std::string diskPath;  // where it lies on the disk
};

class CTreePlan {
 public:
  // Lists `dir` and everything below it; reports and returns false on the first folder
  // that cannot be listed or entry that cannot be stored.
  bool Scan(const std::string& dir) { return ScanFolder(dir, 0); }

  std::vector<PlanItem> items;
  uint64_t files = 0, bytes = 0;

 private:
  bool ScanFolder(const std::string& dir, int depth);
};

bool CTreePlan::ScanFolder(const std::string& dir, int depth) {
  struct Child {
    std::string name;
    bool isDir;
  };
  std::vector<Child> children;
  plat::CFolderFind find;
  plat::FindData data;
  if (!find.First(dir, data)) return Fail(dir, "cannot list the folder"), false;
  do {
    if (!data.exact) return Fail(dir + "/" + data.name, kNameOutsideCodePage), false;
    if (data.name != "." && data.name != "..") children.push_back({data.name, data.isDir});
  } while (find.Next(data));
  find.Close();
  // Byte order of the names, files and folders interleaved: std::string compares
  // its chars as unsigned bytes.
  std::sort(children.begin(), children.end(), [](const Child& a, const Child& b) { return a.name < b.name; });

  for (const Child& c : children) {
    std::string path = dir + "/" + c.name;
    // Deeper paths could not be looked up in the package; this also ends a walk round
    // a folder link that points at its own parent.
    if (depth + 1 > kPckMaxPathNames)
      return Fail(path, "lies more than " + std::to_string(kPckMaxPathNames) + " folders deep"), false;
    if (!PckNameIsStorable(c.name)) return Fail(path, "name cannot be stored in a package"), false;
    if (c.isDir) {
      items.push_back({PlanItem::kEnter, c.name, path});
      if (!ScanFolder(path, depth + 1)) return false;
      items.push_back({PlanItem::kLeave, c.name, path});
      continue;
    }
    plat::FileInfo info;
    if (!plat::StatPath(path, info)) return Fail(path, "cannot be read"), false;
    // Streams count bytes in 32 bits; a larger size would be taken modulo 2^32 and
    // the file stored cut short.
    if (info.size > INT32_MAX) return Fail(path, "is larger than 2 GiB, which a package cannot hold"), false;
    items.push_back({PlanItem::kFile, c.name, path});
    ++files;
    bytes += uint64_t(info.size);
  }
  return true;
}

// Writes the planned tree into the writer opened by the caller.
int BuildFromPlan(PckWriter& w, const CTreePlan& plan, int codec) {
  CProgress progress(plan.files, plan.bytes);
  if (w.BeginDir("") != 0) return Fail("", w.LastError());
  for (const PlanItem& item : plan.items) {
    if (item.kind == PlanItem::kEnter) {
      if (w.BeginDir(item.name) != 0) return Fail(item.diskPath, w.LastError());
    } else if (item.kind == PlanItem::kLeave) {
      w.EndDir();
    } else {
      auto file = OpenFileStream(item.diskPath, "rb");
      if (!file) return Fail(item.diskPath, "cannot be opened: " + ErrnoText());
      if (file->Size() < 0 || file->Length64() > INT32_MAX)
        return Fail(item.diskPath, "size cannot be read or is over 2 GiB");
      CProgressStream counted(*file, progress);
      if (w.AppendFile(item.name, counted, codec) != 0) return Fail(item.diskPath, w.LastError());
      progress.FileDone();
    }
  }
  w.EndDir();
  return kExitOk;
}

}  // namespace

int RunCreate(const Options& opt) {
  const std::string& dir = opt.operands[0];
  const std::string& base = opt.operands[1];
  plat::FileInfo info;
  if (!plat::StatPath(dir, info)) return Fail(dir, "no such folder");
  if (!info.isDir) return Fail(dir, "is not a folder");

  CTreePlan plan;
  if (!plan.Scan(dir)) return kExitFailed;

  plat::CFolderLock lock;
  if (!TakeFolderOf(base, lock)) return kExitFailed;
  const std::string scratch = ScratchBase(base);
  RemovePackageFiles(scratch);
  PckWriter w;
  w.SetPassword(opt.password.c_str());
  if (w.Create(scratch, opt.blockSize) != 0) return Fail(base, w.LastError());
  if (BuildFromPlan(w, plan, opt.codec) != kExitOk) {
    w.Abandon();
    RemovePackageFiles(scratch);
    return kExitFailed;
  }
  w.Close();
  if (w.CommitFailed()) {
    RemovePackageFiles(scratch);
    return Fail(base, w.LastError());
  }
  return SwapIntoPlace(scratch, base) ? kExitOk : kExitFailed;
}
