// CFileTarget: where a path lands (existing package, new package, plain folder), that
// packages are committed once at the end, and that plain files are never left
// truncated by a short source.
#include "fs/FileTarget.h"

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>

#include <gtest/gtest.h>

#include "pck/PckJournal.h"
#include "pck/PckReader.h"
#include "platform/Platform.h"
#include "tests/support/Faults.h"
#include "tests/support/FileHold.h"
#include "tests/support/PackageFixtures.h"

namespace {

using qvtest::FileMap;
using qvtest::ImageOf;
using qvtest::TextSource;

// Every file and folder below `root` with its bytes ("<folder>" for a folder).
std::map<std::string, std::string> Tree(const std::string& root) {
  std::map<std::string, std::string> out;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
    const std::string rel = e.path().generic_string().substr(root.size() + 1);
    out[rel] = e.is_directory() ? "<folder>" : qvtest::ReadFile(e.path().generic_string());
  }
  return out;
}

class FileTarget : public qvtest::PackageDirTest {
 protected:
  void SetUp() override {
    m_game = Path("G");
    qvtest::MakeDirs(m_game);
  }
  std::string G(const std::string& rest) const { return m_game + "/" + rest; }
  int Put(CFileTarget& target, const std::string& path, const std::string& text, bool intoPackage = false,
          int32_t stamp = 0) {
    TextSource source(text, int32_t(text.size()), stamp);
    return target.PutFile(path, source, intoPackage, 1);
  }
  std::string m_game;
};

TEST_F(FileTarget, ExistingPackageGetsEntriesReplacedOrAddedWhateverIntoPackageSays) {
  ASSERT_EQ(qvtest::BuildPackage(G("data"), {{"ui/a.txt", "old a"}, {"b.txt", "old b"}}), "");
  {
    CFileTarget target;
    EXPECT_EQ(Put(target, G("data/ui/a.txt"), "new a", false), 0);
    EXPECT_EQ(Put(target, G("data/b.txt"), std::string(70000, 'b'), true), 0);
    EXPECT_EQ(Put(target, G("data\\ui\\c.txt"), "added c", false), 0);
    EXPECT_EQ(Put(target, G("data/deep/er/d.txt"), "added d", true), 0);
  }
  FileMap expected{{"ui/a.txt", "new a"},
                   {"b.txt", std::string(70000, 'b')},
                   {"ui/c.txt", "added c"},
                   {"deep/er/d.txt", "added d"}};
  EXPECT_EQ(ImageOf(G("data")).files, expected);
  EXPECT_FALSE(qvtest::Exists(G("data/ui")));
}

TEST_F(FileTarget, ZeroLengthStreamRemovesAFileOrAFolderButMakesANewEmptyPlainFile) {
  ASSERT_EQ(qvtest::BuildPackage(G("data"), {{"ui/a.txt", "a"}, {"ui/sub/b.txt", "b"}, {"c.txt", "c"}, {"d.txt", "d"}}),
            "");
  qvtest::MakeDirs(G("plain/old/deeper"));
  qvtest::WriteFile(G("plain/old/deeper/x.txt"), "x");
  {
    CFileTarget target;
    EXPECT_EQ(Put(target, G("data/c.txt"), ""), 0);
    EXPECT_EQ(Put(target, G("data/never.txt"), ""), 0);
    // An empty file named like a folder removes the folder with all below it, in a
    // package and on the disk alike.
    EXPECT_EQ(Put(target, G("data/ui"), ""), 0);
    EXPECT_EQ(Put(target, G("plain/old"), ""), 0);
    EXPECT_EQ(Put(target, G("plain/empty.txt"), ""), 0);
  }
  qvtest::PackageImage image = ImageOf(G("data"));
  EXPECT_EQ(image.files, (FileMap{{"d.txt", "d"}}));
  EXPECT_TRUE(image.folders.empty());
  EXPECT_FALSE(qvtest::Exists(G("plain/old")));
  plat::FileInfo info;
  ASSERT_TRUE(plat::StatPath(G("plain/empty.txt"), info));
  EXPECT_EQ(info.size, 0);
  EXPECT_FALSE(info.isDir);
}

