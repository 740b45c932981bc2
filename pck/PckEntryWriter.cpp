// Writing a file's entry into .dat: the entry header, the block table and the blocks,
// each compressed with the file's codec (falling back to Stored) and enciphered.
//
// The compressing and enciphering of blocks runs on the block workers, a window of jobs
// in flight, each with an encoder and a cipher of its own; reading the source, its MD5
// and every write stay on the writer's thread and in order, so the bytes are those of
// one thread doing it all. While a package is built in sequence (AppendFile), entries
// follow each other through the window without waiting for one another, and an entry's
// record gets its place in .dat when its first block lands; an edit waits for its entry.
//
// A source whose blocks are already stored in this package's form (a patch entry under
// the same block size and password, compressed with the codec asked for) is copied block
// for block as stored, without decoding or encoding anything.
#include <algorithm>
#include <cstring>
#include <deque>
#include <optional>

#include "pck/PckEntryPipeline.h"
#include "pck/PckWriter.h"

CEncodeJob* CEntryPipeline::NextJob() {
  if (m_free.empty() && m_jobs.size() < m_workers.Depth()) {
    m_jobs.push_back(std::make_unique<CEncodeJob>(m_w.m_header.blockSize, m_w.m_cipher));
    m_free.push_back(m_jobs.back().get());
  }
  while (m_free.empty()) LandOne();
  CEncodeJob* j = m_free.back();
  m_free.pop_back();
  // The writer's password may have changed since the job was made.
  if (j->cipher.Password() != m_w.m_cipher.Password()) j->cipher.SetPassword(m_w.m_cipher.Password());
  return j;
}

void CEntryPipeline::SettleDatEnd() {
  // The end of .dat moves past anything that reached the file, so the next entry never
  // overlaps a partial one.
  const int64_t len = m_w.m_dat.Length();
  if (len >= 0) m_w.m_datEnd = std::max<uint64_t>(m_w.m_datEnd, uint64_t(len));
}

bool CEntryPipeline::LandHeader(CPendingEntry& e) {
  e.started = true;
  e.start = m_w.m_datEnd;
  if (e.start > kPckMaxOffset) return false;
  uint8_t head[kPckEntryHeaderSize];
  PckEncodeEntryHeader(e.blocks, head);
  if (!m_w.m_dat.Seek(e.start) || !m_w.m_dat.WriteAll(head, sizeof head) ||
      (e.blocks > 0 && !m_w.m_dat.WriteAll(e.table.data(), e.table.size())))
    return false;
  m_w.m_datEnd = e.start + kPckEntryHeaderSize + e.table.size();
  return true;
}

void CEntryPipeline::Complete(CPendingEntry& e) {
  const uint64_t end = m_w.m_datEnd;
  if (e.blocks > 0 && (!m_w.m_dat.Seek(e.start + kPckEntryHeaderSize) ||
                       !m_w.m_dat.WriteAll(e.table.data(), e.table.size()) || !m_w.m_dat.Seek(end))) {
    e.failed = true;
    m_writeFailed = true;
    SettleDatEnd();
    return;
  }
  PckRecord& r = e.target ? *e.target : m_w.m_index.Record(e.record);
  r.dataOffset = uint32_t(e.start);
  if (e.digestFromJob) std::memcpy(r.digest, e.digest, 16);
  e.done = true;
}

void CEncodeJob::Work() {
  std::optional<CMd5> md5;  // made only for a whole file: a digest context costs an allocation
  if (wholeFile) md5.emplace();
  output.clear();
  used.resize(lengths.size());
  stored.resize(lengths.size());
  for (size_t k = 0; k < lengths.size(); ++k) {
    const uint8_t* block = input.data() + k * blockSize;
    if (md5) md5->Update(block, lengths[k]);
    used[k] = encoder.Encode(want, block, lengths[k]);
    cipher.Encipher(encoder.Payload(), encoder.PayloadLength());
    stored[k] = encoder.PayloadLength();
    output.insert(output.end(), encoder.Payload(), encoder.Payload() + encoder.PayloadLength());
  }
  if (md5) md5->Final(digest);
}

