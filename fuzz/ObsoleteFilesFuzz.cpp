// Delete.txt of the update run on hostile lists. An input is the whole Delete.txt. It is
// handed to the run's deletion in a small game folder with files, folders and a name
// in code page 936; beside the game folder and above it lie files that no line may
// reach. Afterwards those are all still there, the game folder itself still exists,
// Delete.txt is gone and the working directory is where it was.
#include <map>
#include <string>

#include "app/UpdateDlg.h"
#include "fuzz/FuzzSupport.h"
#include "platform/Platform.h"
#include "tests/support/RecordingUi.h"

namespace {

struct Folders {
  std::string root, game;
  std::map<std::string, std::string> outside;  // everything outside the game folder
};

// Everything below `root` that does not lie in the game folder.
std::map<std::string, std::string> Outside(const std::string& root) {
  std::map<std::string, std::string> all = qvfuzz::Snapshot(root);
  std::map<std::string, std::string> out;
  for (const auto& [path, content] : all)
    if (path.compare(0, 10, "base/game/") != 0) out[path] = content;
  return out;
}

const Folders& Layout() {
  static const Folders folders = [] {
    Folders f;
    f.root = "/obsolete";
    f.game = f.root + "/base/game";
    qvfuzz::MakeDirs(f.game);
    qvfuzz::MakeDirs(f.root + "/base/gameplus");
    qvfuzz::WriteBytes(f.root + "/keep.txt", "above the game folder");
    qvfuzz::WriteBytes(f.root + "/base/keep.txt", "beside the game folder");
    qvfuzz::WriteBytes(f.root + "/base/gameplus/a.txt", "in a folder whose name begins like the game's");
    f.outside = Outside(f.root);
    return f;
  }();
  return folders;
}

void FillGame(const std::string& game) {
  qvfuzz::RemoveAll(game);
  qvfuzz::MakeDirs(game + "/data/sub");
  qvfuzz::MakeDirs(game + "/\xd7\xd6\xcc\xe5");  // 字体
  qvfuzz::WriteBytes(game + "/mb.dat", "m");
  qvfuzz::WriteBytes(game + "/a.txt", "a");
  qvfuzz::WriteBytes(game + "/Old.dll", "o");
  qvfuzz::WriteBytes(game + "/data/b.txt", "b");
  qvfuzz::WriteBytes(game + "/data/sub/c.txt", "c");
  qvfuzz::WriteBytes(game + "/\xd7\xd6\xcc\xe5/\xcb\xce.ttf", "s");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Folders& f = Layout();
  FillGame(f.game);
  qvfuzz::WriteBytes(f.game + "/Delete.txt", std::string_view(reinterpret_cast<const char*>(data), size));

  const std::string workDir = plat::GetWorkDir();
  QV_FUZZ_CHECK(plat::SetWorkDir(f.game));
  qvtest::CRecordingUi ui;
  DeleteObsoleteFiles(ui);
  const std::string after = plat::GetWorkDir();
  QV_FUZZ_CHECK(plat::SetWorkDir(workDir));

  QV_FUZZ_CHECK(after == f.game);
  QV_FUZZ_CHECK(ui.boxes.empty());
  QV_FUZZ_CHECK(!plat::FileExists(f.game + "/Delete.txt"));
  QV_FUZZ_CHECK(Outside(f.root) == f.outside);
  return 0;
}
