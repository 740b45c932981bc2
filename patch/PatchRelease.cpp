// ApplyPatchPackage and CPatchWalker.
#include "patch/PatchRelease.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "fs/CheckedStream.h"
#include "fs/FileSource.h"
#include "fs/FileTarget.h"
#include "patch/IWalkSink.h"
#include "patch/PatchCheck.h"
#include "pck/PckFormat.h"
#include "pck/PckReader.h"
#include "platform/PathText.h"

const char* const g_packageNames[] = {"bld", "cj", "RESOURCE", "mb", "sy", "pm", "mb_compete", "LaunchSkin", nullptr};

namespace {
// Target paths are limited like every path the game uses.
constexpr size_t kMaxTargetPath = 259;
}  // namespace

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
  // A patch is untrusted input: a name that could climb out of the game folder, or a
  // path the game could not open, stops the release before anything is written there.
  if (!plat::IsSafeName(name)) return Error("Unsafe name in pck:%s !!!\r\n", m_strCurrent + "/" + name);
  // Both the folder in the patch and its place in the game must stay within the limit;
  // the walk would otherwise stop at it without a word.
  const size_t inner = m_strCurrent.size() - m_rootLength + 1 + std::strlen(name);
  if (m_rootLength + inner > CDirWalker::kMaxPath || m_gameFolder.size() + inner > kMaxTargetPath)
    return Error("Path too long in pck:%s !!!\r\n", m_strCurrent + "/" + name);
  if (m_nDepth == 1) {
    m_bIntoPackage = false;
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
  if (m_nDepth == 1) m_bIntoPackage = false;
  return 0;
}

int CPatchWalker::OnFile(const char* name) {
  if (Aborted()) return -1;
  const std::string source = m_strCurrent + "/" + name;
  if (!plat::IsSafeName(name)) return Error("Unsafe name in pck:%s !!!\r\n", source);
  std::string inner = m_strCurrent.substr(m_rootLength);  // "" or "/top/..."
  if (!inner.empty()) {
    size_t end = inner.find('/', 1);
    inner = "/" + m_strTopTarget + (end == std::string::npos ? std::string() : inner.substr(end));
  }
  const std::string target = m_gameFolder + inner + "/" + name;
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
  if (target.size() > kMaxTargetPath) {
    g_fileSource->CloseFile(std::move(stream));
    return Error("Can not patch file :%s !!!\r\n", target);
  }
  // The file counts as done before it is written: the progress shows files taken on.
  if (m_sink) m_sink->Post(kWalkFileDone, source.c_str());
  // What is written must be what the patch's publisher stored: a damaged block or a
  // wrong password shows as a digest that does not match, and the file is not kept.
  CDigestCheckedStream checked(*stream);
  int rc;
  if (m_plan) {
    // The check found where this file can go; a file it did not see is not written.
    const PlannedFile* planned = m_plan->Find(source);
    rc = planned ? m_target.Put(planned->landing, checked, m_codec) : -1;
  } else {
    rc = m_target.PutFile(target, checked, m_bIntoPackage, m_codec);
  }
  g_fileSource->CloseFile(std::move(stream));
  if (rc == 0) return 0;
  Error("Can not patch file :%s !!!\r\n", target);
  // The reason, for the log and the tools.
  if (m_sink && !m_target.Error().empty()) m_sink->Post(kWalkError, -1, (m_target.Error() + "\r\n").c_str());
  return -1;
}

namespace {

// True (after an error event) when some entry of the patch has a name that is not safe
// to create in a folder. A patch that does not open is left to the walk to report.
bool PatchHasUnsafeName(const std::string& patchBase, IWalkSink* sink) {
  PckReader reader;
  if (reader.Open(patchBase) != 0) return false;
  std::vector<std::string> path;  // names of the open folders below the root
  const std::vector<PckRecord>& records = reader.Records();
  for (size_t i = 1; i < records.size(); ++i) {
    if (records[i].type == kPckFolderEnd) {
      if (!path.empty()) path.pop_back();
      continue;
    }
    std::string_view name = reader.Name(int(i));
    if (!plat::IsSafeName(name)) {
      std::string where = patchBase;
      for (const std::string& p : path) where += "/" + p;
      where += "/";
      where.append(name);
      if (sink) {
        std::string text = "Unsafe name in pck:" + where + " !!!\r\n";
        sink->Post(kWalkError, -1, text.c_str());
      }
      return true;
    }
    if (records[i].type == kPckFolder) path.emplace_back(name);
  }
  return false;
}

}  // namespace

int ApplyPatchPackage(const std::string& patchBase, const char* const* packageNames,
                      const std::string& gameFolder, uint32_t targetFlags, const char* password,
                      IWalkSink* sink, int codec, const ReleaseOptions& options) {
  // A patch is untrusted: every name in it is checked before the first file is written,
  // so a hostile one leaves the game untouched. (The walk itself passes over folders
  // named "." or "..", which on a disk are the folder and its parent.)
  if (PatchHasUnsafeName(patchBase, sink)) return -1;

  auto target = std::make_unique<CFileTarget>();
  target->SetFlags(targetFlags);
  target->SetPassword(password);
  target->SetRoot(gameFolder);
  target->SetJournal(options.journal);

  // The patch is read from its package only: a stray plain folder named like it on the
  // disk is never taken for the patch.
  auto source = std::make_unique<CFileSource>();
  source->SetMode(PackageOnly);
  source->SetPassword(password);
  g_fileSource = source.get();

  int result;
  {
    CPatchWalker walker(*target, sink, packageNames, gameFolder, codec, patchBase.size(), options.plan);
    result = walker.Walk(patchBase, true);
    // Every package that received files is committed now; one that cannot be written
    // keeps its old index, and the release has then failed.
    if (target->CloseAll() != 0) {
      if (sink) sink->Post(kWalkError, -1, (target->Error() + "\r\n").c_str());
      result = -1;
    }
    if (result == 0) result = walker.ReleaseVersionFile();
  }
  g_fileSource = nullptr;
  source.reset();
  return result;
}
