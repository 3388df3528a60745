// The one-point ratio falls monotonically from 1 at Gamma2 = 0 towards 0:
// bisection brackets the root, Newton's steps finish it.
#include "peaks/rates.h"

#include <cmath>

double ratio_of(double g, double r2, double t, double r2_mq) {
    double r = r2 * std::exp(-g * t) / (r2 + g);
    if (r2_mq > 0.0) r *= r2_mq / (r2_mq + g);
    return r;
}

double ratio_slope(double g, double r2, double t, double r2_mq) {
    double rate = t + 1.0 / (r2 + g);
    if (r2_mq > 0.0) rate += 1.0 / (r2_mq + g);
    return -ratio_of(g, r2, t, r2_mq) * rate;
}

double gamma2_from_ratio(double ratio, double r2, double t, double r2_mq) {
    if (ratio >= 1.0) return 0.0;
    double lo = 0.0, hi = 1.0;
    while (ratio_of(hi, r2, t, r2_mq) > ratio && hi < 1e12) hi *= 2.0;
    for (int i = 0; i < 200 && hi - lo > 1e-9 * hi; ++i) {
        const double mid = 0.5 * (lo + hi);
        (ratio_of(mid, r2, t, r2_mq) > ratio ? lo : hi) = mid;
    }
    double g = 0.5 * (lo + hi);
    for (int i = 0; i < 4; ++i) {
        const double step = (ratio_of(g, r2, t, r2_mq) - ratio) / ratio_slope(g, r2, t, r2_mq);
        if (!std::isfinite(step) || g - step < lo || g - step > hi) break;
        g -= step;
    }
    return g;
}

double gamma2_two_points(double dia_a, double para_a, double dia_b, double para_b, double ta, double tb) {
    // As a sum of logarithms: a product of four heights may overflow.
    return (std::log(dia_b) + std::log(para_a) - std::log(dia_a) - std::log(para_b)) / (tb - ta);
}
