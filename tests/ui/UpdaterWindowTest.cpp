// The Windows updater as a player meets it, driven from outside through its windows:
// the reminder first, one copy at a time, Exit asks, Enter does nothing, Update runs
// the whole update, a refused version question leaves the game alone, and the window
// is cut to the outline of its background picture. Needs a display (make test gives
// Wine a virtual one); saves screenshots of the dialog idle and during a run.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>
#include <string>

#include "app/Texts.h"
#include "payload/PayloadFormat.h"
#include "pck/PckFormat.h"
#include "platform/WideText.h"
#include "tests/support/FileHold.h"
#include "tests/support/PackageFixtures.h"
#include "tests/support/ProcessRunner.h"
#include "tests/ui/WindowDriver.h"

namespace gui = qvtest::gui;

namespace {

constexpr DWORD kStartMs = 60000;  // the first start of a Wine process can be slow
constexpr DWORD kStepMs = 20000;
constexpr int kProgressId = 1000, kUpdateId = 1001, kExitId = IDCANCEL;

// The screenshots of a run on a Windows whose code page is not 936 go into a folder of
// their own ("cp1252"), beside those of the Chinese run.
std::string ScreenshotDir() {
  const char* dir = std::getenv("QV_SCREENSHOT_DIR");
  std::string path = qvtest::WinePath(dir && *dir ? dir : ".");
  if (GetACP() != 936) path += "/cp" + std::to_string(GetACP());
  qvtest::MakeDirs(path);
  return path;
}

// The Unix name that Wine gave a file, "" outside Wine.
std::string UnixNameOf(const std::wstring& path) {
  using ToUnix = char*(CDECL*)(const wchar_t*);
  auto toUnix = reinterpret_cast<ToUnix>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  char* name = toUnix ? toUnix(path.c_str()) : nullptr;
  if (!name) return {};
  std::string out = name;
  HeapFree(GetProcessHeap(), 0, name);
  return out;
}

// A BMP file's pixels, 0x00RRGGBB, rows from the top.
bool LoadBmp(const std::string& path, int& w, int& h, std::vector<uint32_t>& pixels) {
  HBITMAP bitmap = static_cast<HBITMAP>(
      LoadImageW(nullptr, plat::Wide(qvtest::WinePath(path)).c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION));
  if (!bitmap) return false;
  BITMAP info{};
  GetObjectW(bitmap, sizeof info, &info);
  w = info.bmWidth;
  h = info.bmHeight;
  BITMAPINFO bi{};
  bi.bmiHeader = {sizeof bi.bmiHeader, w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  pixels.assign(static_cast<size_t>(w) * static_cast<size_t>(h), 0);
  HDC screen = GetDC(nullptr);
  const bool ok = GetDIBits(screen, bitmap, 0, static_cast<UINT>(h), pixels.data(), &bi, DIB_RGB_COLORS) == h;
  ReleaseDC(nullptr, screen);
  DeleteObject(bitmap);
  for (uint32_t& p : pixels) p &= 0xFFFFFF;
  return ok;
}

// How many of the picture's pixels that are not the magenta key differ (by more than a
// rounding step in some channel) from the screen shot at (x0, y0).
int Mismatches(const std::vector<uint32_t>& shot, int shotWidth, int x0, int y0, const std::string& bmp) {
  int w = 0, h = 0;
  std::vector<uint32_t> image;
  if (!LoadBmp(bmp, w, h, image)) return -1;
  int wrong = 0;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const uint32_t want = image[static_cast<size_t>(y * w + x)];
      if (want == 0xFF00FF) continue;
      const uint32_t got = shot[static_cast<size_t>((y0 + y) * shotWidth + x0 + x)];
      for (int shift = 0; shift < 24; shift += 8) {
        if (std::abs(static_cast<int>((want >> shift) & 0xFF) - static_cast<int>((got >> shift) & 0xFF)) > 8) {
          ++wrong;
          break;
        }
      }
    }
  }
  return wrong;
}

class UpdaterWindow : public qvtest::PackageDirTest {
 protected:
  void SetUp() override {
    if (!std::getenv("DISPLAY") || !*std::getenv("DISPLAY"))
      GTEST_SKIP() << "no display: run these under `make test`, which starts a virtual one";
    qvtest::MakeDirs(Game());
    qvtest::WriteFile(G("mb.dat"), "marker");
    qvtest::WriteFile(G("CVer.txt"), "[Ver]\r\nCurVer=1.0.5\r\n");
    // A package with enough files that replacing most of them leaves it worth compacting.
    qvtest::PackageOptions o;
    o.password = kPckGamePassword;
    o.codec = 2;
    for (int i = 0; i < 120; ++i) m_oldFiles["maps/m" + std::to_string(i) + ".bin"] = qvtest::PseudoRandom(3000, i, true);
    ASSERT_EQ(qvtest::BuildPackage(G("bld"), m_oldFiles, o), "");
  }

