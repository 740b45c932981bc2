// The tidy pass: rebuilds the game's packages whose dead bytes exceed a share of their
// data, and puts each rebuilt copy in place of the old files.
//
// A package is three files, and no rename changes three files at once. The swap
// (PckSwapIn) lists itself in the game folder's package journal for its length, keeps
// the old files under "<base>.<ext>.old" until the new ones are all in place and moves
// the new index in last; the update run settles the journal before anything else, so a
// run stopped anywhere in the swap is finished or rolled back by the next one.
//
// The compaction writes its copy under a base that no file has ("tmp", else "tmp2",
// ...), listed in the journal before the first of its files exists: the pass deletes
// only what it made, and the next run deletes what a stopped one left because the
// journal names it, never because of its name.
#include <string>
#include <vector>

#include "app/RunLog.h"
#include "app/Sinks.h"
#include "app/Texts.h"
#include "app/UpdateDlg.h"
#include "io/File.h"
#include "patch/PatchRelease.h"
#include "patch/SpaceEstimate.h"
#include "pck/PckCompact.h"
#include "pck/PckFormat.h"
#include "pck/PckJournal.h"
#include "pck/PckSummary.h"
#include "platform/Platform.h"

namespace {

const char* const kExts[] = {"idx", "nam", "dat"};
constexpr int kScratchNames = 1000;

std::string Name(const std::string& base, const char* ext) { return base + "." + ext; }

// The base of the compaction's copy: "tmp", else "tmp2", "tmp3"... the first none of
// whose files exists; "" when all are taken.
std::string FreeScratchBase() {
  for (int n = 1; n <= kScratchNames; ++n) {
    const std::string base = n == 1 ? "tmp" : "tmp" + std::to_string(n);
    bool taken = false;
    for (const char* ext : kExts) taken = taken || plat::FileExists(Name(base, ext));
    if (!taken) return base;
  }
  return {};
}

std::vector<PckJournalEntry> ScratchEntries(const std::string& scratch) {
  std::vector<PckJournalEntry> entries;
  for (const char* ext : kExts) entries.push_back({PckJournalEntry::kTemp, Name(scratch, ext), "", 0});
  return entries;
}

// Deletes the copy this pass made, for good before the journal forgets it.
void DeleteScratch(const std::string& scratch) {
  for (const char* ext : kExts)
    if (plat::FileExists(Name(scratch, ext))) plat::DeleteFile(Name(scratch, ext));
  plat::SyncFolder("");
}

// The journal forgets the files of the copy that are gone (moved in or deleted); one
// still there stays listed, for a swap's recovery or for the next run to delete.
void ForgetScratch(CPckJournal& journal, const std::string& scratch) {
  std::vector<PckJournalEntry> gone;
  for (const PckJournalEntry& entry : ScratchEntries(scratch))
    if (!plat::FileExists(entry.base)) gone.push_back(entry);
  journal.Drop(gone);
}

// Whether a package needs rebuilding: dead bytes above `threshold` of its data file.
// A package whose index or data cannot be opened, or whose header is short, is left.
// (Only the dead-byte count of the header counts here, not its magic or version.)
bool NeedsTidying(const std::string& base, float threshold) {
  // (A folder under a package's name would open on some systems, but is no package.)
  if (plat::IsFolder(Name(base, "dat"))) return false;
  PckIndexSummary summary;
  const PckIndexRead read = PckReadIndexSummary(Name(base, "idx"), summary, /*countFiles=*/false);
  if (read == PckIndexRead::CannotOpen || read == PckIndexRead::ShortHeader) return false;
  CFile dat;
  if (!dat.Open(Name(base, "dat"), "rb")) return false;
  const int64_t length = dat.Length();
  if (length < 0) return false;
  // An empty data file with dead bytes gives an infinite ratio (rebuilt); with none, not
  // a number (left alone).
  const long double ratio = static_cast<long double>(summary.header.deadBytes) / static_cast<long double>(length);
  return ratio > static_cast<long double>(threshold);
}

}  // namespace

// (The caller has already put away the copy it made.)
void CUpdateDlg::TidyAccessError() {
  LogRun("访问文件出错,请重启程序后再次整理.");
  m_window.Repaint();
  ShowMessage(texts::Load(texts::kTextAccessError));
}

int CUpdateDlg::RunTidyPass(float threshold) {
  LogRun("正在整理更新包 : Patch, 请稍候...");
  m_bRepaintText = true;
  ShowStatus(texts::kTextTidying);
  m_window.Repaint();
  DrawTidyText(m_strStatus);
  m_bRepaintText = false;

  CPckJournal journal("");
  for (const char* const* p = g_packageNames; *p; ++p) {
    const std::string base = *p;
    if (!NeedsTidying(base, threshold)) continue;
    // A rebuild that cannot fit beside the package is not started: a package left
    // untidied is tidied by a later update, when there is room.
    uint64_t free = 0;
    const uint64_t need = WithSpaceMargin(CompactionSpaceNeeded(base));
    if (plat::FreeSpace("", free) && free < need) {
      LogRun("整理更新包 %s 失败, 已跳过: 磁盘空间不足 (需要 %u MB, 可用 %u MB)", base.c_str(),
             unsigned(ToMegabytes(need)), unsigned(free >> 20));
      continue;
    }
    plat::SleepMs(m_nTidyDelayMs);
    // The copy's files are listed before the first of them exists.
    const std::string scratch = FreeScratchBase();
    if (scratch.empty() || !journal.Add(ScratchEntries(scratch))) {
      LogRun("%s", scratch.empty() ? "no free name for the copy of a package" : journal.Error().text.c_str());
      TidyAccessError();
      break;
    }
    CTidySink sink(*this);
    sink.m_bLog = m_bTidyLog;
    // A failed rebuild leaves a partial copy, which must never replace a package.
    // A package that is itself damaged cannot be rebuilt and is left as it is; the
    // others are still tidied. A file that cannot be read or written ends the pass.
    CError failure;
    if (CompactPackage(base, scratch, &sink, &failure) != 0) {
      DeleteScratch(scratch);
      ForgetScratch(journal, scratch);
      if (failure.kind == ErrorKind::Damaged) {
        LogRun("整理更新包 %s 失败, 已跳过: %s", base.c_str(), failure.text.c_str());
        continue;
      }
      LogRun("%s", failure.text.c_str());
      TidyAccessError();
      break;
    }
    if (!plat::IsWritable(Name(base, "idx")) || !plat::IsWritable(Name(base, "nam")) ||
        !plat::IsWritable(Name(base, "dat"))) {
      DeleteScratch(scratch);
      ForgetScratch(journal, scratch);
      TidyAccessError();
      break;
    }
    // The swap moves the copy in, or rolls back and deletes it; only when even that
    // fails does the copy stay, for the swap's recovery.
    CError why;
    const bool swapped = PckSwapIn(scratch, base, journal, &why);
    ForgetScratch(journal, scratch);
    if (!swapped) {
      LogRun("%s", why.text.c_str());
      TidyAccessError();
      break;
    }
  }

  LogRun("整理更新包 : Patch, --- ok!");
  m_window.Repaint();
  m_bRepaintText = true;
  ShowStatus(texts::kTextTidyDone);
  DrawTidyText(m_strStatus);
  m_bRepaintText = false;
  return 0;
}
