// PckReader::VerifyEntries: many files decoded through the block workers. One reading
// thread walks the files' blocks in order and reads each as stored; a window of jobs
// deciphers and decodes them on the workers, each job with a cipher of its own (the
// library's DES keeps state per handle); the results are taken back in the order they
// were read, so the digests and the callers see every file's bytes in order. A small
// file is one job that takes its digest too; a larger one goes block by block, its
// digest taken as its blocks come back.
#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>

#include "io/Workers.h"
#include "pck/PckEntryPipeline.h"
#include "pck/PckReader.h"

namespace {

struct CDecodeJob {
  explicit CDecodeJob(const CPckCipher& like) { cipher.SetPassword(like.Password()); }

  // Deciphers and decodes the blocks read, up to the first that fails, and takes the
  // digest of a whole file.
  void Work(uint32_t blockSize) {
    out.resize(size_t(blocks) * blockSize);
    decoded = 0;
    for (uint32_t k = 0; k < blocks; ++k) {
      if (stored[k] < 0) break;
      uint8_t* payload = payloads.data() + starts[k];
      const int n = PckReader::DecodeStored(cipher, codecs[k], payload, uint32_t(stored[k]),
                                            out.data() + size_t(k) * blockSize, blockSize);
      if (n < 0 || uint32_t(n) != expect[k]) break;
      ++decoded;
    }
    if (wholeFile && decoded == blocks) {
      CMd5 md5;
      for (uint32_t k = 0; k < blocks; ++k) md5.Update(out.data() + size_t(k) * blockSize, expect[k]);
      md5.Final(digest);
    }
  }

  CPckCipher cipher;
  CWorkers::CJob job;
  size_t file = 0;        // the position in the caller's list
  uint32_t first = 0;     // its first block in the file
  uint32_t blocks = 0;    // 0: the end of a file without blocks
  bool wholeFile = false;
  bool lastOfFile = false;  // the file's last block, or a block that could not be read
  std::vector<uint8_t> payloads, out, codecs;
  std::vector<size_t> starts;
  std::vector<int> stored;      // each block's stored length, or -1 unreadable
  std::vector<uint32_t> expect;  // the decoded length each block must have
  uint32_t decoded = 0;          // blocks decoded whole, from the first
  uint8_t digest[16] = {};
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

  auto finishFile = [&](size_t n, const uint8_t* jobDigest) {
    uint8_t digest[16];
    md5.Final(digest);  // and starts over for the next file
    if (jobDigest) std::memcpy(digest, jobDigest, 16);
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
    for (uint32_t k = 0; k < j->blocks && !stopped && !fileBad; ++k) {
      if (k >= j->decoded) {
        fileBad = true;
        badBlock = j->first + k;
        break;
      }
      const uint8_t* data = j->out.data() + size_t(k) * bs;
      if (!j->wholeFile) md5.Update(data, j->expect[k]);
      if (onBlock && !onBlock(n, data, j->expect[k])) stopped = true;
    }
    if (j->lastOfFile) finishFile(n, j->wholeFile ? j->digest : nullptr);
    free.push_back(j);
  };
  auto next = [&]() -> CDecodeJob* {
    if (free.empty() && pool.size() < depth) {
      pool.push_back(std::make_unique<CDecodeJob>(m_cipher));
      free.push_back(pool.back().get());
    }
    while (free.empty()) consume();
    CDecodeJob* j = free.back();
    free.pop_back();
    return j;
  };

  std::vector<uint8_t> payload;
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
    const bool whole = blocks > 0 && blocks <= kWholeFileBlocks;
    uint32_t b = 0;
    bool readable = true;
    do {
      CDecodeJob* j = next();
      const uint32_t count = blocks == 0 ? 0 : whole ? blocks : 1;
      j->file = n;
      j->first = b;
      j->blocks = count;
      j->wholeFile = whole;
      j->payloads.clear();
      j->starts.clear();
      j->codecs.clear();
      j->stored.clear();
      j->expect.clear();
      for (uint32_t k = 0; k < count; ++k) {
        uint8_t codec = 0;
        const int stored = readable ? ReadStoredBlock(index, int(b + k), payload, codec) : -1;
        if (stored < 0) readable = false;  // the blocks after it are not needed
        j->starts.push_back(j->payloads.size());
        if (stored > 0) j->payloads.insert(j->payloads.end(), payload.begin(), payload.begin() + stored);
        j->codecs.push_back(codec);
        j->stored.push_back(stored);
        j->expect.push_back(uint32_t(std::min<uint64_t>(bs, uint64_t(r.size) - uint64_t(b + k) * bs)));
      }
      b += std::max<uint32_t>(count, 1);
      // A block that cannot be read makes the file bad; the blocks after it are not
      // read (a damaged record may claim billions of them).
      j->lastOfFile = b >= blocks || !readable;
      if (count == 0)
        j->decoded = 0;
      else
        j->job.Run(workers, [j, bs] { j->Work(bs); });
      inFlight.push_back(j);
    } while (b < blocks && readable && !stopped);  // a sink that stopped wants none of the rest
  }
  while (!inFlight.empty()) consume();
}
