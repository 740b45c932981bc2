// Where every file of a patch lands, and how the release stops on failure, abort and
// hostile names.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "io/IWalkSink.h"
#include "patch/PatchRelease.h"
#include "pck/PckReader.h"
#include "platform/Platform.h"
#include "tests/support/PackageFixtures.h"

using qvtest::FileMap;

namespace {

const std::string kPw = kPckGamePassword;

// Counts events and keeps the error texts; can ask for an abort after n files.
class CCountingSink : public IWalkSink {
 public:
  int begun = 0, done = 0;
  int abortAfter = -1;
  std::vector<std::string> errors;
  void OnEvent(int32_t type, const void* data, int32_t size) override {
    if (type == kWalkFileBegin) ++begun;
    if (type == kWalkFileDone) ++done;
    if (type == kWalkError) {
      const WalkErrorEvent e = WalkEventError(data, size);
      errors.push_back(std::to_string(e.code) + " " + e.text);
    }
  }
  bool IsAborted() override { return abortAfter >= 0 && done >= abortAfter; }
};

class PatchRelease : public qvtest::PackageDirTest {
 protected:
  void SetUp() override { qvtest::MakeDirs(Game()); }
  std::string Game() const { return Path("game"); }
  std::string G(const std::string& rel) const { return Game() + "/" + rel; }

  void MakePatch(const FileMap& files, const std::set<std::string>& emptyFolders = {}) {
    qvtest::PackageOptions o;
    o.password = kPw;
    o.codec = 2;
    o.emptyFolders = emptyFolders;
    ASSERT_EQ(qvtest::BuildPackage(G("patch"), files, o), "");
  }
  void MakeGamePackage(const std::string& name, const FileMap& files) {
    qvtest::PackageOptions o;
    o.password = kPw;
    ASSERT_EQ(qvtest::BuildPackage(G(name), files, o), "");
  }
  int Apply(IWalkSink* sink = nullptr) {
    return ApplyPatchPackage(G("patch"), g_packageNames, Game(), 1, kPw.c_str(), sink, 2);
  }
  FileMap Files(const std::string& name) { return qvtest::ImageOf(G(name), kPw).files; }
};

}  // namespace

TEST_F(PatchRelease, EmptyPatchWritesNothing) {
  MakePatch({});
  CCountingSink sink;
  EXPECT_EQ(Apply(&sink), 0);
  EXPECT_EQ(sink.done, 0);
}

TEST_F(PatchRelease, FilesLandWhereTheTableSays) {
  MakeGamePackage("bld", {{"ui/a.tga", "old a"}, {"ui/keep.tga", "keep"}});
  MakePatch({{"readme.txt", "root file"},                // plain, in the game folder
             {"bld/ui/a.tga", "new a"},                   // replaces in an existing package
             {"bld/ui/b.tga", "new b"},                   // added to it
             {"cj/deep/x.bin", "new package"},            // listed name, no package: made
             {"docs/guide.txt", "plain folder"}});        // not a package name: plain files
  CCountingSink sink;
  ASSERT_EQ(Apply(&sink), 0) << (sink.errors.empty() ? "" : sink.errors[0]);
  EXPECT_EQ(sink.done, 5);
  EXPECT_EQ(qvtest::ReadFile(G("readme.txt")), "root file");
  EXPECT_EQ(qvtest::ReadFile(G("docs/guide.txt")), "plain folder");
  EXPECT_EQ(Files("bld"), (FileMap{{"ui/a.tga", "new a"}, {"ui/b.tga", "new b"}, {"ui/keep.tga", "keep"}}));
  EXPECT_EQ(Files("cj"), (FileMap{{"deep/x.bin", "new package"}}));
  EXPECT_FALSE(qvtest::Exists(G("bld/ui/a.tga")));
}

TEST_F(PatchRelease, PackageNamesCompareWithoutCase) {
  MakePatch({{"BLD/sub/n.txt", "n"}});
  ASSERT_EQ(Apply(), 0);
  // written under the list's spelling, so a case-sensitive disk meets the same package
  EXPECT_EQ(Files("bld"), (FileMap{{"sub/n.txt", "n"}}));
  EXPECT_TRUE(PackageExists(G("bld")));
}

TEST_F(PatchRelease, EmptyFileDeletesAPackageEntryButMakesAnEmptyPlainFile) {
  MakeGamePackage("mb", {{"old.txt", "obsolete"}, {"stay.txt", "s"}});
  MakePatch({{"mb/old.txt", ""}, {"mb/never.txt", ""}, {"docs/empty.txt", ""}});
  ASSERT_EQ(Apply(), 0);
  EXPECT_EQ(Files("mb"), (FileMap{{"stay.txt", "s"}}));
  EXPECT_TRUE(qvtest::Exists(G("docs/empty.txt")));
  EXPECT_EQ(qvtest::ReadFile(G("docs/empty.txt")), "");
}

