// The payload at the end of the updater: the shipped layout, what the extractor writes
// and where, the message drain, and how it refuses files that carry no payload, damaged
// or forged trailers and names that would leave the folder; signed updaters, whose
// payload ends before the certificate table, and security directories that do not fit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "payload/PayloadExtractor.h"
#include "payload/PayloadFormat.h"
#include "io/Digest.h"
#include "tests/support/Faults.h"
#include "pck/PckFormat.h"
#include "platform/PathText.h"
#include "platform/Platform.h"
#include "tests/payload/PeFixture.h"
#include "tests/support/TempDir.h"
#include "tests/support/RecordingUi.h"

using namespace qvtest;

namespace {

struct Carried {
  std::string name, bytes;
};

// Builds `image` followed by `files` through the builder, as the publisher does.
std::string BuildPayload(const CTempDir& dir, const std::string& image, const std::vector<Carried>& files,
                         const std::string& outName = "updater.exe") {
  MakeDirs(dir / "src");
  WriteFile(dir / "src/image", image);
  CPayloadBuilder builder;
  std::string why;
  for (const Carried& c : files) {
    WriteFile(dir / ("src/" + c.name), c.bytes);
    EXPECT_TRUE(builder.Add(c.name, dir / ("src/" + c.name), why)) << why;
  }
  EXPECT_TRUE(builder.Write(dir / "src/image", dir / outName, why)) << why;
  return dir / outName;
}

// Image, data and a trailer for hand-made entries: for payloads no builder would make.
std::string Assemble(const std::string& image, const std::string& data, const std::vector<PayloadEntry>& entries) {
  std::vector<uint8_t> trailer = EncodePayloadTrailer(uint32_t(image.size()), entries);
  return image + data + std::string(trailer.begin(), trailer.end());
}

// Entries laid out back to back as the format wants them, with free names.
std::vector<PayloadEntry> Entries(const std::vector<Carried>& files) {
  uint64_t distance = PayloadTrailerSize(files.size());
  for (const Carried& c : files) distance += c.bytes.size();
  std::vector<PayloadEntry> out(files.size());
  for (size_t i = 0; i < files.size(); ++i) {
    out[i].distance = uint32_t(distance);
    out[i].size = uint32_t(files[i].bytes.size());
    std::memcpy(out[i].name, files[i].name.data(), std::min(files[i].name.size(), kPayloadNameField));
    distance -= files[i].bytes.size();
  }
  return out;
}

std::string Concat(const std::vector<Carried>& files) {
  std::string all;
  for (const Carried& c : files) all += c.bytes;
  return all;
}

std::set<std::string> Listing(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

// Fixes the check value after a test changed the header or the first entry on purpose.
void Reseal(std::string& file) {
  const size_t trailerSize = GetLE32(reinterpret_cast<const uint8_t*>(file.data() + file.size() - 8));
  const auto* trailer = reinterpret_cast<const uint8_t*>(file.data() + file.size() - trailerSize);
  uint8_t check[4];
  PutLE32(check, PayloadCheckValue(trailer));
  file.replace(file.size() - 4, 4, reinterpret_cast<const char*>(check), 4);
}

// The shipped updater: a 1,503,232-byte image carrying the three patch files.
const std::vector<Carried>& ShippedFiles() {
  static const std::vector<Carried> files = {{"patch.dat", PseudoRandom(4202, 1)},
                                             {"patch.idx", PseudoRandom(262, 2)},
                                             {"patch.nam", PseudoRandom(30, 3)}};
  return files;
}
constexpr size_t kShippedImage = 1503232;

}  // namespace

TEST(PayloadExtractor, ShippedUpdaterLayoutAndRelease) {
  CTempDir dir;
  const std::string exe = BuildPayload(dir, PseudoRandom(kShippedImage, 9), ShippedFiles());
  const std::string bytes = ReadFile(exe);
  ASSERT_EQ(bytes.size(), 1508074u);
  const auto* trailer = reinterpret_cast<const uint8_t*>(bytes.data() + 1507726);
  EXPECT_EQ(GetLE32(trailer + 348 - 8), 348u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(trailer), 10), "Pelbo,2004");
  PayloadHeader h = PayloadHeader::Decode(trailer);
  EXPECT_EQ(h.imageLength, kShippedImage);
  EXPECT_EQ(h.count, 3);
  const uint32_t distances[] = {4842, 640, 378};
  for (size_t i = 0; i < 3; ++i) {
    PayloadEntry e = PayloadEntry::Decode(trailer + 16 + 108 * i);
    EXPECT_EQ(e.distance, distances[i]);
    EXPECT_EQ(e.size, ShippedFiles()[i].bytes.size());
    EXPECT_EQ(e.Name(), ShippedFiles()[i].name);
    EXPECT_EQ(bytes.substr(bytes.size() - e.distance, e.size), ShippedFiles()[i].bytes);
  }
  EXPECT_EQ(GetLE32(trailer + 344), Crc32(trailer, 124));

