// ApplyPatchPackage and CPatchWalker.
#include "patch/PatchRelease.h"

#include "io/Limits.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "io/CheckedStream.h"
#include "fs/FileSource.h"
#include "delta/Delta.h"
#include "fs/FileTarget.h"
#include "io/IWalkSink.h"
#include "patch/DeltaBases.h"
#include "patch/PatchCheck.h"
#include "pck/PckFormat.h"
#include "pck/PckReader.h"
#include "platform/PathText.h"

const char* const g_packageNames[] = {"bld", "cj", "RESOURCE", "mb", "sy", "pm", "mb_compete", "LaunchSkin", nullptr};


CPatchWalker::CPatchWalker(CFileTarget& target, IWalkSink* sink, const char* const* packageNames,
                           std::string gameFolder, int codec, size_t rootLength, const CPatchPlan* plan)
    : m_target(target),
      m_sink(sink),
      m_packageNames(packageNames),
      m_gameFolder(std::move(gameFolder)),
      m_codec(codec),
      m_rootLength(rootLength),
      m_plan(plan) {}

bool CPatchWalker::Aborted() {
  if (m_sink && m_sink->IsAborted()) {
    m_bCancel = true;
    return true;
  }
  return false;
}

// Posts an error event with code -1 and the formatted text; always -1.
int CPatchWalker::Error(const char* format, const std::string& path) {
  if (m_sink) {
    std::vector<char> text(std::strlen(format) + path.size() + 1);
    std::snprintf(text.data(), text.size(), format, path.c_str());
    m_sink->Post(kWalkError, -1, text.data());
  }
  return -1;
}

int CPatchWalker::OnFolder(const char* name) {
  if (Aborted()) return -1;
  // A name that could climb out of the game folder never reaches the target.
  if (!PckNameIsStorable(name)) return Error("Unsafe name in pck:%s !!!\r\n", m_strCurrent + "/" + name);
  // Both the folder in the patch and its place in the game must stay within the limit;
  // the walk would otherwise stop at it without a word.
  const size_t inner = m_strCurrent.size() - m_rootLength + 1 + std::strlen(name);
  if (m_rootLength + inner > CDirWalker::kMaxPath || m_gameFolder.size() + inner > kMaxPathBytes)
    return Error("Path too long in pck:%s !!!\r\n", m_strCurrent + "/" + name);
  if (m_nDepth == 1) {
    m_bIntoPackage = false;
    m_bInDeltas = PckNamesEqual(name, kDeltaFolder);
    m_strTopTarget = name;
    // A top folder named like a game package goes to that package under the list's own
    // spelling, so BLD and bld meet the same files on a case-sensitive disk too.
    for (const char* const* p = m_packageNames; p && *p; ++p)
      if (PckNamesEqual(*p, name)) {
        m_bIntoPackage = true;
        m_strTopTarget = *p;
      }
  }
  return 0;
}

int CPatchWalker::OnLeaveFolder(const char*) {
  if (m_nDepth == 1) m_bIntoPackage = m_bInDeltas = false;
  return 0;
}

int CPatchWalker::OnFile(const char* name) {
  if (Aborted()) return -1;
  const std::string source = m_strCurrent + "/" + name;
  if (!PckNameIsStorable(name)) return Error("Unsafe name in pck:%s !!!\r\n", source);
  std::string inner = m_strCurrent.substr(m_rootLength);  // "" or "/top/..."
  if (!inner.empty()) {
    size_t end = inner.find('/', 1);
    inner = "/" + m_strTopTarget + (end == std::string::npos ? std::string() : inner.substr(end));
  }
  const std::string target = m_gameFolder + inner + "/" + name;
  // A delta lands where the check found the file it applies to; the deltas for other
  // bases are passed over.
  if (m_bInDeltas) {
    if (m_plan && m_plan->passed.count(source)) {
      // Still a file of the patch taken on: the progress counts every file it has.
      if (m_sink) m_sink->Post(kWalkFileBegin, source.c_str()), m_sink->Post(kWalkFileDone, source.c_str());
      return 0;
    }
    return Release(source, target);
  }
  // The version file says which version the game is at: it goes in when all else is in.
  if (m_nDepth == 1 && IsVersionFile(name)) {
    m_strVersionSource = source;
    m_strVersionTarget = target;
    return 0;
  }
  return Release(source, target);
}

int CPatchWalker::ReleaseVersionFile() {
  if (m_strVersionSource.empty()) return 0;
  if (Aborted()) return -1;
  return Release(m_strVersionSource, m_strVersionTarget);
}

