#!/bin/bash
# Pseudocontact shifts on generated truth-known sets (bench/make_pcs.py: chain A of 2NWL, amides,
# tags of one or two lanthanides, 0.02 ppm noise, a tenth of the residues unseen, five extra peaks,
# nitroxide PRE ratios at two other sites). Per set: the posterior with the true tensors (the
# ceiling; the generator's oracle/, which the program never sees otherwise), with the true tensors
# and the PREs (--pcs), and with tensors fitted blind on the tags (--fit-tensors), or why none was
# claimed. Pooled rows at the end.
#   bench/pcs_sets.sh [BUILD_DIR]     env SEEDS="1 2", CONFIGS="2x1 2x2 3x2", STRUCTURE_NOISE=0.3 (A,
#                                     the nuclei moved from the structure's), FIT=0 (no blind fit)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
B=${1:-$here/../build}/preassign
PY=/usr/bin/python3
W=$(mktemp -d)
trap 'rm -rf "$W"' EXIT
echo "| set | tensors | peaks | choice right | peaks at >= 0.9 | right of those | calibration error |"
echo "|---|---|---|---|---|---|---|"
for config in ${CONFIGS:-2x1 2x2}; do
for seed in ${SEEDS:-1 2}; do
    S=$W/$config.$seed
    $PY $here/make_pcs.py $S --tags ${config%x*} --metals-per-tag ${config#*x} --noise 0.02 --missing 0.1 --extra 5 \
        --blind-radius 12 --pre 2 --seed $seed --structure-noise ${STRUCTURE_NOISE:-0} >/dev/null
    read STRUCT CHAIN < $S/structure.txt
    ratios=(); sites=()
    while read k site; do ratios+=(--ratios $S/ratios_$k.txt); sites+=(--site $site); done < $S/pre_sites.txt
    $B import "${ratios[@]}" --delay 0.01 --r2 20 -o $S/pre_obs.txt --map $S/pre.map 2>/dev/null
    pcs=(); metals=(); tensors=(); k=1
    while read site name; do
        pcs+=(--pcs $S/pcs_$k.txt); metals+=(--metal $site); tensors+=(--tensor $S/oracle/tensor_$k.txt); k=$((k + 1))
    done < $S/metals.txt
    $B import "${pcs[@]}" --ids $S/pre.map -o $S/obs.txt --map $S/obs.map 2>/dev/null
    $PY $here/truth_ids.py $S/obs.map $S/truth.txt $S/truth.ids
    $B predict $STRUCT --chain $CHAIN --nuclei amide "${tensors[@]}" -o $S/true.sim 2>/dev/null
    $B predict $STRUCT --chain $CHAIN --nuclei amide "${sites[@]}" -o $S/pre_sim.txt 2>/dev/null
    score() {  # label, table
        echo "| $config tags x metals, seed $seed |$($PY $here/score_table.py $2 $S/truth.ids "$1" \
            --keep "$W/pooled.$1" | sed 's/^|//')"
    }
    $B --shifts --posterior -q --table $S/true.tsv $S/true.sim $S/obs.txt >/dev/null 2>&1 && score "true tensors" $S/true.tsv
    $B --posterior -q --pcs $S/true.sim $S/obs.txt --table $S/both.tsv $S/pre_sim.txt $S/pre_obs.txt >/dev/null 2>&1 &&
        score "true tensors and PREs" $S/both.tsv
    if [ "${FIT:-1}" = 0 ]; then
        :
    elif $B predict $STRUCT --chain $CHAIN --nuclei amide "${metals[@]}" --fit-tensors $S/obs.txt -o $S/fit.sim 2>$S/fit.err; then
        $B --shifts --posterior -q --table $S/fit.tsv $S/fit.sim $S/obs.txt >/dev/null 2>&1 && score "fitted blind" $S/fit.tsv
    else
        echo "| $config tags x metals, seed $seed | fitted blind | no fit claimed: $(sed -n 's/.*(\(the metals at .*\)): nothing.*/\1/p; s/.*(\(the best fit leaves .*\)): nothing.*/\1/p' $S/fit.err) | | | | |"
    fi
done
done
for kind in "true tensors" "true tensors and PREs" "fitted blind"; do
    [ -s "$W/pooled.$kind" ] && echo "| pooled | $kind |$($PY $here/score_table.py --pooled "$W/pooled.$kind" x | sed 's/^| x |//')"
done
true
