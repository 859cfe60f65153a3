#!/usr/bin/env bash
# Builds the benchmarks in a Release build (build/bench) and runs every bench_* executable,
# printing its figures. Benchmarks report; they never fail a build.
set -euo pipefail

root="$(cd "$(dirname "$0")" && pwd)"
build="$root/build/bench"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DK390_TESTS=OFF \
  -DK390_BENCHMARKS=ON -DK390_SANITIZE=OFF >/dev/null

mapfile -t targets < <(ninja -C "$build" -t targets all | sed -n 's/^\(bench_[A-Za-z0-9_]*\): .*/\1/p' |
                       sort -u)
if [ ${#targets[@]} -eq 0 ]; then
  echo "no benchmarks found" >&2
  exit 1
fi
ninja -C "$build" "${targets[@]}"

for bench in "$build"/bin/bench_*; do
  [ -x "$bench" ] || continue
  echo "== $(basename "$bench")"
  "$bench" "$@"
done
