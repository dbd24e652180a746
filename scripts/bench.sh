#!/usr/bin/env bash
# Prints the speed table: a whole run through our host (intake, preparation with glue tabs,
# unfolding, scene output) on bumped icospheres of 5k to 320k triangles, tabs on, no page limit;
# seconds per stage and in all, pieces, peak memory; and the direct form's unfolding seconds
# beside it up to the size where it passes a minute. Then a flat grid of 200k triangles, and the
# foldra program's whole run (import, run, writing the .json and .obj) on the 80k mesh.
# Each figure comes from a process of its own, so that the peak memory is that run's.
# Then the pieces table: what each unfolding method makes of the shared spot.obj (when
# ../shared/meshes is there) and of generated meshes of 1k to 80k triangles.
#
#   scripts/bench.sh            # the whole table (the direct form adds a few minutes)
#   scripts/bench.sh --quick    # without the direct form
#   scripts/bench.sh --pieces   # the pieces table alone
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh >/dev/null
bench=build/bin/bench_unfold
quick=0
[ "${1:-}" = "--quick" ] && quick=1

# The pieces both methods make, 150 mm large on A4 (10 mm margins, the page limit on), tabs of
# 6 mm (compact) and 17 mm (longest edge): pieces, pieces of one triangle, pieces under 1 cm²,
# cut edges, their length in mm, tabs, cut edges without a tab, A4 sheets, and the unfolding's
# seconds (wall clock and processor).
pieces_table() {
  printf '%-14s %9s %-13s %7s %7s %7s %7s %8s %7s %8s %7s %8s %8s\n' \
    mesh triangles method pieces single "<1cm2" cuts "cut mm" tabs untabbed sheets seconds cpu
  meshes=(sphere:3 sphere:4 sphere:5 sphere:6 torus:32x16 torus:64x40 torus:128x80 torus:256x160
          terrain:23 terrain:50 terrain:100 terrain:200)
  [ -f ../shared/meshes/spot.obj ] && meshes=(../shared/meshes/spot.obj "${meshes[@]}")
  for mesh in "${meshes[@]}"; do
    for method in longest-edge compact; do
      printf '%-14s %9s %-13s %7s %7s %7s %7s %8s %7s %8s %7s %8s %8s\n' $(build/bin/bench_pieces "$mesh" "$method")
    done
  done
}
if [ "${1:-}" = "--pieces" ]; then
  pieces_table
  exit 0
fi

printf '%10s %8s %8s %8s %8s %8s %8s %9s %7s %13s\n' \
  triangles intake prepare unfold output total pieces "peak MiB" "B/tri" "direct unfold"
direct_done=0
for levels in 4 5 6 7; do
  read -r tris intake prepare unfold output total pieces peak per < <("$bench" "$levels")
  direct="-"
  if [ "$quick" = 0 ] && [ "$direct_done" = 0 ]; then
    # The direct form is quadratic: it runs until one size takes more than a minute.
    if line=$(timeout 300 "$bench" "$levels" --direct); then
      direct=$(echo "$line" | awk '{ print $4 }')
      awk -v s="$direct" 'BEGIN { exit !(s > 60) }' && direct_done=1
    else
      direct=">300"
      direct_done=1
    fi
  fi
  printf '%10s %8s %8s %8s %8s %8s %8s %9s %7s %13s\n' \
    "$tris" "$intake" "$prepare" "$unfold" "$output" "$total" "$pieces" "$peak" "$per" "$direct"
done

echo
echo "flat grid, one piece without a page limit:"
read -r tris intake prepare unfold output total pieces peak per < <("$bench" 0 --grid 316)
printf '%10s %8s %8s %8s %8s %8s %8s %9s %7s\n' "$tris" "$intake" "$prepare" "$unfold" "$output" "$total" "$pieces" "$peak" "$per"

echo
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$bench" 6 --obj "$work/sphere.obj"
program=$(realpath build/bin/foldra)
(cd "$work" && /usr/bin/time -f "foldra sphere.obj (81920 triangles, writes .json and .obj): %e s wall, %U s user, %S s system, %M KiB peak" \
  "$program" sphere.obj --quiet)

echo
echo "pieces of both methods:"
pieces_table