// An empty file for a plain folder that stays (a file in it held open by another
// program, or a removal the system refuses) fails and says which folder.
TEST_F(FileTarget, AnEmptyFileForAFolderThatCannotGoFails) {
  for (bool hold : {true, false}) {
    SCOPED_TRACE(hold ? "a file in it held open" : "its removal refused");
    qvtest::MakeDirs(G("held/sub"));
    qvtest::WriteFile(G("held/sub/f.txt"), "f");
    qvtest::CFileHold holder;
    // Only Windows holds files against deletion; the fault reaches the POSIX removal
    // (the Windows shell deletes before any fault could be asked).
    if (hold != holder.Hold(G("held/sub/f.txt"), true)) continue;
    qvtest::CFaultHook refuse(hold ? plat::FaultHook() : [](plat::FileOp op, const std::string& path) {
      return op == plat::FileOp::Unlink && path.find("held") != std::string::npos ? plat::Fault::Io : plat::Fault::None;
    });
    CFileTarget target;
    EXPECT_EQ(Put(target, G("held"), ""), -1);
    EXPECT_TRUE(plat::IsFolder(G("held")));
    EXPECT_NE(target.Error().text.find(G("held")), std::string::npos) << target.Error().text;
    EXPECT_TRUE(target.Error().IsOsFailure()) << target.Error().text;
  }
}

