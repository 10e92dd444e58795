#!/usr/bin/env bash
# Builds both programs and runs the monitor on a local demo mailbox.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
export TARVI_BUILD="${TARVI_BUILD:-$root/build}"
cd "$root"
bash scripts/prereqs.sh
bash scripts/build.sh
bash scripts/wineprefix.sh "$TARVI_BUILD/wine-template"
exec /usr/bin/python3 scripts/demo.py
