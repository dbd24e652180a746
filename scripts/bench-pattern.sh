#!/usr/bin/env bash
# Prints the printable pattern's speed and size: the foldra program's whole run (reading, the
# unfolding, packing, drawing, writing) on spot.obj (when ../shared/meshes is there) and on
# bumped icospheres of 5k to 320k triangles, one process per run: for .pdf, .svg and .png alone
# and for .json .obj .pdf together, the wall and user seconds, the peak memory and the size of
# the files written, then the growth of each figure per x4 triangles.
#
#   scripts/bench-pattern.sh            # 5k to 320k
#   scripts/bench-pattern.sh --quick    # 5k to 80k
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh >/dev/null
levels="4 5 6 7"
[ "${1:-}" = "--quick" ] && levels="4 5 6"
program=$(realpath build/bin/foldra)
bench=$(realpath build/bin/bench_unfold)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

meshes=()
if [ -f ../shared/meshes/spot.obj ]; then meshes+=("$(realpath ../shared/meshes/spot.obj)"); fi
for level in $levels; do
  "$bench" "$level" --obj "$work/sphere$level.obj" >/dev/null
  meshes+=("$work/sphere$level.obj")
done

printf '%-14s %10s %-16s %8s %8s %9s %10s\n' mesh triangles outputs wall user "peak MiB" "size MB"
declare -A previous
for mesh in "${meshes[@]}"; do
  name=$(basename "$mesh" .obj)
  triangles=$(grep -c '^f ' "$mesh")
  for outputs in "r.pdf" "r.svg" "r.png" "r.json r.obj r.pdf"; do
    run="$work/run"
    rm -rf "$run" && mkdir "$run"
    args=()
    for o in $outputs; do args+=(-o "$o"); done
    read -r wall user peak < <(cd "$run" && /usr/bin/time -f "%e %U %M" "$program" "$mesh" "${args[@]}" --quiet 2>&1 >/dev/null |
      grep -v '^foldra' | tail -1)
    size=$(du -cb "$run"/* | tail -1 | cut -f1)
    printf '%-14s %10s %-16s %8s %8s %9.1f %10.2f\n' "$name" "$triangles" "$outputs" "$wall" "$user" \
      "$(echo "$peak / 1024" | bc -l)" "$(echo "$size / 1000000" | bc -l)"
    key="$outputs"
    if [ "$name" != spot ] && [ -n "${previous[$key]:-}" ]; then
      read -r pw pu pp ps <<<"${previous[$key]}"
      printf '%-14s %10s %-16s %8.2f %8.2f %9.2f %10.2f\n' "  x4 growth" "" "" \
        "$(echo "$wall / $pw" | bc -l)" "$(echo "$user / $pu" | bc -l)" "$(echo "$peak / $pp" | bc -l)" \
        "$(echo "$size / $ps" | bc -l)"
    fi
    [ "$name" != spot ] && previous[$key]="$wall $user $peak $size"
  done
done
