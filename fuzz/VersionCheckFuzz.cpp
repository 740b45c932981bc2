// The version check with a fuzzed installed and offered version file. An input is a
// byte of switches followed by two parts: the game folder's CVer.txt and the one that
// the patch package carries.
//   bit 0  the game folder has a CVer.txt      bit 1  the patch package exists
//   bit 2  the package holds CVer.txt          bits 3-4  its codec (0, 1, 2; 3 is 1)
//   bit 5  the package is written without the game's password (the check reads it
//          with the password all the same, so the text decodes to rubbish)
//   bit 6  the player answers Yes              bit 7  blocks of 16 bytes, not 4 KiB
// (A version file of at most 4 KiB fills one block of 4 KiB as it fills one of the
// game's 64 KiB; the smaller block spares the writer and reader a large buffer a run.)
// The package is written anew for every input: the writer keeps its compressors per
// thread, and a cache of packages cost more in libFuzzer's leak checks, which rerun
// every input that leaves memory allocated, than writing them.
// The package is written by the package writer. The check must change no file, show
// at most one box, and answer exactly what that box decided: 0 without a box, the
// player's answer to a question, -1 after the box that only says no.
#include <string>
#include <vector>

#include "io/FileStream.h"
#include "fuzz/FuzzSupport.h"
#include "io/IWalkSink.h"
#include "pck/PckFormat.h"
#include "pck/PckWriter.h"
#include "platform/Platform.h"
#include "platform/PlatformMemory.h"
#include "version/VersionCheck.h"
#include "tests/support/RecordingUi.h"

namespace {

class CCountingSink : public IWalkSink {
 public:
  int events = 0;
  void OnEvent(int32_t type, const void*, int32_t) override {
    QV_FUZZ_CHECK(type == kWalkError || type == kWalkFileBegin);
    ++events;
  }
};

void WritePackage(const std::string& base, uint8_t switches, const std::string& offered) {
  PckWriter writer;
  if (!(switches & 0x20)) writer.SetPassword(kPckGamePassword);
  QV_FUZZ_CHECK(writer.Create(base, switches & 0x80 ? 16 : 4096) == 0);
  QV_FUZZ_CHECK(writer.BeginDir("") == 0);  // the root
  if (switches & 4) {
    std::string copy = offered;
    MemoryStream source(copy.data(), int32_t(copy.size()));
    const int codec = (switches >> 3) & 3;
    QV_FUZZ_CHECK(writer.AppendFile("CVer.txt", source, codec == 3 ? 1 : codec) == 0);
  } else {
    std::string other = "not the version file";
    MemoryStream source(other.data(), int32_t(other.size()));
    QV_FUZZ_CHECK(writer.AppendFile("Readme.txt", source, 1) == 0);
  }
  QV_FUZZ_CHECK(writer.EndDir() == 0);
  writer.Close();
  QV_FUZZ_CHECK(!writer.CommitFailed());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t switches = data[0];
  const std::vector<std::string> parts = qvfuzz::SplitParts(data + 1, size - 1, 2);
  // A version file is a few lines; the package writer spends its time on larger ones.
  if (parts[1].size() > 4096) return 0;

  const std::string game = "/game";
  qvfuzz::RemoveAll(game);
  qvfuzz::MakeDirs(game);
  if (switches & 1) qvfuzz::WriteBytes(game + "/CVer.txt", parts[0]);
  if (switches & 2) WritePackage(game + "/patch", switches, parts[1]);
  const uint64_t changes = plat::memfs::Changes();

  qvtest::CRecordingUi ui;
  ui.answers = {switches & 0x40 ? plat::kIdYes : plat::kIdNo};
  CCountingSink sink;
  const int rc = CheckVersion(game + "/patch", game, kPckGamePassword, &sink, ui);

  QV_FUZZ_CHECK(plat::memfs::Changes() == changes);  // nothing made, written or removed
  QV_FUZZ_CHECK(ui.boxes.size() <= 1);
  QV_FUZZ_CHECK(sink.events == int(ui.boxes.size()));
  if (ui.boxes.empty()) {
    QV_FUZZ_CHECK(rc == 0);
  } else if ((ui.boxes[0].flags & plat::kMbTypeMask) == plat::kMbYesNo) {
    QV_FUZZ_CHECK(rc == (switches & 0x40 ? 0 : -1));
  } else {
    QV_FUZZ_CHECK(rc == -1);
  }
  return 0;
}