  // A game installed under a Chinese folder name, as on many players' machines.
  std::string Game() const { return Path("游戏"); }
  std::string G(const std::string& rel) const { return Game() + "/" + rel; }
  std::string Exe() const { return G("QuorvaneUpdate.exe"); }

  // The updater with a patch that offers `offered`, replaces most of the package's
  // files and brings new plain files and a new entry, two of them with Chinese names.
  void MakeUpdater(const std::string& offered, bool damaged = false) {
    qvtest::PackageOptions o;
    o.password = kPckGamePassword;
    qvtest::FileMap patch{{"CVer.txt", "[Ver]\r\nCurVer=" + offered + "\r\nValidVer=1.0.0\r\n"},
                          {"docs/readme.txt", "new"}, {"说明.txt", "说明"}, {"bld/界面/按钮.tga", "按钮"}};
    for (int i = 0; i < 100; ++i) patch["bld/maps/m" + std::to_string(i) + ".bin"] = "patched " + std::to_string(i);
    qvtest::MakeDirs(Path("src"));
    ASSERT_EQ(qvtest::BuildPackage(Path("src/patch"), patch, o), "");
    if (damaged) {
      qvtest::PackageBytes bytes = qvtest::LoadPackageBytes(Path("src/patch"));
      bytes.dat.back() ^= 0x10;  // the last block's payload: no header byte a reader skips
      qvtest::SavePackageBytes(Path("src/patch"), bytes);
    }
    CPayloadBuilder builder;
    std::string why;
    for (const char* ext : {".idx", ".nam", ".dat"})
      ASSERT_TRUE(builder.Add(std::string("patch") + ext, Path("src/patch") + ext, why)) << why;
    ASSERT_TRUE(builder.Write(qvtest::WinePath(QV_UPDATER_EXE), Exe(), why)) << why;
  }

  // Starts the updater and answers the reminder; returns the main dialog.
  HWND StartAndConfirmReminder(gui::CProcess& process) {
    EXPECT_TRUE(process.Start(Exe(), Game()));
    HWND box = gui::WaitForWindow([&] { return gui::MessageBoxOf(process.Id()); }, kStartMs);
    EXPECT_NE(box, nullptr) << "no reminder box";
    if (!box) return nullptr;
    // The reminder comes before the dialog is on the screen.
    EXPECT_EQ(gui::MainDialog(process.Id()), nullptr);
    EXPECT_EQ(gui::MessageText(box), texts::Load(105));
    EXPECT_EQ(gui::TextOf(box), texts::Load(106));
    Screenshot(box, "box-reminder.png");
    gui::Press(box, IDOK);
    HWND dialog = gui::WaitForWindow([&] { return gui::MainDialog(process.Id()); }, kStepMs);
    EXPECT_NE(dialog, nullptr) << "the dialog did not appear after the reminder";
    return dialog;
  }

  std::string Status(HWND dialog) { return gui::TextOf(GetDlgItem(dialog, kProgressId)); }

  void Screenshot(HWND window, const std::string& name) {
    const std::string path = ScreenshotDir() + "/" + name;
    EXPECT_TRUE(gui::SaveScreenshot(window, path)) << path;
    std::printf("[ screenshot ] %s\n", path.c_str());
  }

  qvtest::FileMap m_oldFiles;
};

}  // namespace

