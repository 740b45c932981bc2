// How much room a release needs on the game folder's volume, worked out from the plan of
// the whole patch before anything changes, so that a disk too small for the patch is
// told before the first write rather than found full in the middle of the release.
// A package entry counts as it is stored in the patch (the release copies its blocks, or
// encodes them again much the same way), a plain file whole; each file is rounded up to
// a whole 4 KiB and every index counts as rewritten beside the old one.
#pragma once

#include <cstdint>
#include <string>

struct CPatchPlan;

// Room kept free beyond the estimate: file system metadata, logs, the journal; a
// 64th more for what the estimate cannot see (another block size, a worse codec).
inline uint64_t WithSpaceMargin(uint64_t need) { return need + need / 64 + (1u << 20); }

// The bytes the release of `plan` adds to the volume at its peak (plain files' new
// copies beside the old ones, package data and names appended, new indexes).
uint64_t ReleaseSpaceNeeded(const CPatchPlan& plan);

// The bytes a compaction of the package `base` writes before the old package goes: its
// live data, names and index (what its three files hold less the dead bytes).
uint64_t CompactionSpaceNeeded(const std::string& base);

// Whole megabytes for a message to a player, rounded up.
inline uint64_t ToMegabytes(uint64_t bytes) { return (bytes + (1u << 20) - 1) >> 20; }
