// The version file's line parser and its value conversions on hostile text. An input is
// up to three parts: a text, a ScanFields format and a separator.
//   - The text is fed, line by line, to a parser whose section map holds the version
//     record "[Ver]" and a record with a member of every kind, arrays, a base type and a
//     member record, so that every conversion and every way of naming a member is
//     reached. Every buffer and array member lives in its own heap block of exactly its
//     size, so a write past one is caught.
//   - ScanFields splits the text by the fuzzed format and separator.
//   - The text, and each of its lines, goes through EvalInt, ParseBool, ParseDateTime
//     and the version order, which must be a consistent order.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "version/RecordParser.h"
#include "version/ValueText.h"
#include "version/VerRecord.h"

namespace {

constexpr int32_t kChars = 8;     // bytes of a character buffer
constexpr int32_t kSlots = 3;     // elements of every array member

template <class T>
std::unique_ptr<T[]> Slots() {
  return std::unique_ptr<T[]>(new T[kSlots]());
}

class CInner : public CSerialRecord {
 public:
  static const RecordType kType;
  const RecordType* GetType() const override { return &kType; }
  int32_t depth = 0;
  std::string note;
};

class CBase : public CSerialRecord {
 public:
  static const RecordType kType;
  const RecordType* GetType() const override { return &kType; }
  int32_t baseValue = 0;
};

class CEvery : public CBase {
 public:
  static const RecordType kType;
  const RecordType* GetType() const override { return &kType; }

