// The limits the game's files live with, in one place.
#pragma once

#include <cstddef>

// A path of the game: at most 259 bytes, the Windows limit of 260 with the terminator.
// Longer paths are refused, never cut to another path.
inline constexpr size_t kMaxPathBytes = 259;
// A package password: its first 127 bytes count.
inline constexpr size_t kMaxPasswordBytes = 127;