TEST_F(PatchRelease, ExistingPackageIsFedEvenUnderAnUnlistedName) {
  MakeGamePackage("extra", {{"a", "1"}});
  MakePatch({{"extra/a", "2"}});
  ASSERT_EQ(Apply(), 0);
  EXPECT_EQ(Files("extra"), (FileMap{{"a", "2"}}));
  EXPECT_FALSE(qvtest::Exists(G("extra")));
}

TEST_F(PatchRelease, AbortTakesEffectBeforeTheNextFile) {
  MakePatch({{"docs/1.txt", "1"}, {"docs/2.txt", "2"}, {"docs/3.txt", "3"}});
  CCountingSink sink;
  sink.abortAfter = 1;
  EXPECT_EQ(Apply(&sink), -1);
  EXPECT_EQ(sink.done, 1);
  EXPECT_TRUE(qvtest::Exists(G("docs/1.txt")));
  EXPECT_FALSE(qvtest::Exists(G("docs/2.txt")));
}

TEST_F(PatchRelease, MissingPatchOrUnwritableFileFails) {
  EXPECT_EQ(Apply(), -1);  // no patch at all
  MakePatch({{"docs/a.txt", "a"}});
  qvtest::MakeDirs(G("docs/a.txt"));  // a folder stands where the file must go
  CCountingSink sink;
  EXPECT_EQ(Apply(&sink), -1);
  // Found by the check of the whole patch, before anything is written.
  ASSERT_EQ(sink.errors.size(), 1u);
  EXPECT_NE(sink.errors[0].find(G("docs/a.txt") + ": is a folder"), std::string::npos) << sink.errors[0];
  EXPECT_EQ(sink.done, 0);
}

TEST_F(PatchRelease, HostileNamesStopTheReleaseBeforeAnythingIsWritten) {
  // Names the writer refuses are made by overwriting a stored name in the name table:
  // the folder "XX" (or the file "YYY") becomes the hostile name.
  const std::pair<std::string, std::string> cases[] = {
      {"XX", ".."}, {"XX", "a/"}, {"XX", "a\\"}, {"XX", "c:"}, {"YYY", "CON"}, {"YYY", "..."}};
  for (const auto& [placeholder, hostile] : cases) {
    SCOPED_TRACE(hostile);
    qvtest::MakeDirs(Game());
    MakePatch({{"a.txt", "first"}, {"docs/XX/evil.txt", "escaped"}, {"docs/YYY", "device"}});
    qvtest::PackageBytes bytes = qvtest::LoadPackageBytes(G("patch"));
    std::string entry = char(placeholder.size() + 1) + placeholder + std::string(1, '\0');
    size_t at = bytes.nam.find(entry);
    ASSERT_NE(at, std::string::npos);
    bytes.nam.replace(at + 1, hostile.size(), hostile);
    qvtest::SavePackageBytes(G("patch"), bytes);
    CCountingSink sink;
    EXPECT_EQ(Apply(&sink), -1);
    ASSERT_EQ(sink.errors.size(), 1u);
    EXPECT_NE(sink.errors[0].find("Unsafe name in pck:"), std::string::npos) << sink.errors[0];
    EXPECT_EQ(sink.done, 0);
    EXPECT_FALSE(qvtest::Exists(G("a.txt")));  // checked before the first file
    EXPECT_FALSE(qvtest::Exists(G("docs")));
    EXPECT_FALSE(qvtest::Exists(Path("docs")));
    EXPECT_FALSE(qvtest::Exists(Path("evil.txt")));
    plat::ShellDelete(Game());
  }
}

TEST_F(PatchRelease, OverlongTargetPathFailsCleanly) {
  std::string deep;
  while (Game().size() + deep.size() < 280) deep += "d123456789/";
  MakePatch({{"docs/" + deep + "f.txt", "x"}});
  CCountingSink sink;
  EXPECT_EQ(Apply(&sink), -1);
  EXPECT_FALSE(sink.errors.empty());
}

TEST_F(PatchRelease, ContentThatDoesNotMatchItsDigestIsNeverWritten) {
  MakeGamePackage("bld", {{"ui/a.tga", "old a"}});
  qvtest::WriteFile(G("readme.txt"), "old readme");
  for (const char* victim : {"readme.txt", "bld/ui/a.tga"}) {
    SCOPED_TRACE(victim);
    qvtest::PackageOptions o;
    o.password = "";  // stored and unenciphered, so a flipped byte still decodes
    o.codec = 0;
    ASSERT_EQ(qvtest::BuildPackage(G("patch"), {{victim, "new content"}}, o), "");
    qvtest::PackageBytes bytes = qvtest::LoadPackageBytes(G("patch"));
    size_t at = bytes.dat.find("new content");
    ASSERT_NE(at, std::string::npos);
    bytes.dat[at] = 'N';
    qvtest::SavePackageBytes(G("patch"), bytes);
    CCountingSink sink;
    EXPECT_EQ(ApplyPatchPackage(G("patch"), g_packageNames, Game(), 1, "", &sink, 2), -1);
    EXPECT_EQ(qvtest::ReadFile(G("readme.txt")), "old readme");
    EXPECT_EQ(Files("bld"), (FileMap{{"ui/a.tga", "old a"}}));
  }
}