  MakeDirs(dir / "game");
  const std::string before = plat::GetWorkDir();
  qvtest::CRecordingUi ui;
  {
    CPayloadExtractor ex(dir / "game", &ui);
    ASSERT_TRUE(ex.InFolder());
    EXPECT_EQ(ex.ReadDirectory(exe), 344);
    ASSERT_EQ(ex.Entries().size(), 3u);
    EXPECT_EQ(ui.drains, 3);  // one per entry while loading

    ex.SetOutputPrefix("");
    ui.drains = 0;
    EXPECT_EQ(ex.Release(exe), kPayloadReleased);
    // three while loading again, then one per chunk: 4202 bytes take two
    EXPECT_EQ(ui.drains, 3 + 2 + 1 + 1);
  }
  EXPECT_EQ(plat::GetWorkDir(), before);
  EXPECT_EQ(Listing(dir / "game"), (std::set<std::string>{"patch.dat", "patch.idx", "patch.nam"}));
  for (const Carried& c : ShippedFiles()) EXPECT_EQ(ReadFile(dir / ("game/" + c.name)), c.bytes) << c.name;
}

TEST(PayloadExtractor, DefaultPrefixIsTemp) {
  CTempDir dir;
  const std::string exe = BuildPayload(dir, PseudoRandom(5000, 9), ShippedFiles());
  MakeDirs(dir / "out");
  CPayloadExtractor ex(dir / "out");
  EXPECT_EQ(ex.Release(exe), kPayloadReleased);
  EXPECT_EQ(Listing(dir / "out"), (std::set<std::string>{"temppatch.dat", "temppatch.idx", "temppatch.nam"}));
  EXPECT_EQ(ReadFile(dir / "out/temppatch.nam"), ShippedFiles()[2].bytes);
}

TEST(PayloadExtractor, ChunkBoundariesEmptyEntriesAndOverwrites) {
  CTempDir dir;
  const std::vector<Carried> files = {{"exact.bin", PseudoRandom(4096, 4)},
                                      {"empty.bin", ""},
                                      {"over.bin", PseudoRandom(4097, 5)},
                                      {"last.bin", ""}};
  const std::string exe = BuildPayload(dir, "MZ tiny image", files);
  MakeDirs(dir / "out");
  WriteFile(dir / "out/over.bin", PseudoRandom(20000, 6));  // longer than the new content
  qvtest::CRecordingUi ui;
  CPayloadExtractor ex(dir / "out", &ui);
  ex.SetOutputPrefix("");
  EXPECT_EQ(ex.Release(exe), kPayloadReleased);
  EXPECT_EQ(ui.drains, 4 + 1 + 0 + 2 + 0);
  for (const Carried& c : files) {
    ASSERT_TRUE(Exists(dir / ("out/" + c.name))) << c.name;
    EXPECT_EQ(ReadFile(dir / ("out/" + c.name)), c.bytes) << c.name;
  }
}

