// pcktool info: the header, the record counts, and how much of the data and name files
// the index still uses. Bytes in use are counted as the union of the byte ranges that
// records reach (an entry's header, block table and blocks; a name's length byte and
// text), so ranges shared by two records or overlapping ones are not counted twice.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "pck/PckEntryLayout.h"
#include "pck/PckReader.h"
#include "tools/pcktool/Commands.h"
#include "tools/pcktool/Tool.h"

namespace {

using Range = std::pair<uint64_t, uint64_t>;  // [first, end)

// Total length of the union of the ranges, each cut to [0, limit).
uint64_t UnionLength(std::vector<Range>& ranges, uint64_t limit) {
  std::sort(ranges.begin(), ranges.end());
  uint64_t total = 0, reached = 0;
  for (auto [first, end] : ranges) {
    first = std::max(first, reached);
    end = std::min(end, limit);
    if (end > first) {
      total += end - first;
      reached = end;
    }
  }
  return total;
}

// Adds the byte ranges of one stored entry (its header and table, and each block) to
// `ranges`; false when a part of it lies outside the data file or cannot be read (what
// was read of it still counts).
bool AddEntry(const PckReadAt& readAt, uint64_t length, uint32_t blockSize, const PckRecord& r,
              std::vector<Range>& ranges) {
  PckEntryLayout layout;
  const PckLayoutRead read = PckReadEntryLayout(readAt, length, r, blockSize, layout);
  ranges.emplace_back(layout.start, layout.tableEnd);
  for (const PckStoredBlock& b : layout.blocks) ranges.emplace_back(b.at, b.End());
  return read == PckLayoutRead::Ok;
}

void PrintSplit(const char* what, uint64_t size, uint64_t live) {
  printf("%s size: %llu\n%s live: %llu\n%s dead: %llu\n", what, (unsigned long long)size, what,
         (unsigned long long)live, what, (unsigned long long)(size - live));
}

}  // namespace

int RunInfo(const Options& opt) {
  const std::string& base = opt.operands[0];
  PckReader reader;
  if (!OpenPackage(reader, base, "")) return kExitFailed;
  const PckHeader& h = reader.Header();
  const auto& records = reader.Records();
  const std::string_view names = reader.NameTable();
  const uint64_t datLength = uint64_t(reader.DataLength());

  const PckReadAt readAt = reader.DataReader();
  std::vector<Range> dataRanges, nameRanges;
  uint64_t files = 0, folders = 0, unreadable = 0;
  for (size_t i = 0; i < records.size(); ++i) {
    const PckRecord& r = records[i];
    if (r.type == kPckFile) {
      ++files;
      if (!AddEntry(readAt, datLength, h.blockSize, r, dataRanges)) ++unreadable;
    } else if (r.type == kPckFolder && i > 0) {
      ++folders;
    }
    // The root's name entry (an empty name) is referenced too and kept by compaction.
    if ((r.type == kPckFile || r.type == kPckFolder) && r.nameOffset < names.size())
      nameRanges.emplace_back(r.nameOffset, uint64_t(r.nameOffset) + 1 + uint8_t(names[r.nameOffset]));
  }

  std::string magic(h.magic, strnlen(h.magic, sizeof h.magic));
  printf("magic: %s\n", Shown(magic).c_str());
  printf("version: %u\nblock size: %u\ndead bytes: %u\n", h.version, h.blockSize, h.deadBytes);
  printf("records: %llu\nfiles: %llu\nfolders: %llu\n", (unsigned long long)records.size(),
         (unsigned long long)files, (unsigned long long)folders);
  PrintSplit("dat", datLength, UnionLength(dataRanges, datLength));
  PrintSplit("nam", names.size(), UnionLength(nameRanges, names.size()));
  if (unreadable > 0) printf("unreadable entries: %llu\n", (unsigned long long)unreadable);
  return kExitOk;
}
