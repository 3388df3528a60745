#!/usr/bin/env python3
"""Writes a truth-known input pair with what real data has: predictions with
their own error, measurement noise, an error column a spectroscopist would
compute, unmeasured and broadened peaks, methyl shifts with outliers and
residues that give no peak; and, by flag, the harder things real data bring.

The protein: methyl carbons scattered in a globule of radius 20 A, spin
labels on its surface. True PREs fall off as 1/r^6. The predictions are the
true PREs times a log-normal factor (the structure's and the label's
error), with a spread of PRED_ERR (0.2 to 0.4 in real work). The measured
PRE is the true one plus noise that grows with it; the error column is
computed from the measured value alone (its true value is unknown to the
spectroscopist), at ERR_SCALE times the noise's real size. Peaks whose PRE
is too large to measure are written as 1500 (broadened beyond measurement),
and some peaks are missing in some profiles (overlap). A share of residues
gives no peak at all, so the experimental profiles are shorter. Methyl
shifts come from per-methyl averages with heavy tails, not from the model
the posterior assumes. Fixed seeds.

Stresses, each a flag:
  --pred-err E    the predictions' spread, as PRED_ERR
  --extra F       a share F of further peaks that are no residue's: half
                  methyls the predictions leave out (their PREs real, their
                  shifts Leu/Val-like), half artefacts whose values are other
                  peaks' values, drawn anew per profile
  --displace A B  predictions from a label put A to B angstrom from the true one
  --site-scale S  each site's predictions off by one factor, exp(U(-S, S))
  --outliers F    a share F of predictions off by a factor of 3 to 10
  --unseen F      the share of residues that give no peak (default 0.08)
  --shuffle       each profile's predictions shuffled over the residues: a
                  null with no information in the PREs at all

Usage: make_realistic.py SIM_OUT OBS_OUT NRES NSITES SEED [PRED_ERR] [ERR_SCALE] [flags]
Writes OBS_OUT.truth: the true residue index (simulated entry) of each peak,
-1 for a peak that is no residue's.
"""
import argparse
import math
import random

# Methyl 13C shifts, ppm: each methyl of a type around its own mean, with
# tails heavier than a normal's (a t with 5 degrees of freedom), a few
# outliers anywhere in the region, and residues of other types wherever
# they fall.
LEU = [(25.0, 1.3), (23.6, 1.4)]
VAL = [(21.7, 1.1), (21.0, 1.2)]
OUTLIER_SHARE = 0.03


def student5(rng):
    z = rng.gauss(0.0, 1.0)
    chi2 = sum(rng.gauss(0.0, 1.0) ** 2 for _ in range(5))
    return z / math.sqrt(chi2 / 5.0)


def shift(rng, t):
    if t in (1, 2) and rng.random() >= OUTLIER_SHARE:
        mean, sd = rng.choice(LEU if t == 1 else VAL)
        return mean + sd * student5(rng)
    return rng.uniform(12.0, 30.0)


def parse():
    p = argparse.ArgumentParser()
    p.add_argument("sim_out")
    p.add_argument("obs_out")
    p.add_argument("nres", type=int)
    p.add_argument("nsites", type=int)
    p.add_argument("seed", type=int)
    p.add_argument("pred_err", type=float, nargs="?", default=0.3)
    p.add_argument("err_scale", type=float, nargs="?", default=1.0)
    p.add_argument("--pred-err", type=float, dest="pred_err_flag", default=None)
    p.add_argument("--extra", type=float, default=0.0)
    p.add_argument("--displace", type=float, nargs=2, default=None)
    p.add_argument("--site-scale", type=float, default=0.0)
    p.add_argument("--outliers", type=float, default=0.0)
    p.add_argument("--unseen", type=float, default=0.08)
    p.add_argument("--shuffle", action="store_true")
    a = p.parse_args()
    if a.pred_err_flag is not None:
        a.pred_err = a.pred_err_flag
    return a


