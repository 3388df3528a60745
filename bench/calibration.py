#!/usr/bin/env python3
"""How far the reported probabilities can be trusted, on generated data with
a known truth (bench/make_realistic.py). For each set it runs
`preassign -q --optimal --posterior --table`, then pools the peaks and
prints, for the walk's frequency and for the posterior's probability: the
share of peaks whose choice is the true residue, the expected calibration
error over 10 bins, and how many peaks are reported at 0.9 or more and the
share of those that are right. The exact optimum of the walk's energy is
given for comparison, and the time the posterior adds at 800 x 20.

Usage: calibration.py [--quick] [BINARY]
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
GEN = os.path.join(HERE, "make_realistic.py")

# (residues, profiles, seeds, prediction error)
SETS = [(120, 5, range(1, 7), 0.3), (200, 8, range(1, 5), 0.3), (400, 12, range(1, 3), 0.3),
        (800, 20, range(1, 2), 0.3)]
SETS_40 = [(120, 5, range(11, 17), 0.4), (200, 8, range(11, 15), 0.4), (400, 12, range(11, 13), 0.4),
           (800, 20, range(11, 12), 0.4)]
QUICK = [(120, 5, range(1, 4), 0.3), (200, 8, range(1, 3), 0.3)]


def run_set(binary, work, nres, nsites, seed, pred_err, extra=()):
    sim, obs = os.path.join(work, "sim.txt"), os.path.join(work, "obs.txt")
    table = os.path.join(work, "t.tsv")
    subprocess.run([sys.executable, GEN, sim, obs, str(nres), str(nsites), str(seed), str(pred_err)], check=True)
    subprocess.run([binary, "-q", "--optimal", "--posterior", "--table", table, *extra, sim, obs],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    truth = list(map(int, open(obs + ".truth").read().split()))
    rows = [line.rstrip("\n").split("\t") for line in open(table)]
    col = {name: i for i, name in enumerate(rows[0])}
    ids = {}
    for line in open(sim):
        rnum = int(line.split()[0])
        ids.setdefault(rnum, len(ids))
    peaks = []
    for j, t in enumerate(truth):
        r = rows[j + 1]
        post = r[col["posterior_residue_index"]]
        opt = ids[int(r[col["optimal_residue_number"]])]
        peaks.append({
            "walk": (int(r[col["residue_index"]]) == t, float(r[col["frequency"]])),
            "posterior": (post != "" and int(post) == t, float(r[col["posterior_probability"]])),
            "optimum": opt == t,
        })
    return peaks


def ece(pairs, bins=10):
    total, err = len(pairs), 0.0
    for b in range(bins):
        lo, hi = b / bins, (b + 1) / bins
        inside = [(ok, p) for ok, p in pairs if lo <= p < hi or (b == bins - 1 and p == 1.0)]
        if inside:
            acc = sum(ok for ok, _ in inside) / len(inside)
            conf = sum(p for _, p in inside) / len(inside)
            err += len(inside) / total * abs(acc - conf)
    return err


def summary(name, pairs):
    right = sum(ok for ok, _ in pairs) / len(pairs)
    sure = [ok for ok, p in pairs if p >= 0.9]
    share = sum(sure) / len(sure) if sure else float("nan")
    return "| %s | %d | %.1f %% | %.3f | %d | %.1f %% |" % (name, len(pairs), 100 * right, ece(pairs), len(sure),
                                                          100 * share)


def table(binary, sets, title):
    peaks = []
    with tempfile.TemporaryDirectory() as work:
        for nres, nsites, seeds, pred_err in sets:
            for seed in seeds:
                peaks += run_set(binary, work, nres, nsites, seed, pred_err)
    print("%s\n" % title)
    print("| probability | peaks | choice right | calibration error | peaks at >= 0.9 | right of those |")
    print("|---|---|---|---|---|---|")
    print(summary("walk frequency", [p["walk"] for p in peaks]))
    print(summary("posterior", [p["posterior"] for p in peaks]))
    optimum = sum(p["optimum"] for p in peaks) / len(peaks)
    print("\nexact optimum of the walk's energy: choice right for %.1f %%\n" % (100 * optimum))


def added_time(binary):
    with tempfile.TemporaryDirectory() as work:
        sim, obs = os.path.join(work, "sim.txt"), os.path.join(work, "obs.txt")
        subprocess.run([sys.executable, GEN, sim, obs, "800", "20", "1"], check=True)
        times = {False: [], True: []}
        for _ in range(5):
            for post in (False, True):
                t0 = time.perf_counter()
                subprocess.run([binary, "-q", *(["--posterior"] if post else []), sim, obs], check=True,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                times[post].append(time.perf_counter() - t0)
        print("time added by --posterior at 800 x 20: %.0f ms (median of 5 paired runs: %.0f ms against %.0f ms)"
              % (1000 * (statistics.median(times[True]) - statistics.median(times[False])),
                 1000 * statistics.median(times[True]), 1000 * statistics.median(times[False])))


def main():
    args = sys.argv[1:]
    quick = "--quick" in args
    args = [a for a in args if a != "--quick"]
    binary = args[0] if args else "build/preassign"
    if quick:
        table(binary, QUICK, "Quick: 120 x 5 and 200 x 8, prediction error 30 %")
        return
    table(binary, SETS, "Prediction error 30 %, sizes 120 x 5 to 800 x 20")
    table(binary, SETS_40, "Prediction error 40 %, sizes 120 x 5 to 800 x 20")
    added_time(binary)


if __name__ == "__main__":
    main()
