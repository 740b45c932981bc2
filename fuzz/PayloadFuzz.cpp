// The payload extractor on hostile executables. Byte 0 of an input holds switches, the
// rest is the executable file: an image with carried files and a trailer appended.
//   bit 0  put the right check value into the last 4 bytes before extracting, so that
//          the fuzzer gets past the CRC-32 and into the directory
//   bit 1  extract with the output prefix "temp" instead of the updater's empty one
// The executable and the folders lie in the in-memory file system; the extraction goes
// into a folder three levels below the executable. Afterwards nothing may exist outside that folder but what was there
// before, and after a successful release every file must hold exactly its entry's data.
#include <map>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "pck/PckFormat.h"
#include "payload/PayloadExtractor.h"
#include "payload/PayloadFormat.h"
#include "platform/Platform.h"
#include "tests/support/RecordingUi.h"

namespace {

// Puts the CRC-32 of the first 124 trailer bytes where the reader looks for it, when the
// trailer size leaves room for them.
void FixCheckValue(std::string& exe) {
  if (exe.size() < kPayloadTailSize) return;
  auto* bytes = reinterpret_cast<uint8_t*>(exe.data());
  const uint32_t trailerSize = GetLE32(bytes + exe.size() - 8);
  if (trailerSize < kPayloadMinTrailer || trailerSize > exe.size()) return;
  PutLE32(bytes + exe.size() - 4, PayloadCheckValue(bytes + exe.size() - trailerSize));
}

struct Folders {
  std::string root, out, exe;
  std::map<std::string, std::string> before;  // everything but the output folder's content
};

const Folders& Layout() {
  static const Folders folders = [] {
    Folders f;
    f.root = "/payload";
    f.out = f.root + "/a/b/out";
    f.exe = f.root + "/QuorvaneUpdate.exe";
    qvfuzz::MakeDirs(f.out);
    qvfuzz::WriteBytes(f.root + "/a/keep.txt", "outside the output folder");
    qvfuzz::WriteBytes(f.root + "/a/b/patch.idx", "a file beside the output folder");
    f.before = qvfuzz::Snapshot(f.root);
    return f;
  }();
  return folders;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const Folders& f = Layout();
  const uint8_t switches = data[0];
  std::string exe(reinterpret_cast<const char*>(data + 1), size - 1);
  if (switches & 1) FixCheckValue(exe);
  qvfuzz::WriteBytes(f.exe, exe);

  const std::string workDir = plat::GetWorkDir();
  int32_t rc;
  std::vector<PayloadEntry> entries;
  std::string prefix;
  {
    qvtest::CRecordingUi ui;
    CPayloadExtractor extractor(f.out, &ui);
    QV_FUZZ_CHECK(extractor.InFolder());
    if (!(switches & 2)) extractor.SetOutputPrefix("");
    prefix = extractor.OutputPrefix();
    rc = extractor.Release(f.exe);
    entries = extractor.Entries();
    QV_FUZZ_CHECK(rc == kPayloadReleased || (rc <= 0 && rc >= kPayloadCopyFailed));
    QV_FUZZ_CHECK(rc < 1 || extractor.TrailerLength() > 0);
  }
  QV_FUZZ_CHECK(plat::GetWorkDir() == workDir);

  // Nothing changed outside the output folder.
  std::map<std::string, std::string> after = qvfuzz::Snapshot(f.root);
  std::map<std::string, std::string> written;
  const std::string outRel = "a/b/out/";
  for (auto it = after.begin(); it != after.end();) {
    if (it->first.compare(0, outRel.size(), outRel) == 0) {
      written[it->first.substr(outRel.size())] = it->second;
      it = after.erase(it);
    } else {
      ++it;
    }
  }
  after.erase(f.exe.substr(f.root.size() + 1));
  std::map<std::string, std::string> before = f.before;
  before.erase(f.exe.substr(f.root.size() + 1));
  QV_FUZZ_CHECK(after == before);

  // Only carried files, each a plain file directly in the folder.
  for (auto& [name, content] : written) {
    QV_FUZZ_CHECK(name.find('/') == std::string::npos);
    QV_FUZZ_CHECK(!content.empty() && content[0] == 'f');
    content.erase(0, 1);
  }
  if (rc < 1) QV_FUZZ_CHECK(written.size() <= entries.size());
  if (rc == kPayloadReleased) {
    // The last entry of a name wins; each file holds that entry's bytes.
    std::map<std::string, const PayloadEntry*> last;
    for (const PayloadEntry& e : entries) last[prefix + e.Name()] = &e;
    QV_FUZZ_CHECK(written.size() == last.size());
    for (const auto& [name, e] : last) {
      auto it = written.find(name);
      QV_FUZZ_CHECK(it != written.end());
      QV_FUZZ_CHECK(uint64_t(e->distance) <= exe.size());
      QV_FUZZ_CHECK(it->second == exe.substr(exe.size() - e->distance, e->size));
    }
  }
  qvfuzz::RemoveAll(f.out);
  qvfuzz::MakeDirs(f.out);
  return 0;
}
