// MD5 over libgcrypt and CRC-32 over zlib.
#include "io/Digest.h"

#include <gcrypt.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>

void InitCrypto() {
  static std::once_flag once;
  std::call_once(once, [] {
    // A library that does not start is a broken build, not a condition to go on from.
    if (!gcry_check_version(GCRYPT_VERSION)) {
      std::fputs("libgcrypt does not match the version it was built with\n", stderr);
      std::abort();
    }
    gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
  });
}

struct CMd5::Impl {
  gcry_md_hd_t hd = nullptr;
  Impl() {
    InitCrypto();
    if (gcry_md_open(&hd, GCRY_MD_MD5, 0) != 0) {
      std::fputs("libgcrypt has no MD5\n", stderr);
      std::abort();
    }
  }
  ~Impl() { gcry_md_close(hd); }
};

CMd5::CMd5() : m_impl(std::make_unique<Impl>()) {}
CMd5::~CMd5() = default;

void CMd5::Update(const void* data, size_t length) {
  if (length) gcry_md_write(m_impl->hd, data, length);
}

void CMd5::Final(uint8_t out[16]) {
  const unsigned char* d = gcry_md_read(m_impl->hd, GCRY_MD_MD5);
  std::copy(d, d + 16, out);
  gcry_md_reset(m_impl->hd);
}

void Md5(const void* data, size_t length, uint8_t out[16]) {
  InitCrypto();
  gcry_md_hash_buffer(GCRY_MD_MD5, out, data, length);
}

std::string Md5Hex(const uint8_t digest[16]) {
  static const char kHex[] = "0123456789abcdef";
  std::string s(32, '0');
  for (int i = 0; i < 16; ++i) {
    s[2 * i] = kHex[digest[i] >> 4];
    s[2 * i + 1] = kHex[digest[i] & 15];
  }
  return s;
}

uint32_t Crc32(const void* data, size_t length, uint32_t previous) {
  uLong crc = previous;
  const Bytef* p = static_cast<const Bytef*>(data);
  // zlib takes 32-bit lengths; feed large buffers in pieces.
  while (length > 0) {
    uInt n = static_cast<uInt>(std::min<size_t>(length, 1u << 30));
    crc = crc32(crc, p, n);
    p += n;
    length -= n;
  }
  return static_cast<uint32_t>(crc);
}
