#pragma once

#include <cstdint>

// The 30-bit millisecond counter that times the stream trigger. Any thread.
namespace acquisition {

inline constexpr int32_t kTickMask = 0x3FFFFFFF;
inline constexpr int32_t kTickWrap = 0x40000000;  // 2^30 ms, about 12.4 days

// Milliseconds of the monotonic clock (time since boot), modulo 2^30.
int32_t TickNow();

// Milliseconds from `stamp` to `now`, both TickNow values: now - stamp, plus 2^30 when
// negative. Exact for spans shorter than 2^30 ms.
int32_t TickElapsed(int32_t stamp, int32_t now);
inline int32_t TickElapsed(int32_t stamp) { return TickElapsed(stamp, TickNow()); }

}  // namespace acquisition
