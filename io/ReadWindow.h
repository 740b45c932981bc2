// A window over a file that is read at many nearby offsets (entry headers, block
// tables, blocks and names one after the other): reads are served from one large read
// of the region they fall in, so walking a package costs a system call per window
// rather than a seek and a read per field. A read too large for the window goes to the
// file directly. The window assumes that the bytes it holds do not change while it is
// in use; Forget() drops them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>

class CReadWindow {
 public:
  using Source = std::function<bool(uint64_t offset, void* out, size_t length)>;

  // `length`: the file's length, past which the window never reads.
  CReadWindow(Source source, uint64_t length, size_t bytes = 1u << 20)
      : m_source(std::move(source)), m_length(length), m_bytes(bytes) {}

  // True only when all `length` bytes at `offset` were read.
  bool Read(uint64_t offset, void* out, size_t length) {
    if (offset >= m_start && offset - m_start <= m_have && length <= m_have - (offset - m_start)) {
      if (length) std::memcpy(out, m_buffer.get() + (offset - m_start), length);
      return true;
    }
    if (length > m_bytes / 2 || offset >= m_length || length > m_length - offset) return m_source(offset, out, length);
    // Not zeroed: always filled before use. Never larger than the file, so a small file
    // does not cost a large buffer (have below is at most this).
    if (!m_buffer) m_buffer.reset(new uint8_t[size_t(std::min<uint64_t>(m_bytes, m_length))]);
    const uint64_t have = std::min<uint64_t>(m_bytes, m_length - offset);
    if (!m_source(offset, m_buffer.get(), size_t(have))) {
      Forget();
      return m_source(offset, out, length);
    }
    m_start = offset;
    m_have = size_t(have);
    if (length) std::memcpy(out, m_buffer.get(), length);
    return true;
  }
  void Forget() { m_start = m_have = 0; }

 private:
  Source m_source;
  uint64_t m_length;
  size_t m_bytes;
  std::unique_ptr<uint8_t[]> m_buffer;
  uint64_t m_start = 0;
  size_t m_have = 0;
};
