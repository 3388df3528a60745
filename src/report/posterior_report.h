// With --posterior: one line on standard output that says how well the
// model fits and how sure it is, and warnings where its numbers deserve
// less trust.
#pragma once

#include <string>

#include "io/output.h"
#include "posterior/posterior.h"

// Above this relative error of the predictions, the probabilities are only
// roughly calibrated.
inline constexpr double kPoorFit = 0.3;

void write_posterior(const Posterior& p, const std::string& obsname, Out& out, Out& err);
