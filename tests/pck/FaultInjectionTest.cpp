// An edit session made to fail at each write, flush and replace in turn, and (on Linux)
// a process stopped at each of them: the package must read exactly as before the session
// or exactly as after it, a failure must never be reported as success, and the package
// must take the same session again afterwards.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <optional>
#include <string>

#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "pck/PckWriter.h"
#include "tests/support/Faults.h"
#include "tests/support/PackageFixtures.h"
#include "tests/support/TempDir.h"

using namespace qvtest;

namespace {

enum class Outcome { Committed, OpFailed, CommitFailed };

const char* Describe(Outcome o) {
  return o == Outcome::Committed ? "committed" : o == Outcome::OpFailed ? "an edit failed" : "the commit failed";
}

using HookGuard = CFaultHook;

}  // namespace

class FaultInjection : public PackageDirTest {
 protected:
  void SetUp() override {
    PackageOptions o;
    o.blockSize = 64;
    o.password = kPckGamePassword;
    o.codecs = {{"keep/b.bin", 0}, {"gone/sub/y.bin", 2}};
    ASSERT_EQ(BuildPackage(base,
                           {{"keep/a.txt", PseudoRandom(150, 1, true)},
                            {"keep/b.bin", PseudoRandom(70, 2)},
                            {"drop.txt", "drop me"},
                            {"gone/x.txt", PseudoRandom(90, 3, true)},
                            {"gone/sub/y.bin", PseudoRandom(30, 4)},
                            {"z.txt", "zzz"}},
                           o),
              "");
    prepared = LoadPackageBytes(base);
    before = ImageOf(base, kPckGamePassword);
    ASSERT_EQ(RunSession(), Outcome::Committed);
    after = ImageOf(base, kPckGamePassword);
    ASSERT_NE(after, before);
    Restore();
  }

  // One transaction: every edit must succeed, or the session is given up.
  Outcome RunSession() {
    PckWriter w;
    w.SetPassword(kPckGamePassword);
    if (w.OpenForEdit(base) != 0) return Outcome::OpFailed;
    TextSource s1(PseudoRandom(100, 11, true)), s2(PseudoRandom(300, 12)), s3(PseudoRandom(40, 13, true)),
        s4(PseudoRandom(200, 14, true)), s5("last");
    const std::function<int()> steps[] = {
        [&] { return w.AddFile("new.txt", s1, 1); },
        [&] { return w.AddFile("deep/er/x.bin", s2, 2); },
        [&] { return w.AddFile("keep/extra.txt", s3, 0); },
        [&] { return w.ReplaceFile("keep/a.txt", s4, 1); },
        [&] { return w.Delete("drop.txt"); },
        [&] { return w.Delete("gone"); },
        [&] { return w.MakeDir("made/here"); },
        [&] { return w.AddFile("made/here/last.txt", s5, 1); },
    };
    for (const auto& step : steps) {
      if (step() != 0) {
        w.Abandon();
        return Outcome::OpFailed;
      }
    }
    w.Close();
    return w.CommitFailed() ? Outcome::CommitFailed : Outcome::Committed;
  }

  void Restore() {
    SavePackageBytes(base, prepared);
    std::remove((PckIndexName(base) + ".new").c_str());
  }

  // The package reads whole and as it was before the session, or after it.
  void ExpectOldOrNew(const std::string& context, bool mustBeNew, bool mustBeOld) {
    PackageImage image;
    std::string why;
    ASSERT_TRUE(ReadPackage(base, image, kPckGamePassword, &why)) << context << ": " << why;
    if (mustBeNew)
      ASSERT_EQ(image, after) << context;
    else if (mustBeOld)
      ASSERT_EQ(image, before) << context;
    else
      ASSERT_TRUE(image == before || image == after) << context << ": " << image;
  }

  // Whatever a failed session left behind, the same session succeeds on it afterwards.
  void ExpectSessionSucceedsAgain(const std::string& context) {
    ASSERT_EQ(RunSession(), Outcome::Committed) << context;
    ExpectOldOrNew(context + ", run again", true, false);
  }

