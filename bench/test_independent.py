#!/usr/bin/python3
# Checks of the second generator and its ideal reference against values worked out by hand and
# against the rule that the input files carry no truth. Run: /usr/bin/python3 bench/test_independent.py
# (needs the same Debian packages as bench/make_independent.py; not part of ctest).
import math
import os
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import independent_ideal as ideal  # noqa: E402
import make_independent as mi  # noqa: E402

failures = []


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL:", what)


def test_physics():
    # K from the lab notes' 1.23e16 A^6 s^-2 times the spectral density at 750 MHz, tc 2 ns:
    # 4tc + 3tc/(1 + (2pi 750e6 2e-9)^2) = 8e-9 + 6e-9/89.83 = 8.0668e-9 s  ->  9.922e7 s^-1 A^6.
    check(abs(mi.pre_constant(2e-9, 750.0) / 9.922e7 - 1) < 0.005, "K at 750 MHz, 2 ns")
    # Ipara/Idia at Gamma2 10 s^-1, R2 30 s^-1, t 10 ms: 30 e^-0.1 / 40 = 0.678628.
    check(abs(mi.ratio(10.0, 30.0, 0.010) - 0.678628) < 1e-6, "ratio at 10 s^-1")
    g = mi.invert_ratio(np.array([0.678628, 1.0, 0.05]), np.array([30.0, 30.0, 20.0]), 0.010)
    check(abs(g[0] - 10.0) < 1e-3, "inverted ratio 0.678628 -> 10 s^-1")
    check(abs(g[1]) < 1e-9, "ratio 1 -> 0")
    # 0.05 at R2 20: 20 e^(-0.01 G)/(20 + G) = 0.05 at G = 111.36 (e^-1.1136 = 0.3284, 20/131.36 = 0.1523).
    check(abs(mi.ratio(g[2], 20.0, 0.010) - 0.05) < 1e-9 and abs(g[2] - 111.36) < 0.01, "inverted small ratio")


def test_set():
    p = mi.protein()
    s = mi.settings("extra", "gaussout", residues=(120, 120), sites=(4, 4))
    d = mi.make_set(p, s, 99)
    S, P = d["g_obs"].shape
    check(S == 4 and d["pred"].shape == (4, 120), "sizes as asked")
    truth = d["truth"]
    seen = truth[truth >= 0]
    check(len(set(seen.tolist())) == len(seen), "a residue gives at most one peak")
    check((truth == -1).sum() > 0, "extra peaks present in the extra kind")
    # Peaks shuffled: the true residue does not follow the peak order.
    check(abs(np.corrcoef(np.arange(len(seen)), seen)[0, 1]) < 0.5, "peak order shuffled")
    # The error column is what the measured intensities give, nothing else.
    m = (d["g_obs"] > 0) & (d["g_obs"] < 999)
    sn = np.array(d["meta"]["sn"])
    r2 = np.array(d["meta"]["r2"])[None, :].repeat(S, 0)
    x = sn * mi.ratio(d["g_obs"], r2, 0.010)
    err = np.sqrt(1 / x ** 2 + 1 / sn ** 2) / (0.010 + 1 / (r2 + d["g_obs"]))
    check(np.allclose(err[m], d["err"][m], rtol=1e-6), "error column from the measured values")
    check(np.all((d["err"][~m & (d["g_obs"] != 0)] == 0)), "no error for unmeasured or broadened")
    # Broadened means para below 3 noise levels: what is left measured is above it.
    check(np.all(x[m] >= 3.0 - 1e-6), "measured para intensities above 3 noise levels")
    # Larger true Gamma2 must give larger predictions on the whole (the prediction tracks the truth).
    tg, pr = d["true_g"].ravel(), d["pred"].ravel()
    check(np.corrcoef(np.log(tg + 0.02), np.log(pr + 0.02))[0, 1] > 0.7, "predictions follow the truth")
    # Most values are small, a few are large.
    check((tg < 2).mean() > 0.6 and (tg > 50).any(), "most values small, some large")


def test_ideal_measurement():
    # A measured value at 10 s^-1 (R2 30, SN 40): the likelihood over the true Gamma2 peaks there.
    g = np.array([[10.0, 1000.0, 0.0]]).T          # three sites of one peak
    L = ideal.measurement_likelihood(g, np.full((3, 1), 40.0), np.array([30.0]), 0.010, 0.0)[0]
    grid = np.exp(ideal.ZG) - ideal.C
    check(abs(grid[np.argmax(L[0])] / 10.0 - 1) < 0.1, "measured value: likelihood peaks at it")
    check(L[1][-1] > 0.99 and L[1][0] < 1e-6, "broadened: likely only where the PRE is large")
    check(L[2][0] > 0.4 and L[2][-1] < 1e-6, "ratio >= 1: likely only where the PRE is near 0")
    # The outlier share lifts the tails: never below eps times the outlier density 1/SN.
    Lo = ideal.measurement_likelihood(g, np.full((3, 1), 40.0), np.array([30.0]), 0.010, 0.1)[0]
    check(Lo[0].min() >= 0.1 / 40 - 1e-12, "outlier share floors the measured likelihood")


if __name__ == "__main__":
    test_physics()
    test_set()
    test_ideal_measurement()
    print("%d failed" % len(failures) if failures else "all checks passed")
    sys.exit(1 if failures else 0)
