// The update run end to end against a scripted window: the failure table, Delete.txt,
// the busy guard, the progress and the logs.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include "app/RunLog.h"
#include "app/Sinks.h"
#include "app/Texts.h"
#include "app/UpdateDlg.h"
#include "payload/PayloadFormat.h"
#include "pck/PckReader.h"
#include "platform/Platform.h"
#include "tests/app/ScriptedWindow.h"
#include "tests/support/PackageFixtures.h"

using qvtest::FileMap;

namespace {

const std::string kPw = kPckGamePassword;

class UpdateRun : public qvtest::PackageDirTest {
 public:
  void SetUp() override {
    qvtest::MakeDirs(Game());
    qvtest::WriteFile(G("mb.dat"), "marker");
    qvtest::WriteFile(G("CVer.txt"), "[Ver]\r\nCurVer=1.0.5\r\n");
    qvtest::WriteFile(Path("image.bin"), std::string(3000, 'M'));
  }
  std::string Game() const { return Path("game"); }
  std::string G(const std::string& rel) const { return Game() + "/" + rel; }

  // Builds a patch package from `files` (plus a CVer.txt offering 1.0.6 over 1.0.5) and an
  // updater executable in the game folder that carries it.
  void MakeUpdater(FileMap files, bool withPayload = true) {
    files.emplace("CVer.txt", "[Ver]\r\nCurVer=1.0.6\r\nValidVer=1.0.5\r\n");
    qvtest::PackageOptions o;
    o.password = kPw;
    o.codec = 2;
    qvtest::MakeDirs(Path("src"));
    ASSERT_EQ(qvtest::BuildPackage(Path("src/patch"), files, o), "");
    if (!withPayload) {
      qvtest::WriteFile(G("updater"), qvtest::ReadFile(Path("image.bin")));
      for (const char* ext : {".idx", ".nam", ".dat"})
        qvtest::WriteFile(G(std::string("patch") + ext), qvtest::ReadFile(Path("src/patch") + ext));
      return;
    }
    CPayloadBuilder builder;
    std::string why;
    for (const char* ext : {".idx", ".nam", ".dat"})
      ASSERT_TRUE(builder.Add(std::string("patch") + ext, Path("src/patch") + ext, why)) << why;
    ASSERT_TRUE(builder.Write(Path("image.bin"), G("updater"), why)) << why;
  }

  // One run, as a click on Update; the working directory is put back afterwards.
  void Run(CScriptedWindow& w, CUpdateDlg& dlg) {
    qvtest::CWorkDirGuard keep(plat::GetWorkDir());
    dlg.m_strModulePath = G("updater");
    dlg.m_nTidyDelayMs = 0;
    dlg.OnUpdate();
    (void)w;
  }

  std::vector<std::string> BoxTexts(const CScriptedWindow& w) {
    std::vector<std::string> out;
    for (const auto& b : w.boxes) out.push_back(b.text);
    return out;
  }
};

}  // namespace

TEST_F(UpdateRun, SuccessfulRunPatchesTheGameCleansUpAndCloses) {
  MakeUpdater({{"readme.txt", "new readme"}, {"bld/ui/a.tga", "art"}, {"docs/x.txt", "x"}});
  CScriptedWindow w;
  CUpdateDlg dlg(w);
  Run(w, dlg);
  EXPECT_TRUE(w.closed);
  EXPECT_FALSE(dlg.m_bBusy);
  ASSERT_FALSE(w.boxes.empty());
  EXPECT_EQ(w.boxes.back().text, texts::Load(122));
  EXPECT_EQ(w.boxes.back().caption, texts::Load(106));
  EXPECT_EQ(w.boxes.back().flags, plat::kMbOk | plat::kMbIconInfo);
  EXPECT_EQ(dlg.m_nFileCount, 4);
  EXPECT_EQ(qvtest::ReadFile(G("readme.txt")), "new readme");
  EXPECT_EQ(qvtest::ImageOf(G("bld"), kPw).files, (FileMap{{"ui/a.tga", "art"}}));
  EXPECT_EQ(qvtest::ReadFile(G("CVer.txt")), "[Ver]\r\nCurVer=1.0.6\r\nValidVer=1.0.5\r\n");
  for (const char* f : {"patch.idx", "patch.nam", "patch.dat", "Ver.dat", "LogLocalUpdate.txt", "LogPatch.txt",
                        "LogTidy.txt", "tmp.idx"})
    EXPECT_FALSE(qvtest::Exists(G(f))) << f;
  ASSERT_FALSE(w.progress.empty());
  EXPECT_EQ(w.progress.back(), 100);
}