TEST_F(FileTarget, PlainFilesGetParentsAttributesAndStamps) {
  CFileTarget target;
  // Missing parents, several levels deep.
  EXPECT_EQ(Put(target, G("a/b/c/new.txt"), "deep"), 0);
  EXPECT_EQ(qvtest::ReadFile(G("a/b/c/new.txt")), "deep");

  // A read-only file is overwritten.
  qvtest::WriteFile(G("ro.txt"), "old");
  namespace fs = std::filesystem;
  fs::permissions(G("ro.txt"), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  EXPECT_EQ(Put(target, G("ro.txt"), "new"), 0);
  EXPECT_EQ(qvtest::ReadFile(G("ro.txt")), "new");

  // A positive stamp is copied; 0 leaves the time of writing.
  const int32_t stamp = 1000000000;  // 2001-09-09
  EXPECT_EQ(Put(target, G("stamped.txt"), "s", false, stamp), 0);
  EXPECT_EQ(Put(target, G("now.txt"), "n", false, 0), 0);
  plat::FileInfo info;
  ASSERT_TRUE(plat::StatPath(G("stamped.txt"), info));
  EXPECT_EQ(info.mtime, stamp);
  ASSERT_TRUE(plat::StatPath(G("now.txt"), info));
  EXPECT_LT(std::llabs(info.mtime - int64_t(std::time(nullptr))), 3600);

  EXPECT_FALSE(qvtest::Exists(G("ro.txt.qvnew")));
  EXPECT_FALSE(qvtest::Exists(G("stamped.txt.qvnew")));
}

TEST_F(FileTarget, IncompleteSourceLeavesOldPlainFileIntact) {
  qvtest::WriteFile(G("keep.txt"), "the old content");
  CFileTarget target;
  TextSource shortSource("partial", 100);
  EXPECT_EQ(target.PutFile(G("keep.txt"), shortSource, false, 1), -1);
  EXPECT_EQ(qvtest::ReadFile(G("keep.txt")), "the old content");
  EXPECT_FALSE(qvtest::Exists(G("keep.txt.qvnew")));

  // A package entry that does not decode is a short source too.
  qvtest::PackageOptions small;
  small.blockSize = 1024;
  ASSERT_EQ(qvtest::BuildPackage(G("src"), {{"x.bin", qvtest::PseudoRandom(5000, 7)}}, small), "");
  qvtest::PackageBytes bytes = qvtest::LoadPackageBytes(G("src"));
  bytes.dat.resize(bytes.dat.size() * 3 / 5);
  qvtest::SavePackageBytes(G("src"), bytes);
  PckReader reader;
  ASSERT_EQ(reader.Open(G("src")), 0);
  std::unique_ptr<PckEntryStream> entry = reader.OpenEntry("x.bin");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(target.PutFile(G("keep.txt"), *entry, false, 1), -1);
  EXPECT_TRUE(entry->Failed());
  EXPECT_EQ(qvtest::ReadFile(G("keep.txt")), "the old content");
}

TEST_F(FileTarget, MissingPackageIsMadeOnlyWhenAllowed) {
  {
    CFileTarget target;
    EXPECT_EQ(Put(target, G("bld/ui/a.tga"), "tga", true), -1);
  }
  EXPECT_FALSE(qvtest::Exists(G("bld.idx")));
  EXPECT_FALSE(qvtest::Exists(G("bld")));

  {
    CFileTarget target;
    target.SetFlags(CFileTarget::kFlagCreatePackages);
    EXPECT_EQ(Put(target, G("bld/ui/a.tga"), "tga", true), 0);
    EXPECT_EQ(Put(target, G("bld/ui/b.tga"), "tgb", true), 0);
  }
  EXPECT_EQ(ImageOf(G("bld")).files, (FileMap{{"ui/a.tga", "tga"}, {"ui/b.tga", "tgb"}}));
  EXPECT_EQ(PckReader().Open(G("bld")), 0);

  // With a plain folder G/obj in the way the package sits one level further down.
  qvtest::MakeDirs(G("obj"));
  {
    CFileTarget target;
    target.m_nFlags = CFileTarget::kFlagCreatePackages;
    EXPECT_EQ(Put(target, G("obj/ui/a.tga"), "tga", true), 0);
  }
  EXPECT_EQ(ImageOf(G("obj/ui")).files, (FileMap{{"a.tga", "tga"}}));
}

TEST_F(FileTarget, LeftoverPartOfAPackageIsNotOverwritten) {
  qvtest::WriteFile(G("bld.dat"), "precious");
  CFileTarget target;
  target.SetFlags(CFileTarget::kFlagCreatePackages);
  EXPECT_EQ(Put(target, G("bld/ui/a.tga"), "tga", true), -1);
  EXPECT_EQ(qvtest::ReadFile(G("bld.dat")), "precious");
}

TEST_F(FileTarget, NewPackageSplitIsDbcsAware) {
  // 0x81 0x5C is one code page 936 character whose second byte looks like "\\".
  const std::string name = "\x81\x5c" "x";
  auto split = CFileTarget::SplitNewPackagePath(G(name + "/in/a.tga"));
  ASSERT_TRUE(split);
  EXPECT_EQ(split->base, G(name));
  EXPECT_EQ(split->inner, "in/a.tga");
  EXPECT_FALSE(CFileTarget::SplitNewPackagePath("a.tga"));
}

TEST_F(FileTarget, PackageIndexIsCommittedOnceAtDestruction) {
  ASSERT_EQ(qvtest::BuildPackage(G("data"), {{"a.txt", "a"}}), "");
  const std::string idxBefore = qvtest::ReadFile(G("data.idx"));
  FileMap expected{{"a.txt", "a"}};
  {
    CFileTarget target;
    for (int i = 0; i < 40; ++i) {
      std::string name = "f" + std::to_string(i) + ".txt";
      ASSERT_EQ(Put(target, G("data/" + name), name), 0);
      expected[name] = name;
    }
    EXPECT_EQ(target.FlushAll(), 0);
    EXPECT_EQ(qvtest::ReadFile(G("data.idx")), idxBefore);
  }
  EXPECT_NE(qvtest::ReadFile(G("data.idx")), idxBefore);
  EXPECT_EQ(ImageOf(G("data")).files, expected);
}

TEST_F(FileTarget, RemoveFileCodes) {
  ASSERT_EQ(qvtest::BuildPackage(G("data"), {{"a.txt", "a"}, {"b.txt", "b"}}), "");
  qvtest::WriteFile(G("plain.txt"), "p");
  qvtest::WriteFile(G("broken.idx"), "not an index");
  qvtest::WriteFile(G("broken.nam"), "");
  qvtest::WriteFile(G("broken.dat"), "");
  {
    CFileTarget target;
    EXPECT_EQ(target.RemoveFile(G("plain.txt")), 0);
    EXPECT_FALSE(qvtest::Exists(G("plain.txt")));
    EXPECT_EQ(target.RemoveFile(G("plain.txt")), -1);
    EXPECT_EQ(target.RemoveFile(G("broken/x.txt")), -2);
    EXPECT_EQ(target.RemoveFile(G("data/missing.txt")), -3);
    EXPECT_EQ(target.RemoveFile(G("data/a.txt")), 0);
    EXPECT_EQ(target.Reserved(5), 0);
  }
  EXPECT_EQ(ImageOf(G("data")).files, (FileMap{{"b.txt", "b"}}));
}

TEST_F(FileTarget, PasswordIsGivenToEveryPackage) {
  qvtest::PackageOptions options;
  options.password = "secret";
  ASSERT_EQ(qvtest::BuildPackage(G("data"), {{"a.txt", "a"}}, options), "");
  const std::string content = qvtest::PseudoRandom(3000, 3, true);
  {
    CFileTarget target;
    target.SetPassword("secret");
    target.SetFlags(CFileTarget::kFlagCreatePackages);
    EXPECT_EQ(Put(target, G("data/b.bin"), content, true), 0);
    EXPECT_EQ(Put(target, G("fresh/c.bin"), content, true), 0);
  }
  EXPECT_EQ(ImageOf(G("data"), "secret").files, (FileMap{{"a.txt", "a"}, {"b.bin", content}}));
  EXPECT_EQ(ImageOf(G("fresh"), "secret").files, (FileMap{{"c.bin", content}}));
  qvtest::PackageImage image;
  EXPECT_FALSE(qvtest::ReadPackage(G("fresh"), image, "") && image.files == (FileMap{{"c.bin", content}}));
}

// A temporary takes a name that nothing has: no file of the run (written before or
// after it) and no file on the disk. The journal lists a batch's temporaries, with one
// write, before the first exists: what a stopped run left is deleted by the next one,
// and nothing else is.
TEST_F(FileTarget, TemporariesTakeFreeNamesAndOnlyTheJournalsAreDeleted) {
  qvtest::WriteFile(G("x"), "old x");
  qvtest::WriteFile(G("x.qvnew"), "the player's");
  qvtest::WriteFile(G("x.qvnew2"), "the player's too");
  // The patch's own files named like temporaries, after and before their namesakes.
  const std::vector<std::pair<std::string, std::string>> files = {
      {"x", "new x"}, {"y", "y"}, {"y.qvnew", "after y"}, {"z.qvnew", "before z"}, {"z", "z"}, {"sub/w", "w"}};
  std::vector<Landing> plan;
  for (const auto& [name, text] : files) plan.push_back(Landing{false, false, G(name), "", ""});
  CPckJournal journal(m_game);
  int journalWrites = 0;
  qvtest::CFaultHook count([&](plat::FileOp op, const std::string& path) {
    // a write renames the new journal into place; the last drop deletes it
    if ((op == plat::FileOp::Rename || op == plat::FileOp::Unlink) && path == journal.Path()) ++journalWrites;
    return plat::Fault::None;
  });
  const std::map<std::string, std::string> stopped = {
      {"x", "old x"}, {"x.qvnew", "the player's"}, {"x.qvnew2", "the player's too"}, {"sub", "<folder>"}};
  {
    CFileTarget target;
    target.SetJournal(&journal);
    target.ReserveLandings(plan);
    target.SetBatchPlainFiles(true);
    for (const auto& [name, text] : files) ASSERT_EQ(Put(target, G(name), text), 0) << name;
    std::vector<std::string> listed;
    for (const PckJournalEntry& e : journal.Entries()) {
      EXPECT_EQ(e.kind, PckJournalEntry::kTemp);
      listed.push_back(e.base.substr(m_game.size() + 1));
    }
    EXPECT_EQ(listed, (std::vector<std::string>{"x.qvnew3", "y.qvnew2", "y.qvnew.qvnew", "z.qvnew.qvnew", "z.qvnew2",
                                                "sub/w.qvnew"}));
    EXPECT_EQ(journalWrites, 1);
    // A stop now: the next run (here on a copy of the folder) deletes what is listed.
    std::filesystem::copy(m_game, Path("stopped"), std::filesystem::copy_options::recursive);
    CPckJournal next(Path("stopped"));
    EXPECT_TRUE(next.Recover()) << next.Error().text;
    EXPECT_EQ(Tree(Path("stopped")), stopped);
    EXPECT_EQ(target.CloseAll(), 0);
  }
  EXPECT_EQ(journalWrites, 2);
  std::map<std::string, std::string> landed = {
      {"x.qvnew", "the player's"}, {"x.qvnew2", "the player's too"}, {"sub", "<folder>"}};
  for (const auto& [name, text] : files) landed[name] = text;
  EXPECT_EQ(Tree(m_game), landed);
}

}  // namespace
