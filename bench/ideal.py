#!/usr/bin/env python3
"""The yardstick for `--posterior` on bench/make_realistic.py's sets: the
posterior that make_realistic.py's own generative model gives, sampled by
bench/sample_costs exactly as the program samples its own.

It knows the generator's form and the parameters its flags set, never a
set's truth (no peak's residue, no true PRE, no label position):
- a residue and a label are points: residues uniform in a ball of radius 20 A,
  labels on a sphere of radius 22 A about its centre, G = 3e8 / r^6 (r >= 5);
- a true PRE G and its prediction: ln pred = ln G + e (+ u + o), e normal with
  sd PRED_ERR, u uniform in (-S, S) for --site-scale S, o = +-U(ln 3, ln 10)
  with probability F for --outliers F;
- so, per value, G's prior: p(ln G) ~ r^2 (20^2 - (22 - r)^2) for r in 2..42
  (--flat-prior drops it: ln G flat, as "G = pred / factor" alone would say);
- a value: 1500 when G > 150; else not measured (-999) with probability
  0.05, else G + N(0, (0.08 G + 0.8)^2). The error column is a function of
  the measured value alone, so it carries nothing and is not read;
- a shift: per type, a mixture of the generator's means with t(5) tails,
  3 % uniform over 12-30 ppm; untyped residues uniform over 12-30 ppm;
- a residue gives a peak with probability 1 - UNSEEN; extra peaks, about
  P * EXTRA / (1 + EXTRA) of them, half methyls at random places (PREs: the
  mean over residues of the pair likelihood, shifts Leu/Val-like), half
  artefacts copying other peaks' values afresh per profile (per profile the
  mean over residues; shifts uniform over 12-30 ppm).

Two forms of the PRE term:
- one point per residue (the default where it applies): the labels are placed
  on their sphere and each residue in the ball by least squares in ln G on the
  predictions alone (sites and points fitted in turn from 3 random starts);
  each residue's point then has a Laplace posterior (its covariance from the
  predictions' spread) and a peak's values on that residue are integrated
  over it with 7^3 Gauss-Hermite nodes, all profiles at the same point, as in
  the generator. The labels are thus estimates, not the true ones;
- per value (--per-value, and wherever the points cannot be placed: fewer than
  4 profiles, a site's scale, outliers, a displaced label, shuffled
  predictions): each value's G integrated over its own prior and prediction,
  on a grid of ln G (step 0.02), profile by profile. It cannot tell that a
  residue's values share one position, and it is over-sure by that: on 1574
  peaks without stress its calibration error is 0.035-0.044 where the point
  form's is 0.020-0.031 (a calibrated predictor's own is 0.019 there, 0.025
  at its 90th percentile). At 50 % prediction error the point's posterior is
  wide and 5^3 nodes are too few (0.040 on 1494 peaks; 7^3: 0.020; 9^3: 0.027).

Where it is not exact, and why:
- a site's scale and an outlier are marginalised per value: the scale is one
  factor per profile in truth, but the exact marginal over it couples every
  pair of a profile and does not factor into a cost per pair;
- a displaced label has no per-value form: the base model (per value) is used
  there, and it is over-sure on those sets (and on "all at once");
- the count of extra peaks is fixed by the seen ones in the generator; here
  it is Poisson around the same mean, as sample_costs's priors take it;
- the random methyl's PRE likelihood is a mean over the residues, the true
  one among them, so a real peak's cost of being no residue's is somewhat low;
  an artefact's is the per-profile mean of the per-value likelihood;
- --shuffle: the PRE term is the per-profile mean over residues (no information).

Usage: ideal.py SIM OBS [PRED_ERR] [ERR_SCALE] [make_realistic.py's flags]
       [--sampler PATH] [--costs FILE] [--flat-prior] [--per-value] [--nodes N]
Prints per peak `residue probability unassigned` (residue 0-based, -1 for
none), as sample_costs does.
"""
import argparse
import math
import os
import subprocess
import sys
import tempfile

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))

