#include "pck/PckSummary.h"

#include "io/File.h"

PckIndexRead PckReadIndexSummary(const std::string& idxPath, PckIndexSummary& out, bool countFiles) {
  out = PckIndexSummary();
  CFile idx;
  if (!idx.Open(idxPath, "rb")) return PckIndexRead::CannotOpen;
  uint8_t header[kPckHeaderSize];
  if (!idx.ReadExact(header, sizeof header)) return PckIndexRead::ShortHeader;
  out.header = PckHeader::Decode(header);
  if (!out.header.IsValid()) return PckIndexRead::BadHeader;
  if (!countFiles) return PckIndexRead::Ok;
  uint8_t record[kPckRecordSize];
  while (idx.ReadExact(record, sizeof record)) {
    const PckRecord r = PckRecord::Decode(record);
    if (r.type != kPckFile) continue;
    ++out.files;
    out.fileBytes += r.size;
  }
  return PckIndexRead::Ok;
}
