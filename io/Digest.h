// The digests of the whole program: MD5 (the digest of every stored file, RFC 1321) and
// CRC-32 (the check value of the payload trailer and of the package journal, IEEE
// 802.3), over libgcrypt and zlib. With pck/PckCodecs, the only code that includes
// those libraries' headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class CMd5 {
 public:
  CMd5();
  ~CMd5();
  CMd5(const CMd5&) = delete;
  CMd5& operator=(const CMd5&) = delete;
  void Update(const void* data, size_t length);
  // Writes the digest and starts over.
  void Final(uint8_t out[16]);

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

void Md5(const void* data, size_t length, uint8_t out[16]);
std::string Md5Hex(const uint8_t digest[16]);

// CRC-32 of the IEEE 802.3 polynomial; pass the previous value to continue a run.
uint32_t Crc32(const void* data, size_t length, uint32_t previous = 0);

// libgcrypt wants one initialisation per process before first use; the cipher calls
// this too. Safe to call from any thread, any number of times.
void InitCrypto();
