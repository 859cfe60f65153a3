#include "analysis/phase_drift.h"

#include <array>
#include <cmath>
#include <limits>
#include <utility>

#include "common/ticks.h"

namespace analysis {
namespace {

using Real = long double;
using Basis = std::array<Real, 3>;

// 1, u and the second Legendre polynomial of u; only the first `terms` are used.
Basis Legendre(Real u) { return {1, u, (3 * u * u - 1) / 2}; }

// Solves the normal equations of `terms` unknowns by elimination with partial pivoting. A
// singular system (too few pulses for the terms) leaves the missing coefficients 0.
Basis Solve(std::array<Basis, 3> a, Basis b, int terms) {
  for (int col = 0; col < terms; ++col) {
    int pivot = col;
    for (int row = col + 1; row < terms; ++row)
      if (std::fabs(a[row][col]) > std::fabs(a[pivot][col])) pivot = row;
    std::swap(a[col], a[pivot]);
    std::swap(b[col], b[pivot]);
    if (a[col][col] == 0) return {};
    for (int row = col + 1; row < terms; ++row) {
      const Real f = a[row][col] / a[col][col];
      for (int c = col; c < terms; ++c) a[row][c] -= f * a[col][c];
      b[row] -= f * b[col];
    }
  }
  Basis x{};
  for (int row = terms - 1; row >= 0; --row) {
    Real s = b[row];
    for (int c = row + 1; c < terms; ++c) s -= a[row][c] * x[c];
    x[row] = s / a[row][row];
  }
  return x;
}

// The fitted period and its change per index at the middle (u = 0), in ticks.
DriftFit ReadFit(const Basis& c, Real half, Real tau0_ticks, DriftRemoval removal) {
  DriftFit fit;
  if (removal == DriftRemoval::kNone) return fit;
  const Real period = tau0_ticks + c[1] / half;
  const Real change = removal == DriftRemoval::kQuadratic ? 3 * c[2] / (half * half) : 0;
  const Real tick = common::kTickSeconds;
  fit.frequency_hz = static_cast<double>(1 / (period * tick));
  fit.frequency_offset = static_cast<double>(tau0_ticks / period - 1);
  // f = 1 / (p T) with p the period in ticks: df/dt = (df/dk) / (dt/dk) = -p' / (p^3 T^2).
  fit.drift_hz_per_s = static_cast<double>(-change / (period * period * period * tick * tick));
  fit.drift_per_s = static_cast<double>(-change / (period * period * tick));
  return fit;
}

}  // namespace

PhaseRecord DetrendedPhase(const TrainView& train, DriftRemoval removal) {
  PhaseRecord record;
  if (train.Empty()) return record;
  const int64_t last = train.LastIndex();
  const int64_t t_last = train.LastStamp();
  const Real k_last = static_cast<Real>(last);
  const Real half = k_last / 2;
  const int terms = removal == DriftRemoval::kNone ? 0 : removal == DriftRemoval::kLinear ? 2 : 3;
  const size_t n = train.Pulses();
  const auto phase_ticks = [&](size_t i) {
    const __int128 scaled = static_cast<__int128>(last) * train.stamp[i] -
                            static_cast<__int128>(train.index[i]) * t_last;
    return static_cast<Real>(scaled) / k_last;
  };
  const auto u_of = [&](size_t i) { return (static_cast<Real>(train.index[i]) - half) / half; };

  std::array<Basis, 3> normal{};
  Basis rhs{};
  for (size_t i = 0; i < n && terms > 0; ++i) {
    const Basis p = Legendre(u_of(i));
    const Real x = phase_ticks(i);
    for (int r = 0; r < terms; ++r) {
      rhs[r] += p[r] * x;
      for (int c = 0; c < terms; ++c) normal[r][c] += p[r] * p[c];
    }
  }
  const Basis coef = terms > 0 ? Solve(normal, rhs, terms) : Basis{};

  record.tau0_s = train.Tau0Ticks() * common::kTickSeconds;
  record.missing = last + 1 - static_cast<int64_t>(n);
  record.fit = ReadFit(coef, half, static_cast<Real>(t_last) / k_last, removal);
  record.phase_s.assign(static_cast<size_t>(last) + 1, std::numeric_limits<double>::quiet_NaN());
  for (size_t i = 0; i < n; ++i) {
    const Basis p = Legendre(u_of(i));
    Real trend = 0;
    for (int r = 0; r < terms; ++r) trend += coef[r] * p[r];
    record.phase_s[static_cast<size_t>(train.index[i])] =
        static_cast<double>((phase_ticks(i) - trend) * common::kTickSeconds);
  }
  return record;
}

}  // namespace analysis
