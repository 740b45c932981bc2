// The reading commands: list, cat, extract and verify. Content is decoded block by
// block through PckReader::ReadBlock, so a damaged file is reported with its block
// number, and every file's MD5 is checked against the index before it counts as read.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "pck/PckCodecs.h"
#include "pck/PckReader.h"
#include "platform/PathText.h"
#include "platform/Platform.h"
#include "tools/pcktool/Commands.h"
#include "tools/pcktool/Progress.h"
#include "tools/pcktool/Terminal.h"
#include "tools/pcktool/Tool.h"

namespace {

using BlockSink = std::function<bool(const uint8_t*, size_t)>;

enum class DecodeResult { kOk, kDamaged, kSinkFailed };

// Decodes file record `index`, handing each block to `sink` (which may be empty) and
// the byte counts to `progress`. On kDamaged `problem` says what is wrong.
DecodeResult DecodeFile(PckReader& reader, int index, const BlockSink& sink, CProgress* progress,
                        std::string& problem) {
  uint32_t bad = 0;
  const int rc = reader.VerifyEntry(
      index,
      [&](const uint8_t* data, uint32_t length) {
        if (sink && !sink(data, length)) return false;
        if (progress) progress->AddBytes(length);
        return true;
      },
      &bad);
  if (rc == -2) return DecodeResult::kSinkFailed;
  if (rc == 0) return DecodeResult::kOk;
  problem = bad == PckReader::kDigestMismatch ? "digest mismatch" : "block " + std::to_string(bad) + " does not decode";
  return DecodeResult::kDamaged;
}

// Totals of the file records, for the bar.
void CountFiles(const PckReader& reader, uint64_t& files, uint64_t& bytes) {
  files = bytes = 0;
  for (const PckRecord& r : reader.Records())
    if (r.type == kPckFile) ++files, bytes += r.size;
}

// Writes one file record to `out`; on failure nothing of it stays on the disk.
int ExtractFile(PckReader& reader, int index, const std::string& entry, const std::string& out,
                const std::string& base, CProgress& progress) {
  plat::FileInfo info;
  if (plat::StatPath(out, info)) {
    if (info.isDir) return Fail(out, "is a folder, cannot write entry " + entry + " there");
    // A link left in the target folder would lead the write elsewhere; a new file
    // takes its place instead.
    plat::DeleteFile(out);
  }
  FILE* f = plat::OpenFile(out, "wb");
  if (!f) return Fail(out, "cannot be created: " + ErrnoText());
  std::string problem;
  DecodeResult result = DecodeFile(
      reader, index, [f](const uint8_t* p, size_t n) { return fwrite(p, 1, n, f) == n; }, &progress, problem);
  bool closed = fclose(f) == 0;
  if (result != DecodeResult::kOk || !closed) {
    plat::DeleteFile(out);
    if (result == DecodeResult::kDamaged) return Fail(PckDataName(base), entry + ": " + problem);
    return Fail(out, "write failed: " + ErrnoText());
  }
  const int32_t stamp = reader.Records()[size_t(index)].stamp;
  if (stamp != 0 && !plat::SetFileTime(out, stamp)) return Fail(out, "cannot set the file time");
  return kExitOk;
}

}  // namespace

int RunList(const Options& opt) {
  PckReader reader;
  if (!OpenPackage(reader, opt.operands[0], "")) return kExitFailed;
  WalkRecords(reader, [](int, const PckRecord& r, const std::string& path) {
    if (r.type == kPckFile)
      printf("f\t%u\t%d\t%s\t%s\n", r.size, r.stamp, Md5Hex(r.digest).c_str(), ShowName(path).c_str());
    else if (r.type == kPckFolder)
      printf("d\t%u\t-\t-\t%s\n", r.ChildCount(), ShowName(path).c_str());
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
  std::string problem;
  DecodeResult result = DecodeFile(
      reader, index, [](const uint8_t* p, size_t n) { return fwrite(p, 1, n, stdout) == n; }, nullptr, problem);
  if (result == DecodeResult::kDamaged) return Fail(PckDataName(base), path + ": " + problem);
  if (result == DecodeResult::kSinkFailed) return Fail("standard output", "write failed");
  return kExitOk;
}

int RunExtract(const Options& opt) {
  const std::string& base = opt.operands[0];
  const std::string& dir = opt.operands[1];
  PckReader reader;
  if (!OpenPackage(reader, base, opt.password)) return kExitFailed;

  // Every name is checked before the first byte is written.
  std::string unsafe;
  WalkRecords(reader, [&unsafe, &reader](int i, const PckRecord& r, const std::string& path) {
    if (r.type != kPckFolderEnd && !plat::IsSafeName(reader.Name(i))) unsafe = path;
    return unsafe.empty();
  });
  if (!unsafe.empty())
    return Fail(base, "entry \"" + unsafe + "\" has a name that is unsafe on a disk; nothing was extracted");

  if (!plat::MakeFolders(dir)) return Fail(dir, "cannot create the folder");
  uint64_t files, bytes;
  CountFiles(reader, files, bytes);
  CProgress progress(files, bytes);
  int rc = kExitOk;
  WalkRecords(reader, [&](int i, const PckRecord& r, const std::string& path) {
    const std::string out = dir + "/" + path;
    if (r.type == kPckFile) {
      rc = ExtractFile(reader, i, path, out, base, progress);
      progress.FileDone();
    } else if (r.type == kPckFolder) {
      plat::FileInfo info;
      if (!(plat::StatPath(out, info) && info.isDir) && !plat::MakeDir(out))
        rc = Fail(out, "cannot create the folder");
    }
    return rc == kExitOk;
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
  WalkRecords(reader, [&](int i, const PckRecord& r, const std::string& path) {
    if (r.type != kPckFile) return true;
    std::string problem;
    if (DecodeFile(reader, i, {}, &progress, problem) != DecodeResult::kOk) {
      CProgress::EraseActive();  // standard output may share the terminal with the bar
      printf("bad: %s: %s\n", ShowName(path).c_str(), problem.c_str());
      fflush(stdout);
      ++bad;
    }
    progress.FileDone();
    return true;
  });
  progress.Finish();
  if (bad > 0)
    return Fail(base, std::to_string(bad) + " of " + std::to_string(files) + " files are damaged");
  printf("ok: %llu files verified\n", (unsigned long long)files);
  return kExitOk;
}