void CEntryPipeline::LandOne() {
  CEncodeJob* j = m_inFlight.front();
  m_inFlight.pop_front();
  j->job.Wait();
  CPendingEntry& e = *j->entry;
  --e.inFlight;
  if (j->wholeFile) std::memcpy(e.digest, j->digest, 16);
  bool ok = !e.failed && !m_writeFailed;
  if (ok && !e.started) ok = LandHeader(e);
  size_t at = 0;
  for (size_t k = 0; ok && k < j->lengths.size(); ++k) {
    const uint64_t tableEnd = e.start + kPckEntryHeaderSize + e.table.size();
    const uint64_t pos = m_w.m_datEnd;
    const uint32_t stored = j->stored[k];
    ok = pos - tableEnd <= kPckMaxOffset && pos + kPckBlockHeaderSize + stored <= kPckMaxOffset + 1;
    if (!ok) break;
    PutLE32(e.table.data() + 4 * (j->first + k), uint32_t(pos - tableEnd));
    uint8_t blockHead[kPckBlockHeaderSize] = {uint8_t(j->used[k])};
    PutLE32(blockHead + 1, stored);
    ok = m_w.m_dat.WriteAll(blockHead, sizeof blockHead) && m_w.m_dat.WriteAll(j->output.data() + at, stored);
    if (ok) m_w.m_datEnd = pos + kPckBlockHeaderSize + stored;
    at += stored;
    if (ok) ++e.landed;
  }
  if (!ok && !e.failed) {
    e.failed = true;
    m_writeFailed = m_writeFailed || m_w.m_dat.Failed();
    SettleDatEnd();
  }
  m_free.push_back(j);
  if (!e.failed && e.landed == e.blocks) Complete(e);
  Forget();
}

void CEntryPipeline::Forget() {
  // Entries land in order; those in front that are through, and that no job points to
  // any more, are forgotten. The newest stays: its writer asks how it went.
  while (m_entries.size() > 1 && (m_entries.front().done || m_entries.front().failed) &&
         m_entries.front().inFlight == 0) {
    // A deferred entry that failed after its Write returned must still fail Finish.
    if (m_entries.front().failed) m_entryFailed = true;
    m_entries.pop_front();
  }
}

bool CEntryPipeline::Write(DataStream& source, int codec, PckRecord& out, uint32_t record, bool deferred) {
  const int32_t size = source.Size();
  if (size < 0 || m_writeFailed) return false;
  const uint32_t bs = m_w.m_header.blockSize;
  const PckCodec want = (codec == 1 || codec == 2) ? PckCodec(codec) : PckCodec::Stored;

  if (IStoredBlocks* stored = source.StoredBlocks()) {
    // Blocks of the codec asked for, or of Stored where it fell back (an incompressible
    // block): what this writer would have made of them, given the same encoder.
    const uint8_t codecs[2] = {uint8_t(want), uint8_t(PckCodec::Stored)};
    if (want != PckCodec::Stored && stored->StoredBlockSize() == bs &&
        stored->StoredPassword() == m_w.m_cipher.Password() && stored->StoredIn(codecs, 2)) {
      if (!Finish()) return false;
      PckRecord r = out;
      if (!CopyStored(*stored, source, r)) return false;
      out = r;
      return true;
    }
  }

  const uint32_t n = PckBlockCount(uint32_t(size), bs);
  m_entries.emplace_back();
  CPendingEntry& e = m_entries.back();
  e.record = record;
  e.target = deferred ? nullptr : &out;
  e.blocks = n;
  e.table.assign(size_t(n) * 4, 0);
  // A small file goes as one job, which takes its digest too; a larger one block by
  // block, with the digest taken here.
  const bool whole = n > 0 && n <= kWholeFileBlocks;
  e.digestFromJob = whole;
  CMd5 md5;
  bool readOk = true;
  for (uint32_t i = 0; i < n && readOk;) {
    CEncodeJob* j = NextJob();
    const uint32_t count = whole ? n : 1;
    // Blocks one block size apart, the last only as long as it is: a small file under a
    // large block size keeps a small buffer.
    j->input.resize(size_t(std::min<uint64_t>(uint64_t(count) * bs, uint64_t(size) - uint64_t(i) * bs)));
    j->lengths.clear();
    for (uint32_t k = 0; k < count && readOk; ++k) {
      // Exactly this block's share of the declared size: a source that runs short fails
      // the entry, one that runs long is cut, so the table's slots match the blocks.
      const uint32_t len = uint32_t(std::min<uint64_t>(bs, uint64_t(size) - uint64_t(i + k) * bs));
      uint8_t* to = j->input.data() + size_t(k) * bs;
      uint32_t got = 0;
      while (got < len) {
        const int32_t r = source.Read(to + got, int32_t(len - got));
        if (r <= 0) break;
        got += uint32_t(r);
      }
      if (got < len) readOk = false;
      if (!whole) md5.Update(to, len);
      j->lengths.push_back(len);
    }
    if (!readOk) {
      m_free.push_back(j);
      break;
    }
    j->want = want;
    j->wholeFile = whole;
    j->entry = &e;
    j->first = i;
    j->job.Run(m_workers, [j] { j->Work(); });
    ++e.inFlight;
    m_inFlight.push_back(j);
    i += count;
  }
  // A source that learnt only at its end that its content is bad is not stored.
  if (!readOk || source.Failed()) e.failed = true;
  PckRecord& r = out;
  const PckRecord before = r;
  r.size = uint32_t(size);
  if (!whole) md5.Final(r.digest);
  r.stamp = source.Stamp();
  if (n == 0 && !e.failed) {
    // No blocks: a job without work lands the header in its turn.
    CEncodeJob* j = NextJob();
    j->entry = &e;
    j->first = 0;
    j->lengths.clear();
    j->wholeFile = false;
    ++e.inFlight;
    m_inFlight.push_back(j);
  }
  if (deferred && !e.failed) return true;
  // An edit, or an entry that failed already: everything on its way lands now. The
  // entry is the newest, which stays until it is cleared here.
  while (!m_inFlight.empty()) LandOne();
  const bool landed = e.done && !m_writeFailed;
  m_entries.clear();
  if (!landed) r = before;  // an edit's record stays on its old content
  return landed;
}