TEST(PayloadExtractor, CheckValueCoversHeaderAndFirstEntryOnly) {
  CTempDir dir;
  const std::string good = ReadFile(BuildPayload(dir, PseudoRandom(3000, 9), ShippedFiles()));
  const size_t trailer = good.size() - 348;
  MakeDirs(dir / "out");
  CPayloadExtractor ex(dir / "out");

  auto result = [&](const std::string& bytes) {
    WriteFile(dir / "variant.exe", bytes);
    return ex.ReadDirectory(dir / "variant.exe");
  };
  std::string magic = good;
  magic.replace(trailer, 10, "Other,1999");
  EXPECT_EQ(result(magic), kPayloadBadCheck);
  Reseal(magic);
  EXPECT_EQ(result(magic), 344) << "the magic is not compared";

  std::string firstName = good;
  firstName[trailer + 16 + 8] ^= 1;
  EXPECT_EQ(result(firstName), kPayloadBadCheck);

  // Bytes that the check value does not cover: a later entry's name, a data block.
  std::string lateName = good;
  lateName[trailer + 16 + 108 + 8] = 'Q';
  EXPECT_EQ(result(lateName), 344);
  EXPECT_EQ(ex.Entries()[1].Name(), "Qatch.idx");
  std::string data = good;
  data[3000] ^= 0x55;
  EXPECT_EQ(result(data), 344);
}

TEST(PayloadExtractor, FilesWithoutAPayload) {
  CTempDir dir;
  MakeDirs(dir / "out");
  CPayloadExtractor ex(dir / "out");
  ex.SetOutputPrefix("");
  auto release = [&](const std::string& bytes) {
    WriteFile(dir / "plain.exe", bytes);
    return ex.Release(dir / "plain.exe");
  };
  EXPECT_EQ(ex.ReadDirectory(dir / "missing.exe"), kPayloadCannotOpen);
  EXPECT_EQ(ex.Release(dir / "missing.exe"), kPayloadCannotOpen);

  std::string image = PseudoRandom(4000, 7);
  image.replace(image.size() - 8, 4, std::string(4, '\0'));
  EXPECT_EQ(release(image), kPayloadBadTrailer) << "trailer size 0";
  image.replace(image.size() - 8, 4, std::string("\xA1\x0F\0\0", 4));  // 4001
  EXPECT_EQ(release(image), kPayloadBadTrailer) << "trailer size beyond the file";
  image.replace(image.size() - 8, 4, std::string("\x00\x0F\0\0", 4));  // 3840
  EXPECT_EQ(release(image), kPayloadBadCheck) << "image bytes taken as a trailer";
  EXPECT_EQ(release("tiny"), kPayloadBadTrailer);
  EXPECT_EQ(release(""), kPayloadBadTrailer);
  EXPECT_TRUE(ex.Entries().empty());
  EXPECT_TRUE(Listing(dir / "out").empty());
}

TEST(PayloadExtractor, TrailersTooSmallForWhatTheyClaim) {
  CTempDir dir;
  MakeDirs(dir / "out");
  CPayloadExtractor ex(dir / "out");
  const std::vector<Carried> files = {{"a.bin", "aaaa"}, {"b.bin", "bb"}, {"c.bin", "c"}};
  const std::string good = Assemble(PseudoRandom(500, 1), Concat(files), Entries(files));
  auto result = [&](const std::string& bytes) {
    WriteFile(dir / "forged.exe", bytes);
    return ex.Release(dir / "forged.exe");
  };
  ASSERT_EQ(result(good), 1);
  for (auto& name : {"temp" + files[0].name, "temp" + files[1].name, "temp" + files[2].name})
    std::filesystem::remove(dir / ("out/" + name));

  // Five entries claimed in a trailer that holds three.
  std::string count = good;
  count[good.size() - 348 + 14] = 5;
  Reseal(count);
  EXPECT_EQ(result(count), kPayloadBadTrailer);

  // A size below header, first entry and tail, whatever the check value says.
  std::string small = good;
  small.replace(small.size() - 8, 4, std::string("\x80\0\0\0", 4));  // 128
  Reseal(small);
  EXPECT_EQ(result(small), kPayloadBadTrailer);
  EXPECT_TRUE(Listing(dir / "out").empty());
}

