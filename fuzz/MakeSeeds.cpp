// Writes the seed inputs of every fuzz harness: small valid packages, blocks, payloads,
// version files and Delete.txt lists, made with the project's own writers so that the
// fuzzers start from what the updater really meets.
//   qv_fuzz_seeds OUTDIR   ->   OUTDIR/<harness>/seed-NN
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "delta/Delta.h"
#include "io/Digest.h"
#include "io/FileStream.h"
#include "fuzz/FuzzSupport.h"
#include "pck/PckCodecs.h"
#include "pck/PckFormat.h"
#include "pck/PckWriter.h"
#include "payload/PayloadFormat.h"

namespace {

using qvfuzz::JoinParts;

// The seeds go to the real disk; the packages and payloads they are made of are written
// into the in-memory file system that this build's platform layer works on.
class CSeeds {
 public:
  CSeeds(std::string root, const char* harness) : m_dir(root + "/" + harness) {
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
    std::filesystem::create_directories(m_dir, ec);
    if (ec) qvfuzz::Fail(__FILE__, __LINE__, ("cannot make " + m_dir).c_str());
  }
  void Add(std::string_view bytes) {
    char name[32];
    std::snprintf(name, sizeof name, "/seed-%02d", m_count++);
    std::ofstream out(m_dir + name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    if (!out) qvfuzz::Fail(__FILE__, __LINE__, ("cannot write " + m_dir + name).c_str());
  }

 private:
  std::string m_dir;
  int m_count = 0;
};

// Some text that compresses, as game data does.
std::string Compressible(size_t n, char salt) {
  std::string s;
  while (s.size() < n) s += std::string("ShopItem ") + salt + " price=" + std::to_string(s.size() % 977) + "\r\n";
  s.resize(n);
  return s;
}

struct Package {
  std::string idx, nam, dat;
};

bool Append(PckWriter& w, const char* name, std::string text, int codec) {
  MemoryStream source(text.data(), int32_t(text.size()));
  return w.AppendFile(name, source, codec) == 0;
}

// A package with folders, every codec, an empty file and a name in code page 936.
Package MakePackage(const std::string& base, const char* password, uint32_t blockSize, bool empty) {
  PckWriter w;
  w.SetPassword(password);
  QV_FUZZ_CHECK(w.Create(base, blockSize) == 0);
  QV_FUZZ_CHECK(w.BeginDir("") == 0);  // the root
  if (!empty) {
    QV_FUZZ_CHECK(Append(w, "CVer.txt", "[Ver]\r\nCurVer=1.0.6\r\nValidVer=1.0.5\r\n", 2));
    QV_FUZZ_CHECK(w.BeginDir("mb") == 0);
    QV_FUZZ_CHECK(Append(w, "ShopItem.txt", Compressible(blockSize < 1024 ? 100 : 3000, 'a'), 1));
    QV_FUZZ_CHECK(Append(w, "empty.txt", "", 1));
    QV_FUZZ_CHECK(w.EndDir() == 0);
    QV_FUZZ_CHECK(w.BeginDir("\xd7\xd6\xcc\xe5") == 0);  // 字体
    QV_FUZZ_CHECK(Append(w, "raw.bin", std::string("\x01\x02\x03\xff\xfe", 5), 0));
    QV_FUZZ_CHECK(Append(w, "lzo.txt", Compressible(blockSize < 1024 ? 60 : 900, 'b'), 2));
    QV_FUZZ_CHECK(w.EndDir() == 0);
  }
  QV_FUZZ_CHECK(w.EndDir() == 0);
  w.Close();
  QV_FUZZ_CHECK(!w.CommitFailed());
  Package p;
  QV_FUZZ_CHECK(qvfuzz::ReadBytes(PckIndexName(base), p.idx));
  QV_FUZZ_CHECK(qvfuzz::ReadBytes(PckNameTableName(base), p.nam));
  QV_FUZZ_CHECK(qvfuzz::ReadBytes(PckDataName(base), p.dat));
  return p;
}

void PackageSeeds(const std::string& out, const std::string& work) {
  CSeeds seeds(out, "pck_reader");
  auto add = [&](const Package& p) { seeds.Add(JoinParts({p.idx, p.nam, p.dat})); };
  add(MakePackage(work + "/empty", nullptr, kPckDefaultBlockSize, true));
  add(MakePackage(work + "/game", kPckGamePassword, kPckDefaultBlockSize, false));
  add(MakePackage(work + "/plain", nullptr, kPckDefaultBlockSize, false));
  add(MakePackage(work + "/small", kPckGamePassword, 16, false));
}

void BlockSeeds(const std::string& out) {
  CSeeds seeds(out, "block_decoder");
  const std::string contents[] = {Compressible(2000, 'c'), "short", std::string(300, '\0'),
                                  std::string("\x00\x10\x80\xff", 4)};
  for (uint32_t blockSize : {65536u, 16u}) {
    CBlockEncoder encoder(blockSize);
    for (const std::string& content : contents) {
      const uint32_t length = uint32_t(std::min<size_t>(content.size(), blockSize));
      for (PckCodec codec : {PckCodec::Stored, PckCodec::Zlib, PckCodec::Lzo1x}) {
        const PckCodec used = encoder.Encode(codec, reinterpret_cast<const uint8_t*>(content.data()), length);
        // The capacity bytes give back the block size: 1 + (blockSize - 1).
        const uint32_t v = blockSize - 1;
        std::string input = {char(used), char(v), char(v >> 8), char(v >> 16)};
        input.append(reinterpret_cast<const char*>(encoder.Payload()), encoder.PayloadLength());
        seeds.Add(input);
      }
    }
  }
}

void PayloadSeeds(const std::string& out, const std::string& work) {
  CSeeds seeds(out, "payload");
  const std::string image = "MZ" + std::string(62, '\x90');
  qvfuzz::WriteBytes(work + "/image.exe", image);
  const Package p = MakePackage(work + "/carried", kPckGamePassword, kPckDefaultBlockSize, false);
  qvfuzz::WriteBytes(work + "/patch.idx", p.idx);
  qvfuzz::WriteBytes(work + "/patch.nam", p.nam);
  qvfuzz::WriteBytes(work + "/patch.dat", p.dat);
  qvfuzz::WriteBytes(work + "/Delete.txt", "");

  auto build = [&](const std::vector<std::string>& names) {
    CPayloadBuilder builder;
    std::string why, bytes;
    for (const std::string& n : names) QV_FUZZ_CHECK(builder.Add(n, work + "/" + n, why));
    QV_FUZZ_CHECK(builder.Write(work + "/image.exe", work + "/update.exe", why));
    QV_FUZZ_CHECK(qvfuzz::ReadBytes(work + "/update.exe", bytes));
    return bytes;
  };
  const std::string full = build({"patch.dat", "patch.idx", "patch.nam"});
  seeds.Add(std::string(1, '\0') + full);  // as written, empty prefix
  seeds.Add(std::string(1, '\x03') + full);  // check value fixed, prefix "temp"
  seeds.Add(std::string(1, '\0') + build({"Delete.txt", "patch.nam"}));  // an empty entry
  seeds.Add(std::string(1, '\x01') + image);  // nothing appended
}

void VersionParserSeeds(const std::string& out) {
  CSeeds seeds(out, "version_parser");
  seeds.Add(JoinParts({"[Ver]\r\nCurVer=1.0.6\r\nValidVer=1.0.5\r\n", "sa", "="}));
  seeds.Add(JoinParts({" [Ver]\n[ver]\nCurVer = 1.0.2 \n;CurVer=9\n #x=1\nVER.CurVer=2\nVER::ValidVer=1.0A\n"
                       "CurVer=\nCurVer=a=b\nValidVer=\xb0\x3d\xb1\x3d\n",
                       "ddd", "-"}));
  // A member of every kind, in three inputs short enough for the harness's length limit.
  seeds.Add(JoinParts({"[Every]\nflag=true\ni8=0x7f\ni16=2*3+4\ni32=10-2-3\nreal=1.5e3\nplain=-5\n"
                       "chars=abcdefghijkl\nwhen=2010-05-06 07:08:09\ntext= hi \ncall=x\nconvert=y\n"
                       "ints=1,2\nreals=1.5,1.5\nignored=z\n",
                       "ddtobfy*sa", "\x01,;"}));
  seeds.Add(JoinParts({"[Every]\ninner.depth=3\nINNER::note=n\n"
                       "EVERY.baseValue=4\nBASE::baseValue=5\nnote=deep\nflags=1,y,0,1\nbytes=1,2,3,4\n"
                       "shorts=-1,0x7fff,8/0\nnumbers=0xFFFFFFFF,99999999999,-2147483648\nfloats=1,2.5,-3\n",
                       "ddtobfy*sa", "\x01,;"}));
  seeds.Add(JoinParts({"[Every]\ntimes=2010-1-1,1999-12-31 23:59:59,0-0-0\nstrings=a,\xd7\xd6,c,d\n"
                       "buffers=abcdefghijkl,\xd7\xd6\xcc\xe5\xd7\xd6\xcc\xe5,x\nunknownKind=1\npairs=1,2\n"
                       "[Inner]\ndepth=1\n[Unknown]\nx=y\n[Ver]\nCurVer=3\n",
                       "ddtobfy*sa", "\x01,;"}));
  seeds.Add(JoinParts({"2038-01-19 03:14:08", "t", " "}));
}

void VersionCheckSeeds(const std::string& out) {
  CSeeds seeds(out, "version_check");
  auto add = [&](uint8_t switches, const std::string& installed, const std::string& offered) {
    seeds.Add(std::string(1, char(switches)) + JoinParts({installed, offered}));
  };
  const std::string v105 = "[Ver]\r\nCurVer=1.0.5\r\n";
  add(0x47, v105, "[Ver]\r\nCurVer=1.0.6\r\nValidVer=1.0.5\r\n");  // fits, stored
  add(0x0f, "[Ver]\nCurVer=1.0.4\n", "[Ver]\nCurVer=1.0.6\nValidVer=1.0.5\n");  // too old, zlib
  add(0x57, "[Ver]\nCurVer=1.0.6A\n", "[Ver]\nCurVer=1.0.6a\nValidVer=1.0\n");  // equal, LZO
  add(0x97, "[Ver]\nCurVer=1.0.9\n", "[Ver]\r\nCurVer=1.0.10\r\nValidVer=1.0.1\r\n" + std::string(40, ';'));
  add(0x43, v105, "[Ver]\nCurVer=1.0.6\n");  // package without CVer.txt
  add(0x27, v105, "[Ver]\nCurVer=1.0.6\nValidVer=1.0.5\n");  // written without the password
  add(0x06, "", "[Ver]\nCurVer=1.0.6\nValidVer=1.0.5\n");  // no installed version file
}

void ObsoleteFileSeeds(const std::string& out, const char* harness) {
  CSeeds seeds(out, harness);
  seeds.Add("a.txt\r\n\r\n   \n  data/sub  \nOld.*\n");
  seeds.Add("data\\sub\\c.txt\n\xd7\xd6\xcc\xe5\\\xcb\xce.ttf\nmissing.txt\n");
  seeds.Add("../keep.txt\n/etc/hostname\nC:\\keep.txt\ndata/../../keep.txt\n..\\..\\keep.txt\n.\n*\n");
  seeds.Add("data/*.txt\n\xd7\xd6\xcc\xe5/*\nNUL\ncon.txt\n" + std::string(300, 'x') + "\n");
}

// A key, then whole groups: lengths around the bit-sliced batch widths (64 and 256).
void DesSliceSeeds(const std::string& out) {
  CSeeds seeds(out, "des_slice");
  for (size_t groups : {0, 1, 63, 64, 65, 255, 256, 257, 511}) {
    std::string s(8 + groups * 8, '\0');
    for (size_t i = 0; i < s.size(); ++i) s[i] = char(i * 131 + groups);
    seeds.Add(s);
  }
}


// Patches for the small game of the patch check harness: replaced, new and removed
// package entries, a new package, plain files and the version file.
void PatchCheckSeeds(const std::string& out, const std::string& work) {
  CSeeds seeds(out, "patch_check");
  auto patch = [&](const char* name, uint32_t blockSize, const std::vector<std::pair<const char*, std::string>>& files) {
    const std::string base = work + "/" + name;
    PckWriter w;
    w.SetPassword(kPckGamePassword);
    QV_FUZZ_CHECK(w.Create(base, blockSize) == 0);
    QV_FUZZ_CHECK(w.BeginDir("") == 0);
    std::string open;  // the folders now begun, "a/b"
    for (const auto& [path, text] : files) {
      std::string p = path, dir;
      const size_t slash = p.rfind('/');
      if (slash != std::string::npos) dir = p.substr(0, slash);
      while (!open.empty() && (dir.size() < open.size() || dir.compare(0, open.size(), open) != 0 ||
                               (dir.size() > open.size() && dir[open.size()] != '/'))) {
        QV_FUZZ_CHECK(w.EndDir() == 0);
        const size_t up = open.rfind('/');
        open = up == std::string::npos ? "" : open.substr(0, up);
      }
      while (dir != open) {
        const size_t from = open.empty() ? 0 : open.size() + 1;
        const size_t to = dir.find('/', from);
        const std::string part = dir.substr(from, to == std::string::npos ? std::string::npos : to - from);
        QV_FUZZ_CHECK(w.BeginDir(part.c_str()) == 0);
        open = open.empty() ? part : open + "/" + part;
      }
      QV_FUZZ_CHECK(Append(w, p.substr(slash == std::string::npos ? 0 : slash + 1).c_str(), text, 2));
    }
    for (; !open.empty(); open = open.find('/') == std::string::npos ? "" : open.substr(0, open.rfind('/')))
      QV_FUZZ_CHECK(w.EndDir() == 0);
    QV_FUZZ_CHECK(w.EndDir() == 0);
    w.Close();
    QV_FUZZ_CHECK(!w.CommitFailed());
    std::string idx, nam, dat;
    QV_FUZZ_CHECK(qvfuzz::ReadBytes(PckIndexName(base), idx));
    QV_FUZZ_CHECK(qvfuzz::ReadBytes(PckNameTableName(base), nam));
    QV_FUZZ_CHECK(qvfuzz::ReadBytes(PckDataName(base), dat));
    return JoinParts({idx, nam, dat});
  };
  const std::vector<std::pair<const char*, std::string>> full = {
      {"CVer.txt", "[Ver]\r\nCurVer=1.0.6\r\nValidVer=1.0.5\r\n"},
      {"Launcher.exe", "MZ new"},
      {"bld/top.txt", Compressible(500, 't')},
      {"bld/ui/a.tga", Compressible(2000, 'a')},
      {"bld/ui/new.tga", "new"},
      {"cj/fresh.txt", "a new package"},
      {"data/map.bin", "map 2"},
      {"data/sub/x.txt", ""},
      {"mb/ShopItem.txt", ""},
  };
  const std::string whole = patch("p1", 4096, full);
  seeds.Add(std::string(1, '\x00') + whole);
  seeds.Add(std::string(1, '\x01') + whole);  // read-only
  seeds.Add(std::string(1, '\x06') + patch("p2", 16, full));  // data and mb deleted first, small blocks
  seeds.Add(std::string(1, '\x10') + patch("p3", 4096, {{"data/map.bin/x", "a file as a folder"},
                                                                       {"save", "a file over a folder"}}));
  seeds.Add(std::string(1, '\x20') + whole);  // stopped by the callback
  // Deltas of the game's own files: an entry, a plain file, one for another copy of it
  // and one of the same size as its base (a difference).
  auto delta = [](const std::string& base, const std::string& result) {
    std::vector<uint8_t> bytes;
    CError error;
    QV_FUZZ_CHECK(MakeDelta(reinterpret_cast<const uint8_t*>(base.data()), base.size(),
                            reinterpret_cast<const uint8_t*>(result.data()), result.size(), 3, 1u << 20, bytes,
                            error) == 0);
    return std::string(bytes.begin(), bytes.end());
  };
  auto md5 = [](const std::string& text) {
    uint8_t d[16];
    Md5(text.data(), text.size(), d);
    return Md5Hex(d);
  };
  const std::string art(300, 'a'), newArt = std::string(290, 'a') + "repainted!";
  const std::string k1 = "~delta/bld/ui/a.tga/" + md5(art), k2 = "~delta/data/map.bin/" + md5("map"),
                    k3 = "~delta/data/map.bin/" + md5("other"), k4 = "~delta/mb/ShopItem.txt/" + md5("ShopItem 1 price=5\r\n");
  std::vector<std::pair<const char*, std::string>> withDeltas = {
      {"CVer.txt", "[Ver]\r\nCurVer=1.0.6\r\nValidVer=1.0.5\r\n"},
      {"bld/ui/new.tga", "new"},
      {k1.c_str(), delta(art, newArt)},
      {k2.c_str(), delta("map", "map, changed")},
      {k3.c_str(), delta("other", "map, changed")},
      {k4.c_str(), delta("ShopItem 1 price=5\r\n", "ShopItem 1 price=7\r\n")},
  };
  const std::string deltas = patch("p4", 4096, withDeltas);
  seeds.Add(std::string(1, '\x00') + deltas);
  seeds.Add(std::string(1, '\x01') + deltas);  // read-only, as diff checks it
}

// Minimal PE32 and PE32+ files, signed (a certificate table at the end) or not.
std::string MakePe(bool plus, bool sign, size_t imageBytes, uint32_t tableSize) {
  std::string f(512, '\0');
  auto put16 = [&](size_t at, uint16_t v) { f[at] = char(v), f[at + 1] = char(v >> 8); };
  auto put32 = [&](size_t at, uint32_t v) { PutLE32(reinterpret_cast<uint8_t*>(f.data()) + at, v); };
  f[0] = 'M', f[1] = 'Z';
  put32(0x3C, 0x40);
  f.replace(0x40, 4, std::string("PE\0\0", 4));
  const size_t coff = 0x44, opt = coff + 20;
  put16(coff, plus ? 0x8664 : 0x14C);
  put16(coff + 16, plus ? 240 : 224);  // SizeOfOptionalHeader
  put16(opt, plus ? 0x20B : 0x10B);
  put32(opt + 60, 512);  // SizeOfHeaders
  put32(opt + (plus ? 108 : 92), 16);  // NumberOfRvaAndSizes
  f += Compressible(imageBytes, 'p');
  while (sign && f.size() % 8) f += '\0';
  if (sign) {
    put32(opt + (plus ? 112 : 96) + 32, uint32_t(f.size()));
    put32(opt + (plus ? 112 : 96) + 36, tableSize);
    std::string table(tableSize, '\x30');
    PutLE32(reinterpret_cast<uint8_t*>(table.data()), tableSize);
    f += table;
  }
  return f;
}

void PeCertSeeds(const std::string& out) {
  CSeeds seeds(out, "pe_cert");
  seeds.Add("\x00" + MakePe(false, true, 100, 16));
  seeds.Add("\x00" + MakePe(true, true, 61, 24));
  seeds.Add(std::string(1, '\x01') + MakePe(false, true, 7, 9) + "trailing bytes the fit takes in");
  seeds.Add(std::string(1, '\x00') + MakePe(true, false, 40, 0));
  seeds.Add(std::string("\x00MZ", 3));
}

// Deltas made by the maker, each with its base.
void DeltaSeeds(const std::string& out) {
  CSeeds seeds(out, "delta");
  auto add = [&](uint8_t switches, const std::string& base, const std::string& result) {
    std::vector<uint8_t> delta;
    CError error;
    QV_FUZZ_CHECK(MakeDelta(reinterpret_cast<const uint8_t*>(base.data()), base.size(),
                            reinterpret_cast<const uint8_t*>(result.data()), result.size(), 3, 1u << 20, delta,
                            error) == 0);
    seeds.Add(std::string(1, char(switches)) + JoinParts({base, std::string(delta.begin(), delta.end())}));
  };
  const std::string base = Compressible(3000, 'd');
  std::string changed = base;
  changed.replace(1000, 20, "a change in the middle");
  add(0, base, changed);
  add(2, base, changed + Compressible(500, 'e'));
  std::string tinted = base;  // the same size, every byte of a stretch a little more: a difference
  for (size_t i = 500; i < 2500; ++i) tinted[i] = char(tinted[i] + 3);
  add(0, base, tinted);
  add(1, base, base.substr(0, 100));
  add(0, "", "from nothing");
  add(3, "short base", "");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
    return 2;
  }
  const std::string out = argv[1];
  const std::string work = "/seeds";
  qvfuzz::MakeDirs(work);
  PackageSeeds(out, work);
  BlockSeeds(out);
  PayloadSeeds(out, work);
  VersionParserSeeds(out);
  VersionCheckSeeds(out);
  ObsoleteFileSeeds(out, "obsolete_files");
  ObsoleteFileSeeds(out, "obsolete_plan");
  DesSliceSeeds(out);
  PatchCheckSeeds(out, work);
  PeCertSeeds(out);
  DeltaSeeds(out);
  std::printf("seed inputs written to %s\n", out.c_str());
  return 0;
}
