// Operations shared by every stream.
#include "io/DataStream.h"

#include <cstdint>

#include "io/Digest.h"

int32_t DataStream::WriteRepeated(const void* buffer, int32_t length, int32_t count) {
  int32_t total = 0;
  for (int32_t i = 0; i < count; ++i) {
    int32_t n = Write(buffer, length);
    if (n < length) return -1;
    total += n;
  }
  return total;
}

// Reads the whole content again from the start, 4096 bytes at a time.
int DataStream::Digest(uint8_t out[16]) {
  CMd5 md5;
  uint8_t buf[4096];
  Seek(0, 0);
  while (!Eof()) {
    int32_t n = Read(buf, sizeof buf);
    if (n <= 0) break;
    md5.Update(buf, static_cast<size_t>(n));
  }
  md5.Final(out);
  return 0;
}

int DataStream::Seek64(int64_t offset) {
  if (offset < 0 || offset > INT32_MAX) return -1;
  return Seek(static_cast<int32_t>(offset), 0);
}