TEST(PayloadExtractor, EntriesOutsideTheFileAreRefusedBeforeWriting) {
  CTempDir dir;
  MakeDirs(dir / "out");
  CPayloadExtractor ex(dir / "out");
  ex.SetOutputPrefix("");
  auto result = [&](const std::string& bytes) {
    WriteFile(dir / "short.exe", bytes);
    return ex.Release(dir / "short.exe");
  };
  // A download that lost bytes in the middle: the trailer is intact, but the first
  // entry now starts before the file does.
  const std::string good = ReadFile(BuildPayload(dir, "MZ", ShippedFiles()));
  std::string cut = good;
  cut.erase(100, 200);
  EXPECT_EQ(result(cut), kPayloadBadTrailer);

  // An entry whose data would run into the trailer.
  std::vector<Carried> files = {{"a.bin", "aaaa"}, {"b.bin", "bbbb"}};
  std::vector<PayloadEntry> entries = Entries(files);
  entries[1].size = 5;
  EXPECT_EQ(result(Assemble("MZ", Concat(files), entries)), kPayloadBadTrailer);
  // One claiming more than 4 GiB minus the distance would wrap the arithmetic.
  entries[1].size = 0xFFFFFFFFu;
  EXPECT_EQ(result(Assemble("MZ", Concat(files), entries)), kPayloadBadTrailer);
  EXPECT_TRUE(Listing(dir / "out").empty());
}

TEST(PayloadExtractor, HostileNamesWriteNothing) {
  CTempDir dir;
  MakeDirs(dir / "game/out");
  for (const std::string hostile : {"..", "a/b", "a\\b", "c:x", "../escape.txt", "", "NUL", "/etc/x"}) {
    SCOPED_TRACE(hostile);
    // A good entry first: the refusal must come before anything is written.
    const std::vector<Carried> files = {{"good.bin", "good"}, {hostile, "evil"}};
    WriteFile(dir / "hostile.exe", Assemble("MZ", Concat(files), Entries(files)));
    CPayloadExtractor ex(dir / "game/out");
    ex.SetOutputPrefix("");
    EXPECT_EQ(ex.Release(dir / "hostile.exe"), kPayloadCannotCreate);
    EXPECT_EQ(ex.FailedName(), hostile);
    EXPECT_TRUE(Listing(dir / "game/out").empty());
    EXPECT_EQ(Listing(dir / "game"), std::set<std::string>{"out"});
  }
}

TEST(PayloadExtractor, NamesMustFitTheNameBufferWithThePrefix) {
  CTempDir dir;
  MakeDirs(dir / "out");
  const std::vector<Carried> fits = {{std::string(95, 'n'), "x"}};
  WriteFile(dir / "long.exe", Assemble("MZ", Concat(fits), Entries(fits)));
  {
    CPayloadExtractor ex(dir / "out");
    ex.SetOutputPrefix("temp");  // 4 + 95 = 99 bytes, the most that fits
    EXPECT_EQ(ex.Release(dir / "long.exe"), kPayloadReleased);
    ex.SetOutputPrefix("temp_");
    EXPECT_EQ(ex.Release(dir / "long.exe"), kPayloadCannotCreate);
  }
  EXPECT_EQ(Listing(dir / "out"), std::set<std::string>{"temp" + std::string(95, 'n')});

  // All 100 bytes of the field used, no terminating zero.
  const std::vector<Carried> full = {{std::string(100, 'f'), "x"}};
  WriteFile(dir / "full.exe", Assemble("MZ", Concat(full), Entries(full)));
  CPayloadExtractor ex(dir / "out");
  ex.SetOutputPrefix("");
  EXPECT_EQ(ex.Release(dir / "full.exe"), kPayloadCannotCreate);
  EXPECT_EQ(ex.Entries()[0].Name().size(), 100u);
}

TEST(PayloadExtractor, OutputThatCannotBeCreatedKeepsEarlierFiles) {
  CTempDir dir;
  const std::string exe = BuildPayload(dir, "MZ", ShippedFiles());
  MakeDirs(dir / "out/patch.idx");  // a folder where the second file should go
  CPayloadExtractor ex(dir / "out");
  ex.SetOutputPrefix("");
  EXPECT_EQ(ex.Release(exe), kPayloadCannotCreate);
  EXPECT_EQ(ex.FailedName(), "patch.idx");
  EXPECT_EQ(ReadFile(dir / "out/patch.dat"), ShippedFiles()[0].bytes);
  EXPECT_FALSE(Exists(dir / "out/patch.nam"));
}

