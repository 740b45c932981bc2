// The platform layer against the real file system: each test works in its own
// temporary folder.
#include "platform/Platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <thread>

#include "tests/support/FileHold.h"
#include "tests/support/TempDir.h"
#include "tests/support/RecordingUi.h"

#ifdef _WIN32
#include "platform/WindowsApi.h"
#include "platform/WideText.h"
#endif

namespace {

using qvtest::CTempDir;
using qvtest::Exists;
using qvtest::ReadFile;
using qvtest::WriteFile;

// Every entry of a folder, by name.
std::map<std::string, plat::FindData> ListFolder(const std::string& folder) {
  std::map<std::string, plat::FindData> entries;
  plat::CFolderFind find;
  plat::FindData data;
  for (bool more = find.First(folder, data); more; more = find.Next(data)) entries[data.name] = data;
  return entries;
}

void MakeReadOnly(const std::string& path) {
  std::filesystem::permissions(path, std::filesystem::perms::owner_write | std::filesystem::perms::group_write |
                                         std::filesystem::perms::others_write,
                               std::filesystem::perm_options::remove);
}

// ---- ShellDelete ----

TEST(ShellDelete, DeletesFilesAndWholeTrees) {
  CTempDir dir;
  WriteFile(dir / "single.txt", "x");
  qvtest::MakeDirs(dir / "tree/a/b");
  WriteFile(dir / "tree/top.txt", "1");
  WriteFile(dir / "tree/a/b/deep.txt", "2");
  WriteFile(dir / "tree/a/locked.txt", "3");
  MakeReadOnly(dir / "tree/a/locked.txt");

  EXPECT_TRUE(plat::ShellDelete(dir / "single.txt"));
  EXPECT_FALSE(Exists(dir / "single.txt"));
  EXPECT_TRUE(plat::ShellDelete(dir / "tree"));
  EXPECT_FALSE(Exists(dir / "tree"));
  EXPECT_TRUE(Exists(dir.Path()));
}

TEST(ShellDelete, WildcardInLastComponentDeletesOnlyMatches) {
  CTempDir dir;
  WriteFile(dir / "a.tmp", "1");
  MakeReadOnly(dir / "a.tmp");  // the shell deletes read-only files without asking
  WriteFile(dir / "B.TMP", "2");
  WriteFile(dir / "keep.txt", "3");
  qvtest::MakeDirs(dir / "sub.tmp/inner");
  WriteFile(dir / "sub.tmp/inner/x.txt", "4");

  EXPECT_TRUE(plat::ShellDelete(dir / "*.tmp"));
  EXPECT_FALSE(Exists(dir / "a.tmp"));
  EXPECT_FALSE(Exists(dir / "B.TMP"));
  EXPECT_FALSE(Exists(dir / "sub.tmp"));
  EXPECT_EQ(ReadFile(dir / "keep.txt"), "3");
}

TEST(ShellDelete, NothingToDelete) {
  CTempDir dir;
  WriteFile(dir / "keep.txt", "k");
  EXPECT_TRUE(plat::ShellDelete(dir / "*.none"));  // a pattern matching nothing succeeds
  EXPECT_FALSE(plat::ShellDelete(dir / "missing.txt"));
  EXPECT_FALSE(plat::ShellDelete(dir / "missing/*.txt"));
  EXPECT_TRUE(Exists(dir / "keep.txt"));
}

TEST(ShellDelete, RefusesParentsAndEmptyNames) {
  CTempDir dir;
  qvtest::MakeDirs(dir / "sub");
  WriteFile(dir / "keep.txt", "k");
  EXPECT_FALSE(plat::ShellDelete(dir / "sub/.."));
  EXPECT_FALSE(plat::ShellDelete(dir / "sub/."));
  EXPECT_FALSE(plat::ShellDelete(""));
  EXPECT_TRUE(Exists(dir / "keep.txt"));
  EXPECT_TRUE(Exists(dir / "sub"));
}

// ---- paths: backslashes and two-byte names ----

TEST(PlatformPaths, BackslashesSeparateAndTrailBytesDoNot) {
  CTempDir dir;
  const std::string win = dir.Path() + "\\sub";
  ASSERT_TRUE(plat::MakeDir(win));
  WriteFile(win + "\\f.txt", "data");
  auto top = ListFolder(dir.Path());
  ASSERT_EQ(top.count("sub"), 1u);
  EXPECT_TRUE(top["sub"].isDir);
  EXPECT_EQ(ListFolder(dir / "sub").count("f.txt"), 1u);

  // A name whose second character byte is 0x5C stays one name in one folder.
  const std::string gbk = "\x95\x5c\xb1\x5c.txt";
  WriteFile(win + "\\" + gbk, "gbk");
  auto sub = ListFolder(win);
  ASSERT_EQ(sub.count(gbk), 1u);
  EXPECT_EQ(sub[gbk].sizeLow, 3u);
  EXPECT_TRUE(plat::ShellDelete(win + "\\?" + "\xb1\x5c.*"));
  EXPECT_EQ(ListFolder(win).count(gbk), 0u);
  EXPECT_TRUE(Exists(dir / "sub/f.txt"));
}

TEST(PlatformPaths, RelativeNamesUseTheWorkDir) {
  CTempDir dir;
  WriteFile(dir / "rel.txt", "here");
  qvtest::CWorkDirGuard guard(dir.Path());
  EXPECT_EQ(ReadFile("rel.txt"), "here");
  plat::FileInfo info;
  EXPECT_TRUE(plat::StatPath("rel.txt", info));
  EXPECT_EQ(info.size, 4);
}

TEST(PlatformPaths, ModuleFileNameIsThisExecutable) {
  std::string exe = plat::ModuleFileName();
  ASSERT_FALSE(exe.empty());
  EXPECT_TRUE(plat::FileExists(exe));
  EXPECT_NE(exe.find("platform_tests"), std::string::npos);
}

#ifdef _WIN32
// A folder and a file of a Western user, named with characters that code page 936 lacks.
// The paths the system gives (the work folder) and those given on a command line come in
// their short forms, which open; the shell delete still finds and removes such a file.
// The folder listing gives the name with '?', which opens nothing: a short name is never
// passed on as a name to store.
TEST(PlatformPaths, NamesTheCodePageLacksOpenUnderTheirShortForms) {
  CTempDir dir;
  const std::wstring folder = plat::Wide(dir.Path()) + L"\\Mu\u00f1oz";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  const std::wstring file = folder + L"\\Stra\u00dfe.txt";
  HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ::WriteFile(handle, "x", 1, &written, nullptr);
  CloseHandle(handle);

  EXPECT_EQ(ReadFile(plat::NarrowPath(file)), "x");
  WriteFile(plat::NarrowPath(folder + L"\\new.txt"), "made");  // not there before
  EXPECT_NE(GetFileAttributesW((folder + L"\\new.txt").c_str()), INVALID_FILE_ATTRIBUTES);

  qvtest::CWorkDirGuard guard(dir.Path());
  ASSERT_TRUE(SetCurrentDirectoryW(folder.c_str()));
  const std::string here = plat::GetWorkDir();
  EXPECT_EQ(here.find('?'), std::string::npos) << here;
  auto entries = ListFolder(here);
  ASSERT_EQ(entries.count("Stra?e.txt"), 1u);
  EXPECT_FALSE(Exists(here + "\\Stra?e.txt"));
  EXPECT_TRUE(plat::ShellDelete(here + "\\S*.txt"));
  EXPECT_EQ(GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES);
}

// A file another program holds is waited for about two seconds: let go within that time,
// the call goes through; held longer, it fails and says the file is in use.
TEST(PlatformFiles, AFileHeldElsewhereIsWaitedForThenReportedInUse) {
  CTempDir dir;
  const std::string path = dir.Path() + "\\held.bin", other = dir.Path() + "\\other.bin";
  WriteFile(path, "x");
  WriteFile(other, "y");
  qvtest::CFileHold hold;
  ASSERT_TRUE(hold.Hold(path, /*othersMayRead=*/true));
  std::thread letGo([&] {
    plat::SleepMs(500);
    hold.Release();
  });
  FILE* file = plat::OpenFile(path, "rb+");
  letGo.join();
  EXPECT_NE(file, nullptr);
  plat::CloseFile(file);
  ASSERT_TRUE(hold.Hold(path, /*othersMayRead=*/true));
  EXPECT_EQ(plat::OpenFile(path, "rb+"), nullptr);
  EXPECT_EQ(plat::LastError().kind, plat::OsErrorKind::InUse);
  EXPECT_FALSE(plat::ReplaceFile(other, path));
  EXPECT_EQ(plat::LastError().kind, plat::OsErrorKind::InUse);
}
#else
std::string Utf8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

// The program speaks code page 936 (string literals here are compiled to it), the disk
// the locale's character set (UTF-8; the C locale counts as UTF-8 too): every call
// converts, so a name lands under the name other programs show, and lists back as the
// same bytes.
TEST(PlatformPaths, NamesAreCodePage936InsideAndTheLocalesOnTheDisk) {
  CTempDir dir;
  const struct {
    std::string inside, onDisk;
  } rows[] = {
      {"说明.txt", Utf8(u8"说明.txt")},
      {"界面", Utf8(u8"界面")},
      {"\x80.txt", Utf8(u8"\u20ac.txt")},          // the code page's one-byte euro sign
      {"\xa1\x40.txt", Utf8(u8"\ue4c6.txt")},      // a user-defined code, as Windows maps it
      {"\xf7\x7c.txt", Utf8(u8"鱸.txt")},          // a trail byte that looks like '|'
      {"con.txt", "con.txt"},
  };
  for (const auto& row : rows) {
    WriteFile(dir.Path() + "\\" + row.inside, "x");
    EXPECT_TRUE(std::filesystem::exists(dir.Path() + "/" + row.onDisk)) << row.onDisk;
    auto entries = ListFolder(dir.Path());
    ASSERT_EQ(entries.count(row.inside), 1u) << row.onDisk;
    EXPECT_TRUE(entries[row.inside].exact);
    EXPECT_EQ(ReadFile(dir.Path() + "/" + row.inside), "x");
    EXPECT_TRUE(plat::ShellDelete(dir.Path() + "/" + row.inside));
    EXPECT_FALSE(std::filesystem::exists(dir.Path() + "/" + row.onDisk));
  }
  qvtest::CWorkDirGuard guard(dir.Path());
  ASSERT_TRUE(plat::MakeDir("界面"));
  ASSERT_TRUE(plat::SetWorkDir("界面"));
  EXPECT_EQ(plat::GetWorkDir(), plat::FromSystemText(dir.Path()) + "/界面");
}

// A name on the disk that the code page cannot hold (an emoji, bytes that are no UTF-8)
// lists as inexact with 0xFF for what is missing, and nothing opens or deletes a file
// under that stand-in; a wildcard still reaches it, as the shell's would. Bytes that are
// no code page 936 text never reach the disk.
TEST(PlatformPaths, NamesThatDoNotConvertAreRefusedNeverGuessed) {
  CTempDir dir;
  for (const std::string& raw : {Utf8(u8"\U0001F600.txt"), std::string("\xcb\xb5.txt")}) {
    WriteFile(dir.Path() + "/plain.txt", "keep");
    { std::ofstream(dir.Path() + "/" + raw) << "y"; }
    auto entries = ListFolder(dir.Path());
    auto bad = std::find_if(entries.begin(), entries.end(), [](const auto& e) { return !e.second.exact; });
    ASSERT_NE(bad, entries.end()) << raw;
    EXPECT_NE(bad->first.find('\xFF'), std::string::npos);
    EXPECT_EQ(plat::OpenFile(dir.Path() + "/" + bad->first, "rb"), nullptr);
    EXPECT_EQ(plat::LastError().kind, plat::OsErrorKind::BadName);
    EXPECT_FALSE(plat::ShellDelete(dir.Path() + "/" + bad->first));
    EXPECT_TRUE(std::filesystem::exists(dir.Path() + "/" + raw));
    EXPECT_TRUE(plat::ShellDelete(dir.Path() + "/*.txt"));
    EXPECT_FALSE(std::filesystem::exists(dir.Path() + "/" + raw));
  }
  for (const char* inside : {"a\x81\x7f", "a\xff", "a\x81"}) {
    EXPECT_EQ(plat::OpenFile(dir.Path() + "/" + inside, "wb"), nullptr) << inside;
    EXPECT_EQ(plat::LastError().kind, plat::OsErrorKind::BadName);
    EXPECT_FALSE(plat::MakeDir(dir.Path() + "/" + inside));
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}
#endif

// ---- folder listing ----

TEST(FolderFind, ListsDotsFilesAndFolders) {
  CTempDir dir;
  WriteFile(dir / "file.bin", std::string(1234, 'z'));
  qvtest::MakeDirs(dir / "folder");
  auto entries = ListFolder(dir.Path());
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_TRUE(entries["."].isDir);
  EXPECT_TRUE(entries[".."].isDir);
  EXPECT_TRUE(entries["folder"].isDir);
  EXPECT_FALSE(entries["file.bin"].isDir);
  EXPECT_EQ(entries["file.bin"].sizeLow, 1234u);

  plat::CFolderFind find;
  plat::FindData data;
  EXPECT_FALSE(find.First(dir / "missing", data));
  EXPECT_FALSE(find.IsOpen());
  ASSERT_TRUE(find.First(dir / "folder/", data));  // a trailing separator is fine
  EXPECT_TRUE(find.IsOpen());
  find.Close();
  EXPECT_FALSE(find.Next(data));
}

// ---- files ----

TEST(PlatformFiles, LargeOffsetsAndLowSizeBits) {
  CTempDir dir;
  const int64_t past4G = (int64_t{1} << 32) + 4;  // sparse where the file system allows
  FILE* f = plat::OpenFile(dir / "big.bin", "wb");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(plat::SeekFile(f, past4G, SEEK_SET), 0);
  ASSERT_EQ(fputc('!', f), '!');
  EXPECT_EQ(plat::TellFile(f), past4G + 1);
  EXPECT_TRUE(plat::FlushFileToDisk(f));
  fclose(f);

  plat::FileInfo info;
  ASSERT_TRUE(plat::StatPath(dir / "big.bin", info));
  EXPECT_EQ(info.size, past4G + 1);
  EXPECT_EQ(ListFolder(dir.Path())["big.bin"].sizeLow, 5u);
}

TEST(PlatformFiles, FilesAndFoldersAreKeptApart) {
  CTempDir dir;
  ASSERT_TRUE(plat::MakeDir(dir / "d"));
  EXPECT_FALSE(plat::MakeDir(dir / "d"));  // exists already
  WriteFile(dir / "d/f", "1");
  EXPECT_FALSE(plat::DeleteFile(dir / "d"));
  EXPECT_FALSE(plat::RemoveDir(dir / "d"));  // not empty
  EXPECT_TRUE(plat::DeleteFile(dir / "d/f"));
  EXPECT_TRUE(plat::RemoveDir(dir / "d"));
  EXPECT_FALSE(plat::FileExists(dir / "d"));
  plat::FileInfo info;
  EXPECT_FALSE(plat::StatPath(dir / "d", info));
}

TEST(PlatformFiles, ReplaceFileReplacesTheTarget) {
  CTempDir dir;
  WriteFile(dir / "new.tmp", "new contents");
  WriteFile(dir / "target.pck", "old");
  ASSERT_TRUE(plat::ReplaceFile(dir / "new.tmp", dir / "target.pck"));
  EXPECT_EQ(ReadFile(dir / "target.pck"), "new contents");
  EXPECT_FALSE(Exists(dir / "new.tmp"));
  EXPECT_FALSE(plat::ReplaceFile(dir / "new.tmp", dir / "target.pck"));
  EXPECT_EQ(ReadFile(dir / "target.pck"), "new contents");
}

TEST(PlatformFiles, SetNormalAttributesMakesReadOnlyFilesDeletable) {
  CTempDir dir;
  WriteFile(dir / "ro.txt", "r");
  MakeReadOnly(dir / "ro.txt");
  ASSERT_TRUE(plat::SetNormalAttributes(dir / "ro.txt"));
  auto perms = std::filesystem::status(dir / "ro.txt").permissions();
  EXPECT_NE(perms & std::filesystem::perms::owner_write, std::filesystem::perms::none);
  EXPECT_TRUE(plat::IsWritable(dir / "ro.txt"));
  EXPECT_TRUE(plat::DeleteFile(dir / "ro.txt"));
  EXPECT_FALSE(plat::SetNormalAttributes(dir / "ro.txt"));
}

TEST(PlatformFiles, ModificationTimesRoundTrip) {
  CTempDir dir;
  WriteFile(dir / "t.txt", "t");
  qvtest::MakeDirs(dir / "folder");
  // 2001-09-09, and 2100-01-01 which no longer fits 32 bits.
  for (int64_t when : {int64_t{1000000000}, int64_t{4102444800}}) {
    ASSERT_TRUE(plat::SetFileTime(dir / "t.txt", when));
    plat::FileInfo info;
    ASSERT_TRUE(plat::StatPath(dir / "t.txt", info));
    EXPECT_EQ(info.mtime, when);
    FILE* f = plat::OpenFile(dir / "t.txt", "rb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(plat::FileHandleMTime(f), when);
    fclose(f);
  }
  ASSERT_TRUE(plat::SetFileTime(dir / "folder", 1000000000));
  plat::FileInfo info;
  ASSERT_TRUE(plat::StatPath(dir / "folder", info));
  EXPECT_TRUE(info.isDir);
  EXPECT_EQ(info.mtime, 1000000000);
  EXPECT_FALSE(plat::SetFileTime(dir / "missing", 1000000000));
}

// ---- time ----

TEST(PlatformTime, TickMsCountsMilliseconds) {
  uint32_t start = plat::TickMs();
  plat::SleepMs(50);
  uint32_t elapsed = plat::TickMs() - start;
  EXPECT_GE(elapsed, 40u);
  EXPECT_LT(elapsed, 5000u);
}

// ---- profile strings ----

class ProfileString : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(m_dir / "patcher.ini",
              "; settings\r\n"
              "[Other]\r\n"
              "Server=wrong\r\n"
              "[ Patch ]\r\n"
              "  Server = update.example.com \t\r\n"
              "Quoted=\"  spaced  \"\r\n"
              "Single='one'\r\n"
              "Half=\"open\r\n"
              "Empty=\r\n"
              "server=second\r\n"
              "Gbk=\xb1\x5c\xb1\x5c\r\n"
              "[Later]\r\n"
              "Only=later\n");
  }
  std::string Get(const std::string& section, const std::string& key, const std::string& def = "dflt",
                  int size = 64) {
    std::vector<char> buf(std::max(size, 1), '#');
    int n = plat::GetProfileString(section, key, def, buf.data(), size, m_dir / "patcher.ini");
    std::string value(buf.data());
    EXPECT_EQ(n, static_cast<int>(value.size())) << section << "/" << key;
    return value;
  }
  CTempDir m_dir;
};

TEST_F(ProfileString, FindsValuesWithoutCaseAndTrimmed) {
  EXPECT_EQ(Get("PATCH", "SERVER"), "update.example.com");  // first key wins
  EXPECT_EQ(Get("other", "server"), "wrong");
  EXPECT_EQ(Get("Later", "Only"), "later");
  EXPECT_EQ(Get("Patch", "Quoted"), "  spaced  ");
  EXPECT_EQ(Get("Patch", "Single"), "one");
  EXPECT_EQ(Get("Patch", "Half"), "\"open");
  EXPECT_EQ(Get("Patch", "Empty"), "");  // present but empty is not the default
  EXPECT_EQ(Get("Patch", "Gbk"), "\xb1\x5c\xb1\x5c");  // the bytes as stored, on any code page
}

TEST_F(ProfileString, MissingEntriesGiveTheDefault) {
  EXPECT_EQ(Get("Patch", "Only"), "dflt");  // only in another section
  EXPECT_EQ(Get("Nowhere", "Server"), "dflt");
  char buf[16];
  EXPECT_EQ(plat::GetProfileString("Patch", "Server", "fallback", buf, sizeof buf, m_dir / "none.ini"), 8);
  EXPECT_STREQ(buf, "fallback");
}

TEST_F(ProfileString, CopiesAtMostSizeMinusOneBytes) {
  EXPECT_EQ(Get("Patch", "Server", "", 7), "update");
  EXPECT_EQ(Get("Patch", "Server", "", 1), "");
  EXPECT_EQ(Get("Patch", "Nope", "longdefault", 5), "long");
  // Never half a two-byte character.
  EXPECT_EQ(Get("Patch", "Gbk", "", 4), "\xb1\x5c");
  EXPECT_EQ(Get("Patch", "Gbk", "", 2), "");
  char untouched = 'u';
  EXPECT_EQ(plat::GetProfileString("Patch", "Server", "", &untouched, 0, m_dir / "patcher.ini"), 0);
  EXPECT_EQ(untouched, 'u');
}

TEST_F(ProfileString, RelativePathMeansTheWorkDir) {
  qvtest::CWorkDirGuard guard(m_dir.Path());
  char buf[32];
  EXPECT_EQ(plat::GetProfileString("Later", "Only", "", buf, sizeof buf, "patcher.ini"), 5);
  EXPECT_STREQ(buf, "later");
}

// ---- single instance ----

TEST(InstanceMutex, SecondCopyIsRefusedUntilTheFirstLetsGo) {
  const std::string name = "QvTestMutex-" + std::to_string(plat::TickMs());
  plat::CInstanceMutex second;
  {
    plat::CInstanceMutex first;
    ASSERT_TRUE(first.Acquire(name));
    EXPECT_FALSE(second.Acquire(name));
    first.Release();
    EXPECT_TRUE(second.Acquire(name));
    EXPECT_FALSE(first.Acquire(name));
    second.Release();
    EXPECT_TRUE(first.Acquire(name));
  }  // the destructor lets go as well
  EXPECT_TRUE(second.Acquire(name));
}

// ---- message boxes ----

TEST(MessageUi, RecordingUiAnswersFromItsScriptThenByDefault) {
  qvtest::CRecordingUi ui;
  ui.answers = {plat::kIdYes, plat::kIdCancel};
  EXPECT_EQ(ui.MessageBox("one", "cap", plat::kMbYesNo | plat::kMbIconQuestion), plat::kIdYes);
  EXPECT_EQ(ui.MessageBox("two", "cap", plat::kMbOk), plat::kIdCancel);
  EXPECT_EQ(ui.MessageBox("three", "cap", plat::kMbYesNo | plat::kMbIconWarning), plat::kIdNo);
  EXPECT_EQ(ui.MessageBox("four", "cap", plat::kMbOk | plat::kMbIconInfo), plat::kIdOk);
  ui.DrainMessages();
  ASSERT_EQ(ui.boxes.size(), 4u);
  EXPECT_EQ(ui.boxes[2].text, "three");
  EXPECT_EQ(ui.boxes[2].flags, plat::kMbYesNo | plat::kMbIconWarning);
  EXPECT_EQ(ui.drains, 1);
}

#ifndef _WIN32
// On Windows the native box would wait for a click.
TEST(MessageUi, PosixNativeUiTakesTheDefaults) {
  auto ui = plat::CreateNativeMessageUi();
  EXPECT_EQ(ui->MessageBox("q", "c", plat::kMbYesNo | plat::kMbIconQuestion), plat::kIdNo);
  EXPECT_EQ(ui->MessageBox("i", "c", plat::kMbOk | plat::kMbIconInfo), plat::kIdOk);
  ui->DrainMessages();
}
#endif

}  // namespace
