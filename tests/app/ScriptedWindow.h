// A window for the update run that records what the run shows and answers its
// questions from a script.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/UpdateWindow.h"

class CScriptedWindow : public IUpdateWindow {
 public:
  struct Box {
    std::string text, caption;
    unsigned flags;
  };
  std::vector<Box> boxes;
  std::vector<int> answers;         // for Yes/No questions, in order; then No
  std::vector<int> progress;        // every SetProgress
  std::vector<std::string> texts;   // every status text painted
  int repaints = 0, paints = 0, drains = 0;
  bool closed = false;
  std::function<void()> onDrain;    // runs inside DrainMessages, as a dispatched click would

  int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override {
    boxes.push_back({text, caption, flags});
    if ((flags & plat::kMbTypeMask) != plat::kMbYesNo) return plat::kIdOk;
    if (answers.empty()) return plat::kIdNo;
    int a = answers.front();
    answers.erase(answers.begin());
    return a;
  }
  void DrainMessages() override {
    ++drains;
    if (onDrain) {
      auto once = std::move(onDrain);
      onDrain = nullptr;
      once();
    }
  }
  void Repaint() override { ++repaints; }
  void PaintNow() override { ++paints; }
  void PaintTextLines(const std::string&, const std::string& text, EraseArea) override { texts.push_back(text); }
  void SetProgress(int position) override { progress.push_back(position); }
  void Close() override { closed = true; }
};
