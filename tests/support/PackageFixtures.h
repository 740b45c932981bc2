// Shared helpers of the package tests: a source stream that can run short or long,
// building a package from a map of paths, reading a whole package back into a map, and
// the three files of a package as bytes.
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "io/DataStream.h"
#include "pck/PckFormat.h"
#include "tests/support/TempDir.h"

class PckReader;

namespace qvtest {

// A source over its own copy of `content` that declares `declared` bytes: more than the
// content makes its reads run short, fewer makes them run on past its size.
class TextSource : public DataStream {
 public:
  explicit TextSource(std::string content, int32_t declared = -1, int32_t stamp = 0);
  int32_t Size() override { return m_declared; }
  int32_t Stamp() override { return m_stamp; }
  int32_t Read(void* buffer, int32_t length) override;
  int Seek(int32_t offset, int whence) override;
  bool Eof() override { return m_pos >= m_content.size(); }
  int32_t Tell() override { return int32_t(m_pos); }
  int32_t Write(const void*, int32_t) override { return -1; }

 private:
  std::string m_content;
  int32_t m_declared, m_stamp;
  size_t m_pos = 0;
};

// path ("/"-separated, no leading separator) -> content
using FileMap = std::map<std::string, std::string>;

struct PackageOptions {
  uint32_t blockSize = kPckDefaultBlockSize;
  int codec = 1;                        // for every file not named in `codecs`
  std::map<std::string, int> codecs;    // per path
  std::string password;
  std::set<std::string> emptyFolders;   // folders to make even though no file lies in them
};

// Builds a new package at `base` by sequential building, each folder's children in the
// order of their names. "" on success, else what failed.
std::string BuildPackage(const std::string& base, const FileMap& files, const PackageOptions& options = {});

// Everything a reader sees of a package.
struct PackageImage {
  FileMap files;
  std::set<std::string> folders;  // every folder but the root
  uint32_t deadBytes = 0;
  bool operator==(const PackageImage&) const = default;
};
std::ostream& operator<<(std::ostream& out, const PackageImage& image);

// Lists a package through a fresh PckReader and reads every file whole through its
// entry stream. False (and `why`) when the package does not open or a file does not read
// back to exactly its size.
bool ReadPackage(const std::string& base, PackageImage& out, const std::string& password = "",
                 std::string* why = nullptr);
// The same through a reader that is open already.
bool ReadPackage(PckReader& reader, PackageImage& out, std::string* why = nullptr);
// ReadPackage that fails the current test when the package does not read.
PackageImage ImageOf(const std::string& base, const std::string& password = "");

// A file's content read through an entry stream in pieces of `chunk` bytes. `failed`
// tells whether the stream gave up before the end.
std::string ReadEntry(PckReader& reader, int index, int32_t chunk = 4096, bool* failed = nullptr);

// The three files of a package.
struct PackageBytes {
  std::string idx, nam, dat;
  bool operator==(const PackageBytes&) const = default;
};
std::ostream& operator<<(std::ostream& out, const PackageBytes& bytes);
PackageBytes LoadPackageBytes(const std::string& base);
void SavePackageBytes(const std::string& base, const PackageBytes& bytes);
std::string Md5OfFile(const std::string& path);

// The patch file that carries `result` as a delta against `base`:
// {"~delta/<path>/<base's MD5>", the delta}.
std::pair<std::string, std::string> DeltaFile(const std::string& path, const std::string& base,
                                              const std::string& result);

// The records of an index image (header skipped), decoded.
std::vector<PckRecord> RecordsOf(const std::string& idxBytes);

// The blocks of the entry at `offset` of a data file image, as its table finds them;
// empty when the entry or a block header lies outside the image.
struct StoredBlock {
  uint64_t at;      // offset of the block header in the data file
  uint8_t codec;
  uint32_t stored;  // payload length
};
std::vector<StoredBlock> BlocksAt(const std::string& dat, uint64_t offset);
// Length of the whole entry (header, table and blocks) at `offset`; 0 when it does not
// lie inside the image.
uint64_t EntryLengthAt(const std::string& dat, uint64_t offset);

// A test with a fresh temporary folder.
class PackageDirTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return m_dir / name; }
  CTempDir m_dir;
};

}  // namespace qvtest