TEST(PayloadExtractor, WriteErrorsAreFailuresAndLeaveNoPartialFile) {
  qvtest::CFaultHook guard;
  CTempDir dir;
  const std::vector<Carried> files = {{"first.bin", "one"}, {"big.bin", PseudoRandom(9000, 3)}};
  const std::string exe = BuildPayload(dir, "MZ", files);
  MakeDirs(dir / "out");
  CPayloadExtractor ex(dir / "out");
  ex.SetOutputPrefix("");
  // The second chunk of big.bin fails (writes: first.bin, then big.bin's chunks).
  int writes = 0;
  plat::SetFaultHook(qvtest::FailNth(plat::FileOp::Write, 3, &writes));
  EXPECT_EQ(ex.Release(exe), kPayloadCopyFailed);
  EXPECT_EQ(ex.FailedName(), "big.bin");
  EXPECT_EQ(Listing(dir / "out"), std::set<std::string>{"first.bin"});

  // A flush that does not reach the disk fails the same way.
  int flushes = 0;
  plat::SetFaultHook(qvtest::FailNth(plat::FileOp::Flush, 1, &flushes));
  EXPECT_EQ(ex.Release(exe), kPayloadCopyFailed);
  EXPECT_EQ(ex.FailedName(), "first.bin");
  EXPECT_TRUE(Listing(dir / "out").empty());

  plat::SetFaultHook(nullptr);
  EXPECT_EQ(ex.Release(exe), kPayloadReleased);
  EXPECT_EQ(ReadFile(dir / "out/big.bin"), files[1].bytes);
}

TEST(PayloadExtractor, WorkingDirectoryMovesAndComesBack) {
  const std::string before = plat::GetWorkDir();
  const std::string module = plat::ModuleFileName();
  const std::string moduleName = module.substr(plat::LastSeparator(module) + 1);
  {
    CPayloadExtractor ex;
    EXPECT_TRUE(ex.InFolder());
    EXPECT_EQ(ex.OutputPrefix(), "temp");
    EXPECT_TRUE(plat::FileExists(moduleName)) << "the working directory is the executable's folder";
  }
  EXPECT_EQ(plat::GetWorkDir(), before);

  CTempDir dir;
  {
    CPayloadExtractor ex(dir.Path());
    WriteFile("marker", "m");
  }
  EXPECT_TRUE(Exists(dir / "marker"));
  EXPECT_EQ(plat::GetWorkDir(), before);
  {
    CPayloadExtractor ex(dir / "missing");
    EXPECT_FALSE(ex.InFolder());
  }
  EXPECT_EQ(plat::GetWorkDir(), before);
}

// A minimal PE of either kind whose payload ends at every place of an 8-byte word,
// signed as osslsigncode signs: padding, then the table.
TEST(PayloadExtractor, SignedExecutablesCarryThePayloadBeforeTheCertificateTable) {
  CTempDir dir;
  MakeDirs(dir / "out");
  for (bool pe32Plus : {false, true}) {
    for (size_t extra = 0; extra < 8; ++extra) {
      SCOPED_TRACE(std::string(pe32Plus ? "PE32+, " : "PE32, ") + std::to_string(extra) + " extra bytes");
      const std::vector<Carried> files = {{"patch.dat", PseudoRandom(5000 + extra, 1)},
                                          {"patch.idx", PseudoRandom(262, 2)}};
      const std::string updater = Assemble(MinimalPe(pe32Plus), Concat(files), Entries(files));
      std::string signedUpdater = updater;
      const size_t table = FakeSign(signedUpdater);
      // The scan over bytes in memory, held in a buffer of exactly their size.
      const std::vector<uint8_t> bytes(signedUpdater.begin(), signedUpdater.end());
      const PeCertificateTable t = ScanPeCertificateTable(bytes.data(), bytes.size());
      EXPECT_TRUE(t.isPe);
      ASSERT_TRUE(t.found);
      EXPECT_EQ(t.tableOffset, table);
      EXPECT_EQ(t.tableSize, signedUpdater.size() - table);
      EXPECT_EQ(t.directoryOffset, PeSecurityEntry(pe32Plus));
      EXPECT_EQ(t.checksumOffset, PeChecksumField());
      EXPECT_GE(t.zerosBefore, table - updater.size());

      WriteFile(dir / "signed.exe", signedUpdater);
      CPayloadExtractor ex(dir / "out");
      ex.SetOutputPrefix("");
      EXPECT_EQ(ex.ReadDirectory(dir / "signed.exe"), int32_t(PayloadTrailerSize(2) - 4));
      EXPECT_EQ(ex.PayloadEnd(), updater.size());
      EXPECT_EQ(ex.Release(dir / "signed.exe"), kPayloadReleased);
      for (const Carried& c : files) EXPECT_EQ(ReadFile(dir / ("out/" + c.name)), c.bytes) << c.name;
    }
  }
}

