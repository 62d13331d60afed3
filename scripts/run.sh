#!/usr/bin/env bash
# Sets up, builds and starts Kestrane.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTRANE_TESTS=OFF -DKESTRANE_BENCH=OFF
cmake --build build -j"$(nproc)"
if [ -x build/kestrane ]; then
  # The program reads collation.txt from its current directory; the build folder holds the shipped one.
  cd build && exec ./kestrane
else
  echo "Kestrane's window is not built yet: the engine libraries are built in ./build."
fi
