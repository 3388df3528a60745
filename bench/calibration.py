#!/usr/bin/env python3
"""How far the reported probabilities can be trusted, on generated data with
a known truth (bench/make_realistic.py).

The first two tables pool sets from 120 x 5 to 800 x 20 at 30 % and 40 %
prediction error and compare, per peak, the walk's frequency with the
posterior's probability (`preassign -q --optimal --posterior --table`): the
share of peaks whose choice is right, the expected calibration error over 10
bins, and how many peaks are reported at 0.9 or more and the share of those
that are right. The exact optimum of the walk's energy is given beside.

The stress table runs the posterior on each kind of hard data the generator
makes, and on a null whose predictions are shuffled over the residues, where
no peak should reach 0.5. A peak that is no residue's is right when it is
called unassigned.

Beside the posterior, every row gives the yardstick of bench/ideal.py (the
posterior of the generator's own model, sampled the same way by
BUILD_DIR/bench/sample_costs) on the same sets: its peaks at 0.9 or more, the
posterior's count as a share of those ("sharpness") and its share of choices
right. On a displaced label (and "all at once") the ideal has only its base
model and is over-sure, so sharpness there measures nothing. It needs numpy,
in this Python or in /usr/bin/python3; --no-ideal leaves it out.

Usage: calibration.py [--quick] [--stress-only | --no-stress] [--no-ideal] [--kinds="NAME;..."] [BUILD_DIR]
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
GEN = os.path.join(HERE, "make_realistic.py")
IDEAL = os.path.join(HERE, "ideal.py")

# (residues, profiles, seeds, prediction error)
SETS = [(120, 5, range(1, 7), 0.3), (200, 8, range(1, 5), 0.3), (400, 12, range(1, 3), 0.3),
        (800, 20, range(1, 2), 0.3)]
SETS_40 = [(120, 5, range(11, 17), 0.4), (200, 8, range(11, 15), 0.4), (400, 12, range(11, 13), 0.4),
           (800, 20, range(11, 12), 0.4)]
QUICK = [(120, 5, range(1, 4), 0.3), (200, 8, range(1, 3), 0.3)]

# Stress kinds: the generator's flags, on top of 30 % prediction error.
STRESS = [
    ("no stress", []),
    ("extra peaks, 7 %", ["--extra", "0.07"]),
    ("prediction error 50 %", ["--pred-err", "0.5"]),
    ("label displaced 3-5 A", ["--displace", "3", "5"]),
    ("per-site scale", ["--site-scale", "0.4"]),
    ("a quarter of residues unseen", ["--unseen", "0.25"]),
    ("prediction outliers, 5 %", ["--outliers", "0.05"]),
    ("all at once", ["--extra", "0.05", "--site-scale", "0.4", "--outliers", "0.05", "--unseen", "0.1",
                     "--displace", "3", "5"]),
]
NULL = ["--shuffle"]
# --kinds="A;B": only the stress kinds whose names hold one of these.
KINDS = []
STRESS_SETS = [(120, 5, range(101, 105)), (200, 8, range(201, 204)), (300, 8, range(301, 303))]
STRESS_QUICK = [(120, 5, range(101, 103)), (200, 8, range(201, 202))]


def generator_args(flags):
    """The generator's prediction error and its other flags."""
    args = list(flags)
    pred_err = "0.3"
    if "--pred-err" in args:
        k = args.index("--pred-err")
        pred_err = args[k + 1]
        del args[k:k + 2]
    return pred_err, args


def generate(work, nres, nsites, seed, flags):
    sim, obs = os.path.join(work, "sim.txt"), os.path.join(work, "obs.txt")
    pred_err, args = generator_args(flags)
    subprocess.run([sys.executable, GEN, sim, obs, str(nres), str(nsites), str(seed), pred_err, *args], check=True)
    truth = list(map(int, open(obs + ".truth").read().split()))
    return sim, obs, truth


def numpy_python():
    """A Python that has numpy, for bench/ideal.py, or None."""
    for python in (sys.executable, "/usr/bin/python3"):
        if os.path.exists(python) and subprocess.run([python, "-c", "import numpy"],
                                                     stderr=subprocess.DEVNULL).returncode == 0:
            return python
    return None


