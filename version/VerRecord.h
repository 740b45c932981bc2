// The version record of CVer.txt and the order in which version texts compare.
#pragma once

#include <string>
#include <string_view>

#include "version/RecordParser.h"

// Section "[Ver]" of a version file.
class VER : public CSerialRecord {
 public:
  static const RecordType kType;
  const RecordType* GetType() const override { return &kType; }

  std::string CurVer;    // the version installed, or the one a package brings
  std::string ValidVer;  // the oldest installed version a package may be applied to
};

// Versions compare as text, never as numbers: byte by byte, A-Z as a-z, unsigned, and
// a text that begins the other is the older ("1.10" < "1.9", "1.0" < "1.0.1"). The
// letters A-Z are folded wherever they stand, the second byte of a two-byte character
// too. <0, 0 or >0.
int CompareVersions(std::string_view a, std::string_view b);
