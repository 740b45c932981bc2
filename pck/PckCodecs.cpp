// zlib, LZO and libgcrypt behind the small interface of PckCodecs.h.
#include "pck/PckCodecs.h"

#include "pck/des/DesSlice.h"

#include <gcrypt.h>
#include <lzo/lzo1x.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

// libgcrypt and LZO want one initialisation per process before first use. A library
// that does not start is a broken build, not a condition the program can go on from.
void InitLibraries() {
  static std::once_flag once;
  std::call_once(once, [] {
    InitCrypto();
    if (lzo_init() != LZO_E_OK) {
      std::fputs("LZO does not start (lzo_init failed)\n", stderr);
      std::abort();
    }
  });
}

}  // namespace

// ---------------------------------------------------------------- cipher

namespace {

std::atomic<DesBackend> g_desBackend{DesBackend::Fastest};

// Below this many groups a bit-sliced pass (a whole batch of 64 or 256 groups at once)
// costs more than libgcrypt's table look-ups.
constexpr size_t kBitsliceMinGroups = 32;

// The bit-sliced implementation the backend asks for (null: libgcrypt).
const DesEcbImpl* Bitsliced(DesBackend backend) {
  switch (backend) {
    case DesBackend::Fastest: return &DesBest();
    case DesBackend::Bitslice64: return &DesBitslice64();
    case DesBackend::BitsliceAvx2: return DesBitsliceAvx2();
    case DesBackend::Libgcrypt: return nullptr;
  }
  return nullptr;
}

}  // namespace

bool PckSetDesBackend(DesBackend backend) {
  if (backend == DesBackend::BitsliceAvx2 && !DesBitsliceAvx2()) return false;
  g_desBackend = backend;
  return true;
}

DesBackend PckDesBackend() { return g_desBackend; }

struct CPckCipher::Impl {
  gcry_cipher_hd_t hd = nullptr;
  DesSchedule schedule{};
  Impl() {
    InitLibraries();
    if (gcry_cipher_open(&hd, GCRY_CIPHER_DES, GCRY_CIPHER_MODE_ECB, 0) != 0) {
      std::fputs("libgcrypt has no DES\n", stderr);
      std::abort();
    }
    // A folded password may give one of DES's weak keys; the format uses it all the same.
    gcry_cipher_ctl(hd, GCRYCTL_SET_ALLOW_WEAK_KEY, nullptr, 1);
  }
  ~Impl() { gcry_cipher_close(hd); }
  void SetKey(const uint8_t key[8]) {
    gcry_cipher_setkey(hd, key, 8);
    // Every package opened sets the game's password again; its schedule is kept per
    // thread rather than expanded anew each time.
    thread_local struct {
      bool set = false;
      uint8_t key[8];
      DesSchedule schedule;
    } last;
    if (!last.set || std::memcmp(last.key, key, 8) != 0) {
      DesExpandKey(key, last.schedule);
      std::memcpy(last.key, key, 8);
      last.set = true;
    }
    schedule = last.schedule;
  }
  // The bit-sliced DES for `groups` groups under the current backend, or null.
  static const DesEcbImpl* For(size_t groups) {
    const DesBackend backend = g_desBackend;
    if (backend == DesBackend::Fastest && groups < kBitsliceMinGroups) return nullptr;
    return Bitsliced(backend);
  }
};

CPckCipher::CPckCipher() : m_impl(std::make_unique<Impl>()) {}
CPckCipher::~CPckCipher() = default;

void CPckCipher::FoldKey(std::string_view password, uint8_t key[8]) {
  std::fill(key, key + 8, 0);
  size_t p = password.size();
  if (p == 0) return;
  for (size_t k = 0; k < std::max<size_t>(p, 8); ++k) key[k % 8] ^= uint8_t(password[k % p]);
}

void CPckCipher::SetPassword(std::string_view password) {
  m_password.assign(password);
  m_xorKey.assign(password.substr(0, kPckMaxPassword));
  if (password.empty()) return;
  uint8_t key[8];
  FoldKey(password, key);
  m_impl->SetKey(key);
}

void CPckCipher::SetRawKey(const uint8_t key[8]) { m_impl->SetKey(key); }

void CPckCipher::EcbEncrypt(uint8_t* data, size_t groups) const {
  if (groups == 0) return;
  if (const DesEcbImpl* des = Impl::For(groups))
    des->encrypt(m_impl->schedule, data, groups);
  else
    gcry_cipher_encrypt(m_impl->hd, data, groups * 8, nullptr, 0);
}

void CPckCipher::EcbDecrypt(uint8_t* data, size_t groups) const {
  if (groups == 0) return;
  if (const DesEcbImpl* des = Impl::For(groups))
    des->decrypt(m_impl->schedule, data, groups);
  else
    gcry_cipher_decrypt(m_impl->hd, data, groups * 8, nullptr, 0);
}

void CPckCipher::XorRunningKey(uint8_t* data, size_t length) const {
  size_t p = m_xorKey.size();
  if (length == 0 || p == 0) return;
  const uint8_t* pw = reinterpret_cast<const uint8_t*>(m_xorKey.data());
  if (length >= p) {
    // The common case: every payload byte meets exactly one password byte, byte k the
    // password's byte k mod p. The payload is taken one password length at a time, so
    // no byte pays for a division and the inner loop vectorises.
    for (size_t at = 0; at < length; at += p) {
      const size_t n = std::min(p, length - at);
      uint8_t* piece = data + at;
      for (size_t j = 0; j < n; ++j) piece[j] ^= pw[j];
    }
  } else {
    // A payload shorter than the password wraps and is XORed again.
    for (size_t k = 0; k < p; ++k) data[k % length] ^= pw[k];
  }
}

