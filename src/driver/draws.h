// The posterior averaged over draws of fitted labels (predict --draws): each
// draw's predictions give a posterior of their own, and a peak's probability
// is their mean, so that where a label may be is not taken as known.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "posterior/posterior.h"
#include "profiles/profile.h"
#include "profiles/reader.h"

// Throws Failure "NAME: entry K is WHAT X where the PREs' file has Y" unless
// `theirs` lists `ours`' first n entries in their order.
void check_same_entries(const ProfileTable& ours, const ProfileTable& theirs, int n, const std::string& name,
                        const char* what);

// The draws of a file, each checked against the simulated file `sim`
// (`simr` as read): the same profiles and records, and in every profile the
// same residues and types. Throws Failure.
std::vector<Draw> read_draws(const std::string& name, const ProfileTable& sim, const ReadResult& simr);

// p (made from the best fit) with its probabilities replaced by the mean of
// the draws' posteriors, each made by `posterior_of` from draw k's table as
// read (each sampled with a stream of its own, so that their sampling errors
// are independent); p keeps its own error model, optimum and line. Its
// sampling error is the draws' in quadrature over their number, settled
// within kMarginalTolerance, failed where one failed; its sweeps, theirs.
void average_over_draws(
    Posterior& p, const std::vector<Draw>& draws, const std::string& name,
    const std::function<Posterior(const ProfileTable& sim, const ReadResult& simr, int k)>& posterior_of);
