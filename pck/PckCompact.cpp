#include "pck/PckCompact.h"

#include <memory>
#include <vector>

#include "io/IWalkSink.h"
#include "io/File.h"
#include "io/ReadWindow.h"
#include "pck/PckEntryLayout.h"
#include "pck/PckFormat.h"

namespace {

class CCompaction {
 public:
  CCompaction(IWalkSink* sink, CError* error) : m_sink(sink), m_error(error) {}
  int Run(const std::string& source, const std::string& target);

 private:
  int Fail(const CError& why) {
    if (m_error) *m_error = why;
    return -1;
  }
  // The source is no whole package.
  int Damaged(const std::string& file, const std::string& why) {
    return Fail(Failure(ErrorKind::Damaged, file, file + ": " + why));
  }
  // A copy step failed: a write to the target, which says why itself, or else the
  // source, which `why` describes.
  int FailCopy(const std::string& file, const std::string& why) {
    for (CFile* f : {&m_dstIdx, &m_dstDat, &m_dstNam})
      if (f->Failed()) return Fail(f->ErrorRecord());
    return Damaged(file, why);
  }
  bool CopyName(PckRecord& r);
  bool CopyEntry(PckRecord& r);
  void PushName(std::string_view name);
  void PopName();

  IWalkSink* m_sink;
  CError* m_error;
  CFile m_srcIdx, m_srcDat, m_srcNam, m_dstIdx, m_dstDat, m_dstNam;
  PckHeader m_header{};
  std::vector<uint8_t> m_buffer;
  std::string m_path;
  std::vector<bool> m_pushed;  // for each open folder: whether its name joined the path
  std::string m_name;
  uint64_t m_datEnd = 0, m_namEnd = 0;
  uint64_t m_srcDatLength = 0;
  // The source is read front to back through windows: one read per window, not a seek
  // and a read per record, name and block.
  std::unique_ptr<CReadWindow> m_idxWindow, m_datWindow, m_namWindow;
};

// A window over a source file of the compaction.
std::unique_ptr<CReadWindow> WindowOn(CFile& file, uint64_t length) {
  return std::make_unique<CReadWindow>(
      [&file](uint64_t offset, void* out, size_t n) { return file.Seek(offset) && file.ReadExact(out, n); }, length);
}

void CCompaction::PushName(std::string_view name) {
  if (!m_sink || name.empty()) return;
  m_path += '/';
  m_path += name;
}

void CCompaction::PopName() {
  if (!m_sink) return;
  size_t slash = m_path.rfind('/');
  if (slash != std::string::npos) m_path.erase(slash);
}

bool CCompaction::CopyName(PckRecord& r) {
  uint8_t len;
  if (!m_namWindow->Read(r.nameOffset, &len, 1)) return false;
  m_name.assign(len, '\0');
  if (len && !m_namWindow->Read(uint64_t(r.nameOffset) + 1, m_name.data(), len)) return false;
  if (m_namEnd + 1 + len > kPckMaxOffset) return false;
  r.nameOffset = uint32_t(m_namEnd);
  if (!m_dstNam.WriteAll(&len, 1) || (len && !m_dstNam.WriteAll(m_name.data(), len))) return false;
  m_namEnd += 1 + len;
  size_t zero = m_name.find('\0');
  if (zero != std::string::npos) m_name.resize(zero);
  return true;
}

bool CCompaction::CopyEntry(PckRecord& r) {
  const uint32_t n = PckBlockCount(r.size, m_header.blockSize);
  auto readAt = [this](uint64_t offset, void* out, size_t length) { return m_datWindow->Read(offset, out, length); };
  PckEntryLayout layout;
  if (PckReadEntryLayout(readAt, m_srcDatLength, r, m_header.blockSize, layout) != PckLayoutRead::Ok) return false;
  if (layout.headerBlocks != n) return false;
  if (m_datEnd > kPckMaxOffset) return false;
  r.dataOffset = uint32_t(m_datEnd);
  if (!m_dstDat.WriteAll(layout.header, sizeof layout.header)) return false;
  m_datEnd += sizeof layout.header;
  if (n == 0) return true;
  // The copy's blocks follow its table in order and without gaps, whatever order and
  // gaps the source has, and its table says where they landed.
  std::vector<uint8_t> copied(size_t(n) * 4);
  uint64_t offset = 0;
  for (uint32_t i = 0; i < n; ++i) {
    PutLE32(copied.data() + 4 * i, uint32_t(offset));
    if (layout.blocks[i].stored > m_header.blockSize) return false;  // would overrun the copy buffer
    offset += kPckBlockHeaderSize + layout.blocks[i].stored;
    if (offset > kPckMaxOffset) return false;
  }
  if (!m_dstDat.WriteAll(copied.data(), copied.size())) return false;
  m_datEnd += copied.size();
  for (const PckStoredBlock& block : layout.blocks) {
    const size_t length = kPckBlockHeaderSize + block.stored;
    if (!readAt(block.at, m_buffer.data(), length) || !m_dstDat.WriteAll(m_buffer.data(), length)) return false;
    m_datEnd += length;
  }
  return true;
}

int CCompaction::Run(const std::string& source, const std::string& target) {
  for (CFile* f : {&m_srcIdx, &m_srcDat, &m_srcNam}) {
    const std::string name = f == &m_srcIdx ? PckIndexName(source) : f == &m_srcDat ? PckDataName(source)
                                                                                    : PckNameTableName(source);
    if (!f->Open(name, "rb")) return Fail(f->ErrorRecord());
  }
  // Creating the target truncates its files; with the source's own name that would be
  // the source.
  if (target == source) return Fail(Failure(ErrorKind::BadArgument, source, "the target is the source " + source));
  const int64_t datLen = m_srcDat.Length();
  if (datLen < 0) return Fail(OsFailure("measure", PckDataName(source)));
  m_srcDatLength = uint64_t(datLen);
  if (!m_dstIdx.Create(PckIndexName(target))) return Fail(m_dstIdx.ErrorRecord());
  if (!m_dstDat.Create(PckDataName(target))) return Fail(m_dstDat.ErrorRecord());
  if (!m_dstNam.Create(PckNameTableName(target))) return Fail(m_dstNam.ErrorRecord());

  uint8_t raw[kPckHeaderSize];
  if (!m_srcIdx.ReadExact(raw, sizeof raw)) return Damaged(PckIndexName(source), "short header");
  m_header = PckHeader::Decode(raw);
  if (!m_header.HasUsableBlockSize()) return Damaged(PckIndexName(source), "block size out of range");
  PutLE32(raw + 24, 0);  // no dead bytes in the copy
  if (!m_dstIdx.WriteAll(raw, sizeof raw)) return Fail(m_dstIdx.ErrorRecord());
  m_buffer.assign(size_t(m_header.blockSize) + kPckBlockHeaderSize, 0);

  const int64_t idxLen = m_srcIdx.Length();
  if (idxLen < 0) return Fail(OsFailure("measure", PckIndexName(source)));
  if ((uint64_t(idxLen) - kPckHeaderSize) % kPckRecordSize != 0)
    return Damaged(PckIndexName(source), "index ends in a partial record");
  const uint64_t count = (uint64_t(idxLen) - kPckHeaderSize) / kPckRecordSize;
  const int64_t namLen = m_srcNam.Length();
  if (namLen < 0) return Fail(OsFailure("measure", PckNameTableName(source)));
  m_idxWindow = WindowOn(m_srcIdx, uint64_t(idxLen));
  m_namWindow = WindowOn(m_srcNam, uint64_t(namLen));
  m_datWindow = WindowOn(m_srcDat, m_srcDatLength);
  m_path = m_sink ? source : std::string();

  for (uint64_t i = 0; i < count; ++i) {
    uint8_t rec[kPckRecordSize];
    if (!m_idxWindow->Read(kPckHeaderSize + i * kPckRecordSize, rec, sizeof rec)) return Damaged(PckIndexName(source), "cannot read record " + std::to_string(i));
    PckRecord r = PckRecord::Decode(rec);
    if (r.type == kPckFile) {
      if (!CopyEntry(r)) return FailCopy(PckDataName(source), "entry of record " + std::to_string(i) + " is damaged or unreadable");
    }
    if (r.type == kPckFile || r.type == kPckFolder) {
      if (!CopyName(r)) return FailCopy(PckNameTableName(source), "name of record " + std::to_string(i) + " cannot be copied");
      PushName(m_name);
      if (m_sink) {
        const char* text = m_path.empty() ? nullptr : m_path.c_str();
        if (r.type == kPckFile) {
          m_sink->Post(kWalkFileBegin, text);
          m_sink->Post(kWalkFileDone, text);
          if (!m_name.empty()) PopName();
        } else {
          m_sink->Post(kWalkEnterDir, text);
          m_pushed.push_back(!m_name.empty());
        }
      }
    } else if (r.type == kPckFolderEnd && m_sink) {
      m_sink->Post(kWalkLeaveDir, m_path.empty() ? nullptr : m_path.c_str());
      if (!m_pushed.empty()) {
        if (m_pushed.back()) PopName();
        m_pushed.pop_back();
      }
    }
    r.Encode(rec);
    if (!m_dstIdx.WriteAll(rec, sizeof rec)) return Fail(m_dstIdx.ErrorRecord());
  }
  for (CFile* f : {&m_dstDat, &m_dstNam, &m_dstIdx})
    if (!f->Flush() || !f->Close()) return Fail(f->ErrorRecord());
  return 0;
}

}  // namespace

int CompactPackage(const std::string& source, const std::string& target, IWalkSink* sink, CError* error) {
  CCompaction c(sink, error);
  return c.Run(source, target);
}