void CPckCipher::Encipher(uint8_t* data, size_t length) const {
  if (!Enabled()) return;
  EcbEncrypt(data, length / 8);
  XorRunningKey(data, length);
}

void CPckCipher::Decipher(uint8_t* data, size_t length) const {
  if (!Enabled()) return;
  XorRunningKey(data, length);
  EcbDecrypt(data, length / 8);
}

// ---------------------------------------------------------------- blocks

namespace {
// Worst-case output of each compressor for one block, and at least twice the block
// size as the format's writers have always reserved.
size_t EncodeCapacity(uint32_t blockSize) {
  size_t lzo = size_t(blockSize) + blockSize / 16 + 64 + 3;
  size_t zl = compressBound(blockSize);
  return std::max({size_t(blockSize) * 2, lzo, zl});
}
// What each thread keeps between blocks: zlib's deflate state (about 270 KiB, reset for
// every block, which gives the bytes compress() gives) and LZO1X-1's work memory (which
// the compressor clears itself). A writer encodes its blocks on a few threads, so
// allocating and freeing both for every block cost more than compressing a small one.
struct CThreadCompressors {
  z_stream deflater{};
  bool deflaterReady = false;
  std::unique_ptr<uint8_t[]> lzoWork;

  ~CThreadCompressors() {
    if (deflaterReady) deflateEnd(&deflater);
  }
  z_stream* Deflater() {
    if (!deflaterReady) deflaterReady = deflateInit(&deflater, Z_DEFAULT_COMPRESSION) == Z_OK;
    return deflaterReady && deflateReset(&deflater) == Z_OK ? &deflater : nullptr;
  }
  uint8_t* LzoWork() {
    if (!lzoWork) lzoWork = std::make_unique_for_overwrite<uint8_t[]>(LZO1X_1_MEM_COMPRESS);
    return lzoWork.get();
  }
};

CThreadCompressors& ThreadCompressors() {
  thread_local CThreadCompressors compressors;
  return compressors;
}

}  // namespace

CBlockEncoder::CBlockEncoder(uint32_t blockSize)
    : m_blockSize(blockSize),
      m_out(EncodeCapacity(blockSize)) {
  InitLibraries();
}

CBlockEncoder::~CBlockEncoder() = default;

PckCodec CBlockEncoder::Encode(PckCodec codec, const uint8_t* data, uint32_t length) {
  // Callers hand at most one block; anything longer is cut rather than overrun.
  length = std::min(length, m_blockSize);
  bool ok = false;
  size_t outLen = 0;
  if (codec == PckCodec::Zlib) {
    // A zlib stream at the default level, as compress() makes it.
    if (z_stream* z = ThreadCompressors().Deflater()) {
      z->next_in = const_cast<Bytef*>(data);
      z->avail_in = length;
      z->next_out = m_out.data();
      z->avail_out = static_cast<uInt>(m_out.size());
      ok = deflate(z, Z_FINISH) == Z_STREAM_END;
      outLen = z->total_out;
    }
  } else if (codec == PckCodec::Lzo1x) {
    if (!m_scratch) m_scratch = std::make_unique_for_overwrite<uint8_t[]>(m_blockSize);
    lzo_uint destLen = m_out.size();
    ok = lzo1x_1_compress(data, length, m_out.data(), &destLen, ThreadCompressors().LzoWork()) == LZO_E_OK;
    if (ok) {
      // The optimiser rewrites the compressed stream in place and rebuilds the content
      // into a scratch buffer as it goes; the input itself stays untouched.
      lzo_uint rebuilt = length;
      ok = lzo1x_optimize(m_out.data(), destLen, m_scratch.get(), &rebuilt, nullptr) == LZO_E_OK &&
           rebuilt == length;
    }
    outLen = destLen;
  }
  if (!ok || codec == PckCodec::Stored || outLen > length) {
    std::copy(data, data + length, m_out.begin());
    m_outLength = length;
    return PckCodec::Stored;
  }
  m_outLength = static_cast<uint32_t>(outLen);
  return codec;
}

int32_t DecodeBlock(uint8_t codecByte, const uint8_t* payload, uint32_t storedLength, uint8_t* out,
                    uint32_t capacity) {
  if (storedLength > capacity) return -1;
  switch (PckCodecFromByte(codecByte)) {
    case PckCodec::Zlib: {
      uLongf destLen = capacity;
      if (uncompress(out, &destLen, payload, storedLength) != Z_OK) return -1;
      return static_cast<int32_t>(destLen);
    }
    case PckCodec::Lzo1x: {
      InitLibraries();
      // The safe decompressor checks both buffers' bounds, so neither a damaged stream
      // nor one that expands past the block size can overrun `out`.
      lzo_uint destLen = capacity;
      int rc = lzo1x_decompress_safe(payload, storedLength, out, &destLen, nullptr);
      if (rc != LZO_E_OK && rc != LZO_E_INPUT_NOT_CONSUMED) return -1;
      return static_cast<int32_t>(destLen);
    }
    case PckCodec::Stored:
      std::copy(payload, payload + storedLength, out);
      return static_cast<int32_t>(storedLength);
  }
  return -1;
}
