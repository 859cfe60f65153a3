#include "analysis/run_record.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/timing_input.h"

namespace analysis {
namespace {

const std::string kStreams = std::string(K390_TEST_DATA) + "/k390sim_streams/";

PulseTrain TrainOfLog(const std::string& name) {
  std::stringstream log;
  log << std::ifstream(kStreams + name).rdbuf();
  return BuildPulseTrain(StreamLogIntervals(log.str()));
}

void ExpectNear(double want, double got, double relative, const std::string& what) {
  EXPECT_LE(std::abs(got - want), std::abs(want) * relative + 1e-15) << what << ": " << got;
}

// rotor_run.dat, 2.4 s of a 10-blade rotor from k390sim, against rotor_run_reference.py there:
// its own double chronometry at its own default flight times (rotor_run_reference.csv), the
// lines from the simulator's description of the pattern, and the random jitter from its
// settings (2 ticks rms on the edges, with the stamps' quantisation of 25 ns / sqrt(12)).
TEST(RunRecord, RotorRunGivesTheScanAndLinesWorkedOutApart) {
  const RunRecordAnalysis record = AnalyseRunRecord(TrainOfLog("rotor_run.dat"));
  EXPECT_EQ(record.missing, "");
  EXPECT_EQ(record.proving_options.runs, 5);
  EXPECT_EQ(record.proving_options.passes, 1);
  EXPECT_EQ(record.proving_options.pause_s, 0);
  ASSERT_TRUE(record.proving);
  const std::vector<ProvingFigures>& rows = record.proving->rows;

  std::ifstream reference(kStreams + "rotor_run_reference.csv");
  std::string line;
  ASSERT_TRUE(std::getline(reference, line));  // header
  size_t row = 0;
  for (; std::getline(reference, line); ++row) {
    double flight_ms = 0, mean = 0, sd = 0, median = 0, p95 = 0, share = 0;
    int64_t provings = 0;
    ASSERT_EQ(std::sscanf(line.c_str(), "%lf,%ld,%lf,%lf,%lf,%lf,%lf", &flight_ms, &provings, &mean,
                          &sd, &median, &p95, &share),
              7)
        << line;
    ASSERT_LT(row, rows.size()) << line;
    const ProvingFigures& f = rows[row];
    ExpectNear(flight_ms, f.flight_s * 1000, 1e-12, line);
    EXPECT_EQ(f.provings, provings) << line;
    EXPECT_EQ(f.provings_with_gaps, 0) << line;
    ExpectNear(mean, f.mean_pulses, 1e-12, line);
    ExpectNear(sd, f.sd_pct, 1e-9, line);
    ExpectNear(median, f.repeat_median_pct, 1e-9, line);
    ExpectNear(p95, f.repeat_p95_pct, 1e-9, line);
    ExpectNear(share, f.pass_share, 1e-12, line);
    EXPECT_EQ(f.limit_pct, 0.05) << line;
  }
  EXPECT_EQ(row, rows.size());
  // Whole rotations (10 ms) prove; from there a longer flight fails again until the last.
  ASSERT_TRUE(record.proving->shortest_flight_s && record.proving->passing_from_s);
  ExpectNear(10, *record.proving->shortest_flight_s * 1000, 1e-12, "shortest");
  ExpectNear(24.048934751673595, *record.proving->passing_from_s * 1000, 1e-12, "passing from");

  const struct {
    double freq_hz;
    double amplitude_s;  // from the pattern as described
    std::optional<int64_t> divisor;
  } want[] = {{500, 1.658359e-06, 10},
              {1000, 3.031506e-06, 5},
              {1500, 2.419513e-07, std::nullopt},
              {2000, 3.001764e-06, std::nullopt},
              {2500, 7.917961e-08, 2}};
  ASSERT_TRUE(record.lines);
  ASSERT_EQ(record.lines->size(), std::size(want));
  for (const auto& w : want) {
    const std::string what = std::to_string(w.freq_hz) + " Hz";
    const SpectrumLine* found = nullptr;
    for (const SpectrumLine& l : *record.lines) {
      if (std::abs(l.freq_hz - w.freq_hz) < 0.05) found = &l;  // a tenth of a bin
    }
    ASSERT_NE(found, nullptr) << what;
    ExpectNear(w.amplitude_s, found->amplitude_s, 0.02, what);
    ExpectNear(w.amplitude_s / 200e-6 * 100, found->amplitude_pct, 0.02, what);
    EXPECT_EQ(found->divisor, w.divisor) << what;
  }
  ASSERT_TRUE(record.random_rms_s);
  ExpectNear(std::hypot(50e-9, 25e-9 / std::sqrt(12.0)), *record.random_rms_s, 0.05, "random");
}

// Records too short for a part leave it out and say why; the other part stays.
TEST(RunRecord, ShortRecordsLeaveOutWhatTheyCannotGive) {
  std::vector<int64_t> few(12, 40000);
  const struct {
    const char* name;
    PulseTrain train;
    bool proving, lines;
    const char* missing;
  } cases[] = {
      {"0.2 s log", TrainOfLog("pattern.dat"), false, true,
       "too short for the default proving scan (20 provings of 5 passes of 10 ms or more)"},
      {"12 intervals", BuildPulseTrain(few), false, false,
       "too short for the default proving scan (20 provings of 5 passes of 10 ms or more); 13 "
       "grid points; the spectrum needs at least 16"},
      {"no interval", BuildPulseTrain({}), false, false,
       "too short for the default proving scan (20 provings of 5 passes of 10 ms or more); 0 "
       "grid points; the spectrum needs at least 16"},
  };
  for (const auto& c : cases) {
    const RunRecordAnalysis record = AnalyseRunRecord(c.train);
    EXPECT_EQ(record.proving.has_value(), c.proving) << c.name;
    EXPECT_EQ(record.lines.has_value(), c.lines) << c.name;
    EXPECT_EQ(record.random_rms_s.has_value(), c.lines) << c.name;
    EXPECT_EQ(record.missing, c.missing) << c.name;
  }
}

}  // namespace
}  // namespace analysis
