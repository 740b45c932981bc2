// The whole update run (payload release, Delete.txt, the check of the patch, the
// release, the tidy pass) made to fail at every file operation in turn, as a failing
// disk would: the k-th open, write, flush, close, rename, removal or mkdir fails with an
// I/O error, or the disk is full from the k-th on, or the process stops right there.
// After each, once the journal is settled (as the next run or pcktool does first):
// every package of the game reads whole and matches its digests, mb.dat is there,
// nothing outside the game folder changed, no temporary of the run is left, and a rerun
// ends exactly where an uninterrupted run does, with nothing left over for a second
// rerun to repair. The game has files of its own named like the run's temporaries,
// which every run must keep.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "app/UpdateDlg.h"
#include "patch/PatchRelease.h"
#include "payload/PayloadFormat.h"
#include "pck/PckJournal.h"
#include "pck/PckReader.h"
#include "platform/Platform.h"
#include "tests/app/ScriptedWindow.h"
#include "tests/support/PackageFixtures.h"

namespace fsys = std::filesystem;
using qvtest::FileMap;

namespace {

const std::string kPw = kPckGamePassword;

std::string NotesText(bool changed) {
  std::string text;
  for (int i = 0; i < 200; ++i) text += (changed && i == 120 ? "a new line\r\n" : "") + std::to_string(i) + " note\r\n";
  return text;
}
std::string NewSound() {
  std::string sound = qvtest::PseudoRandom(2000, 2);
  sound.replace(700, 10, "0123456789abcdef");
  return sound;
}

// What a player's game folder holds: plain files, plain folders and the content of
// every package (not its bytes: dead space may differ between two good ends).
struct GameState {
  std::map<std::string, std::string> plain;
  std::set<std::string> folders;
  std::map<std::string, FileMap> packages;
  bool operator==(const GameState&) const = default;
};

std::ostream& operator<<(std::ostream& out, const GameState& s) {
  out << "plain:";
  for (const auto& [path, bytes] : s.plain) out << " " << path << "(" << bytes.size() << ")";
  out << "\nfolders:";
  for (const std::string& f : s.folders) out << " " << f;
  out << "\npackages:";
  for (const auto& [base, files] : s.packages) {
    out << " " << base << "{";
    for (const auto& [path, bytes] : files) out << " " << path << "(" << bytes.size() << ")";
    out << " }";
  }
  return out;
}

// The package bases in a folder tree: every X.idx with X.nam and X.dat beside it.
std::set<std::string> PackagesIn(const std::string& root) {
  std::set<std::string> bases;
  for (const auto& e : fsys::recursive_directory_iterator(root)) {
    const std::string p = e.path().generic_string();
    if (e.is_regular_file() && e.path().extension() == ".idx") {
      const std::string base = p.substr(0, p.size() - 4);
      if (fsys::exists(base + ".nam") && fsys::exists(base + ".dat")) bases.insert(base);
    }
  }
  return bases;
}

GameState Snapshot(const std::string& root) {
  GameState s;
  const std::set<std::string> bases = PackagesIn(root);
  for (const auto& e : fsys::recursive_directory_iterator(root)) {
    const std::string p = e.path().generic_string();
    const std::string rel = p.substr(root.size() + 1);
    if (e.is_directory()) {
      s.folders.insert(rel);
      continue;
    }
    const std::string ext = e.path().extension().string();
    const std::string stem = p.substr(0, p.size() - ext.size());
    if ((ext == ".idx" || ext == ".nam" || ext == ".dat") && bases.count(stem)) continue;
    s.plain[rel] = qvtest::ReadFile(p);
  }
  for (const std::string& base : bases) {
    qvtest::PackageImage image;
    std::string why;
    if (!qvtest::ReadPackage(base, image, kPw, &why)) image.files = {{"<unreadable>", why}};
    s.packages[base.substr(root.size() + 1)] = image.files;
  }
  return s;
}

// Every package of the game opens and every file decodes to its stored digest. (The
// released patch is the updater's own scratch: a stop may leave it half written, and
// the next run makes it again.)
std::string VerifyPackages(const std::string& root) {
  for (const char* const* name = g_packageNames; *name; ++name) {
    const std::string base = root + "/" + *name;
    if (!PackageExists(base)) continue;
    PckReader reader;
    reader.SetPassword(kPw.c_str());
    if (reader.Open(base) != 0) return base + ": " + reader.LastError();
    for (size_t i = 0; i < reader.Records().size(); ++i)
      if (reader.Records()[i].type == kPckFile && reader.VerifyEntry(int(i)) != 0)
        return base + ": record " + std::to_string(i) + " is damaged";
  }
  return {};
}

// Everything below `root` named like a temporary of the run: a plain file's
// "<name>.qvnew<n>" or "~qvnew<n>.tmp", the tidy pass's copy "tmp<n>.idx|nam|dat".
std::set<std::string> NamedLikeTemporaries(const std::string& root) {
  std::set<std::string> names;
  for (const auto& e : fsys::recursive_directory_iterator(root)) {
    const std::string name = e.path().filename().string();
    if (name.find("qvnew") != std::string::npos || name.rfind("tmp", 0) == 0)
      names.insert(e.path().generic_string().substr(root.size() + 1));
  }
  return names;
}

void CopyTree(const std::string& from, const std::string& to) {
  std::error_code ec;
  fsys::remove_all(to, ec);
  fsys::copy(from, to, fsys::copy_options::recursive);
}

enum class Mode { Io, DiskFull, Stop };
const char* Name(Mode m) { return m == Mode::Io ? "I/O error" : m == Mode::DiskFull ? "disk full" : "stop"; }

constexpr int kStopped = 7;

class RunFaultSweep : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeGame(Pristine());
    qvtest::MakeDirs(Outside());
    qvtest::WriteFile(Outside() + "/keep.txt", "not the game's");
  }

  std::string Pristine() const { return m_dir / "pristine"; }
  std::string Game() const { return m_dir / "game"; }
  std::string Outside() const { return m_dir / "outside"; }

  // Three packages (mb with its mb.dat among them), plain files, and an updater that
  // carries a patch touching all of it and making the package pm.
  void MakeGame(const std::string& game) {
    qvtest::MakeDirs(game);
    qvtest::PackageOptions o;
    o.password = kPw;
    o.codec = 2;
    ASSERT_EQ(qvtest::BuildPackage(game + "/bld", {{"ui/x.tga", qvtest::PseudoRandom(3000, 1, true)},
                                                   {"ui/old.tga", "old art"},
                                                   {"snd/s.wav", qvtest::PseudoRandom(2000, 2)}},
                                   o),
              "");
    ASSERT_EQ(qvtest::BuildPackage(game + "/mb", {{"map/m1.bin", qvtest::PseudoRandom(20000, 3)},
                                                  {"ui/a.txt", "a"},
                                                  {"ui/b.txt", "b"}},
                                   o),
              "");
    ASSERT_EQ(qvtest::BuildPackage(game + "/sy", {{"cfg/sys.ini", "[sys]"}, {"cfg/unused.ini", "[old]"}}, o), "");
    qvtest::WriteFile(game + "/CVer.txt", "[Ver]\r\nCurVer=1.0.5\r\n");
    qvtest::WriteFile(game + "/readme.txt", "old readme");
    qvtest::WriteFile(game + "/a.log", "log");
    qvtest::MakeDirs(game + "/docs");
    qvtest::WriteFile(game + "/docs/old.txt", "obsolete");
    // What Delete.txt removes and the patch makes anew: the package LaunchSkin rebuilt
    // from scratch, the plain folder cj that becomes a package, the file data that
    // becomes a folder.
    ASSERT_EQ(qvtest::BuildPackage(game + "/LaunchSkin", {{"skin/old.bmp", "old skin"}}, o), "");
    qvtest::MakeDirs(game + "/cj/ui");
    qvtest::WriteFile(game + "/cj/ui/a.tga", "plain art");
    qvtest::WriteFile(game + "/data", "a file");
    qvtest::WriteFile(game + "/notes.txt", NotesText(false));
    // The player's own files, named like what the run writes beside readme.txt and mb.
    qvtest::WriteFile(game + "/readme.txt.qvnew", "the player's");
    qvtest::WriteFile(game + "/tmp.idx", "the player's too");

    const FileMap patch = {
        {"CVer.txt", "[Ver]\r\nCurVer=1.0.6\r\nValidVer=1.0.5\r\n"},
        {"readme.txt", "new readme"},
        {"docs/new.txt", "new doc"},
        {"bld/ui/x.tga", qvtest::PseudoRandom(3500, 4, true)},
        {"bld/ui/new.tga", "new art"},
        {"bld/ui/old.tga", ""},
        {"mb/map/m1.bin", qvtest::PseudoRandom(21000, 5)},  // leaves mb over the tidy threshold
        {"mb/ui/b.txt", ""},
        {"sy/cfg/unused.ini", ""},
        {"pm/start/p.txt", "a new package"},
        {"LaunchSkin/skin/new.bmp", "new skin"},
        {"cj/ui/a.tga", "packed art"},
        {"data/x.txt", "in a folder now"},
        // Changed files as deltas of the game's own: an entry and a plain file; and one
        // for a copy of notes.txt this game does not have, which the release passes over.
        qvtest::DeltaFile("bld/snd/s.wav", qvtest::PseudoRandom(2000, 2), NewSound()),
        qvtest::DeltaFile("notes.txt", NotesText(false), NotesText(true)),
        qvtest::DeltaFile("notes.txt", "another copy", NotesText(true)),
    };
    const std::string src = m_dir / "src";
    qvtest::MakeDirs(src);
    ASSERT_EQ(qvtest::BuildPackage(src + "/patch", patch, o), "");
    qvtest::WriteFile(src + "/Delete.txt",
                      "docs/old.txt\r\n*.log\r\nLaunchSkin.idx\r\nLaunchSkin.nam\r\nLaunchSkin.dat\r\ncj\r\ndata\r\n");
    qvtest::WriteFile(src + "/image", std::string(2000, 'M'));
    CPayloadBuilder builder;
    std::string why;
    for (const char* f : {"patch.idx", "patch.nam", "patch.dat", "Delete.txt"})
      ASSERT_TRUE(builder.Add(f, src + "/" + f, why)) << why;
    ASSERT_TRUE(builder.Write(src + "/image", game + "/updater", why)) << why;
  }

  // One run of the updater in a child process, with `hook` installed: its exit code
  // (0 the window closed after a good run, 1 the run failed, kStopped stopped in the
  // hook) and the number of file operations it asked the hook about.
  int RunUpdater(const plat::FaultHook& hook, int* operations = nullptr) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
      close(fds[0]);
      int count = 0;
      plat::SetFaultHook([&](plat::FileOp op, const std::string& path) {
        ++count;
        return hook ? hook(op, path) : plat::Fault::None;
      });
      CScriptedWindow w;
      w.answers.assign(8, plat::kIdYes);
      CUpdateDlg dlg(w);
      dlg.m_strModulePath = Game() + "/updater";
      dlg.m_nTidyDelayMs = 0;
      dlg.OnUpdate();
      plat::SetFaultHook(nullptr);
      if (write(fds[1], &count, sizeof count) != sizeof count) _exit(9);
      _exit(w.closed ? 0 : 1);
    }
    close(fds[1]);
    int count = 0;
    if (read(fds[0], &count, sizeof count) != sizeof count) count = -1;
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (operations) *operations = count;
    if (WIFSIGNALED(status)) return -WTERMSIG(status);
    return WEXITSTATUS(status);
  }

  // The k-th operation (from 1) fails or stops, as `mode` says.
  static plat::FaultHook Fault(Mode mode, int k) {
    auto seen = std::make_shared<int>(0);
    return [=](plat::FileOp op, const std::string&) {
      const int n = ++*seen;
      if (mode == Mode::Stop) {
        if (n == k) _exit(kStopped);
        return plat::Fault::None;
      }
      if (mode == Mode::Io) return n == k ? plat::Fault::Io : plat::Fault::None;
      // A full disk stays full: from the k-th on, nothing more can be written, while
      // renames and removals still work.
      const bool writes = op == plat::FileOp::Open || op == plat::FileOp::Write || op == plat::FileOp::Flush ||
                          op == plat::FileOp::Close || op == plat::FileOp::MakeDir;
      return n >= k && writes ? plat::Fault::NoSpace : plat::Fault::None;
    };
  }

  qvtest::CTempDir m_dir{qvtest::FastTempRoot()};
};

}  // namespace