def main():
    a = parse()
    rng = random.Random(a.seed)
    # The stresses draw from a generator of their own, so that a flag left
    # out changes nothing else in the set.
    stress = random.Random(a.seed * 7919 + 13)

    def in_ball(radius, g=rng):
        while True:
            p = [g.uniform(-radius, radius) for _ in range(3)]
            if math.dist(p, [0, 0, 0]) <= radius:
                return p

    resnum, restype, pos = [], [], []
    n = 1
    for _ in range(a.nres):
        n += rng.randint(1, 4)
        resnum.append(n)
        restype.append(rng.choices([1, 2, 0], weights=[45, 40, 15])[0])
        pos.append(in_ball(20.0))
    sites = []
    for _ in range(a.nsites):
        d = in_ball(1.0)
        norm = math.dist(d, [0, 0, 0]) or 1.0
        sites.append([22.0 * x / norm for x in d])

    def true_pre(site, p):
        r = max(math.dist(site, p), 5.0)
        return 3.0e8 / r ** 6  # s^-1: about 100 at 11.5 A, 1 at 26 A

    # Residues that give a peak, in the spectrum's own order.
    seen = [i for i in range(a.nres) if rng.random() >= a.unseen]
    rng.shuffle(seen)

    # Where the predictions put each label, and each site's scale error.
    model_sites = []
    for s in sites:
        if a.displace:
            d = in_ball(1.0, stress)
            norm = math.dist(d, [0, 0, 0]) or 1.0
            length = stress.uniform(*a.displace)
            s = [x + length * y / norm for x, y in zip(s, d)]
        model_sites.append(s)
    scales = [math.exp(stress.uniform(-a.site_scale, a.site_scale)) for _ in sites]

    with open(a.sim_out, "w") as f:
        for k, s in enumerate(model_sites):
            preds = []
            for i in range(a.nres):
                pred = true_pre(s, pos[i]) * math.exp(rng.gauss(0.0, a.pred_err)) * scales[k]
                if a.outliers and stress.random() < a.outliers:
                    pred *= math.exp(stress.choice([-1, 1]) * stress.uniform(math.log(3), math.log(10)))
                preds.append(pred)
            if a.shuffle:
                stress.shuffle(preds)
            for i in range(a.nres):
                f.write("%d %.3f %d\n" % (resnum[i], preds[i], restype[i]))

    # Peaks: the residues seen, then those that are no residue's, mixed in.
    peaks = [("residue", i) for i in seen]
    n_extra = int(round(a.extra * len(seen)))
    for e in range(n_extra):
        if e % 2 == 0:
            peaks.append(("methyl", in_ball(20.0, stress)))
        else:
            peaks.append(("artefact", None))
    if n_extra:
        stress.shuffle(peaks)
    shifts = []
    for kind, what in peaks:
        if kind == "residue":
            shifts.append(shift(rng, restype[what]))
        elif kind == "methyl":
            shifts.append(shift(stress, stress.choice([1, 2])))
        else:
            shifts.append(stress.uniform(12.0, 30.0))

    def measure(g, generator):
        noise = 0.08 * g + 0.8
        meas = g + generator.gauss(0.0, noise)
        err = a.err_scale * (0.08 * max(meas, 0.0) + 0.8)
        if g > 150.0:
            return 1500.0, 0.0  # broadened beyond measurement
        if generator.random() < 0.05:
            return -999.0, 0.0  # overlapped: not measured here
        return meas, err

    with open(a.obs_out, "w") as f:
        for s in sites:
            real = [true_pre(s, pos[i]) for i in seen]
            for k, (kind, what) in enumerate(peaks):
                if kind == "residue":
                    meas, err = measure(true_pre(s, pos[what]), rng)
                elif kind == "methyl":
                    meas, err = measure(true_pre(s, what), stress)
                else:
                    meas, err = measure(stress.choice(real), stress)
                f.write("%d %.3f %.3f %.3f 0\n" % (k + 1, meas, err, shifts[k]))

    with open(a.obs_out + ".truth", "w") as f:
        f.write(" ".join(str(what if kind == "residue" else -1) for kind, what in peaks) + "\n")


if __name__ == "__main__":
    main()
