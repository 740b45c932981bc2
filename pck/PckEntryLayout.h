// Where a stored file lies in the data file: the 16-byte entry header, the block table,
// and each block's 5-byte header (its codec and stored length) with its payload. The
// one place that walks that layout; the reader, the compaction and pcktool info all
// read it through here, and every offset is checked against the data file's length
// before anything is read at it.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "pck/PckFormat.h"

// Reads `length` bytes at `offset` of the data file; false when they cannot be read.
using PckReadAt = std::function<bool(uint64_t offset, void* out, size_t length)>;

struct PckStoredBlock {
  uint64_t at = 0;      // its 5-byte header
  uint8_t codec = 0;    // the codec byte as stored
  uint32_t stored = 0;  // the payload's length
  uint64_t End() const { return at + kPckBlockHeaderSize + stored; }
};

struct PckEntryLayout {
  uint64_t start = 0;                     // the entry header
  uint8_t header[kPckEntryHeaderSize] = {};  // its bytes as stored
  uint32_t headerBlocks = 0;              // the block count it states
  uint64_t tableEnd = 0;       // the blocks' offsets count from here
  std::vector<PckStoredBlock> blocks;
  // From the entry's header to the furthest end of its table and blocks.
  uint64_t Extent() const {
    uint64_t end = tableEnd;
    for (const PckStoredBlock& b : blocks) end = b.End() > end ? b.End() : end;
    return end - start;
  }
};

enum class PckLayoutRead {
  Ok,
  Outside,     // a part of it lies outside the data file
  Unreadable,  // a read inside the file failed
};

// The layout of file record `r` in a data file of `dataLength` bytes: ceil(size /
// blockSize) blocks. `out` holds as much as was read when the result is not Ok.
PckLayoutRead PckReadEntryLayout(const PckReadAt& readAt, uint64_t dataLength, const PckRecord& r, uint32_t blockSize,
                                 PckEntryLayout& out);

// Block `block` of record `r` alone, without the rest of the table.
PckLayoutRead PckLocateBlock(const PckReadAt& readAt, uint64_t dataLength, const PckRecord& r, uint32_t blockSize,
                             uint32_t block, PckStoredBlock& out);
