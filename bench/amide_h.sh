#!/usr/bin/env bash
# Amide H placed by ideal geometry, measured on the public NMR ensemble 1NTI
# (read from ../shared/data/acbp, never copied here): every hydrogen
# stripped and the amide H placed again, against the ensemble's own H; then
# the amide PREs predicted from the stripped file against those from the
# file as it is.
#
# Usage: bench/amide_h.sh [BUILD_DIR] [PDB]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
pdb=${2:-$here/../../shared/data/acbp/1nti.pdb}
cmake --build "$build" --target amide_h preassign -j2 >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "positions: $pdb, hydrogens stripped and amide H placed again"
status=0
"$build/bench/amide_h" "$pdb" || status=$?

# The same file without hydrogens (element column H), as an X-ray structure has it.
awk '!(/^(ATOM|HETATM)/ && substr($0, 77, 2) == " H")' "$pdb" > "$work/bare.pdb"
echo "PREs at 750 MHz, tau_c 2 ns, pseudo-atom label, per site: rms and largest relative difference, placed H against the ensemble's"
for site in 17 36 46 65 86; do
    "$build/preassign" predict "$pdb" --nuclei amide --site A:$site --field 750 --tau-c 2 -o "$work/own.txt" 2>/dev/null
    "$build/preassign" predict "$work/bare.pdb" --nuclei amide --site A:$site --field 750 --tau-c 2 \
        -o "$work/placed.txt" 2>/dev/null
    paste "$work/own.txt" "$work/placed.txt" | awk -v s=$site '
        $1 != $4 { print "residues differ: " $1 " " $4; exit 1 }
        { d = ($5 - $2) / $2; q += d * d; if (d < 0) d = -d; if (d > m) m = d }
        END { printf "  site %s: %d amide H, rms %.4f, largest %.4f\n", s, NR, sqrt(q / NR), m }'
done
exit $status
