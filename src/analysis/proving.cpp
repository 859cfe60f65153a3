#include "analysis/proving.h"

#include <algorithm>
#include <boost/math/distributions/normal.hpp>
#include <boost/math/distributions/students_t.hpp>
#include <boost/math/quadrature/exp_sinh.hpp>
#include <cmath>
#include <string>

#include "common/error.h"
#include "common/ticks.h"

namespace analysis {
namespace {

constexpr double kShortestDefaultFlight_s = 0.010;
constexpr int kDefaultScanPoints = 30;
constexpr int64_t kProvingsLeftByDefault = 20;
constexpr double kPassingShare = 0.95;

// What one pass gives: its interpolated pulses, its edge displacement (ticks) and whether a
// pulse is missing or extra in it.
struct Pass {
  double pulses = 0;
  double edge_pp_ticks = 0;
  bool gap = false;
};

// Peak-to-peak of `count` consecutive edges about their least-squares line, ticks. The fit runs
// on u, the pulses from the first edge, and v, the stamp less the first's and less u mean
// periods (small numbers). Each sweep keeps two running sums or extremes, so that it is not
// one long chain of dependent steps.
double EdgePeakToPeak(const int64_t* stamp, size_t count, double tau0) {
  if (count < 3) return 0;
  double sv[2] = {0, 0}, suv[2] = {0, 0};
  const auto v_at = [&](size_t u) {
    return static_cast<double>(stamp[u] - stamp[0]) - static_cast<double>(u) * tau0;
  };
  size_t u = 0;
  for (; u + 1 < count; u += 2) {
    for (size_t k = 0; k < 2; ++k) {
      const double v = v_at(u + k);
      sv[k] += v;
      suv[k] += static_cast<double>(u + k) * v;
    }
  }
  if (u < count) sv[0] += v_at(u), suv[0] += static_cast<double>(u) * v_at(u);
  const auto n = static_cast<double>(count);
  const double su = n * (n - 1) / 2, suu = (n - 1) * n * (2 * n - 1) / 6;
  const double slope = (n * (suv[0] + suv[1]) - su * (sv[0] + sv[1])) / (n * suu - su * su);
  double lo[2] = {0, 0}, hi[2] = {0, 0};  // the first edge's own residual is 0
  for (u = 1; u + 1 < count; u += 2) {
    for (size_t k = 0; k < 2; ++k) {
      const double r = v_at(u + k) - static_cast<double>(u + k) * slope;
      lo[k] = std::min(lo[k], r);
      hi[k] = std::max(hi[k], r);
    }
  }
  if (u < count) {
    const double r = v_at(u) - static_cast<double>(u) * slope;
    lo[0] = std::min(lo[0], r);
    hi[0] = std::max(hi[0], r);
  }
  return std::max(hi[0], hi[1]) - std::min(lo[0], lo[1]);
}

// The first pulse at or after `from` whose stamp is after `limit`: from `guess` outwards in
// doubling steps, then by bisection. The last stamp must be after `limit`.
size_t FirstAfter(std::span<const int64_t> stamp, size_t from, size_t guess, int64_t limit) {
  size_t lo = from, hi = stamp.size() - 1;  // the answer lies in [lo, hi]
  guess = std::clamp(guess, lo, hi);
  if (stamp[guess] > limit) {
    hi = guess;
    size_t step = 1;
    for (; hi - lo > step && stamp[hi - step] > limit; step *= 2) hi -= step;
    if (hi - lo > step) lo = hi - step + 1;
  } else {
    lo = guess + 1;
    size_t step = 1;
    for (; hi - lo > step && stamp[lo + step] <= limit; step *= 2) lo += step + 1;
    if (hi - lo > step) hi = lo + step;
  }
  return static_cast<size_t>(std::upper_bound(stamp.begin() + static_cast<std::ptrdiff_t>(lo),
                                              stamp.begin() + static_cast<std::ptrdiff_t>(hi),
                                              limit) -
                             stamp.begin());
}

// Every pass whose second switch falls before the last pulse, flight and pause in ticks. A
// stamp is after a switch time s exactly when it is after floor(s).
std::vector<Pass> Passes(const TrainView& t, double flight, double pause) {
  std::vector<Pass> passes;
  const double tau0 = t.Tau0Ticks();
  const double t0 = static_cast<double>(t.stamp[0]) + tau0 / 2;
  const auto last = static_cast<double>(t.LastStamp());
  const auto flight_pulses = static_cast<size_t>(flight / tau0);
  const auto pause_pulses = static_cast<size_t>(pause / tau0);
  const int64_t* stamp = t.stamp.data();
  size_t i1 = 0, i2 = 0, extra = 0;
  for (int64_t j = 0;; ++j) {
    const double s1 = t0 + static_cast<double>(j) * (flight + pause);
    const double s2 = s1 + flight;
    if (!(s2 < last)) break;
    i1 = FirstAfter(t.stamp, i1, i2 + pause_pulses, static_cast<int64_t>(std::floor(s1)));
    i2 = FirstAfter(t.stamp, i1, i1 + flight_pulses, static_cast<int64_t>(std::floor(s2)));
    Pass pass;
    const int64_t nm = t.index[i2] - t.index[i1];
    const int64_t tp = stamp[i2] - stamp[i1];
    // A flight shorter than the interval it falls in counts no pulse: Ni = 0, a failed run.
    pass.pulses = nm > 0 ? static_cast<double>(nm) * flight / static_cast<double>(tp) : 0;
    const int64_t before = stamp[i1 - 1];
    while (extra < t.extra_stamps.size() && t.extra_stamps[extra] <= before) ++extra;
    pass.gap = t.index[i2] - t.index[i1 - 1] != static_cast<int64_t>(i2 - i1 + 1) ||
               (extra < t.extra_stamps.size() && t.extra_stamps[extra] <= stamp[i2]);
    if (!pass.gap) pass.edge_pp_ticks = EdgePeakToPeak(stamp + i1, i2 - i1, tau0);
    passes.push_back(pass);
  }
  return passes;
}

// Sorted values: the median (mean of the two middle ones) and the nearest-rank percentile.
double Median(const std::vector<double>& sorted) {
  const size_t n = sorted.size();
  return n % 2 == 1 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
}

double NearestRank95(const std::vector<double>& sorted) {
  const size_t rank = (95 * sorted.size() + 99) / 100;  // ceil(0.95 n), from 1
  return sorted[std::max<size_t>(rank, 1) - 1];
}

void CheckOptions(const ProvingOptions& o) {
  if (o.runs < 2) throw common::Error("A proving needs at least 2 runs");
  if (o.passes < 1) throw common::Error("A run needs at least 1 pass");
  if (!(o.pause_s >= 0) || !std::isfinite(o.pause_s))
    throw common::Error("The pause between passes must be 0 or more");
  if (o.limit_pct && !(*o.limit_pct > 0 && std::isfinite(*o.limit_pct)))
    throw common::Error("The repeatability limit must be above 0");
}

// The figures of the provings that hold no gap.
void Summarise(const std::vector<Pass>& passes, const ProvingOptions& o, ProvingFigures& f) {
  const auto m = static_cast<size_t>(o.passes), n = static_cast<size_t>(o.runs);
  std::vector<double> runs, repeats, edges;
  for (size_t p = 0; (p + 1) * n * m <= passes.size(); ++p) {
    const auto first = passes.begin() + static_cast<std::ptrdiff_t>(p * n * m);
    const auto end = first + static_cast<std::ptrdiff_t>(n * m);
    if (std::any_of(first, end, [](const Pass& x) { return x.gap; })) {
      ++f.provings_with_gaps;
      continue;
    }
    ++f.provings;
    double lo = INFINITY, hi = -INFINITY;
    for (size_t r = 0; r < n; ++r) {
      double sum = 0;
      for (size_t k = 0; k < m; ++k) sum += first[static_cast<std::ptrdiff_t>(r * m + k)].pulses;
      const double run = sum / static_cast<double>(m);
      runs.push_back(run);
      lo = std::min(lo, run), hi = std::max(hi, run);
    }
    repeats.push_back(lo > 0 ? (hi - lo) / lo * 100 : INFINITY);
    for (auto it = first; it != end; ++it) edges.push_back(it->edge_pp_ticks);
  }
  if (f.provings == 0) return;
  double sum = 0, ss = 0;
  for (double r : runs) sum += r;
  f.mean_pulses = sum / static_cast<double>(runs.size());
  for (double r : runs) ss += (r - f.mean_pulses) * (r - f.mean_pulses);
  f.sd_pct = std::sqrt(ss / static_cast<double>(runs.size() - 1)) / f.mean_pulses * 100;
  std::sort(repeats.begin(), repeats.end());
  f.repeat_median_pct = Median(repeats);
  f.repeat_p95_pct = NearestRank95(repeats);
  const auto passing = std::upper_bound(repeats.begin(), repeats.end(), f.limit_pct);
  f.pass_share = static_cast<double>(passing - repeats.begin()) / static_cast<double>(f.provings);
  std::sort(edges.begin(), edges.end());
  const double flight_ticks = f.flight_s * common::kTicksPerSecond;
  f.edge_pp_max_pct = edges.back() / flight_ticks * 100;
  f.edge_pp_p95_pct = NearestRank95(edges) / flight_ticks * 100;
}

}  // namespace

double ExpectedRangeOfNormals(int n) {
  const boost::math::normal_distribution<double> normal;
  const double power = n;
  // 1 - Phi(x)^n and Phi(-x)^n, each formed from the small tail Q = Phi(-x) without cancelling.
  const auto integrand = [&](double x) {
    const double q = boost::math::cdf(boost::math::complement(normal, x));
    return -std::expm1(power * std::log1p(-q)) - std::pow(q, power);
  };
  boost::math::quadrature::exp_sinh<double> integrator;
  return 2 * integrator.integrate(integrand, 1e-10);  // over x from 0 to infinity
}

double RepeatabilityLimitFormulaPct(int runs) {
  if (runs < 2) throw common::Error("A proving needs at least 2 runs");
  const boost::math::students_t_distribution<double> student(runs - 1);
  return 0.027 * std::sqrt(static_cast<double>(runs)) * ExpectedRangeOfNormals(runs) /
         boost::math::quantile(student, 0.975);
}

std::optional<double> PublishedRepeatabilityLimitPct(int runs) {
  switch (runs) {
    case 3:
      return 0.02;
    case 4:
      return 0.03;
    case 5:
      return 0.05;
    case 6:
      return 0.06;
    case 10:
      return 0.12;
    case 15:
      return 0.17;
    case 20:
      return 0.22;
  }
  return std::nullopt;
}

double RepeatabilityLimitPct(int runs) {
  return PublishedRepeatabilityLimitPct(runs).value_or(RepeatabilityLimitFormulaPct(runs));
}

ProvingFigures Prove(const TrainView& train, double flight_s, const ProvingOptions& options) {
  CheckOptions(options);
  if (!(flight_s > 0) || !std::isfinite(flight_s))
    throw common::Error("The flight time must be above 0");
  ProvingFigures f;
  f.flight_s = flight_s;
  f.limit_pct = options.limit_pct.value_or(RepeatabilityLimitPct(options.runs));
  if (train.Empty()) return f;
  const std::vector<Pass> passes =
      Passes(train, flight_s * common::kTicksPerSecond, options.pause_s * common::kTicksPerSecond);
  Summarise(passes, options, f);
  return f;
}

std::vector<double> DefaultFlightTimes(const TrainView& train, const ProvingOptions& options) {
  CheckOptions(options);
  if (train.Empty()) return {};
  const double passes = static_cast<double>(kProvingsLeftByDefault * options.runs * options.passes);
  const double pause = options.pause_s * common::kTicksPerSecond;
  const double span = static_cast<double>(train.LastStamp() - train.stamp[0]) -
                      train.Tau0Ticks() / 2 - (passes - 1) * pause;
  // Pass J - 1 must end before the last pulse: J T + (J - 1) P < span. A tick short of that.
  const double longest = (span / passes - 1) / common::kTicksPerSecond;
  if (!(longest > kShortestDefaultFlight_s)) return {};
  std::vector<double> flights;
  for (int i = 0; i < kDefaultScanPoints; ++i)
    flights.push_back(kShortestDefaultFlight_s *
                      std::pow(longest / kShortestDefaultFlight_s,
                               static_cast<double>(i) / (kDefaultScanPoints - 1)));
  flights.back() = longest;
  return flights;
}

ProvingScan ScanProving(const TrainView& train, std::span<const double> flight_s,
                        const ProvingOptions& options) {
  std::vector<double> flights(flight_s.begin(), flight_s.end());
  std::sort(flights.begin(), flights.end());
  ProvingScan scan;
  for (double t : flights) scan.rows.push_back(Prove(train, t, options));
  const auto passes = [](const ProvingFigures& f) {
    return f.provings > 0 && f.pass_share >= kPassingShare;
  };
  for (const ProvingFigures& row : scan.rows) {
    if (passes(row)) {
      if (!scan.shortest_flight_s) scan.shortest_flight_s = row.flight_s;
      if (!scan.passing_from_s) scan.passing_from_s = row.flight_s;
    } else {
      if (scan.shortest_flight_s) scan.non_monotonic = true;
      scan.passing_from_s.reset();
    }
  }
  return scan;
}

ProvingScan ScanProving(const TrainView& train, const ProvingOptions& options) {
  return ScanProving(train, DefaultFlightTimes(train, options), options);
}

ProvingScan ScanProvingWithoutPattern(const TrainView& train, const PulsePattern& pattern,
                                      std::span<const double> flight_s,
                                      const ProvingOptions& options) {
  const PatternFreeStamps cleaned = RemovePattern(train, pattern);
  return ScanProving(cleaned.View(train), flight_s, options);
}

}  // namespace analysis
