#!/usr/bin/env bash
# Times whole runs over a sweep of sizes (maxres 100..800 x profiles 1, 5,
# 20) against the straightforward build (see bench/ratio.sh), the time per
# phase, and the share of steps whose exact energies the walk needed; with
# --callgrind, the instruction count at full size. Inputs are generated with
# a fixed seed. Whole runs alternate with the straightforward build's, both
# outputs thrown away; medians of 5. Needs no hyperfine. Prints Markdown.
# Usage: bench/sweep.sh [--callgrind] [BINARY]
set -euo pipefail
cd "$(dirname "$0")/.."
cg=0
if [ "${1:-}" = --callgrind ]; then cg=1; shift; fi
bin=${1:-build/preassign}
phases=build/bench/phases
[ -x "$bin" ] && [ -x "$phases" ] || { echo "build first: make build" >&2; exit 1; }
plain=${PLAIN_DIR:-/tmp/preassign-straightforward}
bash bench/ratio.sh 1 >/dev/null  # builds the straightforward one once
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "| maxres | profiles | whole run (median) | share of straightforward | steps/s | input | search | reports | exact steps |"
echo "|---|---|---|---|---|---|---|---|---|"
for n in 100 200 400 800; do
  for np in 1 5 20; do
    python3 examples/make_example.py "$work/sim.txt" "$work/obs.txt" "$n" "$np" 11
    read -r med ratio < <(python3 - "$bin" "$plain/build/preassign" "$work/sim.txt" "$work/obs.txt" <<'PY'
import statistics, subprocess, sys, time
new, old, sim, obs = sys.argv[1:5]
def once(b):
    t = time.perf_counter()
    subprocess.run([b, sim, obs], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    return time.perf_counter() - t
n, r = [], []
for _ in range(5):
    a, b = once(new), once(old)
    n.append(a)
    r.append(a / b)
print(statistics.median(n), statistics.median(r))
PY
)
    out=$($phases "$work/sim.txt" "$work/obs.txt" 3)
    field() { awk -v k="$1" '$1 == k {print $2}' <<<"$out"; }
    exact=$(awk '$1 == "exact" {print $6}' <<<"$out" | tr -d '(')
    python3 -c "print('| $n | $np | %.0f ms | %.3f | %.1f M | $(field input) ms | $(field search) ms | $(field reports) ms | $exact %% |' % ($med*1000, $ratio, 7224605/$med/1e6))"
  done
done
if [ $cg = 1 ]; then
  python3 examples/make_example.py "$work/sim.txt" "$work/obs.txt" 800 20 11
  valgrind --tool=callgrind --callgrind-out-file="$work/cg.out" "$bin" "$work/sim.txt" "$work/obs.txt" >/dev/null 2>&1
  echo
  echo "instructions at 800 x 20: $(grep '^totals:' "$work/cg.out" | awk '{print $2}')"
fi
/usr/bin/time -f "peak memory at 800 x 20: %M KB" "$bin" tests/golden/full_size/sim.txt tests/golden/full_size/obs.txt >/dev/null 2>"$work/err"
tail -n 1 "$work/err"
