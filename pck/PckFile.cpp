#include "pck/PckFile.h"

#include "platform/Platform.h"

namespace pckio {

namespace {
FaultHook& Hook() {
  static FaultHook hook;
  return hook;
}
bool Allowed(Op op) { return !Hook() || Hook()(op); }
}  // namespace

void SetFaultHook(FaultHook hook) { Hook() = std::move(hook); }

bool ReplaceFile(const std::string& from, const std::string& to) {
  return Allowed(Op::Replace) && plat::ReplaceFile(from, to);
}

}  // namespace pckio

bool CPckFile::Open(const std::string& path, const char* mode) {
  Close();
  m_file = plat::OpenFile(path, mode);
  m_path = path;
  return m_file != nullptr;
}

void CPckFile::Close() {
  if (m_file) fclose(m_file);
  m_file = nullptr;
}

bool CPckFile::Seek(uint64_t offset) {
  return m_file && plat::SeekFile(m_file, static_cast<int64_t>(offset), SEEK_SET) == 0;
}

bool CPckFile::SeekEnd() { return m_file && plat::SeekFile(m_file, 0, SEEK_END) == 0; }

int64_t CPckFile::Tell() { return m_file ? plat::TellFile(m_file) : -1; }

int64_t CPckFile::Length() {
  int64_t here = Tell();
  if (here < 0 || !SeekEnd()) return -1;
  int64_t end = Tell();
  Seek(static_cast<uint64_t>(here));
  return end;
}

bool CPckFile::ReadExact(void* buffer, size_t length) {
  return m_file && fread(buffer, 1, length, m_file) == length;
}

bool CPckFile::WriteAll(const void* buffer, size_t length) {
  if (!m_file || !pckio::Allowed(pckio::Op::Write)) return false;
  return fwrite(buffer, 1, length, m_file) == length;
}

bool CPckFile::Flush() {
  return m_file && pckio::Allowed(pckio::Op::Flush) && plat::FlushFileToDisk(m_file);
}

bool CPckFile::ReadAll(std::string& out) {
  int64_t len = Length();
  if (len < 0 || !Seek(0)) return false;
  out.resize(static_cast<size_t>(len));
  return ReadExact(out.data(), out.size());
}
