// The tidy pass: which packages are rebuilt, what an access error does, and that a swap
// stopped anywhere leaves the package old or new once the next run has looked at it.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "app/RunLog.h"
#include "app/Texts.h"
#include "app/UpdateDlg.h"
#include "pck/PckJournal.h"
#include "tests/support/Faults.h"
#include "tests/support/FileHold.h"
#include "pck/PckReader.h"
#include "platform/Platform.h"
#include "tests/app/ScriptedWindow.h"
#include "tests/support/PackageFixtures.h"

#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

using qvtest::FileMap;

namespace {

const FileMap kFiles = {{"a.txt", std::string(300, 'a')}, {"sub/b.txt", "bee"}};

class TidyPass : public qvtest::PackageDirTest {
 protected:
  void SetUp() override {
    m_keep = std::make_unique<qvtest::CWorkDirGuard>(m_dir.Path());
  }
  void TearDown() override {
    plat::SetFaultHook(nullptr);
    m_keep.reset();
  }

  // A package whose .dat is exactly `datLength` bytes (padded with dead space) and whose
  // header counts `dead` dead bytes.
  void MakePackage(const std::string& base, uint32_t dead, size_t datLength = 1000) {
    qvtest::PackageOptions o;
    o.password = kPckGamePassword;
    ASSERT_EQ(qvtest::BuildPackage(base, kFiles, o), "");
    qvtest::PackageBytes bytes = qvtest::LoadPackageBytes(base);
    ASSERT_LE(bytes.dat.size(), datLength);
    bytes.dat.resize(datLength, '\0');
    PutLE32(reinterpret_cast<uint8_t*>(bytes.idx.data()) + 24, dead);
    qvtest::SavePackageBytes(base, bytes);
  }
  uint32_t DeadBytes(const std::string& base) {
    return GetLE32(reinterpret_cast<const uint8_t*>(qvtest::ReadFile(base + ".idx").data()) + 24);
  }
  bool Tidied(const std::string& base) { return qvtest::ReadFile(base + ".dat").size() < 1000; }
  void RunPass(CScriptedWindow& w) {
    CUpdateDlg dlg(w);
    dlg.m_nTidyDelayMs = 0;
    EXPECT_EQ(dlg.RunTidyPass(kTidyThreshold), 0);
    EXPECT_EQ(dlg.m_strStatus, texts::Load(124));
  }
  // The package reads whole, nothing of a swap is left, and of the scratch names only
  // the game's own files are there, as they were.
  void ExpectIntact(const std::string& base) {
    EXPECT_EQ(qvtest::ImageOf(base, kPckGamePassword).files, kFiles) << base;
    for (const char* scratch : {"tmp", "tmp2", "tmp3"})
      for (const char* ext : {".idx", ".nam", ".dat"}) {
        const std::string f = scratch + std::string(ext);
        auto own = m_own.find(f);
        if (own == m_own.end())
          EXPECT_FALSE(qvtest::Exists(f)) << f;
        else
          EXPECT_EQ(qvtest::ReadFile(f), own->second) << f;
      }
    for (const char* ext : {".idx.old", ".nam.old", ".dat.old"}) EXPECT_FALSE(qvtest::Exists(base + ext)) << ext;
  }
  void WriteOwnFiles() {
    for (const auto& [name, bytes] : m_own) qvtest::WriteFile(name, bytes);
  }

  std::unique_ptr<qvtest::CWorkDirGuard> m_keep;
  // Files of the game named like the pass's scratch copy.
  std::map<std::string, std::string> m_own;
};

}  // namespace

TEST_F(TidyPass, RebuildsOnlyListedPackagesAboveTheThreshold) {
  MakePackage("bld", 400);   // 0.4 is not above 0.4
  MakePackage("cj", 401);    // just above
  MakePackage("mb", 0);      // never
  MakePackage("other", 900); // not a game package
  CScriptedWindow w;
  RunPass(w);
  EXPECT_FALSE(Tidied("bld"));
  EXPECT_TRUE(Tidied("cj"));
  EXPECT_EQ(DeadBytes("cj"), 0u);
  EXPECT_FALSE(Tidied("mb"));
  EXPECT_FALSE(Tidied("other"));
  EXPECT_TRUE(w.boxes.empty());
  ExpectIntact("cj");
  ExpectIntact("bld");
}

