#!/usr/bin/env bash
# Sets up the machine, builds foldra and unfolds the bundled example house: the scene, the
# pieces as a mesh and the printable pattern land in foldra-out/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
mkdir -p foldra-out
build/bin/foldra -o foldra-out/house.json -o foldra-out/house.obj -o foldra-out/house.pdf
