// The reading file system: package paths, the search order of the modes, preloaded
// files and the folder listing in which packages show up as folders.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "fs/FileSource.h"
#include "io/FileStream.h"
#include "fs/FoldingDirIterator.h"
#include "pck/PckWriter.h"
#include "platform/Platform.h"
#include "tests/support/TempDir.h"

namespace {

// Builds a package from (path, content) pairs; a path may hold one folder level.
void MakePackage(const std::string& base, std::vector<std::pair<std::string, std::string>> files,
                 const char* password = nullptr) {
  PckWriter writer;
  ASSERT_EQ(writer.Create(base), 0) << writer.LastError();
  if (password) writer.SetPassword(password);
  ASSERT_EQ(writer.BeginDir(""), 0);
  std::map<std::string, std::vector<std::pair<std::string, std::string>>> byFolder;
  for (auto& [path, content] : files) {
    size_t slash = path.find('/');
    std::string folder = slash == std::string::npos ? "" : path.substr(0, slash);
    byFolder[folder].push_back({path.substr(slash == std::string::npos ? 0 : slash + 1), content});
  }
  for (auto& [folder, entries] : byFolder) {
    if (!folder.empty()) {
      ASSERT_EQ(writer.BeginDir(folder), 0);
    }
    for (auto& [name, content] : entries) {
      std::string bytes = content;
      MemoryStream source(bytes.data(), static_cast<int32_t>(bytes.size()));
      ASSERT_EQ(writer.AppendFile(name, source, int(PckCodec::Zlib)), 0) << writer.LastError();
    }
    if (!folder.empty()) {
      ASSERT_EQ(writer.EndDir(), 0);
    }
  }
  ASSERT_EQ(writer.EndDir(), 0);
  writer.Close();
  ASSERT_FALSE(writer.CommitFailed());
}

std::string ReadAll(DataStream* stream) {
  if (!stream) return "<null>";
  std::string out;
  char buffer[4096];
  for (int32_t n; (n = stream->Read(buffer, sizeof buffer)) > 0;) out.append(buffer, size_t(n));
  return out;
}

std::string Read(CFileSource& source, const std::string& path) {
  std::unique_ptr<DataStream> stream = source.OpenFile(path);
  return ReadAll(stream.get());
}

std::map<std::string, int> List(DirIterator* it) {
  std::map<std::string, int> seen;
  if (!it) return seen;
  while (DirEntry* e = it->Next()) {
    EXPECT_EQ(seen.count(e->name), 0u) << "listed twice: " << e->name;
    seen[e->name] = e->kind;
  }
  return seen;
}

void WritePackageParts(const std::string& base, bool idx, bool nam, bool dat) {
  if (idx) qvtest::WriteFile(base + ".idx", "i");
  if (nam) qvtest::WriteFile(base + ".nam", "n");
  if (dat) qvtest::WriteFile(base + ".dat", "d");
}

}  // namespace

TEST(FileSourceSplit, DeepestCompletePackageWins) {
  qvtest::CTempDir dir;
  qvtest::MakeDirs(dir / "game/a/b");
  WritePackageParts(dir / "game/a", true, true, true);
  WritePackageParts(dir / "game/a/b", true, true, true);
  WritePackageParts(dir / "game/a/b/c", true, true, false);  // incomplete: not a package
  CFileSource source;

  auto split = source.SplitPackagePath(dir / "game/a/b/c/x.txt", false);
  ASSERT_TRUE(split);
  EXPECT_EQ(split->base, dir / "game/a/b");
  EXPECT_EQ(split->inner, "c/x.txt");

  split = source.SplitPackagePath(dir / "game/a\\q\\y.txt", false);
  ASSERT_TRUE(split);
  EXPECT_EQ(split->base, dir / "game/a");
  EXPECT_EQ(split->inner, "q\\y.txt");

  split = source.SplitPackagePath(dir / "game/a/b", false);
  ASSERT_TRUE(split);
  EXPECT_EQ(split->base, dir / "game/a");
  EXPECT_EQ(split->inner, "b");
  split = source.SplitPackagePath(dir / "game/a/b", true);
  ASSERT_TRUE(split);
  EXPECT_EQ(split->base, dir / "game/a/b");
  EXPECT_EQ(split->inner, "");
  EXPECT_FALSE(source.SplitPackagePath(dir / "game/other.txt", true));
}

