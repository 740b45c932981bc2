// Making and applying deltas with libzstd. The maker compresses the new content in one
// call with the old content referenced as a raw prefix; the reader decodes the frame as
// a stream into its caller's buffers, the old content held whole (zstd matches anywhere
// in it), and bounds the frame's window by what the header's sizes justify, so that a
// hostile delta cannot make it allocate more than the result it claims.
#include "delta/Delta.h"

#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "io/Digest.h"

namespace {

// The smallest window a delta gets: zstd's own at its higher levels, so that a file that
// grew past its base still finds its repeats.
constexpr int kMinWindowLog = 23;
constexpr uint32_t kZstdMagic = 0xFD2FB528u;     // a zstd frame; skippable and legacy ones are refused
constexpr size_t kLimitSlack = 4096;             // room beyond a limit that zstd may use while it works

// zstd's levels from 16 on use its optimal parser, which finds matches through a binary
// tree that reaches back 2^(chainLog - 1) positions: by default 8 MiB at most, less than
// a large base, whose content it then finds only through long-distance matching (the
// deltas of a 100 MiB entry came out 10 to 30 times larger than at level 15). The tree is
// made to reach across the whole base, which made those levels' deltas of game data 5 to
// 9 % smaller than level 15's. It costs 4 bytes of the maker's memory per position it
// reaches and about twice level 15's time, so above this base size those levels make
// the delta as level 15 does (README, "Delta patches", has the figures).
constexpr int kFirstOptimalLevel = 16;
constexpr uint64_t kOptimalMaxBase = uint64_t(32) << 20;

// Frees zstd's contexts however a function is left.
struct CCtxFree {
  void operator()(ZSTD_CCtx* c) const { ZSTD_freeCCtx(c); }
};
struct DCtxFree {
  void operator()(ZSTD_DCtx* d) const { ZSTD_freeDCtx(d); }
};

// Decoder contexts a thread has finished with, kept for its next deltas: a context is
// some 160 KiB before its buffers, which a release of many small deltas would otherwise
// allocate and free once per delta (and the check applies every delta once more).
// One that has grown past a few MiB (a large window) is freed instead of kept.
constexpr size_t kSpareDCtxes = 2;
constexpr size_t kSpareDCtxBytes = 4u << 20;
using DCtxList = std::vector<std::unique_ptr<ZSTD_DCtx, DCtxFree>>;
DCtxList& SpareDCtxes() {
  thread_local DCtxList spare;
  return spare;
}
struct DCtxGiveBack {
  void operator()(ZSTD_DCtx* d) const {
    std::unique_ptr<ZSTD_DCtx, DCtxFree> owned(d);
    DCtxList& spare = SpareDCtxes();
    if (spare.size() < kSpareDCtxes && ZSTD_sizeof_DCtx(d) <= kSpareDCtxBytes) spare.push_back(std::move(owned));
  }
};
// A context with no state and no parameters left from an earlier delta.
ZSTD_DCtx* TakeDCtx() {
  DCtxList& spare = SpareDCtxes();
  while (!spare.empty()) {
    std::unique_ptr<ZSTD_DCtx, DCtxFree> d = std::move(spare.back());
    spare.pop_back();
    if (!ZSTD_isError(ZSTD_DCtx_reset(d.get(), ZSTD_reset_session_and_parameters))) return d.release();
  }
  return ZSTD_createDCtx();
}

// Reads up to `length` bytes, as many as the stream delivers.
size_t ReadUpTo(DataStream& s, uint8_t* out, size_t length) {
  size_t got = 0;
  while (got < length) {
    const int32_t n = s.Read(out + got, int32_t(std::min<size_t>(length - got, 1u << 30)));
    if (n <= 0) break;
    got += size_t(n);
  }
  return got;
}

std::string Prefixed(const std::string& name, const std::string& text) {
  return name.empty() ? text : name + ": " + text;
}

}  // namespace

int DeltaWindowLog(uint64_t baseSize) {
  int log = kMinWindowLog;
  while (log < 63 && (uint64_t(1) << log) < baseSize) ++log;
  const int most = std::min(ZSTD_cParam_getBounds(ZSTD_c_windowLog).upperBound,
                            ZSTD_dParam_getBounds(ZSTD_d_windowLogMax).upperBound);
  return std::min(log, most);
}

