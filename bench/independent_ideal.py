#!/usr/bin/python3
# The ideal reference for bench/make_independent.py: a posterior that knows how those sets are made
# (error shapes and their parameters, the measurement chain, the rates of missing and extra peaks),
# never which peak is which residue nor where the labels truly are; sampled by build/bench/sample_costs.
#
#   bench/independent_ideal.py SIM OBS [OUT]    (OBS.meta.json beside OBS, written by the generator)
# prints (or writes to OUT) one line per peak in id order: `residue probability`, residue the
# 0-based simulated entry or -1 for "no residue".
#
# The prediction -> true Gamma2 relation has no closed form here (one pseudo-atom predicts what a
# weighted ensemble does, then an error of the chosen shape is drawn), so its conditional density is
# learned from sets the generator makes with other seeds (same settings), as a kernel estimate on
# ln(Gamma2 + 0.02). Sites are taken as independent given the predictions. The measurement chain
# is exact: Ipara/sigma ~ N(SN r, 1 + r^2) given the read dia signal to noise SN (flat prior on the
# true dia amplitude), with broadening (Ipara below 3 sigma), ratio >= 1 written as 0, and the gross
# ratio errors of the outlier kind.
import hashlib
import json
import math
import os
import subprocess
import sys

import numpy as np
from scipy.special import ndtr

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_independent as mi  # noqa: E402

C = 0.02                                    # s^-1, offset of the log scale (Gamma2 = 0 is allowed)
ZG = np.linspace(math.log(C), math.log(5000.0), 200)   # grid of true Gamma2
ZP = np.linspace(math.log(C), math.log(5000.0), 160)   # grid of predictions
HP, HG = 0.10, 0.07                         # kernel widths on the two log scales
TRAIN_SETS = 40
CACHE = os.environ.get("INDEPENDENT_CACHE", "/tmp/preassign_independent_cache")
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SAMPLER = os.path.join(ROOT, "build", "bench", "sample_costs")


def _z(x):
    return np.log(np.maximum(x, 0.0) + C)


def _kde_rows(zp, zg):
    """Conditional masses over ZG for each point of ZP from pairs (zp, zg)."""
    wp = np.exp(-0.5 * ((ZP[:, None] - zp[None, :]) / HP) ** 2)
    wg = np.exp(-0.5 * ((zg[:, None] - ZG[None, :]) / HG) ** 2)
    t = wp @ wg + 1e-12
    return t / t.sum(axis=1, keepdims=True)


def _kde(zg):
    w = np.exp(-0.5 * ((zg[:, None] - ZG[None, :]) / HG) ** 2).sum(axis=0) + 1e-12
    return w / w.sum()


def learned_model(s):
    """Conditional table T[ZP, ZG] and the extra peaks' density over ZG, for settings s."""
    key = dict(s, generator=mi.VERSION, train=TRAIN_SETS, bandwidths=(HP, HG))
    h = hashlib.sha1(json.dumps(key, sort_keys=True, default=str).encode()).hexdigest()[:16]
    path = os.path.join(CACHE, h + ".npz")
    if os.path.exists(path):
        z = np.load(path)
        return z["T"], z["extra"]
    p = mi.protein()
    zp, zg, zx = [], [], []
    for j in range(TRAIN_SETS):
        d = mi.make_set(p, dict(s, extra=max(s["extra"], 0.05)), 7_000_000 + j)
        zp.append(_z(d["pred"]).ravel())
        zg.append(_z(d["true_g"]).ravel())
        zx.append(_z(d["true_x"]).ravel())
    T = _kde_rows(np.concatenate(zp), np.concatenate(zg))
    extra = _kde(np.concatenate(zx))
    os.makedirs(CACHE, exist_ok=True)
    np.savez(path + ".tmp.npz", T=T, extra=extra)
    os.replace(path + ".tmp.npz", path)
    return T, extra


def measurement_likelihood(g_obs, sn, r2, t, eps):
    """L[i, s, g]: likelihood of what was read for peak i at site s if the true Gamma2 is ZG[g]."""
    gam = np.exp(ZG) - C
    r = mi.ratio(gam[None, None, :], r2[:, None, None], t)          # P x 1 x G
    mean = sn.T[:, :, None] * r                                      # P x S x G
    sd = np.sqrt(1.0 + r ** 2)
    go = g_obs.T                                                     # P x S
    measured = (go >= 0) & (go < 999) & (go > 0)
    zero = go == 0
    broad = go >= 999
    x = sn.T * mi.ratio(np.where(measured, go, 0.0), r2[:, None], t)  # read Ipara / sigma
    L = np.ones(mean.shape)
    dens = np.exp(-0.5 * ((x[:, :, None] - mean) / sd) ** 2) / (sd * math.sqrt(2 * math.pi))
    L = np.where(measured[:, :, None], dens, L)
    L = np.where(zero[:, :, None], 1.0 - ndtr((sn.T[:, :, None] - mean) / sd), L)
    L = np.where(broad[:, :, None], ndtr((3.0 - mean) / sd), L)
    if eps > 0:
        snT = sn.T
        u = x / snT
        out = np.where(measured, np.where((u >= 0.05) & (u <= 1.05), 1.0 / snT, 0.0), 1.0)
        out = np.where(zero, 0.05, out)
        out = np.where(broad, np.clip(3.0 / snT - 0.05, 0.0, 1.0), out)
        L = (1 - eps) * L + eps * out[:, :, None]
    return L


