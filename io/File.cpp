#include "io/File.h"

#include <utility>

#include "platform/Platform.h"

CError OsFailure(const std::string& what, const std::string& file) {
  const plat::OsError& os = plat::LastError();
  CError e;
  switch (os.kind) {
    case plat::OsErrorKind::NotFound: e.kind = ErrorKind::NotFound; break;
    case plat::OsErrorKind::Access: e.kind = ErrorKind::Access; break;
    case plat::OsErrorKind::InUse: e.kind = ErrorKind::InUse; break;
    case plat::OsErrorKind::NoSpace: e.kind = ErrorKind::NoSpace; break;
    default: e.kind = ErrorKind::Io; break;
  }
  e.file = file;
  e.osCode = os.code;
  e.reason = os.text;
  e.text = "cannot " + what + " " + file + (os.text.empty() ? std::string() : ": " + os.text);
  return e;
}

CError Failure(ErrorKind kind, const std::string& file, const std::string& text) {
  CError e;
  e.kind = kind;
  e.file = file;
  e.text = text;
  return e;
}

std::string OsErrorText(const std::string& what, const std::string& path) { return OsFailure(what, path).text; }

CFile::CFile(CFile&& other) noexcept
    : m_file(std::exchange(other.m_file, nullptr)),
      m_buffer(std::move(other.m_buffer)),
      m_unstarted(other.m_unstarted),
      m_path(std::move(other.m_path)),
      m_failed(other.m_failed),
      m_error(std::move(other.m_error)) {}

CFile& CFile::operator=(CFile&& other) noexcept {
  if (this != &other) {
    Close();
    m_file = std::exchange(other.m_file, nullptr);
    m_buffer = std::move(other.m_buffer);
    m_unstarted = other.m_unstarted;
    m_path = std::move(other.m_path);
    m_failed = other.m_failed;
    m_error = std::move(other.m_error);
  }
  return *this;
}

bool CFile::Fail(const char* what) {
  if (!m_failed) m_error = OsFailure(what, m_path);
  m_failed = true;
  return false;
}

void CFile::Buffer() {
  m_unstarted = 0;
  if (!m_buffer) m_buffer.reset(new char[kBufferBytes]);  // not zeroed: the C runtime fills it
  setvbuf(m_file, m_buffer.get(), _IOFBF, kBufferBytes);
}

bool CFile::Open(const std::string& path, const char* mode) {
  Close();
  m_path = path;
  m_failed = false;
  m_error = CError();
  m_file = plat::OpenFile(path, mode);
  if (!m_file) {
    m_error = OsFailure("open", path);
    return false;
  }
  Buffer();
  return true;
}

bool CFile::Create(const std::string& path) {
  Close();
  if (plat::FileExists(path) && !plat::DeleteFile(path)) {
    m_path = path;
    m_failed = false;
    m_error = OsFailure("remove the old", path);
    return false;
  }
  return CreateNew(path);
}

bool CFile::CreateNew(const std::string& path) {
  Close();
  m_path = path;
  m_failed = false;
  m_error = CError();
  m_file = plat::CreateNewFile(path);
  if (!m_file) {
    m_error = OsFailure("create", path);
    return false;
  }
  Buffer();
  return true;
}

bool CFile::Close() {
  if (!m_file) return !m_failed;
  FILE* file = std::exchange(m_file, nullptr);
  // The stream is closed (and freed) whatever the hook says; only the result differs.
  const bool injected = plat::FaultInjected(plat::FileOp::Close, m_path);
  const bool closed = plat::CloseFile(file);
  if (injected || !closed) return Fail("close");
  return !m_failed;
}

bool CFile::Seek(uint64_t offset) {
  if (!m_file) return false;
  // A seek writes out what is buffered, so its failure may be a failed write.
  return plat::SeekFile(m_file, static_cast<int64_t>(offset), SEEK_SET) == 0 || Fail("seek in");
}

bool CFile::SeekEnd() { return m_file && (plat::SeekFile(m_file, 0, SEEK_END) == 0 || Fail("seek in")); }

int64_t CFile::Tell() { return m_file ? plat::TellFile(m_file) : -1; }

int64_t CFile::Length() {
  int64_t here = Tell();
  if (here < 0 || !SeekEnd()) return -1;
  int64_t end = Tell();
  if (!Seek(static_cast<uint64_t>(here))) return -1;
  return end;
}

bool CFile::ReadExact(void* buffer, size_t length) {
  return m_file && fread(buffer, 1, length, m_file) == length;
}

bool CFile::WriteAll(const void* buffer, size_t length) {
  if (!m_file || m_failed) return false;
  if (plat::FaultInjected(plat::FileOp::Write, m_path)) return Fail("write");
  if (fwrite(buffer, 1, length, m_file) != length) {
    plat::NoteCrtError();
    return Fail("write");
  }
  m_unstarted += length;
  if (m_unstarted >= kWriteBackBytes) {
    m_unstarted = 0;
    if (fflush(m_file) != 0) {
      plat::NoteCrtError();
      return Fail("write");
    }
    plat::StartWriteBack(m_file);
  }
  return true;
}

bool CFile::ReadAll(std::string& out) {
  int64_t len = Length();
  if (len < 0 || !Seek(0)) return false;
  out.resize(static_cast<size_t>(len));
  return ReadExact(out.data(), out.size());
}

bool CFile::Flush() {
  if (!m_file || m_failed) return false;
  if (plat::FaultInjected(plat::FileOp::Flush, m_path)) return Fail("write");
  if (ferror(m_file)) {
    plat::NoteCrtError();
    return Fail("write");
  }
  if (!plat::FlushFileToDisk(m_file)) return Fail("write");
  return true;
}

bool CFile::StartFlush() {
  if (!m_file || m_failed) return false;
  if (fflush(m_file) != 0 || ferror(m_file)) {
    plat::NoteCrtError();
    return Fail("write");
  }
  m_unstarted = 0;
  plat::StartWriteBack(m_file);
  return true;
}

bool CFile::Truncate(uint64_t length) {
  if (!m_file || m_failed) return false;
  return plat::TruncateFile(m_file, static_cast<int64_t>(length)) || Fail("truncate");
}