int MakeDelta(const uint8_t* base, size_t baseSize, const uint8_t* result, size_t resultSize, int level,
              size_t limit, std::vector<uint8_t>& out, CError& error) {
  out.clear();
  if (baseSize > UINT32_MAX || resultSize > UINT32_MAX) {
    error = Failure(ErrorKind::BadArgument, "", "a delta covers contents of at most 4 GiB");
    return -1;
  }
  if (level < kDeltaMinLevel || level > kDeltaMaxLevel) {
    error = Failure(ErrorKind::BadArgument, "", "the delta level must lie from " + std::to_string(kDeltaMinLevel) +
                                                    " to " + std::to_string(kDeltaMaxLevel));
    return -1;
  }
  if (limit <= kDeltaHeaderSize) return 1;
  DeltaHeader header;
  header.baseSize = uint32_t(baseSize);
  header.resultSize = uint32_t(resultSize);
  Md5(base, baseSize, header.baseMd5);
  Md5(result, resultSize, header.resultMd5);

  std::unique_ptr<ZSTD_CCtx, CCtxFree> cctx(ZSTD_createCCtx());
  auto failed = [&](size_t code) {
    error = Failure(ErrorKind::Io, "", std::string("zstd cannot make the delta: ") + ZSTD_getErrorName(code));
    return -1;
  };
  if (!cctx) {
    error = Failure(ErrorKind::Io, "", "zstd cannot make a compressor (out of memory)");
    return -1;
  }
  int zstdLevel = level, chainLog = 0;  // 0: the level's own
  if (level >= kFirstOptimalLevel) {
    if (baseSize > kOptimalMaxBase)
      zstdLevel = kFirstOptimalLevel - 1;
    else
      chainLog = std::min(DeltaWindowLog(baseSize) + 1, ZSTD_cParam_getBounds(ZSTD_c_chainLog).upperBound);
  }
  // One frame of `content`, with the base as its prefix or none: its length, 0 when it
  // does not fit `most` bytes, or -1 after setting `error`.
  const size_t most = limit - kDeltaHeaderSize;
  std::unique_ptr<uint8_t[]> frame;
  auto compress = [&](const uint8_t* content, bool prefixed, std::unique_ptr<uint8_t[]>& into) -> int64_t {
    ZSTD_CCtx_reset(cctx.get(), ZSTD_reset_session_and_parameters);
    const struct {
      ZSTD_cParameter param;
      int value;
    } params[] = {
        {ZSTD_c_compressionLevel, zstdLevel},
        {ZSTD_c_chainLog, chainLog},
        {ZSTD_c_windowLog, DeltaWindowLog(baseSize)},
        {ZSTD_c_enableLongDistanceMatching, 1},
        {ZSTD_c_contentSizeFlag, 1},
        {ZSTD_c_checksumFlag, 0},  // the header's MD5 checks the whole result
    };
    for (const auto& p : params)
      if (const size_t rc = ZSTD_CCtx_setParameter(cctx.get(), p.param, p.value); ZSTD_isError(rc)) return failed(rc);
    if (prefixed)
      if (const size_t rc = ZSTD_CCtx_refPrefix(cctx.get(), base, baseSize); ZSTD_isError(rc)) return failed(rc);
    // Room for what may be kept and little more: zstd stops as soon as its output does
    // not fit, so a delta that is not worth having costs no more time than it took to see
    // that. zstd wants a few bytes beyond its output to finish a frame; the limit itself
    // is checked after. The room is not zeroed, so only what zstd writes is touched.
    const size_t room = std::min(most > SIZE_MAX - kLimitSlack ? SIZE_MAX : most + kLimitSlack,
                                 ZSTD_compressBound(resultSize));
    into.reset(new uint8_t[room]);
    const size_t n = ZSTD_compress2(cctx.get(), into.get(), room, content, resultSize);
    if (ZSTD_isError(n)) return ZSTD_getErrorCode(n) == ZSTD_error_dstSize_tooSmall ? 0 : failed(n);
    return n > most ? 0 : int64_t(n);
  };
  int64_t n = compress(result, true, frame);
  if (n < 0) return -1;
  // A result of the base's size may be carried as its bytewise difference instead, when
  // that is smaller: edits that change every byte of a region a little (a tint, moved
  // vertices) leave a difference of few distinct bytes where the prefixed frame must
  // carry every byte anew.
  if (resultSize == baseSize && resultSize > 0) {
    std::vector<uint8_t> difference(resultSize);
    for (size_t i = 0; i < resultSize; ++i) difference[i] = uint8_t(result[i] - base[i]);
    std::unique_ptr<uint8_t[]> other;
    const int64_t m = compress(difference.data(), false, other);
    if (m < 0) return -1;
    if (m > 0 && (n == 0 || m < n)) {
      n = m;
      frame = std::move(other);
      header.version = kDeltaVersionDifference;
    }
  }
  if (n == 0) return 1;
  out.resize(kDeltaHeaderSize + size_t(n));
  EncodeDeltaHeader(header, out.data());
  std::memcpy(out.data() + kDeltaHeaderSize, frame.get(), size_t(n));
  return 0;
}

