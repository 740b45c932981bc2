// The update run's window on a terminal: message boxes are printed (code page 936
// converted to UTF-8) and questions asked on standard input; the status line and the
// progress bar are drawn on standard error.
#pragma once

#include <cstdio>
#include <string>

#include "app/UpdateWindow.h"

class CConsoleWindow : public IUpdateWindow {
 public:
  enum class Answer { Ask, Yes, No };
  // `answer`: --yes / --no, or ask (No when standard input is not a terminal).
  explicit CConsoleWindow(Answer answer);
  ~CConsoleWindow() override;

  int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
  void DrainMessages() override {}
  void Repaint() override {}
  void PaintNow() override { Draw(); }
  void PaintTextLines(const std::string& version, const std::string& text, EraseArea area) override;
  void SetProgress(int position) override;
  void Close() override { m_bClosed = true; }

  bool Closed() const { return m_bClosed; }
  // The status text the run left, in code page 936.
  const std::string& Status() const { return m_status; }
  void SetStatus(const std::string& status) { m_status = status; }

  // Code page 936 text in the terminal's character set (the locale's).
  static std::string ForTerminal(const std::string& gbk);

 private:
  void Draw();
  void EndLine();

  Answer m_answer;
  bool m_bInteractive;  // standard input is a terminal
  bool m_bDrawBar;      // standard error is a terminal
  bool m_bLineOpen = false;
  bool m_bClosed = false;
  std::string m_status;
  int m_progress = -1;
};