def shift_density(x, typ, s):
    m, sd = s["shift"][typ] if typ in s["shift"] else s["shift"][str(typ)]
    o = s["shift_outliers"]
    n = np.exp(-0.5 * ((x - m) / sd) ** 2) / (sd * math.sqrt(2 * math.pi))
    u = np.where((x >= 18.0) & (x <= 27.0), 1.0 / 9.0, 0.0)
    return (1 - o) * n + o * u


def read_profiles(path, cols):
    v = np.loadtxt(path).reshape(-1, cols)
    # A profile ends where the record number goes down.
    cuts = np.where(np.diff(v[:, 0]) < 0)[0] + 1
    return np.split(v, cuts)


def costs(sim_path, obs_path, meta):
    s = meta["settings"]
    s["shift"] = {int(k): tuple(v) for k, v in s["shift"].items()}
    s["sites"], s["residues"] = tuple(s["sites"]), tuple(s["residues"])
    s["r2"], s["tau_c"], s["fields"] = tuple(s["r2"]), tuple(s["tau_c"]), tuple(s["fields"])
    T, extra = learned_model(s)
    sim = read_profiles(sim_path, 3)
    obs = read_profiles(obs_path, 5)
    pred = np.array([p[:, 1] for p in sim])                 # S x R
    types = sim[0][:, 2].astype(int)
    g_obs = np.array([o[:, 1] for o in obs])                # S x P
    shift = obs[0][:, 3]
    sn = np.array(meta["sn"])
    r2 = np.array(meta["r2"])
    L = measurement_likelihood(g_obs, sn, r2, meta["t"], s["meas_outliers"])  # P x S x G
    P, S, _ = L.shape
    R = pred.shape[1]
    cost = np.zeros((P, R))
    alone = np.zeros(P)
    zpos = np.clip((_z(pred) - ZP[0]) / (ZP[1] - ZP[0]), 0, len(ZP) - 1 - 1e-9)
    lo = zpos.astype(int)
    fr = zpos - lo
    for k in range(S):
        M = L[:, k, :] @ T.T                                 # P x len(ZP)
        v = M[:, lo[k]] * (1 - fr[k]) + M[:, lo[k] + 1] * fr[k]
        cost += -2.0 * np.log(np.maximum(v, 1e-300))
        alone += -2.0 * np.log(np.maximum(L[:, k, :] @ extra, 1e-300))
    dens = {t: shift_density(shift, t, s) for t in (1, 2)}
    for t in (1, 2):
        cost[:, types == t] += -2.0 * np.log(np.maximum(dens[t], 1e-300))[:, None]
    alone += -2.0 * np.log(np.maximum(0.5 * (dens[1] + dens[2]), 1e-300))
    lam = max(s["extra"] * R, 1e-6)
    m = min(max(s["missing"], 1e-6), 1 - 1e-6)
    priors = (-2 * math.log(1 - m), -2 * math.log(lam), -2 * math.log(m))
    return cost, alone, priors


def run(sim_path, obs_path, meta_path=None):
    with open(meta_path or obs_path + ".meta.json") as f:
        meta = json.load(f)
    cost, alone, pr = costs(sim_path, obs_path, meta)
    P, R = cost.shape
    lines = ["%d %d" % (P, R), "%.9g %.9g %.9g" % pr]
    mat = np.concatenate([cost, alone[:, None]], axis=1)
    lines += [" ".join("%.9g" % x for x in row) for row in mat]
    out = subprocess.run([SAMPLER], input="\n".join(lines) + "\n", capture_output=True, text=True,
                         check=True)
    res = []
    for line in out.stdout.split("\n"):
        if line.strip():
            a = line.split()
            res.append((int(a[0]), float(a[1])))
    return res


def main(argv):
    if len(argv) not in (2, 3):
        sys.stderr.write("usage: independent_ideal.py SIM OBS [OUT]\n")
        return 2
    res = run(argv[0], argv[1])
    text = "".join("%d %.6g\n" % r for r in res)
    if len(argv) == 3:
        with open(argv[2], "w") as f:
            f.write(text)
    else:
        sys.stdout.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
