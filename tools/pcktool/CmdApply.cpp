// The apply command: releases a patch package into a game folder the way the game's
// patcher does, so a publisher can try a patch on a copy of the game before shipping it.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fs/FileTarget.h"
#include "io/IWalkSink.h"
#include "patch/PatchCheck.h"
#include "patch/PatchRelease.h"
#include "pck/PckJournal.h"
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
      // The release's own line first, then the reason for it.
      const WalkErrorEvent e = WalkEventError(data, size);
      if (*e.text) m_error += (m_error.empty() ? "" : ": ") + Trim(e.text);
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

  uint64_t checkBytes = 0, checkFiles = 0;  // for the progress bar of the check
  {
    PckReader reader;
    if (!OpenPackage(reader, patch, opt.password)) return kExitFailed;
    for (const PckRecord& r : reader.Records())
      if (r.type == kPckFile) checkBytes += r.size, ++checkFiles;
  }
  plat::CFolderLock lock;
  if (!TakeFolder(game, lock)) return kExitFailed;

  // Every file of the patch is decoded and compared with its stored MD5, and its place
  // in the game worked out, before anything is written: a damaged patch, one read under
  // the wrong password, or a file that cannot go where it should leaves the game as it
  // was.
  const uint32_t flags = opt.noCreate ? 0 : CFileTarget::kFlagCreatePackages;
  CPatchPlan plan;
  CError problem;
  {
    CProgress progress(checkFiles, checkBytes);
    auto onBlock = [&progress](uint32_t length) {
      progress.AddBytes(length);
      return true;
    };
    if (CheckPatchPackage(patch, g_packageNames, game, flags, opt.password.c_str(), onBlock, plan, problem) != 0)
      return Fail(patch, problem.text);
  }
  // Every file of the patch counts, a delta that the release passes over too.
  const uint64_t files = plan.files.size() + plan.passed.size();

  int rc;
  uint64_t applied;
  bool sinkFailed;
  std::string error;
  {
    CProgress progress(files, 0);
    CApplySink sink(progress);
    CPckJournal journal(game);
    ReleaseOptions options;
    options.journal = &journal;
    options.plan = &plan;
    rc = ApplyPatchPackage(patch, g_packageNames, game, flags, opt.password.c_str(), &sink,
                           int(PckCodec::Lzo1x), options);
    applied = sink.Files();
    sinkFailed = sink.Failed();
    error = sink.Error();
  }
  // An error event with a zero result still means a file was not released.
  if (rc != 0 || sinkFailed) return Fail(patch, error.empty() ? "the release did not complete" : error);
  printf("applied %llu files\n", static_cast<unsigned long long>(applied));
  return kExitOk;
}