TEST_F(TidyPass, EmptyDataFileCountsAsInfiniteOrNotANumber) {
  MakePackage("sy", 5);
  MakePackage("pm", 0);
  // cut both data files to nothing: the dead count decides
  qvtest::WriteFile("sy.dat", "");
  qvtest::WriteFile("pm.dat", "");
  CScriptedWindow w;
  RunPass(w);
  // sy was due (infinite ratio) but its entries are gone: a damaged package, which is
  // left as it is without the access-error box; pm (not a number) was never touched
  EXPECT_EQ(qvtest::ReadFile("pm.dat"), "");
  EXPECT_TRUE(qvtest::Exists("sy.idx"));
  EXPECT_TRUE(w.boxes.empty());
}

TEST_F(TidyPass, ReadOnlyPackageStopsThePassWithMessage125) {
  MakePackage("mb", 900);
  MakePackage("sy", 900);  // after mb in the list: left for a later run
  ASSERT_TRUE(plat::FileExists("mb.idx"));
  std::string before = qvtest::ReadFile("mb.idx");
  // read-only, as the attribute makes it on Windows
  FILE* probe = nullptr;
  (void)probe;
#if defined(_WIN32)
  ASSERT_EQ(_chmod("mb.idx", 0444), 0);
#else
  ASSERT_EQ(chmod("mb.idx", 0444), 0);
#endif
  CScriptedWindow w;
  RunPass(w);
  ASSERT_EQ(w.boxes.size(), 1u);
  EXPECT_EQ(w.boxes[0].text, texts::Load(125));
  EXPECT_EQ(w.boxes[0].caption, texts::Load(106));
  EXPECT_EQ(qvtest::ReadFile("mb.idx"), before);
  EXPECT_FALSE(Tidied("sy"));
  for (const char* f : {"tmp.idx", "tmp.nam", "tmp.dat"}) EXPECT_FALSE(qvtest::Exists(f));
  plat::SetNormalAttributes("mb.idx");
}

// Another program holding the data file open: one that lets nobody in keeps the pass
// from even measuring it (the package is passed over, as one whose data does not open);
// one that lets others read fails the swap, and the player is told. Either way the old
// package stays whole.
TEST_F(TidyPass, APackageHeldOpenByAnotherProgramIsKeptWholeAndReported) {
  for (bool othersMayRead : {false, true}) {
    SCOPED_TRACE(othersMayRead ? "others may read" : "nothing shared");
    MakePackage("mb", 900);
    const qvtest::PackageBytes before = qvtest::LoadPackageBytes("mb");
    qvtest::CFileHold hold;
    if (!hold.Hold("mb.dat", othersMayRead)) GTEST_SKIP() << "files cannot be held open against renames here";
    CScriptedWindow w;
    CUpdateDlg dlg(w);
    dlg.m_nTidyDelayMs = 0;
    dlg.m_bRunLog = true;
    dlg.RunTidyPass(kTidyThreshold);
    hold.Release();
    EXPECT_TRUE(qvtest::LoadPackageBytes("mb") == before);
    ExpectIntact("mb");
    EXPECT_FALSE(qvtest::Exists(kPckJournalName));
    if (!othersMayRead) {
      EXPECT_TRUE(w.boxes.empty());
      continue;
    }
    ASSERT_EQ(w.boxes.size(), 1u);
    EXPECT_EQ(w.boxes[0].text, texts::Load(125));
    // The log says which file and why.
    EXPECT_NE(qvtest::ReadFile(kRunLogName).find("mb.dat"), std::string::npos) << qvtest::ReadFile(kRunLogName);
    plat::DeleteFile(kRunLogName);
  }
}

TEST_F(TidyPass, FailedRenameAtAnyStepKeepsTheOldPackage) {
  for (int k = 1;; ++k) {
    SCOPED_TRACE(k);
    MakePackage("mb", 900);
    int replaces = 0;
    plat::SetFaultHook(qvtest::FailNth(plat::FileOp::Rename, k, &replaces));
    CScriptedWindow w;
    RunPass(w);
    plat::SetFaultHook(nullptr);
    const bool faulted = replaces >= k;
    // a failure anywhere in the swap restores the old files; after the last rename the
    // new package is in place and only its backups are left to go
    ExpectIntact("mb");
    if (!faulted) {
      EXPECT_TRUE(Tidied("mb"));
      break;
    }
    ASSERT_LT(k, 20);
  }
}

