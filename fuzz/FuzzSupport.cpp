#include "fuzz/FuzzSupport.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

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

namespace {

bool UsableFolder(const char* path) {
  return path && *path && access(path, W_OK | X_OK) == 0 && fs::is_directory(path);
}

constexpr char kScratchPrefix[] = "qv-fuzz-";

// Removes the scratch folders of harness processes that are gone: libFuzzer leaves
// through _Exit after a crash, a replay or -runs, and no destructor runs then.
void RemoveStaleScratch(const std::string& base) {
  std::error_code ec;
  for (const fs::directory_entry& e : fs::directory_iterator(base, ec)) {
    const std::string name = e.path().filename().string();
    if (name.rfind(kScratchPrefix, 0) != 0) continue;
    const std::string digits = name.substr(sizeof kScratchPrefix - 1);
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 9) continue;
    if (kill(pid_t(std::stol(digits)), 0) != 0 && errno == ESRCH) RemoveAll(e.path().string());
  }
}

// Removes the scratch folder when the process ends normally (libFuzzer's time limit
// ends it through exit). What a crash leaves, the next harness or the run script removes.
class CScratch {
 public:
  CScratch() {
    const char* base = std::getenv("QV_FUZZ_SCRATCH");
    if (!UsableFolder(base)) base = "/dev/shm";
    if (!UsableFolder(base)) base = std::getenv("TMPDIR");
    if (!UsableFolder(base)) base = "/tmp";
    RemoveStaleScratch(base);
    m_path = std::string(base) + "/" + kScratchPrefix + std::to_string(getpid());
    RemoveAll(m_path);
    MakeDirs(m_path);
    m_owner = getpid();
  }
  ~CScratch() {
    if (getpid() == m_owner) RemoveAll(m_path);
  }
  const std::string& Path() const { return m_path; }

 private:
  std::string m_path;
  pid_t m_owner = 0;
};

}  // namespace

const std::string& ScratchDir() {
  static CScratch scratch;
  return scratch.Path();
}

void WriteBytes(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), std::streamsize(bytes.size()));
  if (!out) Fail(__FILE__, __LINE__, ("cannot write " + path).c_str());
}

bool ReadBytes(const std::string& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

void MakeDirs(const std::string& path) {
  std::error_code ec;
  fs::create_directories(path, ec);
  if (ec) Fail(__FILE__, __LINE__, ("cannot make " + path + ": " + ec.message()).c_str());
}

void RemoveAll(const std::string& path) {
  std::error_code ec;
  fs::remove_all(path, ec);
}

std::map<std::string, std::string> Snapshot(const std::string& root) {
  std::map<std::string, std::string> out;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    const fs::path& p = it->path();
    std::string rel = fs::relative(p, root).generic_string();
    if (it->is_symlink()) {
      out[rel] = "l" + fs::read_symlink(p).string();
    } else if (it->is_directory()) {
      out[rel] = "d";
    } else {
      std::string bytes;
      ReadBytes(p.string(), bytes);
      out[rel] = "f" + bytes;
    }
  }
  return out;
}

void Fail(const char* file, int line, const char* what) {
  std::fprintf(stderr, "\n%s:%d: check failed: %s\n", file, line, what);
  std::fflush(stderr);
  std::abort();
}

}  // namespace qvfuzz
