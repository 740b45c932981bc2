// The check of a whole patch (CheckPatchPackage) on hostile patch packages against a
// small fixed game: two of the game's packages, plain files and folders, the version
// file. Byte 0 of an input holds switches, the rest is the patch's index, name table and
// data file joined by the part separator.
//   bit 0  the publisher's read-only check instead of the one before a release
//   bit 1  Delete.txt removes the plain folder "data" first
//   bit 2  Delete.txt removes the package "mb" first
//   bit 3  the patch is read without the game's password
//   bit 4  without the right to make new packages
//   bit 5  the block callback stops the check at the third block
// Checked: the check answers 0 or -1 with a problem; it changes nothing in the game; a
// stop from the callback fails it; a plan it returns is consistent with itself.
#include <string>
#include <vector>

#include "fs/FileTarget.h"
#include "fuzz/FuzzSupport.h"
#include "io/FileStream.h"
#include "patch/PatchCheck.h"
#include "patch/PatchRelease.h"
#include "pck/PckFormat.h"
#include "pck/PckWriter.h"
#include "platform/PlatformMemory.h"

namespace {

constexpr uint64_t kDecodeBudget = 8u << 20;

// Block sizes past 64 KiB (up to the largest usable, 16 MiB) are folded below it, as in
// the package reader's harness: every reader and decode job zeroes a block-sized
// buffer, which at megabytes costs more than the check.
void FoldBlockSize(std::string& idx) {
  constexpr size_t kField = 20;  // in the index's header: magic (16), version (4)
  if (idx.size() < kField + 4) return;
  auto* field = reinterpret_cast<uint8_t*>(idx.data()) + kField;
  const uint32_t size = GetLE32(field);
  if (size > kPckDefaultBlockSize && size <= kPckMaxBlockSize) PutLE32(field, 1 + (size - 1) % kPckDefaultBlockSize);
}

void Add(PckWriter& w, const char* name, std::string text, int codec) {
  MemoryStream source(text.data(), int32_t(text.size()));
  QV_FUZZ_CHECK(w.AppendFile(name, source, codec) == 0);
}

void Package(const std::string& base, const std::vector<std::pair<std::string, std::string>>& files) {
  PckWriter w;
  w.SetPassword(kPckGamePassword);
  QV_FUZZ_CHECK(w.Create(base, 4096) == 0);
  QV_FUZZ_CHECK(w.BeginDir("") == 0);
  std::string folder;
  for (const auto& [path, text] : files) {
    const size_t slash = path.find('/');
    const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash);
    if (dir != folder) {
      if (!folder.empty()) QV_FUZZ_CHECK(w.EndDir() == 0);
      if (!dir.empty()) QV_FUZZ_CHECK(w.BeginDir(dir.c_str()) == 0);
      folder = dir;
    }
    Add(w, path.substr(slash == std::string::npos ? 0 : slash + 1).c_str(), text, 2);
  }
  if (!folder.empty()) QV_FUZZ_CHECK(w.EndDir() == 0);
  QV_FUZZ_CHECK(w.EndDir() == 0);
  w.Close();
  QV_FUZZ_CHECK(!w.CommitFailed());
}

const plat::memfs::CImage& Fixture() {
  static const plat::memfs::CImage image = [] {
    plat::memfs::Reset();
    qvfuzz::MakeDirs("/game/save");
    Package("/game/bld", {{"ui/a.tga", std::string(300, 'a')}, {"ui/b.tga", "bb"}, {"top.txt", "t"}});
    Package("/game/mb", {{"ShopItem.txt", "ShopItem 1 price=5\r\n"}});
    qvfuzz::WriteBytes("/game/data/map.bin", "map");
    qvfuzz::WriteBytes("/game/data/sub/x.txt", "x");
    qvfuzz::WriteBytes("/game/CVer.txt", "[Ver]\r\nCurVer=1.0.5\r\n");
    qvfuzz::WriteBytes("/game/Launcher.exe", "MZ");
    return plat::memfs::Save();
  }();
  return image;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t switches = data[0];
  std::vector<std::string> parts = qvfuzz::SplitParts(data + 1, size - 1, 3);
  FoldBlockSize(parts[0]);
  // The game is put back only before the first input: the check changes nothing (or
  // the run ends with a finding), so the tree stays the fixture's between inputs.
  static bool fixtureInPlace = false;
  if (!fixtureInPlace) plat::memfs::Restore(Fixture());
  fixtureInPlace = true;
  qvfuzz::WriteBytes("/patch.idx", parts[0]);
  qvfuzz::WriteBytes("/patch.nam", parts[1]);
  qvfuzz::WriteBytes("/patch.dat", parts[2]);
  const uint64_t changes = plat::memfs::Changes();

  std::vector<std::string> deletedFirst;
  if (switches & 2) deletedFirst.push_back("data");
  if (switches & 4) deletedFirst.insert(deletedFirst.end(), {"mb.idx", "mb.nam", "mb.dat"});
  int blocks = 0;
  uint64_t decoded = 0;
  bool stopped = false;
  auto onBlock = [&](uint32_t length) {
    QV_FUZZ_CHECK(length <= kPckMaxBlockSize);
    decoded += length;
    // A damaged record may claim 4 GiB made of one small block used over and over,
    // which the check must decode to find its digest wrong; the window's stop ends it.
    if (((switches & 0x20) && ++blocks >= 3) || decoded > kDecodeBudget) {
      stopped = true;
      return false;
    }
    return true;
  };
  CPatchPlan plan;
  CError problem;
  const int rc = CheckPatchPackage("/patch", g_packageNames, "/game",
                                   switches & 0x10 ? 0 : CFileTarget::kFlagCreatePackages,
                                   switches & 8 ? nullptr : kPckGamePassword, onBlock, plan, problem,
                                   switches & 1 ? GameAccess::ReadOnly : GameAccess::ForRelease, deletedFirst);
  QV_FUZZ_CHECK(rc == 0 || rc == -1);
  QV_FUZZ_CHECK(plat::memfs::Changes() == changes);  // nothing made, written or removed
  if (rc != 0) {
    QV_FUZZ_CHECK(problem.Failed());
    return 0;
  }
  QV_FUZZ_CHECK(!stopped);
  QV_FUZZ_CHECK(plan.bySource.size() == plan.files.size());
  uint64_t bytes = 0;
  for (size_t i = 0; i < plan.files.size(); ++i) {
    const PlannedFile& f = plan.files[i];
    QV_FUZZ_CHECK(f.record > 0);
    QV_FUZZ_CHECK(plan.Find(f.source) == &f);
    bytes += f.size;
  }
  QV_FUZZ_CHECK(bytes == plan.bytes);
  return 0;
}
