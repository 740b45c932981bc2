// FileStream over the C runtime's buffered files.
#include "io/FileStream.h"

#include <cstdint>

#include "platform/Platform.h"

std::unique_ptr<FileStream> OpenFileStream(const std::string& path, const char* mode) {
  UniqueFile f(plat::OpenFile(path, mode));
  if (!f) return nullptr;
  plat::FileInfo info;
  int32_t size = -1;
  // A size beyond the stream's 32-bit range is reported as unknown, never wrapped.
  if (plat::StatPath(path, info) && !info.isDir && info.size <= INT32_MAX)
    size = static_cast<int32_t>(info.size);
  return std::make_unique<FileStream>(std::move(f), size);
}

int32_t FileStream::Stamp() { return static_cast<int32_t>(plat::FileHandleMTime(m_file.get())); }

int32_t FileStream::Read(void* buffer, int32_t length) {
  if (length <= 0) return 0;
  return static_cast<int32_t>(fread(buffer, 1, static_cast<size_t>(length), m_file.get()));
}

int FileStream::Seek(int32_t offset, int whence) { return fseek(m_file.get(), offset, whence); }

bool FileStream::Eof() { return feof(m_file.get()) != 0; }

int32_t FileStream::Tell() { return static_cast<int32_t>(ftell(m_file.get())); }

int32_t FileStream::Write(const void* buffer, int32_t length) {
  if (length <= 0) return 0;
  // A seek between reading and writing is what the C runtime requires to switch
  // direction; these two leave the position where it was.
  Seek(length, 1);
  Seek(-length, 1);
  int32_t n = static_cast<int32_t>(fwrite(buffer, 1, static_cast<size_t>(length), m_file.get()));
  int32_t pos = Tell();
  if (pos > m_size) m_size = pos;
  return n;
}

int FileStream::Seek64(int64_t offset) { return plat::SeekFile(m_file.get(), offset, SEEK_SET); }

int64_t FileStream::Length64() {
  int64_t here = plat::TellFile(m_file.get());
  if (plat::SeekFile(m_file.get(), 0, SEEK_END) != 0) return -1;
  int64_t end = plat::TellFile(m_file.get());
  plat::SeekFile(m_file.get(), here, SEEK_SET);
  return end;
}
