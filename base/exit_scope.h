// Callbacks that run when the entry function's scope ends, most recently
// registered first. At most one scope exists; registering while none is open
// does nothing.
#pragma once

#include <vector>

#include "base/lock.h"

namespace base {

class ExitScope {
 public:
  using Callback = void (*)(void* argument);

  ExitScope();
  ~ExitScope();  // runs the callbacks in reverse order of registration
  ExitScope(const ExitScope&) = delete;
  ExitScope& operator=(const ExitScope&) = delete;

  // Safe from any thread.
  static void RegisterCallback(Callback callback, void* argument);

 private:
  struct Entry {
    Callback callback;
    void* argument;
  };
  _BaseModule::CCriticalSection lock_;
  std::vector<Entry> stack_;
};

}  // namespace base
