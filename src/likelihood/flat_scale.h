// A profile's scale on which measurement noise is flat: h(PRE), the integral
// of dPRE / e(PRE), e the error the profile's own values carry at each size.
// For PREs from intensity ratios with constant noise, h is the ratio's loss
// over that noise: near full broadening a PRE far too large costs only what
// a ratio near zero allows, not what its own size says.
#pragma once

#include <utility>
#include <vector>

struct FlatScale {
    struct Knot {
        double v, h, slope;  // a measured PRE (s^-1), h there, 1 / e from the knot before up to it
    };
    std::vector<Knot> knots;  // by value; never empty once built
    // Beyond the largest value: on with its slope, or (`saturates`) only as
    // log(1 + x), where the ratio has little left to lose.
    bool saturates = false;

    // h of a PRE in s^-1 (dimensionless); a NaN stays NaN.
    double operator()(double v) const;
    // The error e(v) that the scale takes at v, s^-1.
    double error_at(double v) const;
};

// The scale of a profile's two-sided values, (PRE, error) in s^-1, errors
// positive. `monotone`: e is the running largest error, so a value's error
// is never below a smaller value's; else e is the least-squares fit of ln e
// that never falls (one weak peak's large error then widens its neighbours
// a little, not every larger value). With no values, e = 1 from 0.
FlatScale flat_scale(std::vector<std::pair<double, double>> values, bool monotone, bool saturates);
