// The VER record type and the version order.
#include "version/VerRecord.h"

#include <algorithm>

#include "platform/PathText.h"

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
  size_t n = std::min(a.size(), b.size());
  bool trail = false;  // the byte is the second of a two-byte character
  for (size_t i = 0; i < n; ++i) {
    auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (!trail) x = Folded(x), y = Folded(y);
    if (x != y) return x < y ? -1 : 1;
    trail = !trail && plat::IsLeadByte(x);
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}
