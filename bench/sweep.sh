#!/usr/bin/env bash
# Times whole runs over a sweep of sizes (maxres 100..800 x profiles 1, 5, 20),
# the time per phase, and (with --callgrind) the instruction count at full
# size. Inputs are generated with a fixed seed. Prints a Markdown table.
# Usage: bench/sweep.sh [--callgrind] [BINARY]
set -euo pipefail
cd "$(dirname "$0")/.."
cg=0
if [ "${1:-}" = --callgrind ]; then cg=1; shift; fi
bin=${1:-build/preassign}
phases=build/bench/phases
[ -x "$bin" ] && [ -x "$phases" ] || { echo "build first: make build" >&2; exit 1; }
command -v hyperfine >/dev/null || apt-get install -y -qq hyperfine >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "| maxres | profiles | whole run (median) | steps/s | input | search | reports |"
echo "|---|---|---|---|---|---|---|"
for n in 100 200 400 800; do
  for np in 1 5 20; do
    python3 examples/make_example.py "$work/sim.txt" "$work/obs.txt" "$n" "$np" 11
    hyperfine -N -w 1 -r 5 --export-json "$work/h.json" \
      "$bin $work/sim.txt $work/obs.txt" --output=null >/dev/null 2>&1
    med=$(python3 -c "import json,statistics;print(statistics.median(json.load(open('$work/h.json'))['results'][0]['times']))")
    read -r input search _ reports < <($phases "$work/sim.txt" "$work/obs.txt" 3 | awk '{printf "%s ", $2} END {print ""}')
    python3 -c "print('| $n | $np | %.0f ms | %.1f M | $input ms | $search ms | $reports ms |' % ($med*1000, 7224605/$med/1e6))"
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