TEST_F(UpdateRun, ProgressGoesThirtyThreeSixtySixHundred) {
  MakeUpdater({{"a.txt", "a"}, {"b.txt", "b"}});  // with CVer.txt, three files
  CScriptedWindow w;
  CUpdateDlg dlg(w);
  Run(w, dlg);
  EXPECT_EQ(w.progress, (std::vector<int>{33, 66, 100}));
  EXPECT_NE(std::find(w.texts.begin(), w.texts.end(), texts::Format(102, 2, 3)), w.texts.end());
  EXPECT_EQ(ProgressPosition(1, 0), 0);
  EXPECT_EQ(ProgressPosition(4, 3), 133);
}

TEST_F(UpdateRun, FailuresEndTheRunWithStatus118AndKeepThePatch) {
  struct Row {
    const char* what;
    std::function<void(UpdateRun&)> arrange;
    int box;
  };
  const Row rows[] = {
      {"mb.dat missing", [](UpdateRun& t) { plat::DeleteFile(t.G("mb.dat")); }, 117},
      {"patch.idx missing", [](UpdateRun& t) { plat::DeleteFile(t.G("patch.idx")); }, 121},
      {"short header", [](UpdateRun& t) { qvtest::WriteFile(t.G("patch.idx"), "qellib"); }, 119},
      {"version 1",
       [](UpdateRun& t) {
         std::string idx = qvtest::ReadFile(t.G("patch.idx"));
         idx[16] = 1;
         qvtest::WriteFile(t.G("patch.idx"), idx);
       },
       120},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    MakeUpdater({{"a.txt", "a"}}, /*withPayload=*/false);
    row.arrange(*this);
    CScriptedWindow w;
    CUpdateDlg dlg(w);
    Run(w, dlg);
    ASSERT_FALSE(w.boxes.empty());
    EXPECT_EQ(w.boxes.back().text, texts::Load(row.box));
    EXPECT_EQ(dlg.m_strStatus, texts::Load(118));
    EXPECT_FALSE(dlg.m_bBusy);
    EXPECT_FALSE(w.closed);
    EXPECT_FALSE(qvtest::Exists(G("a.txt")));
    qvtest::WriteFile(G("mb.dat"), "marker");
  }
}

TEST_F(UpdateRun, ExecutableWithoutPayloadReportsItAndAppliesThePatchInTheFolder) {
  MakeUpdater({{"a.txt", "a"}}, /*withPayload=*/false);
  CScriptedWindow w;
  CUpdateDlg dlg(w);
  Run(w, dlg);
  ASSERT_GE(w.boxes.size(), 2u);
  EXPECT_EQ(w.boxes.front().text.rfind(texts::Format(114, 0).substr(0, 10), 0), 0u);
  EXPECT_TRUE(w.closed);
  EXPECT_EQ(qvtest::ReadFile(G("a.txt")), "a");
}

TEST_F(UpdateRun, RefusedVersionEndsWithStatus118AndTheGameUntouched) {
  qvtest::WriteFile(G("CVer.txt"), "[Ver]\r\nCurVer=1.0.4\r\n");  // older than ValidVer 1.0.5
  MakeUpdater({{"a.txt", "a"}});
  CScriptedWindow w;
  CUpdateDlg dlg(w);
  Run(w, dlg);
  EXPECT_EQ(dlg.m_strStatus, texts::Load(118));
  EXPECT_FALSE(qvtest::Exists(G("a.txt")));
  ASSERT_FALSE(w.boxes.empty());
  EXPECT_EQ(w.boxes.back().caption, "Exit");
}

TEST_F(UpdateRun, SecondClickDuringTheRunOnlyShowsTheBusyMessage) {
  MakeUpdater({{"a.txt", "a"}});
  CScriptedWindow w;
  CUpdateDlg dlg(w);
  w.onDrain = [&] { dlg.OnUpdate(); };
  Run(w, dlg);
  EXPECT_EQ(w.boxes.front().text, texts::Load(112));
  EXPECT_TRUE(w.closed);
  EXPECT_EQ(qvtest::ReadFile(G("a.txt")), "a");
}

