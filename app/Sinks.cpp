#include "app/Sinks.h"

#include <cstdarg>

#include "app/RunLog.h"
#include "app/Texts.h"
#include "app/UpdateDlg.h"

namespace {

constexpr char kRule[] = ">>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>\n";

}  // namespace

int ProgressPosition(int32_t done, int32_t total) {
  if (done == total) return 100;
  if (total == 0) return 0;
  return static_cast<int>(static_cast<float>(done) * 100.0f / static_cast<float>(total));
}

void CRunSink::Log(const char* format, ...) {
  if (!m_bLog) return;
  va_list args;
  va_start(args, format);
  AppendLogLineV(m_logFile, format, args);
  va_end(args);
}

bool CRunSink::IsAborted() { return g_bAbort; }

void CRunSink::OnEvent(int32_t type, const void* data, int32_t size) {
  m_dlg.Window().DrainMessages();
  switch (type) {
    case kWalkError: {
      const WalkErrorEvent e = WalkEventError(data, size);
      Log("ERROR(%d): %s", e.code, e.text);
      std::string line = e.text;
      while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
      // (The same reason may come twice: from the file that failed and the commit after.)
      const size_t last = m_strErrors.rfind('\n');
      if (m_strErrors.compare(last == std::string::npos ? 0 : last + 1, std::string::npos, line) != 0)
        m_strErrors += (m_strErrors.empty() ? "" : "\n") + line;
      break;
    }
    case kWalkFileBegin:
      OnFileBegin(WalkEventText(data, size));
      break;
    case kWalkFileDone:
      Log("ok!");
      ++m_nFilesDone;
      OnFileDone();
      break;
    case kWalkEnterDir:
      Log(kRule);
      Log("Entering Dir  : %s ...\n", WalkEventText(data, size));
      break;
    case kWalkLeaveDir:
      Log("Leaving Dir   : %s ...\n", WalkEventText(data, size));
      Log(kRule);
      ++m_nFoldersDone;
      break;
    default:
      break;
  }
}

CPatchSink::CPatchSink(CUpdateDlg& dlg) : CRunSink(dlg, kPatchLogName) {}

void CPatchSink::OnFileBegin(const char* name) { Log("%d:\tProcessing file: %s ... ", m_nFilesDone, name); }

void CPatchSink::OnFileDone() {
  m_dlg.m_strStatus = texts::Format(texts::kTextProgress, m_nFilesDone, m_dlg.m_nFileCount);
  m_dlg.DrawProgressText(m_dlg.m_strStatus);
  m_dlg.Window().SetProgress(ProgressPosition(m_nFilesDone, m_dlg.m_nFileCount));
}

CTidySink::CTidySink(CUpdateDlg& dlg) : CRunSink(dlg, kTidyLogName) {}

void CTidySink::OnFileBegin(const char* name) { Log("Processing file: %s ... ", name); }

// The tidy pass shows one fixed text and leaves the progress bar alone.
void CTidySink::OnFileDone() {
  m_dlg.m_strStatus = texts::Load(texts::kTextTidyingFiles);
  m_dlg.DrawTidyText(m_dlg.m_strStatus);
}