bool CEntryPipeline::Finish() {
  while (!m_inFlight.empty()) LandOne();
  for (const CPendingEntry& e : m_entries)
    if (e.failed) m_entryFailed = true;
  m_entries.clear();
  return !m_writeFailed && !m_entryFailed;
}

void CEntryPipeline::Discard() {
  for (CEncodeJob* j : m_inFlight) {
    j->job.Wait();
    m_free.push_back(j);
  }
  m_inFlight.clear();
  m_entries.clear();
}

bool CEntryPipeline::CopyStored(IStoredBlocks& stored, DataStream& source, PckRecord& record) {
  const uint32_t n = stored.StoredBlockCount();
  const uint64_t start = m_w.m_datEnd;
  if (start > kPckMaxOffset) return false;
  std::vector<uint8_t> payload;
  uint8_t codec = 0;
  // Blocks follow the table in order; their offsets are known from their lengths, so
  // the entry is written front to back in one pass.
  std::vector<uint8_t> table(size_t(n) * 4);
  std::vector<uint32_t> lengths(n);
  uint64_t offset = 0;
  for (uint32_t i = 0; i < n; ++i) {
    if (!stored.StoredLength(i, lengths[i])) return false;
    PutLE32(table.data() + 4 * i, uint32_t(offset));
    offset += kPckBlockHeaderSize + lengths[i];
    if (offset > kPckMaxOffset) return false;
  }
  uint8_t head[kPckEntryHeaderSize];
  PckEncodeEntryHeader(n, head);
  bool ok = m_w.m_dat.Seek(start) && m_w.m_dat.WriteAll(head, sizeof head) &&
            (n == 0 || m_w.m_dat.WriteAll(table.data(), table.size()));
  for (uint32_t i = 0; ok && i < n; ++i) {
    ok = stored.ReadStored(i, codec, payload) && payload.size() == lengths[i];
    uint8_t blockHead[kPckBlockHeaderSize] = {codec};
    PutLE32(blockHead + 1, lengths[i]);
    ok = ok && m_w.m_dat.WriteAll(blockHead, sizeof blockHead) && m_w.m_dat.WriteAll(payload.data(), payload.size());
  }
  if (!ok) {
    SettleDatEnd();
    m_writeFailed = m_writeFailed || m_w.m_dat.Failed();
    return false;
  }
  m_w.m_datEnd = start + kPckEntryHeaderSize + table.size() + offset;
  record.dataOffset = uint32_t(start);
  record.size = uint32_t(source.Size());
  stored.StoredDigest(record.digest);
  record.stamp = source.Stamp();
  return true;
}

// ---------------------------------------------------------------- the writer's side

CEntryPipeline& PckWriter::Pipeline() {
  if (!m_pipeline) m_pipeline = std::make_unique<CEntryPipeline>(*this);
  return *m_pipeline;
}

bool PckWriter::WriteEntry(DataStream& source, int codec, PckRecord& record) {
  return Pipeline().Write(source, codec, record, 0, /*deferred=*/false);
}

bool PckWriter::WriteEntryDeferred(DataStream& source, int codec, PckRecord& record, uint32_t index) {
  return Pipeline().Write(source, codec, record, index, /*deferred=*/true);
}

bool PckWriter::LandEntries() {
  if (!m_pipeline) return true;
  if (m_pipeline->Finish()) return true;
  Fail("cannot store a file of " + PckDataName(m_base));
  return false;
}

void PckWriter::DropEntries() {
  if (m_pipeline) m_pipeline->Discard();
  m_pipeline.reset();
}
