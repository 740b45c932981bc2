// The tidy pass: rebuilds the game's packages whose dead bytes exceed a share of their
// data, and puts each rebuilt copy in place of the old files.
//
// A package is three files, and no rename changes three files at once. So the swap keeps
// the old files under "<base>.<ext>.old" until the new ones are all in place, moving the
// old index aside first and the new index in last: while "<base>.idx.old" exists, a swap
// is under way, and "tmp.idx" still being there tells that the new index never landed.
// RecoverPackageSwap reads exactly that, so a run stopped anywhere in the swap is
// finished (new index in place) or rolled back (old files restored) by the next one.
#include "app/RunLog.h"
#include "app/Sinks.h"
#include "app/Texts.h"
#include "app/UpdateDlg.h"
#include "patch/PatchRelease.h"
#include "pck/PckCompact.h"
#include "io/File.h"
#include "pck/PckFormat.h"
#include "platform/Platform.h"

namespace {

constexpr const char* kTemp = "tmp";
const char* const kExts[] = {"idx", "nam", "dat"};  // the order the old files go aside

std::string Name(const std::string& base, const char* ext) { return base + "." + ext; }
std::string Old(const std::string& base, const char* ext) { return Name(base, ext) + ".old"; }

void DeleteTemporaries() {
  for (const char* ext : kExts) plat::DeleteFile(Name(kTemp, ext));
}

// Whether a package needs rebuilding: dead bytes above `threshold` of its data file.
// A package whose index or data cannot be opened, or whose header is short, is left.
bool NeedsTidying(const std::string& base, float threshold) {
  CFile idx, dat;
  if (!idx.Open(Name(base, "idx"), "rb")) return false;
  if (!dat.Open(Name(base, "dat"), "rb")) return false;
  const int64_t length = dat.Length();
  dat.Close();
  uint8_t header[kPckHeaderSize];
  if (length < 0 || !idx.ReadExact(header, sizeof header)) return false;
  // An empty data file with dead bytes gives an infinite ratio (rebuilt); with none, not
  // a number (left alone).
  const long double ratio = static_cast<long double>(GetLE32(header + 24)) / static_cast<long double>(length);
  return ratio > static_cast<long double>(threshold);
}

}  // namespace

void RecoverPackageSwap(const std::string& base) {
  if (!plat::FileExists(Old(base, "idx"))) return;
  if (plat::FileExists(Name(kTemp, "idx"))) {
    // The new index never landed: the old files go back.
    for (const char* ext : kExts)
      if (plat::FileExists(Old(base, ext))) plat::ReplaceFile(Old(base, ext), Name(base, ext));
  } else {
    // The new package is whole: only the old files are left to remove, index last.
    plat::DeleteFile(Old(base, "nam"));
    plat::DeleteFile(Old(base, "dat"));
    plat::DeleteFile(Old(base, "idx"));
  }
}

bool CUpdateDlg::SwapInPackage(const std::string& base) {
  // Old files aside, index first: from here the old package is whole under its backups.
  for (const char* ext : kExts)
    if (!plat::ReplaceFile(Name(base, ext), Old(base, ext))) {
      RecoverPackageSwap(base);
      return false;
    }
  // New files in, index last: the new package exists from the moment its index lands.
  for (const char* ext : {"nam", "dat", "idx"})
    if (!plat::ReplaceFile(Name(kTemp, ext), Name(base, ext))) {
      RecoverPackageSwap(base);
      return false;
    }
  RecoverPackageSwap(base);  // removes the backups
  return true;
}

void CUpdateDlg::TidyAccessError() {
  DeleteTemporaries();
  LogRun("访问文件出错,请重启程序后再次整理.");
  m_window.Repaint();
  ShowMessage(texts::Load(125));
}

int CUpdateDlg::RunTidyPass(float threshold) {
  LogRun("正在整理更新包 : Patch, 请稍候...");
  m_bRepaintText = true;
  ShowStatus(126);
  m_window.Repaint();
  DrawTidyText(m_strStatus);
  m_bRepaintText = false;

  // A swap that a stopped run left half done is settled before anything else.
  for (const char* const* p = g_packageNames; *p; ++p) RecoverPackageSwap(*p);
  DeleteTemporaries();

  for (const char* const* p = g_packageNames; *p; ++p) {
    const std::string base = *p;
    if (!NeedsTidying(base, threshold)) continue;
    plat::SleepMs(m_nTidyDelayMs);
    CTidySink sink(*this);
    sink.m_bLog = m_bTidyLog;
    // A failed rebuild leaves partial temporaries, which must never replace a package.
    if (CompactPackage(base, kTemp, &sink) != 0) {
      TidyAccessError();
      break;
    }
    if (!plat::IsWritable(Name(base, "idx")) || !plat::IsWritable(Name(base, "nam")) ||
        !plat::IsWritable(Name(base, "dat")) || !SwapInPackage(base)) {
      TidyAccessError();
      break;
    }
    DeleteTemporaries();
  }

  LogRun("整理更新包 : Patch, --- ok!");
  m_window.Repaint();
  m_bRepaintText = true;
  ShowStatus(124);
  DrawTidyText(m_strStatus);
  m_bRepaintText = false;
  return 0;
}