TEST_F(UpdateRun, DeleteTxtRemovesListedPathsOnlyInsideTheGame) {
  MakeUpdater({{"a.txt", "a"}});
  qvtest::WriteFile(G("old1.txt"), "1");
  qvtest::WriteFile(G("old2.txt"), "2");
  qvtest::MakeDirs(G("oldfolder/sub"));
  qvtest::WriteFile(G("oldfolder/sub/f"), "f");
  qvtest::MakeDirs(G("logs"));
  qvtest::WriteFile(G("logs/a.log"), "a");
  qvtest::WriteFile(G("logs/b.log"), "b");
  qvtest::WriteFile(G("logs/keep.txt"), "k");
  qvtest::WriteFile(Path("outside.txt"), "must stay");
  qvtest::WriteFile(G("Delete.txt"), "old1.txt\r\n\r\n   \r\n  old2.txt  \r\noldfolder\r\nlogs/*.log\r\n../outside.txt\r\n" +
                                         Path("outside.txt") + "\r\n");
  CScriptedWindow w;
  CUpdateDlg dlg(w);
  Run(w, dlg);
  for (const char* gone : {"old1.txt", "old2.txt", "oldfolder", "logs/a.log", "logs/b.log", "Delete.txt"})
    EXPECT_FALSE(qvtest::Exists(G(gone))) << gone;
  EXPECT_TRUE(qvtest::Exists(G("logs/keep.txt")));
  EXPECT_EQ(qvtest::ReadFile(Path("outside.txt")), "must stay");
}

TEST_F(UpdateRun, LogsAreWrittenOnlyWhenSwitchedOn) {
  MakeUpdater({{"docs/a.txt", "a"}});
  CScriptedWindow w;
  CUpdateDlg dlg(w);
  dlg.m_bRunLog = dlg.m_bPatchLog = true;
  Run(w, dlg);
  std::string run = qvtest::ReadFile(G(kRunLogName));
  EXPECT_EQ(run.rfind("\r\nUpdate --- Begin!\r\nLOMPATCH, written by Ardel, Sornwick Ltd. 2004\r\n", 0), 0u);
  EXPECT_NE(run.find("找到所需文件: mb.dat!\r\n"), std::string::npos);
  EXPECT_NE(run.find("Patch DONE! TotalDir:(0)  TotalFile:(2)\r\n"), std::string::npos);
  EXPECT_NE(run.find("Update --- End!\r\n"), std::string::npos);
  std::string patch = qvtest::ReadFile(G(kPatchLogName));
  EXPECT_NE(patch.find("0:\tProcessing file: "), std::string::npos);
  EXPECT_NE(patch.find("1:\tProcessing file: "), std::string::npos);
  EXPECT_FALSE(qvtest::Exists(G(kTidyLogName)));
}

TEST_F(UpdateRun, PatchSinkLinesForAFolderWithOneFile) {
  qvtest::CWorkDirGuard keep(plat::GetWorkDir());
  plat::SetWorkDir(Game());
  CScriptedWindow w;
  CUpdateDlg dlg(w);
  dlg.m_nFileCount = 1;
  CPatchSink sink(dlg);
  sink.m_bLog = true;
  sink.Post(kWalkEnterDir, "p/d");
  sink.Post(kWalkFileBegin, "p/d/f");
  sink.Post(kWalkFileDone, "p/d/f");
  sink.Post(kWalkLeaveDir, "p/d");
  const std::string rule(60, '>');
  EXPECT_EQ(qvtest::ReadFile(kPatchLogName), rule + "\r\n\r\nEntering Dir  : p/d ...\r\n\r\n0:\tProcessing file: p/d/f ... \r\nok!\r\n"
                                                    "Leaving Dir   : p/d ...\r\n\r\n" + rule + "\r\n\r\n");
  EXPECT_EQ(sink.m_nFilesDone, 1);
  EXPECT_EQ(sink.m_nFoldersDone, 1);
  EXPECT_EQ(w.drains, 4);
  EXPECT_EQ(w.progress, (std::vector<int>{100}));
}

