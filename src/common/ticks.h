#pragma once

#include <cstdint>

// Every time value of the instrument is a count of 25 ns ticks of its 40 MHz clock.
namespace common {

inline constexpr double kTickSeconds = 2.5e-8;
inline constexpr double kTicksPerSecond = 4e7;
inline constexpr int64_t kWrap32 = 4294967296;  // 2^32

// The 32-bit delta rule: later - earlier in 64-bit two's complement, plus 2^32 once when that is
// negative. A counter that wrapped between the two stamps gives the true interval.
inline int64_t DeltaRule(int64_t earlier, int64_t later) {
  auto d = static_cast<int64_t>(static_cast<uint64_t>(later) - static_cast<uint64_t>(earlier));
  if (d < 0) d += kWrap32;
  return d;
}

}  // namespace common
