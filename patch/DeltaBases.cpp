// CDeltaBases: the files of the game that deltas apply to.
#include "patch/DeltaBases.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "io/Digest.h"
#include "io/FileStream.h"
#include "pck/PckFormat.h"
#include "pck/PckReader.h"
#include "platform/PathText.h"
#include "platform/Platform.h"

CDeltaBases::~CDeltaBases() = default;

PckReader* CDeltaBases::Package(const std::string& base, CError& error) {
  const std::string key = PckFoldName(plat::ToSlashes(base));
  auto it = m_readers.find(key);
  if (it != m_readers.end()) return it->second.get();
  auto reader = std::make_unique<PckReader>();
  reader->SetPassword(m_password.c_str());
  if (reader->Open(base) != 0) {
    error = reader->Error();
    error.text = base + ": " + reader->LastError();
    return nullptr;
  }
  return m_readers.emplace(key, std::move(reader)).first->second.get();
}

int CDeltaBases::Identify(const Landing& landing, DeltaBaseInfo& info, CError& error) {
  if (landing.inPackage) {
    if (landing.create) return 0;
    PckReader* reader = Package(landing.base, error);
    if (!reader) return -1;
    const int index = reader->Find(landing.inner);
    if (index <= 0) return 0;
    const PckRecord& r = reader->Records()[size_t(index)];
    if (r.type != kPckFile) return 0;
    info.size = r.size;
    std::memcpy(info.md5, r.digest, 16);
    const uint64_t extent = reader->StoredExtent(index);
    info.stored = extent > 0 ? extent : r.size;
    return 1;
  }
  plat::FileInfo stat;
  if (!plat::StatPath(landing.path, stat) || stat.isDir) return 0;
  std::unique_ptr<FileStream> file = OpenFileStream(landing.path, "rb");
  if (!file) {
    error = OsFailure("read", landing.path);
    return -1;
  }
  CMd5 md5;
  constexpr int32_t kPiece = 256 << 10;
  const auto buffer = std::make_unique_for_overwrite<uint8_t[]>(kPiece);  // read over, not zeroed
  uint64_t total = 0;
  for (;;) {
    const int32_t n = file->Read(buffer.get(), kPiece);
    if (n < 0 || file->Failed()) {
      error = Failure(ErrorKind::Io, landing.path, landing.path + ": cannot be read");
      return -1;
    }
    if (n == 0) break;
    md5.Update(buffer.get(), size_t(n));
    total += uint64_t(n);
  }
  if (total > UINT32_MAX) return 0;  // larger than any file a delta is made for
  info.size = uint32_t(total);
  md5.Final(info.md5);
  info.stored = total;
  return 1;
}

std::unique_ptr<DataStream> CDeltaBases::Open(const Landing& landing, CError& error) {
  if (landing.inPackage) {
    PckReader* reader = Package(landing.base, error);
    if (!reader) return nullptr;
    const int index = reader->Find(landing.inner);
    std::unique_ptr<DataStream> entry;
    if (index > 0) entry = reader->OpenEntry(index);
    if (!entry) error = Failure(ErrorKind::NotFound, landing.base, landing.base + "/" + landing.inner + ": not in the package");
    return entry;
  }
  std::unique_ptr<DataStream> file = OpenFileStream(landing.path, "rb");
  if (!file) error = OsFailure("read", landing.path);
  return file;
}
