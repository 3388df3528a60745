#!/usr/bin/env python3
"""Writes a truth-known input pair with what real data has: predictions with
their own error, measurement noise, an error column a spectroscopist would
compute, unmeasured and broadened peaks, Leu/Val shift outliers and residues
that give no peak.

The protein: methyl carbons scattered in a globule of radius 20 A, spin
labels on its surface. True PREs fall off as 1/r^6. The predictions are the
true PREs times a log-normal factor (the structure's and the label's
error), with a spread of PRED_ERR (0.2 to 0.4 in real work). The measured
PRE is the true one plus noise that grows with it; the error column is
computed from the measured value alone (its true value is unknown to the
spectroscopist), at ERR_SCALE times the noise's real size. Peaks whose PRE
is too large to measure are written as 1500 (broadened beyond measurement),
and some peaks are missing in some profiles (overlap). A share of residues
gives no peak at all, so the experimental profiles are shorter. Fixed seeds.

Usage: make_realistic.py SIM_OUT OBS_OUT NRES NSITES SEED [PRED_ERR] [ERR_SCALE]
Writes OBS_OUT.truth: the true residue index (simulated entry) of each peak.
"""
import math
import random
import sys

# Methyl 13C shifts drawn for each methyl of a type, ppm: Leu d1/d2 and
# Val g1/g2 from their own means, a few outliers anywhere in the region,
# and residues of other types (Ile, Met, Ala, Thr) wherever they fall.
LEU = [(24.7, 1.6), (24.1, 1.8)]
VAL = [(21.5, 1.4), (21.3, 1.5)]
OUTLIER_SHARE = 0.03


def shift(rng, t):
    if t in (1, 2) and rng.random() >= OUTLIER_SHARE:
        mean, sd = rng.choice(LEU if t == 1 else VAL)
        return rng.gauss(mean, sd)
    return rng.uniform(12.0, 30.0)


def main():
    sim_out, obs_out = sys.argv[1], sys.argv[2]
    nres, nsites, seed = int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5])
    pred_err = float(sys.argv[6]) if len(sys.argv) > 6 else 0.3
    err_scale = float(sys.argv[7]) if len(sys.argv) > 7 else 1.0
    rng = random.Random(seed)

    def in_ball(radius):
        while True:
            p = [rng.uniform(-radius, radius) for _ in range(3)]
            if math.dist(p, [0, 0, 0]) <= radius:
                return p

    resnum, restype, pos = [], [], []
    n = 1
    for _ in range(nres):
        n += rng.randint(1, 4)
        resnum.append(n)
        restype.append(rng.choices([1, 2, 0], weights=[45, 40, 15])[0])
        pos.append(in_ball(20.0))
    sites = []
    for _ in range(nsites):
        d = in_ball(1.0)
        norm = math.dist(d, [0, 0, 0]) or 1.0
        sites.append([22.0 * x / norm for x in d])

    def true_pre(site, p):
        r = max(math.dist(site, p), 5.0)
        return 3.0e8 / r ** 6  # s^-1: about 100 at 11.5 A, 1 at 26 A

    # Residues that give a peak, in the spectrum's own order.
    seen = [i for i in range(nres) if rng.random() >= 0.08]
    rng.shuffle(seen)

    with open(sim_out, "w") as f:
        for s in sites:
            for i in range(nres):
                pred = true_pre(s, pos[i]) * math.exp(rng.gauss(0.0, pred_err))
                f.write("%d %.3f %d\n" % (resnum[i], pred, restype[i]))

    shifts = [shift(rng, restype[i]) for i in seen]
    with open(obs_out, "w") as f:
        for s in sites:
            for k, i in enumerate(seen):
                g = true_pre(s, pos[i])
                noise = 0.08 * g + 0.8
                meas = g + rng.gauss(0.0, noise)
                err = err_scale * (0.08 * max(meas, 0.0) + 0.8)
                if g > 150.0:
                    meas, err = 1500.0, 0.0  # broadened beyond measurement
                elif rng.random() < 0.05:
                    meas, err = -999.0, 0.0  # overlapped: not measured here
                f.write("%d %.3f %.3f %.3f 0\n" % (k + 1, meas, err, shifts[k]))

    with open(obs_out + ".truth", "w") as f:
        f.write(" ".join(str(i) for i in seen) + "\n")


if __name__ == "__main__":
    main()
