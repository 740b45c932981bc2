// The sinks of the patch pass and the tidy pass: each event keeps the window alive,
// writes a log line when the sink's log is on, and moves the status line and the
// progress bar. Both report the process-wide abort flag.
#pragma once

#include <cstdint>
#include <string>

#include "io/IWalkSink.h"

class CUpdateDlg;

// What both sinks share: the message drain, the error and folder lines, the counters.
class CRunSink : public IWalkSink {
 public:
  void OnEvent(int32_t type, const void* data, int32_t size) override;
  bool IsAborted() override;

  int32_t m_nFilesDone = 0;
  int32_t m_nFoldersDone = 0;
  bool m_bLog = false;
  // The texts of the error events so far, one line each: what went wrong and why.
  std::string m_strErrors;

 protected:
  CRunSink(CUpdateDlg& dlg, const char* logFile) : m_dlg(dlg), m_logFile(logFile) {}
  void Log(const char* format, ...);
  virtual void OnFileBegin(const char* name) = 0;
  // After the counter has grown.
  virtual void OnFileDone() = 0;

  CUpdateDlg& m_dlg;

 private:
  const char* m_logFile;
};

class CPatchSink : public CRunSink {
 public:
  explicit CPatchSink(CUpdateDlg& dlg);

 protected:
  void OnFileBegin(const char* name) override;
  void OnFileDone() override;
};

class CTidySink : public CRunSink {
 public:
  explicit CTidySink(CUpdateDlg& dlg);

 protected:
  void OnFileBegin(const char* name) override;
  void OnFileDone() override;
};

// The progress bar position after `done` of `total` files: 100 when they are equal, 0
// when there are none, else done * 100 / total in single precision, truncated.
int ProgressPosition(int32_t done, int32_t total);
