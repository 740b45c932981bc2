// A fresh temporary folder per test, removed with everything in it afterwards, and
// small helpers to write and read whole files in it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qvtest {

class CTempDir {
 public:
  CTempDir();
  ~CTempDir();
  CTempDir(const CTempDir&) = delete;
  CTempDir& operator=(const CTempDir&) = delete;

  const std::string& Path() const { return m_path; }
  // Path of a name inside the folder, joined with "/".
  std::string operator/(const std::string& name) const { return m_path + "/" + name; }

 private:
  std::string m_path;
};

// Makes the temporary folder the working directory for the life of the object.
class CWorkDirGuard {
 public:
  explicit CWorkDirGuard(const std::string& dir);
  ~CWorkDirGuard();

 private:
  std::string m_old;
};

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);  // "" when missing
bool Exists(const std::string& path);
void MakeDirs(const std::string& path);

// Deterministic pseudo-random bytes (a fixed-seed generator), optionally with runs that
// compress like game data.
std::string PseudoRandom(size_t n, uint32_t seed, bool compressible = false);

}  // namespace qvtest
