// With --posterior: one line on standard output that says how well the
// model fits and how sure it is, and warnings where its numbers deserve
// less trust.
#pragma once

#include <string>

#include "io/output.h"
#include "posterior/posterior.h"

// Above this relative error of the predictions, few peaks can be certain.
inline constexpr double kPoorFit = 0.3;
// A profile's fitted factor beyond this (or below its inverse) is named.
inline constexpr double kMostScale = 1.5;
// From this share of measured values unrelated to the predictions on, the
// predictions say little.
inline constexpr double kUninformative = 0.1;
// Outside this range of chi2 per measured value (about 1 on truth-known
// data; 1.8 with the error column halved, 0.5 with it doubled), the error
// column is probably not what it claims.
inline constexpr double kLeastChi2 = 0.6;
inline constexpr double kMostChi2 = 1.5;

void write_posterior(const Posterior& p, const std::string& obsname, Out& out, Out& err);
