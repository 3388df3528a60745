#!/usr/bin/env bash
# The label fit at scale: a generated 20-model structure of 900 residues
# (800 Leu/Val, scattered in a 60 A box, each model a 0.5 A jitter of the
# first), 20 sites, ratios made by bench/make_labelled.py at noise 0.05.
# Times `predict --fit-labels --draws` and the posterior over its draws RUNS
# times (default 3; quote the medians) and scores the result against the
# truth, beside the true labels'.
#
# Usage: bench/fit_time.sh [BUILD_DIR] [RUNS]   (FIT_ARGS: more options for the fit)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
runs=${2:-3}
bin=$build/preassign
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 - "$work/big.pdb" <<'PY'
import random, sys
rng = random.Random(5)
lines, coords = [], []
for m in range(20):
    lines.append("MODEL     %d" % (m + 1))
    serial = 1
    for i in range(1, 901):
        name = "ALA" if i % 9 == 0 else "LEU" if i % 2 else "VAL"
        if m == 0:
            coords.append([rng.uniform(-30, 30) for _ in range(3)])
        b = [c + rng.gauss(0, 0.5) for c in coords[i - 1]]
        atoms = [("N", [b[0] - 1.2, b[1] + 0.8, b[2]]), ("CA", b), ("C", [b[0] + 1.2, b[1] + 0.8, b[2]]),
                 ("CB", [b[0], b[1] - 1.5, b[2]])]
        if name == "LEU":
            atoms += [("CD1", [b[0] + 1, b[1] - 3, b[2]]), ("CD2", [b[0] - 1, b[1] - 3, b[2]])]
        if name == "VAL":
            atoms += [("CG1", [b[0] + 1, b[1] - 2.5, b[2]]), ("CG2", [b[0] - 1, b[1] - 2.5, b[2]])]
        for atom, p in atoms:
            lines.append("ATOM  %5d %-4s %3s A%4d    %8.3f%8.3f%8.3f  1.00  0.00           %s"
                         % (serial, " " + atom, name, i, p[0], p[1], p[2], atom[0]))
            serial += 1
    lines.append("ENDMDL")
open(sys.argv[1], "w").write("\n".join(lines) + "\n")
PY
sites=()
for i in $(seq 0 19); do sites+=("A:$((i * 45 + 10))"); done
python3 "$here/make_labelled.py" "$work/big.pdb" "$work/set" --sites "$(IFS=,; echo "${sites[*]}")" \
  --nuclei methyl --noise 0.05 --seed 4
ratio_args=() site_args=()
for s in "${sites[@]}"; do ratio_args+=(--ratios "$work/set/ratios_${s/:/}.dat"); site_args+=(--site "$s"); done
"$bin" import "${ratio_args[@]}" --r2 12.6 --delay 0.010 --noise 0.05 -o "$work/obs.txt" 2>/dev/null
for _ in $(seq "$runs"); do
  /usr/bin/time -f "fit: %e s, %M KB" "$bin" predict "$work/big.pdb" --nuclei methyl "${site_args[@]}" \
    --fit-labels "$work/obs.txt" ${FIT_ARGS:-} --draws "$work/draws.txt" -o "$work/fit.txt" 2>&1 | tail -1
  /usr/bin/time -f "posterior over the draws: %e s, %M KB" "$bin" -q --posterior --draws "$work/draws.txt" \
    "$work/fit.txt" "$work/obs.txt" 2>&1 >/dev/null | tail -1
done
for way in fit drawn set/truth_sim; do
  extra=()
  [ "$way" = drawn ] && extra=(--draws "$work/draws.txt") && cp "$work/fit.txt" "$work/drawn.txt"
  "$bin" -q --posterior "${extra[@]}" --table "$work/t.tsv" "$work/$way.txt" "$work/obs.txt" >/dev/null 2>&1
  python3 - "$work" "$way" <<'PY'
import sys
work, way = sys.argv[1:]
truth = {l.split()[0]: l.split()[1] for l in open(work + "/set/truth.txt")}
label = {}
for l in open(work + "/obs.txt.map").read().split("\n")[1:]:
    if l.strip():
        f = l.split("\t")
        label[f[0]] = f[1]
rows = [l.rstrip("\n").split("\t") for l in open(work + "/t.tsv")]
col = {c: i for i, c in enumerate(rows[0])}
n = right = sure = sure_right = 0
for r in rows[1:]:
    ok = r[col["posterior_residue_number"]] == truth[label[r[col["peak_id"]]]]
    p = float(r[col["posterior_probability"]] or 0)
    n, right, sure, sure_right = n + 1, right + ok, sure + (p >= 0.9), sure_right + (ok and p >= 0.9)
name = {"fit": "fitted", "drawn": "fitted, over draws"}.get(way, "true labels")
print("%s: %d peaks, %d right, %d at >= 0.9 (%d right)" % (name, n, right, sure, sure_right))
PY
done
