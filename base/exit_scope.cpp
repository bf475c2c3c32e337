#include "base/exit_scope.h"

#include <atomic>

namespace base {
namespace {
std::atomic<ExitScope*> g_current{nullptr};
}  // namespace

ExitScope::ExitScope() {
  ExitScope* expected = nullptr;
  // A second scope would be a programming error; it simply stays inactive.
  g_current.compare_exchange_strong(expected, this);
}

ExitScope::~ExitScope() {
  ExitScope* self = this;
  if (!g_current.compare_exchange_strong(self, nullptr)) return;
  for (;;) {
    Entry entry;
    {
      _BaseModule::CAutoLocker guard(lock_);
      if (stack_.empty()) break;
      entry = stack_.back();
      stack_.pop_back();
    }
    entry.callback(entry.argument);
  }
}

void ExitScope::RegisterCallback(Callback callback, void* argument) {
  ExitScope* scope = g_current.load();
  if (!scope || !callback) return;
  _BaseModule::CAutoLocker guard(scope->lock_);
  scope->stack_.push_back({callback, argument});
}

}  // namespace base
