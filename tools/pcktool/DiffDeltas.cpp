// CGameDiff's deltas: the changed files that are worth it turned into deltas of their
// content against the old games' contents.
#include <algorithm>
#include <climits>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "delta/Delta.h"
#include "io/Digest.h"
#include "io/File.h"
#include "io/FileStream.h"
#include "patch/PatchCheck.h"
#include "patch/PatchRelease.h"
#include "payload/PayloadFormat.h"
#include "pck/PckCodecs.h"
#include "pck/PckJournal.h"
#include "pck/PckWriter.h"
#include "platform/PathText.h"
#include "platform/Platform.h"
#include "tools/pcktool/Commands.h"
#include "tools/pcktool/Progress.h"
#include "tools/pcktool/GameDiff.h"
#include "tools/pcktool/Tool.h"

namespace {

// A delta pays when it costs at most four fifths of the whole file and at least 1 KiB
// less: below that the saving does not make up for the player's extra work (decoding the
// old file, applying the delta) and for a patch that then needs exactly the old file.
constexpr uint64_t kDeltaMinSaving = 1024;

// What an entry of `bytes` costs in the patch stored as it is (a delta does not compress):
// its header, and per block a table slot and a block header.
uint64_t StoredCost(uint64_t bytes) {
  const uint64_t blocks = (bytes + kPckDefaultBlockSize - 1) / kPckDefaultBlockSize;
  return kPckEntryHeaderSize + blocks * (4 + kPckBlockHeaderSize) + bytes;
}

}  // namespace

// The decoded content of the new file or of an old one: a package entry through the
// block workers, checked against its MD5, or a plain file.
bool CGameDiff::LoadContent(const Node& node, const Node::Base* base, const std::string& where,
                            std::vector<uint8_t>& out) {
  PckReader* reader = base ? base->reader : node.reader;
  const uint32_t size = base ? base->size : node.size;
  out.clear();
  if (node.source == Node::kDisk) {
    const std::string& path = base ? base->disk : node.disk;
    CFile file;
    out.resize(size);
    if (!file.Open(path, "rb") || !file.ReadExact(out.data(), size)) return Fail(path, "cannot be read"), false;
    return true;
  }
  const int index = base ? base->index : node.index;
  out.reserve(size);
  int result = -1;
  reader->VerifyEntries(
      {index}, [&](size_t, const uint8_t* data, uint32_t length) { return out.insert(out.end(), data, data + length), true; },
      [&](size_t, int r, uint32_t) { result = r; });
  if (result == 0 && out.size() == size) return true;
  return Refuse(ShowName((base ? "an old game's " : "the new game's ") + where) +
                ": the entry does not decode to its recorded MD5, and a delta needs its content");
}

// What the file costs in the patch whole: a package entry its stored extent in the new
// package (the patch copies it as stored), a plain file its blocks as the patch's writer
// compresses them.
uint64_t CGameDiff::WholeCost(const Node& node, const std::vector<uint8_t>& content) {
  if (node.source == Node::kEntry) return node.reader->StoredExtent(node.index);  // 0: the check reports it
  CBlockEncoder encoder(kPckDefaultBlockSize);
  uint64_t cost = kPckEntryHeaderSize;
  for (size_t at = 0; at < content.size(); at += kPckDefaultBlockSize) {
    const uint32_t n = uint32_t(std::min<size_t>(kPckDefaultBlockSize, content.size() - at));
    encoder.Encode(PckCodec::Lzo1x, content.data() + at, n);
    cost += 4 + kPckBlockHeaderSize + encoder.PayloadLength();
  }
  return cost;
}

namespace {

// Every changed file that replaces one of the old game, with its parent and its path.
struct Replacement {
  Node* parent;
  std::string name, where;
};
void ListReplacements(Node& node, const std::string& where, std::vector<Replacement>& out) {
  for (auto& [name, child] : node.children) {
    const std::string path = where.empty() ? name : where + "/" + name;
    if (child.source == Node::kFolder) ListReplacements(child, path, out);
    if (!child.bases.empty() && !child.wholeOnly) out.push_back({&node, name, path});
  }
}
// Drops the folders that the deltas left without a file.
void PruneEmptyFolders(Node& node) {
  for (auto it = node.children.begin(); it != node.children.end();) {
    if (it->second.source == Node::kFolder) PruneEmptyFolders(it->second);
    if (it->second.source == Node::kFolder && it->second.children.empty())
      it = node.children.erase(it);
    else
      ++it;
  }
}

}  // namespace

