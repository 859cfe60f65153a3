#!/usr/bin/env bash
# Source coverage of one fuzz target's corpus: builds the target's replay driver with clang's
# coverage instrumentation into build-fuzz-cov, replays fuzz/corpus/NAME (and the inputs that
# ./fuzz.sh found in fuzz/work/NAME/corpus, when there are any) and prints the llvm-cov report
# of the given source files (regions, functions, lines and branches).
#   fuzz/coverage.sh decode_reply src/acquisition/protocol.cpp
set -euo pipefail

if [ $# -lt 2 ]; then
  echo "usage: $0 NAME SOURCE..." >&2
  exit 2
fi
name="$1"
shift
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-fuzz-cov"
flags="-fprofile-instr-generate -fcoverage-mapping"

"$root/scripts/install-deps.sh"

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" -DK390_FUZZ=OFF \
  -DK390_BENCHMARKS=OFF -DK390_TESTS=ON >/dev/null
ninja -C "$build" "fuzz_${name}_replay" >/dev/null

inputs=("$root/fuzz/corpus/$name")
[ -d "$root/fuzz/work/$name/corpus" ] && inputs+=("$root/fuzz/work/$name/corpus")
profile="$build/$name.profraw"
LLVM_PROFILE_FILE="$profile" "$build/bin/fuzz_${name}_replay" "${inputs[@]}"
llvm-profdata-14 merge -sparse "$profile" -o "$build/$name.profdata"
sources=()
for source in "$@"; do sources+=("$root/$source"); done
llvm-cov-14 report "$build/bin/fuzz_${name}_replay" -instr-profile="$build/$name.profdata" \
  -show-branch-summary "${sources[@]}"
