// Feeds arbitrary bytes as the value text of an interval ".JIT" file ("0," and the bytes after
// its header), so that a comma list reads as the values Load hands to the processing pass; then
// the list decoding alone and a whole pass with the filter on and a flight time set. A damaged
// list may only end in common::Error; a crash, a sanitizer report, a count beyond the arrays or a
// stray write aborts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "acquisition/pulse_data.h"
#include "analysis/processing_pass.h"
#include "common/error.h"
#include "persistence/jit_file.h"

namespace {

void Check(bool holds) {
  if (!holds) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string file = std::string(persistence::kIntervalHeader) + "\r\n0," +
                           std::string(reinterpret_cast<const char*>(data), size);
  const persistence::JitList loaded = persistence::ParseJit(file);
  const analysis::LoadedList list{loaded.PassValues(), loaded.pass_error};

  // Slot 0 is never written; a sentinel there shows a stray write.
  acquisition::PulseData pulses;
  pulses.Ch1Intervals[0] = -1;
  pulses.Ch2Intervals[0] = -1;
  bool decoded = false;
  try {
    analysis::DecodeLoadedList(list, pulses);
    decoded = true;
  } catch (const common::Error&) {
  }
  Check(pulses.Ch1Intervals[0] == -1 && pulses.Ch2Intervals[0] == -1);
  Check(pulses.Ch1Count <= acquisition::kMaxIntervals + 1);
  if (decoded) {
    Check(pulses.Ch1Count >= 1 && pulses.Ch2Count == 0);
    // The sum is of exactly the stored values, in order.
    double sum = 0;
    for (int64_t i = 1; i < pulses.Ch1Count; ++i)
      sum += pulses.Ch1Intervals[static_cast<size_t>(i)];
    Check(sum == pulses.Ch1Average);
  } else {
    Check(pulses.Ch1Count == 0);
  }

  analysis::ProcessingPass pass;
  pass.Filter().SetLength(5);
  analysis::PassOptions options;
  options.smooth = true;
  options.filter = &pass.Filter();
  pass.Load(list);
  try {
    pass.DecodeLoaded();
    const analysis::PassResult result = pass.Compute(options);
    if (result.outcome == analysis::PassOutcome::kFigures) {
      Check(result.chart.data == &pass.Data());
      // The flight-time figures of a pass's own numbers always convert.
      const analysis::JitterFigures& f = result.figures;
      Check(!pass.Flight({f.ch1_seconds, "1000", f.peak_to_peak_percent}).error);
    }
  } catch (const common::Error&) {
  }
  Check(pass.Data().Ch1Count <= acquisition::kMaxIntervals + 1);
  Check(pass.Data().Ch2Count <= acquisition::kMaxIntervals + 1);
  return 0;
}