# The generator's constants (make_realistic.py).
LEU = [(25.0, 1.3), (23.6, 1.4)]
VAL = [(21.7, 1.1), (21.0, 1.2)]
OUTLIER_SHARE = 0.03
BALL, SITE_R, K_PRE, R_MIN = 20.0, 22.0, 3.0e8, 5.0
BROADENED, UNMEASURED, CEILING, MISSING = 1500.0, -999.0, 150.0, 0.05
STEP = 0.02  # of the ln G grid; a measurement is at least 0.08 wide in ln G


def read_blocks(path, width):
    """Rows of `width` numbers, cut into profiles where the first column restarts."""
    blocks, last = [], None
    for line in open(path):
        f = line.split()
        if not f:
            continue
        row = [float(x) for x in f[:width]]
        if last is None or row[0] <= last:
            blocks.append([])
        blocks[-1].append(row)
        last = row[0]
    return [np.array(b) for b in blocks]


def read_sets(sim, obs):
    """Predictions [K, R], residue types [R], measured values [K, P], shifts [P]."""
    s = read_blocks(sim, 3)
    o = read_blocks(obs, 4)
    if len(s) != len(o):
        sys.exit("ideal.py: %d predicted and %d measured profiles" % (len(s), len(o)))
    pred = np.array([b[:, 1] for b in s])
    types = s[0][:, 2].astype(int)
    meas = np.array([b[:, 1] for b in o])
    return pred, types, meas, o[0][:, 3]


def t5(x):
    return 8.0 / (3.0 * math.pi * math.sqrt(5.0)) * (1.0 + x * x / 5.0) ** -3  # t(5) density


def shift_density(x, t):
    uniform = np.where((x >= 12.0) & (x <= 30.0), 1.0 / 18.0, 0.0)
    if t not in (1, 2):
        return uniform
    modes = LEU if t == 1 else VAL
    typed = sum(t5((x - m) / sd) / sd for m, sd in modes) / len(modes)
    return (1.0 - OUTLIER_SHARE) * typed + OUTLIER_SHARE * uniform


def error_kernel(pred_err, site_scale, outliers):
    """Density of ln pred - ln G on a grid: (offsets, density)."""
    h = 0.002
    half = math.log(10.0) + site_scale + 10.0 * max(pred_err, 0.02)
    x = np.arange(-half, half + h / 2, h)
    sd = max(pred_err, 0.01)
    k = np.exp(-0.5 * (x / sd) ** 2)
    k /= k.sum()

    def box(lo, hi):
        b = ((x >= lo) & (x < hi)).astype(float)
        return b / b.sum()

    if site_scale > 0:
        k = np.convolve(k, box(-site_scale, site_scale), mode="same")
    if outliers > 0:
        far = 0.5 * (box(math.log(3), math.log(10)) + box(-math.log(10), -math.log(3)))
        k = (1.0 - outliers) * k + outliers * np.convolve(k, far, mode="same")
    return x, k / (k.sum() * h)


def grid(flat_prior):
    """ln G nodes and ln of each node's prior mass (up to a constant)."""
    lo = math.log(1e-4) if flat_prior else math.log(K_PRE / (SITE_R + BALL) ** 6)
    lg = np.arange(lo, math.log(K_PRE / R_MIN ** 6) + STEP, STEP)
    if flat_prior:
        return lg, np.zeros_like(lg)
    r = (K_PRE / np.exp(lg)) ** (1.0 / 6.0)
    w = r ** 2 * (BALL ** 2 - (SITE_R - r) ** 2)
    with np.errstate(divide="ignore"):
        return lg, np.where(w > 0, np.log(np.maximum(w, 1e-300)), -np.inf)


def value_loglik(m, g):
    """ln p(value | G) [P, nodes] for one profile's values m [P]."""
    low = g <= CEILING
    sd = 0.08 * g + 0.8
    with np.errstate(divide="ignore"):
        base = np.where(low, math.log(1.0 - MISSING) - 0.5 * math.log(2 * math.pi) - np.log(sd), -np.inf)
        q = (m[:, None] - g[None, :]) * (1.0 / sd)[None, :]
        out = base[None, :] - 0.5 * q * q
        out[m == BROADENED] = np.where(low, -np.inf, 0.0)
        out[m == UNMEASURED] = np.where(low, math.log(MISSING), -np.inf)
    return out


