#!/usr/bin/env bash
# Builds the portable core with its unit tests (native) and the Windows
# programs (mingw-w64). Output: build/native, build/win.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${TARVI_BUILD:-$root/build}"
jobs="${JOBS:-2}"

# A configure that works says nothing worth reading; one that fails says
# everything, so its whole output is kept and shown then.
configure() {
  local dir="$1"
  shift
  mkdir -p "$dir"
  if ! cmake -S "$root" -B "$dir" "$@" >"$dir/configure.log" 2>&1; then
    cat "$dir/configure.log" >&2
    echo "build: configuring $dir failed (log: $dir/configure.log)" >&2
    return 1
  fi
}

configure "$build/native" -DCMAKE_BUILD_TYPE=Debug
cmake --build "$build/native" -j"$jobs"
configure "$build/win" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake"
cmake --build "$build/win" -j"$jobs"
