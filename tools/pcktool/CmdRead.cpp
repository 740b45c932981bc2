// The reading commands: list, cat, extract and verify. Content is decoded block by
// block through PckReader::ReadBlock, so a damaged file is reported with its block
// number, and every file's MD5 is checked against the index before it counts as read.
#include <cstdio>
#include <string>
#include <vector>

#include "io/File.h"
#include "pck/PckCodecs.h"
#include "pck/PckReader.h"
#include "platform/PathText.h"
#include "platform/Platform.h"
#include "tools/pcktool/Commands.h"
#include "tools/pcktool/Progress.h"
#include "tools/pcktool/Terminal.h"
#include "tools/pcktool/Tool.h"

namespace {

// Totals of the file records, for the bar.
void CountFiles(const PckReader& reader, uint64_t& files, uint64_t& bytes) {
  files = bytes = 0;
  for (const PckRecord& r : reader.Records())
    if (r.type == kPckFile) ++files, bytes += r.size;
}

// The problem of a file that VerifyEntries found damaged.
std::string Problem(uint32_t badBlock) {
  return badBlock == PckReader::kDigestMismatch ? "digest mismatch"
                                                 : "block " + std::to_string(badBlock) + " does not decode";
}

// The files of a package in index order, with their paths.
struct FileList {
  std::vector<int> indices;
  std::vector<std::string> paths;
};
FileList FilesOf(const PckReader& reader) {
  FileList list;
  WalkRecords(reader, [&](int i, const PckRecord& r, const std::string& path) {
    if (r.type == kPckFile) {
      list.indices.push_back(i);
      list.paths.push_back(path);
    }
    return true;
  });
  return list;
}

}  // namespace

int RunList(const Options& opt) {
  PckReader reader;
  if (!OpenPackage(reader, opt.operands[0], "")) return kExitFailed;
  WalkRecords(reader, [](int, const PckRecord& r, const std::string& path) {
    if (r.type == kPckFile)
      printf("f\t%u\t%d\t%s\t%s\n", r.size, r.stamp, Md5Hex(r.digest).c_str(), Shown(path).c_str());
    else if (r.type == kPckFolder)
      printf("d\t%u\t-\t-\t%s\n", r.ChildCount(), Shown(path).c_str());
    return true;
  });
  return kExitOk;
}

int RunCat(const Options& opt) {
  const std::string& base = opt.operands[0];
  const std::string& path = opt.operands[1];
  PckReader reader;
  if (!OpenPackage(reader, base, opt.password)) return kExitFailed;
  int index = reader.Find(path);
  if (index < 0) return Fail(base, "no entry \"" + path + "\"");
  if (reader.Records()[size_t(index)].type != kPckFile) return Fail(base, "\"" + path + "\" is a folder");
  term::SetStdoutBinary();
  uint32_t bad = 0;
  const int rc = reader.VerifyEntry(
      index, [](const uint8_t* p, uint32_t n) { return fwrite(p, 1, n, stdout) == n; }, &bad);
  if (rc == -2) return Fail("standard output", "write failed");
  if (rc != 0) return Fail(PckDataName(base), path + ": " + Problem(bad));
  return kExitOk;
}

