// A stream over a C runtime file, and a stream over a block of memory it does not own.
#pragma once

#include <memory>
#include <string>

#include "io/DataStream.h"

struct FileCloser {
  void operator()(FILE* f) const {
    if (f) fclose(f);
  }
};
using UniqueFile = std::unique_ptr<FILE, FileCloser>;

class FileStream : public DataStream {
 public:
  FileStream(UniqueFile file, int32_t size) : m_file(std::move(file)), m_size(size) {}
  int32_t Size() override { return m_size; }
  int32_t Stamp() override;
  int32_t Read(void* buffer, int32_t length) override;
  int Seek(int32_t offset, int whence) override;
  bool Eof() override;
  int32_t Tell() override;
  int32_t Write(const void* buffer, int32_t length) override;
  FILE* Handle() override { return m_file.get(); }
  int Seek64(int64_t offset) override;
  int64_t Length64() override;

 private:
  UniqueFile m_file;
  int32_t m_size;
};

// fopen(path, mode); null when it fails. The size comes from stat(), -1 for a folder
// or when stat() fails.
std::unique_ptr<FileStream> OpenFileStream(const std::string& path, const char* mode);

class MemoryStream : public DataStream {
 public:
  MemoryStream(void* data, int32_t size)
      : m_data(static_cast<uint8_t*>(data)), m_size(size < 0 ? 0 : size) {}
  int32_t Size() override { return m_size; }
  int32_t Stamp() override { return 0; }
  int32_t Read(void* buffer, int32_t length) override;
  int Seek(int32_t offset, int whence) override;
  bool Eof() override { return m_pos >= m_size; }
  int32_t Tell() override { return m_pos; }
  // Writes only what fits: the block never grows.
  int32_t Write(const void* buffer, int32_t length) override;

 private:
  uint8_t* m_data;
  int32_t m_size;
  int32_t m_pos = 0;
};