  // Fails the k-th operation of one kind, for k = 1, 2, ... until a session passes
  // without reaching it. Returns how many operations of that kind a session makes.
  int FailEachInTurn(plat::FileOp which, const char* name) {
    HookGuard guard;
    for (int k = 1; k < 10000; ++k) {
      Restore();
      int count = 0;
      bool fired = false;
      plat::SetFaultHook([&](plat::FileOp op, const std::string&) {
        if (op != which || ++count != k) return plat::Fault::None;
        fired = true;
        return plat::Fault::Io;
      });
      const Outcome out = RunSession();
      plat::SetFaultHook(nullptr);
      const std::string context = std::string(name) + " " + std::to_string(k) + " failed, " + Describe(out);
      if (!fired) {
        EXPECT_EQ(out, Outcome::Committed) << context;
        ExpectOldOrNew(context, true, false);
        return k - 1;
      }
      // A failed operation is never taken for success, and a failed session leaves
      // the package as it was.
      EXPECT_NE(out, Outcome::Committed) << context;
      ExpectOldOrNew(context, false, out != Outcome::Committed);
      EXPECT_FALSE(Exists(PckIndexName(base) + ".new")) << context;
      ExpectSessionSucceedsAgain(context);
      if (HasFatalFailure() || HasNonfatalFailure()) return -1;
    }
    ADD_FAILURE() << "the session never ran to its end";
    return -1;
  }

  std::string base = Path("pkg");
  PackageBytes prepared;
  PackageImage before, after;
};

TEST_F(FaultInjection, EachFailedWriteLeavesTheOldPackage) {
  const int writes = FailEachInTurn(plat::FileOp::Write, "write");
  // entries of five files, their names, and the new index
  EXPECT_GT(writes, 20);
}

TEST_F(FaultInjection, EachFailedFlushLeavesTheOldPackage) {
  // .dat, .nam and the new index
  EXPECT_EQ(FailEachInTurn(plat::FileOp::Flush, "flush"), 3);
}

TEST_F(FaultInjection, FailedReplaceOfTheIndexLeavesTheOldPackage) {
  EXPECT_EQ(FailEachInTurn(plat::FileOp::Rename, "replace"), 1);
}

TEST_F(FaultInjection, SessionWithoutChangesWritesNothing) {
  HookGuard guard;
  int ops = 0;
  // Reading is allowed; nothing may be written, renamed or removed.
  plat::SetFaultHook([&](plat::FileOp op, const std::string&) {
    ops += op != plat::FileOp::Open && op != plat::FileOp::Close;
    return plat::Fault::None;
  });
  PckWriter w;
  ASSERT_EQ(w.OpenForEdit(base), 0);
  TextSource src("x");
  EXPECT_EQ(w.AddFile("keep/a.txt", src, 1), -1);  // refused before anything is written
  EXPECT_EQ(w.Delete("missing"), -1);
  w.Close();
  EXPECT_EQ(ops, 0);
  EXPECT_EQ(LoadPackageBytes(base), prepared);
}

#if !defined(_WIN32)
// The process stops (as in a crash or a power cut, without flushing any buffer) right
// before its k-th write, flush, close, rename or removal.
TEST_F(FaultInjection, ProcessStoppedAtAnyOperationLeavesOldOrNew) {
  int stops = 0;
  for (int k = 1; k < 10000; ++k) {
    Restore();
    fflush(nullptr);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int count = 0;
      plat::SetFaultHook([&](plat::FileOp op, const std::string&) {
        if (op != plat::FileOp::Open && ++count == k) _exit(0);
        return plat::Fault::None;
      });
      _exit(RunSession() == Outcome::Committed ? 3 : 4);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "k " << k;
    const int code = WEXITSTATUS(status);
    const std::string context = "stopped at operation " + std::to_string(k);
    ASSERT_NE(code, 4) << context << ": the session failed without a fault";
    if (code == 3) {
      ExpectOldOrNew("no stop", true, false);
      break;
    }
    ++stops;
    ExpectOldOrNew(context, false, false);
    // Stopped after the commit (closing the files): the session is done already.
    if (ImageOf(base, kPckGamePassword) != after) ExpectSessionSucceedsAgain(context);
    if (HasFatalFailure()) return;
  }
  EXPECT_GT(stops, 20);
}
#endif