int RunExtract(const Options& opt) {
  const std::string& base = opt.operands[0];
  const std::string& dir = opt.operands[1];
  PckReader reader;
  if (!OpenPackage(reader, base, opt.password)) return kExitFailed;

  // Every name is checked before the first byte is written, by the rules of this
  // system's disks: what Windows cannot hold (CON, aux.tga, "a:b") is refused there, and
  // a POSIX disk takes it.
  std::string unsafe;
  WalkRecords(reader, [&unsafe, &reader](int i, const PckRecord& r, const std::string& path) {
    if (r.type != kPckFolderEnd && !plat::IsCreatableName(reader.Name(i))) unsafe = path;
    return unsafe.empty();
  });
  if (!unsafe.empty())
    return Fail(base, "entry \"" + unsafe + "\" has a name that is unsafe on a disk; nothing was extracted");

  if (!plat::MakeFolders(dir)) return Fail(dir, "cannot create the folder");
  int rc = kExitOk;
  // The folders first (each comes before what it holds), then the files, decoded on the
  // block workers and written here in order.
  WalkRecords(reader, [&](int, const PckRecord& r, const std::string& path) {
    if (r.type != kPckFolder) return true;
    const std::string out = dir + "/" + path;
    plat::FileInfo info;
    if (!(plat::StatPath(out, info) && info.isDir) && !plat::MakeDir(out)) rc = Fail(out, "cannot create the folder");
    return rc == kExitOk;
  });
  if (rc != kExitOk) return rc;
  const FileList files = FilesOf(reader);
  uint64_t count, bytes;
  CountFiles(reader, count, bytes);
  CProgress progress(count, bytes);
  CFile out;
  size_t opened = SIZE_MAX;  // the file `out` is for
  // Opens the output of file n, a new file in place of whatever had the name (a link
  // left in the target folder would lead the write elsewhere).
  auto open = [&](size_t n) {
    opened = n;
    const std::string path = dir + "/" + files.paths[n];
    plat::FileInfo info;
    if (plat::StatPath(path, info) && info.isDir) {
      rc = Fail(path, "is a folder, cannot write entry " + files.paths[n] + " there");
      return false;
    }
    if (!out.Create(path)) {
      rc = Fail(path, "cannot be created: " + out.ErrorRecord().reason);
      return false;
    }
    return true;
  };
  reader.VerifyEntries(
      files.indices,
      [&](size_t n, const uint8_t* data, uint32_t length) {
        if (opened != n && !open(n)) return false;
        progress.AddBytes(length);
        if (out.WriteAll(data, length)) return true;
        rc = Fail(out.Path(), "write failed: " + out.ErrorRecord().reason);
        return false;
      },
      [&](size_t n, int result, uint32_t badBlock) {
        if (rc != kExitOk) return;
        if (opened != n && !open(n)) return;
        const std::string path = out.Path();
        // On any failure nothing of the file stays on the disk.
        if (!out.Close() || result != 0) {
          plat::DeleteFile(path);
          rc = result != 0 ? Fail(PckDataName(base), files.paths[n] + ": " + Problem(badBlock))
                           : Fail(path, "write failed: " + out.ErrorRecord().reason);
          return;
        }
        const int32_t stamp = reader.Records()[size_t(files.indices[n])].stamp;
        if (stamp != 0 && !plat::SetFileTime(path, stamp)) rc = Fail(path, "cannot set the file time");
        progress.FileDone();
      });
  if (rc != kExitOk) return rc;
  progress.Finish();
  // Folder times last, once no child is created in them any more.
  WalkRecords(reader, [&](int, const PckRecord& r, const std::string& path) {
    if (r.type == kPckFolder && r.stamp != 0 && !plat::SetFileTime(dir + "/" + path, r.stamp))
      rc = Fail(dir + "/" + path, "cannot set the folder time");
    return rc == kExitOk;
  });
  return rc;
}

int RunVerify(const Options& opt) {
  const std::string& base = opt.operands[0];
  PckReader reader;
  if (!OpenPackage(reader, base, opt.password)) return kExitFailed;
  uint64_t files, bytes, bad = 0;
  CountFiles(reader, files, bytes);
  CProgress progress(files, bytes);
  const FileList list = FilesOf(reader);
  reader.VerifyEntries(
      list.indices,
      [&](size_t, const uint8_t*, uint32_t length) {
        progress.AddBytes(length);
        return true;
      },
      [&](size_t n, int result, uint32_t badBlock) {
        if (result != 0) {
          CProgress::EraseActive();  // standard output may share the terminal with the bar
          printf("bad: %s: %s\n", Shown(list.paths[n]).c_str(), plat::ToConsoleText(Problem(badBlock)).c_str());
          fflush(stdout);
          ++bad;
        }
        progress.FileDone();
      });
  progress.Finish();
  if (bad > 0)
    return Fail(base, std::to_string(bad) + " of " + std::to_string(files) + " files are damaged");
  printf("ok: %llu files verified\n", (unsigned long long)files);
  return kExitOk;
}
