#!/usr/bin/python3
# Scores a --posterior --table against the truth ("peak_id residue_number" lines, -1 for a peak
# that is no residue's): peaks, choices right, peaks at >= 0.9 and right of those, calibration error
# (ten bins of the stated probability, |right - stated| summed over bins, over the peaks).
#   bench/score_table.py TABLE TRUTH [LABEL]
import sys


def score(table, truth):
    rows = [l.rstrip("\n").split("\t") for l in open(table)]
    head, rows = rows[0], rows[1:]
    known = dict(l.split()[:2] for l in open(truth) if l.strip())
    pid, res, prob = head.index("peak_id"), head.index("posterior_residue_number"), head.index("posterior_probability")
    n = right = sure = sure_right = 0
    bins = [[0, 0.0, 0.0] for _ in range(10)]
    for r in rows:
        if r[pid] == "0" or r[pid] not in known:
            continue
        n += 1
        ok = r[res] == known[r[pid]]
        right += ok
        p = float(r[prob]) if r[prob] else 0.0
        if p >= 0.9:
            sure += 1
            sure_right += ok
        b = bins[min(int(p * 10), 9)]
        b[0] += 1
        b[1] += ok
        b[2] += p
    cal = sum(abs(b[1] - b[2]) for b in bins) / max(n, 1)
    return n, right, sure, sure_right, cal


if __name__ == "__main__":
    n, right, sure, sure_right, cal = score(sys.argv[1], sys.argv[2])
    label = sys.argv[3] if len(sys.argv) > 3 else sys.argv[1]
    print("| %s | %d | %d | %d | %d | %.3f |" % (label, n, right, sure, sure_right, cal))
