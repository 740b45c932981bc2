// A message box double for tests and fuzz harnesses: it records every box and answers
// from a script (then OK, or No for a question), and counts the drains.
#pragma once

#include <string>
#include <vector>

#include "platform/Platform.h"

namespace qvtest {

class CRecordingUi : public plat::IMessageUi {
 public:
  struct Box {
    std::string text, caption;
    unsigned flags;
  };
  std::vector<Box> boxes;
  std::vector<int> answers;  // answers given in order; when exhausted, kIdOk / kIdNo
  int drains = 0;

  int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override {
    boxes.push_back({text, caption, flags});
    if (!answers.empty()) {
      const int answer = answers.front();
      answers.erase(answers.begin());
      return answer;
    }
    return (flags & plat::kMbTypeMask) == plat::kMbYesNo ? plat::kIdNo : plat::kIdOk;
  }
  void DrainMessages() override { ++drains; }
};

}  // namespace qvtest