TEST_F(UpdateRun, ClosingTheWindowDuringTheRunAbortsTheReleaseWith118) {
  // No payload to copy: the first drain is the release's own.
  MakeUpdater({{"a.txt", "a"}, {"b.txt", "b"}}, false);
  CScriptedWindow w;
  CUpdateDlg dlg(w);
  w.onDrain = [] { g_bAbort = true; };  // as Exit confirmed from a pumped message
  Run(w, dlg);
  g_bAbort = false;
  EXPECT_EQ(dlg.m_strStatus, texts::Load(118));
  EXPECT_FALSE(qvtest::Exists(G("a.txt")));
  EXPECT_FALSE(w.closed);  // the dialog, already closing, ends on its own
}

namespace {

// Every file below `root` with its bytes, except the updater's own patch files.
std::map<std::string, std::string> FilesBelow(const std::string& root) {
  std::map<std::string, std::string> out;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
    const std::string rel = e.path().generic_string().substr(root.size() + 1);
    if (rel.rfind("patch.", 0) == 0) continue;
    out[rel] = e.is_directory() ? "<folder>" : qvtest::ReadFile(e.path().generic_string());
  }
  return out;
}

}  // namespace

TEST_F(UpdateRun, ADamagedOrImpossiblePatchLeavesTheGameByteIdentical) {
  struct Row {
    const char* what;
    FileMap files;
    std::function<void(qvtest::PackageBytes&)> damage;
    std::function<void(UpdateRun&)> game;  // an odd game folder
    int why = 0;                           // the reason the box must give, when not damage
  };
  const std::string longName(240, 'n');
  auto package = [](UpdateRun& t) {
    qvtest::PackageOptions o;
    o.password = kPw;
    ASSERT_EQ(qvtest::BuildPackage(t.G("bld"), {{"ui/a.tga", qvtest::PseudoRandom(3000, 9)}}, o), "");
  };
  const Row rows[] = {
      {"a flipped byte in patch.dat", {{"a.txt", qvtest::PseudoRandom(5000, 1)}},
       [](qvtest::PackageBytes& b) { b.dat[b.dat.size() / 2] ^= 0x10; }, nullptr},
      {"a wrong digest", {{"a.txt", "a"}, {"b.txt", "b"}},
       // record 2 (a.txt): a 64-byte header, 33-byte records, the digest at byte 9
       [](qvtest::PackageBytes& b) { b.idx[kPckHeaderSize + 2 * kPckRecordSize + 9] ^= 1; }, nullptr},
      {"a truncated patch.dat", {{"a.txt", qvtest::PseudoRandom(5000, 2)}},
       [](qvtest::PackageBytes& b) { b.dat.resize(b.dat.size() - 100); }, nullptr},
      {"a target path over 259 bytes", {{"a.txt", "a"}, {"docs/" + longName, "too long"}}, nullptr, nullptr},
      {"a file where the game has a folder", {{"a.txt", "a"}, {"docs", "a file"}}, nullptr, nullptr},
      {"a package index that is a folder", {{"a.txt", "a"}, {"bld/ui/b.tga", "b"}}, nullptr,
       [](UpdateRun& t) {
         qvtest::MakeDirs(t.G("bld.idx"));
         qvtest::WriteFile(t.G("bld.nam"), "");
         qvtest::WriteFile(t.G("bld.dat"), "");
       }},
      {"a package data file shorter than its index says", {{"a.txt", "a"}, {"bld/ui/b.tga", "b"}}, nullptr,
       [&](UpdateRun& t) {
         package(t);
         qvtest::PackageBytes bytes = qvtest::LoadPackageBytes(t.G("bld"));
         bytes.dat.resize(10);
         qvtest::SavePackageBytes(t.G("bld"), bytes);
       }},
      {"a package entry where the patch has a folder", {{"a.txt", "a"}, {"bld/ui/a.tga/x", "x"}}, nullptr, package},
      {"a delta outside the layout of deltas", {{"a.txt", "a"}, {"~delta/b.txt", "d"}}, nullptr, nullptr,
       texts::kTextWhyDamaged},
      // A delta applies to the one content it was made against, never to a copy the
      // player changed (one byte here) or that is missing.
      {"a delta for another copy of a plain file",
       {{"a.txt", "a"}, qvtest::DeltaFile("notes.txt", "notes as shipped", "notes, then changed")}, nullptr,
       [](UpdateRun& t) { qvtest::WriteFile(t.G("notes.txt"), "notes as shipped!"); }, texts::kTextWhyMismatch},
      {"a delta for another content of a package entry",
       {{"a.txt", "a"}, qvtest::DeltaFile("bld/ui/a.tga", qvtest::PseudoRandom(3000, 8), "new art")}, nullptr, package,
       texts::kTextWhyMismatch},
      {"a delta for a file the game does not have", {{"a.txt", "a"}, qvtest::DeltaFile("docs/none.txt", "x", "y")},
       nullptr, nullptr, texts::kTextWhyMismatch},
      {"a delta that does not give what it records",
       {{"a.txt", "a"},
        [] {
          auto file = qvtest::DeltaFile("bld/ui/a.tga", qvtest::PseudoRandom(3000, 9), qvtest::PseudoRandom(3100, 9));
          file.second[file.second.size() - 2] ^= 0x40;  // inside the frame; the patch's own MD5 agrees
          return file;
        }()},
       nullptr, package, texts::kTextWhyDamaged},
      // Refused by the version check or declined by the player: Delete.txt has not run.
      {"a game too old for the patch", {{"a.txt", "a"}}, nullptr,
       [](UpdateRun& t) { qvtest::WriteFile(t.G("CVer.txt"), "[Ver]\r\nCurVer=1.0.4\r\n"); }},
      {"a question the player answers No", {{"a.txt", "a"}}, nullptr,
       [](UpdateRun& t) { std::filesystem::remove(t.G("CVer.txt")); }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    qvtest::MakeDirs(G("docs"));
    qvtest::WriteFile(G("docs/keep.txt"), "keep");
    qvtest::WriteFile(G("Delete.txt"), "docs/keep.txt\r\n");
    if (row.game) row.game(*this);
    MakeUpdater(row.files, /*withPayload=*/false);
    if (row.damage) {
      qvtest::PackageBytes bytes = qvtest::LoadPackageBytes(G("patch"));
      row.damage(bytes);
      qvtest::SavePackageBytes(G("patch"), bytes);
    }
    const auto before = FilesBelow(Game());
    CScriptedWindow w;
    CUpdateDlg dlg(w);
    Run(w, dlg);
    EXPECT_EQ(dlg.m_strStatus, texts::Load(118));
    EXPECT_FALSE(w.closed);
    EXPECT_EQ(FilesBelow(Game()), before);
    // A damaged patch is told to the player in words, with the file; a refused or
    // declined version has its own box and no other.
    const std::string told = w.boxes.empty() ? "" : w.boxes.back().text;
    if (row.damage) { EXPECT_NE(told.find(texts::Load(texts::kTextWhyDamaged)), std::string::npos) << told; }
    if (row.why) { EXPECT_NE(told.find(texts::Load(row.why)), std::string::npos) << told; }
    const std::string why(texts::Load(texts::kTextFailedWhy));
    if (!row.damage && row.files.size() == 1) {
      EXPECT_NE(told.compare(0, why.find('%'), why, 0, why.find('%')), 0);
    }
    std::filesystem::remove_all(G("bld.idx"));
  }
}

TEST_F(UpdateRun, StartedOutsideAGameFolderItDeletesNothing) {
  MakeUpdater({{"a.txt", "a"}}, /*withPayload=*/false);
  plat::DeleteFile(G("mb.dat"));
  qvtest::WriteFile(G("readme.txt"), "the player's");
  qvtest::MakeDirs(G("docs"));
  qvtest::WriteFile(G("docs/x.log"), "the player's");
  qvtest::WriteFile(G("Delete.txt"), "*.*\r\n*\r\ndocs\r\ndocs/*.log\r\nreadme.txt\r\n");
  const auto before = FilesBelow(Game());
  CScriptedWindow w;
  CUpdateDlg dlg(w);
  Run(w, dlg);
  ASSERT_FALSE(w.boxes.empty());
  EXPECT_EQ(w.boxes.back().text, texts::Load(117));
  EXPECT_EQ(FilesBelow(Game()), before);
}

TEST_F(UpdateRun, ASecondRunInTheSameFolderIsToldToWaitAndChangesNothing) {
  MakeUpdater({{"a.txt", "a"}});
  plat::CFolderLock other;  // another updater, or pcktool, at work in the game folder
  ASSERT_TRUE(other.TryAcquire(Game()));
  const auto before = FilesBelow(Game());
  CScriptedWindow w;
  CUpdateDlg dlg(w);
  Run(w, dlg);
  ASSERT_FALSE(w.boxes.empty());
  EXPECT_EQ(w.boxes.back().text, texts::Load(112));
  EXPECT_EQ(dlg.m_strStatus, texts::Load(118));
  EXPECT_EQ(FilesBelow(Game()), before);
  other.Release();
  CScriptedWindow again;
  CUpdateDlg second(again);
  Run(again, second);
  EXPECT_TRUE(again.closed);
}

TEST_F(UpdateRun, DeleteTxtPathsInTheGameGoAndPathsThatLeaveItAreRefusedAndLogged) {
  struct Row {
    const char* line;
    const char* deletes;  // the file it removes, or null when refused
  };
  const Row rows[] = {
      {".\\dot-back.txt", "dot-back.txt"},
      {"./dot-slash.txt", "dot-slash.txt"},
      {"sub\\\\doubled.txt", "sub/doubled.txt"},
      {"gone\\", "gone"},
      {"sub/../sub/up-and-back.txt", "sub/up-and-back.txt"},
      {"..\\outside.txt", nullptr},
      {"C:\\x", nullptr},
      {"\\\\server\\x", nullptr},
      {"/etc/x", nullptr},
      {".", nullptr},
  };
  MakeUpdater({{"a.txt", "a"}});
  qvtest::MakeDirs(G("sub"));
  qvtest::MakeDirs(G("gone/deeper"));
  std::string list;
  for (const Row& row : rows) {
    list += std::string(row.line) + "\r\n";
    if (row.deletes && std::string(row.deletes) != "gone") qvtest::WriteFile(G(row.deletes), "old");
  }
  qvtest::WriteFile(Path("outside.txt"), "must stay");
  qvtest::WriteFile(G("Delete.txt"), list);
  CScriptedWindow w;
  CUpdateDlg dlg(w);
  dlg.m_bRunLog = true;
  Run(w, dlg);
  EXPECT_TRUE(w.closed);
  const std::string log = qvtest::ReadFile(G(kRunLogName));
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    if (row.deletes) {
      EXPECT_FALSE(qvtest::Exists(G(row.deletes)));
      EXPECT_EQ(log.find(std::string("拒绝删除 ") + row.line), std::string::npos);
    } else {
      EXPECT_NE(log.find(std::string("拒绝删除 ") + row.line + ": "), std::string::npos) << log;
    }
  }
  EXPECT_EQ(qvtest::ReadFile(Path("outside.txt")), "must stay");
  EXPECT_TRUE(qvtest::Exists(G("sub")));
}

