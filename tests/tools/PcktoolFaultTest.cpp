// pcktool's changing commands made to fail at every file operation in turn (an I/O
// error, a disk that stays full, a stop), in a child process running the tool's own
// main: afterwards, once the folder's journal is settled as pcktool's next run does, the
// package is exactly as before or exactly as after, a failure is never reported as
// success, and the same command run again ends in the new state. Then the real tool
// under two real faults: a name-table write that the C runtime buffered and the disk
// refused later (strace injects it), and two tools adding to one package at once.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "patch/PatchRelease.h"
#include "pck/PckJournal.h"
#include "pck/PckReader.h"
#include "platform/Platform.h"
#include "tests/support/PackageFixtures.h"
#include "tests/support/ProcessRunner.h"
#include "tools/pcktool/Commands.h"

namespace fsys = std::filesystem;
using qvtest::FileMap;

namespace {

const std::string kPw = kPckGamePassword;

enum class Mode { Io, DiskFull, Stop };
const char* Name(Mode m) { return m == Mode::Io ? "I/O error" : m == Mode::DiskFull ? "disk full" : "stop"; }
constexpr int kStopped = 7;

plat::FaultHook Fault(Mode mode, int k) {
  auto seen = std::make_shared<int>(0);
  return [=](plat::FileOp op, const std::string&) {
    const int n = ++*seen;
    if (mode == Mode::Stop) {
      if (n == k) _exit(kStopped);
      return plat::Fault::None;
    }
    if (mode == Mode::Io) return n == k ? plat::Fault::Io : plat::Fault::None;
    const bool writes = op == plat::FileOp::Open || op == plat::FileOp::Write || op == plat::FileOp::Flush ||
                        op == plat::FileOp::Close || op == plat::FileOp::MakeDir;
    return n >= k && writes ? plat::Fault::NoSpace : plat::Fault::None;
  };
}

// Runs pcktool's main in a child process under `hook`; its exit status (kStopped when it
// stopped in the hook) and the number of operations it asked about.
int RunTool(const std::vector<std::string>& args, const plat::FaultHook& hook, int* operations = nullptr) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, 1);
    dup2(devnull, 2);
    int count = 0;
    plat::SetFaultHook([&](plat::FileOp op, const std::string& path) {
      ++count;
      return hook ? hook(op, path) : plat::Fault::None;
    });
    std::vector<std::string> argv = {"pcktool"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> raw;
    for (std::string& a : argv) raw.push_back(a.data());
    raw.push_back(nullptr);
    const int rc = PcktoolMain(int(raw.size() - 1), raw.data());
    plat::SetFaultHook(nullptr);
    if (write(fds[1], &count, sizeof count) != sizeof count) _exit(9);
    _exit(rc);
  }
  close(fds[1]);
  int count = 0;
  if (read(fds[0], &count, sizeof count) != sizeof count) count = -1;
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (operations) *operations = count;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

