// A profile's scale on which measurement noise is flat: h(PRE), the integral
// of dPRE / e(PRE), e the running largest error of the profile's own values
// (so a value's error is never below a smaller value's). For PREs from
// intensity ratios with constant noise, h is the ratio's loss over that
// noise: near full broadening a PRE far too large costs only what a ratio
// near zero allows, not what its own size says.
#pragma once

#include <utility>
#include <vector>

struct FlatScale {
    struct Knot {
        double v, h, slope;  // a measured PRE (s^-1), h there, 1 / e from the knot before up to it
    };
    std::vector<Knot> knots;  // by value; never empty once built

    // h of a PRE in s^-1 (dimensionless); a NaN stays NaN. Below the least
    // value e is its error; beyond the largest, h grows only as ln(1 + x),
    // where the ratio has little left to lose.
    double operator()(double v) const;
};

// The scale of a profile's two-sided values, (PRE, error) in s^-1, errors
// positive. With no values, e = 1 from 0.
FlatScale flat_scale(std::vector<std::pair<double, double>> values);
