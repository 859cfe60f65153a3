// The decoding runs at the start of every processing pass on the window's thread, so a
// full-size reply must decode well inside one 50 ms capture tick.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "acquisition/protocol.h"
#include "acquisition/pulse_data.h"

namespace {

// A dual-channel reply of `records` records with 64-bit stamps that jitter around 1 ms and wrap
// their low 32 bits now and then, as the instrument's counters do.
std::string DualChannelReply(int records) {
  std::string reply = "<K390><SAMPLES>";
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%X,%X</SAMPLES>\r\n", records, records);
  reply += buffer;
  uint64_t t1 = 0xFFF00000ull;
  uint64_t t2 = 0x1FFF80000ull;
  uint32_t noise = 12345;
  for (int i = 0; i < records; ++i) {
    noise = noise * 1103515245u + 12345u;
    t1 += 40000 + (noise >> 24);
    t2 += 40000 + ((noise >> 16) & 0xFF);
    std::snprintf(buffer, sizeof buffer, "%X,%016llX,%016llX\r\n", i,
                  static_cast<unsigned long long>(t1), static_cast<unsigned long long>(t2));
    reply += buffer;
  }
  return reply + "</K390>";
}

void BM_DecodeDualChannelReply(benchmark::State& state) {
  const std::string reply = DualChannelReply(static_cast<int>(state.range(0)));
  acquisition::PulseData data;
  std::vector<std::string> memo;
  for (auto _ : state) {
    memo.clear();
    data.Ch1Average = 0;
    data.Ch2Average = 0;
    const auto outcome = acquisition::DecodeSampleReply(reply, data, &memo);
    benchmark::DoNotOptimize(outcome);
    benchmark::DoNotOptimize(data.Ch1Average);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(reply.size()));
  state.counters["reply_bytes"] = static_cast<double>(reply.size());
}
BENCHMARK(BM_DecodeDualChannelReply)->Arg(3000)->Unit(benchmark::kMicrosecond);

}  // namespace
