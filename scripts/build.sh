#!/usr/bin/env bash
# Builds the portable core with its unit tests (native) and the Windows
# programs (mingw-w64). Output: build/native, build/win.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${TARVI_BUILD:-$root/build}"
jobs="${JOBS:-2}"
cmake -S "$root" -B "$build/native" -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$build/native" -j"$jobs"
cmake -S "$root" -B "$build/win" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$build/win" -j"$jobs"
