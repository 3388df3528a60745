// The experimental-profile file from peak lists: per spin-label site, a
// diamagnetic and a paramagnetic list (or a ratio table), paired peak by
// peak, each pair's intensities turned into Gamma2 with its error. Every
// site's peaks are paired to the first site's diamagnetic list, whose order
// gives the peak ids.
#pragma once

#include <string>
#include <vector>

#include "peaks/lists.h"

struct SiteLists {
    PeakList dia, para;      // para empty for a ratio table
    PeakList dia_b, para_b;  // the second time point's, when two are used
};

struct ImportOptions {
    double tol_h = 0.03, tol_x = 0.3;  // ppm: the pairing tolerances, 1H and 13C/15N
    double r2 = 0.0;        // s^-1: the diamagnetic R2; 0: from each peak's 1H linewidth
    double delay = 0.0;     // s: the one time point's transverse delay
    double r2_mq = 0.0;     // s^-1: > 0 for the methyl-TROSY form's multiple-quantum rate
    double ta = 0.0, tb = 0.0;  // s: two time points, when tb > ta
    double noise = 0.0;     // the lists' noise level (a ratio table's: the ratio's error); 0: none given
};

struct Imported {
    std::string profiles;  // the experimental-profile file
    std::string map;       // tab-separated: peak_id, label, heavy_ppm, proton_ppm
    std::vector<std::string> notes, warnings;
};

// Value written for a peak broadened beyond detection: above 998, which
// the program reads as "at least the largest PRE measured".
inline constexpr double kBroadened = 1000.0;

// For each peak of `a`, its partner in `b` or -1: by identical label where
// both carry one, else the nearest by position within the tolerances (a
// scaled distance below 1), one to one, nearest pairs first. `by_label`
// counts the pairs made by label.
std::vector<int> pair_peaks(const PeakList& a, const PeakList& b, double tol_h, double tol_x, int* by_label);

// Throws Failure "FILE: reason" where a conversion lacks what it needs
// (an R2, heights).
Imported import_sites(const std::vector<SiteLists>& sites, const ImportOptions& o);
