// A fresh temporary folder per test, removed with everything in it afterwards, and
// small helpers to write and read whole files in it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qvtest {

class CTempDir {
 public:
  // A new folder in the system's temporary folder, or in `under` when that is given.
  explicit CTempDir(const std::string& under = "");
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

// A folder in memory for tests that sync often (the fault sweeps), where there is one;
// "" (the system's temporary folder) otherwise.
std::string FastTempRoot();

}  // namespace qvtest
