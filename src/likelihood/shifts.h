// What a methyl 13C shift says about the residue type, for the posterior:
// a normal density per type around published averages, mixed with a small
// uniform share for outliers, so that no pairing is ever ruled out. The walk
// has a different model, hard windows with a steep penalty (search/energy.h).
#pragma once

// Averages and spreads of the methyl 13C shifts, in ppm, after the BMRB's
// chemical shift statistics for the whole database (bmrb.io, "statistics
// calculated for all chemical shifts"): Leu Cd1 about 24.7 +- 1.6 and Cd2
// about 24.1 +- 1.8, Val Cg1 about 21.5 +- 1.4 and Cg2 about 21.3 +- 1.5.
// A peak may be either methyl of its residue, so each type takes the mean of
// its two and a spread that covers both.
inline constexpr double kLeuShiftMean = 24.4;
inline constexpr double kLeuShiftSd = 1.75;
inline constexpr double kValShiftMean = 21.4;
inline constexpr double kValShiftSd = 1.5;

// Shifts of misassigned or unusual methyls, and of residues of no known type,
// are taken as flat over the methyl region.
inline constexpr double kShiftRange = 25.0;    // ppm, about 8 to 33
inline constexpr double kShiftOutliers = 0.03;  // share of typed peaks far from their type's mean

// -2 ln p(x | type): kLeu, kVal, anything else no type (flat).
double shift_cost(int type, double x);
