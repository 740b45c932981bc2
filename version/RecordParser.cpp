// The record parser: INI line classification, section dispatch and by-name assignment
// of member values.
#include "version/RecordParser.h"

#include <algorithm>
#include <cstdlib>

#include "platform/PathText.h"
#include "version/ValueText.h"

namespace {

int32_t BaseKind(int32_t kind) { return kind & 0xFF; }

// Where element n of an array member of `kind` lives; for kFieldChars the buffer that
// pointer n designates. Null for a kind that has no slots.
void* Slot(int32_t kind, void* first, int32_t n) {
  switch (kind) {
    case kFieldBool: return static_cast<bool*>(first) + n;
    case kFieldInt8: return static_cast<int8_t*>(first) + n;
    case kFieldInt16: return static_cast<int16_t*>(first) + n;
    case kFieldInt32:
    case kFieldInt:
    case kFieldDateTime: return static_cast<int32_t*>(first) + n;
    case kFieldFloat: return static_cast<float*>(first) + n;
    case kFieldChars: return static_cast<char**>(first)[n];
    case kFieldString: return static_cast<std::string*>(first) + n;
    default: return nullptr;
  }
}

// Converts one (trimmed) value into the member at `at`; false for a kind that holds no
// single value.
bool StoreValue(int32_t kind, void* at, std::string_view value, int32_t size) {
  if (!at) return false;
  switch (kind) {
    case kFieldBool: *static_cast<bool*>(at) = ParseBool(value); return true;
    case kFieldInt8: *static_cast<int8_t*>(at) = static_cast<int8_t>(EvalInt(value)); return true;
    case kFieldInt16: *static_cast<int16_t*>(at) = static_cast<int16_t>(EvalInt(value)); return true;
    case kFieldInt32:
    case kFieldInt: *static_cast<int32_t*>(at) = EvalInt(value); return true;
    case kFieldFloat:
      *static_cast<float*>(at) = static_cast<float>(std::strtod(std::string(value).c_str(), nullptr));
      return true;
    case kFieldChars:
      // Never past the buffer, and never half a two-byte character.
      if (size <= 0) return false;
      plat::CopyTruncated(value, static_cast<char*>(at), size);
      return true;
    case kFieldDateTime: *static_cast<int32_t*>(at) = ParseDateTime(value); return true;
    case kFieldString: static_cast<std::string*>(at)->assign(value); return true;
    default: return false;
  }
}

// "a,b,c" into the slots of an array member; surplus elements are dropped and slots
// without an element keep their value.
int AssignArray(const FieldDesc& field, void* first, std::string_view value) {
  int32_t kind = BaseKind(field.kind);
  bool slotted = (kind >= kFieldBool && kind <= kFieldDateTime) || kind == kFieldString;
  if (!first || !slotted) return -1;
  size_t pos = 0;
  for (int32_t n = 0; n < field.count && pos < value.size(); ++n) {
    size_t end = pos;
    while (end < value.size() && value[end] != ',')
      end += plat::IsLeadByte(static_cast<unsigned char>(value[end])) ? 2 : 1;
    end = std::min(end, value.size());
    if (void* slot = Slot(kind, first, n)) StoreValue(kind, slot, TrimView(value.substr(pos, end - pos)), field.size);
    pos = end + 1;
  }
  return 0;
}

}  // namespace

// ---- CSerialRecord ----

void CSerialRecord::InitMembers() {
  ForEachMemberRecord([](CSerialRecord& member) {
    member.InitMembers();
    return false;
  });
}

template <class Visit>
bool CSerialRecord::ForEachMemberRecord(Visit visit) {
  for (const RecordType* type = GetType(); type; type = type->base)
    for (const FieldDesc& field : type->fields)
      if (field.kind == kFieldRecord && field.at)
        if (visit(*static_cast<CSerialRecord*>(field.at(*this)))) return true;
  return false;
}

bool CSerialRecord::NamesOwnType(std::string_view name) const {
  for (const RecordType* type = GetType(); type; type = type->base)
    if (name == type->name) return true;
  return false;
}

CSerialRecord* CSerialRecord::FindTarget(std::string_view qualifier) {
  if (NamesOwnType(qualifier)) return this;
  for (const RecordType* type = GetType(); type; type = type->base)
    for (const FieldDesc& field : type->fields)
      if (field.kind == kFieldRecord && field.at && qualifier == field.name)
        return static_cast<CSerialRecord*>(field.at(*this));
  CSerialRecord* found = nullptr;
  ForEachMemberRecord([&](CSerialRecord& member) { return (found = member.FindTarget(qualifier)) != nullptr; });
  return found;
}

