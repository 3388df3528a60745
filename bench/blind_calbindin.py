#!/usr/bin/python3
# A blind set from the public calbindin D9k PCS data (Er, Tb, Yb in calcium site II): residue
# numbers become shuffled hidden labels, the truth goes to truth.txt, the published tensors (fitted
# with the known assignment) to oracle/ for a benchmark's ceiling only. The data stay in
# /work/shared; only the output directory receives the tables.
#
#   bench/blind_calbindin.py [--data DIR] [--seed N] OUTDIR
import argparse
import os
import shutil

import numpy as np

DATA = "/work/shared/data/calbindin"
# Profile order, and the file of each metal (only Er's file carries errors)
METALS = (("Er", "calbindin_Er_HN_PCS_errors.npc"), ("Tb", "calbindin_Tb_HN_PCS.npc"),
          ("Yb", "calbindin_Yb_HN_PCS.npc"))
SITE = "A:77:CA"  # the metal replaces calcium 77 of chain A (HETATM CA in 4icbH_mut.pdb)


def read_npc(path):
    """`residue atom value error` lines as [(residue, atom, value text, error text)]."""
    rows = []
    with open(path) as f:
        for n, line in enumerate(f, 1):
            fields = line.split()
            if not fields or fields[0].startswith("#"):
                continue
            if len(fields) != 4:
                raise SystemExit("blind_calbindin.py: %s:%d: expected 4 fields" % (path, n))
            float(fields[2]), float(fields[3])  # refuse a malformed number here, not downstream
            rows.append((int(fields[0]), fields[1], fields[2], fields[3]))
    return rows


def main(argv=None):
    ap = argparse.ArgumentParser(description="Blind calbindin PCS set with hidden labels.")
    ap.add_argument("out")
    ap.add_argument("--data", default=DATA)
    ap.add_argument("--seed", type=int, default=1)
    args = ap.parse_args(argv)
    rng = np.random.default_rng(args.seed)

    tables = [read_npc(os.path.join(args.data, f)) for _, f in METALS]
    residues = sorted({r[0] for t in tables for r in t})
    # one label per residue across all three tables, numbered in a shuffled order
    width = max(3, len(str(len(residues))))
    label = {res: "p%0*d" % (width, n + 1)
             for n, res in enumerate(residues[i] for i in rng.permutation(len(residues)))}

    os.makedirs(os.path.join(args.out, "oracle"), exist_ok=True)
    for k, ((name, _), rows) in enumerate(zip(METALS, tables), 1):
        with open(os.path.join(args.out, "pcs_%d.txt" % k), "w") as f:
            for res, atom, value, err in sorted(rows, key=lambda r: (label[r[0]], r[1])):
                # a zero error is "not given", never made up
                f.write("%s %s %s %s\n" % (label[res], atom, value, err if float(err) > 0 else "0"))
        tensor = os.path.join(args.data, "calbindin_%s_HN_PCS_tensor.txt" % name)
        if os.path.exists(tensor):
            shutil.copyfile(tensor, os.path.join(args.out, "oracle", "tensor_%d.txt" % k))
    with open(os.path.join(args.out, "metals.txt"), "w") as f:
        for name, _ in METALS:
            f.write("%s %s\n" % (SITE, name))
    with open(os.path.join(args.out, "structure.txt"), "w") as f:
        f.write("%s A\n" % os.path.abspath(os.path.join(args.data, "4icbH_mut.pdb")))
    with open(os.path.join(args.out, "truth.txt"), "w") as f:
        for res in sorted(residues, key=lambda r: label[r]):
            f.write("%s A:%d N\n" % (label[res], res))
    print("%s: %d amide peaks (0 extra), %s values for %s on %s" % (
        args.out, len(residues), "/".join(str(len({r[0] for r in t})) for t in tables),
        "/".join(m for m, _ in METALS), SITE))


if __name__ == "__main__":
    main()
