#include "patch/SpaceEstimate.h"

#include <map>

#include "patch/PatchCheck.h"
#include "pck/PckFormat.h"
#include "pck/PckSummary.h"
#include "platform/PathText.h"
#include "platform/Platform.h"

namespace {

constexpr uint64_t kFileRounding = 4096;

uint64_t Rounded(uint64_t bytes) { return (bytes + kFileRounding - 1) / kFileRounding * kFileRounding; }

uint64_t SizeOf(const std::string& path) {
  plat::FileInfo info;
  return plat::StatPath(path, info) ? uint64_t(info.size) : 0;
}

// A stored entry of `size` content bytes at its largest: the entry header, and per
// block a table value, a block header and the block stored as it is.
uint64_t EntryBytes(uint64_t size) {
  const uint64_t blocks = (size + kPckDefaultBlockSize - 1) / kPckDefaultBlockSize;
  return kPckEntryHeaderSize + blocks * (4 + kPckBlockHeaderSize) + size;
}

}  // namespace

uint64_t ReleaseSpaceNeeded(const CPatchPlan& plan) {
  struct Growth {
    std::string base;
    uint64_t data = 0, names = 0, records = 0;
    bool create = false;
  };
  std::map<std::string, Growth> packages;  // by folded base
  uint64_t total = 0;
  for (const PlannedFile& f : plan.files) {
    if (!f.landing.inPackage) {
      total += Rounded(f.size);
      continue;
    }
    Growth& g = packages[PckFoldName(f.landing.base)];
    g.base = f.landing.base;
    g.create = g.create || f.landing.create;
    if (f.size == 0) continue;  // a removal only
    // As stored in the patch when that is known (the release copies or re-encodes it),
    // else as if every block were stored as it is.
    g.data += f.stored > 0 ? f.stored : EntryBytes(f.size);
    // Every name on the way may be new: its length byte, its bytes and its zero.
    const uint64_t parts = 1 + plat::SeparatorPositions(f.landing.inner).size();
    g.names += f.landing.inner.size() + 2 * parts;
    g.records += parts;
  }
  for (const auto& [key, g] : packages) {
    // The new index is written beside the old one and renamed over it; a package made
    // new starts with its own three files.
    const uint64_t oldIndex = g.create ? kPckHeaderSize + 2 * kPckRecordSize : SizeOf(PckIndexName(g.base));
    total += Rounded(g.data) + Rounded(g.names) + Rounded(oldIndex + g.records * kPckRecordSize);
    if (g.create) total += 3 * kFileRounding;
  }
  return total;
}

uint64_t CompactionSpaceNeeded(const std::string& base) {
  const uint64_t dat = SizeOf(PckDataName(base));
  PckIndexSummary summary;
  const uint64_t dead = PckReadIndexSummary(PckIndexName(base), summary) == PckIndexRead::Ok ? summary.header.deadBytes : 0;
  return Rounded(dat > dead ? dat - dead : 0) + Rounded(SizeOf(PckNameTableName(base))) +
         Rounded(SizeOf(PckIndexName(base)));
}
