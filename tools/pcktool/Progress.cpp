// Drawing of the progress bar: one line rewritten in place with a carriage return, at
// most ten times a second.
#include "tools/pcktool/Progress.h"

#include <cstdio>

#include "platform/Platform.h"
#include "tools/pcktool/Terminal.h"

namespace {
CProgress* g_active = nullptr;  // the one bar on the screen; the tool has one thread
constexpr uint32_t kRedrawMs = 100;
constexpr int kBarWidth = 20;
}  // namespace

CProgress::CProgress(uint64_t totalFiles, uint64_t totalBytes)
    : m_enabled(term::StderrIsTerminal()), m_totalFiles(totalFiles), m_totalBytes(totalBytes) {
  if (m_enabled) {
    g_active = this;
    m_lastTick = plat::TickMs();
    Draw(true);
  }
}

CProgress::~CProgress() { Finish(); }

void CProgress::AddBytes(uint64_t n) {
  m_bytes += n;
  Draw(false);
}

void CProgress::FileDone() {
  ++m_files;
  Draw(m_files == m_totalFiles);
}

void CProgress::Finish() {
  Erase();
  m_enabled = false;
  if (g_active == this) g_active = nullptr;
}

void CProgress::EraseActive() {
  if (g_active) g_active->Erase();
}

std::string CProgress::Render(uint64_t files, uint64_t totalFiles, uint64_t bytes, uint64_t totalBytes) {
  double fraction = totalBytes ? double(bytes) / double(totalBytes)
                    : totalFiles ? double(files) / double(totalFiles)
                                 : 0.0;
  if (fraction > 1.0) fraction = 1.0;
  const int filled = int(fraction * kBarWidth);
  std::string text(1, '[');
  text.append(size_t(filled), '#');
  text.append(size_t(kBarWidth - filled), ' ');
  text += ']';
  char tail[96];
  snprintf(tail, sizeof tail, " %3d%%", int(fraction * 100.0));
  text += tail;
  if (totalFiles > 1) {
    snprintf(tail, sizeof tail, "  %llu/%llu files", (unsigned long long)files, (unsigned long long)totalFiles);
    text += tail;
  }
  if (totalBytes >= (1u << 20)) {
    snprintf(tail, sizeof tail, "  %.1f/%.1f MiB", double(bytes) / 1048576.0, double(totalBytes) / 1048576.0);
    text += tail;
  }
  return text;
}

void CProgress::Draw(bool force) {
  if (!m_enabled) return;
  const uint32_t now = plat::TickMs();
  if (!force && now - m_lastTick < kRedrawMs) return;
  m_lastTick = now;
  std::string text = Render(m_files, m_totalFiles, m_bytes, m_totalBytes);
  // Pad over the remains of a longer earlier text.
  size_t shown = text.size();
  if (shown < m_drawn) text.append(m_drawn - shown, ' ');
  m_drawn = shown;
  fprintf(stderr, "\r%s", text.c_str());
  fflush(stderr);
}

void CProgress::Erase() {
  if (!m_enabled || m_drawn == 0) return;
  fprintf(stderr, "\r%s\r", std::string(m_drawn, ' ').c_str());
  fflush(stderr);
  m_drawn = 0;
}