int ReadDeltaHeader(DataStream& delta, DeltaHeader& header, CError& error) {
  uint8_t bytes[kDeltaHeaderSize];
  const size_t got = ReadUpTo(delta, bytes, sizeof bytes);
  std::string why;
  if (delta.Failed()) why = "the delta cannot be read";
  if (why.empty() && DecodeDeltaHeader(bytes, got, header, why)) return 0;
  error = Failure(ErrorKind::Damaged, "", why);
  return -1;
}

int CheckDeltaBase(DataStream& delta, DataStream& base, DeltaHeader& header, CError& error) {
  if (ReadDeltaHeader(delta, header, error) != 0) return -1;
  uint8_t md5[16];
  std::string why;
  const int32_t size = base.Size();
  if (size < 0 || base.Digest(md5) != 0 || base.Failed())
    why = "the file the delta applies to cannot be read";
  else if (DeltaBaseMatches(header, uint64_t(size), md5, why))
    return 0;
  error = Failure(ErrorKind::BadArgument, "", why);
  return -1;
}

// ---- the result stream ----

struct CDeltaStream::Impl {
  std::unique_ptr<ZSTD_DCtx, DCtxGiveBack> dctx;
  // The base, held for the whole frame; not zeroed first, as it is read over whole (for
  // a base of many megabytes the zeroing cost as much as the rest of opening).
  std::unique_ptr<uint8_t[]> base;
  size_t baseSize = 0;
  std::unique_ptr<uint8_t[]> input;  // a piece of the frame, read over before it is used
  size_t inputSize = 0;
  ZSTD_inBuffer in{nullptr, 0, 0};
  bool inputEnded = false;     // the delta has delivered all it has
  CMd5 md5;
};

CDeltaStream::CDeltaStream() : m_impl(std::make_unique<Impl>()) {}
CDeltaStream::~CDeltaStream() = default;

bool CDeltaStream::Bad(const std::string& why) {
  m_error = Failure(ErrorKind::Damaged, m_name, Prefixed(m_name, why));
  m_failed = true;
  return false;
}

