#!/usr/bin/python3
# Scores a --posterior --table against the truth ("peak_id residue_number" lines, -1 for a peak
# that is no residue's): peaks, choices right, peaks at >= 0.9 and right of those, calibration error
# (ten bins of the stated probability, |right - stated| summed over bins, over the peaks).
#   bench/score_table.py TABLE TRUTH [LABEL] [--keep FILE]   (--keep appends "stated right" lines)
#   bench/score_table.py --pooled FILE LABEL                  (the row of every peak kept in FILE)
import sys


def judged(table, truth):
    """(stated probability, 1 if right else 0) for each scored peak."""
    rows = [l.rstrip("\n").split("\t") for l in open(table)]
    head, rows = rows[0], rows[1:]
    known = dict(l.split()[:2] for l in open(truth) if l.strip())
    pid, res, prob = head.index("peak_id"), head.index("posterior_residue_number"), head.index("posterior_probability")
    out = []
    for r in rows:
        if r[pid] == "0" or r[pid] not in known:
            continue
        out.append((float(r[prob]) if r[prob] else 0.0, int(r[res] == known[r[pid]])))
    return out


def summary(peaks):
    n = len(peaks)
    right = sum(ok for _, ok in peaks)
    sure = sum(1 for p, _ in peaks if p >= 0.9)
    sure_right = sum(ok for p, ok in peaks if p >= 0.9)
    bins = [[0, 0.0, 0.0] for _ in range(10)]
    for p, ok in peaks:
        b = bins[min(int(p * 10), 9)]
        b[0] += 1
        b[1] += ok
        b[2] += p
    cal = sum(abs(b[1] - b[2]) for b in bins) / max(n, 1)
    return n, right, sure, sure_right, cal


def score(table, truth):
    return summary(judged(table, truth))


if __name__ == "__main__":
    args = sys.argv[1:]
    if args[0] == "--pooled":
        peaks = [(float(p), int(ok)) for p, ok in (l.split() for l in open(args[1]) if l.strip())]
        label = args[2]
    else:
        keep = None
        if "--keep" in args:
            i = args.index("--keep")
            keep = args[i + 1]
            del args[i:i + 2]
        peaks = judged(args[0], args[1])
        label = args[2] if len(args) > 2 else args[0]
        if keep:
            with open(keep, "a") as f:
                f.writelines("%.6g %d\n" % pk for pk in peaks)
    print("| %s | %d | %d | %d | %d | %.3f |" % ((label,) + summary(peaks)))
