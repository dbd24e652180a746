#!/usr/bin/env bash
# Installs every Debian package that building, testing and running Foldra needs (clang and its
# runtimes for the fuzz targets; dpkg-dev and file for the Debian package's dependencies, man-db
# and curl for the install tests), and the studio's front-end packages from npm (into
# studio/web/node_modules, from its lock file).
# Idempotent: packages already present are left alone, and the package index is
# refreshed only when something is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libgmock-dev time
  nlohmann-json3-dev libcli11-dev
  libassimp-dev libcairo2-dev libstb-dev libtiff-dev
  libharfbuzz-dev libdeflate-dev libfontconfig-dev libfreetype-dev fonts-dejavu-core fonts-dejavu-extra
  poppler-utils
  libcpp-httplib-dev chromium libminizip-dev zlib1g-dev
  clang-14 libclang-rt-14-dev
  dpkg-dev file man-db curl
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

# Node.js and npm build the studio's front end; Debian's packages serve where the machine has none.
if ! command -v node >/dev/null 2>&1; then missing+=(nodejs); fi
if ! command -v npm >/dev/null 2>&1; then missing+=(npm); fi

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}" >&2
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The studio's front end: three.js, and playwright-core for the browser tests (it drives
# Debian's chromium; it downloads no browser of its own). Installed again only when the lock
# file changed since the last install.
web=studio/web
if [ ! -f "$web/node_modules/.package-lock.json" ] || ! cmp -s "$web/package-lock.json" "$web/node_modules/.foldra-lock"; then
  echo "setup: npm ci in $web" >&2
  (cd "$web" && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error >/dev/null)
  cp "$web/package-lock.json" "$web/node_modules/.foldra-lock"
fi
