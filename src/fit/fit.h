// Spin-label centres fitted jointly with the assignment. Each site's label
// is one point in its residue's frame, or up to three weighted ones where
// the data pay for them, with an amplitude on the formula's Gamma2: four
// unknowns (eight, twelve) against tens to hundreds of peaks. Rounds alternate
// a soft assignment (from the current predictions) with a refit of each
// site to the measured PREs as weighed by it; in the last round a site's
// peaks are weighed mostly by what the other sites say of them, so that
// assignment and centre do not simply agree with each other.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "profiles/profile.h"
#include "profiles/reader.h"
#include "structure/predict.h"

struct FitOptions {
    int rounds = 12;
    int starts = 8;            // random starts per site, besides the pseudo-atom
    double most_spread = 3.0;  // A: starts this far apart and as good mean one point cannot describe the label
    int most_points = 1;       // per label, 1 to 3
    int draws = 0;             // of each label from its likelihood, for a posterior to average over
};

struct SiteFit {
    Point u;                // the centre in the residue frame (A): the points' weighted mean
    Point centre;           // in the first model's coordinates
    std::vector<Point> points;    // the label's points in the residue frame (A), one or more
    std::vector<double> weights;  // theirs, summing to 1
    double distance = 0;    // from CB
    double amplitude = 1;   // on the formula's Gamma2
    double before = 0, after = 0;  // rms residual in measurement errors, unfitted and fitted
    double scale = 0;       // the residuals' fitted scale, in measurement errors
    double spread = 0;      // A: farthest start as good as the best (within 2 of -2 ln L)
    bool kept = true;       // false: the unfitted prediction is used for this site
    std::string why;        // why not kept
};

struct Fitted {
    Prediction prediction;  // fitted sites, and the unfitted ones where not kept
    std::vector<SiteFit> sites;
    bool settled = true;    // false: the centres still moved when the rounds ran out
    // [draw][site][nucleus]: Gamma2 (s^-1) with each kept site's label drawn
    // from its likelihood, the others unfitted; FitOptions::draws of them.
    std::vector<std::vector<std::vector<double>>> draws;
};

// `unfitted` is the prediction of the chosen label model; `obs` the
// experimental tables as read. `progress` gets a line per round.
Fitted fit_labels(const Geometry& g, const PredictOptions& o, const Prediction& unfitted, const ProfileTable& obs,
                  const ReadResult& obsr, const FitOptions& fo, const std::function<void(const std::string&)>& progress);

// Predictions from each draw (p's nuclei, f's draws), in one file: a
// kDrawMark line "K of N" before each draw's simulated profiles.
std::string draws_text(const Fitted& f, const Prediction& p);

// How many draws of the labels predict --draws writes.
inline constexpr int kLabelDraws = 10;

// The fitted centres as pseudo-atoms, one residue per site in each model, to
// view with the structure.
std::string centres_pdb(const Geometry& g, const Fitted& f, const PredictOptions& o);
