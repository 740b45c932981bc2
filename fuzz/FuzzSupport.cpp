#include "fuzz/FuzzSupport.h"

#include <cstdio>
#include <cstdlib>

#include <sanitizer/asan_interface.h>

#include <memory>

#include "io/Workers.h"
#include "platform/PlatformMemory.h"

// The harnesses free and allocate large buffers (a block, a package's tables) on every
// run; with ASan's default quarantine of 256 MiB each comes back as fresh pages, and the
// page faults cost more than the work. 16 MiB still holds a freed block far longer than
// one input lives, so a use after free within a run is still caught.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=16"; }

// Every harness runs on one thread: the block work is done in place rather than by the
// pool (whose bytes are those of one thread), so a run's coverage depends on its input
// alone and a campaign takes one core per harness.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  CWorkers::SetThreads(0);
  plat::memfs::Reset();
  return 0;
}

namespace qvfuzz {

std::vector<std::string> SplitParts(const uint8_t* data, size_t size, size_t count) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> parts;
  while (parts.size() + 1 < count) {
    size_t at = rest.find(kPartSeparator);
    if (at == std::string_view::npos) break;
    parts.emplace_back(rest.substr(0, at));
    rest.remove_prefix(at + kPartSeparator.size());
  }
  parts.emplace_back(rest);
  parts.resize(count);
  return parts;
}

std::string JoinParts(const std::vector<std::string>& parts) {
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i) out += kPartSeparator;
    out += parts[i];
  }
  return out;
}

void WriteBytes(const std::string& path, std::string_view bytes) {
  if (!plat::memfs::WriteFile(path, bytes)) Fail(__FILE__, __LINE__, ("cannot write " + path).c_str());
}

bool ReadBytes(const std::string& path, std::string& out) { return plat::memfs::ReadFile(path, out); }

void MakeDirs(const std::string& path) {
  if (!plat::memfs::MakeDirs(path)) Fail(__FILE__, __LINE__, ("cannot make " + path).c_str());
}

void RemoveAll(const std::string& path) { plat::memfs::RemoveAll(path); }

std::map<std::string, std::string> Snapshot(const std::string& root) { return plat::memfs::Snapshot(root); }

CExactBuffer::CExactBuffer(size_t capacity) : m_data(new uint8_t[capacity]), m_capacity(capacity) {
  ASAN_POISON_MEMORY_REGION(m_data, m_capacity);
}

CExactBuffer::~CExactBuffer() {
  ASAN_UNPOISON_MEMORY_REGION(m_data, m_capacity);
  delete[] m_data;
}

uint8_t* CExactBuffer::Take(size_t n) {
  if (n > m_capacity) Fail(__FILE__, __LINE__, "CExactBuffer::Take beyond the capacity");
  ASAN_POISON_MEMORY_REGION(m_data, m_capacity);
  ASAN_UNPOISON_MEMORY_REGION(m_data + m_capacity - n, n);
  m_size = n;
  return Data();
}

CExactBuffer& Scratch(int slot, size_t capacity) {
  static std::unique_ptr<CExactBuffer> buffers[8];
  if (slot < 0 || slot >= 8) Fail(__FILE__, __LINE__, "no such scratch buffer");
  if (!buffers[slot]) buffers[slot] = std::make_unique<CExactBuffer>(capacity);
  return *buffers[slot];
}

void Fail(const char* file, int line, const char* what) {
  std::fprintf(stderr, "\n%s:%d: check failed: %s\n", file, line, what);
  std::fflush(stderr);
  std::abort();
}

}  // namespace qvfuzz