// The names in a folder, for "nothing is left behind".
std::set<std::string> Listing(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& e : fsys::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

// The content of every package of the game folder, and its plain files.
std::map<std::string, std::string> GameImage(const std::string& game) {
  std::map<std::string, std::string> out;
  for (const auto& e : fsys::recursive_directory_iterator(game)) {
    if (!e.is_regular_file()) continue;
    const std::string p = e.path().generic_string(), rel = p.substr(game.size() + 1);
    const std::string ext = e.path().extension().string();
    const std::string base = p.substr(0, p.size() - ext.size());
    if (ext == ".idx" && PackageExists(base)) {
      qvtest::PackageImage image;
      std::string why;
      out[rel] = qvtest::ReadPackage(base, image, kPw, &why) ? ::testing::PrintToString(image.files) : "bad: " + why;
    } else if ((ext == ".nam" || ext == ".dat") && PackageExists(base)) {
      continue;
    } else {
      out[rel] = qvtest::ReadFile(p);
    }
  }
  return out;
}

class PcktoolFaults : public ::testing::Test {
 protected:
  // In memory where there is such a folder: the sweeps sync after every change.
  qvtest::CTempDir m_dir{qvtest::FastTempRoot()};
  std::string Path(const std::string& name) const { return m_dir / name; }
  std::string Dir() const { return Path("pkgs"); }
  std::string Base() const { return Dir() + "/bld"; }

  void SetUp() override {
    qvtest::MakeDirs(Dir());
    qvtest::PackageOptions o;
    o.password = kPw;
    o.codec = 2;
    ASSERT_EQ(qvtest::BuildPackage(Base(), {{"ui/a.tga", qvtest::PseudoRandom(3000, 1, true)},
                                           {"ui/b.tga", qvtest::PseudoRandom(70000, 2)},
                                           {"snd/s.wav", "sound"}},
                                   o),
              "");
    qvtest::WriteFile(Path("new.bin"), qvtest::PseudoRandom(90000, 3));
    qvtest::MakeDirs(Path("tree/ui"));
    qvtest::WriteFile(Path("tree/ui/a.tga"), "rebuilt");
    qvtest::WriteFile(Path("tree/top.txt"), qvtest::PseudoRandom(70000, 4, true));
  }

  // Sweeps every fault point of one command against the package folder (`base`, bld by
  // default). The state is
  // everything a reader sees: files, folders and the dead-byte count (which is all that
  // compaction changes).
  // `rerunAfterFailure`: a failed run is run again even when it left the new package
  // (diff writes a second file after its package, which only a rerun brings).
  void Sweep(const std::vector<std::string>& args, std::string base = "", bool rerunAfterFailure = false) {
    if (base.empty()) base = Base();
    const qvtest::PackageBytes prepared = qvtest::LoadPackageBytes(base);
    const std::set<std::string> names = Listing(Dir());
    const qvtest::PackageImage before = qvtest::ImageOf(base, kPw);
    int points = 0;
    ASSERT_EQ(RunTool(args, nullptr, &points), 0);
    const qvtest::PackageImage after = qvtest::ImageOf(base, kPw);
    ASSERT_FALSE(after == before) << args[0] << " changes nothing";
    auto state = [&](const qvtest::PackageImage& image) {
      return image == before ? "old" : image == after ? "new" : "neither old nor new";
    };
    for (Mode mode : {Mode::Io, Mode::DiskFull, Mode::Stop}) {
      for (int k = 1; k <= points; ++k) {
        const std::string context = args[0] + ": " + Name(mode) + " at operation " + std::to_string(k);
        qvtest::SavePackageBytes(base, prepared);
        const int rc = RunTool(args, Fault(mode, k));
        ASSERT_TRUE(rc == 0 || rc == 1 || (mode == Mode::Stop && rc == kStopped)) << context << ": " << rc;
        CPckJournal journal(Dir());
        ASSERT_TRUE(journal.Recover()) << context << ": " << journal.Error().text;
        qvtest::PackageImage image;
        std::string why;
        ASSERT_TRUE(qvtest::ReadPackage(base, image, kPw, &why)) << context << ": " << why;
        if (rc == 0) {
          ASSERT_STREQ(state(image), "new") << context << ": reported success";
        }
        ASSERT_STRNE(state(image), "neither old nor new") << context;
        if (image == before || (rerunAfterFailure && rc != 0)) {
          ASSERT_EQ(RunTool(args, nullptr), 0) << context << ": run again";
        }
        ASSERT_STREQ(state(qvtest::ImageOf(base, kPw)), "new") << context;
        ASSERT_EQ(Listing(Dir()), names) << context << ": something was left behind";
      }
    }
    std::printf("[          ] pcktool %s: %d operations, %d faulted runs\n", args[0].c_str(), points, 3 * points);
  }
};

}  // namespace

