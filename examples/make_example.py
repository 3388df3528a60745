#!/usr/bin/env python3
"""Writes the bundled example pair: four spin-label sites, 30 methyl residues.

Predicted PREs fall off as 1/r^6 with the distance from each label; the
measured ones are the same with noise, listed in peak order, which is a
shuffle of the residue order. Fixed seed: the output is kept in the repo.
Usage: make_example.py SIM_OUT OBS_OUT [NRES] [NSITES] [SEED]
"""
import math
import random
import sys


def main():
    sim_out, obs_out = sys.argv[1], sys.argv[2]
    nres = int(sys.argv[3]) if len(sys.argv) > 3 else 30
    nsites = int(sys.argv[4]) if len(sys.argv) > 4 else 4
    rng = random.Random(int(sys.argv[5]) if len(sys.argv) > 5 else 7)

    # Residues along the chain with a type: 1 Leu, 2 Val, 0 untyped (Ile, Met...).
    resnum, restype, pos = [], [], []
    n = 3
    for _ in range(nres):
        n += rng.randint(1, 9)
        resnum.append(n)
        restype.append(rng.choice([1, 1, 2, 2, 0]))
        pos.append([rng.uniform(-18, 18) for _ in range(3)])
    sites = [[rng.uniform(-20, 20) for _ in range(3)] for _ in range(nsites)]

    def pre(site, p):
        r = max(math.dist(site, p), 6.0)
        return 4.0e8 / r ** 6  # s^-1; about 150 at 12 A, below 1 beyond 30 A

    # Peak k is residue truth[k]: the spectrum's order has nothing to do with the chain's.
    truth = list(range(nres))
    rng.shuffle(truth)

    with open(sim_out, "w") as f:
        for s in sites:
            for i in range(nres):
                f.write("%d %.2f %d\n" % (resnum[i], pre(s, pos[i]), restype[i]))

    shift = []
    for k in range(nres):
        t = restype[truth[k]]
        c13 = {1: 24.5, 2: 21.5, 0: 23.0}[t] + rng.gauss(0, 0.6)
        shift.append((c13, 0.8 + rng.gauss(0, 0.15)))
    big = (rng.randrange(nsites), rng.randrange(nres))
    with open(obs_out, "w") as f:
        for si, s in enumerate(sites):
            for k in range(nres):
                v = pre(s, pos[truth[k]])
                v = max(v * (1 + rng.gauss(0, 0.1)) + rng.gauss(0, 1.0), 0.0)
                if rng.random() < 0.06 or v > 900:
                    v = -999  # peak overlapped, or broadened beyond detection
                if (si, k) == big:
                    v = 1250.0  # broadened beyond measurement
                err = 0.0 if v == -999 else 0.05 * v + 0.5
                f.write("%d %.2f %.2f %.2f %.3f\n" % (k + 1, v, err, shift[k][0], shift[k][1]))

    with open(obs_out + ".truth", "w") as f:
        f.write(" ".join(str(t) for t in truth) + "\n")


if __name__ == "__main__":
    main()