int CDeltaStream::Open(DataStream& base, DataStream& delta, const std::string& name) {
  m_name = name;
  m_open = m_done = m_failed = false;
  m_error = CError();
  m_delta = &delta;
  if (ReadDeltaHeader(delta, m_header, m_error) != 0) {
    Bad(m_error.text);
    return -1;
  }
  m_frameStart = delta.Tell();
  // The result is a stream of the 32-bit interface; the base is read into memory whole.
  if (m_header.resultSize > INT32_MAX || m_header.baseSize > INT32_MAX)
    return Bad("the delta's contents are larger than 2 GiB"), -1;
  const int32_t baseSize = base.Size();
  std::string why;
  if (baseSize < 0 || uint32_t(baseSize) != m_header.baseSize) {
    uint8_t none[16] = {};
    DeltaBaseMatches(m_header, uint64_t(std::max(baseSize, 0)), none, why);
    m_error = Failure(ErrorKind::BadArgument, m_name, Prefixed(m_name, why));
    m_failed = true;
    return -1;
  }
  Impl& d = *m_impl;
  d.base.reset(new uint8_t[std::max<size_t>(m_header.baseSize, 1)]);
  d.baseSize = m_header.baseSize;
  uint8_t md5[16];
  if (base.Seek(0, 0) != 0 || ReadUpTo(base, d.base.get(), d.baseSize) != d.baseSize || base.Failed())
    return Bad("the file the delta applies to cannot be read whole"), -1;
  Md5(d.base.get(), d.baseSize, md5);
  if (!DeltaBaseMatches(m_header, d.baseSize, md5, why)) {
    m_error = Failure(ErrorKind::BadArgument, m_name, Prefixed(m_name, why));
    m_failed = true;
    return -1;
  }
  d.dctx.reset(TakeDCtx());
  if (!d.dctx) return Bad("zstd cannot make a decoder"), -1;
  // A frame whose window is larger than the base justifies is refused by the decoder
  // before it allocates anything: the base is the player's own file, whatever the
  // header claims of the result.
  const size_t rc = ZSTD_DCtx_setParameter(d.dctx.get(), ZSTD_d_windowLogMax, DeltaWindowLog(m_header.baseSize));
  if (ZSTD_isError(rc)) return Bad(std::string("zstd: ") + ZSTD_getErrorName(rc)), -1;
  if (!d.input) {
    // zstd suggests a whole block and its header (just over 128 KiB), but any piece size
    // decodes the same; 64 KiB stays a small allocation in the allocators that map
    // larger ones afresh each time.
    d.inputSize = size_t(64) << 10;
    d.input = std::make_unique_for_overwrite<uint8_t[]>(d.inputSize);
  }
  m_open = true;
  return Restart();
}

int CDeltaStream::Restart() {
  Impl& d = *m_impl;
  m_produced = 0;
  m_done = false;
  uint8_t discard[16];
  d.md5.Final(discard);  // and starts over
  m_frameEnded = false;
  d.in = ZSTD_inBuffer{d.input.get(), 0, 0};
  d.inputEnded = false;
  if (m_delta->Tell() != m_frameStart && m_delta->Seek(m_frameStart, 0) != 0)
    return Bad("the delta cannot be read again from its start"), -1;
  size_t rc = ZSTD_DCtx_reset(d.dctx.get(), ZSTD_reset_session_only);
  if (!ZSTD_isError(rc) && m_header.version == kDeltaVersion)
    rc = ZSTD_DCtx_refPrefix(d.dctx.get(), d.base.get(), d.baseSize);
  if (ZSTD_isError(rc)) return Bad(std::string("zstd: ") + ZSTD_getErrorName(rc)), -1;
  // Only a zstd frame: no skippable frame in front, no legacy format.
  if (!Refill()) return -1;
  if (d.in.size < 4 || (uint32_t(d.input[0]) | uint32_t(d.input[1]) << 8 | uint32_t(d.input[2]) << 16 |
                        uint32_t(d.input[3]) << 24) != kZstdMagic)
    return Bad("the delta holds no zstd frame after its header"), -1;
  return 0;
}

bool CDeltaStream::Refill() {
  Impl& d = *m_impl;
  if (d.in.pos < d.in.size || d.inputEnded) return true;
  const size_t n = ReadUpTo(*m_delta, d.input.get(), d.inputSize);
  if (m_delta->Failed()) return Bad("the delta cannot be read");
  d.in = ZSTD_inBuffer{d.input.get(), n, 0};
  if (n < d.inputSize) d.inputEnded = true;
  return true;
}

