// The annealing walk over assignments: swap moves accepted by the Metropolis
// rule while beta rises from 0.001 to 0.5, then equilibration and a
// statistics phase that counts which residue each peak holds.
#pragma once

#include <cmath>
#include <functional>
#include <vector>

#include "profiles/profile.h"
#include "search/rng.h"

inline constexpr int kEquilSteps = 10000;
inline constexpr int kStatSteps = 1000000;

struct CAnnealingSampler {
    std::vector<int> assign;
    std::vector<double> visits;  // [peak * kMaxEntries + residue]
    double beta = 0.001;
    int step = 0, ncool = 0, nequil = 0, nstat = 0;
    bool equilibrated = false;
    double E_cur = 0.0, E_swap = 0.0;
    int exact_pairs = 0;  // pairs whose exact energies the bounds left necessary

    double& visit(int peak, int res) { return visits[size_t(peak) * kMaxEntries + res]; }
    double visit(int peak, int res) const { return visits[size_t(peak) * kMaxEntries + res]; }
    int samples() const { return nstat - 1; }
};

// A peak index from a uniform draw: floor(maxres * u). A draw of exactly 1
// would give one past the last peak, so it is held to the last.
inline int pick_peak(int maxres, double u) {
    // The product is never negative, so truncation is the floor.
    const int k = static_cast<int>(maxres * u);
    return (k >= maxres && maxres > 0) ? maxres - 1 : k;
}

// exp(x) > u for a uniform draw u, without exp where the answer is certain:
// exp(-22) is below the smallest non-zero draw, 1 / 2147483647, so below
// that only a draw of 0 can accept, and only while exp has not underflowed.
inline bool metropolis_accepts(double x, double u) {
    return x > -22.0 ? std::exp(x) > u : u == 0.0 && std::exp(x) > 0.0;
}

// Runs the whole schedule, from a fresh state, over the shape's peaks and
// profiles. The set-up's draw goes to `first_draw` before the walk begins.
CAnnealingSampler run_sampler(const ProfileTable& sim, const ProfileTable& obs, Shape shape, Rng& rng,
                              const std::function<void(double)>& first_draw = {});