  bool flag = false;
  int8_t i8 = 0;
  int16_t i16 = 0;
  int32_t i32 = 0, plain = 0, when = 0;
  float real = 0;
  std::unique_ptr<char[]> chars{new char[kChars]()};
  std::string text;
  std::string called, converted;
  IntPair ints;
  FloatPair reals;
  CInner inner;
  std::unique_ptr<bool[]> flags = Slots<bool>();
  std::unique_ptr<int8_t[]> bytes = Slots<int8_t>();
  std::unique_ptr<int16_t[]> shorts = Slots<int16_t>();
  std::unique_ptr<int32_t[]> numbers = Slots<int32_t>();
  std::unique_ptr<float[]> floats = Slots<float>();
  std::unique_ptr<int32_t[]> times = Slots<int32_t>();
  std::unique_ptr<std::string[]> strings = Slots<std::string>();
  // An array of character buffers is an array of pointers to them.
  std::unique_ptr<char[]> buffers[kSlots] = {std::unique_ptr<char[]>(new char[kChars]()),
                                             std::unique_ptr<char[]>(new char[kChars]()),
                                             std::unique_ptr<char[]>(new char[kChars]())};
  std::unique_ptr<char*[]> bufferTable{new char* [kSlots] { buffers[0].get(), buffers[1].get(), buffers[2].get() }};
};

CEvery& Every(CSerialRecord& r) { return static_cast<CEvery&>(r); }

const FieldDesc kInnerFields[] = {
    {"depth", kFieldInt32, MemberAt<&CInner::depth>},
    {"note", kFieldString, MemberAt<&CInner::note>},
};
const FieldDesc kBaseFields[] = {
    {"baseValue", kFieldInt, MemberAt<&CBase::baseValue>},
};
const FieldDesc kEveryFields[] = {
    {"flag", kFieldBool, MemberAt<&CEvery::flag>},
    {"i8", kFieldInt8, MemberAt<&CEvery::i8>},
    {"i16", kFieldInt16, MemberAt<&CEvery::i16>},
    {"i32", kFieldInt32, MemberAt<&CEvery::i32>},
    {"real", kFieldFloat, MemberAt<&CEvery::real>},
    {"plain", kFieldInt, MemberAt<&CEvery::plain>},
    {"chars", kFieldChars, [](CSerialRecord& r) -> void* { return Every(r).chars.get(); }, kChars},
    {"when", kFieldDateTime, MemberAt<&CEvery::when>},
    {"text", kFieldString, MemberAt<&CEvery::text>},
    {"call", kFieldCallback, nullptr, 0, 0,
     [](CSerialRecord& r, std::string_view v) { Every(r).called.assign(v); }},
    {"convert", kFieldConverter, MemberAt<&CEvery::converted>, 0, 0, nullptr,
     [](void* member, std::string_view v) { static_cast<std::string*>(member)->assign(v); }},
    {"ints", kFieldIntPair, MemberAt<&CEvery::ints>},
    {"reals", kFieldFloatPair, MemberAt<&CEvery::reals>},
    {"ignored", kFieldIgnored},
    {"inner", kFieldRecord, MemberAt<&CEvery::inner>},
    {"unknownKind", 77, MemberAt<&CEvery::i32>},
    {"flags", kFieldBool | kFieldArray, [](CSerialRecord& r) -> void* { return Every(r).flags.get(); }, 0, kSlots},
    {"bytes", kFieldInt8 | kFieldArray, [](CSerialRecord& r) -> void* { return Every(r).bytes.get(); }, 0, kSlots},
    {"shorts", kFieldInt16 | kFieldArray, [](CSerialRecord& r) -> void* { return Every(r).shorts.get(); }, 0,
     kSlots},
    {"numbers", kFieldInt32 | kFieldArray, [](CSerialRecord& r) -> void* { return Every(r).numbers.get(); }, 0,
     kSlots},
    {"floats", kFieldFloat | kFieldArray, [](CSerialRecord& r) -> void* { return Every(r).floats.get(); }, 0,
     kSlots},
    {"times", kFieldDateTime | kFieldArray, [](CSerialRecord& r) -> void* { return Every(r).times.get(); }, 0,
     kSlots},
    {"strings", kFieldString | kFieldArray, [](CSerialRecord& r) -> void* { return Every(r).strings.get(); }, 0,
     kSlots},
    {"buffers", kFieldChars | kFieldArray, [](CSerialRecord& r) -> void* { return Every(r).bufferTable.get(); },
     kChars, kSlots},
    {"pairs", kFieldIntPair | kFieldArray, MemberAt<&CEvery::ints>, 0, kSlots},
};

const RecordType CInner::kType = {"INNER", nullptr, kInnerFields, [] { return std::unique_ptr<CSerialRecord>(); }};
const RecordType CBase::kType = {"BASE", nullptr, kBaseFields, [] { return std::unique_ptr<CSerialRecord>(); }};
const RecordType CEvery::kType = {"EVERY", &CBase::kType, kEveryFields,
                                  [] { return std::unique_ptr<CSerialRecord>(new CEvery); }};

// Each character buffer ends in its zero byte whatever was assigned.
void CheckBuffers(const CEvery& r) {
  QV_FUZZ_CHECK(std::memchr(r.chars.get(), 0, kChars) != nullptr);
  for (const auto& b : r.buffers) QV_FUZZ_CHECK(std::memchr(b.get(), 0, kChars) != nullptr);
}

int Sign(int v) { return (v > 0) - (v < 0); }

void CheckValues(std::string_view text) {
  EvalInt(text);
  ParseBool(text);
  ParseDateTime(text);
  std::string copy(text);
  QV_FUZZ_CHECK(TrimSpace(copy) == TrimView(text).size());
}

void ScanWith(std::string_view format, std::string_view text, std::string_view separator) {
  // One output of the right type for each letter, up to eight fields.
  std::string s[8];
  int32_t d[8];
  int16_t o[8];
  int8_t y[8];
  float f[8];
  bool b[8];
  FieldOut out[8];
  size_t n = 0;
  for (char letter : format) {
    if (n == 8) break;
    if (letter == '*') continue;
    switch (letter) {
      case 's': case 'a': out[n] = &s[n]; break;
      case 'd': case 't': out[n] = &d[n]; break;
      case 'o': out[n] = &o[n]; break;
      case 'y': out[n] = &y[n]; break;
      case 'f': out[n] = &f[n]; break;
      case 'b': out[n] = &b[n]; break;
      default: out[n] = nullptr; break;
    }
    ++n;
  }
  const int count = ScanFields(format.substr(0, 64), text, separator,
                               {out[0], out[1], out[2], out[3], out[4], out[5], out[6], out[7]});
  QV_FUZZ_CHECK(count >= 0 && size_t(count) <= std::min<size_t>(format.size(), 8));
  for (int i = 0; i < count; ++i)
    if (auto* p = std::get_if<std::string*>(&out[i])) QV_FUZZ_CHECK((*p)->size() <= text.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> parts = qvfuzz::SplitParts(data, size, 3);
  const std::string& text = parts[0];

  VER ver;
  CEvery every;
  every.InitMembers();
  const SectionMap sections{{"[Ver]", &ver}, {"[Every]", &every}, {"[Inner]", &every.inner}};
  CIniSyntax syntax;
  CRecordParser parser;
  parser.SetSyntax(&syntax);
  parser.SetSectionMap(&sections);
  parser.ParseText(text);
  parser.ResetInput();
  parser.ParseText(text);  // a second text starts in whatever skipping state the first left
  QV_FUZZ_CHECK(parser.LastError() == 0 || parser.LastError() == kParseBadKey ||
                parser.LastError() == kParseUnknownSection);
  CheckBuffers(every);

  // Each line on its own: classification, and the values it would give.
  size_t start = 0;
  int lines = 0;
  while (start <= text.size() && lines < 64) {
    size_t lf = text.find('\n', start);
    std::string_view line = std::string_view(text).substr(start, lf == std::string::npos ? std::string::npos : lf - start);
    CIniSyntax one;
    const LineKind kind = one.Classify(line);
    if (kind == LineKind::Section) QV_FUZZ_CHECK(!one.Key().empty() && one.Key()[0] == '[');
    if (kind == LineKind::Assignment) QV_FUZZ_CHECK(!one.Key().empty() || !one.Value().empty());
    QV_FUZZ_CHECK(one.Key().size() <= line.size() && one.Value().size() <= line.size());
    CheckValues(line);
    CheckValues(one.Value());
    ++lines;
    if (lf == std::string::npos) break;
    start = lf + 1;
  }
  CheckValues(text);

  ScanWith(parts[1], text, parts[2]);
  ScanWith(parts[1], text, "");
  ScanWith(parts[1], text, AnyOf(parts[2]));

  // The version order: reflexive, antisymmetric, and consistent across three texts.
  const std::string_view a = ver.CurVer, b = ver.ValidVer, c = text;
  QV_FUZZ_CHECK(CompareVersions(a, a) == 0 && CompareVersions(c, c) == 0);
  QV_FUZZ_CHECK(Sign(CompareVersions(a, b)) == -Sign(CompareVersions(b, a)));
  QV_FUZZ_CHECK(Sign(CompareVersions(a, c)) == -Sign(CompareVersions(c, a)));
  const std::string_view p = parts[1], q = parts[2];
  if (CompareVersions(p, q) <= 0 && CompareVersions(q, c) <= 0) QV_FUZZ_CHECK(CompareVersions(p, c) <= 0);
  return 0;
}