TEST(PayloadExtractor, SecurityDirectoriesThatDoNotFitAreIgnoredOrRefusedSafely) {
  CTempDir dir;
  MakeDirs(dir / "out");
  const std::vector<Carried> files = {{"patch.idx", PseudoRandom(300, 2)}};
  using Forge = std::function<void(std::string& file, size_t table, bool pe32Plus)>;
  auto directory = [](uint32_t offset, uint32_t size) -> Forge {
    return [=](std::string& f, size_t, bool plus) {
      SetLE32(f, PeSecurityEntry(plus), offset);
      SetLE32(f, PeSecurityEntry(plus) + 4, size);
    };
  };
  struct Row {
    const char* what;
    Forge forge;
    bool isPe, found;
  };
  const uint32_t kSize = 0x5B0;  // FakeSign's table
  const Row rows[] = {
      {"as signed", [](std::string&, size_t, bool) {}, true, true},
      {"table beyond the file",
       [&](std::string& f, size_t, bool plus) { directory(uint32_t(f.size() + 8), kSize)(f, 0, plus); }, true, false},
      {"table ending before the file does",
       [&](std::string& f, size_t t, bool plus) { directory(uint32_t(t), kSize - 8)(f, t, plus); }, true, false},
      {"offset and size wrapping 32 bits to the file's end",
       [&](std::string& f, size_t t, bool plus) { directory(0xFFFFFFF8u, uint32_t(f.size() + 8))(f, t, plus); },
       true, false},
      {"an empty table", [&](std::string& f, size_t t, bool plus) { directory(uint32_t(t), 0)(f, t, plus); }, true,
       false},
      {"table over the headers",
       [&](std::string& f, size_t t, bool plus) { directory(0x10, uint32_t(f.size() - 0x10))(f, t, plus); }, true,
       false},
      {"four data directories", [](std::string& f, size_t, bool plus) { SetLE32(f, PeDirectoryCountField(plus), 4); },
       true, false},
      {"optional header too short for the entry",
       [](std::string& f, size_t, bool) { SetLE16(f, kPeHeaderOffset + 4 + 16, 0x60); }, true, false},
      {"unknown optional header", [](std::string& f, size_t, bool) { SetLE16(f, kPeOptionalHeader, 0x107); }, false,
       false},
      {"PE header beyond the file", [](std::string& f, size_t, bool) { SetLE32(f, 0x3C, 0xFFFFFFF0u); }, false, false},
      {"PE header cut by the file's end",
       [](std::string& f, size_t, bool) { SetLE32(f, 0x3C, uint32_t(f.size() - 10)); }, false, false},
      {"no PE signature", [](std::string& f, size_t, bool) { f[kPeHeaderOffset + 3] = 1; }, false, false},
      {"no MZ", [](std::string& f, size_t, bool) { f[0] = 'Z'; }, false, false},
      // Found, but no trailer ends before it: refused like any file without a payload.
      {"table starting inside the payload",
       [&](std::string& f, size_t t, bool plus) { directory(uint32_t(t - 200), kSize + 200)(f, t, plus); }, true,
       true},
  };
  for (bool pe32Plus : {false, true}) {
    for (const Row& row : rows) {
      SCOPED_TRACE(std::string(pe32Plus ? "PE32+: " : "PE32: ") + row.what);
      std::string file = Assemble(MinimalPe(pe32Plus), Concat(files), Entries(files));
      const size_t table = FakeSign(file);
      row.forge(file, table, pe32Plus);
      const std::vector<uint8_t> bytes(file.begin(), file.end());
      const PeCertificateTable t = ScanPeCertificateTable(bytes.data(), bytes.size());
      EXPECT_EQ(t.isPe, row.isPe);
      EXPECT_EQ(t.found, row.found);

      // Without a table that fits, the trailer is looked for at the end of the file, in
      // the table's bytes, and not found.
      WriteFile(dir / "forged.exe", file);
      CPayloadExtractor ex(dir / "out");
      ex.SetOutputPrefix("");
      const int32_t r = ex.Release(dir / "forged.exe");
      if (std::string(row.what) == "as signed") {
        EXPECT_EQ(r, kPayloadReleased);
        std::filesystem::remove(dir / "out/patch.idx");
      } else {
        EXPECT_LT(r, 1);
        EXPECT_TRUE(Listing(dir / "out").empty());
      }
    }
    // Cut at every length, a signed file's table no longer ends it; each cut is scanned
    // in a buffer of exactly its size.
    std::string whole = Assemble(MinimalPe(pe32Plus), Concat(files), Entries(files));
    FakeSign(whole);
    for (size_t length = 0; length < whole.size(); ++length) {
      const std::vector<uint8_t> cut(whole.begin(), whole.begin() + std::ptrdiff_t(length));
      ASSERT_FALSE(ScanPeCertificateTable(cut.data(), cut.size()).found) << length;
    }
    // An image signed before its payload was appended: the table lies inside the file
    // and the payload at its end is read as it always was.
    std::string image = MinimalPe(pe32Plus);
    FakeSign(image);
    const std::string updater = Assemble(image, Concat(files), Entries(files));
    const PeCertificateTable t =
        ScanPeCertificateTable(reinterpret_cast<const uint8_t*>(updater.data()), updater.size());
    EXPECT_TRUE(t.isPe && !t.found);
    WriteFile(dir / "late.exe", updater);
    CPayloadExtractor ex(dir / "out");
    EXPECT_EQ(ex.ReadDirectory(dir / "late.exe"), int32_t(PayloadTrailerSize(1) - 4));
    EXPECT_EQ(ex.PayloadEnd(), updater.size());
  }
}

