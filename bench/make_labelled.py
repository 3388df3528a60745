#!/usr/bin/env python3
"""Truth-known PRE ratios from a real structure with spin labels placed off
where a static model would put them: for measuring the label fit.

For each site, the label's centre is drawn in its residue's frame (origin CB,
axes along CA->CB, towards N, and their cross product), 5 to 8 A from CB on
the far side from CA, and moves with the residue in every model. Gamma2 =
K <r^-6> (4 tau_c + 3 tau_c / (1 + w^2 tau_c^2)) over the models (and, for a
methyl residue's mean, its two methyls), then Ipara/Idia = R2 exp(-Gamma2 t)
/ (R2 + Gamma2) plus normal noise; a share of the values is missing (nan),
and a site's own residue always is. The nuclei are the ones `preassign
predict` chooses with the same options, in the same order.

Writes, in OUTDIR: ratios_SITE.dat (label = residue number, peaks in one
shuffled order), truth_sim.txt (the simulated-profile file from the true
centres, noise free), truth_centres.txt (each site's centre in its residue
frame) and truth.txt ("peak_label residue_number" lines).

With --ensemble K a site's label is K points instead of one (a nitroxide on
its flexible linker): the first drawn as above, the others 2 to 5 A from it,
4 to 9 A from CB, on the far side from CA; Gamma2 is their weighted mean,
weights from a flat Dirichlet held at 0.1 or more. truth_centres.txt then
has a line per point, "SITE x y z weight". --chain keeps one chain's nuclei,
as predict's --chain does; a structure without H gets amide H placed as
predict places them.

Usage: make_labelled.py STRUCTURE OUTDIR --sites A:17,A:36 [--nuclei amide|methyl]
       [--untyped] [--each] [--noise 0.05] [--missing 0.07] [--seed 1]
       [--tau-c 2] [--field 750] [--r2 12.6] [--delay 0.01] [--ensemble 1]
       [--chain A]
"""
import argparse
import math
import os
import random

K = 1.23e16


def read_pdb(path):
    models, current = [], {}
    for line in open(path):
        rec = line[:6]
        if rec.startswith("MODEL"):
            current = {}
        elif rec.startswith("ENDMDL"):
            models.append(current)
            current = {}
        elif rec in ("ATOM  ", "HETATM"):
            if line[16] not in (" ", "A"):
                continue
            key = (line[21], int(line[22:26]), line[26])
            res = current.setdefault(key, {"name": line[17:20].strip(), "atoms": {}})
            res["atoms"].setdefault(line[12:16].strip(),
                                    (float(line[30:38]), float(line[38:46]), float(line[46:54])))
    if current:
        models.append(current)
    return models


def sub(a, b):
    return (a[0] - b[0], a[1] - b[1], a[2] - b[2])


def unit(a):
    n = math.sqrt(sum(x * x for x in a))
    return tuple(x / n for x in a)


def cross(a, b):
    return (a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0])


def frame(res):
    at = res["atoms"]
    ca, n = at["CA"], at["N"]
    if "CB" in at:
        cb = at["CB"]
    else:  # Gly: CB from N, CA, C by ideal geometry
        b, c = sub(ca, n), sub(at["C"], ca)
        a = cross(b, c)
        cb = tuple(-0.58273431 * a[i] + 0.56802827 * b[i] - 0.54067466 * c[i] + ca[i] for i in range(3))
    e1 = unit(sub(cb, ca))
    tn = sub(n, ca)
    d = sum(tn[i] * e1[i] for i in range(3))
    e2 = unit(tuple(tn[i] - d * e1[i] for i in range(3)))
    return cb, e1, e2, cross(e1, e2)


def place_amide_h(models):
    """A structure without H (X-ray) gets backbone H as predict places them:
    1.01 A from N on the bisector of C(i-1)->N and CA->N, none on Pro, a
    chain's first residue, or across a break (C-N above 2 A)."""
    for m in models:
        if any("H" in r["atoms"] or "HN" in r["atoms"] for r in m.values()):
            continue
        prev = {}
        for key, res in m.items():
            at, before = res["atoms"], prev.get(key[0])
            prev[key[0]] = res
            if res["name"] == "PRO" or before is None or not all(x in at for x in ("N", "CA")) or "C" not in before["atoms"]:
                continue
            n, ca, c = at["N"], at["CA"], before["atoms"]["C"]
            if math.dist(n, c) > 2.0:
                continue
            a, b = unit(sub(n, c)), unit(sub(n, ca))
            d = unit(tuple(a[i] + b[i] for i in range(3)))
            at["H"] = tuple(n[i] + 1.01 * d[i] for i in range(3))


def nuclei(models, kind, untyped, each, chain=None):
    """(residue key, number, type, atom names) in file order, as predict picks them."""
    out = []
    for key, res in models[0].items():
        if chain is not None and key[0] != chain:
            continue
        name, at = res["name"], res["atoms"]
        if kind == "amide":
            if name != "PRO":
                h = "H" if "H" in at else "HN" if "HN" in at else None
                if h:
                    out.append((key, key[1], 0, [h]))
            continue
        if name in ("LEU", "VAL"):
            pair = ["CD1", "CD2"] if name == "LEU" else ["CG1", "CG2"]
            t = 1 if name == "LEU" else 2
            if all(p in at for p in pair):
                if each:
                    out += [(key, key[1], t, [pair[0]]), (key, key[1], t, [pair[1]])]
                else:
                    out.append((key, key[1], t, pair))
        elif untyped:
            single = {"ILE": "CD1", "MET": "CE", "ALA": "CB", "THR": "CG2"}.get(name)
            if single and single in at:
                out.append((key, key[1], 0, [single]))
    return out


