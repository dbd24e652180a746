#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, with the address and undefined-behaviour sanitizers) into
# build-fuzz/ and runs them one after the other, each on one core:
#   scripts/fuzz.sh                 every target for FOLDRA_FUZZ_SECONDS (default 1800) seconds
#   scripts/fuzz.sh fuzz_run        one target
#   scripts/fuzz.sh --smoke         every target for 30 seconds, on a copy of the seed corpus
# Corpora grow in fuzz-work/<target>/ (seeded from fuzz/corpus/<target>/); findings are written
# to fuzz-work/findings/ and end the run with an error.
set -euo pipefail
cd "$(dirname "$0")/.."
targets=()
seconds=${FOLDRA_FUZZ_SECONDS:-1800}
smoke=0
for a in "$@"; do
  if [ "$a" = --smoke ]; then smoke=1; seconds=${FOLDRA_FUZZ_SECONDS:-30}; else targets+=("$a"); fi
done
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_load fuzz_project fuzz_run)

CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DFOLDRA_FUZZ=ON -DFOLDRA_TESTS=OFF -DFOLDRA_BENCH=OFF >/dev/null
cmake --build build-fuzz --parallel 2 --target "${targets[@]}"

export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp"
work=fuzz-work
[ $smoke = 0 ] || work=build-fuzz/smoke
mkdir -p "$work/findings"
for target in "${targets[@]}"; do
  corpus="$work/$target"
  if [ $smoke = 1 ]; then rm -rf "$corpus"; fi
  mkdir -p "$corpus"
  cp -n fuzz/corpus/"$target"/* "$corpus"/
  echo "fuzz: $target for $seconds s" >&2
  build-fuzz/bin/"$target" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$work/findings/$target-" "$corpus" 2>"$work/$target.log" || {
    grep -v '^    #' "$work/$target.log" | tail -n 40 >&2
    echo "fuzz: $target found a problem; see $work/findings/" >&2
    exit 1
  }
  grep -E '^#[0-9]+.*DONE|stat::' "$work/$target.log" >&2 || true
done