TEST(PayloadBuilder, RefusesNamesThatCannotBeCarried) {
  CTempDir dir;
  WriteFile(dir / "f", "x");
  CPayloadBuilder b;
  std::string why;
  EXPECT_TRUE(b.Add("Patch.dat", dir / "f", why));
  EXPECT_FALSE(b.Add("patch.DAT", dir / "f", why)) << "same name on a Windows disk";
  EXPECT_NE(why.find("two files"), std::string::npos);
  EXPECT_FALSE(b.Add("..", dir / "f", why));
  EXPECT_FALSE(b.Add("a/b", dir / "f", why));
  EXPECT_FALSE(b.Add(std::string(100, 'n'), dir / "f", why));
  EXPECT_TRUE(b.Add(std::string(99, 'n'), dir / "f", why));
  EXPECT_EQ(b.Count(), 2u);

  CPayloadBuilder empty;
  WriteFile(dir / "image", "MZ");
  EXPECT_FALSE(empty.Write(dir / "image", dir / "out.exe", why));
  CPayloadBuilder missing;
  ASSERT_TRUE(missing.Add("gone.bin", dir / "gone.bin", why));
  EXPECT_FALSE(missing.Write(dir / "image", dir / "out.exe", why));
  EXPECT_FALSE(Exists(dir / "out.exe"));
  EXPECT_EQ(Listing(dir.Path()), (std::set<std::string>{"f", "image"}));
}

TEST(PayloadBuilder, OutputMayReplaceTheImage) {
  CTempDir dir;
  WriteFile(dir / "updater.exe", "MZ image");
  WriteFile(dir / "patch.idx", "index");
  CPayloadBuilder b;
  std::string why;
  ASSERT_TRUE(b.Add("patch.idx", dir / "patch.idx", why));
  ASSERT_TRUE(b.Write(dir / "updater.exe", dir / "updater.exe", why)) << why;
  const std::string bytes = ReadFile(dir / "updater.exe");
  EXPECT_EQ(bytes.substr(0, 13), "MZ imageindex");
  EXPECT_EQ(bytes.size(), 13 + PayloadTrailerSize(1));
}

