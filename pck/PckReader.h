// Reads a package: loads its whole index and name table, answers path lookups through
// one hash map of children, lists folders and hands out streams that decode a stored
// file block by block. It never writes to any file.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "io/DataStream.h"
#include "io/ReadWindow.h"
#include "io/Error.h"
#include "pck/PckCodecs.h"
#include "pck/PckEntryLayout.h"
#include "pck/PckFormat.h"
#include "pck/PckIndex.h"
#include "pck/PckTree.h"

class PckEntryStream;
class PckDirIterator;

class PckReader {
 public:
  PckReader();
  virtual ~PckReader();
  PckReader(const PckReader&) = delete;
  PckReader& operator=(const PckReader&) = delete;

  // A null or empty text clears the password; it applies to every block read after.
  void SetPassword(const char* text);
  // Opens "<base>.idx", "<base>.dat", "<base>.nam" from the disk and loads them.
  // 0 on success, -1 on any failure (LastError() says which).
  int Open(const std::string& base);
  // Loads from streams that the caller opened (index, data, name table); the reader
  // takes them over.
  int Open(std::unique_ptr<DataStream> index, std::unique_ptr<DataStream> data,
           std::unique_ptr<DataStream> names);
  void Close();
  bool IsOpen() const { return m_data != nullptr; }

  // Record index of the entry at a path ("" is the root), or -1.
  int Find(std::string_view path) const;
  int FindChild(int folder, std::string_view name) const;
  std::unique_ptr<PckEntryStream> OpenEntry(std::string_view path);
  std::unique_ptr<PckEntryStream> OpenEntry(int index);
  std::unique_ptr<PckDirIterator> OpenDir(std::string_view path);
  std::unique_ptr<PckDirIterator> OpenDir(int index);
  // Content size of the file at a path; -1 when missing, the root or a folder.
  int FileSize(std::string_view path) const;
  // Decodes block `block` of file record `index` into `out` (one block size). Returns
  // the decoded length, 0 when the arguments name no block or the payload cannot be
  // read, -1 when the block is damaged (it does not decode, or its lengths or offsets
  // lie outside the block or the data file).
  int ReadBlock(int index, int block, uint8_t* out);
  // The bytes file record `index` takes in the data file (its header, table and blocks,
  // as stored); 0 when its layout cannot be read.
  uint64_t StoredExtent(int index);
  // The two halves of ReadBlock: reading block `block` of record `index` as stored (its
  // codec byte and enciphered payload) — the stored length, -1 when the block is
  // damaged, -2 when it cannot be read — and deciphering and decoding such a payload in
  // place into `out` (one block size) under `cipher`, which any thread may do.
  int ReadStoredBlock(int index, int block, std::vector<uint8_t>& payload, uint8_t& codec);
  static int DecodeStored(const CPckCipher& cipher, uint8_t codec, uint8_t* payload, uint32_t stored, uint8_t* out,
                          uint32_t blockSize);
  // Decodes every block of file record `index` and compares the content with its stored
  // size and MD5: 0 when they match, -1 when the entry is damaged (or read under another
  // password), -2 when `onBlock` (handed each decoded block) returned false. On -1,
  // `badBlock` (when given) is the block that did not decode, or kDigestMismatch.
  static constexpr uint32_t kDigestMismatch = 0xFFFFFFFFu;
  using BlockVisitor = std::function<bool(const uint8_t* data, uint32_t length)>;
  int VerifyEntry(int index, const BlockVisitor& onBlock = nullptr, uint32_t* badBlock = nullptr);

  // VerifyEntry for many files at once, in the order given: the deciphering and
  // decoding of their blocks is spread over the block workers (a window of them in
  // flight), while the reading, the digests and the calls below stay on this thread and
  // in order. onBlock(n, data, length) gets the blocks of indices[n] (false stops
  // everything); onFile(n, result, badBlock) the end of each file, with VerifyEntry's
  // results. A file's remaining blocks are skipped once one fails.
  using FileBlockVisitor = std::function<bool(size_t n, const uint8_t* data, uint32_t length)>;
  using FileResult = std::function<void(size_t n, int result, uint32_t badBlock)>;
  void VerifyEntries(const std::vector<int>& indices, const FileBlockVisitor& onBlock, const FileResult& onFile);

  const CPckCipher& Cipher() const { return m_cipher; }
  // Reads at an offset of the data file (from this thread only).
  PckReadAt DataReader();

