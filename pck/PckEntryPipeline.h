// Inside pck/ only: the writer's pipeline of entries on their way into .dat (see
// PckEntryWriter.cpp).
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "io/DataStream.h"
#include "io/Workers.h"
#include "pck/PckCodecs.h"
#include "pck/PckFormat.h"

class PckWriter;

// A small file is one job, its digest included; a larger one goes block by block, its
// digest taken here as its blocks are read.
inline constexpr uint32_t kWholeFileBlocks = 8;

// Blocks of one file on their way into .dat: a whole small file, or one block.
struct CEncodeJob {
  CEncodeJob(uint32_t blockSize, const CPckCipher& like) : encoder(blockSize), blockSize(blockSize) {
    cipher.SetPassword(like.Password());
  }
  // Compresses and enciphers the blocks (and, for a whole file, takes its digest).
  void Work();

  CBlockEncoder encoder;
  CPckCipher cipher;
  uint32_t blockSize;
  std::vector<uint8_t> input;     // the blocks as read, one block size apart
  std::vector<uint32_t> lengths;  // each block's length
  PckCodec want = PckCodec::Stored;
  bool wholeFile = false;
  uint8_t digest[16] = {};
  // what comes out: each block's codec and payload, the payloads one after the other
  std::vector<PckCodec> used;
  std::vector<uint32_t> stored;
  std::vector<uint8_t> output;
  CWorkers::CJob job;
  struct CPendingEntry* entry = nullptr;
  uint32_t first = 0;  // the first of its blocks in the file
};

// An entry whose blocks are on their way; its record is filled in as they land.
struct CPendingEntry {
  uint32_t record = 0;       // the record it belongs to (sequential building: fixed)
  PckRecord* target = nullptr;  // or the record to fill in directly (an edit)
  uint32_t blocks = 0, landed = 0;
  uint64_t start = 0;        // where its header landed
  bool started = false;
  bool failed = false;
  bool done = false;         // landed whole, its record filled in
  uint32_t inFlight = 0;     // its jobs not landed yet
  bool digestFromJob = false;  // its digest comes with its (one) job
  uint8_t digest[16] = {};
  std::vector<uint8_t> table;
};

class CEntryPipeline {
 public:
  explicit CEntryPipeline(PckWriter& writer) : m_w(writer), m_workers(CWorkers::Shared()) {}
  ~CEntryPipeline() { Discard(); }

  // Reads the whole source and hands its blocks to the workers, filling in the size,
  // digest and stamp of `out`. `deferred`: the entry may land after the call returns,
  // and its place then goes into record `record` of the index (which the caller adds
  // before anything lands); otherwise it has landed, and `out` has its place, when the
  // call returns. False when the source could not be read as declared or a write failed.
  bool Write(DataStream& source, int codec, PckRecord& out, uint32_t record, bool deferred);
  // Lands every entry still on its way; false when a write failed.
  bool Finish();
  // Waits for the jobs in flight and forgets them, writing nothing more.
  void Discard();

 private:
  bool CopyStored(IStoredBlocks& stored, DataStream& source, PckRecord& record);
  CEncodeJob* NextJob();
  // Lands the oldest block in flight.
  void LandOne();
  void Forget();
  bool LandHeader(CPendingEntry& e);
  // The entry has landed whole: its table, written by position, and its record.
  void Complete(CPendingEntry& e);
  void SettleDatEnd();

  PckWriter& m_w;
  CWorkers& m_workers;
  std::vector<std::unique_ptr<CEncodeJob>> m_jobs;
  std::vector<CEncodeJob*> m_free;
  std::deque<CEncodeJob*> m_inFlight;
  std::deque<CPendingEntry> m_entries;
  bool m_writeFailed = false;
  bool m_entryFailed = false;  // an entry failed: sticky, so that no later Finish passes
};

