// A line parser that fills records from "[Section]" / "key=value" text. Each record
// type describes its assignable members in a table (name, kind, where the member is),
// so a key selects a member by name and its value text is converted by the member's
// kind. The version check is the only user, but the parser takes any record type.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

class CSerialRecord;

// How a member's value text is converted. An array member has kFieldArray added.
enum FieldKind : int32_t {
  kFieldBool = 1,        // bool, ParseBool
  kFieldInt8 = 2,        // int8_t, EvalInt
  kFieldInt16 = 3,       // int16_t, EvalInt
  kFieldInt32 = 4,       // int32_t, EvalInt
  kFieldFloat = 5,       // float
  kFieldInt = 6,         // int32_t, as kFieldInt32
  kFieldChars = 7,       // char[size]; an array: char* buffers of `size` bytes each
  kFieldDateTime = 8,    // int32_t, ParseDateTime
  kFieldString = 16,     // std::string
  kFieldCallback = 17,   // no member: `callback` receives the value text
  kFieldConverter = 18,  // any member: `convert` receives (member, value text)
  kFieldIntPair = 33,    // IntPair from "a,b"
  kFieldFloatPair = 34,  // FloatPair from "a,b"
  kFieldIgnored = 128,   // accepted, nothing stored
  kFieldRecord = 129,    // a member record; keys are passed down to it
};
inline constexpr int32_t kFieldArray = 0x100;

struct IntPair {
  int32_t first = 0, second = 0;
  bool equal = false;
};
struct FloatPair {
  float first = 0, second = 0;
  bool equal = false;
};

// One assignable member of a record type.
struct FieldDesc {
  const char* name;  // the key, exact and case-sensitive
  int32_t kind;      // FieldKind, plus kFieldArray for an array
  // The member (an array's first element; for kFieldRecord a CSerialRecord*).
  void* (*at)(CSerialRecord&) = nullptr;
  int32_t size = 0;   // kFieldChars: bytes of the buffer
  int32_t count = 0;  // arrays: number of elements
  void (*callback)(CSerialRecord&, std::string_view value) = nullptr;
  void (*convert)(void* member, std::string_view value) = nullptr;
};

struct RecordType {
  const char* name;
  const RecordType* base;  // or null
  std::span<const FieldDesc> fields;
  std::unique_ptr<CSerialRecord> (*create)();
};

namespace detail {
template <class T>
struct MemberTraits;
template <class R, class V>
struct MemberTraits<V R::*> {
  using Record = R;
  using Value = V;
};
}  // namespace detail

// The `at` of a FieldDesc for the data member M, e.g. MemberAt<&VER::CurVer>.
template <auto M>
void* MemberAt(CSerialRecord& record) {
  using Traits = detail::MemberTraits<decltype(M)>;
  auto& member = static_cast<typename Traits::Record&>(record).*M;
  if constexpr (std::is_base_of_v<CSerialRecord, typename Traits::Value>)
    return static_cast<CSerialRecord*>(&member);
  else if constexpr (std::is_array_v<typename Traits::Value>)
    return static_cast<void*>(&member[0]);
  else
    return static_cast<void*>(&member);
}

// A record that keys can be assigned to by name.
class CSerialRecord {
 public:
  virtual ~CSerialRecord() = default;
  virtual const RecordType* GetType() const { return nullptr; }
  // Lets every member record prepare itself (and its own member records).
  virtual void InitMembers();
  // A section of this record opens / closes.
  virtual void OnBegin() {}
  virtual void OnEnd() {}

  // Assigns a value to the member that `key` names: a member of this record's type or
  // of its base types, "Type.member" / "Type::member", "member.key" for a member record,
  // or a key that a member record accepts. 0 when assigned, -1 when not.
  int SetField(std::string_view key, std::string_view value);

 private:
  bool NamesOwnType(std::string_view name) const;
  CSerialRecord* FindTarget(std::string_view qualifier);
  template <class Visit>
  bool ForEachMemberRecord(Visit visit);
  int Assign(const FieldDesc& field, std::string_view value);
};

enum class LineKind { Other = 0, Section = 10, BlockOpen = 11, BlockClose = 12, Assignment = 21 };

// Tells what a line is; Key() and Value() hold the parts of the line classified last.
class ILineSyntax {
 public:
  virtual ~ILineSyntax() = default;
  virtual LineKind Classify(std::string_view line) = 0;
  virtual bool IsComment(std::string_view line) const = 0;
  virtual const std::string& Key() const = 0;
  virtual const std::string& Value() const = 0;
};

// INI lines: "[Name]" opens a section, "key=value" assigns (both parts trimmed; a
// line with nothing after "=" assigns nothing), ";" or "#" in the first column is a
// comment.
class CIniSyntax : public ILineSyntax {
 public:
  LineKind Classify(std::string_view line) override;
  bool IsComment(std::string_view line) const override;
  const std::string& Key() const override { return m_strKey; }
  const std::string& Value() const override { return m_strValue; }

 private:
  std::string m_strKey, m_strValue;
};

// Exact header text, brackets included ("[Ver]") -> the record that receives it.
using SectionMap = std::map<std::string, CSerialRecord*, std::less<>>;

enum : int { kParseUnknownSection = -10, kParseBadKey = -11 };

// Feeds lines to the records of a section map. Sections do not nest: a header closes
// the section before it. The map, the syntax and the records belong to the caller.
class CRecordParser {
 public:
  void SetSectionMap(const SectionMap* map) { m_pSections = map; }
  void SetSyntax(ILineSyntax* syntax) { m_pSyntax = syntax; }
  // Forgets the open section; skipping an unknown section carries on into the next text.
  void ResetInput() { m_pOpen = nullptr; }
  // 0, or -1 with LastError() saying why. No line stops a text.
  int ParseLine(std::string_view line);
  // Every line of a text, cut at LF (a CR before it is trimmed as white space).
  void ParseText(std::string_view text);
  int LastError() const { return m_nLastError; }
  bool IsSkipping() const { return m_bSkipping; }

 private:
  bool m_bSkipUnknown = true;
  bool m_bSkipping = false;
  int m_nSkipDepth = 0;
  int m_nLastError = 0;
  const SectionMap* m_pSections = nullptr;
  ILineSyntax* m_pSyntax = nullptr;
  CSerialRecord* m_pOpen = nullptr;
};
