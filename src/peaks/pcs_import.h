// The experimental-profile file of pseudocontact shifts: per metal, in the
// order given, a 1H profile and a heavy-atom profile, from PCS tables or
// from a diamagnetic and a paramagnetic list; peak ids from the tables'
// labels or the first diamagnetic list, or from an earlier import's map.
#pragma once

#include <string>
#include <vector>

#include "peaks/import.h"
#include "peaks/pcs.h"
#include "peaks/peak_map.h"

struct PcsLists {
    PeakList dia, para;
};

struct PcsOptions {
    double tol_h = 0.03, tol_x = 0.3;  // ppm: a diamagnetic peak found in another metal's list, or at a map's shifts
    double diagonal = 0.05;            // ppm: how far from the diagonal a paramagnetic partner may lie
    double max_shift = 2.0;            // ppm: the largest PCS, in either dimension
};

// Where the ids come from when an earlier import's map is given: its peaks,
// in its order and with its ids, come first; `peaks` empty for no map.
struct IdSource {
    std::string path;
    std::vector<MapPeak> peaks;
};

// Ids in order of first appearance over all tables (the union: a label only
// a later table has gets the next id). Every profile lists every peak,
// -999 where a metal has no value for it; the shift columns are the map's
// where it gives them, else 23 and 0, as for a ratio table.
Imported import_pcs_tables(const std::vector<PcsTable>& tables, const IdSource& ids);

// Each metal's PCS is paramagnetic minus diamagnetic, 1H and heavy atom,
// its error 0 (lists give none). Ids: the first metal's diamagnetic peaks in
// order, then any later metal's that match none before them. Throws Failure
// "FILE: reason" where the peaks outgrow a profile.
Imported import_pcs_lists(const std::vector<PcsLists>& metals, const PcsOptions& o, const IdSource& ids);
