#!/usr/bin/env bash
# Installs every package Kestrane needs to build, run and test on Debian. Safe to run again.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  libgtest-dev googletest libexpat1-dev
  libwxgtk3.2-dev
  unixodbc unixodbc-dev tdsodbc nlohmann-json3-dev python3
  xvfb xauth xdotool imagemagick xdg-utils
  openbox libx11-dev
)
# Node.js may come from another Debian-format source with npm bundled; add Debian's only when absent.
command -v node >/dev/null || packages+=(nodejs)
command -v npm >/dev/null || packages+=(npm)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi

# The FreeTDS ODBC driver under the name the database save tries; tdsodbc registers it itself unless
# its debconf answer said no or odbcinst was missing when it was installed.
if ! odbcinst -q -d -n FreeTDS >/dev/null 2>&1; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO odbcinst -i -d -f /usr/share/tdsodbc/odbcinst.ini >/dev/null
fi

# Test-only tools from npm (a T-SQL parser that checks the texts we generate).
if [ -f tests/tools/package.json ] && [ ! -d tests/tools/node_modules ]; then
  if ! (cd tests/tools && npm install --no-audit --no-fund --loglevel=error); then
    # Under CI a check that cannot run is a failure, not a skip.
    if [ "${CI:-}" = "true" ]; then
      echo "setup: npm install failed; the T-SQL parser check cannot run" >&2
      exit 1
    fi
    echo "setup: npm install failed; the parser check will skip"
  fi
fi
