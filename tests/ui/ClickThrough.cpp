// Plays the player's part for the demo: starts the Windows updater in a game folder,
// confirms the reminder, presses Update, answers Yes to every question, saves a
// screenshot while the run is under way and confirms the final box.
//   updater_click_through UPDATER.exe GAME_DIR SCREENSHOT.png
// Exit 0 when the run ends with the completion box and the updater closes, 1 otherwise.
#include <cstdio>
#include <string>

#include "app/Texts.h"
#include "tests/ui/WindowDriver.h"

namespace gui = qvtest::gui;

namespace {

// The boxes speak code page 936; the terminal that runs the demo reads UTF-8.
std::string Utf8(const std::string& acp) {
  const int wide = MultiByteToWideChar(936, 0, acp.data(), static_cast<int>(acp.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(wide), L'\0');
  MultiByteToWideChar(936, 0, acp.data(), static_cast<int>(acp.size()), w.data(), wide);
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, out.data(), bytes, nullptr, nullptr);
  return out;
}

void Say(const std::string& what, const std::string& acpText = "") {
  const std::string line = what + Utf8(acpText) + "\n";
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: updater_click_through UPDATER.exe GAME_DIR SCREENSHOT.png\n");
    return 2;
  }
  gui::CProcess updater;
  if (!updater.Start(argv[1], argv[2])) {
    Say("cannot start the updater");
    return 1;
  }
  HWND reminder = gui::WaitForWindow([&] { return gui::MessageBoxOf(updater.Id()); }, 60000);
  if (!reminder) {
    Say("the updater showed no reminder");
    return 1;
  }
  Say("box: ", gui::MessageText(reminder));
  gui::Press(reminder, IDOK);
  HWND dialog = gui::WaitForWindow([&] { return gui::MainDialog(updater.Id()); }, 20000);
  if (!dialog) {
    Say("the updater's dialog did not appear");
    return 1;
  }
  Say("pressing Update");
  gui::Press(dialog, 1001);

  bool shot = false;
  for (;;) {
    HWND box = nullptr;
    gui::WaitUntil(
        [&] {
          box = gui::MessageBoxOf(updater.Id());
          const int pos = gui::ProgressPos(dialog, 1000);
          if (!box && !shot && pos > 0 && pos < 100) shot = gui::SaveScreenshot(dialog, argv[3]);
          return box != nullptr || !IsWindow(dialog);
        },
        120000);
    if (!box) {
      Say("the run showed no final box");
      return 1;
    }
    const std::string text = gui::MessageText(box);
    Say("box: ", text);
    if (GetDlgItem(box, IDYES)) {
      Say("answering Yes");
      gui::Press(box, IDYES);
      gui::WaitUntil([&] { return !IsWindow(box); }, 20000);
      continue;
    }
    if (!shot) shot = gui::SaveScreenshot(dialog, argv[3]);
    gui::Press(box, IDOK);
    const bool done = text == texts::Load(122);
    DWORD code = 0;
    if (done && !updater.WaitExit(20000, &code)) {
      Say("the dialog stayed open after the run");
      return 1;
    }
    if (shot) Say(std::string("screenshot: ") + argv[3]);
    return done ? 0 : 1;
  }
}
