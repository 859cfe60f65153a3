#!/usr/bin/env bash
# Builds every libFuzzer target (fuzz/*.cmake) with clang and runs each for SECONDS (default
# 600), one after the other. Seeds come from fuzz/corpus/<name>; new inputs go to
# fuzz/work/<name>/corpus and crashes to fuzz/work/<name>/. Exits non-zero when any target found a
# crash, so a crashing input can be copied into fuzz/corpus/<name> and replayed by ctest.
set -euo pipefail

seconds="${1:-600}"
root="$(cd "$(dirname "$0")" && pwd)"
# Not build/fuzz: that is where the main build keeps its fuzz/ folder, whose test list a second
# project there would replace.
build="$root/build-fuzz"
cd "$root"

"$root/scripts/install-deps.sh"

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DK390_FUZZ=ON -DK390_SANITIZE=ON -DK390_BENCHMARKS=OFF -DK390_TESTS=ON >/dev/null

# The targets are whatever the fuzz/*.cmake parts declared.
mapfile -t targets < <(ninja -C "$build" -t targets all | sed -n 's/^\(fuzz_[A-Za-z0-9_]*\): .*/\1/p' |
                       grep -v '_replay$' | sort -u)
if [ ${#targets[@]} -eq 0 ]; then
  echo "no fuzz targets found" >&2
  exit 1
fi
ninja -C "$build" "${targets[@]}"

failed=()
for target in "${targets[@]}"; do
  name="${target#fuzz_}"
  seeds="$root/fuzz/corpus/$name"
  work="$root/fuzz/work/$name"
  mkdir -p "$work/corpus" "$seeds"
  echo "== $target for ${seconds}s"
  status=0
  stamp="$(mktemp)"
  "$build/bin/$target" "$work/corpus" "$seeds" -max_total_time="$seconds" \
    -artifact_prefix="$work/" -print_final_stats=1 >"$work/log.txt" 2>&1 || status=$?
  tail -n 20 "$work/log.txt"
  # libFuzzer exits non-zero on a crash, leak, timeout or out-of-memory and leaves the input
  # as an artifact; earlier runs' artifacts do not count.
  found="$(find "$work" -maxdepth 1 -type f -newer "$stamp" \
           \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) -print)"
  rm -f "$stamp"
  if [ "$status" -ne 0 ] || [ -n "$found" ]; then
    echo "!! $target failed (exit $status):" $found >&2
    failed+=("$target")
  fi
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz targets with findings: ${failed[*]}" >&2
  exit 1
fi
echo "all fuzz targets ran ${seconds}s without findings: ${targets[*]}"