def main():
    p = argparse.ArgumentParser()
    p.add_argument("structure")
    p.add_argument("outdir")
    p.add_argument("--sites", required=True)
    p.add_argument("--nuclei", default="methyl")
    p.add_argument("--untyped", action="store_true")
    p.add_argument("--each", action="store_true")
    p.add_argument("--noise", type=float, default=0.05)
    p.add_argument("--missing", type=float, default=0.07)
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--tau-c", type=float, default=2.0)
    p.add_argument("--field", type=float, default=750.0)
    p.add_argument("--r2", type=float, default=12.6)
    p.add_argument("--delay", type=float, default=0.01)
    p.add_argument("--ensemble", type=int, default=1)
    p.add_argument("--chain", default=None)
    a = p.parse_args()
    rng = random.Random(a.seed)
    models = read_pdb(a.structure)
    if a.nuclei == "amide":
        place_amide_h(models)
    picks = nuclei(models, a.nuclei, a.untyped, a.each, a.chain)
    t, w = a.tau_c * 1e-9, 2 * math.pi * a.field * 1e6
    factor = K * (4 * t + 3 * t / (1 + w * w * t * t))
    sites = [(s.split(":")[0], int(s.split(":")[1])) for s in a.sites.split(",")]
    order = list(range(len(picks)))
    rng.shuffle(order)
    os.makedirs(a.outdir, exist_ok=True)
    truth_sim = []
    centres_out = []
    for chain, number in sites:
        key = (chain, number, " ")
        # The true centre, in the residue's frame.
        while True:
            v = [rng.uniform(-1, 1) for _ in range(3)]
            nv = math.sqrt(sum(x * x for x in v))
            if 1e-3 < nv <= 1:
                break
        d = rng.uniform(5.0, 8.0)
        u = (abs(v[0]) / nv * d, v[1] / nv * d, v[2] / nv * d)
        points, weights = [u], [1.0]
        if a.ensemble > 1:
            while len(points) < a.ensemble:
                q = tuple(u[i] + rng.uniform(-5, 5) for i in range(3))
                apart, reach = math.dist(q, u), math.sqrt(sum(x * x for x in q))
                if q[0] >= 0 and 2 <= apart <= 5 and 4 <= reach <= 9:
                    points.append(q)
            while True:
                weights = [rng.expovariate(1.0) for _ in points]
                weights = [x / sum(weights) for x in weights]
                if min(weights) >= 0.1:
                    break
            for q, wq in zip(points, weights):
                centres_out.append("%s:%d %.3f %.3f %.3f %.3f\n" % (chain, number, q[0], q[1], q[2], wq))
        else:
            centres_out.append("%s:%d %.3f %.3f %.3f\n" % (chain, number, u[0], u[1], u[2]))
        centres = []  # per model, the label's points
        for m in models:
            cb, e1, e2, e3 = frame(m[key])
            centres.append([tuple(cb[i] + q[0] * e1[i] + q[1] * e2[i] + q[2] * e3[i] for i in range(3))
                            for q in points])
        gammas = []
        for pkey, num, typ, atoms in picks:
            total, count = 0.0, 0
            for m, cs in zip(models, centres):
                if pkey not in m or not all(x in m[pkey]["atoms"] for x in atoms):
                    continue
                s = 0.0
                for x in atoms:
                    for c, wq in zip(cs, weights):
                        r2 = max(sum(q * q for q in sub(m[pkey]["atoms"][x], c)), 1e-6)
                        s += wq / r2 ** 3
                total += s / len(atoms)
                count += 1
            gammas.append(factor * total / count)
            truth_sim.append("%d %r %d\n" % (num, factor * total / count, typ))
        with open(os.path.join(a.outdir, "ratios_%s%d.dat" % (chain, number)), "w") as f:
            for i in order:
                num = picks[i][1]
                label = "%d" % num if not a.each else "%d%s" % (num, "ab"[sum(1 for q in picks[:i] if q[1] == num)])
                g = gammas[i]
                if num == number or rng.random() < a.missing:
                    f.write("%s nan\n" % label)
                    continue
                ratio = a.r2 * math.exp(-g * a.delay) / (a.r2 + g) + rng.gauss(0, a.noise)
                f.write("%s %.4f\n" % (label, ratio))
    with open(os.path.join(a.outdir, "truth_centres.txt"), "w") as f:
        f.write("".join(centres_out))
    with open(os.path.join(a.outdir, "truth_sim.txt"), "w") as f:
        f.write("".join(truth_sim))
    with open(os.path.join(a.outdir, "truth.txt"), "w") as f:
        for i in order:
            num = picks[i][1]
            label = "%d" % num if not a.each else "%d%s" % (num, "ab"[sum(1 for q in picks[:i] if q[1] == num)])
            f.write("%s %d %d\n" % (label, num, i))


if __name__ == "__main__":
    main()