int32_t CDeltaStream::Read(void* buffer, int32_t length) {
  if (!m_open || m_failed || m_done || length <= 0) return 0;
  Impl& d = *m_impl;
  const uint64_t left = m_header.resultSize - m_produced;
  if (left == 0) {
    Finish();
    return 0;
  }
  ZSTD_outBuffer out{buffer, size_t(std::min<uint64_t>(uint64_t(length), left)), 0};
  while (out.pos < out.size) {
    if (!Refill()) return 0;
    const size_t inBefore = d.in.pos, outBefore = out.pos;
    const size_t rc = ZSTD_decompressStream(d.dctx.get(), &out, &d.in);
    if (ZSTD_isError(rc)) return Bad(std::string("the delta does not decode: ") + ZSTD_getErrorName(rc)), 0;
    if (rc == 0) {  // the frame ended: the checks below say whether too early
      m_frameEnded = true;
      break;
    }
    if (d.in.pos == inBefore && out.pos == outBefore && d.in.pos == d.in.size && d.inputEnded)
      return Bad("the delta ends before its frame does"), 0;
  }
  // A difference gives the result once the base is added back, byte by byte.
  if (m_header.version == kDeltaVersionDifference) {
    uint8_t* bytes = static_cast<uint8_t*>(buffer);
    const uint8_t* from = d.base.get() + m_produced;
    for (size_t i = 0; i < out.pos; ++i) bytes[i] = uint8_t(bytes[i] + from[i]);
  }
  d.md5.Update(buffer, out.pos);
  m_produced += out.pos;
  if (out.pos < out.size) return Bad("the delta makes fewer bytes than its header says"), 0;
  if (m_produced == m_header.resultSize) Finish();
  return m_failed ? 0 : int32_t(out.pos);
}

// At the end of the result: the frame must end here, nothing may follow it, and the
// content must be the one recorded.
bool CDeltaStream::Finish() {
  if (m_done || m_failed) return !m_failed;
  Impl& d = *m_impl;
  uint8_t extra[64];
  while (!m_frameEnded) {
    if (!Refill()) return false;
    ZSTD_outBuffer out{extra, sizeof extra, 0};
    const size_t inBefore = d.in.pos;
    const size_t rc = ZSTD_decompressStream(d.dctx.get(), &out, &d.in);
    if (ZSTD_isError(rc)) return Bad(std::string("the delta does not decode: ") + ZSTD_getErrorName(rc));
    if (out.pos > 0) return Bad("the delta makes more bytes than its header says");
    m_frameEnded = rc == 0;
    if (!m_frameEnded && d.in.pos == inBefore && d.in.pos == d.in.size && d.inputEnded)
      return Bad("the delta ends before its frame does");
  }
  uint8_t probe = 0;
  if (d.in.pos < d.in.size || (!d.inputEnded && ReadUpTo(*m_delta, &probe, 1) > 0))
    return Bad("bytes follow the delta's frame");
  uint8_t md5[16];
  d.md5.Final(md5);
  if (std::memcmp(md5, m_header.resultMd5, 16) != 0) return Bad("the result does not match the MD5 the delta records");
  m_done = true;
  return true;
}

int32_t CDeltaStream::Stamp() { return m_delta ? m_delta->Stamp() : 0; }

int CDeltaStream::Seek(int32_t offset, int whence) {
  if (!m_open) return -1;
  const int64_t to = whence == 0 ? offset : whence == 1 ? int64_t(m_produced) + offset
                                                        : int64_t(m_header.resultSize) + offset;
  if (to == int64_t(m_produced)) return 0;
  if (to != 0) return -1;
  m_failed = false;
  return Restart();
}

bool CDeltaStream::Eof() {
  if (!m_open || m_failed) return true;
  if (m_produced == m_header.resultSize) Finish();
  return m_done || m_failed;
}

int CDeltaStream::Digest(uint8_t out[16]) {
  std::memcpy(out, m_header.resultMd5, 16);
  return 0;
}

bool CDeltaStream::Failed() {
  if (m_open && !m_failed && !m_done && m_produced == m_header.resultSize) Finish();
  return m_failed || !m_open;
}

int ApplyDelta(DataStream& base, DataStream& delta, const DeltaWriter& write, CError& error, const std::string& name) {
  CDeltaStream result;
  if (result.Open(base, delta, name) != 0) {
    error = result.Error();
    return -1;
  }
  std::vector<uint8_t> piece(64u << 10);
  while (!result.Eof()) {
    const int32_t n = result.Read(piece.data(), int32_t(piece.size()));
    if (n <= 0) break;
    if (!write(piece.data(), size_t(n))) {
      error = Failure(ErrorKind::Io, name, Prefixed(name, "the result of the delta could not be written"));
      return -1;
    }
  }
  if (result.Failed()) {
    error = result.Error();
    return -1;
  }
  return 0;
}
