// The posterior's tables and the cost of every (peak, residue) pair: -2 ln
// of its likelihood over the profiles and the shift, with a share of values
// that the predictions say nothing about; and the two fits that the costs
// need, f at a matching and that share.
#pragma once

#include <utility>
#include <vector>

#include "posterior/matchings.h"
#include "posterior/posterior.h"
#include "posterior/weighing.h"

namespace post {

// The tables as the posterior sees them, per profile and entry.
struct Tables {
    int np = 0, peaks = 0, residues = 0;
    std::vector<double> meas, err, pred;  // [m * peaks + j], [m * residues + r]
    std::vector<char> measured, clipped;
    std::vector<double> shift;            // [j * 3 + type class]
    std::vector<int> cls;                 // residue's type class: 0 none, 1 Leu, 2 Val
    int defaulted = 0;
    int values = 0;                       // measured values, clipped ones included
};

Tables gather(const PosteriorData& d);

// The peaks and residues that no known pair takes, and their costs. A peak
// that no residue explains looks like a residue drawn at random: its
// `alone` cost is its mean likelihood.
struct Free : CostMatrix {
    std::vector<int> rows, cols;  // real peak and residue indices
    // [i * np + m]: the mean of the value's likelihood over the residues, the
    // likelihood of a value that the predictions say nothing about.
    std::vector<double> mean;
};

Free free_problem(const Tables& t, const PosteriorOptions& opt);

// -2 ln of (peak j, residue r)'s likelihood with no share of unrelated values.
double pair_cost(const Tables& t, double f, int j, int r);

// The costs with eta = 0; with `means`, each value's mean likelihood too.
void fill_costs(const Tables& t, double f, Free& q, bool means = false);

// The costs with a share eta of values that the predictions say nothing about.
void fill_mixed_costs(const Tables& t, double f, double eta, Free& q);

// f of largest likelihood for these (peak, residue) pairs.
double fit_model_error(const Tables& t, const std::vector<std::pair<int, int>>& pairs);

// The share eta on held-out profiles, from the marginals `b` over the pairs
// of kernel `k`.
double held_out(const Tables& t, const Free& q, const Kernel& k, const Marginals& b, double f);

// With one profile: the share of gross errors at the best matching `match`.
double gross_share(const Tables& t, const Free& q, const std::vector<int>& match, double f);

}  // namespace post
