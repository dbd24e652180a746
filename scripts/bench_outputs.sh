#!/usr/bin/env bash
# Prints the output table: for bumped icospheres of 5k, 20k, 80k and 320k triangles (the meshes
# bench_unfold makes) and for ../shared/meshes/spot.obj when it is there, one foldra process per
# output format (default options), with its wall-clock seconds, its processor seconds (user and
# system: on a machine shared with other work they show what the run itself needed), peak
# memory (GNU time's maximum resident size, also per input triangle), the size of everything it
# wrote (side files and every sheet included), and the growth of wall-clock seconds and size per
# x4 triangles. Then the writers alone
# (bench_formats: the scene file of each mesh written again in one process, best of three), so
# that a writer's own time shows apart from the unfolding and the pattern. Last, the two
# stages (the unfolding with the page limit off and on, and the pattern) on bumpy and smooth
# icospheres and a terrain, with their growth per x4 triangles.
#
# scripts/bench.sh --outputs builds first and then runs this. Settings from the environment:
#   FOLDRA_BENCH_LEVELS   the sphere sizes as subdivision levels (default "4 5 6 7")
#   FOLDRA_BENCH_TIMEOUT  seconds after which a run is stopped and shown as ">N" (default 600)
#   FOLDRA_BENCH_OUTPUTS  the outputs (default: every format, then json+obj+pdf together)
#   FOLDRA_BENCH_STAGE_LEVELS  the sizes of the stages' spheres (default "5 6 7")
#   FOLDRA_BENCH_REPEAT   runs of each stage, of which the fastest is shown (default 3)
#   FOLDRA_BENCH_BIN      the folder of the programs (default build/bin), for instance a copy of
#                         an earlier build to compare with
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${FOLDRA_BENCH_BIN:-build/bin}
program=$(realpath "$bin/foldra")
bench=$(realpath "$bin/bench_unfold")
writers=$(realpath "$bin/bench_formats")
levels=${FOLDRA_BENCH_LEVELS:-4 5 6 7}
limit=${FOLDRA_BENCH_TIMEOUT:-600}
outputs=${FOLDRA_BENCH_OUTPUTS:-json obj glb gltf stl ply pdf svg png json+obj+pdf}
spot=../shared/meshes/spot.obj

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

models=()
for level in $levels; do
  "$bench" "$level" --obj "$work/sphere-$level.obj"
  models+=("$work/sphere-$level.obj")
done
[ -f "$spot" ] && models+=("$(realpath "$spot")")

triangles() { grep -c '^f ' "$1"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "" || b == "" || b + 0 == 0) print "-"; else printf "%.2f", a / b }'; }

declare -A seconds_of size_of
printf 'foldra MODEL -o r.EXT, one process each (timeout %s s)\n' "$limit"
printf '%-12s %9s  %-13s %9s %7s %7s %9s %6s %10s %7s\n' \
  model triangles output seconds "x4 time" "cpu s" "peak MiB" "B/tri" "size MB" "x4 size"