def ln_pre_only(points, sites):
    """ln G [N, K] at points [N, 3] from sites [K, 3]."""
    d2 = (points ** 2).sum(axis=1)[:, None] + (sites ** 2).sum(axis=1)[None, :] - 2.0 * points @ sites.T
    return math.log(K_PRE) - 3.0 * np.log(np.maximum(d2, R_MIN ** 2))


def ln_pre(points, sites):
    """ln G [..., K] at points [..., 3] from sites [K, 3], and d ln G / d point [..., K, 3]."""
    diff = points[..., None, :] - sites
    d2 = np.maximum((diff ** 2).sum(axis=-1), R_MIN ** 2)
    return math.log(K_PRE) - 3.0 * np.log(d2), np.where((d2 > R_MIN ** 2)[..., None], -6.0 * diff / d2[..., None], 0.0)


def fibonacci_sphere(n, radius):
    i = np.arange(n) + 0.5
    z = 1.0 - 2.0 * i / n
    phi = math.pi * (1.0 + 5 ** 0.5) * i
    rho = np.sqrt(1.0 - z * z)
    return radius * np.column_stack([rho * np.cos(phi), rho * np.sin(phi), z])


def place(lp, sites, cube):
    """Each residue's best point [R, 3] for the sites: the best node of `cube`, then Gauss-Newton."""
    lg = ln_pre_only(cube, sites)  # [N, K]
    loss = (lp ** 2).sum(axis=0)[:, None] - 2.0 * lp.T @ lg.T + (lg ** 2).sum(axis=1)[None, :]
    x = cube[np.argmin(loss, axis=1)]
    for _ in range(5):
        g, j = ln_pre(x, sites)
        e = lp.T - g  # [R, K]
        h = np.einsum("rki,rkj->rij", j, j) + 1e-3 * np.eye(3)
        x = x + np.linalg.solve(h, np.einsum("rki,rk->ri", j, e)[..., None])[..., 0]
        n = np.linalg.norm(x, axis=1, keepdims=True)
        x = np.where(n > BALL, x * BALL / n, x)
    return x


def fit_sites(lp, restarts=3, rounds=10):
    """Sites [K, 3] on the sphere of radius 22 and residue points [R, 3] that best explain the
    predictions' ln [K, R] (least squares in ln G), from the predictions alone."""
    h = 2.0
    axis = np.arange(-BALL, BALL + h / 2, h)
    cube = np.stack(np.meshgrid(axis, axis, axis, indexing="ij"), axis=-1).reshape(-1, 3)
    cube = cube[np.linalg.norm(cube, axis=1) <= BALL]
    sphere = fibonacci_sphere(4000, SITE_R)
    rng = np.random.default_rng(20261207)
    best = None
    for _ in range(restarts):
        sites = sphere[rng.choice(len(sphere), lp.shape[0], replace=False)]
        for _ in range(rounds):
            x = place(lp, sites, cube)
            lg = ln_pre_only(x, sphere)  # [R, N]
            loss = (lp ** 2).sum(axis=1)[:, None] - 2.0 * lp @ lg + (lg ** 2).sum(axis=0)[None, :]  # [K, N]
            sites = sphere[np.argmin(loss, axis=1)]
        x = place(lp, sites, cube)
        total = ((lp.T - ln_pre(x, sites)[0]) ** 2).sum()
        if best is None or total < best[0]:
            best = (total, sites, x)
    return best[1], best[2]


