// "pcktool payload" as the publisher runs it: the real executable, its output captured
// in files, its exit status checked, and what it built read back by the extractor.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "payload/PayloadExtractor.h"
#include "platform/Platform.h"
#include "tests/support/TempDir.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <sys/wait.h>
#endif

using namespace qvtest;

namespace {

#ifdef _WIN32
std::string Quote(const std::string& s) { return "\"" + s + "\""; }
// The build names the tool by its Unix path; under Wine the root is drive Z:.
std::string ToolPath() {
  std::string p = PCKTOOL_PATH;
  return !p.empty() && p[0] == '/' ? "Z:" + p : p;
}
HANDLE Capture(const std::string& path) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
}
int RunCaptured(const std::vector<std::string>& args, const std::string& out, const std::string& err) {
  std::string line = Quote(ToolPath());
  for (const std::string& a : args) line += " " + Quote(a);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = Capture(out);
  si.hStdError = Capture(err);
  PROCESS_INFORMATION pi{};
  DWORD code = DWORD(-1);
  if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    WaitForSingleObject(pi.hProcess, INFINITE);
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
  }
  CloseHandle(si.hStdOutput);
  CloseHandle(si.hStdError);
  return int(code);
}
#else
std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}
int RunCaptured(const std::vector<std::string>& args, const std::string& out, const std::string& err) {
  std::string line = Quote(PCKTOOL_PATH);
  for (const std::string& a : args) line += " " + Quote(a);
  line += " >" + Quote(out) + " 2>" + Quote(err);
  int status = std::system(line.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif

// Without the carriage returns of Windows text mode.
std::string Text(const std::string& s) {
  std::string out;
  for (char c : s)
    if (c != '\r') out += c;
  return out;
}

class PayloadTool : public ::testing::Test {
 protected:
  struct Result {
    int code;
    std::string out, err;
  };
  Result Run(const std::vector<std::string>& args) {
    std::vector<std::string> all = {"payload"};
    all.insert(all.end(), args.begin(), args.end());
    Result r;
    r.code = RunCaptured(all, m_logs / "stdout", m_logs / "stderr");
    r.out = Text(ReadFile(m_logs / "stdout"));
    r.err = Text(ReadFile(m_logs / "stderr"));
    return r;
  }
  std::string Path(const std::string& name) const { return m_dir / name; }

  CTempDir m_dir, m_logs;
};

}  // namespace

TEST_F(PayloadTool, BuildListAndExtractRoundTrip) {
  MakeDirs(Path("src/sub"));
  WriteFile(Path("image.exe"), PseudoRandom(7000, 1));
  const std::string big = PseudoRandom(9000, 2), small = "index";
  WriteFile(Path("src/patch.dat"), big);
  WriteFile(Path("src/sub/patch.idx"), small);
  WriteFile(Path("src/patch.nam"), "");
  Result built =
      Run({"build", Path("image.exe"), Path("updater.exe"), Path("src/patch.dat"), Path("src/sub/patch.idx"),
           Path("src/patch.nam")});
  ASSERT_EQ(built.code, 0) << built.err;
  EXPECT_EQ(ReadFile(Path("updater.exe")).substr(0, 7000), ReadFile(Path("image.exe")));

  Result listed = Run({"list", Path("updater.exe")});
  ASSERT_EQ(listed.code, 0) << listed.err;
  // 9000 + 5 + 0 data bytes and a trailer of 16 + 3 * 108 + 8.
  EXPECT_EQ(listed.out, "patch.dat\t9353\t9000\npatch.idx\t353\t5\npatch.nam\t348\t0\n");

  // Relative names, taken in the tool's working directory although the release moves it.
  {
    CWorkDirGuard here(m_dir.Path());
    Result released = Run({"extract", "updater.exe", "game/new"});
    ASSERT_EQ(released.code, 0) << released.err;
  }
  EXPECT_EQ(ReadFile(Path("game/new/patch.dat")), big);
  EXPECT_EQ(ReadFile(Path("game/new/patch.idx")), small);
  EXPECT_TRUE(Exists(Path("game/new/patch.nam")));

  // The extractor reads the same directory the tool listed.
  CPayloadExtractor ex(m_dir.Path());
  EXPECT_EQ(ex.ReadDirectory(Path("updater.exe")), 344);
}

TEST_F(PayloadTool, FailuresAndUsage) {
  WriteFile(Path("image.exe"), PseudoRandom(3000, 1));
  MakeDirs(Path("a"));
  MakeDirs(Path("b"));
  WriteFile(Path("a/x.bin"), "one");
  WriteFile(Path("b/X.BIN"), "two");
  Result twice = Run({"build", Path("image.exe"), Path("out.exe"), Path("a/x.bin"), Path("b/X.BIN")});
  EXPECT_EQ(twice.code, 1);
  EXPECT_NE(twice.err.find("two files are named"), std::string::npos) << twice.err;
  EXPECT_FALSE(Exists(Path("out.exe")));

  // A file without a payload: one line naming the code, nothing written.
  Result none = Run({"extract", Path("image.exe"), Path("out")});
  EXPECT_EQ(none.code, 1);
  EXPECT_EQ(none.err.find('\n'), none.err.size() - 1) << none.err;
  EXPECT_NE(none.err.find("code -"), std::string::npos) << none.err;
  EXPECT_EQ(Run({"list", Path("image.exe")}).code, 1);
  EXPECT_EQ(Run({"list", Path("missing.exe")}).code, 1);

  EXPECT_EQ(Run({"unpack", Path("image.exe")}).code, 2);
  EXPECT_EQ(Run({"build", Path("image.exe"), Path("out.exe")}).code, 2);
  EXPECT_EQ(Run({"extract", Path("image.exe")}).code, 2);
  EXPECT_EQ(Run({"list"}).code, 2);
  Result help = Run({"--help"});
  EXPECT_EQ(help.code, 0);
  for (const char* word : {"build IMAGE OUT FILE...", "list EXE", "extract EXE DIR"})
    EXPECT_NE(help.out.find(word), std::string::npos) << word;
}
