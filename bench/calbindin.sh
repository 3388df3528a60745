#!/bin/bash
# Lanthanide tensors on public data: calbindin D9k with Er, Tb and Yb in calcium site II (read from
# ../shared/data/calbindin; see its SOURCE.txt). Prints three tables:
#  1. shifts and metal PREs predicted from the published tensors against the measured ones;
#  2. tensors fitted with the known assignment (place kept at the calcium, or fitted), against the
#     published ones;
#  3. the assignment with the peaks shuffled and hidden: tensors fitted blind, then --shifts
#     --posterior; the published tensors as the ceiling.
#   bench/calbindin.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
B=${1:-$here/../build}/preassign
D=${DATA:-$here/../../shared/data/calbindin}
PY=/usr/bin/python3
W=$(mktemp -d)
trap 'rm -rf "$W"' EXIT
S=$D/4icbH_mut.pdb
T=(--tensor $D/calbindin_Er_HN_PCS_tensor.txt --tensor $D/calbindin_Tb_HN_PCS_tensor.txt --tensor $D/calbindin_Yb_HN_PCS_tensor.txt)
M=(--metal A:77:CA --metal A:77:CA --metal A:77:CA)

# 1. From the published tensors.
$B predict $S --nuclei amide "${T[@]}" -o $W/given.sim 2>/dev/null
$B predict $S --nuclei amide --tensor $D/calbindin_Er_HN_PCS_tensor.txt --metal-pre --field 600 -o $W/er.pre 2>/dev/null
$B predict $S --nuclei amide --tensor $D/calbindin_Tb_HN_PCS_tensor.txt --metal-pre --field 800 -o $W/tb.pre 2>/dev/null
$PY - "$D" "$W" <<'PY'
import sys, numpy as np
D, W = sys.argv[1:]
def profiles(path):
    out, cur, last = [], {}, None
    for l in open(path):
        r = l.split()
        n = int(r[0])
        if last is not None and n <= last:
            out.append(cur); cur = {}
        cur[n] = float(r[1]); last = n
    out.append(cur)
    return out
sim = profiles(W + "/given.sim")
print("| metal | values | Q from the published tensor |")
print("|---|---|---|")
for k, (m, f) in enumerate((("Er", "calbindin_Er_HN_PCS_errors.npc"), ("Tb", "calbindin_Tb_HN_PCS.npc"), ("Yb", "calbindin_Yb_HN_PCS.npc"))):
    e, c = [], []
    for l in open(D + "/" + f):
        r = l.split()
        p = sim[2 * k + (r[1] != "H")]
        if int(r[0]) in p:
            e.append(float(r[2])); c.append(p[int(r[0])])
    e, c = np.array(e), np.array(c)
    print("| %s | %d | %.4f |" % (m, len(e), np.sqrt(np.mean((e - c) ** 2)) / np.sqrt(np.mean(e ** 2))))
print()
print("| metal PRE | values | median measured / predicted | correlation |")
print("|---|---|---|---|")
for m, f, p in (("Er, 600 MHz", "calbindin_Er_H_R2_600.pre", "er.pre"), ("Tb, 800 MHz", "calbindin_Tb_H_R2_800.pre", "tb.pre")):
    pr = profiles(W + "/" + p)[0]
    x, y = [], []
    for l in open(D + "/" + f):
        r = l.split()
        if int(r[0]) in pr:
            x.append(float(r[2])); y.append(pr[int(r[0])])
    x, y = np.array(x), np.array(y)
    print("| %s | %d | %.2f | %.2f |" % (m, len(x), np.median(x / y), np.corrcoef(x, y)[0, 1]))
print()
PY

# 2. Fitted with the known assignment: an experimental file whose ids are residue numbers.
$PY - "$D" "$W" <<'PY'
import sys
D, W = sys.argv[1:]
files = ("calbindin_Er_HN_PCS_errors.npc", "calbindin_Tb_HN_PCS.npc", "calbindin_Yb_HN_PCS.npc")
val, res = {}, set()
for k, f in enumerate(files):
    for l in open(D + "/" + f):
        r = l.split()
        val[(k, int(r[0]), r[1])] = (r[2], r[3]); res.add(int(r[0]))
with open(W + "/assigned.obs", "w") as o:
    for k in range(3):
        for atom in "HN":
            for n in sorted(res):
                v = val.get((k, n, atom))
                o.write("%d %s %s 120 8\n" % (n, v[0] if v else "-999", v[1] if v else "0"))
