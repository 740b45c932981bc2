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
#include "platform/PlatformMemory.h"
#include "tests/support/RecordingUi.h"

namespace {

// The whole tree, made once and put back before every run.
const plat::memfs::CImage& Fixture() {
  static const plat::memfs::CImage image = [] {
    plat::memfs::Reset();
    const std::string game = "/obsolete/base/game";
    qvfuzz::MakeDirs(game + "/data/sub");
    qvfuzz::MakeDirs(game + "/\xd7\xd6\xcc\xe5");  // 字体
    qvfuzz::WriteBytes(game + "/mb.dat", "m");
    qvfuzz::WriteBytes(game + "/a.txt", "a");
    qvfuzz::WriteBytes(game + "/Old.dll", "o");
    qvfuzz::WriteBytes(game + "/data/b.txt", "b");
    qvfuzz::WriteBytes(game + "/data/sub/c.txt", "c");
    qvfuzz::WriteBytes(game + "/\xd7\xd6\xcc\xe5/\xcb\xce.ttf", "s");
    qvfuzz::MakeDirs("/obsolete/base/gameplus");
    qvfuzz::WriteBytes("/obsolete/keep.txt", "above the game folder");
    qvfuzz::WriteBytes("/obsolete/base/keep.txt", "beside the game folder");
    qvfuzz::WriteBytes("/obsolete/base/gameplus/a.txt", "in a folder whose name begins like the game's");
    return plat::memfs::Save();
  }();
  return image;
}

// Everything below the root that does not lie in the game folder.
std::map<std::string, std::string> Outside() {
  std::map<std::string, std::string> out;
  for (const auto& [path, content] : qvfuzz::Snapshot("/obsolete"))
    if (path.compare(0, 10, "base/game/") != 0) out[path] = content;
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::map<std::string, std::string> outside = (plat::memfs::Restore(Fixture()), Outside());
  const std::string game = "/obsolete/base/game";
  plat::memfs::Restore(Fixture());
  qvfuzz::WriteBytes(game + "/Delete.txt", std::string_view(reinterpret_cast<const char*>(data), size));

  QV_FUZZ_CHECK(plat::SetWorkDir(game));
  qvtest::CRecordingUi ui;
  DeleteObsoleteFiles(ui);
  QV_FUZZ_CHECK(plat::GetWorkDir() == game);

  QV_FUZZ_CHECK(ui.boxes.empty());
  QV_FUZZ_CHECK(!plat::FileExists(game + "/Delete.txt"));
  QV_FUZZ_CHECK(Outside() == outside);
  return 0;
}
