// The posterior's tables and the cost of every (peak, residue) pair: -2 ln
// of its likelihood over the profiles and the shift, with a share of values
// that the predictions say nothing about; and the two fits that the costs
// need, f at a matching and that share.
#pragma once

#include <algorithm>
#include <utility>
#include <vector>

#include "posterior/matchings.h"
#include "posterior/posterior.h"
#include "posterior/terms.h"
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
    double typical_error = 1.0;           // the median error of the two-sided PREs
    std::vector<char> pcs;                // per profile, where non-empty: shifts, not PREs
    bool shifts(int m) const { return !pcs.empty() && pcs[size_t(m)]; }
    bool any_shifts() const { return std::any_of(pcs.begin(), pcs.end(), [](char c) { return c != 0; }); }
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

// The measured values and every prediction on the model's scale.
struct Scaled {
    std::vector<Value> value;  // [m * peaks + j], for measured ones
    std::vector<Pred> pred;    // [m * residues + r]
};

Scaled scaled(const Tables& t, const Model& model);

// The costs with eta = 0; with `means`, each value's mean likelihood too.
void fill_costs(const Tables& t, const Model& model, Free& q, bool means = false);

// The costs with each profile's share eta[m] of values that the
// predictions say nothing about.
void fill_mixed_costs(const Tables& t, const Model& model, const std::vector<double>& eta, Free& q);

// Each profile's factor as the quantiles of its measured values and of its
// predictions say, needing no matching: where both lie above the floor c,
// the median ratio of the upper quantiles, else 1.
std::vector<double> starting_scales(const Tables& t, double c);

// The model of largest likelihood for these (peak, residue) pairings, each
// weighed by its chance: f, the floor a and each profile's scale; c is
// kept. Past the `first` call it refines the fit it is given.
struct Pairing {
    int j, r;
    double w;  // its chance: 1 at a matching, the marginal in a posterior
};
void fit_model(const Tables& t, const std::vector<Pairing>& pairs, bool first, Model& model);

// Where each peak's PRE likelihood over all the free residues says the
// matching's floor and profiles' factors are not worth their numbers, the
// model without them; f refitted to that likelihood either way.
void choose_error_model(const Tables& t, const Free& q, Model& model);

// Each profile's share eta on held-out profiles, from the marginals `b`
// over the pairs of kernel `k`, sampled with `model`.
std::vector<double> held_out(const Tables& t, const Free& q, const Kernel& k, const Marginals& b,
                             const Model& model);

// With one profile: the share of gross errors at the best matching `match`.
double gross_share(const Tables& t, const Free& q, const std::vector<int>& match, const Model& model);

}  // namespace post