TEST_F(UpdateRun, ExitConfirmedDuringThePayloadCopyStopsBeforeAnythingChanges) {
  MakeUpdater({{"a.txt", "a"}});
  qvtest::WriteFile(G("old.txt"), "listed in Delete.txt");
  qvtest::WriteFile(G("Delete.txt"), "old.txt\r\n");
  const auto before = FilesBelow(Game());
  CScriptedWindow w;
  CUpdateDlg dlg(w);
  w.onDrain = [] { g_bAbort = true; };  // the first drain is the payload copy's
  Run(w, dlg);
  g_bAbort = false;
  EXPECT_EQ(dlg.m_strStatus, texts::Load(118));
  EXPECT_TRUE(w.boxes.empty());  // no version question either
  EXPECT_EQ(FilesBelow(Game()), before);
}

TEST_F(UpdateRun, PatchesInstallWhatTheyName) {
  qvtest::PackageOptions o;
  o.password = kPw;
  const std::string art = qvtest::PseudoRandom(5000, 3), newArt = art.substr(0, 4000) + "repainted";
  ASSERT_EQ(qvtest::BuildPackage(G("bld"), {{"ui/a.tga", "a"}, {"ui/sub/b.tga", "b"}, {"keep.tga", "k"}, {"art.tga", art}}, o),
            "");
  qvtest::WriteFile(G("notes.txt"), "old notes");
  // An empty file for the folder bld/ui removes it with everything below it. Names that
  // Windows would not take as file names are only names inside a package: device names,
  // and two-byte characters whose second byte is "|" (0xF7 0x7C, 0x81 0x7C). Deltas
  // change an entry and a plain file; the one for a copy the game lacks is passed over.
  MakeUpdater({qvtest::DeltaFile("bld/art.tga", art, newArt),
               qvtest::DeltaFile("notes.txt", "old notes", "new notes"),
               qvtest::DeltaFile("notes.txt", "other notes", "new notes"),
               {"bld/ui", ""},
               {"bld/new/aux.tga", "aux"},
               {"bld/con.txt", "con"},
               {"bld/\xF7\x7C.tga", "gbk"},
               {"bld/\x81\x7C/a.txt", "gbk folder"},
               {"docs/readme.txt", "plain"}});
  CScriptedWindow w;
  CUpdateDlg dlg(w);
  Run(w, dlg);
  EXPECT_TRUE(w.closed) << dlg.m_strStatus;
  qvtest::PackageImage image = qvtest::ImageOf(G("bld"), kPw);
  EXPECT_EQ(image.files, (FileMap{{"keep.tga", "k"},
                                  {"new/aux.tga", "aux"},
                                  {"con.txt", "con"},
                                  {"\xF7\x7C.tga", "gbk"},
                                  {"\x81\x7C/a.txt", "gbk folder"},
                                  {"art.tga", newArt}}));
  EXPECT_EQ(image.folders.count("ui"), 0u);
  EXPECT_EQ(qvtest::ReadFile(G("docs/readme.txt")), "plain");
  EXPECT_EQ(qvtest::ReadFile(G("notes.txt")), "new notes");
}