def position_model(pred, pred_err, nodes=7):
    """Each residue's ln G per profile and its spread [K, R], from one point per residue fitted
    to all its predictions (Laplace: the point's covariance from the predictions' spread); and
    ln G [R, S, K] at Gauss-Hermite nodes of that point's posterior with ln weights [R, S]."""
    lp = np.log(np.maximum(pred, 3e-4))
    sites, x = fit_sites(lp)
    g, j = ln_pre(x, sites)  # [R, K], [R, K, 3]
    h = np.einsum("rki,rkj->rij", j, j) / pred_err ** 2 + np.eye(3) / BALL ** 2
    cov = np.linalg.inv(h)
    var = np.einsum("rki,rij,rkj->rk", j, cov, j)
    z, w = np.polynomial.hermite_e.hermegauss(nodes)
    z3 = np.stack(np.meshgrid(z, z, z, indexing="ij"), axis=-1).reshape(-1, 3)
    w3 = np.log(np.einsum("i,j,k->ijk", w, w, w).reshape(-1))
    pts = x[:, None, :] + np.einsum("rij,sj->rsi", np.linalg.cholesky(cov), z3)
    lw = np.where(np.linalg.norm(pts, axis=2) <= BALL, w3[None, :], -np.inf)
    lw -= np.logaddexp.reduce(lw, axis=1, keepdims=True)
    return (g.T, np.sqrt(np.maximum(var, 0.03 ** 2)).T), (ln_pre(pts, sites)[0], lw)


def joint_loglik(meas, nodes):
    """ln p(all values of peak i | residue r) [P, R], one point per residue for all profiles."""
    lgs, lw = nodes
    R, S, K = lgs.shape
    g = np.exp(lgs)
    out = np.empty((meas.shape[1], R))
    for lo in range(0, meas.shape[1], 64):  # peaks a block at a time: [block, R, S] stays small
        acc = np.broadcast_to(lw[None, :, :], (min(64, meas.shape[1] - lo), R, S)).copy()
        for k in range(K):
            acc += value_loglik(meas[k, lo:lo + 64], g[:, :, k].reshape(-1)).reshape(-1, R, S)
        top = acc.max(axis=2, keepdims=True)
        top = np.where(np.isfinite(top), top, 0.0)
        with np.errstate(divide="ignore"):
            out[lo:lo + 64] = np.log(np.exp(acc - top).sum(axis=2)) + top[:, :, 0]
    return out


def pre_logliks(pred, meas, kernel, flat_prior, shuffle, centres=None):
    """Per profile ln p(values of peak i | prediction of residue r), [K, P, R] as a generator;
    `centres`, when given, is (ln G, spread) per profile and residue from position_model."""
    lg, lprior = grid(flat_prior)
    g = np.exp(lg)
    kx, kd = kernel
    for k in range(pred.shape[0]):
        lp = np.log(np.maximum(pred[k], 3e-4))  # 0.000 as printed: below 0.0005
        with np.errstate(divide="ignore"):
            if centres is not None:
                lw = -0.5 * ((lg[:, None] - centres[0][k][None, :]) / centres[1][k][None, :]) ** 2
            else:
                lw = np.log(np.interp(lp[None, :] - lg[:, None], kx, kd, left=0.0, right=0.0)) + lprior[:, None]
        lw -= lw.max(axis=0)
        w = np.exp(lw)
        w /= w.sum(axis=0)  # p(G node | pred r), [nodes, R]
        a = value_loglik(meas[k], g)
        amax = a.max(axis=1, keepdims=True)
        ll = np.log(np.maximum(np.exp(a - amax) @ w, 1e-300)) + amax
        if shuffle:
            ll = np.broadcast_to(logmeanexp(ll, axis=1)[:, None], ll.shape)
        yield ll


def logmeanexp(x, axis):
    m = x.max(axis=axis, keepdims=True)
    m = np.where(np.isfinite(m), m, 0.0)  # a row that no residue explains stays at -inf
    with np.errstate(divide="ignore"):
        return (np.log(np.mean(np.exp(x - m), axis=axis, keepdims=True)) + m).squeeze(axis)


def uses_positions(a, profiles):
    """One point per residue where its predictions can place it and nothing but e distorts them."""
    return (not a.per_value and profiles >= 4 and not (a.site_scale or a.outliers or a.displace or a.shuffle))


