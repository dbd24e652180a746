#!/usr/bin/env bash
# Installs foldra into a temporary prefix, moves the prefix elsewhere and uses the moved program
# as a person would: the bundled example into JSON, OBJ and PDF (also through a link to the
# program from another folder), the studio answering its page, and the manual page.
#   install_test.sh BUILD_DIR
set -euo pipefail
build=$(realpath "$1")
work=$(mktemp -d)
studio=
cleanup() {
  if [ -n "$studio" ]; then kill "$studio" 2>/dev/null || true; wait "$studio" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "install test: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$work/installed" >/dev/null
mv "$work/installed" "$work/moved"
prefix=$work/moved
for part in bin/foldra lib/foldra/Foldra_C4d.cdl lib/foldra/res/strings.json \
  share/foldra/studio/index.html share/foldra/studio/vendor/three.module.js \
  share/foldra/examples/house.obj share/man/man1/foldra.1.gz; do
  [ -f "$prefix/$part" ] || fail "$part is not installed"
done
[ "$(ls "$prefix/bin")" = foldra ] || fail "bin/ holds more than the program: $(ls "$prefix/bin")"

mkdir "$work/run" "$work/links"
cd "$work/run"
"$prefix/bin/foldra" --quiet -o house.json -o house.obj -o house.pdf
grep -q '"objects"' house.json || fail "house.json is not a scene"
grep -q '^f ' house.obj || fail "house.obj has no faces"
[ -s house.mtl ] || fail "house.mtl is missing"
pages=$(pdfinfo house.pdf | awk '/^Pages:/ { print $2 }')
[ "${pages:-0}" -ge 1 ] || fail "house.pdf has no pages"

# A link in another folder (as /usr/local/bin/foldra might be) still finds the parts.
ln -s "$prefix/bin/foldra" "$work/links/foldra"
"$work/links/foldra" --quiet -o linked.json -o linked.pdf
cmp -s house.json linked.json || fail "the program run through a link unfolded differently"

# The studio on a free port: its page, three.js and its state, then a clean stop.
mkdir "$work/tmp"
# The files exist before the studio starts: its shell opens them only once it runs, and the
# first look for the address may come before that.
: > "$work/serve.out"
: > "$work/serve.err"
TMPDIR=$work/tmp "$prefix/bin/foldra" serve --port 0 > "$work/serve.out" 2> "$work/serve.err" &
studio=$!
url=
for _ in $(seq 100); do
  url=$(sed -n 's|^foldra studio: \(http://[^ ]*\)$|\1|p' "$work/serve.out")
  [ -n "$url" ] && break
  kill -0 "$studio" 2>/dev/null || fail "the studio did not start: $(cat "$work/serve.err")"
  sleep 0.2
done
[ -n "$url" ] || fail "the studio printed no address"
# Each answer into a file: grep -q stopping early would fail curl's write under pipefail.
get() { curl -fsS -o "$work/answer" "$url$1" && grep -q "$2" "$work/answer"; }
get "" '<html' || fail "the studio's page is not served at $url"
get vendor/three.module.js REVISION || fail "three.js is not served"
get api/state '{' || fail "the studio's state is not served"
kill -TERM "$studio"
status=0
wait "$studio" || status=$?
studio=
[ "$status" = 0 ] || fail "the studio ended with $status after SIGTERM: $(cat "$work/serve.err")"

# --module names another module file over the installed one.
if "$prefix/bin/foldra" --quiet --module "$work/other.cdl" -o other.json 2> "$work/other.err"; then
  fail "--module $work/other.cdl was not used"
fi
grep -qF "$work/other.cdl: no such module file" "$work/other.err" || fail "--module: $(cat "$work/other.err")"

MANWIDTH=100 MANPAGER=cat LC_ALL=C man -l "$prefix/share/man/man1/foldra.1.gz" > "$work/manual.txt"
grep -q 'foldra serve' "$work/manual.txt" || fail "man -l does not render the installed page"
"$prefix/bin/foldra" --version > "$work/version.txt"
grep -q '^foldra [0-9]' "$work/version.txt" || fail "--version printed nothing"

# Without its module the program says where it looked.
mv "$prefix/lib/foldra" "$work/module-away"
if "$prefix/bin/foldra" --quiet -o missing.json 2> "$work/missing.err"; then fail "ran without its module"; fi
grep -qF "$prefix/lib/foldra/Foldra_C4d.cdl" "$work/missing.err" || fail "the missing module is not named: $(cat "$work/missing.err")"
