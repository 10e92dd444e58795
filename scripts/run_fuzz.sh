#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for FUZZ_SECONDS seconds
# (default 20) from its seed corpus under tests/fuzz/corpus/<target>/.
# Exits non-zero when a target finds a crash; the reproducer is left in
# build/fuzz/artifacts/<target>/.
#
#   FUZZ_SECONDS=60 scripts/run_fuzz.sh [target ...]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-${TARVI_BUILD:-$root/build}/fuzz}
seconds=${FUZZ_SECONDS:-20}
jobs=${FUZZ_BUILD_JOBS:-2}

if ! command -v clang++ >/dev/null; then
  echo "run_fuzz: clang++ is missing (apt-get install -y clang libclang-rt-14-dev)" >&2
  exit 2
fi

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DTARVI_FUZZ=ON -DTARVI_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for src in "$root"/tests/fuzz/*.cpp; do
    targets+=("$(basename "$src" .cpp)")
  done
fi
cmake --build "$build" -j"$jobs" --target "${targets[@]}"

status=0
for t in "${targets[@]}"; do
  seeds=$root/tests/fuzz/corpus/$t
  work=$build/corpus/$t
  artifacts=$build/artifacts/$t
  mkdir -p "$work" "$artifacts"
  dirs=("$work")
  [ -d "$seeds" ] && dirs+=("$seeds")
  echo "== $t: ${seconds}s"
  # New inputs go to the scratch corpus; the committed seeds stay as they are.
  if ! "$build/$t" -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
       -print_final_stats=1 -artifact_prefix="$artifacts/" "${dirs[@]}" 2>"$build/$t.log"; then
    echo "!! $t found a failure; see $build/$t.log and $artifacts/" >&2
    grep -E "ERROR|SUMMARY|runtime error" "$build/$t.log" | head -20 >&2 || true
    status=1
  else
    grep -E "stat::number_of_executed_units|cov:" "$build/$t.log" | tail -2
  fi
done
exit $status