TEST_F(UpdaterWindow, IdleDialogAsksBeforeExitIgnoresEnterAndRunsOnce) {
  MakeUpdater("1.0.6");
  gui::CProcess first;
  HWND dialog = StartAndConfirmReminder(first);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(gui::TextOf(dialog), texts::Load(104));
  ASSERT_TRUE(gui::WaitUntil([&] { return Status(dialog) == texts::Load(127); }, kStepMs)) << Status(dialog);
  RECT r{};
  GetWindowRect(dialog, &r);
  EXPECT_EQ(r.right - r.left, 588);
  EXPECT_EQ(r.bottom - r.top, 455);

  // A second copy only says that one runs already, and ends.
  {
    gui::CProcess second;
    ASSERT_TRUE(second.Start(Exe(), Game()));
    HWND box = gui::WaitForWindow([&] { return gui::MessageBoxOf(second.Id()); }, kStartMs);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(gui::MessageText(box), "呵呵，已经运行了...");
    Screenshot(box, "box-second-copy.png");
    EXPECT_EQ(gui::MainDialog(second.Id()), nullptr);
    gui::Press(box, IDOK);
    DWORD code = 1;
    EXPECT_TRUE(second.WaitExit(kStepMs, &code));
    EXPECT_EQ(gui::MainDialog(first.Id()), dialog);
  }

  // Exit asks even when no run is under way; No keeps the dialog.
  gui::Press(dialog, kExitId);
  HWND ask = gui::WaitForWindow([&] { return gui::MessageBoxOf(first.Id()); }, kStepMs);
  ASSERT_NE(ask, nullptr);
  EXPECT_EQ(gui::MessageText(ask), texts::Load(123));
  EXPECT_EQ(gui::TextOf(ask), texts::Load(106));
  ASSERT_NE(GetDlgItem(ask, IDNO), nullptr);
  Screenshot(ask, "box-exit.png");
  gui::Press(ask, IDNO);
  EXPECT_TRUE(gui::WaitUntil([&] { return gui::MessageBoxOf(first.Id()) == nullptr; }, kStepMs));
  EXPECT_FALSE(first.WaitExit(500));
  EXPECT_EQ(gui::MainDialog(first.Id()), dialog);

  // The system menu's About item shows the About box over the dialog.
  PostMessageW(dialog, WM_SYSCOMMAND, 0x10, 0);
  HWND about = gui::WaitForWindow([&] { return gui::MessageBoxOf(first.Id()); }, kStepMs);
  ASSERT_NE(about, nullptr);
  EXPECT_EQ(gui::TextOf(about), "关于 Quorvane 更新程序");
  EXPECT_NE(gui::MessageText(about).find("Quorvane 更新程序 0.01 版"), std::string::npos) << gui::MessageText(about);
  Screenshot(about, "box-about.png");
  gui::Press(about, IDOK);
  EXPECT_TRUE(gui::WaitUntil([&] { return gui::MessageBoxOf(first.Id()) == nullptr; }, kStepMs));

  // Enter neither starts the update nor closes the dialog.
  gui::PressKey(dialog, VK_RETURN);
  Sleep(1500);
  EXPECT_EQ(gui::MessageBoxOf(first.Id()), nullptr);
  EXPECT_EQ(gui::ProgressPos(dialog, kProgressId), 0);
  EXPECT_EQ(Status(dialog), texts::Load(127));
  EXPECT_TRUE(qvtest::Exists(G("QuorvaneUpdate.exe")));
  EXPECT_FALSE(qvtest::Exists(G("patch.idx")));

  // A copy under another name is another program and starts as usual.
  {
    ASSERT_TRUE(CopyFileW(plat::Wide(Exe()).c_str(), plat::Wide(G("OtherUpdate.exe")).c_str(), FALSE));
    gui::CProcess other;
    ASSERT_TRUE(other.Start(G("OtherUpdate.exe"), Game()));
    HWND box = gui::WaitForWindow([&] { return gui::MessageBoxOf(other.Id()); }, kStartMs);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(gui::MessageText(box), texts::Load(105));
    gui::Press(box, IDOK);
    HWND otherDialog = gui::WaitForWindow([&] { return gui::MainDialog(other.Id()); }, kStepMs);
    ASSERT_NE(otherDialog, nullptr);
    PostMessageW(otherDialog, WM_CLOSE, 0, 0);
    EXPECT_TRUE(other.WaitExit(kStepMs));
  }

  // The buttons are drawn from their pictures: the hot one under the mouse.
  gui::HoverOver(dialog, kUpdateId);
  Sleep(700);
  int w = 0, h = 0;
  std::vector<uint32_t> shot;
  ASSERT_TRUE(gui::CaptureWindow(dialog, w, h, shot));
  EXPECT_EQ(Mismatches(shot, w, 133, 390, QV_ARTWORK_DIR "/update_hot.bmp"), 0);
  EXPECT_EQ(Mismatches(shot, w, 357, 390, QV_ARTWORK_DIR "/exit.bmp"), 0);
  Screenshot(dialog, "updater-idle.png");
  gui::HoverOver(dialog, kExitId);
  Sleep(700);
  ASSERT_TRUE(gui::CaptureWindow(dialog, w, h, shot));
  EXPECT_EQ(Mismatches(shot, w, 133, 390, QV_ARTWORK_DIR "/update.bmp"), 0);
  EXPECT_EQ(Mismatches(shot, w, 357, 390, QV_ARTWORK_DIR "/exit_hot.bmp"), 0);

  // Closing the window ends the program without a question.
  PostMessageW(dialog, WM_CLOSE, 0, 0);
  EXPECT_TRUE(first.WaitExit(kStepMs));
}

