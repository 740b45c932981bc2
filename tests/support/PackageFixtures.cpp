#include "tests/support/PackageFixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "delta/Delta.h"
#include "pck/PckCodecs.h"
#include "pck/PckReader.h"
#include "pck/PckWriter.h"
#include "tests/support/TempDir.h"

namespace qvtest {

// ---------------------------------------------------------------- source

TextSource::TextSource(std::string content, int32_t declared, int32_t stamp)
    : m_content(std::move(content)),
      m_declared(declared < 0 ? int32_t(m_content.size()) : declared),
      m_stamp(stamp) {}

int32_t TextSource::Read(void* buffer, int32_t length) {
  if (length <= 0 || m_pos >= m_content.size()) return 0;
  size_t n = std::min(size_t(length), m_content.size() - m_pos);
  std::memcpy(buffer, m_content.data() + m_pos, n);
  m_pos += n;
  return int32_t(n);
}

int TextSource::Seek(int32_t offset, int whence) {
  int64_t base = whence == 0 ? 0 : whence == 1 ? int64_t(m_pos) : int64_t(m_content.size());
  m_pos = size_t(std::clamp<int64_t>(base + offset, 0, int64_t(m_content.size())));
  return 0;
}

// ---------------------------------------------------------------- building

namespace {

struct Node {
  const std::string* content = nullptr;  // null for a folder
  std::map<std::string, std::unique_ptr<Node>> children;
};

std::string Emit(PckWriter& w, const Node& folder, const std::string& prefix, const PackageOptions& o) {
  for (const auto& [name, child] : folder.children) {
    const std::string path = prefix.empty() ? name : prefix + "/" + name;
    if (child->content) {
      auto c = o.codecs.find(path);
      TextSource src(*child->content);
      if (w.AppendFile(name, src, c == o.codecs.end() ? o.codec : c->second) != 0)
        return "AppendFile " + path + ": " + w.LastError();
    } else {
      if (w.BeginDir(name) != 0) return "BeginDir " + path + ": " + w.LastError();
      std::string why = Emit(w, *child, path, o);
      if (!why.empty()) return why;
      if (w.EndDir() != 0) return "EndDir " + path;
    }
  }
  return {};
}

Node* Descend(Node& root, const std::string& path, const std::string* content) {
  Node* cur = &root;
  size_t start = 0;
  for (;;) {
    size_t slash = path.find('/', start);
    std::string name = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    auto& slot = cur->children[name];
    if (!slot) slot = std::make_unique<Node>();
    cur = slot.get();
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  if (content) cur->content = content;
  return cur;
}

}  // namespace

std::string BuildPackage(const std::string& base, const FileMap& files, const PackageOptions& options) {
  Node root;
  for (const std::string& f : options.emptyFolders) Descend(root, f, nullptr);
  for (const auto& [path, content] : files) Descend(root, path, &content);
  PckWriter w;
  w.SetPassword(options.password.c_str());
  if (w.Create(base, options.blockSize) != 0) return "Create: " + w.LastError();
  if (w.BeginDir("") != 0) return "BeginDir root: " + w.LastError();
  std::string why = Emit(w, root, "", options);
  if (!why.empty()) {
    w.Abandon();
    return why;
  }
  w.EndDir();
  w.Close();
  if (w.CommitFailed()) return "Close: " + w.LastError();
  return {};
}

// ---------------------------------------------------------------- reading

std::ostream& operator<<(std::ostream& out, const PackageImage& image) {
  out << "{dead " << image.deadBytes << "; folders";
  for (const std::string& f : image.folders) out << ' ' << f;
  out << "; files";
  for (const auto& [path, content] : image.files) {
    uint8_t d[16];
    Md5(content.data(), content.size(), d);
    out << ' ' << path << '(' << content.size() << ':' << Md5Hex(d).substr(0, 8) << ')';
  }
  return out << '}';
}

std::string ReadEntry(PckReader& reader, int index, int32_t chunk, bool* failed) {
  std::string out;
  auto s = reader.OpenEntry(index);
  if (!s) {
    if (failed) *failed = true;
    return out;
  }
  const int64_t size = s->Size();
  std::vector<char> buf(size_t(std::max(chunk, 1)));
  for (;;) {
    int32_t n = s->Read(buf.data(), chunk);
    if (n <= 0 || n > chunk) break;
    out.append(buf.data(), size_t(n));
    if (int64_t(out.size()) > size) break;  // never expected; stops a runaway stream
  }
  if (failed) *failed = s->Failed() || int64_t(out.size()) != size;
  return out;
}

namespace {
bool Walk(PckReader& r, int folder, const std::string& prefix, PackageImage& out, std::string& why) {
  auto it = r.OpenDir(folder);
  if (!it) {
    why = "cannot list folder record " + std::to_string(folder);
    return false;
  }
  while (DirEntry* e = it->Next()) {
    const std::string name = e->name;
    const uint8_t kind = e->kind;
    const int32_t value = e->value;
    const std::string path = prefix.empty() ? name : prefix + "/" + name;
    const int child = r.FindChild(folder, name);
    if (child <= 0) {
      why = "listed child " + path + " is not found by name";
      return false;
    }
    const PckRecord& rec = r.Records()[size_t(child)];
    if (kind == kDirEntryFolder) {
      if (rec.type != kPckFolder || uint32_t(value) != rec.ChildCount()) {
        why = "listing of folder " + path + " disagrees with its record";
        return false;
      }
      out.folders.insert(path);
      if (!Walk(r, child, path, out, why)) return false;
    } else {
      if (rec.type != kPckFile || uint32_t(value) != rec.size) {
        why = "listing of file " + path + " disagrees with its record";
        return false;
      }
      bool failed = false;
      out.files[path] = ReadEntry(r, child, 1000, &failed);
      if (failed) {
        why = "file " + path + " does not read back whole";
        return false;
      }
    }
  }
  return true;
}
}  // namespace

bool ReadPackage(PckReader& reader, PackageImage& out, std::string* why) {
  out = PackageImage{};
  out.deadBytes = reader.Header().deadBytes;
  std::string w;
  if (reader.Records().empty()) return true;
  if (!Walk(reader, 0, "", out, w)) {
    if (why) *why = w;
    return false;
  }
  return true;
}

bool ReadPackage(const std::string& base, PackageImage& out, const std::string& password, std::string* why) {
  PckReader r;
  r.SetPassword(password.c_str());
  if (r.Open(base) != 0) {
    if (why) *why = "open: " + r.LastError();
    return false;
  }
  return ReadPackage(r, out, why);
}

PackageImage ImageOf(const std::string& base, const std::string& password) {
  PackageImage image;
  std::string why;
  if (!ReadPackage(base, image, password, &why)) ADD_FAILURE() << base << ": " << why;
  return image;
}

// ---------------------------------------------------------------- bytes

std::ostream& operator<<(std::ostream& out, const PackageBytes& bytes) {
  auto one = [&out](const char* what, const std::string& b) {
    uint8_t d[16];
    Md5(b.data(), b.size(), d);
    out << what << ' ' << b.size() << " bytes md5 " << Md5Hex(d).substr(0, 8);
  };
  out << '{';
  one("idx", bytes.idx);
  out << "; ";
  one("nam", bytes.nam);
  out << "; ";
  one("dat", bytes.dat);
  return out << '}';
}

PackageBytes LoadPackageBytes(const std::string& base) {
  return {ReadFile(PckIndexName(base)), ReadFile(PckNameTableName(base)), ReadFile(PckDataName(base))};
}

void SavePackageBytes(const std::string& base, const PackageBytes& bytes) {
  WriteFile(PckIndexName(base), bytes.idx);
  WriteFile(PckNameTableName(base), bytes.nam);
  WriteFile(PckDataName(base), bytes.dat);
}

std::string Md5OfFile(const std::string& path) {
  std::string bytes = ReadFile(path);
  uint8_t d[16];
  Md5(bytes.data(), bytes.size(), d);
  return Md5Hex(d);
}

std::pair<std::string, std::string> DeltaFile(const std::string& path, const std::string& base,
                                              const std::string& result) {
  std::vector<uint8_t> delta;
  CError error;
  const int made = MakeDelta(reinterpret_cast<const uint8_t*>(base.data()), base.size(),
                             reinterpret_cast<const uint8_t*>(result.data()), result.size(), 3, SIZE_MAX, delta, error);
  EXPECT_EQ(made, 0) << error.text;
  uint8_t d[16];
  Md5(base.data(), base.size(), d);
  return {"~delta/" + path + "/" + Md5Hex(d), std::string(delta.begin(), delta.end())};
}

std::vector<PckRecord> RecordsOf(const std::string& idxBytes) {
  std::vector<PckRecord> out;
  for (size_t at = kPckHeaderSize; at + kPckRecordSize <= idxBytes.size(); at += kPckRecordSize)
    out.push_back(PckRecord::Decode(reinterpret_cast<const uint8_t*>(idxBytes.data() + at)));
  return out;
}

std::vector<StoredBlock> BlocksAt(const std::string& dat, uint64_t offset) {
  auto le32 = [&dat](uint64_t at) { return GetLE32(reinterpret_cast<const uint8_t*>(dat.data() + at)); };
  std::vector<StoredBlock> out;
  if (offset + kPckEntryHeaderSize > dat.size()) return {};
  const uint32_t n = le32(offset + 1);
  const uint64_t tableEnd = offset + kPckEntryHeaderSize + 4ull * n;
  if (tableEnd > dat.size()) return {};
  for (uint32_t i = 0; i < n; ++i) {
    const uint64_t at = tableEnd + le32(offset + kPckEntryHeaderSize + 4ull * i);
    if (at + kPckBlockHeaderSize > dat.size()) return {};
    out.push_back({at, uint8_t(dat[at]), le32(at + 1)});
  }
  return out;
}

uint64_t EntryLengthAt(const std::string& dat, uint64_t offset) {
  if (offset + kPckEntryHeaderSize > dat.size()) return 0;
  const uint32_t n = GetLE32(reinterpret_cast<const uint8_t*>(dat.data() + offset + 1));
  std::vector<StoredBlock> blocks = BlocksAt(dat, offset);
  if (blocks.size() != n) return 0;
  uint64_t end = offset + kPckEntryHeaderSize + 4ull * n;
  for (const StoredBlock& b : blocks) end = std::max<uint64_t>(end, b.at + kPckBlockHeaderSize + b.stored);
  return end <= dat.size() ? end - offset : 0;
}

}  // namespace qvtest
