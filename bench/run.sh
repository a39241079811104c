#!/usr/bin/env bash
# Builds votar natively without sanitizers and times it against GNU tar and
# bsdtar (bench/run.py prints the table). Extra arguments go to run.py:
#   bash bench/run.sh [--quick] [--compressed-only] [--wine-votar build/win32/bin/votar.exe]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${VOTAR_BUILD:-build}/bench
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVOTAR_SANITIZE=OFF \
  -DVOTAR_TESTS=OFF >/dev/null
ninja -C "$BUILD" votar >/dev/null
exec python3 bench/run.py --votar "$BUILD/bin/votar" "$@"
