// A small PNG writer for the screenshots the window tests save: 8-bit RGBA, one IDAT
// chunk, no filtering. Enough for pictures a person looks at and image tools read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qvtest {

// `rgba` holds width*height pixels, rows from the top, 4 bytes each (R, G, B, A).
// False when the file cannot be written or the sizes do not match.
bool WritePng(const std::string& path, int width, int height, const std::vector<uint8_t>& rgba);

}  // namespace qvtest