int CPatchWalker::Release(const std::string& source, const std::string& target) {
  std::unique_ptr<DataStream> stream = g_fileSource->OpenFile(source, "rb");
  if (m_sink) m_sink->Post(kWalkFileBegin, source.c_str());
  if (!stream) return Error("Can not open file in pck:%s !!!\r\n", source);
  if (target.size() > kMaxPathBytes) {
    g_fileSource->CloseFile(std::move(stream));
    return Error("Can not patch file :%s !!!\r\n", target);
  }
  // The file counts as done before it is written: the progress shows files taken on.
  if (m_sink) m_sink->Post(kWalkFileDone, source.c_str());
  int rc;
  const PlannedFile* planned = m_plan ? m_plan->Find(source) : nullptr;
  if (planned && planned->delta) {
    // The result is made from the game's file as the stream is read, checked against its
    // recorded size and MD5 at the end, and kept only then, in the game's codec.
    CError why;
    std::unique_ptr<DataStream> base = m_bases ? m_bases->Open(planned->landing, why) : nullptr;
    CDeltaStream result;
    rc = base && result.Open(*base, *stream, source) == 0 ? m_target.Put(planned->landing, result, m_codec) : -1;
    if (rc != 0 && m_sink) {
      const std::string text = !base ? why.text : result.Error().Failed() ? result.Error().text : std::string();
      if (!text.empty()) m_sink->Post(kWalkError, -1, (text + "\r\n").c_str());
    }
  } else if (m_plan) {
    // The check found where this file can go and that it decodes to the digest its
    // publisher stored; a file it did not see is not written. The target may copy its
    // blocks as they are stored.
    rc = planned && !m_bInDeltas ? m_target.Put(planned->landing, *stream, m_codec) : -1;
  } else {
    // What is written must be what the patch's publisher stored: a damaged block or a
    // wrong password shows as a digest that does not match, and the file is not kept.
    CDigestCheckedStream checked(*stream);
    rc = m_bInDeltas ? -1 : m_target.PutFile(target, checked, m_bIntoPackage, m_codec);
  }
  g_fileSource->CloseFile(std::move(stream));
  if (rc == 0) return 0;
  Error("Can not patch file :%s !!!\r\n", target);
  // The reason, for the log and the tools.
  if (m_sink && m_target.Error().Failed()) m_sink->Post(kWalkError, -1, (m_target.Error().text + "\r\n").c_str());
  return -1;
}

int ApplyPatchPackage(const std::string& patchBase, const char* const* packageNames,
                      const std::string& gameFolder, uint32_t targetFlags, const char* password,
                      IWalkSink* sink, int codec, const ReleaseOptions& options) {
  // A patch is untrusted: the whole of it is checked against the game before the first
  // file is written (every name, every path, every digest, every landing), so a hostile
  // or damaged one leaves the game untouched. The update run has done that already and
  // hands over its plan.
  CPatchPlan ownPlan;
  const CPatchPlan* plan = options.plan;
  if (!plan) {
    CError problem;
    if (CheckPatchPackage(patchBase, packageNames, gameFolder, targetFlags, password, nullptr, ownPlan, problem) != 0) {
      if (sink) sink->Post(kWalkError, -1, (problem.text + "\r\n").c_str());
      return -1;
    }
    plan = &ownPlan;
  }

  auto target = std::make_unique<CFileTarget>();
  target->SetFlags(targetFlags);
  target->SetPassword(password);
  target->SetRoot(gameFolder);
  target->SetJournal(options.journal);
  // No temporary may take the name of a file the release writes, and the temporaries
  // of each batch of plain files are listed in the journal together.
  std::vector<Landing> landings;
  landings.reserve(plan->files.size());
  for (const PlannedFile& file : plan->files) landings.push_back(file.landing);
  target->ReserveLandings(landings);
  // Plain files land in batches: their fsyncs overlap, and each folder is synced once.
  target->SetBatchPlainFiles(true);

  // The patch is read from its package only: a stray plain folder named like it on the
  // disk is never taken for the patch.
  auto source = std::make_unique<CFileSource>();
  source->SetMode(PackageOnly);
  source->SetPassword(password);
  // Installed for the walk only, and taken down however the walk ends.
  struct SourceInstalled {
    explicit SourceInstalled(CFileSource* s) { g_fileSource = s; }
    ~SourceInstalled() { g_fileSource = nullptr; }
  } installed(source.get());

  int result;
  {
    CDeltaBases bases(password ? password : "");
    CPatchWalker walker(*target, sink, packageNames, gameFolder, codec, patchBase.size(), plan);
    walker.SetDeltaBases(&bases);
    result = walker.Walk(patchBase, true);
    bases.Close();
    // Every package that received files is committed now; one that cannot be written
    // keeps its old index, and the release has then failed.
    if (target->CloseAll() != 0) {
      if (sink) sink->Post(kWalkError, -1, (target->Error().text + "\r\n").c_str());
      result = -1;
    }
    // The version file lands on its own, after everything else has.
    target->SetBatchPlainFiles(false);
    if (result == 0) result = walker.ReleaseVersionFile();
  }
  if (result != 0 && options.error && target->Error().Failed()) *options.error = target->Error();
  return result;
}