TEST(FileSourceSplit, SecondByteOfTwoByteCharacterIsNoSeparator) {
  qvtest::CTempDir dir;
  WritePackageParts(dir / "pk", true, true, true);
  qvtest::MakeDirs(dir / "pk");
  // "\xB1\x5C" is one character; its second byte must not cut the path before it. The
  // files "\xB1.*" are the package such a wrong cut would find (Windows refuses a name
  // ending in half a character, so there the check runs without them).
  for (const char* ext : {".idx", ".nam", ".dat"}) {
    if (FILE* f = plat::OpenFile(dir / "pk/\xB1" + ext, "wb")) fclose(f);
  }
  CFileSource source;
  auto split = source.SplitPackagePath(dir / "pk/\xB1\x5Cx.txt", false);
  ASSERT_TRUE(split);
  EXPECT_EQ(split->base, dir / "pk");
  EXPECT_EQ(split->inner, "\xB1\x5Cx.txt");

  // Nor is it stripped as a trailing separator when a folder is listed.
  ASSERT_TRUE(plat::MakeDir(dir / "\xB1\x5C"));
  qvtest::WriteFile(dir / "\xB1\x5C/f.txt", "f");
  source.SetMode(DiskOnly);
  std::unique_ptr<DirIterator> it = source.OpenDir(dir / "\xB1\x5C");
  ASSERT_NE(it, nullptr);
  EXPECT_EQ(List(it.get()).count("f.txt"), 1u);
}

TEST(FileSourceModes, PackageAndDiskAreSearchedInModeOrder) {
  qvtest::CTempDir dir;
  MakePackage(dir / "pk", {{"a.txt", "packed a"}, {"sub/b.txt", "packed b"}});
  qvtest::MakeDirs(dir / "pk");
  qvtest::WriteFile(dir / "pk/a.txt", "disk a!");
  qvtest::WriteFile(dir / "pk/only.txt", "disk only");
  qvtest::WriteFile(dir / "pk/sub", "xyz");  // a plain file where the package has a folder
  CFileSource source;
  EXPECT_EQ(source.GetMode(), PackageFirst);

  EXPECT_EQ(Read(source, dir / "pk/a.txt"), "packed a");
  EXPECT_EQ(Read(source, dir / "pk/sub/b.txt"), "packed b");
  EXPECT_EQ(Read(source, dir / "pk/only.txt"), "disk only");
  EXPECT_EQ(source.FileSize(dir / "pk/a.txt"), 8);
  // The package side has no size for a folder or its root; the disk side is asked next.
  EXPECT_EQ(source.FileSize(dir / "pk/sub"), 3);
  EXPECT_EQ(source.FileSize(dir / "pk"), -1);
  EXPECT_TRUE(source.FileExists(dir / "pk/sub/b.txt"));
  EXPECT_FALSE(source.FileExists(dir / "pk/missing.txt"));

  source.SetMode(DiskFirst);
  EXPECT_EQ(Read(source, dir / "pk/a.txt"), "disk a!");
  EXPECT_EQ(source.FileSize(dir / "pk/a.txt"), 7);
  EXPECT_EQ(Read(source, dir / "pk/sub/b.txt"), "packed b");

  source.SetMode(PackageOnly);
  EXPECT_EQ(source.OpenFile(dir / "pk/only.txt"), nullptr);
  EXPECT_EQ(source.FileSize(dir / "pk/sub"), -1);
  EXPECT_FALSE(source.FileExists(""));

  source.SetMode(DiskOnly);
  EXPECT_EQ(source.OpenFile(dir / "pk/sub/b.txt"), nullptr);
  EXPECT_EQ(source.FileSize(dir.Path()), -1);
  EXPECT_TRUE(source.FileExists(""));
  EXPECT_TRUE(source.FileExists(dir / "pk.idx"));

  source.SetMode(7);
  EXPECT_EQ(source.GetMode(), 7);
  EXPECT_EQ(source.OpenFile(dir / "pk/a.txt"), nullptr);
  EXPECT_EQ(source.FileSize(dir / "pk/a.txt"), -1);
  EXPECT_FALSE(source.FileExists(dir / "pk/a.txt"));
  EXPECT_EQ(source.OpenDir(dir.Path()), nullptr);
}