# Set by main: how to run the ideal ([python, sampler]), or None to leave it out.
IDEAL_RUN = None


def run_ideal(sim, obs, truth, flags):
    """(right, probability) per peak from the ideal on the generator's flags, or [] when left out."""
    if IDEAL_RUN is None or "--shuffle" in flags:  # the null has nothing to measure sharpness by
        return []
    python, sampler = IDEAL_RUN
    pred_err, args = generator_args(flags)
    out = subprocess.run([python, IDEAL, sim, obs, pred_err, *args, "--sampler", sampler], check=True,
                         capture_output=True, text=True).stdout
    return [(int(line.split()[0]) == t, float(line.split()[1])) for line, t in zip(out.splitlines(), truth)]


def run_set(build, work, nres, nsites, seed, pred_err):
    flags = ["--pred-err", str(pred_err)]
    sim, obs, truth = generate(work, nres, nsites, seed, flags)
    table = os.path.join(work, "t.tsv")
    subprocess.run([os.path.join(build, "preassign"), "-q", "--optimal", "--posterior", "--table", table, sim, obs],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    rows = [line.rstrip("\n").split("\t") for line in open(table)]
    col = {name: i for i, name in enumerate(rows[0])}
    ids = {}
    for line in open(sim):
        ids.setdefault(int(line.split()[0]), len(ids))
    peaks = []
    ideal = run_ideal(sim, obs, truth, flags)
    for j, t in enumerate(truth):
        r = rows[j + 1]
        post = r[col["posterior_residue_index"]]
        opt = ids[int(r[col["optimal_residue_number"]])]
        peaks.append({
            "walk": (int(r[col["residue_index"]]) == t, float(r[col["frequency"]])),
            "posterior": ((int(post) if post != "" else -1) == t, float(r[col["posterior_probability"]])),
            "optimum": opt == t,
            "ideal": ideal[j] if ideal else None,
        })
    return peaks


def run_posterior(build, work, nres, nsites, seed, flags):
    """(right, probability) per peak, and the fitted f, from `preassign --posterior --table`; the
    ideal's (right, probability) per peak on the same set."""
    sim, obs, truth = generate(work, nres, nsites, seed, flags)
    table = os.path.join(work, "t.tsv")
    out = subprocess.run([os.path.join(build, "preassign"), "-q", "--posterior", "--table", table, sim, obs],
                         check=True, capture_output=True, text=True).stdout
    f = float(out.split("posterior: f = ")[1].split()[0])
    rows = [line.rstrip("\n").split("\t") for line in open(table)]
    col = {name: i for i, name in enumerate(rows[0])}
    pairs = []
    for j, t in enumerate(truth):
        r = rows[j + 1]
        post = r[col["posterior_residue_index"]]
        p = r[col["posterior_probability"]]
        pairs.append(((int(post) if post != "" else -1) == t, float(p) if p != "" else 0.0))
    return pairs, f, run_ideal(sim, obs, truth, flags)


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


def sure(pairs):
    right = [ok for ok, p in pairs if p >= 0.9]
    return len(right), (sum(right) / len(right) if right else float("nan"))


def right_share(pairs):
    return sum(ok for ok, _ in pairs) / len(pairs)


def summary(name, pairs):
    n, share = sure(pairs)
    return "| %s | %d | %.1f %% | %.3f | %d | %.1f %% |" % (name, len(pairs), 100 * right_share(pairs), ece(pairs), n,
                                                         100 * share)


IDEAL_HEAD = " ideal at >= 0.9 | sharpness | ideal right |"


def beside_ideal(pairs, ideal):
    """The ideal's cells for a row: its peaks at >= 0.9, the row's share of them, its choices right."""
    if not ideal:
        return ""
    n = sure(ideal)[0]
    return " %d | %s | %.1f %% |" % (n, "%.0f %%" % (100 * sure(pairs)[0] / n) if n else "-", 100 * right_share(ideal))


def table(build, sets, title):
    peaks = []
    with tempfile.TemporaryDirectory() as work:
        for nres, nsites, seeds, pred_err in sets:
            for seed in seeds:
                peaks += run_set(build, work, nres, nsites, seed, pred_err)
    ideal = [p["ideal"] for p in peaks] if IDEAL_RUN else []
    print("%s\n" % title)
    print("| probability | peaks | choice right | calibration error | peaks at >= 0.9 | right of those |" +
          (IDEAL_HEAD if ideal else ""))
    print("|---|---|---|---|---|---|" + ("---|---|---|" if ideal else ""))
    print(summary("walk frequency", [p["walk"] for p in peaks]) + (" | | |" if ideal else ""))
    posterior = [p["posterior"] for p in peaks]
    print(summary("posterior", posterior) + beside_ideal(posterior, ideal))
    optimum = sum(p["optimum"] for p in peaks) / len(peaks)
    print("\nexact optimum of the walk's energy: choice right for %.1f %%\n" % (100 * optimum))


def pooled_runs(build, work, sets, flags):
    """Every set's (right, probability) pairs, pooled, each set's f, and the ideal's pairs, pooled."""
    pairs, fs, ideal = [], [], []
    for nres, nsites, seeds in sets:
        for seed in seeds:
            p, f, i = run_posterior(build, work, nres, nsites, seed, flags)
            pairs += p
            fs.append(f)
            ideal += i
    return pairs, fs, ideal


def stress_table(build, sets):
    print("Stress kinds, posterior alone, pooled over %s\n" %
          ", ".join("%d x %d (%d sets)" % (n, s, len(seeds)) for n, s, seeds in sets))
    print("| data | peaks | choice right | calibration error | peaks at >= 0.9 | right of those | f fitted |" +
          (IDEAL_HEAD if IDEAL_RUN else ""))
    print("|---|---|---|---|---|---|---|" + ("---|---|---|" if IDEAL_RUN else ""))
    pooled, pooled_ideal = [], []
    with tempfile.TemporaryDirectory() as work:
        for name, flags in STRESS:
            if KINDS and not any(k in name for k in KINDS):
                continue
            pairs, fs, ideal = pooled_runs(build, work, sets, flags)
            if name != "no stress":
                pooled += pairs
                pooled_ideal += ideal
            print("%s %.2f |%s" % (summary(name, pairs), statistics.median(fs), beside_ideal(pairs, ideal)))
        print("%s |%s" % (summary("pooled stress kinds", pooled), beside_ideal(pooled, pooled_ideal)))
        nulls, fs, _ = pooled_runs(build, work, sets, NULL)
        half = sum(p >= 0.5 for _, p in nulls)
        print("\nShuffled predictions (no information): %d of %d peaks at >= 0.5 (%.1f %%), %d at >= 0.9; "
              "f fitted %.2f\n" % (half, len(nulls), 100 * half / len(nulls), sum(p >= 0.9 for _, p in nulls),
                                   statistics.median(fs)))


def added_time(build):
    binary = os.path.join(build, "preassign")
    with tempfile.TemporaryDirectory() as work:
        sim, obs, _ = generate(work, 800, 20, 1, [])
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
    global IDEAL_RUN, KINDS
    args = sys.argv[1:]
    for a in args:
        if a.startswith("--kinds="):
            KINDS = a[len("--kinds="):].split(";")
    quick = "--quick" in args
    stress_only = "--stress-only" in args
    no_ideal = "--no-ideal" in args
    args = [a for a in args if not a.startswith("--")]
    build = args[0] if args else "build"
    if not no_ideal:
        python, sampler = numpy_python(), os.path.join(build, "bench", "sample_costs")
        if python is None:
            sys.exit("calibration.py: the ideal needs numpy (apt-get install python3-numpy), or give --no-ideal")
        if not os.path.exists(sampler):
            sys.exit("calibration.py: %s is missing: build the target sample_costs, or give --no-ideal" % sampler)
        IDEAL_RUN = (python, sampler)
    if quick:
        stress_table(build, STRESS_QUICK)
        if not stress_only:
            table(build, QUICK, "Quick: 120 x 5 and 200 x 8, prediction error 30 %")
        return
    if "--no-stress" not in sys.argv:
        stress_table(build, STRESS_SETS)
    if stress_only:
        return
    table(build, SETS, "Prediction error 30 %, sizes 120 x 5 to 800 x 20")
    table(build, SETS_40, "Prediction error 40 %, sizes 120 x 5 to 800 x 20")
    added_time(build)


if __name__ == "__main__":
    main()
