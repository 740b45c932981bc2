#include "tests/support/FileHold.h"

namespace qvtest {

// POSIX has no mandatory file holds: a rename or delete of an open file succeeds.
CFileHold::~CFileHold() = default;
bool CFileHold::Hold(const std::string&, bool) { return false; }
void CFileHold::Release() {}

}  // namespace qvtest