// A PE image is padded so that a signer appends its table right after the trailer; the
// output keeps the image's run permission.
TEST(PayloadBuilder, PeOutputLeavesTheSignerNothingToPad) {
  CTempDir dir;
  for (bool pe32Plus : {false, true}) {
    for (size_t extra = 0; extra < 8; ++extra) {
      SCOPED_TRACE(std::string(pe32Plus ? "PE32+, " : "PE32, ") + std::to_string(extra) + " extra bytes");
      const std::string image = MinimalPe(pe32Plus);
      const std::vector<Carried> files = {{"patch.dat", PseudoRandom(100 + extra, 1)}};
      std::string bytes = ReadFile(BuildPayload(dir, image, files));
      EXPECT_EQ(bytes.size() % 8, 0u);
      const size_t payload = files[0].bytes.size() + PayloadTrailerSize(1);
      const size_t imageLength = bytes.size() - payload;
      EXPECT_LT(imageLength - image.size(), 8u);
      EXPECT_EQ(bytes.substr(0, imageLength), image + std::string(imageLength - image.size(), '\0'));
      EXPECT_EQ(PayloadHeader::Decode(reinterpret_cast<const uint8_t*>(bytes.data() + bytes.size() - PayloadTrailerSize(1)))
                    .imageLength,
                imageLength);
      const size_t unsignedSize = bytes.size();
      EXPECT_EQ(FakeSign(bytes), unsignedSize);
    }
  }

  WriteFile(dir / "image.exe", MinimalPe(false));
  namespace fs = std::filesystem;
  const fs::perms run = fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec;
  fs::permissions(dir / "image.exe", run, fs::perm_options::add);
  CPayloadBuilder b;
  std::string why;
  ASSERT_TRUE(b.Add("patch.dat", dir / "src/patch.dat", why)) << why;
  ASSERT_TRUE(b.Write(dir / "image.exe", dir / "run.exe", why)) << why;
  const fs::perms imageRun = fs::status(dir / "image.exe").permissions() & run;
  EXPECT_EQ(fs::status(dir / "run.exe").permissions() & imageRun, imageRun);
}

// A signed image loses its table, the signer's padding, the security directory and the
// checksum; a section's or the string table's own zeros stay.
TEST(PayloadBuilder, SignedImageLosesItsSignature) {
  CTempDir dir;
  WriteFile(dir / "patch.idx", "index");
  const struct {
    size_t sectionBytes, trailingZeros;
    bool symbols;
  } rows[] = {{0x200, 0, false}, {0x1FD, 0, false}, {0x200, 16, false}, {0x1FB, 2, false}, {0x200, 0, true}};
  for (bool pe32Plus : {false, true}) {
    for (const auto& row : rows) {
      SCOPED_TRACE(std::string(pe32Plus ? "PE32+, " : "PE32, ") + std::to_string(row.sectionBytes) + " bytes, " +
                   std::to_string(row.trailingZeros) + " zeros" + (row.symbols ? ", symbols" : ""));
      const std::string image = MinimalPe(pe32Plus, row.sectionBytes, row.trailingZeros, row.symbols);
      std::string signedImage = image;
      FakeSign(signedImage);
      WriteFile(dir / "signed.exe", signedImage);
      CPayloadBuilder b;
      std::string why;
      bool removed = false;
      ASSERT_TRUE(b.Add("patch.idx", dir / "patch.idx", why));
      ASSERT_TRUE(b.Write(dir / "signed.exe", dir / "updater.exe", why, &removed)) << why;
      EXPECT_TRUE(removed);

      const std::string out = ReadFile(dir / "updater.exe");
      std::string expected = image;
      SetLE32(expected, PeChecksumField(), 0);
      EXPECT_EQ(out.substr(0, image.size()), expected);
      const size_t imageLength = out.size() - 5 - PayloadTrailerSize(1);
      EXPECT_LT(imageLength - image.size(), 8u);
      EXPECT_EQ(out.substr(image.size(), imageLength - image.size()), std::string(imageLength - image.size(), '\0'));
      const PeCertificateTable t = ScanPeCertificateTable(reinterpret_cast<const uint8_t*>(out.data()), out.size());
      EXPECT_TRUE(t.isPe && !t.found);
      CPayloadExtractor ex(dir.Path());
      EXPECT_EQ(ex.ReadDirectory(dir / "updater.exe"), int32_t(PayloadTrailerSize(1) - 4));

      // The same image unsigned keeps its checksum, and nothing is reported.
      WriteFile(dir / "plain.exe", image);
      ASSERT_TRUE(b.Write(dir / "plain.exe", dir / "updater.exe", why, &removed)) << why;
      EXPECT_FALSE(removed);
      EXPECT_EQ(ReadFile(dir / "updater.exe").substr(0, image.size()), image);
    }
  }
}
