#include "app/console/ConsoleWindow.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/Platform.h"

std::string CConsoleWindow::ForTerminal(const std::string& gbk) { return plat::ToConsoleText(gbk); }

CConsoleWindow::CConsoleWindow(Answer answer)
    : m_answer(answer), m_bInteractive(isatty(0) != 0), m_bDrawBar(isatty(2) != 0) {}

CConsoleWindow::~CConsoleWindow() { EndLine(); }

void CConsoleWindow::EndLine() {
  if (m_bLineOpen) {
    std::fputc('\n', stderr);
    m_bLineOpen = false;
  }
}

void CConsoleWindow::Draw() {
  if (!m_bDrawBar) return;
  std::string line = ForTerminal(m_status);
  if (m_progress >= 0) {
    const int width = 30, filled = std::clamp(m_progress, 0, 100) * width / 100;
    line += "  [" + std::string(size_t(filled), '#') + std::string(size_t(width - filled), ' ') + "] " +
            std::to_string(std::min(m_progress, 100)) + "%";
  }
  std::fprintf(stderr, "\r\033[K%s", line.c_str());
  std::fflush(stderr);
  m_bLineOpen = true;
}

void CConsoleWindow::PaintTextLines(const std::string&, const std::string& text, EraseArea) {
  if (text == m_status && !m_bDrawBar) return;
  m_status = text;
  Draw();
}

void CConsoleWindow::SetProgress(int position) {
  m_progress = position;
  Draw();
}

int CConsoleWindow::MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
  EndLine();
  const bool question = (flags & plat::kMbTypeMask) == plat::kMbYesNo;
  std::string head = caption.empty() ? std::string() : "[" + ForTerminal(caption) + "] ";
  std::string body = ForTerminal(text);
  // Windows line ends in the texts would leave stray carriage returns on a terminal.
  body.erase(std::remove(body.begin(), body.end(), '\r'), body.end());
  std::fprintf(stderr, "%s%s\n", head.c_str(), body.c_str());
  if (!question) return plat::kIdOk;
  if (m_answer != Answer::Ask || !m_bInteractive) {
    const bool yes = m_answer == Answer::Yes;
    std::fprintf(stderr, "(%s)\n", yes ? "yes" : "no");
    return yes ? plat::kIdYes : plat::kIdNo;
  }
  for (;;) {
    std::fprintf(stderr, "[y/n] ");
    std::fflush(stderr);
    char line[64];
    if (!std::fgets(line, sizeof line, stdin)) return plat::kIdNo;
    if (line[0] == 'y' || line[0] == 'Y') return plat::kIdYes;
    if (line[0] == 'n' || line[0] == 'N') return plat::kIdNo;
  }
}
