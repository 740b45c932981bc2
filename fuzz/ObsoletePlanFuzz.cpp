// The plan of Delete.txt on hostile lists: the reader of the list and the read-only
// matcher of the shell delete (ReadObsoleteList, ObsoleteTargets over
// plat::ShellDeleteTargets), as the whole-patch check uses them before anything is
// deleted. An input is the whole Delete.txt, read in a small game folder with files,
// folders, a name in code page 936 and neighbours outside it.
// Checked: planning changes nothing; every line is either refused with a reason or has
// a path inside the game folder; every target exists and lies inside the game folder;
// and the plan is the deed: deleting the accepted lines afterwards removes exactly the
// targets and what lies below them.
#include <map>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "patch/ObsoleteList.h"
#include "platform/PathText.h"
#include "platform/Platform.h"
#include "platform/PlatformMemory.h"

namespace {

const plat::memfs::CImage& Fixture() {
  static const plat::memfs::CImage image = [] {
    plat::memfs::Reset();
    qvfuzz::MakeDirs("/root/game/data/sub");
    qvfuzz::MakeDirs("/root/game/\xd7\xd6\xcc\xe5");  // 字体
    qvfuzz::MakeDirs("/root/game/data/Sub2");
    qvfuzz::WriteBytes("/root/keep.txt", "above the game folder");
    qvfuzz::WriteBytes("/root/gameplus/a.txt", "in a folder whose name begins like the game's");
    qvfuzz::WriteBytes("/root/game/mb.dat", "m");
    qvfuzz::WriteBytes("/root/game/a.txt", "a");
    qvfuzz::WriteBytes("/root/game/Old.dll", "o");
    qvfuzz::WriteBytes("/root/game/old.DLL.bak", "o");
    qvfuzz::WriteBytes("/root/game/data/b.txt", "b");
    qvfuzz::WriteBytes("/root/game/data/sub/c.txt", "c");
    qvfuzz::WriteBytes("/root/game/\xd7\xd6\xcc\xe5/\xcb\xce.ttf", "s");
    return plat::memfs::Save();
  }();
  return image;
}

// Whether `path` is `target` or lies below it.
bool Covers(const std::string& target, const std::string& path) {
  return path == target || (path.size() > target.size() && path.compare(0, target.size(), target) == 0 &&
                            path[target.size()] == '/');
}

// A relative path of non-empty parts, none "." or "..", "/" between them. The parts are
// split as the program splits them: the byte after a lead byte is never a separator.
bool InsideGame(const std::string& rel) {
  if (rel.empty() || plat::IsSeparator(rel[0]) || plat::ToSlashes(rel) != rel) return false;
  std::vector<size_t> cuts = plat::SeparatorPositions(rel);
  cuts.push_back(rel.size());
  size_t start = 0;
  for (size_t cut : cuts) {
    const std::string part = rel.substr(start, cut - start);
    if (part.empty() || part == "." || part == "..") return false;
    start = cut + 1;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The fixture is put back only after an input whose deed deleted something.
  static bool fixtureInPlace = false;
  if (!fixtureInPlace) plat::memfs::Restore(Fixture());
  qvfuzz::WriteBytes("/root/game/Delete.txt", std::string_view(reinterpret_cast<const char*>(data), size));
  QV_FUZZ_CHECK(plat::SetWorkDir("/root/game"));
  // What is there before the plan: the fixture and Delete.txt (only the paths are used).
  static const std::map<std::string, std::string> before = qvfuzz::Snapshot("/root");
  const uint64_t changes = plat::memfs::Changes();

  const std::vector<ObsoleteLine> lines = ReadObsoleteList("Delete.txt");
  const std::vector<std::string> targets = ObsoleteTargets(lines);
  QV_FUZZ_CHECK(plat::memfs::Changes() == changes);  // planning made, wrote and removed nothing
  QV_FUZZ_CHECK(plat::GetWorkDir() == "/root/game");

  for (const ObsoleteLine& line : lines) {
    QV_FUZZ_CHECK(!line.text.empty());
    if (line.refusal) {
      QV_FUZZ_CHECK(line.path.empty());
    } else {
      QV_FUZZ_CHECK(InsideGame(line.path));
    }
  }
  for (const std::string& t : targets) {
    QV_FUZZ_CHECK(InsideGame(t));
    QV_FUZZ_CHECK(before.count("game/" + t) == 1);
  }

  // The deed: the accepted lines deleted one after the other.
  for (const ObsoleteLine& line : lines)
    if (!line.refusal) plat::ShellDelete(line.path);
  fixtureInPlace = plat::memfs::Changes() == changes;
  if (fixtureInPlace) {  // nothing was deleted, so nothing may have been planned
    QV_FUZZ_CHECK(targets.empty());
    QV_FUZZ_CHECK(plat::SetWorkDir("/"));
    return 0;
  }
  const std::map<std::string, std::string> after = qvfuzz::Snapshot("/root");
  for (const auto& [path, content] : before) {
    bool planned = false;
    for (const std::string& t : targets) planned = planned || Covers("game/" + t, path);
    QV_FUZZ_CHECK(planned == (after.count(path) == 0));
  }
  QV_FUZZ_CHECK(after.size() <= before.size());
  QV_FUZZ_CHECK(plat::SetWorkDir("/"));
  return 0;
}