previous=""
for model in "${models[@]}"; do
  name=$(basename "$model" .obj)
  tris=$(triangles "$model")
  for output in $outputs; do
    dir="$work/run-$name-$output"
    mkdir -p "$dir"
    args=()
    for extension in ${output//+/ }; do args+=(-o "$dir/r.$extension"); done
    start=$EPOCHREALTIME
    if (cd "$work" && timeout "$limit" /usr/bin/time -f '%M %U %S' -o "$dir.rss" \
          "$program" "$model" "${args[@]}" --quiet >"$dir.log" 2>&1); then
      end=$EPOCHREALTIME
      secs=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')
      read -r rss user system < <(tail -n 1 "$dir.rss")
      cpu=$(awk -v u="$user" -v s="$system" 'BEGIN { printf "%.2f", u + s }')
      bytes=$(find "$dir" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
      peak=$(awk -v k="$rss" 'BEGIN { printf "%.1f", k / 1024 }')
      per=$(awk -v k="$rss" -v t="$tris" 'BEGIN { printf "%.0f", k * 1024 / t }')
      size=$(awk -v b="$bytes" 'BEGIN { printf "%.3f", b / 1e6 }')
    else
      secs=""; cpu="-"; peak="-"; per="-"; bytes=""; size="-"
      grep -q . "$dir.log" && sed 's/^/    /' "$dir.log" | head -3 >&2
    fi
    growth_time="-"; growth_size="-"
    if [ -n "$previous" ] && [ "$name" != spot ]; then
      growth_time=$(ratio "$secs" "${seconds_of[$previous/$output]:-}")
      growth_size=$(ratio "$bytes" "${size_of[$previous/$output]:-}")
    fi
    seconds_of[$name/$output]=$secs
    size_of[$name/$output]=$bytes
    printf '%-12s %9s  %-13s %9s %7s %7s %9s %6s %10s %7s\n' "$name" "$tris" "$output" "${secs:->$limit}" \
      "$growth_time" "$cpu" "$peak" "$per" "$size" "$growth_size"
    # The scene file stays for the writers' own table.
    [ "$output" = json ] && [ -f "$dir/r.json" ] && cp "$dir/r.json" "$work/$name.json"
    find "$dir" -type f -delete
  done
  previous=$name
done

echo
echo "the writers alone: bench_formats SCENE.json (the scene each run above wrote), best of 3, one process per writer"
printf '%-12s %9s  %-7s %9s %7s %10s\n' model triangles writer seconds "x4 time" "size MB"
previous=""
declare -A writer_seconds
for model in "${models[@]}"; do
  name=$(basename "$model" .obj)
  [ -f "$work/$name.json" ] || continue
  tris=$(triangles "$model")
  for extension in .json .obj .glb .gltf .stl .ply; do
    secs=""; size="-"
    if line=$(timeout "$limit" "$writers" "$work/$name.json" "$work/writers" "$extension"); then
      read -r _ secs bytes <<<"$line"
      size=$(awk -v b="$bytes" 'BEGIN { printf "%.3f", b / 1e6 }')
    fi
    growth="-"
    if [ -n "$previous" ] && [ "$name" != spot ]; then growth=$(ratio "$secs" "${writer_seconds[$previous/$extension]:-}"); fi
    writer_seconds[$name/$extension]=$secs
    printf '%-12s %9s  %-7s %9s %7s %10s\n' "$name" "$tris" "$extension" "${secs:->$limit}" "$growth" "$size"
    rm -rf "$work/writers"
  done
  previous=$name
done

# The two stages on bumped and smooth icospheres of 20k, 80k and 320k triangles and on a
# terrain of gentle hills (320k triangles), with and without the page limit: the unfolding
# (foldra MODEL -o r.json: reading, unfolding, the scene file) and the pattern (the processor
# seconds -o r.json -o r.pdf adds to it). "x4" is the growth of a stage's processor seconds
# from the mesh of a quarter the triangles, "page/off" the unfolding's with the page limit on
# over the same without it. Each figure is the fastest of FOLDRA_BENCH_REPEAT runs.
echo
echo "the stages, compact (and longest edge's unfolding beside it), page limit on (--page 210x297) and off"
printf '%-12s %9s  %-18s %9s %7s %9s %6s %7s\n' model triangles run "cpu s" x4 "peak MiB" "B/tri" page/off
stage_levels=${FOLDRA_BENCH_STAGE_LEVELS:-5 6 7}
stage_models=()
for level in $stage_levels; do
  "$bench" "$level" --obj "$work/bumpy-$level.obj"
  stage_models+=("$work/bumpy-$level.obj")
done
for level in $stage_levels; do
  "$bench" "$level" --bump 0 --obj "$work/smooth-$level.obj"
  stage_models+=("$work/smooth-$level.obj")
done
"$bench" 0 --hills 400 --obj "$work/hills-400.obj"
stage_models+=("$work/hills-400.obj")

# The triangles the model's faces become (the terrain's are quadrangles).
triangulated() { awk '$1 == "f" { n += NF - 3 } END { print n + 0 }' "$1"; }
# Runs foldra on the model with the arguments FOLDRA_BENCH_REPEAT times (3); prints the fewest
# processor seconds of them and the peak memory of that run (KiB), or "- -". On a machine
# shared with other work the fewest is the one least slowed by it.
repeat=${FOLDRA_BENCH_REPEAT:-3}
timed() {
  local model=$1
  shift
  local best="-" best_rss="-"
  for _ in $(seq "$repeat"); do
    if (cd "$work" && timeout "$limit" /usr/bin/time -f '%M %U %S' -o "$work/stage.rss" \
          "$program" "$model" "$@" --quiet >"$work/stage.log" 2>&1); then
      read -r rss user system < <(tail -n 1 "$work/stage.rss")
      cpu=$(awk -v u="$user" -v s="$system" 'BEGIN { printf "%.2f", u + s }')
      if [ "$best" = "-" ] || awk -v a="$cpu" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$cpu best_rss=$rss; fi
    fi
    find "$work/stage" -type f -delete 2>/dev/null || true
  done
  echo "$best $best_rss"
}
declare -A stage_cpu
# One row of the stage table for the model the loop stands at (name, family, tris); the growth
# is against the same key of the family's previous model.
row() {
  local label=$1 cpu=$2 rss=$3 key=$4 against=${5:-}
  local growth="-" per="-" peak="-" share="-"
  [ "$family" = "$previous_family" ] && growth=$(ratio "$cpu" "${stage_cpu[$previous_name/$key]:-}")
  [ "$growth" = "" ] && growth="-"
  if [ "$rss" != "-" ]; then
    peak=$(awk -v k="$rss" 'BEGIN { printf "%.1f", k / 1024 }')
    per=$(awk -v k="$rss" -v t="$tris" 'BEGIN { printf "%.0f", k * 1024 / t }')
  fi
  [ -n "$against" ] && share=$(ratio "$cpu" "$against")
  printf '%-12s %9s  %-18s %9s %7s %9s %6s %7s\n' "$name" "$tris" "$label" "$cpu" "$growth" "$peak" "$per" "$share"
}
previous_family="" previous_name=""
for model in "${stage_models[@]}"; do
  name=$(basename "$model" .obj)
  family=${name%-*}
  tris=$(triangulated "$model")
  mkdir -p "$work/stage"
  read -r off_cpu off_rss < <(timed "$model" -o "$work/stage/r.json")
  read -r on_cpu on_rss < <(timed "$model" --page 210x297 -o "$work/stage/r.json")
  read -r longest_cpu longest_rss < <(timed "$model" --unfold longest-edge -o "$work/stage/r.json")
  read -r whole_cpu whole_rss < <(timed "$model" --page 210x297 -o "$work/stage/r.json" -o "$work/stage/r.pdf")
  pattern_cpu=$(awk -v a="$whole_cpu" -v b="$on_cpu" 'BEGIN { if (a == "-" || b == "-") print "-"; else printf "%.2f", a - b }')
  stage_cpu[$name/off]=$off_cpu stage_cpu[$name/on]=$on_cpu stage_cpu[$name/longest]=$longest_cpu
  stage_cpu[$name/pattern]=$pattern_cpu stage_cpu[$name/whole]=$whole_cpu
  row "unfold, page off" "$off_cpu" "$off_rss" off
  row "unfold, page on" "$on_cpu" "$on_rss" on "$off_cpu"
  row "longest edge" "$longest_cpu" "$longest_rss" longest
  row "pattern, page on" "$pattern_cpu" "-" pattern
  row "whole, page on" "$whole_cpu" "$whole_rss" whole
  previous_family=$family previous_name=$name
done
