#include "tests/support/TempDir.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/Platform.h"
#include "platform/PathText.h"
#include <stdexcept>

namespace fsys = std::filesystem;

namespace qvtest {

CTempDir::CTempDir(const std::string& under) {
  static std::atomic<unsigned> counter{0};
  fsys::path base = under.empty() ? fsys::temp_directory_path() : fsys::path(under);
  for (;;) {
    fsys::path p = base / ("qvtest-" + std::to_string(plat::TickMs()) + "-" +
                           std::to_string(counter++));
    std::error_code ec;
    if (fsys::create_directory(p, ec)) {
      m_path = p.generic_string();
      return;
    }
  }
}

CTempDir::~CTempDir() {
  std::error_code ec;
  // Tests may leave read-only files behind; make everything writable first.
  for (auto it = fsys::recursive_directory_iterator(m_path, ec);
       !ec && it != fsys::recursive_directory_iterator(); it.increment(ec)) {
    fsys::permissions(it->path(), fsys::perms::owner_all, fsys::perm_options::add, ec);
  }
  fsys::remove_all(m_path, ec);
}

std::string FastTempRoot() {
  std::error_code ec;
  return fsys::is_directory("/dev/shm", ec) ? "/dev/shm" : "";
}

CWorkDirGuard::CWorkDirGuard(const std::string& dir) : m_old(plat::GetWorkDir()) {
  plat::SetWorkDir(dir);
}
CWorkDirGuard::~CWorkDirGuard() { plat::SetWorkDir(m_old); }

void WriteFile(const std::string& path, const std::string& bytes) {
  FILE* f = plat::OpenFile(path, "wb");
  if (!f) throw std::runtime_error("cannot write " + path);
  fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
}

std::string ReadFile(const std::string& path) {
  FILE* f = plat::OpenFile(path, "rb");
  if (!f) return {};
  std::string out;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  fclose(f);
  return out;
}

bool Exists(const std::string& path) { return plat::FileExists(path); }

// Through the platform layer, so that a name in code page 936 is made as the program
// under test would make it, whatever the system's code page.
void MakeDirs(const std::string& path) { plat::MakeFolders(path); }

std::string PseudoRandom(size_t n, uint32_t seed, bool compressible) {
  std::string out(n, '\0');
  uint32_t x = seed ? seed : 1;
  auto next = [&x] {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return x;
  };
  for (size_t i = 0; i < n;) {
    if (compressible && (next() & 3) == 0 && i > 64) {
      // copy an earlier run, as text and tables in game data repeat themselves
      size_t len = 4 + next() % 60, back = 1 + next() % 64;
      for (size_t k = 0; k < len && i < n; ++k, ++i) out[i] = out[i - back];
    } else {
      out[i++] = static_cast<char>(compressible ? 'a' + next() % 26 : next() & 0xFF);
    }
  }
  return out;
}

}  // namespace qvtest
