// The message boxes where no window system answers (the console updater, the tools,
// the fuzzing build): nobody can answer, so every box takes its default.
#include "platform/Platform.h"

namespace plat {

namespace {

class CSilentUi : public IMessageUi {
 public:
  int MessageBox(const std::string&, const std::string&, unsigned flags) override {
    return (flags & kMbTypeMask) == kMbYesNo ? kIdNo : kIdOk;
  }
  void DrainMessages() override {}
};

}  // namespace

std::unique_ptr<IMessageUi> CreateNativeMessageUi() { return std::make_unique<CSilentUi>(); }

}  // namespace plat