  // What the tools show.
  const PckHeader& Header() const { return m_header; }
  const std::vector<PckRecord>& Records() const { return m_tree.Records(); }
  std::string_view Name(int index) const;
  std::string_view NameTable() const { return m_tree.Names(); }
  int64_t DataLength() const { return m_dataLength; }
  // Why the last Open failed: its text, and the whole record (the file it concerns,
  // damaged content or the operating system's reason).
  const std::string& LastError() const { return m_error.text; }
  const CError& Error() const { return m_error; }

 private:
  int Load(std::unique_ptr<DataStream> index, std::unique_ptr<DataStream> data, std::unique_ptr<DataStream> names);
  int LoadTables(DataStream& index, DataStream& names);

  int Fail(CError error);
  int Damaged(const std::string& file, std::string why);

  CPckCipher m_cipher;
  PckHeader m_header;
  CPckIndex m_tree;
  std::vector<uint8_t> m_block;  // one stored payload while it is deciphered and decoded
  std::unique_ptr<DataStream> m_index, m_data, m_nameStream;
  int64_t m_dataLength = 0;
  // Reads of the data file: entry headers, table slots, block headers and payloads lie
  // close together, so they are served from one read of the region they fall in.
  std::unique_ptr<CReadWindow> m_window;
  CError m_error;
  struct {
    std::string idx, dat, nam;
  } m_files;  // the names of the package's files, when opened from the disk
};

// A stored file's content, deciphered and decoded one block at a time; its blocks as
// stored are there too, for a writer that can copy them as they are.
class PckEntryStream : public DataStream, public IStoredBlocks {
 public:
  PckEntryStream(PckReader& reader, int index);
  ~PckEntryStream() override;
  int32_t Size() override { return static_cast<int32_t>(m_size); }
  int32_t Stamp() override;
  int32_t Read(void* buffer, int32_t length) override;
  int Seek(int32_t offset, int whence) override;
  bool Eof() override { return m_blockNo >= m_blockCount; }
  int32_t Tell() override;
  int32_t Write(const void*, int32_t) override { return -1; }
  // The stored digest; no data is read.
  int Digest(uint8_t out[16]) override;
  // True once a block failed to decode; the stream then stands at its end.
  bool Failed() override { return m_failed; }
  IStoredBlocks* StoredBlocks() override { return this; }

  uint32_t StoredBlockSize() const override { return m_blockSize; }
  std::string_view StoredPassword() const override;
  uint32_t StoredBlockCount() const override { return m_blockCount; }
  bool StoredIn(const uint8_t* codecs, size_t count) override;
  bool StoredLength(uint32_t block, uint32_t& length) override;
  bool ReadStored(uint32_t block, uint8_t& codec, std::vector<uint8_t>& payload) override;
  void StoredDigest(uint8_t out[16]) override { Digest(out); }

 private:
  bool LoadBlock(uint32_t block);
  // The blocks after the one being read are decoded on the block workers meanwhile.
  struct CAhead;
  int DecodeAhead(uint32_t block);
  void StartAhead(uint32_t block);
  void DropAhead();

  PckReader& m_reader;
  int m_index;
  uint32_t m_size, m_blockSize, m_blockCount;
  // One decoded block. Not zeroed when the stream is made (a stream is made per file
  // read, and zeroing a 64 KiB block cost more than decoding a small file): reads hand
  // out only the bytes the last decode wrote.
  std::unique_ptr<uint8_t[]> m_buffer;
  std::vector<std::unique_ptr<CAhead>> m_aheadJobs;  // in block order, the oldest first
  std::vector<std::unique_ptr<CAhead>> m_aheadFree;
  size_t m_aheadDepth = 0;  // 0: every block decoded when it is read
  uint32_t m_blockNo = 0;
  uint32_t m_decoded = 0, m_left = 0;
  bool m_failed = false;
};

// The direct children of one folder, in index order.
class PckDirIterator : public DirIterator {
 public:
  // `records` and `names` are the owner's tables; the iterator must not outlive them.
  PckDirIterator(const std::vector<PckRecord>& records, const std::string& names, int folder)
      : m_records(records), m_names(names), m_cursor(size_t(folder) + 1) {}
  void Close() override {}
  DirEntry* Next() override;

 private:
  const std::vector<PckRecord>& m_records;
  const std::string& m_names;
  size_t m_cursor;
  DirEntry m_entry;
};

// True when the index, data and name files of a package all exist.
bool PackageExists(const std::string& base);
