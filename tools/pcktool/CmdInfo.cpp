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

#include "pck/PckReader.h"
#include "platform/Platform.h"
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

class CDataScan {
 public:
  explicit CDataScan(FILE* f, uint64_t length, uint32_t blockSize)
      : m_file(f), m_length(length), m_blockSize(blockSize) {}
  // Adds the ranges of one entry; false when a part of it lies outside the file or
  // cannot be read.
  bool AddEntry(const PckRecord& r);
  std::vector<Range> ranges;

 private:
  bool ReadAt(uint64_t at, void* out, size_t n) {
    if (at + n > m_length || plat::SeekFile(m_file, int64_t(at), SEEK_SET) != 0) return false;
    return fread(out, 1, n, m_file) == n;
  }
  FILE* m_file;
  uint64_t m_length;
  uint32_t m_blockSize;
  std::vector<uint8_t> m_table;
};

bool CDataScan::AddEntry(const PckRecord& r) {
  const uint32_t n = PckBlockCount(r.size, m_blockSize);
  const uint64_t tableAt = uint64_t(r.dataOffset) + kPckEntryHeaderSize;
  const uint64_t tableEnd = tableAt + 4ull * n;
  ranges.emplace_back(r.dataOffset, tableEnd);
  m_table.resize(size_t(n) * 4);
  if (tableEnd > m_length || (n > 0 && !ReadAt(tableAt, m_table.data(), m_table.size()))) return false;
  for (uint32_t b = 0; b < n; ++b) {
    const uint64_t at = tableEnd + GetLE32(m_table.data() + 4 * b);
    uint8_t head[kPckBlockHeaderSize];
    if (!ReadAt(at, head, sizeof head)) return false;
    ranges.emplace_back(at, at + kPckBlockHeaderSize + GetLE32(head + 1));
  }
  return true;
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

  FILE* dat = plat::OpenFile(PckDataName(base), "rb");
  if (!dat) return Fail(PckDataName(base), "cannot be opened: " + ErrnoText());
  CDataScan scan(dat, datLength, h.blockSize);
  std::vector<Range> nameRanges;
  uint64_t files = 0, folders = 0, unreadable = 0;
  for (size_t i = 0; i < records.size(); ++i) {
    const PckRecord& r = records[i];
    if (r.type == kPckFile) {
      ++files;
      if (!scan.AddEntry(r)) ++unreadable;
    } else if (r.type == kPckFolder && i > 0) {
      ++folders;
    }
    // The root's name entry (an empty name) is referenced too and kept by compaction.
    if ((r.type == kPckFile || r.type == kPckFolder) && r.nameOffset < names.size())
      nameRanges.emplace_back(r.nameOffset, uint64_t(r.nameOffset) + 1 + uint8_t(names[r.nameOffset]));
  }
  fclose(dat);

  std::string magic(h.magic, strnlen(h.magic, sizeof h.magic));
  printf("magic: %s\n", ShowName(magic).c_str());
  printf("version: %u\nblock size: %u\ndead bytes: %u\n", h.version, h.blockSize, h.deadBytes);
  printf("records: %llu\nfiles: %llu\nfolders: %llu\n", (unsigned long long)records.size(),
         (unsigned long long)files, (unsigned long long)folders);
  PrintSplit("dat", datLength, UnionLength(scan.ranges, datLength));
  PrintSplit("nam", names.size(), UnionLength(nameRanges, names.size()));
  if (unreadable > 0) printf("unreadable entries: %llu\n", (unsigned long long)unreadable);
  return kExitOk;
}
