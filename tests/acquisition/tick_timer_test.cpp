#include "acquisition/tick_timer.h"

#include <gtest/gtest.h>

namespace acquisition {
namespace {

TEST(TickTimer, ElapsedAddsTheWrapWhenTheCounterWrapped) {
  struct Case {
    int32_t stamp;
    int32_t now;
    int32_t elapsed;
  };
  const Case cases[] = {
      {1073741800, 100, 124},    {100, 100, 0},     {100, 351, 251},
      {0, kTickMask, kTickMask}, {kTickMask, 0, 1}, {500, 250, kTickWrap - 250},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TickElapsed(c.stamp, c.now), c.elapsed) << c.stamp << " " << c.now;
  }
}

TEST(TickTimer, NowStaysWithinThirtyBits) {
  const int32_t now = TickNow();
  EXPECT_GE(now, 0);
  EXPECT_LE(now, kTickMask);
  EXPECT_GE(TickElapsed(now), 0);
}

}  // namespace
}  // namespace acquisition
