#pragma once

#include <string>
#include <string_view>

#include "analysis/jitter_spectrum.h"
#include "analysis/proving.h"

// The proving scan and the jitter spectrum as comma-separated text, in the lines `k390tool
// prove` and `k390tool spectrum` print, so that a table saved from the window and one printed by
// the tool read the same. LF line ends; a figure that has no value (NaN: a flight time without
// provings) as an empty column, an unbounded one as "inf". Any thread.
namespace persistence {

inline constexpr std::string_view kProvingCsvHeader =
    "flight_ms,provings,provings_with_gaps,mean_pulses,sd_pct,repeat_median_pct,"
    "repeat_p95_pct,pass_share,limit_pct";

// The header, a row per flight time (ms in "%.6g", mean_pulses in "%.10g", the other figures in
// "%.6g"), then "shortest_flight_ms_95=<T or none>" and "passing_from_ms_95=<T or none>".
std::string FormatProvingCsv(const analysis::ProvingScan& scan);

// "freq_hz,amplitude_s" and a row per bin from bin 0 ("%.10g", "%.6e"), then
// "line=<freq_hz>,<amplitude_s>,<amplitude_pct>,<divisor or empty>" per line, strongest first,
// "random_rms_s=<value>" and "filled_points=<missing pulses interpolated>". Empty for a spectrum
// without bins (too short a record).
std::string FormatSpectrumCsv(const analysis::JitterSpectrum& spectrum);

}  // namespace persistence
