#!/usr/bin/env bash
# Prints, for generated closed meshes of about 1k, 10k and 50k triangles, the time of
# preparation plus unfolding, the number of pieces and the peak memory. Each size runs in a
# process of its own, so that the peak memory is that size's. Sizes can be given as arguments
# (for example: scripts/bench.sh 1000 10000).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh >/dev/null
# Wall-clock seconds of preparation plus unfolding, one run per size.
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1000 10000 50000)
printf '%-10s %12s %10s %8s %10s\n' "size" "triangles" "seconds" "pieces" "peak MiB"
for size in "${sizes[@]}"; do
  build/bin/bench_unfold --benchmark_filter="PrepareAndUnfold/${size}/" --benchmark_format=csv 2>/dev/null |
    tail -n 1 |
    awk -F, -v size="$size" '{ printf "%-10s %12s %10.2f %8s %10.1f\n", size, $13, $3 / 1000, $12, $11 }'
done
