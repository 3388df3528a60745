#!/usr/bin/env bash
# The whole path on public real data: amide PRE intensity ratios of ACBP at
# five spin-label sites and its NMR ensemble, read from ../shared/data/acbp
# (never copied here). The ratio tables are imported with the conditions
# their source states (750 MHz, t = 10 ms, R2,dia = 12.6 s^-1, tau_c 2 ns)
# and a ratio error of 0.05 (the tables give none; an assumption, stated),
# peaks in an order shuffled with a fixed seed (the truth kept aside), PREs
# predicted from 1NTI with each label model, and the posterior run on each.
# Prints, per label model: peaks with a measured ratio, those whose most
# probable residue is right, the peaks at >= 0.9 and how many of those are
# right, and the calibration error; then, for the fitted labels (one point
# per site, and up to three), each site's rms ratio error at the true
# assignment.
#
# Usage: bench/real_acbp.sh [BUILD_DIR] [DATA_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
data=${2:-$here/../../shared/data/acbp}
bin=$build/preassign
[ -f "$data/1nti.pdb" ] || { echo "real_acbp.sh: no $data/1nti.pdb" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sites=(17 36 46 65 86)

# The tables in one shuffled peak order (the first table's order gives the
# peak ids; the others are paired to it by label).
python3 - "$data" "$work" "${sites[@]}" <<'EOF'
import random, sys
data, work, sites = sys.argv[1], sys.argv[2], sys.argv[3:]
lines = {s: open("%s/exp%s.dat" % (data, s)).read().split("\n") for s in sites}
order = list(range(len([l for l in lines[sites[0]] if l.strip()])))
random.Random(2026).shuffle(order)
for s in sites:
    rows = [l for l in lines[s] if l.strip()]
    open("%s/exp%s.dat" % (work, s), "w").write("".join(rows[i] + "\n" for i in order))
EOF

ratio_args=()
for s in "${sites[@]}"; do ratio_args+=(--ratios "$work/exp$s.dat"); done
"$bin" import "${ratio_args[@]}" --r2 12.6 --delay 0.010 --noise 0.05 -o "$work/obs.txt" 2>/dev/null

site_args=()
for s in "${sites[@]}"; do site_args+=(--site "A:$s"); done
post_args=()  # more options for the posterior run
score() {  # LABEL_MODEL ARGS...
  local name=$1; shift
  "$bin" predict "$data/1nti.pdb" --nuclei amide "${site_args[@]}" --tau-c 2 --field 750 "$@" \
    -o "$work/sim.txt" 2>/dev/null
  "$bin" -q --posterior "${post_args[@]}" --table "$work/t.tsv" "$work/sim.txt" "$work/obs.txt" >/dev/null 2>"$work/err.txt"
  python3 - "$work" "$name" <<'EOF'
import sys
work, name = sys.argv[1], sys.argv[2]
truth = {}
for line in open(work + "/obs.txt.map").read().split("\n")[1:]:
    if line.strip():
        f = line.split("\t")
        truth[f[0]] = f[1]  # the table's first column: the residue number
measured = set()
for line in open(work + "/obs.txt"):
    f = line.split()
    if float(f[1]) != -999:
        measured.add(f[0])
rows = [l.rstrip("\n").split("\t") for l in open(work + "/t.tsv")]
col = {c: i for i, c in enumerate(rows[0])}
pairs = []
for r in rows[1:]:
    pid = r[col["peak_id"]]
    if pid not in measured:
        continue
    p = r[col["posterior_probability"]]
    pairs.append((r[col["posterior_residue_number"]] == truth[pid], float(p) if p else 0.0))
right = sum(ok for ok, _ in pairs)
sure = [ok for ok, p in pairs if p >= 0.9]
ece = 0.0
for b in range(10):
    inside = [(ok, p) for ok, p in pairs if b / 10 <= p < (b + 1) / 10 or (b == 9 and p == 1.0)]
    if inside:
        ece += len(inside) / len(pairs) * abs(sum(ok for ok, _ in inside) / len(inside) - sum(p for _, p in inside) / len(inside))
line = open(work + "/t.tsv").read()
print("| %s | %d | %d | %d | %d | %.3f |" % (name, len(pairs), right, len(sure), sum(sure), ece))
EOF
}

echo "| label model | peaks measured | choice right | peaks at >= 0.9 | right of those | calibration error |"
echo "|---|---|---|---|---|---|"
score "pseudo-atom, 6 A from CA" --label pseudo
score "pseudo-atom, 8 A from CA" --label pseudo --label-distance 8
score "cloud, 6 A reach from CB" --label cloud
score "fitted to these data (--fit-labels)" --fit-labels "$work/obs.txt"
cp "$work/sim.txt" "$work/points.txt"
post_args=(--draws "$work/draws.txt")
score "fitted, the posterior averaged over draws of the labels (--draws)" --fit-labels "$work/obs.txt" \
  --draws "$work/draws.txt"
post_args=()
score "fitted, up to three points per label (--points 3)" --fit-labels "$work/obs.txt" --points 3
cp "$work/sim.txt" "$work/ensembles.txt"

# How well each fitted label foretells its own ratios at the true
# assignment: the rms of measured minus predicted ratio per site.
echo
echo "| site | rms ratio error, one point per label | up to three points |"
echo "|---|---|---|"
python3 - "$data" "$work" "${sites[@]}" <<'EOF'
import math, sys
data, work, sites = sys.argv[1], sys.argv[2], sys.argv[3:]
def profiles(path):
    out, cur, prev = [], {}, None
    for line in open(path):
        r, g, _ = line.split()
        if prev is not None and int(r) < prev:
            out.append(cur)
            cur = {}
        cur[r], prev = float(g), int(r)
    return out + [cur]
fits = {name: profiles("%s/%s.txt" % (work, name)) for name in ("points", "ensembles")}
for k, s in enumerate(sites):
    row = []
    for name in ("points", "ensembles"):
        sq, n = 0.0, 0
        for line in open("%s/exp%s.dat" % (data, s)):
            f = line.split()
            if len(f) < 2 or f[1] == "nan" or f[0] not in fits[name][k]:
                continue
            g = fits[name][k][f[0]]
            pred = 12.6 * math.exp(-g * 0.010) / (12.6 + g)
            sq, n = sq + (float(f[1]) - pred) ** 2, n + 1
        row.append("%.3f" % math.sqrt(sq / n) if n else "-")
    print("| A:%s | %s | %s |" % (s, row[0], row[1]))
EOF