TEST_F(PcktoolFaults, EveryChangingCommandLeavesTheOldPackageOrTheNew) {
  Sweep({"add", Base(), "ui/new.bin", Path("new.bin")});
  Sweep({"replace", Base(), "ui/b.tga", Path("new.bin")});
  Sweep({"delete", Base(), "ui"});
  Sweep({"mkdir", Base(), "made/here"});
  Sweep({"compact", Base(), Base()});
  Sweep({"create", Path("tree"), Base()});
  // diff writes its patch into the folder as a package of its own, over an earlier one.
  for (const char* game : {"old", "new"}) {
    qvtest::PackageOptions o;
    o.password = kPw;
    qvtest::MakeDirs(Path(game));
    ASSERT_EQ(qvtest::BuildPackage(Path(game) + "/mb", {{"items/i.txt", game}, {"items/same.txt", "same"}}, o), "");
    qvtest::WriteFile(Path(game) + "/CVer.txt", std::string("[Ver]\r\nCurVer=") + game + "\r\n");
  }
  ASSERT_EQ(RunTool({"diff", Path("old"), Path("old"), Dir()}, nullptr), 0);
  Sweep({"diff", Path("old"), Path("new"), Dir()}, Dir() + "/patch", true);
}

TEST_F(PcktoolFaults, ApplyLeavesEveryPackageWholeAndARunAgainFinishesIt) {
  const std::string game = Path("game");
  qvtest::MakeDirs(game);
  qvtest::PackageOptions o;
  o.password = kPw;
  o.codec = 2;
  ASSERT_EQ(qvtest::BuildPackage(game + "/bld", {{"ui/a.tga", "old"}, {"ui/gone.tga", "gone"}}, o), "");
  ASSERT_EQ(qvtest::BuildPackage(game + "/sy", {{"cfg/a.ini", "old"}}, o), "");
  qvtest::WriteFile(game + "/CVer.txt", "[Ver]\r\nCurVer=1.0.5\r\n");
  ASSERT_EQ(qvtest::BuildPackage(Path("patch"),
                                 {{"CVer.txt", "[Ver]\r\nCurVer=1.0.6\r\n"},
                                  {"bld/ui/a.tga", qvtest::PseudoRandom(80000, 5)},
                                  {"bld/ui/gone.tga", ""},
                                  {"sy/cfg/a.ini", "new"},
                                  {"pm/p.txt", "new package"},
                                  {"docs/readme.txt", "plain"}},
                                 o),
            "");
  const std::vector<std::string> args = {"apply", Path("patch"), game};
  ASSERT_EQ(std::system(("cp -a '" + game + "' '" + Path("pristine") + "'").c_str()), 0);
  int points = 0;
  ASSERT_EQ(RunTool(args, nullptr, &points), 0);
  const auto done = GameImage(game);
  for (Mode mode : {Mode::Io, Mode::DiskFull, Mode::Stop}) {
    for (int k = 1; k <= points; ++k) {
      const std::string context = std::string("apply: ") + Name(mode) + " at operation " + std::to_string(k);
      ASSERT_EQ(std::system(("rm -rf '" + game + "' && cp -a '" + Path("pristine") + "' '" + game + "'").c_str()), 0);
      const int rc = RunTool(args, Fault(mode, k));
      ASSERT_TRUE(rc == 0 || rc == 1 || (mode == Mode::Stop && rc == kStopped)) << context << ": " << rc;
      CPckJournal journal(game);
      ASSERT_TRUE(journal.Recover()) << context << ": " << journal.Error().text;
      for (const auto& [rel, content] : GameImage(game)) ASSERT_NE(content.rfind("bad: ", 0), 0u) << context << ": " << rel;
      // The version file is the commit point: it is new only when everything else is.
      if (qvtest::ReadFile(game + "/CVer.txt").find("1.0.6") != std::string::npos) {
        ASSERT_EQ(GameImage(game), done) << context;
      }
      if (rc == 0) {
        ASSERT_EQ(GameImage(game), done) << context << ": reported success";
      }
      ASSERT_EQ(RunTool(args, nullptr), 0) << context << ": run again";
      ASSERT_EQ(GameImage(game), done) << context;
    }
  }
  std::printf("[          ] pcktool apply: %d operations, %d faulted runs\n", points, 3 * points);
}

