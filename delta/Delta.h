// Binary deltas of a file's content: the new content as the difference from the old one,
// so that a patch carries a few bytes where a file changed a little instead of the whole
// file. A delta is made and applied on the decoded content (never on a package's stored,
// compressed and enciphered blocks): it is the header of delta/DeltaHeader.h and one
// zstd frame of the new content compressed with the old content as a raw prefix
// (zstd's patch-from mode, with long-distance matching and a window that covers the old
// content). The one module that calls zstd.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "delta/DeltaHeader.h"
#include "io/DataStream.h"
#include "io/Error.h"

// The zstd levels a delta may be made with. A higher level finds a little more and takes
// longer; from 16 on zstd's optimal parser is used for bases up to 32 MiB (larger ones
// are made as at 15), and 19 made the smallest deltas of game-like data in up to twice
// 15's time; above it the gain is nil (README, "Delta patches", has the figures).
inline constexpr int kDeltaMinLevel = 1;
inline constexpr int kDeltaMaxLevel = 22;
inline constexpr int kDeltaDefaultLevel = 19;

// The window (a power of two, as its log) of a delta against a base of this size: the
// smallest that covers the base, at least 8 MiB, at most what zstd allows (2 GiB). The
// maker uses it, and the reader refuses a frame that asks for more, so that the memory a
// delta makes the reader take is bounded by the player's own file.
int DeltaWindowLog(uint64_t baseSize);

// Makes the delta that turns `base` into `result`: the header, then the frame. Both
// contents are held whole by the caller (zstd refers back into the base anywhere).
// Deterministic: the same contents and level give the same bytes. 0 with the delta in
// `out`; 1 when it would be longer than `limit` bytes (it is then not finished: zstd
// stops there); -1 with `error`.
int MakeDelta(const uint8_t* base, size_t baseSize, const uint8_t* result, size_t resultSize, int level,
              size_t limit, std::vector<uint8_t>& out, CError& error);

// Reads the header at `delta`'s current position (the stream then stands just after it);
// 0, or -1 with `error` (Damaged) when it is not a whole header of a known version.
int ReadDeltaHeader(DataStream& delta, DeltaHeader& header, CError& error);
// ReadDeltaHeader, then whether `base` is the content the delta applies to by its size
// and its digest (a package entry's recorded MD5; a plain file's is taken by reading it).
// 0, or -1 with `error`: Damaged for a bad header, BadArgument for another base.
int CheckDeltaBase(DataStream& delta, DataStream& base, DeltaHeader& header, CError& error);

// The result of a delta as a stream: the frame is decoded as the stream is read, a piece
// at a time into the reader's buffer; this code never gathers the result (zstd keeps its
// window, the smaller of what the base's size allows and the result). What was
// delivered counts only once the stream ends without Failed():
// the frame must end exactly at the recorded result size and at the end of the delta,
// and the content must match the recorded MD5. Like a package entry's stream, it reports
// the recorded digest and the delta's own time stamp, so a writer stores the result as
// if the whole file had been shipped.
class CDeltaStream : public DataStream {
 public:
  CDeltaStream();
  ~CDeltaStream() override;
  CDeltaStream(const CDeltaStream&) = delete;
  CDeltaStream& operator=(const CDeltaStream&) = delete;

  // Reads the header at `delta`'s current position, reads `base` whole from its start
  // and checks it against the header's size and MD5, and readies the decoder. `base` is
  // not used after Open; `delta` is read until the stream ends and must outlive it.
  // `name` names the delta in messages. 0, or -1 with Error().
  int Open(DataStream& base, DataStream& delta, const std::string& name = std::string());
  const DeltaHeader& Header() const { return m_header; }
  const CError& Error() const { return m_error; }

  int32_t Size() override { return int32_t(m_header.resultSize); }
  int32_t Stamp() override;
  int32_t Read(void* buffer, int32_t length) override;
  // Only to the start (the frame is decoded again) or to where the stream stands.
  int Seek(int32_t offset, int whence) override;
  bool Eof() override;
  int32_t Tell() override { return int32_t(m_produced); }
  int32_t Write(const void*, int32_t) override { return -1; }
  // The recorded MD5 of the result; nothing is read.
  int Digest(uint8_t out[16]) override;
  // True once the delta proved bad; at the end of the result it checks the frame's end
  // and the MD5 first.
  bool Failed() override;

 private:
  struct Impl;
  int Restart();
  bool Refill();
  bool Finish();
  bool Bad(const std::string& why);

  std::unique_ptr<Impl> m_impl;
  DataStream* m_delta = nullptr;
  int32_t m_frameStart = 0;  // the delta's position after its header
  DeltaHeader m_header;
  CError m_error;
  std::string m_name;
  uint64_t m_produced = 0;
  bool m_open = false, m_frameEnded = false, m_done = false, m_failed = false;
};

// Applies a delta whole: `write` gets the result in pieces (false from it stops and
// fails). 0 when the result is whole and matches its header; otherwise -1 with `error`,
// and what `write` got must not be kept.
using DeltaWriter = std::function<bool(const uint8_t* data, size_t length)>;
int ApplyDelta(DataStream& base, DataStream& delta, const DeltaWriter& write, CError& error,
               const std::string& name = std::string());
