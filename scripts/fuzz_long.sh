#!/usr/bin/env bash
# Long fuzzing, run by hand: every fuzz target (or those named) for
# FUZZ_MINUTES minutes each (default 10), one after the other on one core,
# with AddressSanitizer and UndefinedBehaviorSanitizer (the build of
# scripts/run_fuzz.sh).
#
# Each target starts from its kept corpus tests/fuzz/corpus/<target>/ and a
# working corpus in the build tree that grows from run to run. At the end
# the inputs of at most FUZZ_KEEP_BYTES (default 1024) bytes that cover
# something the kept corpus does not are merged, and the smallest
# FUZZ_KEEP_FILES (default 12) of them join it: the repository keeps a small
# corpus that still reaches what the runs found. FUZZ_CORPUS names another
# kept corpus (e.g. when fuzzing an exported tree).
# FUZZ_KEEP=0 leaves the kept corpus as it is. FUZZ_BUILD=0 runs the
# targets as last built (while the tree is in the middle of a change).
#
# Prints per target: seconds, executions, coverage, corpus sizes; a crash
# leaves its reproducer in <build>/fuzz/artifacts/<target>/ and makes the
# script exit non-zero after the other targets ran.
#
#   FUZZ_MINUTES=3 scripts/fuzz_long.sh [target ...]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-${TARVI_BUILD:-$root/build}/fuzz}
minutes=${FUZZ_MINUTES:-10}
keep=${FUZZ_KEEP:-1}
keep_bytes=${FUZZ_KEEP_BYTES:-1024}
keep_files=${FUZZ_KEEP_FILES:-12}
corpus=${FUZZ_CORPUS:-$root/tests/fuzz/corpus}
jobs=${FUZZ_BUILD_JOBS:-2}

if ! command -v clang++ >/dev/null; then
  echo "fuzz_long: clang++ is missing (apt-get install -y clang libclang-rt-14-dev)" >&2
  exit 2
fi

if [ "${FUZZ_BUILD:-1}" = 1 ]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DTARVI_FUZZ=ON -DTARVI_TESTS=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi

if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for src in "$root"/tests/fuzz/*.cpp; do
    targets+=("$(basename "$src" .cpp)")
  done
fi
[ "${FUZZ_BUILD:-1}" = 1 ] && cmake --build "$build" -j"$jobs" --target "${targets[@]}"

count() { find "$1" -type f | wc -l; }

status=0
printf '%-24s %8s %12s %8s %8s %8s %s\n' target seconds executions cov kept work result
for t in "${targets[@]}"; do
  kept=$corpus/$t
  work=$build/long-corpus/$t
  artifacts=$build/artifacts/$t
  log=$build/$t.long.log
  mkdir -p "$kept" "$work" "$artifacts"
  if [ ! -x "$build/$t" ]; then
    printf '%-24s %s\n' "$t" "not built"
    status=1
    continue
  fi
  start=$(date +%s)
  result=ok
  # New inputs go to the working corpus (the first directory).
  if ! "$build/$t" -max_total_time=$((minutes * 60)) -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
       -print_final_stats=1 -artifact_prefix="$artifacts/" "$work" "$kept" >"$log" 2>&1; then
    result="CRASH: see $log and $artifacts/"
    status=1
  fi
  seconds=$(( $(date +%s) - start ))
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1 || true)
  cov=$( (grep -oE 'cov: [0-9]+' "$log" || true) | tail -1 | cut -d' ' -f2)
  if [ "$keep" = 1 ] && [ "$result" = ok ]; then
    # The inputs that cover something the kept corpus does not, found by a
    # merge into a copy of it; of those the smallest few are kept.
    merged=$(mktemp -d)
    small=$(mktemp -d)
    cp -r "$kept"/. "$merged"/
    find "$work" -type f -size -"$((keep_bytes + 1))"c -exec cp {} "$small"/ \;
    "$build/$t" -merge=1 -timeout=10 -rss_limit_mb=2048 "$merged" "$small" >"$build/$t.merge.log" 2>&1 || true
    added=0
    for f in $(ls -S -r "$merged"); do
      [ -e "$kept/$f" ] && continue
      [ "$added" -ge "$keep_files" ] && break
      cp "$merged/$f" "$kept/$f"
      added=$((added + 1))
    done
    rm -rf "$merged" "$small"
  fi
  printf '%-24s %8s %12s %8s %8s %8s %s\n' "$t" "$seconds" "${execs:-?}" "${cov:-?}" \
    "$(count "$kept")" "$(count "$work")" "$result"
done
echo "kept corpus: $(du -sh --apparent-size "$corpus" | cut -f1)"
exit $status
