#!/usr/bin/env bash
# Sets up the machine, builds everything and runs the whole test suite; then runs it a second
# time built with the address and undefined-behaviour sanitizers (build-asan/), and runs each
# fuzz target for a short while (build-fuzz/, clang). FOLDRA_TEST_QUICK=1 runs the first pass
# only.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
ctest --test-dir build --output-on-failure -j 2
if [ "${FOLDRA_TEST_QUICK:-}" = 1 ]; then exit 0; fi

echo "test: the suite again under the address and undefined-behaviour sanitizers" >&2
start=$SECONDS
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFOLDRA_SANITIZE=ON -DFOLDRA_BENCH=OFF >/dev/null
cmake --build build-asan --parallel 2
ctest --test-dir build-asan --output-on-failure -j 2
echo "test: sanitizer pass took $((SECONDS - start)) s" >&2

echo "test: fuzz targets, ${FOLDRA_FUZZ_SECONDS:-30} s each" >&2
start=$SECONDS
bash scripts/fuzz.sh --smoke
echo "test: fuzz pass took $((SECONDS - start)) s" >&2
