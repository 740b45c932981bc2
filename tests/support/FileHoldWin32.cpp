#include "tests/support/FileHold.h"

#include "platform/WindowsApi.h"
#include "platform/WideText.h"

namespace qvtest {

CFileHold::~CFileHold() { Release(); }

bool CFileHold::Hold(const std::string& path, bool othersMayRead) {
  Release();
  HANDLE h = CreateFileW(plat::Wide(path).c_str(), GENERIC_READ, othersMayRead ? FILE_SHARE_READ : 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  m_handle = reinterpret_cast<intptr_t>(h);
  return true;
}

void CFileHold::Release() {
  if (m_handle != -1) CloseHandle(reinterpret_cast<HANDLE>(m_handle));
  m_handle = -1;
}

}  // namespace qvtest