TEST_F(RunFaultSweep, EveryFaultPointLeavesAGameThatTheRerunFinishes) {
  // The uninterrupted run: where every rerun must end, and how many points there are.
  CopyTree(Pristine(), Game());
  int points = 0;
  ASSERT_EQ(RunUpdater(nullptr, &points), 0);
  const GameState done = Snapshot(Game());
  ASSERT_EQ(done.packages.count("pm"), 1u) << done;
  EXPECT_EQ(done.packages.at("LaunchSkin"), (FileMap{{"skin/new.bmp", "new skin"}}));
  EXPECT_EQ(done.packages.at("cj"), (FileMap{{"ui/a.tga", "packed art"}}));
  EXPECT_EQ(done.plain.at("data/x.txt"), "in a folder now");
  EXPECT_EQ(done.plain.at("notes.txt"), NotesText(true));
  EXPECT_EQ(done.packages.at("bld").at("snd/s.wav"), NewSound());
  EXPECT_EQ(done.folders.count("cj"), 0u);
  EXPECT_EQ(done.plain.at("CVer.txt"), "[Ver]\r\nCurVer=1.0.6\r\nValidVer=1.0.5\r\n");
  EXPECT_EQ(done.plain.count("docs/old.txt") + done.plain.count("a.log") + done.plain.count("patch.dat"), 0u);
  EXPECT_EQ(done.packages.at("mb"), (FileMap{{"map/m1.bin", qvtest::PseudoRandom(21000, 5)}, {"ui/a.txt", "a"}}));
  EXPECT_LT(fsys::file_size(Game() + "/mb.dat"), 30000u) << "mb was not compacted";
  ASSERT_GT(points, 50);
  EXPECT_EQ(done.plain.at("readme.txt.qvnew"), "the player's");
  EXPECT_EQ(done.plain.at("tmp.idx"), "the player's too");
  const std::set<std::string> own = NamedLikeTemporaries(Pristine());
  const std::map<std::string, std::string> outside = {{"keep.txt", "not the game's"}};

  int covered = 0;
  for (Mode mode : {Mode::Io, Mode::DiskFull, Mode::Stop}) {
    for (int k = 1; k <= points; ++k) {
      const std::string context = std::string(Name(mode)) + " at operation " + std::to_string(k);
      CopyTree(Pristine(), Game());
      const int first = RunUpdater(Fault(mode, k));
      ASSERT_TRUE(mode == Mode::Stop ? first == kStopped : (first == 0 || first == 1)) << context << ": " << first;
      ++covered;

      // What the next run, or pcktool, does first: settle the journal.
      CPckJournal journal(Game());
      ASSERT_TRUE(journal.Recover()) << context << ": " << journal.Error().text;
      ASSERT_EQ(VerifyPackages(Game()), "") << context;
      ASSERT_TRUE(fsys::exists(Game() + "/mb.dat")) << context;
      ASSERT_EQ(NamedLikeTemporaries(Game()), own) << context;
      ASSERT_EQ(Snapshot(Outside()).plain, outside) << context;
      ASSERT_EQ(std::set<std::string>({"game", "outside", "pristine", "src"}),
                [&] {
                  std::set<std::string> names;
                  for (const auto& e : fsys::directory_iterator(m_dir.Path())) names.insert(e.path().filename());
                  return names;
                }())
          << context;

      // The rerun ends where an uninterrupted run ends and leaves nothing to repair.
      ASSERT_EQ(RunUpdater(nullptr), 0) << context;
      ASSERT_EQ(Snapshot(Game()), done) << context;
      ASSERT_FALSE(fsys::exists(Game() + "/" + kPckJournalName)) << context;
    }
  }
  RecordProperty("fault_points", points);
  std::printf("[          ] %d operations in a run, %d faulted runs, each rerun to the end\n", points, covered);
}