TEST_F(UpdaterWindow, WindowRegionLeavesOutTheMagentaOfTheBackground) {
  MakeUpdater("1.0.6");
  gui::CProcess process;
  HWND dialog = StartAndConfirmReminder(process);
  ASSERT_NE(dialog, nullptr);

  int w = 0, h = 0;
  std::vector<uint32_t> pixels;
  ASSERT_TRUE(LoadBmp(QV_ARTWORK_DIR "/bg.bmp", w, h, pixels));
  ASSERT_EQ(w, 588);
  ASSERT_EQ(h, 455);

  HRGN region = CreateRectRgn(0, 0, 0, 0);
  ASSERT_NE(GetWindowRgn(dialog, region), ERROR) << "the window has no region";
  int magenta = 0, wrong = 0;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const bool isMagenta = pixels[static_cast<size_t>(y * w + x)] == 0xFF00FF;
      magenta += isMagenta;
      if (isMagenta == (PtInRegion(region, x, y) != 0)) ++wrong;
    }
  }
  DeleteObject(region);
  EXPECT_GT(magenta, 0) << "the background has no outline to cut";
  EXPECT_EQ(wrong, 0) << "pixels where the region and the magenta of the picture disagree";
  PostMessageW(dialog, WM_CLOSE, 0, 0);
  EXPECT_TRUE(process.WaitExit(kStepMs));
}

TEST_F(UpdaterWindow, UpdateRunsTheWholeUpdateAndCloses) {
  MakeUpdater("1.0.6");
  gui::CProcess process;
  HWND dialog = StartAndConfirmReminder(process);
  ASSERT_NE(dialog, nullptr);
  gui::Press(dialog, kUpdateId);

  // During the run: a screenshot while the bar is part way; at the end the box of
  // text 122 with the bar full.
  bool shotDuringRun = false;
  HWND done = nullptr;
  ASSERT_TRUE(gui::WaitUntil(
      [&] {
        if (HWND box = gui::MessageBoxOf(process.Id())) {
          done = box;
          return true;
        }
        const int pos = gui::ProgressPos(dialog, kProgressId);
        if (!shotDuringRun && pos > 0 && pos < 100) {
          Screenshot(dialog, "updater-running.png");
          shotDuringRun = true;
        }
        return false;
      },
      120000))
      << "the run showed no box; status: " << Status(dialog);
  EXPECT_EQ(gui::MessageText(done), texts::Load(122));
  EXPECT_EQ(gui::ProgressPos(dialog, kProgressId), 100);
  EXPECT_TRUE(shotDuringRun) << "the run ended before a screenshot could catch it";
  Screenshot(dialog, "updater-done.png");
  Screenshot(done, "box-done.png");
  gui::Press(done, IDOK);
  DWORD code = 1;
  ASSERT_TRUE(process.WaitExit(kStepMs, &code)) << "the dialog stayed open after the run";

  // The game holds the patch: new version, new file, replaced entries, patch files gone.
  EXPECT_NE(qvtest::ReadFile(G("CVer.txt")).find("CurVer=1.0.6"), std::string::npos);
  EXPECT_EQ(qvtest::ReadFile(G("docs/readme.txt")), "new");
  EXPECT_FALSE(qvtest::Exists(G("patch.idx")));
  EXPECT_FALSE(qvtest::Exists(G("patch.dat")));
  // The Chinese names are the system's own, whatever its code page: Windows lists the
  // file as 说明.txt, and Wine stores it under the UTF-8 form of that name.
  EXPECT_EQ(qvtest::ReadFile(G("说明.txt")), "说明");
  WIN32_FIND_DATAW found{};
  HANDLE find = FindFirstFileW(plat::Wide(G("*.txt")).c_str(), &found);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  bool listed = false;
  do listed = listed || std::wstring(found.cFileName) == L"\u8bf4\u660e.txt";
  while (FindNextFileW(find, &found));
  FindClose(find);
  EXPECT_TRUE(listed) << "说明.txt is not listed under its Unicode name";
  const std::string unixName = UnixNameOf(plat::Wide(G("说明.txt")));
  if (!unixName.empty()) {
    EXPECT_EQ(unixName.substr(unixName.size() - 10), "\xe8\xaf\xb4\xe6\x98\x8e.txt") << unixName;
  }
  const qvtest::PackageImage image = qvtest::ImageOf(G("bld"), kPckGamePassword);
  ASSERT_EQ(image.files.size(), m_oldFiles.size() + 1);
  EXPECT_EQ(image.files.at("界面/按钮.tga"), "按钮");
  for (int i = 0; i < 120; ++i) {
    const std::string name = "maps/m" + std::to_string(i) + ".bin";
    EXPECT_EQ(image.files.at(name), i < 100 ? "patched " + std::to_string(i) : m_oldFiles[name]) << name;
  }
  // Compacted: nothing dead is left in the data file.
  EXPECT_LT(qvtest::ReadFile(G("bld.dat")).size(), 100000u);
}