// The fault that started it all: the name table's write is buffered by the C runtime,
// the disk refuses it only when the buffer goes out, and the index must not be committed
// over names that never reached the disk. strace makes the real write(2) fail.
TEST_F(PcktoolFaults, ABufferedWriteRefusedByTheDiskNeverCommitsTheIndex) {
  if (std::system("strace -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "strace is not installed";
  std::vector<std::string> args;
  for (int i = 0; i < 30; ++i) {
    qvtest::WriteFile(Path("f" + std::to_string(i)), qvtest::PseudoRandom(500, uint32_t(i)));
  }
  const qvtest::PackageBytes prepared = qvtest::LoadPackageBytes(Base());
  const qvtest::PackageImage before = qvtest::ImageOf(Base(), kPw);
  for (const char* file : {"bld.nam", "bld.dat", "bld.idx.new"}) {
    for (const char* error : {"ENOSPC", "EIO"}) {
      for (int when = 1;; ++when) {
        const std::string context = std::string(file) + " " + error + " at write " + std::to_string(when);
        qvtest::SavePackageBytes(Base(), prepared);
        // A long name makes the name table's buffer the one that fills.
        const qvtest::RunResult r = qvtest::RunTool(
            "strace", {"-f", "-qq", "-o", "/dev/null", "-P", Dir() + "/" + file, "-e", "trace=write", "-e",
                       "inject=write:error=" + std::string(error) + ":when=" + std::to_string(when), PCKTOOL_PATH, "add",
                       Base(), "ui/" + std::string(200, 'n') + ".bin", Path("new.bin")},
            m_dir.Path());
        qvtest::PackageImage image;
        std::string why;
        ASSERT_TRUE(qvtest::ReadPackage(Base(), image, kPw, &why)) << context << ": " << why;
        if (r.code != 0) {
          ASSERT_EQ(r.code, 1) << context << r.err;
          ASSERT_TRUE(image == before) << context;
          ASSERT_NE(r.err.find(error == std::string("ENOSPC") ? "No space left on device" : "Input/output error"),
                    std::string::npos)
              << context << ": " << r.err;
          continue;
        }
        ASSERT_FALSE(image == before) << context;
        break;
      }
    }
  }
}

TEST_F(PcktoolFaults, TwoAddsAtOnceBothLandOrOneIsRefusedClearly) {
  const qvtest::PackageBytes prepared = qvtest::LoadPackageBytes(Base());
  qvtest::WriteFile(Path("one"), qvtest::PseudoRandom(200000, 7));
  qvtest::WriteFile(Path("two"), qvtest::PseudoRandom(200000, 8));
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    qvtest::SavePackageBytes(Base(), prepared);
    const std::string add = std::string(PCKTOOL_PATH) + " add '" + Base() + "' ";
    const std::string cmd = "{ " + add + "x/one '" + Path("one") + "' 2>'" + Path("e1") + "'; echo $? >'" + Path("c1") +
                            "'; } & { " + add + "x/two '" + Path("two") + "' 2>'" + Path("e2") + "'; echo $? >'" +
                            Path("c2") + "'; } & wait";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    const FileMap files = qvtest::ImageOf(Base(), kPw).files;
    for (const auto& [name, code] : {std::pair{"one", qvtest::ReadFile(Path("c1"))}, std::pair{"two", qvtest::ReadFile(Path("c2"))}}) {
      const bool landed = files.count("x/" + std::string(name)) > 0;
      // Success means the file is in the package; a refusal says why and adds nothing.
      EXPECT_EQ(std::stoi(code) == 0, landed) << name << " exit " << code;
      if (landed) {
        EXPECT_EQ(files.at("x/" + std::string(name)), qvtest::ReadFile(Path(name)));
      }
    }
  }
}
