// The progress bar on standard error, "[#####     ] 52%  1234/2345 files", and a stream
// wrapper that feeds it the bytes a writer reads. The bar is drawn only when standard
// error is a terminal, so logs and captured output never see it.
#pragma once

#include <cstdint>
#include <string>

#include "io/DataStream.h"

class CProgress {
 public:
  // `totalFiles` and `totalBytes` are what the work will count up to; a zero total is
  // not shown. The fraction follows the bytes when they are known, else the files.
  CProgress(uint64_t totalFiles, uint64_t totalBytes);
  ~CProgress();
  CProgress(const CProgress&) = delete;
  CProgress& operator=(const CProgress&) = delete;

  void AddBytes(uint64_t n);
  void FileDone();
  // Erases the bar; later updates draw nothing.
  void Finish();

  // Erases the bar in use, if any, so that an error line starts at the left margin.
  static void EraseActive();

  // The text of the bar for the given counts (without carriage return).
  static std::string Render(uint64_t files, uint64_t totalFiles, uint64_t bytes, uint64_t totalBytes);

 private:
  void Draw(bool force);
  void Erase();

  bool m_enabled;
  uint64_t m_totalFiles, m_totalBytes;
  uint64_t m_files = 0, m_bytes = 0;
  uint32_t m_lastTick = 0;
  size_t m_drawn = 0;  // length of the text on the line now
};

// Passes every call through to another stream and counts the bytes read.
class CProgressStream : public DataStream {
 public:
  CProgressStream(DataStream& inner, CProgress& progress) : m_inner(inner), m_progress(progress) {}
  int32_t Size() override { return m_inner.Size(); }
  int32_t Stamp() override { return m_inner.Stamp(); }
  int32_t Read(void* buffer, int32_t length) override {
    int32_t n = m_inner.Read(buffer, length);
    if (n > 0) m_progress.AddBytes(uint64_t(n));
    return n;
  }
  int Seek(int32_t offset, int whence) override { return m_inner.Seek(offset, whence); }
  bool Eof() override { return m_inner.Eof(); }
  int32_t Tell() override { return m_inner.Tell(); }
  int32_t Write(const void* buffer, int32_t length) override { return m_inner.Write(buffer, length); }
  int Digest(uint8_t out[16]) override { return m_inner.Digest(out); }
  FILE* Handle() override { return m_inner.Handle(); }
  int Seek64(int64_t offset) override { return m_inner.Seek64(offset); }
  int64_t Length64() override { return m_inner.Length64(); }
  // What the inner stream learns of its content, and its blocks as stored, pass through:
  // a damaged entry must stay damaged, and a stored copy needs no decoding.
  bool Failed() override { return m_inner.Failed(); }
  IStoredBlocks* StoredBlocks() override { return m_inner.StoredBlocks(); }

 private:
  DataStream& m_inner;
  CProgress& m_progress;
};
