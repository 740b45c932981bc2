// The VER record type and the version order.
#include "version/VerRecord.h"

#include <algorithm>


namespace {

const FieldDesc kVerFields[] = {
    {"CurVer", kFieldString, MemberAt<&VER::CurVer>},
    {"ValidVer", kFieldString, MemberAt<&VER::ValidVer>},
};

std::unique_ptr<CSerialRecord> CreateVer() { return std::make_unique<VER>(); }

unsigned char Folded(unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c; }

}  // namespace

const RecordType VER::kType = {"VER", nullptr, kVerFields, CreateVer};

int CompareVersions(std::string_view a, std::string_view b) {
  // Every byte is folded, the second byte of a two-byte character too: the order is one
  // of bytes, and two installers must put the same two versions in the same order.
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const unsigned char x = Folded(static_cast<unsigned char>(a[i])), y = Folded(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}
