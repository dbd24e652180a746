#!/usr/bin/env bash
# Builds the Debian package foldra_VERSION_ARCH.deb into the checkout's top folder: the program,
# the module with its resources, the studio, the example and the manual page under /usr, with
# the dependencies dpkg-shlibdeps reads from the libraries they link. Install it with
#   sudo apt-get install ./foldra_VERSION_ARCH.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cpack --config build/CPackConfig.cmake -B "$work" >/dev/null
for deb in "$work"/foldra_*.deb; do
  mv "$deb" .
  echo "package: $(basename "$deb")"
done
