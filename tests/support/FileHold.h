// Another program's hold on a file, as a game or a virus scanner keeps one: the file
// stays open, others may read it (or not even that), and nobody may rename or delete
// it while the hold lasts. Only Windows has such holds; elsewhere Hold() says false.
#pragma once

#include <cstdint>
#include <string>

namespace qvtest {

class CFileHold {
 public:
  CFileHold() = default;
  ~CFileHold();
  CFileHold(const CFileHold&) = delete;
  CFileHold& operator=(const CFileHold&) = delete;
  // Opens `path` sharing nothing, or only reading when `othersMayRead` is set.
  bool Hold(const std::string& path, bool othersMayRead);
  void Release();

 private:
  intptr_t m_handle = -1;
};

}  // namespace qvtest
