// One measured PRE against one prediction, as the posterior weighs it: a
// Student t whose spread combines the value's error and the predictions'
// relative error f, or a bound for a broadened peak.
#pragma once

#include <cmath>

#include "likelihood/pre_model.h"
#include "profiles/profile.h"

namespace post {

// One measurement against one prediction.
struct Term {
    double two_sided;   // (pred - meas)^2 / s2, 0 for a clipped one
    double cost;
};

// Errors are held to [1e-6, 1e6] s^-1 and PREs scale the prediction's error
// only up to the cap (at most 3010), so a variance lies in [1e-12, 1.1e12].
constexpr double kLeastError = 1e-6;
constexpr double kMostError = 1e6;
static_assert(kMaxProfiles <= 20, "a product over all profiles must stay in range");

// The square of the t's scale (below). A prediction's error has a standard
// deviation of f times the PRE, the larger of the predicted and measured
// one: a prediction far too small (a label nearer than modelled) is as
// likely as one far too large, as for an error that multiplies. The error
// column is taken as a scale, not a standard deviation, which leaves its
// tails wider than it claims: on truth-known data that is what calibrates.
constexpr double kScalePerSd = 0.7071067811865476;  // sqrt((nu - 2) / nu) for nu = 4
inline double variance(double pred, double meas, double err, double f) {
    const double larger = pred > meas ? pred : meas;
    const double fp = kScalePerSd * f * (larger > 0.0 ? larger : 0.0);
    return err * err + fp * fp;
}

static_assert(kResidualDegrees == 4.0, "kScalePerSd and density() are worked out for 4 degrees of freedom");

// Residuals follow Student's t (kResidualDegrees): a normal with the same
// spread gives the few large misfits of real predictions so little chance
// that it is sure of wrong pairings. -2 ln of its density is
//   (nu + 1) ln(1 + d^2 / (nu s2)) + ln s2
// up to a constant. Its two logarithms are taken of products (pair_cost),
// so each factor is held below kMostFactor.
constexpr double kDegrees = kResidualDegrees;
constexpr double kMostFactor = 1e12;

// One measurement against one prediction: the t's squared scale and the
// factor 1 + d^2 / (nu s2), held below kMostFactor.
struct TwoSided {
    double s2, factor;
    // exp(-cost / 2) = 1 / (s (1 + x)^(5/2)).
    double likelihood() const { return 1.0 / (std::sqrt(s2) * factor * factor * std::sqrt(factor)); }
};

inline TwoSided two_sided(double pred, double meas, double err, double f) {
    const double s2 = variance(pred, meas, err, f), d = pred - meas;
    const double factor = 1.0 + d * d / (kDegrees * s2);
    return {s2, factor < kMostFactor ? factor : kMostFactor};
}

// One measurement's share of the two products.
inline void add_two_sided(double pred, double meas, double err, double f, double& variances, double& factors) {
    const TwoSided t = two_sided(pred, meas, err, f);
    variances *= t.s2;
    factors *= t.factor;
}

inline double two_sided_cost(double variances, double factors) {
    return std::log(variances) + (kDegrees + 1.0) * std::log(factors);
}

inline Term term(double pred, double meas, double err, double f, bool clipped) {
    const double s2 = variance(pred, meas, err, f);
    if (clipped) return {0.0, minus_two_ln_phi((pred - meas) / std::sqrt(s2))};
    const double d = pred - meas;
    double variances = 1.0, factors = 1.0;
    add_two_sided(pred, meas, err, f, variances, factors);
    return {d * d / s2, two_sided_cost(variances, factors)};
}

// exp(-cost / 2) of one measurement against one prediction.
inline double density(double pred, double meas, double err, double f, bool clipped) {
    if (!clipped) return two_sided(pred, meas, err, f).likelihood();
    return 0.5 * std::erfc(-(pred - meas) / std::sqrt(2.0 * variance(pred, meas, err, f)));
}

}  // namespace post
