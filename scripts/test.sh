#!/usr/bin/env bash
# Runs every test on a fresh Debian 12 machine: the native unit tests, a short
# run of each fuzz target, then the end-to-end tests under Wine.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
export TARVI_BUILD="${TARVI_BUILD:-$root/build}"
cd "$root"
bash scripts/prereqs.sh
bash scripts/build.sh
echo "== unit tests"
ctest --test-dir "$TARVI_BUILD/native" --output-on-failure -j2 2>&1 | tail -n 25
if [ -x scripts/run_fuzz.sh ]; then
  echo "== fuzz targets"
  FUZZ_SECONDS="${FUZZ_SECONDS:-15}" bash scripts/run_fuzz.sh
fi
echo "== end-to-end tests"
bash scripts/wineprefix.sh "$TARVI_BUILD/wine-template"
/usr/bin/python3 tests/e2e/run.py "$@"
