#!/usr/bin/env bash
# Builds the portable core with its unit tests (native) and the Windows
# programs (mingw-w64), then packs these into a zip and a per-user installer.
# Output: build/native, build/win, build/tarvi-<version>.zip and
# build/tarvi-<version>-setup.exe.
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

# One version everywhere: CMake's project(VERSION), as configured into the
# programs' version resources.
version="$(sed -n 's/^#define TARVI_VERSION "\(.*\)"$/\1/p' "$build/win/generated/common/win32/res/tarvi_version.h")"
[ -n "$version" ] || { echo "build: no version in the generated tarvi_version.h" >&2; exit 1; }
readme_name="はじめにお読みください.txt"
stage="$build/package/tarvi-$version"
rm -rf "$build/package"
mkdir -p "$stage"
cp "$build/win/tarvimon.exe" "$build/win/tarvicfg.exe" "$stage/"
# Notepad of every Windows version reads UTF-8 with a BOM; CR LF line ends.
{ printf '\xef\xbb\xbf'; sed 's/\r*$/\r/' "$root/installer/$readme_name"; } >"$stage/$readme_name"
zip_file="$build/tarvi-$version.zip"
rm -f "$zip_file"
# Python's zipfile marks the Japanese name as UTF-8 (Info-ZIP's zip does
# not), so that Explorer shows it correctly.
(cd "$build/package" && /usr/bin/python3 -m zipfile -c "$zip_file" "tarvi-$version")
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DBINDIR="$stage" -DREADME="$stage/$readme_name" \
  -DOUTFILE="$build/tarvi-$version-setup.exe" "$root/installer/tarvi.nsi" >"$build/package/makensis.log" 2>&1 || {
  cat "$build/package/makensis.log" >&2
  echo "build: makensis failed" >&2
  exit 1
}
echo "build: $zip_file, $build/tarvi-$version-setup.exe"
