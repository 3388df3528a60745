// Draws of a fitted label from its own likelihood, so that a posterior can
// average over where the label may be instead of taking its best place as
// known: predictions fitted to the data it is then run against are surer
// than they should be by just that uncertainty.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "fit/label.h"

namespace label {

// `count` parameter vectors drawn from exp(-objective / 2), the objective
// being -2 ln of likelihood times prior, by a random-walk Metropolis chain
// started at `best` (near the objective's minimum), its steps shaped by the
// objective's curvature there (finite differences; a diagonal fallback where
// that is not positive definite). Reproducible for a given `seed`. Where the
// objective is not finite at `best`, returns `count` copies of it.
std::vector<Params> draws(const std::function<double(const Params&)>& objective, const Params& best, int count,
                          uint64_t seed);

}  // namespace label
