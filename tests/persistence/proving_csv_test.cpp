#include "persistence/proving_csv.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace persistence {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

analysis::ProvingFigures Row(double flight_s, int64_t provings, int64_t with_gaps, double mean,
                             double sd, double median, double p95, double share) {
  analysis::ProvingFigures row;
  row.flight_s = flight_s;
  row.provings = provings;
  row.provings_with_gaps = with_gaps;
  row.mean_pulses = mean;
  row.sd_pct = sd;
  row.repeat_median_pct = median;
  row.repeat_p95_pct = p95;
  row.pass_share = share;
  row.limit_pct = 0.05;
  return row;
}

// The whole text, as `k390tool prove` prints it: a flight time in ms to 6 digits, the mean
// pulses to 10, empty columns where no proving was counted, "inf" for a pass without a pulse,
// and both flight-time lines with a value or "none".
TEST(ProvingCsv, RowsAndFlightLinesReadAsTheCommandPrintsThem) {
  struct Case {
    analysis::ProvingScan scan;
    std::string text;
  };
  const std::string header = std::string(kProvingCsvHeader) + '\n';
  const Case cases[] = {
      {{{Row(0.010, 20, 0, 10.00001084, 0.1077461, 0.5, 0.9, 0.25),
         Row(0.12, 0, 3, kNaN, kNaN, kNaN, kNaN, kNaN)},
        std::nullopt,
        false,
        std::nullopt},
       header + "10,20,0,10.00001084,0.107746,0.5,0.9,0.25,0.05\n"
                "120,0,3,,,,,,0.05\n"
                "shortest_flight_ms_95=none\npassing_from_ms_95=none\n"},
      {{{Row(0.0005, 1998, 67, 0.25, 100.008, kInf, kInf, 0),
         Row(0.0121736, 4868, 60, 12.17357052, 0.093926, 0.228972, 0.341834, 1)},
        0.0121736,
        true,
        std::nullopt},
       header + "0.5,1998,67,0.25,100.008,inf,inf,0,0.05\n"
                "12.1736,4868,60,12.17357052,0.093926,0.228972,0.341834,1,0.05\n"
                "shortest_flight_ms_95=12.1736\npassing_from_ms_95=none\n"},
      {{{}, 0.25, true, 0.5}, header + "shortest_flight_ms_95=250\npassing_from_ms_95=500\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatProvingCsv(c.scan), c.text);
}

// Bins from 0 Hz at 10 digits, amplitudes in seconds at 7, a line's divisor only where there is
// one; nothing at all for a spectrum without bins.
TEST(SpectrumCsv, BinsLinesAndRandomJitterReadAsTheCommandPrintsThem) {
  analysis::JitterSpectrum s;
  s.bin_hz = 1000.0 / 4096;
  s.amplitude_s = {0, 2.5e-9, 7.501196e-6};
  s.lines = {{37.00000044, 7.501196e-06, 0.75012, std::nullopt},
             {142.8571734, 1.449317e-06, 0.144932, 7}};
  s.random_rms_s = 8.0123456e-8;
  s.filled_points = 12;
  struct Case {
    analysis::JitterSpectrum spectrum;
    std::string text;
  };
  const Case cases[] = {
      {s,
       "freq_hz,amplitude_s\n"
       "0,0.000000e+00\n0.244140625,2.500000e-09\n0.48828125,7.501196e-06\n"
       "line=37.00000044,7.501196e-06,0.75012,\n"
       "line=142.8571734,1.449317e-06,0.144932,7\n"
       "random_rms_s=8.012346e-08\nfilled_points=12\n"},
      {{}, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatSpectrumCsv(c.spectrum), c.text);
}

}  // namespace
}  // namespace persistence