PY
tensor_diff() {  # fitted prefix -> one table row per metal
    $PY - "$D" "$1" "$2" <<'PY'
import sys, numpy as np
D, pre, how = sys.argv[1:]
def rd(f):
    return {l.split("|")[0].strip(): float(l.split(":")[-1]) for l in open(f)}
def chi(d):
    a, b, g = np.radians([d["a"], d["b"], d["g"]])
    z = lambda t: np.array([[np.cos(t), -np.sin(t), 0], [np.sin(t), np.cos(t), 0], [0, 0, 1]])
    y = lambda t: np.array([[np.cos(t), 0, np.sin(t)], [0, 1, 0], [-np.sin(t), 0, np.cos(t)]])
    r = z(a) @ y(b) @ z(g)
    return r @ np.diag([-d["ax"] / 3 + d["rh"] / 2, -d["ax"] / 3 - d["rh"] / 2, 2 * d["ax"] / 3]) @ r.T
for i, m in enumerate(("Er", "Tb", "Yb")):
    g, f = rd("%s/calbindin_%s_HN_PCS_tensor.txt" % (D, m)), rd("%s%d.txt" % (pre, i + 1))
    print("| %s | %s | %.3f | %.2f |" % (m, how, np.linalg.norm(chi(f) - chi(g)) / np.linalg.norm(chi(g)),
                                       np.linalg.norm([f[k] - g[k] for k in "xyz"])), end="")
    print()
PY
}
echo "| metal | place | tensor off (norm of the difference / norm) | place off (A) | Q |"
echo "|---|---|---|---|---|"
for how in kept fitted apart; do
    # apart: Yb given as a point (the calcium's), so placed on its own
    places=("${M[@]}"); [ $how = apart ] && places=(--metal A:77:CA --metal A:77:CA --metal 25.786,9.515,6.558)
    extra=(); [ $how != kept ] && extra=(--fit-places)
    $B predict $S --nuclei amide "${places[@]}" --fit-tensors $W/assigned.obs --assigned "${extra[@]}" \
        --write-tensors $W/$how. -o /dev/null 2>$W/$how.err
    label="fitted from the calcium"; [ $how = kept ] && label="kept at the calcium"
    [ $how = apart ] && label="fitted, Yb's apart"
    paste -d" " <(tensor_diff $W/$how. "$label") <(grep -o "Q [0-9.]*" $W/$how.err | awk '{print $2 " |"}')
done
echo

# 3. Blind: shuffled, hidden labels.
$PY $here/blind_calbindin.py --seed ${SEED:-1} $W/blind >/dev/null
$B import --pcs $W/blind/pcs_1.txt --pcs $W/blind/pcs_2.txt --pcs $W/blind/pcs_3.txt -o $W/obs.txt --map $W/obs.map 2>/dev/null
$PY $here/truth_ids.py $W/obs.map $W/blind/truth.txt $W/truth.ids
echo "| tensors | peaks | choice right | peaks at >= 0.9 | right of those | calibration error | fit (s) |"
echo "|---|---|---|---|---|---|---|"
row() {  # label, then predict's metal arguments
    local label=$1; shift
    local t0=$(date +%s.%N)
    if $B predict $S --nuclei amide "$@" -o $W/p.sim 2>$W/p.err; then
        local t1=$(date +%s.%N)
        $B --shifts --posterior -q --table $W/p.tsv $W/p.sim $W/obs.txt >/dev/null 2>&1
        echo "$($PY $here/score_table.py $W/p.tsv $W/truth.ids "$label" | sed 's/ |$//') | $(echo "$t1 - $t0" | bc -l | xargs printf '%.1f') |"
    else
        echo "| $label | no fit claimed ($(sed -n 's/.*(costs \([0-9]*\) and \([0-9]*\)).*/the runner-up at cost \2 against \1/p; s/.*leaves a cost of \([0-9.]*\) per.*/a cost of \1 per value/p' $W/p.err)) | | | | | |"
    fi
}
row "published (ceiling)" "${T[@]}"
row "fitted blind, place at the calcium" "${M[@]}" --fit-tensors $W/obs.txt
row "fitted blind, place fitted from the calcium" "${M[@]}" --fit-tensors $W/obs.txt --fit-places
off="27.5,11.2,7.8"  # 2.7 A from the calcium
row "fitted blind, place fitted from 2.7 A off" --metal $off --metal $off --metal $off --fit-tensors $W/obs.txt --fit-places
