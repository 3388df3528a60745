#!/usr/bin/python3
# The truth by peak id, for bench/score_table.py: an import's map (peak_id, label, ...) and a
# generator's truth.txt (label CHAIN:RESIDUE ...) give "peak_id residue_number" lines, -1 for a
# peak that is no residue's.
#   bench/truth_ids.py MAP TRUTH OUT
import sys

mapfile, truthfile, out = sys.argv[1:4]
truth = {l.split()[0]: l.split()[1] for l in open(truthfile) if l.strip()}
with open(out, "w") as o:
    for line in open(mapfile).readlines()[1:]:
        f = line.split("\t")
        r = truth.get(f[1].strip(), "-")
        o.write("%s %s\n" % (f[0], r.split(":")[1] if ":" in r else "-1"))
