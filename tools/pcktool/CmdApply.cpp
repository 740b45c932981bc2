// The apply command: releases a patch package into a game folder the way the game's
// patcher does, so a publisher can try a patch on a copy of the game before shipping it.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fs/FileTarget.h"
#include "patch/IWalkSink.h"
#include "patch/PatchRelease.h"
#include "pck/PckCodecs.h"
#include "pck/PckFormat.h"
#include "pck/PckReader.h"
#include "platform/PathText.h"
#include "platform/Platform.h"
#include "tools/pcktool/Commands.h"
#include "tools/pcktool/Progress.h"
#include "tools/pcktool/Tool.h"

namespace {

// Counts the files taken on, drives the bar and keeps the first error: the release stops
// at its first failure, and that one says what went wrong.
class CApplySink : public IWalkSink {
 public:
  explicit CApplySink(CProgress& progress) : m_progress(progress) {}

  void OnEvent(int32_t type, const void* data, int32_t size) override {
    if (type == kWalkFileDone) {
      ++m_files;
      m_progress.FileDone();
    } else if (type == kWalkError) {
      m_failed = true;
      if (!m_error.empty()) return;
      struct {
        int32_t code;
        const char* text;
      } pair{};
      if (!data || size < int32_t(sizeof pair)) return;
      std::memcpy(&pair, data, sizeof pair);
      if (pair.text) m_error = Trim(pair.text);
    }
  }

  uint64_t Files() const { return m_files; }
  bool Failed() const { return m_failed; }
  const std::string& Error() const { return m_error; }

 private:
  // The patcher's texts end in "\r\n" for its log; the tool prints one clean line.
  static std::string Trim(std::string text) {
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) text.pop_back();
    size_t start = 0;
    while (start < text.size() && (text[start] == '\r' || text[start] == '\n')) ++start;
    return text.substr(start);
  }

  CProgress& m_progress;
  uint64_t m_files = 0;
  bool m_failed = false;
  std::string m_error;
};

// Decodes every file of the patch and compares it with its stored MD5 before anything
// is written: the release copies what the blocks decode to, so a damaged patch or one
// read under the wrong password would otherwise put garbage into the game. Counts the
// files for the bar.
bool CheckPatch(PckReader& reader, const std::string& patch, uint64_t& files) {
  uint64_t bytes = 0;
  files = 0;
  for (const PckRecord& r : reader.Records())
    if (r.type == kPckFile) ++files, bytes += r.size;
  CProgress progress(files, bytes);
  const uint32_t bs = reader.Header().blockSize;
  std::vector<uint8_t> buffer(bs);
  std::string bad;
  WalkRecords(reader, [&](int index, const PckRecord& r, const std::string& path) {
    if (r.type != kPckFile) return true;
    CMd5 md5;
    for (uint32_t b = 0, n = PckBlockCount(r.size, bs); b < n; ++b) {
      const uint32_t expect = uint32_t(std::min<uint64_t>(bs, uint64_t(r.size) - uint64_t(b) * bs));
      const int got = reader.ReadBlock(index, int(b), buffer.data());
      if (got < 0 || uint32_t(got) != expect) {
        bad = path;
        return false;
      }
      md5.Update(buffer.data(), expect);
      progress.AddBytes(expect);
    }
    uint8_t digest[16];
    md5.Final(digest);
    if (std::memcmp(digest, r.digest, 16) != 0) {
      bad = path;
      return false;
    }
    progress.FileDone();
    return true;
  });
  if (bad.empty()) return true;
  Fail(patch, bad + ": does not decode to its stored MD5 (a damaged patch, or another --password)");
  return false;
}

}  // namespace

int RunApply(const Options& opt) {
  const std::string& patch = opt.operands[0];
  std::string game = opt.operands[1];

  if (!PackageExists(patch)) return Fail(patch, "no such package (" + PckIndexName(patch) + ", .nam and .dat)");
  plat::FileInfo info;
  if (!plat::StatPath(game, info)) return Fail(game, "no such folder");
  if (!info.isDir) return Fail(game, "is not a folder");
  // The release joins "/" and the relative path to the folder; a root ("/" or "C:\")
  // comes out as "" or "C:", which still names the same place.
  while (!game.empty() && plat::IsSeparator(game.back())) game.pop_back();

  uint64_t files = 0;
  {
    PckReader reader;
    if (!OpenPackage(reader, patch, opt.password)) return kExitFailed;
    if (!CheckPatch(reader, patch, files)) return kExitFailed;
  }

  int rc;
  uint64_t applied;
  bool sinkFailed;
  std::string error;
  {
    CProgress progress(files, 0);
    CApplySink sink(progress);
    const uint32_t flags = opt.noCreate ? 0 : CFileTarget::kFlagCreatePackages;
    rc = ApplyPatchPackage(patch, g_packageNames, game, flags, opt.password.c_str(), &sink,
                           int(PckCodec::Lzo1x));
    applied = sink.Files();
    sinkFailed = sink.Failed();
    error = sink.Error();
  }
  // An error event with a zero result still means a file was not released.
  if (rc != 0 || sinkFailed) return Fail(patch, error.empty() ? "the release did not complete" : error);
  printf("applied %llu files\n", static_cast<unsigned long long>(applied));
  return kExitOk;
}