// A run that fails says why, besides status 118: a box names the file and the reason in
// a player's words. A damaged patch; a package that another program holds and does not
// let go of within the retry time.
TEST_F(UpdaterWindow, AFailureNamesTheFileAndTheReason) {
  struct Case {
    const char* shot;
    bool damaged;
    int why;
    const char* file;
  };
  for (const Case& c : {Case{"box-failed-damaged.png", true, texts::kTextWhyDamaged, "patch"},
                        Case{"box-failed-in-use.png", false, texts::kTextWhyInUse, "bld."}}) {
    SCOPED_TRACE(c.shot);
    MakeUpdater("1.0.6", c.damaged);
    qvtest::CFileHold hold;
    if (!c.damaged) ASSERT_TRUE(hold.Hold(G("bld.dat"), /*othersMayRead=*/true));
    gui::CProcess process;
    HWND dialog = StartAndConfirmReminder(process);
    ASSERT_NE(dialog, nullptr);
    gui::Press(dialog, kUpdateId);
    HWND box = gui::WaitForWindow([&] { return gui::MessageBoxOf(process.Id()); }, kStepMs * 3);
    ASSERT_NE(box, nullptr) << Status(dialog);
    const std::string text = gui::MessageText(box);
    EXPECT_NE(text.find(texts::Load(c.why)), std::string::npos) << text;
    EXPECT_NE(text.find(c.file), std::string::npos) << text;
    Screenshot(box, c.shot);
    gui::Press(box, IDOK);
    EXPECT_TRUE(gui::WaitUntil([&] { return Status(dialog) == texts::Load(118); }, kStepMs)) << Status(dialog);
    hold.Release();
    EXPECT_EQ(qvtest::ReadFile(G("CVer.txt")), "[Ver]\r\nCurVer=1.0.5\r\n");
    EXPECT_FALSE(qvtest::Exists(G("docs/readme.txt")));
    PostMessageW(dialog, WM_CLOSE, 0, 0);
    EXPECT_TRUE(process.WaitExit(kStepMs));
  }
}

TEST_F(UpdaterWindow, VersionQuestionAnsweredNoLeavesTheGameAlone) {
  MakeUpdater("1.0.5");  // the same version: the run asks whether to go on
  const qvtest::PackageBytes before = qvtest::LoadPackageBytes(G("bld"));
  gui::CProcess process;
  HWND dialog = StartAndConfirmReminder(process);
  ASSERT_NE(dialog, nullptr);
  gui::Press(dialog, kUpdateId);
  HWND ask = gui::WaitForWindow([&] { return gui::MessageBoxOf(process.Id()); }, kStepMs * 3);
  ASSERT_NE(ask, nullptr);
  ASSERT_NE(GetDlgItem(ask, IDNO), nullptr) << gui::MessageText(ask);
  Screenshot(ask, "box-version.png");
  gui::Press(ask, IDNO);
  EXPECT_TRUE(gui::WaitUntil([&] { return Status(dialog) == texts::Load(118); }, kStepMs)) << Status(dialog);
  EXPECT_EQ(gui::MessageBoxOf(process.Id()), nullptr);
  EXPECT_EQ(gui::MainDialog(process.Id()), dialog);

  EXPECT_EQ(qvtest::ReadFile(G("CVer.txt")), "[Ver]\r\nCurVer=1.0.5\r\n");
  EXPECT_FALSE(qvtest::Exists(G("docs/readme.txt")));
  EXPECT_EQ(qvtest::LoadPackageBytes(G("bld")), before);
  PostMessageW(dialog, WM_CLOSE, 0, 0);
  EXPECT_TRUE(process.WaitExit(kStepMs));
}