// The copy goes under a base that no file has, and the game's own files of that name
// are kept whether there is something to tidy or not; with nothing to tidy the pass
// changes no file at all.
TEST_F(TidyPass, TheGamesOwnTmpFilesAreKeptAndNothingDueTouchesNothing) {
  m_own = {{"tmp.idx", "the game's"}, {"tmp.dat", ""}, {"tmp2.nam", "the game's too"}};
  for (bool due : {false, true}) {
    SCOPED_TRACE(due ? "mb due" : "nothing due");
    WriteOwnFiles();
    MakePackage("mb", due ? 900 : 0);
    int changes = 0;
    {
      qvtest::CFaultHook count([&](plat::FileOp op, const std::string&) {
        if (op != plat::FileOp::Open && op != plat::FileOp::Close) ++changes;
        return plat::Fault::None;
      });
      CScriptedWindow w;
      RunPass(w);
      EXPECT_TRUE(w.boxes.empty());
    }
    EXPECT_EQ(Tidied("mb"), due);
    EXPECT_EQ(changes > 0, due);
    ExpectIntact("mb");
    EXPECT_FALSE(qvtest::Exists(kPckJournalName));
  }
}

#if !defined(_WIN32)
// Stopped at any file operation, the compaction's copy included; the game has a file
// tmp.idx of its own, which the copy must not take nor the next run delete.
// A rebuild that would not fit on the disk is not started: the package is passed over
// with a log line, and the pass goes on without a box.
TEST_F(TidyPass, APackageWhoseRebuildWouldNotFitIsPassedOver) {
  MakePackage("mb", 900);
  plat::SetFreeSpaceHook([](const std::string&, uint64_t) { return uint64_t(0); });
  CScriptedWindow w;
  RunPass(w);
  plat::SetFreeSpaceHook(nullptr);
  EXPECT_TRUE(w.boxes.empty());
  EXPECT_FALSE(Tidied("mb"));
  ExpectIntact("mb");
  EXPECT_FALSE(qvtest::Exists(kPckJournalName));
}

TEST_F(TidyPass, ProcessStoppedAtAnyFileOperationIsRepairedByTheNextRun) {
  m_own = {{"tmp.idx", "the game's"}};
  for (int k = 1;; ++k) {
    SCOPED_TRACE(k);
    WriteOwnFiles();
    MakePackage("mb", 900);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int operations = 0;
      plat::SetFaultHook([&](plat::FileOp, const std::string&) {
        if (++operations == k) _exit(3);
        return plat::Fault::None;
      });
      CScriptedWindow w;
      CUpdateDlg dlg(w);
      dlg.m_nTidyDelayMs = 0;
      dlg.RunTidyPass(kTidyThreshold);
      _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    const bool stopped = WEXITSTATUS(status) == 3;
    // the next run settles the swap from the journal before anything else, then finds
    // the package whole, old or new
    CPckJournal journal("");
    EXPECT_TRUE(journal.Recover()) << journal.Error().text;
    EXPECT_FALSE(qvtest::Exists(kPckJournalName));
    CScriptedWindow w;
    RunPass(w);
    ExpectIntact("mb");
    EXPECT_TRUE(Tidied("mb"));  // old (then tidied now) or new: either way it is small
    if (!stopped) break;
    ASSERT_LT(k, 200);
  }
}
#endif

TEST_F(TidyPass, ADamagedPackageIsLeftWithALogLineAndTheOthersAreStillTidied) {
  MakePackage("cj", 900);
  MakePackage("sy", 900);  // after cj in the list
  // cj's index ends in a partial record
  qvtest::WriteFile("cj.idx", qvtest::ReadFile("cj.idx") + std::string(10, '\0'));
  const qvtest::PackageBytes cj = qvtest::LoadPackageBytes("cj");
  CScriptedWindow w;
  CUpdateDlg dlg(w);
  dlg.m_nTidyDelayMs = 0;
  dlg.m_bRunLog = true;
  dlg.RunTidyPass(kTidyThreshold);
  EXPECT_TRUE(w.boxes.empty());  // no access error
  EXPECT_TRUE(qvtest::LoadPackageBytes("cj") == cj);
  EXPECT_TRUE(Tidied("sy"));
  ExpectIntact("sy");
  const std::string log = qvtest::ReadFile(kRunLogName);
  size_t lines = 0;
  for (size_t at = 0; (at = log.find("cj.idx", at)) != std::string::npos; ++at) ++lines;
  EXPECT_EQ(lines, 1u) << log;
  for (const char* f : {"tmp.idx", "tmp.nam", "tmp.dat"}) EXPECT_FALSE(qvtest::Exists(f)) << f;
}
