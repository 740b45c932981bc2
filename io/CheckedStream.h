// A read-only stream over another that checks, as the bytes go by, that the whole
// content matches the MD5 digest the inner stream declares (a package entry's stored
// digest). A copy that reads to the end and then finds Failed() set must not keep what
// it wrote: a damaged patch or a wrong password never reaches the game.
#pragma once

#include <memory>

#include "io/DataStream.h"
#include "io/Digest.h"

class CDigestCheckedStream : public DataStream {
 public:
  explicit CDigestCheckedStream(DataStream& inner);
  int32_t Size() override { return m_inner.Size(); }
  int32_t Stamp() override { return m_inner.Stamp(); }
  int32_t Read(void* buffer, int32_t length) override;
  // Only a return to the start keeps the check going; any other move makes the content
  // unverifiable, which counts as failed.
  int Seek(int32_t offset, int whence) override;
  bool Eof() override { return m_inner.Eof(); }
  int32_t Tell() override { return m_inner.Tell(); }
  int32_t Write(const void*, int32_t) override { return -1; }
  int Digest(uint8_t out[16]) override { return m_inner.Digest(out); }
  bool Failed() override;

 private:
  void Restart();

  DataStream& m_inner;
  uint8_t m_expected[16];
  CMd5 m_md5;
  int64_t m_read = 0;
  bool m_checked = false;  // the whole content went by and matched
  bool m_bad = false;
};