TEST(FileSourceModes, IncompleteOrBrokenPackageFallsBackToDisk) {
  qvtest::CTempDir dir;
  WritePackageParts(dir / "two", true, true, false);
  WritePackageParts(dir / "junk", true, true, true);  // all three, but not a package
  qvtest::MakeDirs(dir / "two");
  qvtest::MakeDirs(dir / "junk");
  qvtest::WriteFile(dir / "two/x.txt", "plain two");
  qvtest::WriteFile(dir / "junk/x.txt", "plain junk");
  CFileSource source;
  EXPECT_EQ(Read(source, dir / "two/x.txt"), "plain two");
  EXPECT_EQ(Read(source, dir / "junk/x.txt"), "plain junk");
  EXPECT_EQ(source.FileSize(dir / "junk/x.txt"), 10);
  source.SetMode(PackageOnly);
  EXPECT_EQ(source.OpenFile(dir / "junk/x.txt"), nullptr);
}

TEST(FileSourceModes, WriteModeOpensThePlainFileWhateverTheMode) {
  qvtest::CTempDir dir;
  MakePackage(dir / "pk", {{"a.txt", "packed"}});
  qvtest::MakeDirs(dir / "pk");
  CFileSource source;
  source.SetMode(PackageOnly);
  std::unique_ptr<DataStream> out = source.OpenFile(dir / "pk/a.txt", "wb");
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(out->Write("new", 3), 3);
  EXPECT_TRUE(source.CloseFile(std::move(out)));
  EXPECT_EQ(out, nullptr);
  EXPECT_FALSE(source.CloseFile(std::move(out)));
  EXPECT_EQ(qvtest::ReadFile(dir / "pk/a.txt"), "new");
  EXPECT_EQ(Read(source, dir / "pk/a.txt"), "packed");

  // A preloaded copy is stale once the file is opened for writing.
  qvtest::WriteFile(dir / "plain.txt", "old");
  source.SetMode(DiskOnly);
  ASSERT_EQ(source.PreloadFile(dir / "plain.txt"), 0);
  {
    std::unique_ptr<DataStream> w = source.OpenFile(dir / "plain.txt", "wb");
    ASSERT_NE(w, nullptr);
    w->Write("newer", 5);
  }
  EXPECT_EQ(Read(source, dir / "plain.txt"), "newer");
  EXPECT_EQ(source.UnloadFile(dir / "plain.txt"), -1);
}

TEST(FileSourceModes, OverlongPathsAreRefusedNotCut) {
  qvtest::CTempDir dir;
  std::string longPath = dir / std::string(300, 'x');
  std::string cut = longPath.substr(0, CFileSource::kMaxPath);
  qvtest::WriteFile(dir / "f", "f");
  CFileSource source;
  EXPECT_EQ(source.OpenFile(longPath, "wb"), nullptr);
  EXPECT_FALSE(plat::FileExists(cut));
  EXPECT_EQ(source.FileSize(longPath), -1);
  EXPECT_FALSE(source.FileExists(longPath));
  EXPECT_EQ(source.OpenDir(dir.Path() + std::string(300, '/')), nullptr);
  EXPECT_NE(source.OpenDir(dir.Path() + "//"), nullptr);
}

TEST(FileSourceCache, PreloadRulesAndCaseInsensitiveKeys) {
  qvtest::CTempDir dir;
  qvtest::WriteFile(dir / "empty.bin", "");
  qvtest::WriteFile(dir / "data.bin", "content");
  CFileSource source;
  EXPECT_EQ(source.PreloadFile(dir / "empty.bin"), -1);
  EXPECT_EQ(source.PreloadFile(dir / "missing.bin"), -1);
  EXPECT_EQ(source.PreloadFile(dir.Path()), -1);
  EXPECT_EQ(source.PreloadFile(dir / "data.bin"), 0);
  EXPECT_EQ(source.PreloadFile(dir / "DATA.BIN"), -1);

  ASSERT_TRUE(plat::DeleteFile(dir / "data.bin"));
  source.SetMode(DiskOnly);
  EXPECT_EQ(Read(source, dir / "Data.Bin"), "content");
  EXPECT_EQ(source.FileSize(dir / "data.bin"), 7);
  EXPECT_TRUE(source.FileExists(dir / "data.bin"));
  // A preloaded stream is read-only: it is every later reader's copy.
  std::unique_ptr<DataStream> s = source.OpenFile(dir / "data.bin", "rb");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->Write("XX", 2), -1);
  EXPECT_EQ(source.UnloadFile(dir / "data.BIN"), 0);
  EXPECT_EQ(source.UnloadFile(dir / "data.bin"), -1);
  EXPECT_EQ(ReadAll(s.get()), "content");  // the open stream keeps its block
  EXPECT_FALSE(source.FileExists(dir / "data.bin"));
}

