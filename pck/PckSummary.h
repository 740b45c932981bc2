// What the updater needs of a package's index without loading the package: the header,
// and how many file records it holds with their sizes. The update run checks the
// patch's index with it and the tidy pass reads the dead-byte count with it.
#pragma once

#include <cstdint>
#include <string>

#include "pck/PckFormat.h"

struct PckIndexSummary {
  PckHeader header = PckHeader::Default();
  uint32_t files = 0;      // whole file records (a partial last record is no file)
  uint32_t fileBytes = 0;  // the sum of their sizes, counted in 32 bits
};

enum class PckIndexRead {
  Ok,
  CannotOpen,   // the index file does not open
  ShortHeader,  // fewer than 64 bytes
  BadHeader,    // the magic differs or the version is below 2 (the header is filled in)
};

// Reads the header of the index at `idxPath` and, when `countFiles` is set and the
// header is valid, counts its file records.
PckIndexRead PckReadIndexSummary(const std::string& idxPath, PckIndexSummary& out, bool countFiles = true);
