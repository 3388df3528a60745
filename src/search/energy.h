// The energy of the current and of the swapped pairing of two peaks: PRE
// squares summed profile by profile, plus the Leu/Val window penalty taken
// from profile 0. The terms defined here are the only definition of the
// energy; the walk's fast form and the exact optimum are built from them.
#pragma once

#include "profiles/profile.h"

// The 13C methyl shift windows of the two residue types, and the steepness
// of the penalty outside them: the walk's hard rule. The posterior weighs
// shifts by a density instead (posterior/shifts.h).
inline constexpr double kLeuLowest = 21.32;
inline constexpr double kValHighest = 24.66;
inline constexpr double kWindowPenalty = 1000000;

struct SwapEnergy {
    double cur = 0.0;
    double swp = 0.0;
};

// How far a peak's tested value x lies outside the window of residue type t;
// 0 inside the window (its edges included) and for an untyped residue.
inline double window_excess(int t, double x) {
    if (t == kLeu && x < kLeuLowest) return x - kLeuLowest;
    if (t == kVal && x > kValHighest) return x - kValHighest;
    return 0.0;
}

// Penalty of a residue of type t paired with a peak whose tested value is x.
inline double type_penalty(int t, double x) {
    const double d = window_excess(t, x);
    return d * d * kWindowPenalty;
}

// The PRE term of one measured value against one prediction.
inline double pre_term(double predicted, double measured) {
    const double d = predicted - measured;
    return d * d;
}

// The plain form, straight from the tables; the walk uses EnergyModel, which
// the tests hold bit-identical to this.
SwapEnergy swap_energy(int M, int N, const int* assign, const ProfileTable& sim, const ProfileTable& obs,
                       int numprofiles);

// The cost of peak j on residue r alone: its PRE terms over the profiles
// where it was measured, in profile order, plus the type penalty. An
// assignment's energy is the sum of its peaks' costs.
double peak_cost(const ProfileTable& sim, const ProfileTable& obs, int numprofiles, int j, int r);
