// The byte stream and the folder enumerator through which every package and patch file
// is read and written: a file on disk, a block of memory or a package entry look the
// same to the code above them.
#pragma once

#include <cstdint>
#include <cstdio>

#include <string_view>
#include <vector>

// The blocks of a stream's content as a package stores them (compressed, enciphered), for
// a writer that can take them as they are: same block size, same password, codecs it
// would have chosen itself. Nothing is decoded.
class IStoredBlocks {
 public:
  virtual ~IStoredBlocks() = default;
  virtual uint32_t StoredBlockSize() const = 0;
  virtual std::string_view StoredPassword() const = 0;
  virtual uint32_t StoredBlockCount() const = 0;
  // True when every block is stored with one of the `count` codec bytes given, and at
  // least one with the first of them (an entry of only Stored blocks may have been
  // written without compression at all).
  virtual bool StoredIn(const uint8_t* codecs, size_t count) = 0;
  // The payload length of block `block`; false when it cannot be read.
  virtual bool StoredLength(uint32_t block, uint32_t& length) = 0;
  // Block `block` as stored: its codec byte and its (enciphered) payload.
  virtual bool ReadStored(uint32_t block, uint8_t& codec, std::vector<uint8_t>& payload) = 0;
  // The digest recorded for the whole content.
  virtual void StoredDigest(uint8_t out[16]) = 0;
};

// The order of the virtual operations is part of the interface.
class DataStream {
 public:
  virtual ~DataStream() = default;
  // Total length in bytes.
  virtual int32_t Size() = 0;
  // Modification time in seconds since 1970-01-01, 0 when not available.
  virtual int32_t Stamp() = 0;
  // Number of bytes delivered.
  virtual int32_t Read(void* buffer, int32_t length) = 0;
  // whence 0 from the start, 1 from the current position, 2 from the end; 0 on success.
  virtual int Seek(int32_t offset, int whence) = 0;
  virtual bool Eof() = 0;
  virtual int32_t Tell() = 0;
  // Number of bytes written.
  virtual int32_t Write(const void* buffer, int32_t length) = 0;
  // Write(buffer, length) `count` times; the sum, or -1 as soon as one call falls short.
  virtual int32_t WriteRepeated(const void* buffer, int32_t length, int32_t count);
  // The MD5 of the whole content; 0 on success.
  virtual int Digest(uint8_t out[16]);
  // The underlying C runtime file, or null.
  virtual FILE* Handle() { return nullptr; }
  // 64-bit position and length, for package data files past 2 GiB. The default works
  // within the 32-bit range of Seek and Size.
  virtual int Seek64(int64_t offset);
  virtual int64_t Length64() { return Size(); }
  // True once the stream knows that what it delivered is not the content it stands for
  // (a block that does not decode, a digest that does not match). Copies check it
  // before they keep what they wrote.
  virtual bool Failed() { return false; }
  // The content's blocks as a package stores them, when that is where it comes from.
  virtual IStoredBlocks* StoredBlocks() { return nullptr; }
};

// One entry of a folder listing; the enumerator reuses one record for every entry.
struct DirEntry {
  static constexpr size_t kNameRoom = 514;
  uint8_t kind = 0;   // 0 file, 1 folder
  int32_t value = 0;  // a file's size; a disk folder 0; a package folder its child count
  char name[kNameRoom + 1] = {};
};
inline constexpr uint8_t kDirEntryFile = 0;
inline constexpr uint8_t kDirEntryFolder = 1;

class DirIterator {
 public:
  virtual ~DirIterator() = default;
  virtual void Close() = 0;
  // The next entry, or null when there are no more.
  virtual DirEntry* Next() = 0;
};
