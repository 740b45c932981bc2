// Every bit-sliced DES implementation against libgcrypt's DES-ECB, both directions.
// Input: 8 key bytes, then the data (whole 8-byte groups; a partial last group is
// dropped). Each run works on an exact-size copy, so an access past the groups is an
// AddressSanitizer finding.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "pck/PckCodecs.h"
#include "pck/des/DesSlice.h"

namespace {

void Check(bool ok, const char* impl, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "%s: %s\n", impl, what);
  std::abort();
}

// libgcrypt's answer for `data` in place, as the package cipher gives it under its
// reference backend.
void Reference(const uint8_t key[8], std::vector<uint8_t>& data, bool decrypt) {
  PckSetDesBackend(DesBackend::Libgcrypt);
  CPckCipher cipher;
  cipher.SetRawKey(key);
  if (decrypt)
    cipher.EcbDecrypt(data.data(), data.size() / 8);
  else
    cipher.EcbEncrypt(data.data(), data.size() / 8);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  if (size < 8) return 0;
  const uint8_t* key = input;
  const size_t groups = (size - 8) / 8;
  const std::vector<uint8_t> data(input + 8, input + 8 + groups * 8);
  std::vector<uint8_t> encrypted = data, decrypted = data;
  Reference(key, encrypted, false);
  Reference(key, decrypted, true);

  const DesEcbImpl* impls[] = {&DesBitslice64(), DesBitsliceAvx2()};
  for (const DesEcbImpl* impl : impls) {
    if (!impl) continue;
    DesSchedule schedule;
    impl->setKey(key, schedule);
    std::vector<uint8_t> buf = data;
    impl->encrypt(schedule, buf.data(), groups);
    Check(buf == encrypted, impl->name, "encrypt differs from libgcrypt");
    impl->decrypt(schedule, buf.data(), groups);
    Check(buf == data, impl->name, "decrypt does not undo encrypt");
    buf = data;
    impl->decrypt(schedule, buf.data(), groups);
    Check(buf == decrypted, impl->name, "decrypt differs from libgcrypt");
  }
  return 0;
}
