// The shared terms of the measurement model.
#include "likelihood/pre_model.h"

#include <cmath>

namespace {
constexpr double kLn2Pi = 1.8378770664093453;
}

double pre_error(double pre, double err) { return err > 0.0 ? err : 0.1 * std::fabs(pre) + 0.5; }

double t_cost(double x2) { return (kResidualDegrees + 1.0) * std::log1p(x2 / kResidualDegrees); }

double minus_two_ln_phi(double z) {
    if (z > -30.0) return -2.0 * std::log(0.5 * std::erfc(-z / std::sqrt(2.0)));
    // Far in the lower tail: Phi(z) = phi(z) / -z * (1 - 1/z^2 + 3/z^4 - ...).
    const double z2 = z * z;
    return z2 + kLn2Pi + 2.0 * std::log(-z) - 2.0 * std::log(1.0 - 1.0 / z2 + 3.0 / (z2 * z2));
}
