#include "acquisition/tick_timer.h"

#include <chrono>

namespace acquisition {

int32_t TickNow() {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now().time_since_epoch())
                      .count();
  return static_cast<int32_t>(static_cast<uint64_t>(ms) & kTickMask);
}

int32_t TickElapsed(int32_t stamp, int32_t now) {
  int64_t elapsed = static_cast<int64_t>(now) - stamp;
  if (elapsed < 0) elapsed += kTickWrap;
  return static_cast<int32_t>(elapsed);
}

}  // namespace acquisition