int CSerialRecord::Assign(const FieldDesc& field, std::string_view raw) {
  std::string_view value = TrimView(raw);
  void* at = field.at ? field.at(*this) : nullptr;
  if (field.kind & kFieldArray) return AssignArray(field, at, value);
  switch (BaseKind(field.kind)) {
    case kFieldCallback:
      if (!field.callback) return -1;
      field.callback(*this, value);
      return 0;
    case kFieldConverter:
      if (!field.convert || !at) return -1;
      field.convert(at, value);
      return 0;
    case kFieldIntPair: {
      if (!at) return -1;
      auto& pair = *static_cast<IntPair*>(at);
      ScanFields("dd", value, ",", {&pair.first, &pair.second});
      pair.equal = pair.first == pair.second;
      return 0;
    }
    case kFieldFloatPair: {
      if (!at) return -1;
      auto& pair = *static_cast<FloatPair*>(at);
      ScanFields("ff", value, ",", {&pair.first, &pair.second});
      pair.equal = pair.first == pair.second;
      return 0;
    }
    case kFieldIgnored:
      return 0;
    default:
      return StoreValue(field.kind, at, value, field.size) ? 0 : -1;
  }
}

int CSerialRecord::SetField(std::string_view key, std::string_view value) {
  std::string qualifier, member;
  if (ScanFields("sa", key, ".", {&qualifier, &member}) == 2 ||
      ScanFields("sa", key, "::", {&qualifier, &member}) == 2) {
    for (const RecordType* type = GetType(); type; type = type->base) {
      if (qualifier != type->name) continue;
      for (const FieldDesc& field : type->fields)
        if (member == field.name) return Assign(field, value);
      break;
    }
    if (CSerialRecord* target = FindTarget(qualifier)) return target->SetField(member, value);
  }
  for (const RecordType* type = GetType(); type; type = type->base)
    for (const FieldDesc& field : type->fields)
      if (key == field.name) return Assign(field, value);
  bool taken = ForEachMemberRecord([&](CSerialRecord& record) { return record.SetField(key, value) == 0; });
  return taken ? 0 : -1;
}

// ---- CIniSyntax ----

LineKind CIniSyntax::Classify(std::string_view line) {
  m_strKey.clear();
  m_strValue.clear();
  int fields = ScanFields("sa", line, "=", {&m_strKey, &m_strValue});
  if (fields == 1 && !m_strKey.empty() && m_strKey[0] == '[') return LineKind::Section;
  if (fields == 2) return LineKind::Assignment;
  return LineKind::Other;
}

bool CIniSyntax::IsComment(std::string_view line) const {
  return !line.empty() && (line[0] == ';' || line[0] == '#');
}

// ---- CRecordParser ----

int CRecordParser::ParseLine(std::string_view line) {
  if (!m_pSyntax) return -1;
  if (m_pSyntax->IsComment(line)) return 0;
  LineKind kind = m_pSyntax->Classify(line);
  if (m_bSkipping) {
    if (kind == LineKind::BlockOpen) ++m_nSkipDepth;
    if (kind == LineKind::BlockClose && --m_nSkipDepth <= 0) m_bSkipping = false;
    if (kind != LineKind::Section) return 0;
  }
  m_bSkipping = false;
  m_nSkipDepth = 0;

  switch (kind) {
    case LineKind::Section: {
      if (m_pOpen) {
        m_pOpen->OnEnd();
        m_pOpen = nullptr;
      }
      if (m_pSections) {
        auto found = m_pSections->find(m_pSyntax->Key());
        if (found != m_pSections->end() && found->second) {
          m_pOpen = found->second;
          m_pOpen->OnBegin();
          return 0;
        }
      }
      if (m_bSkipUnknown) {
        m_bSkipping = true;
        m_nSkipDepth = 1;
        return 0;
      }
      m_nLastError = kParseUnknownSection;
      return -1;
    }
    case LineKind::Assignment:
      if (!m_pOpen) return 0;
      if (m_pOpen->SetField(m_pSyntax->Key(), m_pSyntax->Value()) != 0) {
        m_nLastError = kParseBadKey;
        return -1;
      }
      return 0;
    default:
      // Block lines open nested member records in other syntaxes; INI has none.
      return 0;
  }
}

void CRecordParser::ParseText(std::string_view text) {
  size_t start = 0;
  for (;;) {
    size_t lf = text.find('\n', start);
    if (lf == std::string_view::npos) {
      if (start < text.size()) ParseLine(text.substr(start));
      return;
    }
    ParseLine(text.substr(start, lf - start));
    start = lf + 1;
  }
}
