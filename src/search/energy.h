// The energy of the current and of the swapped pairing of two peaks: PRE
// squares summed profile by profile, plus the Leu/Val window penalty taken
// from profile 0.
#pragma once

#include "profiles/profile.h"

struct SwapEnergy {
    double cur = 0.0;
    double swp = 0.0;
};

// Penalty of a residue of type t (1 Leu, 2 Val) paired with a peak whose
// tested value is x.
inline double type_penalty(int t, double x) {
    if (t == 1 && x < 21.32) return (x - 21.32) * (x - 21.32) * 1000000;
    if (t == 2 && x > 24.66) return (x - 24.66) * (x - 24.66) * 1000000;
    return 0.0;
}

// The plain form, straight from the tables; the walk uses EnergyModel, which
// the tests hold bit-identical to this.
SwapEnergy swap_energy(int M, int N, const int* assign, const ProfileTable& sim, const ProfileTable& obs,
                       int numprofiles);
