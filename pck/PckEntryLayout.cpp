#include "pck/PckEntryLayout.h"

namespace {

PckLayoutRead ReadBlockHeader(const PckReadAt& readAt, uint64_t dataLength, uint64_t at, PckStoredBlock& out) {
  if (at + kPckBlockHeaderSize > dataLength) return PckLayoutRead::Outside;
  uint8_t head[kPckBlockHeaderSize];
  if (!readAt(at, head, sizeof head)) return PckLayoutRead::Unreadable;
  out.at = at;
  out.codec = head[0];
  out.stored = GetLE32(head + 1);
  return PckLayoutRead::Ok;
}

}  // namespace

PckLayoutRead PckReadEntryLayout(const PckReadAt& readAt, uint64_t dataLength, const PckRecord& r, uint32_t blockSize,
                                 PckEntryLayout& out) {
  const uint32_t n = PckBlockCount(r.size, blockSize);
  out = PckEntryLayout();
  out.start = r.dataOffset;
  out.tableEnd = uint64_t(r.dataOffset) + kPckEntryHeaderSize + 4ull * n;
  // The table must lie inside the file before room is made for it: a damaged size could
  // otherwise ask for gigabytes.
  if (out.tableEnd > dataLength) return PckLayoutRead::Outside;
  if (!readAt(out.start, out.header, sizeof out.header)) return PckLayoutRead::Unreadable;
  out.headerBlocks = GetLE32(out.header + 1);
  std::vector<uint8_t> table(size_t(n) * 4);
  if (n > 0 && !readAt(out.start + kPckEntryHeaderSize, table.data(), table.size())) return PckLayoutRead::Unreadable;
  out.blocks.reserve(n);
  for (uint32_t b = 0; b < n; ++b) {
    PckStoredBlock block;
    const PckLayoutRead read = ReadBlockHeader(readAt, dataLength, out.tableEnd + GetLE32(table.data() + 4 * b), block);
    if (read != PckLayoutRead::Ok) return read;
    out.blocks.push_back(block);
  }
  return PckLayoutRead::Ok;
}

PckLayoutRead PckLocateBlock(const PckReadAt& readAt, uint64_t dataLength, const PckRecord& r, uint32_t blockSize,
                             uint32_t block, PckStoredBlock& out) {
  const uint32_t n = PckBlockCount(r.size, blockSize);
  const uint64_t tableEnd = uint64_t(r.dataOffset) + kPckEntryHeaderSize + 4ull * n;
  if (block >= n || tableEnd > dataLength) return PckLayoutRead::Outside;
  uint8_t slot[4];
  if (!readAt(uint64_t(r.dataOffset) + kPckEntryHeaderSize + 4ull * block, slot, 4)) return PckLayoutRead::Unreadable;
  return ReadBlockHeader(readAt, dataLength, tableEnd + GetLE32(slot), out);
}
