// Pseudocontact shifts as labs keep them: a table per metal (label, optional
// atom, ppm, optional error), and the pairing of a diamagnetic with a
// paramagnetic peak list along the diagonal on which a PCS moves a peak.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "peaks/lists.h"

// The mark for no value in a profile; no PCS is -999 ppm.
inline constexpr double kNoPcs = -999.0;

// A PCS and its error in ppm; kNoPcs where not measured, error 0 where not given.
struct PcsValue {
    double ppm = kNoPcs, err = 0.0;
};

// One label's values in one table: its 1H and its heavy atom's (15N or 13C).
struct PcsRow {
    std::string label;
    PcsValue h, x;
    int line = 0;  // where the label first appears
};

struct PcsTable {
    std::string path;
    std::vector<PcsRow> rows;        // labels in order of first appearance
    std::vector<std::string> notes;  // a header line skipped
};

// Reads `label ppm [error]` (1H) or `label atom ppm [error]` (the atom's
// first letter: H for 1H, N or C for the heavy atom), told apart by whether
// the second field is a number. '#' starts a comment, commas separate like
// spaces, "nan" is no value, a first line whose value field is a word is a
// header. Throws Failure "FILE:LINE: reason": a value with a unit, an error
// below 0, an atom neither H nor N/C, a label given twice for one atom kind,
// a table with no label at all ("FILE: holds no PCS").
PcsTable read_pcs_table(std::string_view text, const std::string& path);

// How a diamagnetic list's peaks found their paramagnetic partners.
struct DiagonalPairs {
    std::vector<int> partner;         // per diamagnetic peak: its paramagnetic peak, or -1
    int by_label = 0, by_position = 0;
    std::vector<int> ambiguous;       // diamagnetic peaks with two partners about equally likely
    std::vector<int> alone;           // diamagnetic peaks with no partner in reach
};

// Pairs by identical label where both peaks carry one; the rest by position:
// a peak moved by a PCS lies on the diagonal through its diamagnetic place
// (its 1H and heavy-atom PCS are nearly equal in ppm), so a partner's offset
// (dH, dX) must lie within `tol` ppm (perpendicular) of dH = dX, with |dH|
// and |dX| at most `max_shift` ppm. One to one, the least ambiguous peak
// first; a peak whose second-nearest partner is no more than `tol` further
// from the diagonal than its nearest is ambiguous and left unpaired.
DiagonalPairs pair_on_diagonal(const PeakList& dia, const PeakList& para, double tol, double max_shift);
