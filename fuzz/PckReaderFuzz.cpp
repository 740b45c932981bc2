// The package reader on hostile packages. One input is the three files of a package,
// index, name table and data, joined by the part separator. Each is opened from memory
// twice, without a password and with the game's, and then every folder is listed, every
// listed name looked up again by its path, and every file read whole through its entry
// stream in pieces of changing size, with seeks in between.
//
// Beyond the sanitizers' findings the harness checks what the callers rely on: a stream
// that did not fail delivers exactly its size, reads never deliver more than asked, a
// folder listing ends, and what a listing shows can be found by its path.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "io/FileStream.h"
#include "fuzz/FuzzSupport.h"
#include "pck/PckFormat.h"
#include "pck/PckReader.h"

namespace {

// Decoding a damaged package may legitimately produce a lot of content (blocks that
// all point at one highly compressed block); past this much an input is not read on.
// Every path through the decoder shows within far fewer bytes, and the fuzzer's speed
// is worth more than the length of one input's reads.
constexpr uint64_t kReadBudget = 1u << 20;
// Every stream holds one block; a few dozen streams an input are plenty.
constexpr size_t kMaxEntriesRead = 48;
// Block sizes from 64 KiB to the largest usable one (16 MiB) are folded to 64 KiB and
// below: the reader takes a block-sized buffer per package and per stream, at 16 MiB
// that alone held the harness to a hundred runs a second, and past 128 KiB each is a
// fresh mapping of AddressSanitizer's (page faults and TLB flushes on every input). The
// arithmetic is the same 64-bit code whatever the size; sizes past 16 MiB, which are
// refused, are left as they are.
constexpr uint32_t kFoldBlock = 1u << 16;
constexpr size_t kBlockSizeField = 20;  // in the index's header: magic (16), version (4)

void FoldBlockSize(std::string& idx) {
  if (idx.size() < kBlockSizeField + 4) return;
  auto* field = reinterpret_cast<uint8_t*>(idx.data()) + kBlockSizeField;
  const uint32_t size = GetLE32(field);
  if (size > kFoldBlock && size <= kPckMaxBlockSize) PutLE32(field, 1 + (size - 1) % kFoldBlock);
}

// Reads the file record `index` to its end in pieces of changing size.
void ReadEntry(PckReader& reader, int index, uint64_t& budget) {
  std::unique_ptr<PckEntryStream> entry = reader.OpenEntry(index);
  QV_FUZZ_CHECK(entry != nullptr);
  const uint32_t size = reader.Records()[size_t(index)].size;
  QV_FUZZ_CHECK(uint32_t(entry->Size()) == size);
  uint8_t digest[16];
  QV_FUZZ_CHECK(entry->Digest(digest) == 0);

  constexpr int32_t kPiece = 70000;
  uint8_t* piece = qvfuzz::Scratch(0, kPiece).Take(kPiece);
  uint64_t total = 0;
  int32_t chunk = 1 + index % 97;
  std::vector<uint8_t> head;  // the first piece, to compare after a seek back
  while (!entry->Eof() && budget > 0) {
    const int32_t want = std::min<int32_t>(chunk, kPiece);
    const int32_t n = entry->Read(piece, want);
    QV_FUZZ_CHECK(n >= 0 && n <= want);
    QV_FUZZ_CHECK(n > 0 || entry->Eof() || entry->Failed());
    if (head.empty() && n > 0) head.assign(piece, piece + n);
    total += uint64_t(n);
    budget -= std::min<uint64_t>(budget, uint64_t(n) + 1);
    QV_FUZZ_CHECK(total <= size);
    if (n == 0) break;
    if (!entry->Failed()) QV_FUZZ_CHECK(uint64_t(uint32_t(entry->Tell())) == total);
    chunk = chunk * 7 % 65521 + 1;
  }
  if (entry->Eof() && !entry->Failed()) QV_FUZZ_CHECK(total == size);
  QV_FUZZ_CHECK(entry->Read(piece, 0) == 0);

  // Seeks: back to the start (the same bytes again), into the middle, past the end.
  if (!entry->Failed() && !head.empty()) {
    QV_FUZZ_CHECK(entry->Seek(0, 0) == 0);
    const int32_t n = entry->Read(piece, int32_t(head.size()));
    if (!entry->Failed()) {
      QV_FUZZ_CHECK(size_t(n) == head.size());
      QV_FUZZ_CHECK(std::memcmp(piece, head.data(), head.size()) == 0);
    }
  }
  if (!entry->Failed()) {
    const int32_t middle = int32_t(size / 2);
    if (entry->Seek(middle, 0) == 0 && !entry->Failed() && middle < int32_t(size))
      QV_FUZZ_CHECK(entry->Tell() == middle);
  }
  entry->Seek(1, 2);
  QV_FUZZ_CHECK(entry->Eof());
  QV_FUZZ_CHECK(entry->Read(piece, 16) == 0);
  entry->Seek(-5, 0);  // a negative target is the start
  if (!entry->Failed() && size > 0) QV_FUZZ_CHECK(entry->Tell() == 0);
}

// Lists the folder at `path` and every folder below it, checking each listed name
// against a lookup by path.
void Walk(PckReader& reader, const std::string& path, int depth, size_t& listed) {
  std::unique_ptr<PckDirIterator> dir = reader.OpenDir(path);
  if (!dir) return;
  const size_t records = reader.Records().size();
  std::vector<std::string> folders;
  while (DirEntry* e = dir->Next()) {
    QV_FUZZ_CHECK(++listed <= records);  // a listing that ends
    const size_t length = strnlen(e->name, sizeof e->name);
    QV_FUZZ_CHECK(length < sizeof e->name);
    const std::string child = path.empty() ? std::string(e->name) : path + "/" + e->name;
    // Only a name that the path splitter gives back whole can be looked up by path. An
    // empty name (which only a damaged index holds) matches nothing, as in any path.
    std::vector<std::string_view> names, parent;
    if (length == 0 || !PckSplitPath(child, names) || !PckSplitPath(path, parent) || names.size() != parent.size() + 1 ||
        names.back() != std::string_view(e->name, length))
      continue;
    const int found = reader.Find(child);
    QV_FUZZ_CHECK(found > 0);
    const PckRecord& r = reader.Records()[size_t(found)];
    if (e->kind == kDirEntryFile) {
      QV_FUZZ_CHECK(r.type == kPckFile);
      QV_FUZZ_CHECK(reader.FileSize(child) == e->value);
      QV_FUZZ_CHECK(reader.OpenDir(child) == nullptr);
    } else {
      QV_FUZZ_CHECK(e->kind == kDirEntryFolder && r.type == kPckFolder);
      QV_FUZZ_CHECK(reader.FileSize(child) == -1);
      folders.push_back(child);
    }
  }
  if (depth < kPckMaxPathNames)
    for (const std::string& f : folders) Walk(reader, f, depth + 1, listed);
}

void Exercise(const std::vector<std::string>& parts, const char* password) {
  // Exact copies, so that a read past any of the three files is caught.
  std::unique_ptr<uint8_t[]> idx(new uint8_t[parts[0].size() + 1]), nam(new uint8_t[parts[1].size() + 1]),
      dat(new uint8_t[parts[2].size() + 1]);
  std::memcpy(idx.get(), parts[0].data(), parts[0].size());
  std::memcpy(nam.get(), parts[1].data(), parts[1].size());
  std::memcpy(dat.get(), parts[2].data(), parts[2].size());

  PckReader reader;
  reader.SetPassword(password);
  const int rc = reader.Open(std::make_unique<MemoryStream>(idx.get(), int32_t(parts[0].size())),
                             std::make_unique<MemoryStream>(dat.get(), int32_t(parts[2].size())),
                             std::make_unique<MemoryStream>(nam.get(), int32_t(parts[1].size())));
  if (rc != 0) {
    QV_FUZZ_CHECK(rc == -1 && !reader.IsOpen());
    QV_FUZZ_CHECK(reader.Find("") == -1 && reader.OpenEntry("a") == nullptr && reader.OpenDir("") == nullptr);
    return;
  }
  const std::vector<PckRecord>& records = reader.Records();
  QV_FUZZ_CHECK(records.empty() || reader.Find("") == 0);

  // Every folder by its index: the listing ends and never shows more than its span.
  for (size_t i = 0; i < records.size(); ++i) {
    if (records[i].type != kPckFolder) continue;
    std::unique_ptr<PckDirIterator> dir = reader.OpenDir(int(i));
    QV_FUZZ_CHECK(dir != nullptr);
    size_t n = 0;
    while (dir->Next()) QV_FUZZ_CHECK(++n <= records[i].Span());
    QV_FUZZ_CHECK(dir->Next() == nullptr);
  }
  size_t listed = 0;
  Walk(reader, "", 0, listed);

  uint64_t budget = kReadBudget;
  size_t opened = 0;
  for (size_t i = 0; i < records.size() && opened < kMaxEntriesRead && budget > 0; ++i) {
    if (records[i].type == kPckFile) {
      ReadEntry(reader, int(i), budget);
      ++opened;
    } else {
      QV_FUZZ_CHECK(reader.OpenEntry(int(i)) == nullptr);
    }
  }
  // Blocks that do not exist are refused without touching anything.
  std::vector<uint8_t> out(reader.Header().blockSize);
  for (size_t i = 0; i < records.size() && i < 8; ++i) {
    QV_FUZZ_CHECK(reader.ReadBlock(int(i), -1, out.data()) == 0);
    const uint32_t blocks = PckBlockCount(records[i].size, reader.Header().blockSize);
    if (records[i].type != kPckFile || blocks <= uint32_t(INT32_MAX))
      QV_FUZZ_CHECK(reader.ReadBlock(int(i), int(std::min<uint32_t>(blocks, INT32_MAX)), out.data()) == 0);
  }
  QV_FUZZ_CHECK(reader.ReadBlock(int(records.size()), 0, out.data()) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> parts = qvfuzz::SplitParts(data, size, 3);
  FoldBlockSize(parts[0]);
  Exercise(parts, nullptr);
  Exercise(parts, kPckGamePassword);
  return 0;
}
