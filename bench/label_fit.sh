#!/usr/bin/env bash
# The label fit on truth-known data: ratios made from the public ACBP
# structure (read from ../shared/data/acbp, never copied here) with each
# spin label put 5 to 8 A from its CB in a random direction
# (bench/make_labelled.py), for amide H and for methyls, at three noise
# levels, 7 % of values missing. Each set is assigned four ways: with the
# static pseudo-atom, with the fitted labels (predict --fit-labels), with
# the posterior averaged over draws of them (predict --draws, --posterior
# --draws), and with the true labels (the ceiling). Prints, pooled over
# twelve sets per row, peaks measured, right (by residue: the truth does not
# say which of a residue's two methyls), at >= 0.9 and right of those, and
# the calibration error, for each way.
#
# Usage: bench/label_fit.sh [BUILD_DIR] [DATA_DIR]
# (KINDS="amide methyl", NOISES="0.03 0.05 0.10", SEEDS="1 ... 12" and FIT_ARGS
# narrow or vary a run; ENSEMBLE=3 makes each true label three weighted points;
# STRUCTURE, SITES="A:40 A:120 ..." and CHAIN take another structure.)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
data=${2:-$here/../../shared/data/acbp}
bin=$build/preassign
pdb=${STRUCTURE:-$data/1nti.pdb}
[ -f "$pdb" ] || { echo "label_fit.sh: no $pdb" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
read -r -a sites <<<"${SITES:-A:17 A:36 A:46 A:65 A:86}"
chain=()
[ -n "${CHAIN:-}" ] && chain=(--chain "$CHAIN")
site_args=()
for s in "${sites[@]}"; do site_args+=(--site "$s"); done

score() {  # SIM OBS TRUTH PAIRS [ARGS]: "peaks right sure sure_right"; "right p" lines added to PAIRS
  "$bin" -q --posterior --table "$work/t.tsv" "${@:5}" "$1" "$2" >/dev/null 2>&1
  python3 - "$work/t.tsv" "$2" "$3" "$4" <<'EOF'
import sys
table, obs, truthf, pairsf = sys.argv[1:]
pairs = open(pairsf, "a")
truth = {l.split()[0]: l.split()[1] for l in open(truthf)}
label = {}
for l in open(obs + ".map").read().split("\n")[1:]:
    if l.strip():
        f = l.split("\t")
        label[f[0]] = f[1]
measured = {l.split()[0] for l in open(obs) if float(l.split()[1]) != -999}
rows = [l.rstrip("\n").split("\t") for l in open(table)]
col = {c: i for i, c in enumerate(rows[0])}
n = right = sure = sure_right = 0
for r in rows[1:]:
    pid = r[col["peak_id"]]
    if pid not in measured:
        continue
    ok = r[col["posterior_residue_number"]] == truth[label[pid]]
    p = float(r[col["posterior_probability"]] or 0)
    # The truth names residues, not which of a residue's two methyls: the
    # residue's probability is both entries', where they come first and second.
    if r[col["posterior_runner_up_residue_number"]] == r[col["posterior_residue_number"]] != "":
        p += float(r[col["posterior_runner_up_probability"]] or 0)
    pairs.write("%d %r\n" % (ok, p))
    n, right, sure, sure_right = n + 1, right + ok, sure + (p >= 0.9), sure_right + (ok and p >= 0.9)
print(n, right, sure, sure_right)
EOF
}

# The expected calibration error over ten bins of the stated probability.
ece() {
  python3 - "$1" <<'EOF'
import sys
pairs = [(int(a), float(b)) for a, b in (l.split() for l in open(sys.argv[1]))]
err = 0.0
for b in range(10):
    inside = [(ok, p) for ok, p in pairs if b / 10 <= p < (b + 1) / 10 or (b == 9 and p == 1.0)]
    if inside:
        err += len(inside) / len(pairs) * abs(sum(o for o, _ in inside) / len(inside) - sum(p for _, p in inside) / len(inside))
print("%.3f" % err)
EOF
}

echo "| nuclei | ratio noise | peaks | static: right, at >= 0.9 (right), cal. error | fitted | fitted, over draws | true labels |"
echo "|---|---|---|---|---|---|---|"
for kind in ${KINDS:-amide methyl}; do
  if [ "$kind" = amide ]; then nuclei=(--nuclei amide); gen=(--nuclei amide); else
    nuclei=(--nuclei methyl --untyped --methyl each); gen=(--nuclei methyl --untyped --each); fi
  for noise in ${NOISES:-0.03 0.05 0.10}; do
    declare -A tot=()
    for seed in ${SEEDS:-1 2 3 4 5 6 7 8 9 10 11 12}; do
      set_dir="$work/$kind-$noise-$seed"
      python3 "$here/make_labelled.py" "$pdb" "$set_dir" --sites "$(IFS=,; echo "${sites[*]}")" \
        "${gen[@]}" "${chain[@]}" --noise "$noise" --missing 0.07 --seed "$seed" --ensemble "${ENSEMBLE:-1}"
      ratio_args=()
      for s in "${sites[@]}"; do ratio_args+=(--ratios "$set_dir/ratios_${s/:/}.dat"); done
      "$bin" import "${ratio_args[@]}" --r2 12.6 --delay 0.010 --noise "$noise" -o "$set_dir/obs.txt" 2>/dev/null
      common=("$pdb" "${nuclei[@]}" "${chain[@]}" "${site_args[@]}" --tau-c 2 --field 750)
      "$bin" predict "${common[@]}" -o "$set_dir/static.txt" 2>/dev/null
      "$bin" predict "${common[@]}" --fit-labels "$set_dir/obs.txt" ${FIT_ARGS:-} --draws "$set_dir/draws.txt" \
        -o "$set_dir/fit.txt" 2>/dev/null
      cp "$set_dir/fit.txt" "$set_dir/drawn.txt"
      for way in static fit drawn truth_sim; do
        extra=()
        [ "$way" = drawn ] && extra=(--draws "$set_dir/draws.txt")
        read -r n r s sr <<<"$(score "$set_dir/$way.txt" "$set_dir/obs.txt" "$set_dir/truth.txt" "$work/$way.pairs" "${extra[@]}")"
        tot[$way.n]=$(( ${tot[$way.n]:-0} + n )); tot[$way.r]=$(( ${tot[$way.r]:-0} + r ))
        tot[$way.s]=$(( ${tot[$way.s]:-0} + s )); tot[$way.sr]=$(( ${tot[$way.sr]:-0} + sr ))
      done
    done
    cell() { echo "${tot[$1.r]}, ${tot[$1.s]} (${tot[$1.sr]}), $(ece "$work/$1.pairs")"; }
    echo "| $kind | $noise | ${tot[static.n]} | $(cell static) | $(cell fit) | $(cell drawn) | $(cell truth_sim) |"
    unset tot
    rm -f "$work"/*.pairs
  done
done
