// PckReader::VerifyEntries: many files decoded through the block workers. One reading
// thread walks the files' blocks in order and reads each as stored; a window of jobs
// deciphers and decodes them on the workers, each job with a cipher of its own (the
// library's DES keeps state per handle); the results are taken back in the order they
// were read, so the digests and the callers see every file's bytes in order.
#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>

#include "io/Workers.h"
#include "pck/PckReader.h"

namespace {

struct CDecodeJob {
  explicit CDecodeJob(const CPckCipher& like, uint32_t blockSize) : payload(blockSize), out(blockSize) {
    cipher.SetPassword(like.Password());
  }
  CPckCipher cipher;
  std::vector<uint8_t> payload, out;
  CWorkers::CJob job;
  size_t file = 0;        // the position in the caller's list
  uint32_t block = 0;
  uint32_t expect = 0;    // the decoded length the block must have
  int result = 0;         // decoded length, or -1 damaged, -2 unreadable
  bool marker = false;    // no block: the end of a file without blocks
};

}  // namespace

void PckReader::VerifyEntries(const std::vector<int>& indices, const FileBlockVisitor& onBlock,
                              const FileResult& onFile) {
  CWorkers& workers = CWorkers::Shared();
  const uint32_t bs = m_header.blockSize;
  std::vector<std::unique_ptr<CDecodeJob>> pool;
  std::deque<CDecodeJob*> inFlight;
  std::vector<CDecodeJob*> free;
  const size_t depth = workers.Depth();

  // The consumer's state: the file whose blocks come out now.
  CMd5 md5;
  bool fileBad = false, stopped = false, reported = false;
  uint32_t badBlock = kDigestMismatch;

  auto finishFile = [&](size_t n) {
    uint8_t digest[16];
    md5.Final(digest);  // and starts over for the next file
    const bool bad = fileBad;
    const uint32_t at = badBlock;
    fileBad = false;
    badBlock = kDigestMismatch;
    if (stopped) {
      // Only the file that was stopped in is told; the ones after it never started.
      if (!reported && onFile) onFile(n, -2, kDigestMismatch);
      reported = true;
      return;
    }
    const int result = bad ? -1 : std::memcmp(digest, Records()[size_t(indices[n])].digest, 16) == 0 ? 0 : -1;
    if (onFile) onFile(n, result, bad ? at : kDigestMismatch);
  };
  auto consume = [&] {
    CDecodeJob* j = inFlight.front();
    inFlight.pop_front();
    j->job.Wait();
    const size_t n = j->file;
    const uint32_t blocks = PckBlockCount(Records()[size_t(indices[n])].size, bs);
    if (!j->marker && !stopped && !fileBad) {
      if (j->result < 0 || uint32_t(j->result) != j->expect) {
        fileBad = true;
        badBlock = j->block;
      } else {
        md5.Update(j->out.data(), j->expect);
        if (onBlock && !onBlock(n, j->out.data(), j->expect)) stopped = true;
      }
    }
    if (j->marker || j->block + 1 == blocks) finishFile(n);
    free.push_back(j);
  };
  auto next = [&]() -> CDecodeJob* {
    if (free.empty() && pool.size() < depth) {
      pool.push_back(std::make_unique<CDecodeJob>(m_cipher, bs));
      free.push_back(pool.back().get());
    }
    while (free.empty()) consume();
    CDecodeJob* j = free.back();
    free.pop_back();
    return j;
  };

  for (size_t n = 0; n < indices.size() && !stopped; ++n) {
    const int index = indices[n];
    if (index < 0 || size_t(index) >= Records().size() || Records()[size_t(index)].type != kPckFile) {
      // Not a file: reported in its place, after the files before it.
      while (!inFlight.empty()) consume();
      if (onFile && !stopped) onFile(n, -1, kDigestMismatch);
      continue;
    }
    const PckRecord& r = Records()[size_t(index)];
    const uint32_t blocks = PckBlockCount(r.size, bs);
    if (blocks == 0) {
      CDecodeJob* j = next();
      j->file = n;
      j->marker = true;
      inFlight.push_back(j);
      continue;
    }
    for (uint32_t b = 0; b < blocks; ++b) {
      CDecodeJob* j = next();
      j->file = n;
      j->block = b;
      j->marker = false;
      j->expect = uint32_t(std::min<uint64_t>(bs, uint64_t(r.size) - uint64_t(b) * bs));
      uint8_t codec = 0;
      const int stored = ReadStoredBlock(index, int(b), j->payload, codec);
      if (stored < 0) {
        j->result = -1;
      } else {
        j->job.Run(workers, [j, codec, stored, bs] {
          j->result = DecodeStored(j->cipher, codec, j->payload.data(), uint32_t(stored), j->out.data(), bs);
        });
      }
      inFlight.push_back(j);
    }
  }
  while (!inFlight.empty()) consume();
}
