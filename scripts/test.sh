#!/usr/bin/env bash
# Runs every test on a fresh Debian 12 machine: the include layer check, the
# native unit tests, a short run of each fuzz target, then the end-to-end
# tests under Wine.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
export TARVI_BUILD="${TARVI_BUILD:-$root/build}"
cd "$root"
bash scripts/prereqs.sh
bash scripts/build.sh
echo "== include layers"
/usr/bin/python3 scripts/check_layers.py --self-test
/usr/bin/python3 scripts/check_layers.py
echo "== unit tests"
# A pass needs only its summary; a failure needs every line ctest wrote.
ctest_log="$TARVI_BUILD/native/ctest.log"
if ctest --test-dir "$TARVI_BUILD/native" --output-on-failure --no-tests=error -j2 \
    >"$ctest_log" 2>&1; then
  sed -n '/% tests passed/,$p' "$ctest_log"
else
  cat "$ctest_log"
  echo "unit tests failed (log: $ctest_log)" >&2
  exit 1
fi
if [ -x scripts/run_fuzz.sh ]; then
  echo "== fuzz targets"
  # A smoke run of each target (17 of them), the long runs are fuzz_long.sh's:
  # the whole command stays within twenty minutes on two cores.
  FUZZ_SECONDS="${FUZZ_SECONDS:-6}" bash scripts/run_fuzz.sh
fi
echo "== end-to-end tests"
bash scripts/wineprefix.sh "$TARVI_BUILD/wine-template"
/usr/bin/python3 tests/e2e/run.py "$@"