TEST(FileSourceCache, PreloadedPackageIsReadFromMemory) {
  qvtest::CTempDir dir;
  MakePackage(dir / "pk", {{"a.txt", "alpha"}, {"sub/b.txt", qvtest::PseudoRandom(200000, 3, true)}});
  CFileSource source;
  ASSERT_EQ(source.PreloadPackage(dir / "pk"), 0);
  EXPECT_EQ(source.PreloadPackage(dir / "pk"), -1);
  for (const char* ext : {".idx", ".nam", ".dat"}) ASSERT_TRUE(plat::DeleteFile(dir / "pk" + ext));

  source.SetMode(PackageOnly);
  EXPECT_EQ(Read(source, dir / "pk/a.txt"), "alpha");
  // The reader keeps the blocks it was opened over after they leave the cache; its
  // stream reads them only now.
  std::unique_ptr<DataStream> stream = source.OpenFile(dir / "pk/sub/b.txt");
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(source.UnloadPackage(dir / "pk"), 0);
  EXPECT_EQ(source.UnloadPackage(dir / "pk"), -1);
  EXPECT_TRUE(ReadAll(stream.get()) == qvtest::PseudoRandom(200000, 3, true));
  // With the files gone from memory and disk, the path is in no package any more.
  EXPECT_EQ(source.OpenFile(dir / "pk/a.txt"), nullptr);
}

TEST(FileSourceCache, FailedPackagePreloadLeavesNothingLoaded) {
  qvtest::CTempDir dir;
  WritePackageParts(dir / "half", true, false, true);
  CFileSource source;
  EXPECT_EQ(source.PreloadPackage(dir / "half"), -1);
  EXPECT_EQ(source.UnloadFile(dir / "half.idx"), -1);
  EXPECT_EQ(source.UnloadFile(dir / "half.dat"), -1);
}

TEST(FileSourcePassword, ReadersUseTheCurrentPassword) {
  qvtest::CTempDir dir;
  const std::string content = qvtest::PseudoRandom(5000, 9, true);
  MakePackage(dir / "pk", {{"a.bin", content}}, kPckGamePassword);
  CFileSource source;
  source.SetMode(PackageOnly);
  source.SetPassword(kPckGamePassword);
  EXPECT_TRUE(Read(source, dir / "pk/a.bin") == content);
  source.SetPassword(nullptr);
  EXPECT_FALSE(Read(source, dir / "pk/a.bin") == content);
  // Only the first 127 bytes count.
  source.SetPassword((std::string(kPckGamePassword) + std::string(200, 'z')).c_str());
  EXPECT_FALSE(Read(source, dir / "pk/a.bin") == content);
}

TEST(FileSourceListing, PackagesAreListedOnceAsFolders) {
  qvtest::CTempDir dir;
  MakePackage(dir / "bld", {{"in.txt", "i"}, {"deep/z.txt", "z"}});
  qvtest::WriteFile(dir / "x.txt", "x");
  qvtest::WriteFile(dir / "lone.nam", "n");
  qvtest::WriteFile(dir / "xnam", "n");
  WritePackageParts(dir / "two", true, false, true);

  std::map<std::string, int> expect = {{".", kDirEntryFolder},    {"..", kDirEntryFolder},
                                       {"bld", kDirEntryFolder},  {"x.txt", kDirEntryFile},
                                       {"lone.nam", kDirEntryFile}, {"xnam", kDirEntryFile},
                                       {"two.idx", kDirEntryFile}, {"two.dat", kDirEntryFile}};
  PackageFoldingDirIterator direct(dir.Path());
  EXPECT_EQ(List(&direct), expect);

  CFileSource source;
  source.SetMode(DiskOnly);
  std::unique_ptr<DirIterator> it = source.OpenDir(dir.Path() + "/");
  EXPECT_EQ(List(it.get()), expect);
  EXPECT_EQ(source.OpenDir(dir / "missing"), nullptr);

  // The package side lists the package's own root and its folders.
  source.SetMode(PackageFirst);
  it = source.OpenDir(dir / "bld\\");
  EXPECT_EQ(List(it.get()), (std::map<std::string, int>{{"in.txt", kDirEntryFile}, {"deep", kDirEntryFolder}}));
  it = source.OpenDir(dir / "bld/deep");
  EXPECT_EQ(List(it.get()), (std::map<std::string, int>{{"z.txt", kDirEntryFile}}));
  it.reset();

  EXPECT_EQ(OpenDirThroughSource(dir.Path()), nullptr);
  g_fileSource = &source;
  it = OpenDirThroughSource(dir / "bld");
  g_fileSource = nullptr;
  EXPECT_EQ(List(it.get()).size(), 2u);
}
