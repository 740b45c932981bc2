#include "io/CheckedStream.h"

#include <cstring>

CDigestCheckedStream::CDigestCheckedStream(DataStream& inner) : m_inner(inner) {
  m_inner.Digest(m_expected);
  // Asking for the digest may have read a plain file through; start from the top again.
  m_inner.Seek(0, 0);
  Restart();
}

void CDigestCheckedStream::Restart() {
  uint8_t scratch[16];
  m_md5.Final(scratch);  // discards what was fed so far
  m_read = 0;
  m_checked = false;
}

int32_t CDigestCheckedStream::Read(void* buffer, int32_t length) {
  int32_t n = m_inner.Read(buffer, length);
  if (n > 0 && !m_bad) {
    m_md5.Update(buffer, size_t(n));
    m_read += n;
    const int32_t size = m_inner.Size();
    if (size >= 0 && m_read >= size) {
      uint8_t got[16];
      m_md5.Final(got);
      m_checked = m_read == size && std::memcmp(got, m_expected, 16) == 0;
      m_bad = !m_checked;
    }
  }
  return n;
}

int CDigestCheckedStream::Seek(int32_t offset, int whence) {
  int r = m_inner.Seek(offset, whence);
  if (m_inner.Tell() == 0)
    Restart();
  else
    m_bad = true;
  return r;
}

bool CDigestCheckedStream::Failed() {
  if (m_inner.Failed() || m_bad) return true;
  // Content that was not read to its end has not been shown to be right.
  const int32_t size = m_inner.Size();
  return size > 0 && !m_checked;
}
