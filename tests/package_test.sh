#!/usr/bin/env bash
# Builds the Debian package from the build tree (as scripts/package.sh does) and checks its name,
# its files (program, module, resources, studio, example, manual page) and that its dependencies
# name the libraries foldra links.
#   package_test.sh BUILD_DIR VERSION
set -euo pipefail
build=$(realpath "$1")
version=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "package test: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -B "$work" > "$work/cpack.log" 2>&1 || { cat "$work/cpack.log" >&2; fail "cpack failed"; }
deb=$work/foldra_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "no $(basename "$deb"); cpack made: $(ls "$work")"

files=$(dpkg-deb -c "$deb" | awk '{ print $6 }')
for part in ./usr/bin/foldra ./usr/lib/foldra/Foldra_C4d.cdl ./usr/lib/foldra/res/strings.json \
  ./usr/share/foldra/studio/index.html ./usr/share/foldra/studio/app.js \
  ./usr/share/foldra/studio/vendor/three.module.js ./usr/share/foldra/examples/house.obj \
  ./usr/share/man/man1/foldra.1.gz; do
  grep -qxF "$part" <<<"$files" || fail "$part is not in the package"
done
dialogs=$(grep -c '^\./usr/lib/foldra/res/dialogs/.' <<<"$files" || true)
[ "$dialogs" -ge 1 ] || fail "the module's dialog descriptions are not in the package"

depends=$(dpkg-deb -f "$deb" Depends)
for library in libassimp libcairo2 libtiff libc6 libstdc++6; do
  grep -q "\b$library" <<<"$depends" || fail "Depends does not name $library: $depends"
done