bool CGameDiff::MakeDeltas(int level, const std::string& scratch, const std::string& patchBase) {
  m_deltasTried = true;
  std::vector<Replacement> list;
  ListReplacements(m_root, "", list);
  uint64_t total = 0;
  for (const Replacement& r : list) total += uint64_t(r.parent->children.at(r.name).size);
  CProgress progress(list.size(), total);
  std::vector<uint8_t> oldContent, newContent, delta;
  struct Made {
    std::string rel, file;
    uint32_t size;
  };
  for (const Replacement& r : list) {
    Node& node = r.parent->children.at(r.name);
    const uint32_t size = node.size;
    // "~delta/<path>/<the old content's MD5>", the MD5's 32 hex digits counted here.
    const std::string folder = std::string(kDeltaFolder) + "/" + r.where + "/";
    const size_t longest = folder.size() + 32;
    // Where the check of the patch (below) would find the delta's path too long or too
    // deep, the file goes whole.
    const bool fits = patchBase.size() + 1 + longest <= kMaxPathBytes && m_longestOld + 1 + longest <= kMaxPathBytes &&
                      size_t(std::count(folder.begin(), folder.end(), '/')) < size_t(kPckMaxPathNames);
    // A plain file's cost needs its content; an entry's is known without decoding it.
    const bool plain = node.source == Node::kDisk;
    if (fits && plain && !LoadContent(node, nullptr, r.where, newContent)) return false;
    const uint64_t whole = fits ? WholeCost(node, newContent) : 0;
    const uint64_t most = std::min(whole * 4 / 5, whole > kDeltaMinSaving ? whole - kDeltaMinSaving : 0);
    // One delta for each old content (old games that share one share its delta); they
    // go only when together they cost no more than `most`.
    std::vector<Made> made;
    uint64_t cost = 0;
    bool pays = most > StoredCost(kDeltaHeaderSize) * node.bases.size();
    if (pays && !plain && !LoadContent(node, nullptr, r.where, newContent)) return false;
    for (size_t k = 0; pays && k < node.bases.size(); ++k) {
      if (!LoadContent(node, &node.bases[k], r.where, oldContent)) return false;
      uint8_t digest[16];
      Md5(oldContent.data(), oldContent.size(), digest);
      const std::string rel = folder + Md5Hex(digest);
      if (std::any_of(made.begin(), made.end(), [&](const Made& m) { return m.rel == rel; })) continue;
      const uint64_t left = most - cost;
      const uint64_t limit = left > StoredCost(left) - left ? left - (StoredCost(left) - left) : 0;
      CError error;
      const int result = MakeDelta(oldContent.data(), oldContent.size(), newContent.data(), newContent.size(), level,
                                   size_t(limit), delta, error);
      if (result < 0) return Fail(r.where, error.text), false;
      pays = result == 0 && cost + StoredCost(delta.size()) <= most;
      if (!pays) break;
      cost += StoredCost(delta.size());
      const std::string file = scratch + "/" + std::to_string(m_deltas + made.size() + 1);
      CFile out;
      if (!out.Create(file) || !out.WriteAll(delta.data(), delta.size()) || !out.Close())
        return Fail(file, out.Failed() ? out.Error() : plat::LastError().text), false;
      made.push_back({rel, file, uint32_t(delta.size())});
    }
    if (pays && !made.empty()) {
      int32_t stamp = 0;
      if (node.source == Node::kEntry) {
        stamp = node.reader->Records()[size_t(node.index)].stamp;
      } else {
        std::unique_ptr<FileStream> s = OpenFileStream(node.disk, "rb");
        if (!s) return Fail(node.disk, "cannot be opened"), false;
        stamp = s->Stamp();
      }
      m_deltas += int(made.size());
      m_deltaBytes += cost;
      m_wholeBytes += whole;
      for (const Made& m : made) {
        Node& d = Place(m.rel);
        d.source = Node::kDisk;
        d.disk = m.file;
        d.size = m.size;
        d.delta = true;
        d.stamp = stamp;
      }
      r.parent->children.erase(r.name);
    }
    progress.AddBytes(size);
    progress.FileDone();
  }
  progress.Finish();
  PruneEmptyFolders(m_root);
  Recount();
  return true;
}

