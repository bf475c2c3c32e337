#include "base/exit_scope.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<int>* g_order = nullptr;
void Record(void* argument) { g_order->push_back(static_cast<int>(reinterpret_cast<intptr_t>(argument))); }

TEST(ExitScopeTest, CallbacksRunInReverseOrderOnce) {
  std::vector<int> order;
  g_order = &order;
  base::ExitScope::RegisterCallback(&Record, reinterpret_cast<void*>(99));  // no scope: ignored
  {
    base::ExitScope scope;
    for (intptr_t i = 1; i <= 4; ++i) base::ExitScope::RegisterCallback(&Record, reinterpret_cast<void*>(i));
    EXPECT_TRUE(order.empty());
  }
  EXPECT_EQ(order, (std::vector<int>{4, 3, 2, 1}));
  base::ExitScope::RegisterCallback(&Record, reinterpret_cast<void*>(5));  // closed: ignored
  { base::ExitScope again; }
  EXPECT_EQ(order, (std::vector<int>{4, 3, 2, 1}));
}

// A callback may register another one; it runs too, after the ones before it.
void RegisterMore(void*) {
  g_order->push_back(10);
  base::ExitScope::RegisterCallback(&Record, reinterpret_cast<void*>(11));
}

TEST(ExitScopeTest, CallbackRegisteredDuringCloseRuns) {
  std::vector<int> order;
  g_order = &order;
  {
    base::ExitScope scope;
    base::ExitScope::RegisterCallback(&Record, reinterpret_cast<void*>(1));
    base::ExitScope::RegisterCallback(&RegisterMore, nullptr);
  }
  EXPECT_EQ(order, (std::vector<int>{10, 1}));
}

}  // namespace
