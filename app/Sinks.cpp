#include "app/Sinks.h"

#include <cstdarg>

#include "app/RunLog.h"
#include "app/Texts.h"
#include "app/UpdateDlg.h"

namespace {

constexpr char kRule[] = ">>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>\n";

// The text of an event whose data is one text pointer ("" for none).
const char* TextOf(const void* data, int32_t size) {
  if (!data || size < int32_t(sizeof(const char*))) return "";
  const char* text = *static_cast<const char* const*>(data);
  return text ? text : "";
}

// Code and text of an error event, laid out as IWalkSink::Post(type, code, text) does.
void ErrorOf(const void* data, int32_t size, int32_t& code, const char*& text) {
  struct Pair {
    int32_t code;
    const char* text;
  };
  code = 0;
  text = "";
  if (!data || size < int32_t(sizeof(Pair))) return;
  const auto* p = static_cast<const Pair*>(data);
  code = p->code;
  text = p->text ? p->text : "";
}

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
      int32_t code;
      const char* text;
      ErrorOf(data, size, code, text);
      Log("ERROR(%d): %s", code, text);
      break;
    }
    case kWalkFileBegin:
      OnFileBegin(TextOf(data, size));
      break;
    case kWalkFileDone:
      Log("ok!");
      ++m_nFilesDone;
      OnFileDone();
      break;
    case kWalkEnterDir:
      Log(kRule);
      Log("Entering Dir  : %s ...\n", TextOf(data, size));
      break;
    case kWalkLeaveDir:
      Log("Leaving Dir   : %s ...\n", TextOf(data, size));
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
  m_dlg.m_strStatus = texts::Format(102, m_nFilesDone, m_dlg.m_nFileCount);
  m_dlg.DrawProgressText(m_dlg.m_strStatus);
  m_dlg.Window().SetProgress(ProgressPosition(m_nFilesDone, m_dlg.m_nFileCount));
}

CTidySink::CTidySink(CUpdateDlg& dlg) : CRunSink(dlg, kTidyLogName) {}

void CTidySink::OnFileBegin(const char* name) { Log("Processing file: %s ... ", name); }

// The tidy pass shows one fixed text and leaves the progress bar alone.
void CTidySink::OnFileDone() {
  m_dlg.m_strStatus = texts::Load(103);
  m_dlg.DrawTidyText(m_dlg.m_strStatus);
}
