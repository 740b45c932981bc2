// The game's own copies of the files that a patch's deltas apply to: each one read as
// the game has it before the release changes anything, an entry of one of its packages
// or a plain file.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "fs/FileTarget.h"
#include "io/DataStream.h"
#include "io/Error.h"

class PckReader;

// What the game has where a delta's result lands.
struct DeltaBaseInfo {
  uint32_t size = 0;
  uint8_t md5[16] = {};
  // The bytes the file takes on the disk: a package entry's stored extent in its data
  // file, a plain file its size. The result of a delta will take about as much.
  uint64_t stored = 0;
};

class CDeltaBases {
 public:
  explicit CDeltaBases(std::string password) : m_password(std::move(password)) {}
  ~CDeltaBases();
  CDeltaBases(const CDeltaBases&) = delete;
  CDeltaBases& operator=(const CDeltaBases&) = delete;

  // Whether the game has a file at `landing` and its size and MD5: a package entry's
  // recorded ones (its content is checked against them when it is read), a plain file's
  // taken by reading it. 1 when it has one, 0 when nothing is there (or a folder), -1
  // with `error` when it cannot be read.
  int Identify(const Landing& landing, DeltaBaseInfo& info, CError& error);
  // The content of the file at `landing`, from its start; null with `error`.
  std::unique_ptr<DataStream> Open(const Landing& landing, CError& error);
  // Closes every package: a package cannot take a new index on Windows while a reader
  // holds it, so the release closes them before it commits.
  void Close() { m_readers.clear(); }

 private:
  // The reader of the package at `base`, opened once; null with `error`.
  PckReader* Package(const std::string& base, CError& error);

  std::string m_password;
  std::map<std::string, std::unique_ptr<PckReader>> m_readers;  // by folded base
};
