// The delta reader on hostile deltas and bases. Byte 0 of an input holds switches, the
// rest is a base and a delta joined by the part separator.
//   bit 0  write the base's size and MD5 into the delta's header (when it has one), so
//          that the fuzzer gets past the base check and into the frame
//   bit 1  read the stream in pieces of changing size rather than of 4 KiB
// The delta is applied twice, through CDeltaStream and through ApplyDelta, over exact
// copies of both parts. The two must agree on success and on every byte; a stream that
// ends without Failed() has delivered exactly the recorded result size, and its bytes
// have the recorded MD5; reading it again from its start gives the same bytes.
#include <cstring>
#include <string>
#include <vector>

#include "delta/Delta.h"
#include "fuzz/FuzzSupport.h"
#include "io/Digest.h"
#include "io/FileStream.h"

namespace {

// The most a run decodes: zstd makes 128 KiB of output from a few bytes of a frame, and
// a campaign drifts towards such inputs (at 16 MiB a run it fell to a thousand runs a
// second, copying results; at 2 MiB to 1,700). Every path through the decoder shows
// within far less: a block holds at most 128 KiB.
constexpr uint64_t kDecodeBudget = 256u << 10;
// The result is held to compare the two ways of applying; a delta may claim up to
// 4 GiB, but no run decodes more than the budget, so that much is all there is to keep.
constexpr size_t kKeep = size_t(kDecodeBudget);

void FixBase(std::string& delta, const std::string& base) {
  if (delta.size() < kDeltaHeaderSize) return;
  DeltaHeader header;
  std::string why;
  if (!DecodeDeltaHeader(reinterpret_cast<const uint8_t*>(delta.data()), delta.size(), header, why)) return;
  header.baseSize = uint32_t(base.size());
  Md5(base.data(), base.size(), header.baseMd5);
  EncodeDeltaHeader(header, reinterpret_cast<uint8_t*>(delta.data()));
}

// Reads the stream to its end (or the budget); true when it ended without Failed().
bool ReadAll(CDeltaStream& stream, bool varied, std::string& out, uint64_t& budget) {
  uint8_t* piece = qvfuzz::Scratch(0, 65536).Take(65536);
  int32_t chunk = varied ? 1 : 4096;
  while (!stream.Eof() && budget > 0) {
    const int32_t n = stream.Read(piece, chunk);
    QV_FUZZ_CHECK(n >= -1 && n <= chunk);
    if (n <= 0) break;
    budget -= std::min<uint64_t>(budget, uint64_t(n));
    if (out.size() < kKeep) out.append(reinterpret_cast<const char*>(piece), std::min<size_t>(size_t(n), kKeep - out.size()));
    if (varied) chunk = chunk * 7 % 65521 + 1;
  }
  return stream.Eof() && !stream.Failed();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t switches = data[0];
  std::vector<std::string> parts = qvfuzz::SplitParts(data + 1, size - 1, 2);
  const std::string& base = parts[0];
  std::string& delta = parts[1];
  if (switches & 1) FixBase(delta, base);

  // Exact copies, so that a read past either is caught.
  std::vector<uint8_t> baseBytes(base.begin(), base.end()), deltaBytes(delta.begin(), delta.end());
  uint64_t budget = kDecodeBudget;

  // The results are kept between runs with their room (growing the strings anew three
  // times a run was most of the time); they are the harness's, not the code's.
  static std::string viaStream, again, viaApply;
  viaStream.clear();
  again.clear();
  viaApply.clear();
  bool streamOk = false;
  DeltaHeader header;
  {
    MemoryStream baseStream(baseBytes.data(), int32_t(baseBytes.size()));
    MemoryStream deltaStream(deltaBytes.data(), int32_t(deltaBytes.size()));
    CDeltaStream stream;
    if (stream.Open(baseStream, deltaStream, "fuzz") != 0) {
      QV_FUZZ_CHECK(stream.Error().Failed());
    } else {
      header = stream.Header();
      QV_FUZZ_CHECK(stream.Size() == int32_t(header.resultSize));
      uint8_t digest[16];
      QV_FUZZ_CHECK(stream.Digest(digest) == 0 && std::memcmp(digest, header.resultMd5, 16) == 0);
      streamOk = ReadAll(stream, switches & 2, viaStream, budget);
      if (streamOk) {
        QV_FUZZ_CHECK(uint64_t(stream.Tell()) == header.resultSize);
        if (header.resultSize <= kKeep) {
          QV_FUZZ_CHECK(viaStream.size() == header.resultSize);
          Md5(viaStream.data(), viaStream.size(), digest);
          QV_FUZZ_CHECK(std::memcmp(digest, header.resultMd5, 16) == 0);
        }
        // Again from the start: the same bytes.
        QV_FUZZ_CHECK(stream.Seek(0, 0) == 0);
        uint64_t second = kDecodeBudget;
        QV_FUZZ_CHECK(ReadAll(stream, false, again, second));
        QV_FUZZ_CHECK(again == viaStream);
      }
    }
  }
  if (budget == 0) return 0;  // ApplyDelta has no budget; a long result is not decoded twice

  MemoryStream baseStream(baseBytes.data(), int32_t(baseBytes.size()));
  MemoryStream deltaStream(deltaBytes.data(), int32_t(deltaBytes.size()));
  CError error;
  const int rc = ApplyDelta(baseStream, deltaStream, [&](const uint8_t* bytes, size_t length) {
    if (viaApply.size() < kKeep) viaApply.append(reinterpret_cast<const char*>(bytes), std::min(length, kKeep - viaApply.size()));
    return true;
  }, error, "fuzz");
  QV_FUZZ_CHECK(rc == 0 || rc == -1);
  QV_FUZZ_CHECK((rc == 0) == streamOk);
  QV_FUZZ_CHECK(rc == 0 || error.Failed());
  if (rc == 0) QV_FUZZ_CHECK(viaApply == viaStream);
  return 0;
}
