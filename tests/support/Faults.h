// Fault injection for tests: a hook that lives as long as the object, and hooks that
// fail or stop at the k-th file operation.
#pragma once

#include <functional>
#include <string>

#include "platform/Platform.h"

namespace qvtest {

// Installs `hook` for the life of the object.
class CFaultHook {
 public:
  explicit CFaultHook(plat::FaultHook hook = nullptr) { plat::SetFaultHook(std::move(hook)); }
  ~CFaultHook() { plat::SetFaultHook(nullptr); }
  CFaultHook(const CFaultHook&) = delete;
  CFaultHook& operator=(const CFaultHook&) = delete;
};

// Fails the k-th operation of kind `op` (from 1) with `fault`; counts them in `*seen`.
inline plat::FaultHook FailNth(plat::FileOp op, int k, int* seen, plat::Fault fault = plat::Fault::Io) {
  return [=](plat::FileOp o, const std::string&) {
    if (o != op) return plat::Fault::None;
    return ++*seen == k ? fault : plat::Fault::None;
  };
}

}  // namespace qvtest
