// A posterior over assignments that accounts for the errors of both the
// measurements and the predictions: a cost per (peak, residue) that is -2 ln
// of the likelihood, a relative prediction error fitted at the exact
// optimum, and marginals from balancing exp(-C) to a doubly stochastic
// matrix.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "likelihood/pre_model.h"
#include "posterior/matchings.h"
#include "posterior/terms.h"
#include "profiles/profile.h"
#include "profiles/reader.h"

// How many peaks and residues the posterior sees: the entries that have a
// record in their file, within the searched range, over the profiles that
// both files hold.
struct PosteriorExtent {
    int profiles = 0, peaks = 0, residues = 0;
};
PosteriorExtent posterior_extent(const ReadResult& sim, const ReadResult& obs, Shape shape);

// The posterior's own copy of the clipped tables. Entries past a profile's
// own records are not measurements (experimental) or predict 0 (simulated),
// so the copy that a trailing blank leaves is never read as a peak.
struct PosteriorData {
    int profiles = 0, peaks = 0, residues = 0;
    std::vector<double> meas, err;  // [m * peaks + j]; MISSING_PRE where not measured
    std::vector<double> pred;       // [m * residues + r]
    std::vector<double> shift;      // per peak: the tested value (experimental profile 0)
    std::vector<int> type;          // per residue: the type code (simulated profile 0)
    // The ceiling's cap: a measurement at it was clipped, and says only that
    // the PRE is at least the largest one measured (largest_measured).
    double cap = 0.0;
    // Per profile, where non-empty: 1 for pseudocontact shifts (ppm, signed),
    // which are weighed on a scale of their own.
    std::vector<char> pcs;
};

// Appends the profiles of a second pair of tables, pseudocontact shifts,
// to `d`. Throws Failure "FILE: reason" where their peaks or residues are
// not d's, in d's order, or the profiles come to more than kMaxProfiles.
void append_shifts(PosteriorData& d, const ProfileTable& sim, const ReadResult& simr, const std::string& simname,
                   const ProfileTable& obs, const ReadResult& obsr, const std::string& obsname);

// What a clipped measurement of `profile` says the PRE is at least: it lost
// more than every peak measured in that spectrum, so the largest PRE
// measured in the profile (s^-1), and as uncertain as that value (its
// error; gather takes the default error of a value that size where it is
// more); profile -1: over all profiles of PREs. Profiles of shifts are left
// out, as is the cap, which may come from a marker value far above any real
// PRE; 0 where nothing is measured. Near the detection limit a ratio of 0.01
// +- 0.1 reads as a PRE of hundreds: a bound taken as sure there, and from
// whichever site's spectrum had the largest, made peaks broadened well
// below it surely no residue's predicted below it.
struct Bound {
    double value = 0.0, error = 0.0;
};
Bound largest_measured(const PosteriorData& d, int profile = -1);

// Made after the ceiling has run, from the clipped tables.
PosteriorData posterior_data(const ProfileTable& sim, const ReadResult& simr, const ProfileTable& obs,
                             const ReadResult& obsr, Shape shape);

struct Posterior;

struct PosteriorOptions {
    double model_error = -1.0;                // f; negative: fitted
    std::vector<std::pair<int, int>> fixed;   // known (peak, residue) pairs
    // Where set, its error model and uninformative shares are taken as they
    // are, not refitted: a draw of fitted labels is judged by the model of
    // the best fit, as its residuals hold the draw's own displacement, which
    // the average over draws already counts.
    const Posterior* held = nullptr;
    // One of this many posteriors whose mean is taken (draws): each samples
    // a share of the sweeps, its error held to sqrt(averaged) times the
    // tolerance, so that their mean is as precise as one posterior.
    int averaged = 1;
    // Which of them: each samples with a stream of its own (0: the one stream
    // of a single posterior), so that their sampling errors are independent.
    int stream = 0;
};

// The largest f that is fitted; at it, the predictions fit too poorly to say how poorly.
inline constexpr double kMaxModelError = 2.0;
// The least f fitted; at it, the predictions fit better than the errors
// allow: errors overstated, or predictions fitted to these very data.
inline constexpr double kLeastFittedError = 0.01;
// With one profile, the least f fitted: its best matching can put the
// values in the predictions' order, which fits their error away (f came out
// at 0.01 on sets whose predictions erred by 30 %, and wrong peaks at 0.97).
// No less than a typical prediction's error is assumed instead.
inline constexpr double kOneProfileLeastError = 0.25;

// The probabilities are taken as settled once each one's standard error,
// from the chain that samples them, is within this.
inline constexpr double kMarginalTolerance = 0.12;

struct Posterior {
    bool computed = false;          // false when some costs are not finite
    int peaks = 0, residues = 0;
    double f = 0.0;
    std::vector<double> scale;      // each profile's factor on its predictions
    bool fitted = false;
    bool f_at_bound = false;        // fitted, and at kMaxModelError
    bool f_at_least = false;        // fitted, and at most kLeastFittedError
    bool f_held = false;            // fitted to one profile, and at kOneProfileLeastError
    bool single_profile = false;    // eta is then the gross errors' share at the best matching
    // The share of measured values that the predictions say nothing about,
    // fitted on held-out profiles: 0 where they foretell the data, 1 where
    // they do no better than chance.
    double eta = 0.0;
    // Profiles of shifts: none, some (beside PREs) or all; their fitted
    // relative error and floor (ppm).
    int shift_profiles = 0, pre_profiles = 0;
    double pcs_f = 0.0, pcs_a = 0.0;
    double shift_power = 0.0;       // the power their likelihood is taken at (1 / how many count as one)
    int values = 0;                 // measured values, clipped ones included
    double chi2_per_value = 0.0;    // at the optimum, over two-sided terms
    Convergence marginals;          // how the sampling of the marginals ended, and how close it came
    int defaulted_errors = 0;       // measured values (not clipped) without a positive error
    int draws = 0;                  // draws of fitted labels the probabilities are averaged over; 0: none
    // [peak * (residues + 1) + residue]; the last column is "unassigned":
    // the peak is no residue's.
    std::vector<double> prob;
    std::vector<int> optimum;       // residue of each peak, -1 unassigned
    std::vector<char> fixed;        // per peak
    post::Model model;              // the error model the probabilities were computed with
    std::vector<double> etas;       // and the uninformative shares, per profile

    // Probabilities that can be given: computed, and their iteration settled.
    bool usable() const { return computed && marginals.status == SampleStatus::Converged; }
    double p(int j, int r) const { return prob[size_t(j) * (residues + 1) + r]; }
    double unassigned(int j) const { return p(j, residues); }
};

Posterior compute_posterior(const PosteriorData& d, const PosteriorOptions& opt);
