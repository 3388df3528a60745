#!/usr/bin/env bash
# The whole run's time as a share of the straightforward build's: the first
# complete program (commit a8617d8, plain loops over the tables, rand(),
# floor, one 1.0 per sample and peak), built from this repository's history
# beside the current one. Runs alternate, one of each per pair; prints the
# median of the pairs' ratios and of each build's times.
# Usage: bench/ratio.sh [PAIRS] [SIM OBS]   (default 7 pairs, the full-size case)
set -euo pipefail
cd "$(dirname "$0")/.."
pairs=${1:-7}
sim=${2:-tests/golden/full_size/sim.txt}
obs=${3:-tests/golden/full_size/obs.txt}
bin=build/preassign
[ -x "$bin" ] || { echo "build first: make build" >&2; exit 1; }
plain=${PLAIN_DIR:-/tmp/preassign-straightforward}
if [ ! -x "$plain/build/preassign" ]; then
  rm -rf "$plain" && mkdir -p "$plain"
  git archive a8617d8 | tar -x -C "$plain"
  cmake -S "$plain" -B "$plain/build" -DCMAKE_BUILD_TYPE=Release -DPREASSIGN_TESTS=OFF >/dev/null
  cmake --build "$plain/build" -j "$(nproc)" --target preassign >/dev/null
fi
cmp -s <("$bin" "$sim" "$obs" 2>&1) <("$plain/build/preassign" "$sim" "$obs" 2>&1) ||
  { echo "the two builds' outputs differ" >&2; exit 1; }
python3 - "$pairs" "$bin" "$plain/build/preassign" "$sim" "$obs" <<'PY'
import statistics, subprocess, sys, time
pairs, new, old, sim, obs = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5]
def once(b):
    t = time.perf_counter()
    subprocess.run([b, sim, obs], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    return time.perf_counter() - t
once(new); once(old)
n, o = [], []
for _ in range(pairs):
    n.append(once(new)); o.append(once(old))
r = [a / b for a, b in zip(n, o)]
print("ratio %.3f (median of %d pairs; this build %.0f ms, straightforward %.0f ms)"
      % (statistics.median(r), pairs, 1000 * statistics.median(n), 1000 * statistics.median(o)))
PY