def costs(sim, obs, a):
    """Pair costs [P, R], alone costs [P] (-2 ln L) and the priors' three costs."""
    pred, types, meas, shifts = read_sets(sim, obs)
    kernel = error_kernel(a.pred_err, a.site_scale, a.outliers)
    total = None
    artefact = np.zeros(meas.shape[1])
    positions = uses_positions(a, pred.shape[0])
    centres, nodes = position_model(pred, a.pred_err, a.nodes) if positions else (None, None)
    for ll in pre_logliks(pred, meas, kernel, a.flat_prior, a.shuffle, centres):
        total = ll.copy() if total is None else total + ll
        artefact += logmeanexp(ll, axis=1)
    if positions:
        total = joint_loglik(meas, nodes)
    with np.errstate(divide="ignore"):
        by_type = {t: np.log(shift_density(shifts, t)) for t in set(types.tolist()) | {1, 2, 0}}
        methyl_shift = np.log(0.5 * shift_density(shifts, 1) + 0.5 * shift_density(shifts, 2))
    shift_ll = np.stack([by_type[t] for t in types], axis=1)
    methyl = logmeanexp(total, axis=1) + methyl_shift
    artefact = artefact + by_type[0]
    alone = np.logaddexp(methyl, artefact) + math.log(0.5)
    P, R = total.shape
    seen = min(max(1.0 - a.unseen, 1e-9), 1.0 - 1e-9)
    extras = max(P * a.extra / (1.0 + a.extra), 1e-6)
    priors = (-2 * math.log(seen), -2 * math.log(extras), -2 * math.log(1.0 - seen))
    pair = -2.0 * (total + shift_ll)
    return np.minimum(pair, 1e6), np.minimum(-2.0 * alone, 1e6), priors


def write_costs(path, pair, alone, priors):
    with open(path, "w") as f:
        f.write("%d %d\n%.9g %.9g %.9g\n" % (pair.shape[0], pair.shape[1], *priors))
        np.savetxt(f, np.column_stack([pair, alone]), fmt="%.6f")


def sample(sampler, costs_file):
    out = subprocess.run([sampler, costs_file], check=True, capture_output=True, text=True).stdout
    return [(int(r), float(p), float(u)) for r, p, u in (line.split() for line in out.splitlines())]


def posterior(sim, obs, a, sampler, costs_file=None):
    """(residue or -1, probability, probability of none) per peak."""
    pair, alone, priors = costs(sim, obs, a)
    with tempfile.TemporaryDirectory() as work:
        path = costs_file or os.path.join(work, "costs.txt")
        write_costs(path, pair, alone, priors)
        return sample(sampler, path)


def parser():
    p = argparse.ArgumentParser()
    p.add_argument("sim")
    p.add_argument("obs")
    p.add_argument("pred_err", type=float, nargs="?", default=0.3)
    p.add_argument("err_scale", type=float, nargs="?", default=1.0)  # the error column carries nothing
    p.add_argument("--pred-err", type=float, dest="pred_err_flag", default=None)
    p.add_argument("--extra", type=float, default=0.0)
    p.add_argument("--displace", type=float, nargs=2, default=None)  # no per-value form: base model
    p.add_argument("--site-scale", type=float, default=0.0)
    p.add_argument("--outliers", type=float, default=0.0)
    p.add_argument("--unseen", type=float, default=0.08)
    p.add_argument("--shuffle", action="store_true")
    p.add_argument("--flat-prior", action="store_true")
    p.add_argument("--per-value", action="store_true")
    p.add_argument("--nodes", type=int, default=7)
    p.add_argument("--sampler", default=None)
    p.add_argument("--costs", default=None)
    return p


def parse(argv):
    a = parser().parse_args(argv)
    if a.pred_err_flag is not None:
        a.pred_err = a.pred_err_flag
    return a


def main():
    a = parse(sys.argv[1:])
    sampler = a.sampler or os.path.join(HERE, "..", "build", "bench", "sample_costs")
    for r, p, u in posterior(a.sim, a.obs, a, sampler, a.costs):
        print("%d %.6g %.6g" % (r, p, u))


if __name__ == "__main__":
    main()
