// Draws of a fitted label: a random-walk Metropolis chain on the fit's own
// likelihood, its steps shaped by the curvature at the best fit (a label's
// amplitude and distance trade off, and steps that ignore that mix slowly).
#include "fit/draws.h"

#include <algorithm>
#include <cassert>
#include <cmath>

#include "posterior/random.h"

namespace label {
namespace {

constexpr double kCoordinateStep = 0.05;  // A: finite-difference step of a point's coordinate
constexpr double kLogStep = 0.02;         // and of a logarithm (amplitude, scale, weight)
// No direction's steps wider than this many finite-difference steps: a
// direction the likelihood hardly bounds would otherwise take steps so long
// that nearly all are refused and the chain stands still at the best fit.
constexpr double kWidest = 20.0;
constexpr int kBurn = 20;                 // chain steps per parameter before the first draw
constexpr int kThin = 5;                  // and between draws

// Cholesky factor (lower) of the n x n matrix a ([i * n + k]); false where
// it is not positive definite.
bool cholesky(std::vector<double> a, int n, std::vector<double>& l) {
    l.assign(size_t(n) * n, 0.0);
    for (int i = 0; i < n; ++i)
        for (int k = 0; k <= i; ++k) {
            double s = a[size_t(i) * n + k];
            for (int m = 0; m < k; ++m) s -= l[size_t(i) * n + m] * l[size_t(k) * n + m];
            if (i == k) {
                if (!(s > 0.0)) return false;
                l[size_t(i) * n + i] = std::sqrt(s);
            } else {
                l[size_t(i) * n + k] = s / l[size_t(k) * n + k];
            }
        }
    return true;
}

// A standard normal number (Box-Muller, one of the pair).
double normal(Random& r) {
    const double u = 1.0 - r.uniform(), v = r.uniform();
    return std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * M_PI * v);
}

bool is_coordinate(size_t i) { return i < 3 || (i >= size_t(kBase) && (i - size_t(kBase)) % size_t(kPerPoint) < 3); }

}  // namespace

std::vector<Params> draws(const std::function<double(const Params&)>& objective, const Params& best, int count,
                          uint64_t seed) {
    const int n = int(best.size());
    const double at_best = objective(best);
    if (!std::isfinite(at_best) || count <= 0) return std::vector<Params>(size_t(std::max(count, 0)), best);
    std::vector<double> h(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) h[size_t(i)] = is_coordinate(size_t(i)) ? kCoordinateStep : kLogStep;
    auto at = [&](int i, double di, int k, double dk) {
        Params x = best;
        x[size_t(i)] += di;
        if (k >= 0) x[size_t(k)] += dk;
        return objective(x);
    };
    // Half the Hessian of -2 ln L: the precision of the draws' normal approximation.
    std::vector<double> precision(size_t(n) * n, 0.0);
    for (int i = 0; i < n; ++i) {
        const double hi = h[size_t(i)];
        precision[size_t(i) * n + i] = 0.5 * (at(i, hi, -1, 0) + at(i, -hi, -1, 0) - 2.0 * at_best) / (hi * hi);
        for (int k = 0; k < i; ++k) {
            const double hk = h[size_t(k)];
            const double d = (at(i, hi, k, hk) - at(i, hi, k, -hk) - at(i, -hi, k, hk) + at(i, -hi, k, -hk)) / (4.0 * hi * hk);
            precision[size_t(i) * n + k] = precision[size_t(k) * n + i] = 0.5 * d;
        }
    }
    auto least = [&](int i) { return 1.0 / (kWidest * kWidest * h[size_t(i)] * h[size_t(i)]); };
    for (int i = 0; i < n; ++i) precision[size_t(i) * n + i] += least(i);
    std::vector<double> l;
    if (!cholesky(precision, n, l)) {
        // Each parameter alone, at no less curvature than the widest step allows.
        std::fill(precision.begin(), precision.end(), 0.0);
        for (int i = 0; i < n; ++i) {
            const double hi = h[size_t(i)];
            const double c = 0.5 * (at(i, hi, -1, 0) + at(i, -hi, -1, 0) - 2.0 * at_best) / (hi * hi);
            precision[size_t(i) * n + i] = std::isfinite(c) ? std::max(c, 0.0) + least(i) : 1.0 / (hi * hi);
        }
        const bool diagonal = cholesky(precision, n, l);
        assert(diagonal);
        (void)diagonal;
    }
    // A step: L^-T z has the normal approximation's covariance, scaled for
    // a random walk in n dimensions.
    const double reach = 2.38 / std::sqrt(double(n));
    Random rng(seed);
    std::vector<double> z(static_cast<size_t>(n)), y(static_cast<size_t>(n));
    Params x = best, trial(best.size());
    double cost = at_best;
    std::vector<Params> out;
    const int burn = kBurn * n, thin = kThin * n;
    for (int step = 0; int(out.size()) < count; ++step) {
        for (double& v : z) v = normal(rng);
        for (int i = n - 1; i >= 0; --i) {
            double s = z[size_t(i)];
            for (int k = i + 1; k < n; ++k) s -= l[size_t(k) * n + i] * y[size_t(k)];
            y[size_t(i)] = s / l[size_t(i) * n + i];
        }
        for (int i = 0; i < n; ++i) trial[size_t(i)] = x[size_t(i)] + reach * y[size_t(i)];
        const double c = objective(trial);
        if (std::isfinite(c) && rng.uniform() < std::exp(-0.5 * (c - cost))) {
            x = trial;
            cost = c;
        }
        if (step >= burn && (step - burn) % thin == thin - 1) out.push_back(x);
    }
    return out;
}

}  // namespace label