// Patches that remove with Delete.txt what they then write anew install in one run: the
// whole-patch check plans against the game as the deletion will leave it.
TEST_F(UpdateRun, PatchesThatRebuildWhatDeleteTxtRemovesInstallInOneRun) {
  qvtest::PackageOptions o;
  o.password = kPw;
  struct Row {
    const char* what;
    std::function<void(UpdateRun&)> game;
    const char* deleteTxt;
    FileMap patch;
    std::function<void(UpdateRun&)> expect;
  };
  const Row rows[] = {
      {"a package rebuilt from scratch",
       [&](UpdateRun& t) { ASSERT_EQ(qvtest::BuildPackage(t.G("pm"), {{"a.txt", "old"}, {"b/c.txt", "old"}}, o), ""); },
       "pm.idx\r\npm.nam\r\npm.dat\r\n", {{"pm/c.txt", "new"}},
       [](UpdateRun& t) { EXPECT_EQ(qvtest::ImageOf(t.G("pm"), kPw).files, (FileMap{{"c.txt", "new"}})); }},
      {"a plain folder that becomes a package",
       [](UpdateRun& t) {
         qvtest::MakeDirs(t.G("bld/ui"));
         qvtest::WriteFile(t.G("bld/ui/a.tga"), "plain");
       },
       "bld\r\n", {{"bld/ui/a.tga", "packed"}},
       [](UpdateRun& t) {
         EXPECT_FALSE(plat::IsFolder(t.G("bld")));
         EXPECT_EQ(qvtest::ImageOf(t.G("bld"), kPw).files, (FileMap{{"ui/a.tga", "packed"}}));
       }},
      {"a file that becomes a folder", [](UpdateRun& t) { qvtest::WriteFile(t.G("data"), "a file"); }, "data\r\n",
       {{"data/x.txt", "x"}}, [](UpdateRun& t) { EXPECT_EQ(qvtest::ReadFile(t.G("data/x.txt")), "x"); }},
      {"a folder link that a patch writes through",
       [](UpdateRun& t) {
         qvtest::MakeDirs(t.G("../elsewhere/docs"));
         qvtest::WriteFile(t.G("../elsewhere/docs/old.txt"), "old");
         std::error_code ec;
         std::filesystem::create_directory_symlink(t.G("../elsewhere/docs"), t.G("docs"), ec);
       },
       "", {{"docs/readme.txt", "through the link"}},
       [](UpdateRun& t) {
         EXPECT_EQ(qvtest::ReadFile(t.G("../elsewhere/docs/readme.txt")), "through the link");
         EXPECT_EQ(qvtest::ReadFile(t.G("../elsewhere/docs/old.txt")), "old");
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    std::filesystem::remove_all(Game());
    SetUp();
    row.game(*this);
    if (std::string(row.what).find("link") != std::string::npos && !std::filesystem::is_symlink(G("docs"))) continue;
    qvtest::WriteFile(G("Delete.txt"), row.deleteTxt);
    MakeUpdater(row.patch);
    CScriptedWindow w;
    CUpdateDlg dlg(w);
    Run(w, dlg);
    EXPECT_TRUE(w.closed) << dlg.m_strStatus << " " << dlg.m_problem.text;
    EXPECT_EQ(qvtest::ReadFile(G("CVer.txt")), "[Ver]\r\nCurVer=1.0.6\r\nValidVer=1.0.5\r\n");
    row.expect(*this);
  }
}

// A disk too small for the carried files, or for the release, is told before the first
// change, with the megabytes needed and free; the game stays byte-identical. (20 MiB of
// zeros travel in a few kilobytes, but land as 20 MiB.)
TEST_F(UpdateRun, ADiskTooSmallIsToldBeforeTheFirstChange) {
  MakeUpdater({{"a.txt", "a"}, {"big.bin", std::string(20u << 20, '\0')}});
  qvtest::WriteFile(G("Delete.txt"), "a.log\r\n");
  qvtest::WriteFile(G("a.log"), "log");
  for (const uint64_t freeMb : {1, 10}) {
    SCOPED_TRACE(freeMb);
    const auto before = FilesBelow(Game());
    plat::SetFreeSpaceHook([&](const std::string&, uint64_t) { return freeMb << 20; });
    CScriptedWindow w;
    CUpdateDlg dlg(w);
    Run(w, dlg);
    plat::SetFreeSpaceHook(nullptr);
    EXPECT_EQ(dlg.m_strStatus, texts::Load(118));
    EXPECT_EQ(FilesBelow(Game()), before);
    EXPECT_EQ(plat::FileExists(G("patch.idx")), freeMb == 10);  // the payload fitted
    ASSERT_FALSE(w.boxes.empty());
    const std::string head(texts::Load(texts::kTextNoRoom), 0, 10);
    EXPECT_EQ(w.boxes.back().text.compare(0, head.size(), head), 0) << w.boxes.back().text;
    EXPECT_NE(w.boxes.back().text.find(std::to_string(freeMb) + " MB"), std::string::npos);
    EXPECT_EQ(dlg.m_problem.kind, ErrorKind::NoSpace);
    EXPECT_NE(dlg.m_problem.text.find(std::to_string(freeMb) + " MB are free"), std::string::npos);
  }
}

TEST_F(UpdateRun, APlainFileThatNoWindowsCouldNameIsRefusedBeforeAnythingIsWritten) {
  for (const char* name : {"aux.txt", "docs/con", "docs/a|b.txt"}) {
    SCOPED_TRACE(name);
    MakeUpdater({{"a.txt", "a"}, {name, "device"}});
    const auto before = FilesBelow(Game());
    CScriptedWindow w;
    CUpdateDlg dlg(w);
    Run(w, dlg);
    EXPECT_EQ(dlg.m_strStatus, texts::Load(118));
    EXPECT_EQ(FilesBelow(Game()), before);
  }
}

// Files named like the run's temporaries, the patch's own or the player's, are installed
// or kept exactly, and every other file stays as it was: a temporary takes a name that
// nothing has. ("Z.qvnew" comes before "z", and is z's first choice where names are
// compared without case.)
TEST_F(UpdateRun, FilesNamedLikeTemporariesAreInstalledOrKeptExactly) {
  qvtest::WriteFile(G("x"), "old x");
  for (const char* own : {"a.txt.qvnew", "a.txt.qvnew2", "tmp.idx", "tmp.nam", "tmp.dat"})
    qvtest::WriteFile(G(own), std::string("the player's ") + own);
  const FileMap patch = {{"x", "new x"}, {"x.qvnew", "the patch's x.qvnew"}, {"Z.qvnew", "the patch's Z.qvnew"},
                         {"z", "z"}, {"a.txt", "a"}, {"docs/y", "y"}, {"docs/y.qvnew", "the patch's y.qvnew"}};
  MakeUpdater(patch);
  std::map<std::string, std::string> expected = FilesBelow(Game());
  for (const auto& [path, bytes] : patch) expected[path] = bytes;
  expected["docs"] = "<folder>";
  expected["CVer.txt"] = "[Ver]\r\nCurVer=1.0.6\r\nValidVer=1.0.5\r\n";
  CScriptedWindow w;
  CUpdateDlg dlg(w);
  Run(w, dlg);
  EXPECT_TRUE(w.closed) << dlg.m_strStatus;
  EXPECT_EQ(FilesBelow(Game()), expected);
}
