// MemoryStream: reads and writes within a fixed block, clamping every position.
#include <algorithm>
#include <cstring>

#include "io/FileStream.h"

int32_t MemoryStream::Read(void* buffer, int32_t length) {
  int32_t n = std::min(length, m_size - m_pos);
  if (n <= 0) return 0;
  std::memcpy(buffer, m_data + m_pos, static_cast<size_t>(n));
  m_pos += n;
  return n;
}

int32_t MemoryStream::Write(const void* buffer, int32_t length) {
  int32_t n = std::min(length, m_size - m_pos);
  if (n <= 0) return 0;
  std::memcpy(m_data + m_pos, buffer, static_cast<size_t>(n));
  m_pos += n;
  return n;
}

int MemoryStream::Seek(int32_t offset, int whence) {
  int64_t target = whence == 0 ? offset : whence == 1 ? int64_t(m_pos) + offset : int64_t(m_size) + offset;
  m_pos = static_cast<int32_t>(std::clamp<int64_t>(target, 0, m_size));
  return 0;
}
