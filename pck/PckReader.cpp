// PckReader, PckEntryStream and PckDirIterator.
#include "pck/PckReader.h"

#include "io/Workers.h"

#include <algorithm>
#include <cstring>

#include "io/FileStream.h"
#include "platform/Platform.h"

bool PackageExists(const std::string& base) {
  return plat::FileExists(PckIndexName(base)) && plat::FileExists(PckDataName(base)) &&
         plat::FileExists(PckNameTableName(base));
}

PckReader::PckReader() : m_header(PckHeader::Default()) {}
PckReader::~PckReader() { Close(); }

void PckReader::SetPassword(const char* text) { m_cipher.SetPassword(text ? text : ""); }

int PckReader::Fail(CError error) {
  m_error = std::move(error);
  return -1;
}

int PckReader::Damaged(const std::string& file, std::string why) {
  return Fail(Failure(ErrorKind::Damaged, file, std::move(why)));
}

int PckReader::Open(const std::string& base) {
  Close();
  // index, data, name table: the first that cannot be opened ends the call
  auto index = OpenFileStream(PckIndexName(base), "rb");
  if (!index) return Fail(OsFailure("open", PckIndexName(base)));
  auto data = OpenFileStream(PckDataName(base), "rb");
  if (!data) return Fail(OsFailure("open", PckDataName(base)));
  auto names = OpenFileStream(PckNameTableName(base), "rb");
  if (!names) return Fail(OsFailure("open", PckNameTableName(base)));
  m_files = {PckIndexName(base), PckDataName(base), PckNameTableName(base)};
  const int rc = Load(std::move(index), std::move(data), std::move(names));
  if (rc != 0) m_files = {};
  return rc;
}

int PckReader::Open(std::unique_ptr<DataStream> index, std::unique_ptr<DataStream> data,
                    std::unique_ptr<DataStream> names) {
  Close();
  m_files = {};
  return Load(std::move(index), std::move(data), std::move(names));
}

int PckReader::Load(std::unique_ptr<DataStream> index, std::unique_ptr<DataStream> data,
                    std::unique_ptr<DataStream> names) {
  if (!index || !data || !names) return Fail(Failure(ErrorKind::BadArgument, "", "missing package file"));
  m_index = std::move(index);
  m_data = std::move(data);
  m_nameStream = std::move(names);
  if (LoadTables(*m_index, *m_nameStream) != 0) {
    CError why = m_error;
    Close();
    m_error = why;
    return -1;
  }
  // Index and name table are in memory now. Holding their files open would gain nothing
  // and, on Windows, would make every commit of a writer on this package fail: the new
  // index cannot be renamed over a file that is open. The data file stays open; editing
  // only appends to it, so what this reader has loaded stays valid while others edit.
  m_index.reset();
  m_nameStream.reset();
  return 0;
}

