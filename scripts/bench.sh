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
#   scripts/bench.sh --outputs  # instead: every output format's time, memory and size, and
#                               # the stages on smooth and bumpy spheres and a terrain with the
#                               # page limit on and off (scripts/bench_outputs.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh >/dev/null
if [ "${1:-}" = "--outputs" ]; then exec bash scripts/bench_outputs.sh; fi
bench=build/bin/bench_unfold
quick=0
[ "${1:-}" = "--quick" ] && quick=1

# The pieces the methods make on A4 (10 mm margins, the page limit on), tabs of 6 mm (compact,
# by default and with --bare-seams) and 17 mm (longest edge): pieces, pieces in more than one
# part, pieces of one triangle, pieces under 1 cm², cut edges, their length in mm, tabs, cut edges
# without a tab, A4 sheets, the median edge on paper in mm, and the unfolding's seconds (wall
# clock and processor) with the process's peak memory. spot.obj at 150 mm; each generated mesh at a height where its edges are
# mostly 3 mm or longer on paper. Then low-poly meshes with the page limit off (mesh or scene
# output): how many compact gives as one piece.
pieces_row() {
  printf '%-14s %9s %-13s %7s %6s %7s %7s %7s %8s %7s %8s %7s %6s %8s %8s %8s\n' "$@"
}
pieces_table() {
  pieces_row mesh triangles method pieces parts single "<1cm2" cuts "cut mm" tabs untabbed sheets edge seconds cpu "peak MiB"
  meshes=("sphere:3 --height 150" "sphere:4 --height 150" "sphere:5 --height 200" "sphere:6 --height 400"
          "torus:32x16 --height 150" "torus:64x40 --height 150" "torus:128x80 --height 300" "torus:256x160 --height 600"
          "terrain:23 --height 150" "terrain:50 --height 150" "terrain:100 --height 300" "terrain:200 --height 600"
          "smooth:5 --height 200" "smooth:6 --height 400" "smooth:7 --height 800" "hills:200 --size 600")
  [ -f ../shared/meshes/spot.obj ] && meshes=("../shared/meshes/spot.obj --size 150" "${meshes[@]}")
  for entry in "${meshes[@]}"; do
    read -r mesh size <<<"$entry"
    for method in longest-edge compact "compact --bare-seams"; do
      # shellcheck disable=SC2086
      pieces_row $(build/bin/bench_pieces "$mesh" $method $size)
    done
  done
  echo
  echo "page limit off, compact by default: low-poly meshes that come out as one piece"
  pieces_row mesh triangles method pieces parts single "<1cm2" cuts "cut mm" tabs untabbed sheets edge seconds cpu "peak MiB"
  one=0 all=0
  for mesh in sphere:1 sphere:2 torus:8x6 torus:12x8 torus:16x10 torus:24x16 terrain:8 terrain:12 terrain:16 terrain:20; do
    line=$(build/bin/bench_pieces "$mesh" compact --no-page)
    # shellcheck disable=SC2086
    pieces_row $line
    all=$((all + 1))
    [ "$(echo "$line" | awk '{ print $4 }')" = 1 ] && one=$((one + 1))
  done
  echo "$one of $all in one piece"
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
