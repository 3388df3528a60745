// From a cost per (peak, residue) pair to the posterior over partial
// matchings: the priors on pairs and on entries left alone, the most likely
// matching, and the sampled marginals. Whatever model made the costs.
#pragma once

#include <cstdint>
#include <vector>

#include "posterior/matchings.h"

// -2 ln of each pair's likelihood, [i * R + k], and of each peak's
// likelihood when it is no residue's.
struct CostMatrix {
    int P = 0, R = 0;
    std::vector<double> cost;
    std::vector<double> alone;
};

// What is expected before the data are seen, as costs (-2 ln): a residue
// gives a peak with probability `seen`, and `extras` peaks, on average, are
// no residue's (methyls the predictions leave out, artefacts). A matching's
// weight is then the product of seen x L over its pairs, extras x L0 over
// the peaks left alone and (1 - seen) over the residues left alone.
struct Priors {
    double pair = 0.0, peak_alone = 0.0, residue_alone = 0.0;
};

inline constexpr double kExtraShare = 0.02;  // of the peaks, beyond those more than the residues

Priors matching_priors(int P, int R, double extra_share = kExtraShare);

// The most likely partial matching: per row the column, or -1; empty when
// some costs are not finite.
std::vector<int> best_matching(const CostMatrix& q, const Priors& pr);

// Pairs below exp(-kDrop) of their row's best option are left out: they
// stand for probabilities of that order.
inline constexpr double kDrop = 10.0;

// The marginals, sampled from `start` (a matching per row) with `seed`;
// `k` gets the pairs kept, in the order of the result's `pair`.
Marginals sample_marginals(const CostMatrix& q, const Priors& pr, const std::vector<int>& start, long sweeps,
                           long most, double tolerance, uint64_t seed, Kernel& k);