namespace {
constexpr size_t kDataWindowBytes = 256u << 10;
// Blocks an entry stream decodes ahead of its reader at most.
constexpr size_t kMaxAhead = 4;
// Reads a whole stream from its start.
bool ReadWhole(DataStream& s, std::string& out) {
  int64_t len = s.Length64();
  if (len < 0 || len > INT32_MAX || s.Seek64(0) != 0) return false;
  out.resize(static_cast<size_t>(len));
  size_t got = 0;
  while (got < out.size()) {
    int32_t n = s.Read(out.data() + got, static_cast<int32_t>(out.size() - got));
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  return true;
}
}  // namespace

int PckReader::LoadTables(DataStream& index, DataStream& names) {
  std::string idx, table, why;
  std::vector<PckRecord> records;
  if (!ReadWhole(index, idx)) return Damaged(m_files.idx, "cannot read the index");
  if (!PckParseIndex(idx, m_header, records, &why)) return Damaged(m_files.idx, why);
  if (!m_header.HasUsableBlockSize())
    return Damaged(m_files.idx, "block size " + std::to_string(m_header.blockSize) + " is out of range");
  if (!ReadWhole(names, table)) return Damaged(m_files.nam, "cannot read the name table");
  if (!PckCheckTree(records, table, &why)) return Damaged(m_files.idx, why);
  m_dataLength = m_data->Length64();
  if (m_dataLength < 0) return Damaged(m_files.dat, "cannot measure the data file");
  m_window = std::make_unique<CReadWindow>(
      [this](uint64_t offset, void* out, size_t length) {
        return m_data->Seek64(int64_t(offset)) == 0 && m_data->Read(out, int32_t(length)) == int32_t(length);
      },
      uint64_t(m_dataLength), kDataWindowBytes);
  m_block.assign(m_header.blockSize, 0);
  // Two children with equal names fail the load: no lookup could tell them apart.
  if (!m_tree.Build(std::move(records), std::move(table), &why)) return Damaged(m_files.idx, why);
  return 0;
}

void PckReader::Close() {
  m_index.reset();
  m_window.reset();
  m_data.reset();
  m_nameStream.reset();
  m_tree.Clear();
  m_block.clear();
  m_dataLength = 0;
}

std::string_view PckReader::Name(int index) const { return m_tree.Name(index); }

uint64_t PckReader::StoredExtent(int index) {
  if (index <= 0 || size_t(index) >= Records().size() || Records()[size_t(index)].type != kPckFile) return 0;
  PckEntryLayout layout;
  return PckReadEntryLayout(DataReader(), uint64_t(m_dataLength), Records()[size_t(index)], m_header.blockSize,
                            layout) == PckLayoutRead::Ok
             ? layout.Extent()
             : 0;
}

int PckReader::FindChild(int folder, std::string_view name) const { return m_tree.FindChild(folder, name); }

int PckReader::Find(std::string_view path) const { return m_tree.Find(path); }

int PckReader::FileSize(std::string_view path) const {
  int i = Find(path);
  if (i <= 0 || Records()[size_t(i)].type != kPckFile) return -1;
  return static_cast<int>(Records()[size_t(i)].size);
}

std::unique_ptr<PckEntryStream> PckReader::OpenEntry(std::string_view path) {
  return OpenEntry(Find(path));
}

std::unique_ptr<PckEntryStream> PckReader::OpenEntry(int index) {
  if (index < 0 || size_t(index) >= Records().size() || Records()[size_t(index)].type != kPckFile) return nullptr;
  return std::make_unique<PckEntryStream>(*this, index);
}

std::unique_ptr<PckDirIterator> PckReader::OpenDir(std::string_view path) { return OpenDir(Find(path)); }

std::unique_ptr<PckDirIterator> PckReader::OpenDir(int index) { return m_tree.OpenDir(index); }

PckReadAt PckReader::DataReader() {
  return [this](uint64_t offset, void* out, size_t length) { return m_window && m_window->Read(offset, out, length); };
}

int PckReader::ReadStoredBlock(int index, int block, std::vector<uint8_t>& payload, uint8_t& codec) {
  if (index < 0 || size_t(index) >= Records().size() || !m_data) return -2;
  const PckRecord& r = Records()[size_t(index)];
  if (r.type != kPckFile) return -2;
  const uint32_t bs = m_header.blockSize;
  if (block < 0 || uint32_t(block) >= PckBlockCount(r.size, bs)) return -2;

  // Every offset is checked against the data file before it is followed.
  PckStoredBlock where;
  switch (PckLocateBlock(DataReader(), uint64_t(m_dataLength), r, bs, uint32_t(block), where)) {
    case PckLayoutRead::Outside: return -1;
    case PckLayoutRead::Unreadable: return -2;
    case PckLayoutRead::Ok: break;
  }
  if (where.stored > bs) return -1;                     // no block of this package can be that long
  if (where.End() > uint64_t(m_dataLength)) return -1;  // runs past the data file
  if (payload.size() < bs) payload.resize(bs);
  if (where.stored > 0 && !DataReader()(where.at + kPckBlockHeaderSize, payload.data(), where.stored)) return -2;
  codec = where.codec;
  return int(where.stored);
}

int PckReader::DecodeStored(const CPckCipher& cipher, uint8_t codec, uint8_t* payload, uint32_t stored, uint8_t* out,
                            uint32_t blockSize) {
  cipher.Decipher(payload, stored);
  return DecodeBlock(codec, payload, stored, out, blockSize);
}

int PckReader::ReadBlock(int index, int block, uint8_t* out) {
  if (!out || m_block.empty()) return 0;
  uint8_t codec = 0;
  const int stored = ReadStoredBlock(index, block, m_block, codec);
  if (stored == -2) return 0;
  if (stored < 0) return -1;
  return DecodeStored(m_cipher, codec, m_block.data(), uint32_t(stored), out, m_header.blockSize);
}

int PckReader::VerifyEntry(int index, const BlockVisitor& onBlock, uint32_t* badBlock) {
  int result = -1;
  uint32_t bad = kDigestMismatch;
  FileBlockVisitor visit;
  if (onBlock) visit = [&onBlock](size_t, const uint8_t* data, uint32_t length) { return onBlock(data, length); };
  VerifyEntries({index}, visit, [&](size_t, int r, uint32_t b) {
    result = r;
    bad = b;
  });
  if (badBlock) *badBlock = bad;
  return result;
}

// ---------------------------------------------------------------- entry stream

// A block on its way through a worker.
struct PckEntryStream::CAhead {
  CPckCipher cipher;
  std::vector<uint8_t> payload;
  std::unique_ptr<uint8_t[]> out;  // a block's room, as the stream's own
  uint32_t block = 0;
  int result = -1;  // the decoded length, or -1
  CWorkers::CJob job;  // last: destroyed (and waited for) first
};

PckEntryStream::PckEntryStream(PckReader& reader, int index)
    : m_reader(reader),
      m_index(index),
      m_size(reader.Records()[size_t(index)].size),
      m_blockSize(reader.Header().blockSize),
      m_blockCount(PckBlockCount(m_size, m_blockSize)),
      m_buffer(std::make_unique_for_overwrite<uint8_t[]>(std::max<uint32_t>(m_blockSize, 1))) {
  // A file of one block has nothing to read ahead.
  const CWorkers& workers = CWorkers::Shared();
  if (workers.Threads() > 0 && m_blockCount > 1)
    m_aheadDepth = std::min<size_t>(std::min<size_t>(workers.Depth(), kMaxAhead), m_blockCount);
  LoadBlock(0);
}

PckEntryStream::~PckEntryStream() { DropAhead(); }

void PckEntryStream::DropAhead() {
  for (auto& a : m_aheadJobs) {
    a->job.Wait();
    m_aheadFree.push_back(std::move(a));
  }
  m_aheadJobs.clear();
}

void PckEntryStream::StartAhead(uint32_t block) {
  std::unique_ptr<CAhead> a;
  if (!m_aheadFree.empty()) {
    a = std::move(m_aheadFree.back());
    m_aheadFree.pop_back();
  } else {
    a = std::make_unique<CAhead>();
    a->cipher.SetPassword(m_reader.Cipher().Password());
    a->out = std::make_unique_for_overwrite<uint8_t[]>(std::max<uint32_t>(m_blockSize, 1));
  }
  a->block = block;
  a->result = -1;
  uint8_t codec = 0;
  // The stored bytes are read here, on the reader's thread; only decoding moves.
  const int stored = m_reader.ReadStoredBlock(m_index, int(block), a->payload, codec);
  if (stored >= 0) {
    CAhead* p = a.get();
    const uint32_t bs = m_blockSize;
    p->job.Run(CWorkers::Shared(), [p, codec, stored, bs] {
      p->result = PckReader::DecodeStored(p->cipher, codec, p->payload.data(), uint32_t(stored), p->out.get(), bs);
    });
  }
  m_aheadJobs.push_back(std::move(a));
}

int PckEntryStream::DecodeAhead(uint32_t block) {
  // A jump (a seek) drops what was read ahead.
  if (!m_aheadJobs.empty() && m_aheadJobs.front()->block != block) DropAhead();
  if (m_aheadJobs.empty()) StartAhead(block);
  std::unique_ptr<CAhead> a = std::move(m_aheadJobs.front());
  m_aheadJobs.erase(m_aheadJobs.begin());
  // The next blocks start before this one is waited for.
  uint32_t next = m_aheadJobs.empty() ? block + 1 : m_aheadJobs.back()->block + 1;
  while (m_aheadJobs.size() + 1 < m_aheadDepth && next < m_blockCount) StartAhead(next++);
  a->job.Wait();
  const int n = a->result;
  std::swap(a->out, m_buffer);
  m_aheadFree.push_back(std::move(a));
  return n;
}

int32_t PckEntryStream::Stamp() { return m_reader.Records()[size_t(m_index)].stamp; }

int PckEntryStream::Digest(uint8_t out[16]) {
  std::memcpy(out, m_reader.Records()[size_t(m_index)].digest, 16);
  return 0;
}

// Decodes `block` into the buffer. A block that does not decode to exactly its share of
// the content marks the stream failed and leaves it at its end, so a read stops there
// and never hands out bytes that were not decoded.
bool PckEntryStream::LoadBlock(uint32_t block) {
  m_blockNo = block;
  m_decoded = m_left = 0;
  if (m_failed) {
    m_blockNo = m_blockCount;
    return false;
  }
  if (block >= m_blockCount) return true;
  const uint32_t expect = std::min<uint64_t>(m_blockSize, uint64_t(m_size) - uint64_t(block) * m_blockSize);
  // The first block is decoded here (a stream opened only for its stored blocks, or for
  // one read, costs no more); the workers start on the blocks after it once the reader
  // goes on to the second.
  int n;
  if (m_aheadDepth > 0 && block > 0) {
    n = DecodeAhead(block);
  } else {
    DropAhead();
    n = m_reader.ReadBlock(m_index, int(block), m_buffer.get());
  }
  if (n < 0 || uint32_t(n) != expect) {
    m_failed = true;
    m_blockNo = m_blockCount;
    DropAhead();
    return false;
  }
  m_decoded = m_left = uint32_t(n);
  return true;
}

int32_t PckEntryStream::Read(void* buffer, int32_t length) {
  if (length < 1) return 0;
  auto* out = static_cast<uint8_t*>(buffer);
  uint32_t want = uint32_t(length), done = 0;
  while (want > m_left) {
    std::memcpy(out + done, m_buffer.get() + (m_decoded - m_left), m_left);
    done += m_left;
    want -= m_left;
    m_left = 0;
    if (m_blockNo >= m_blockCount || m_blockNo + 1 >= m_blockCount) {
      m_blockNo = m_blockCount;
      m_decoded = 0;
      return int32_t(done);
    }
    if (!LoadBlock(m_blockNo + 1)) return int32_t(done);
  }
  std::memcpy(out + done, m_buffer.get() + (m_decoded - m_left), want);
  m_left -= want;
  return int32_t(done + want);
}

int32_t PckEntryStream::Tell() {
  // Past the last block the position is the end of the content, not the end of a whole
  // number of blocks.
  if (m_blockNo >= m_blockCount) return int32_t(m_size);
  return int32_t(uint64_t(m_blockNo) * m_blockSize + m_decoded - m_left);
}

int PckEntryStream::Seek(int32_t offset, int whence) {
  int64_t here = Eof() ? int64_t(m_size) : int64_t(Tell());
  int64_t target = whence == 0 ? offset : whence == 1 ? here + offset : whence == 2 ? int64_t(m_size) + offset : here;
  if (target < 0) target = 0;
  uint32_t block, inBlock;
  if (target >= int64_t(m_size)) {
    block = m_blockCount;
    inBlock = 0;
  } else {
    block = uint32_t(target / m_blockSize);
    inBlock = uint32_t(target % m_blockSize);
  }
  if (block != m_blockNo || (m_decoded == 0 && block < m_blockCount)) {
    if (!LoadBlock(block)) return -1;  // the block does not decode: the stream stands at its end
  }
  m_left = m_decoded > inBlock ? m_decoded - inBlock : 0;
  return 0;
}

std::string_view PckEntryStream::StoredPassword() const { return m_reader.Cipher().Password(); }

bool PckEntryStream::StoredIn(const uint8_t* codecs, size_t count) {
  PckEntryLayout layout;
  if (PckReadEntryLayout(m_reader.DataReader(), uint64_t(m_reader.DataLength()), m_reader.Records()[size_t(m_index)],
                         m_blockSize, layout) != PckLayoutRead::Ok)
    return false;
  bool first = false;
  for (const PckStoredBlock& b : layout.blocks) {
    if (std::find(codecs, codecs + count, b.codec) == codecs + count || b.stored > m_blockSize) return false;
    first = first || (count > 0 && b.codec == codecs[0]);
  }
  return first;
}

bool PckEntryStream::StoredLength(uint32_t block, uint32_t& length) {
  PckStoredBlock where;
  if (PckLocateBlock(m_reader.DataReader(), uint64_t(m_reader.DataLength()), m_reader.Records()[size_t(m_index)],
                     m_blockSize, block, where) != PckLayoutRead::Ok)
    return false;
  length = where.stored;
  return true;
}

bool PckEntryStream::ReadStored(uint32_t block, uint8_t& codec, std::vector<uint8_t>& payload) {
  const int stored = m_reader.ReadStoredBlock(m_index, int(block), payload, codec);
  if (stored < 0) return false;
  payload.resize(size_t(stored));
  return true;
}

// ---------------------------------------------------------------- folder iterator

DirEntry* PckDirIterator::Next() {
  if (m_cursor >= m_records.size()) return nullptr;
  const PckRecord& r = m_records[m_cursor];
  if (r.type != kPckFile && r.type != kPckFolder) return nullptr;
  std::string_view name = PckNameAt(m_names, r.nameOffset);
  size_t n = std::min<size_t>(name.size(), 511);
  std::memcpy(m_entry.name, name.data(), n);
  m_entry.name[n] = '\0';
  if (r.type == kPckFile) {
    m_entry.kind = kDirEntryFile;
    m_entry.value = int32_t(r.size);
    m_cursor += 1;
  } else {
    m_entry.kind = kDirEntryFolder;
    m_entry.value = int32_t(r.ChildCount());
    m_cursor += size_t(r.Span()) + 2;
  }
  return &m_entry;
}
