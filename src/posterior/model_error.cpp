// The model's f and each profile's scale, by maximum likelihood at a
// matching's pairs. A share of values may be gross errors (an outlier
// prediction, an extra peak matched for want of a better one), flat on the
// model's scale over the profile's range, so that a few of them do not
// widen the errors of all.
#include <algorithm>
#include <cmath>

#include "posterior/costs.h"

namespace post {

namespace {

// ln of a profile's scale: normal around 0 with this spread (a factor of
// 2.7 is two spreads off), so that few values cannot pull it far.
constexpr double kScaleSpread = 0.5;
constexpr double kMostLogScale = 1.5;
constexpr int kRounds = 3;

// The minimum of a function over [lo, hi] by golden sections, to `tol`.
template <typename F>
double golden_minimum(F cost, double lo, double hi, double tol) {
    const double g = (std::sqrt(5.0) - 1.0) / 2.0;
    double x1 = hi - g * (hi - lo), x2 = lo + g * (hi - lo);
    double c1 = cost(x1), c2 = cost(x2);
    while (hi - lo > tol) {
        if (c1 <= c2) {
            hi = x2;
            x2 = x1;
            c2 = c1;
            x1 = hi - g * (hi - lo);
            c1 = cost(x1);
        } else {
            lo = x1;
            x1 = x2;
            c1 = c2;
            x2 = lo + g * (hi - lo);
            c2 = cost(x2);
        }
    }
    return (lo + hi) / 2.0;
}

// The minimum over a grid of n + 1 points in [lo, hi], then by golden
// sections around it.
template <typename F>
double grid_then_golden(F cost, double lo, double hi, int n, double tol) {
    const double h = (hi - lo) / n;
    double best = lo, best_cost = cost(lo);
    for (int i = 1; i <= n; ++i) {
        const double c = cost(lo + i * h);
        if (c < best_cost) {
            best_cost = c;
            best = lo + i * h;
        }
    }
    return golden_minimum(cost, std::max(lo, best - h), std::min(hi, best + h), tol);
}

struct PairValue {
    int m;
    double y, pred;
    Value x;  // c is kept, so the value's side is worked out once
};

struct Objective {
    std::vector<std::vector<PairValue>> values;  // per profile
    std::vector<double> hi;                      // per profile: the largest value or prediction
    double gross = 0.05;

    // -2 ln of a value's gross-error density: flat over the profile's range.
    double flat(const PairValue& v, const Model& model) const {
        if (v.x.bound) return 2.0 * std::log(2.0);
        const double width = std::max(std::asinh(hi[size_t(v.m)] / model.c), 1e-12);
        return 2.0 * std::log(width) + v.x.norm;
    }

    // Per value: its core cost and its flat one.
    template <typename Use>
    void each(const Model& model, int only, Use use) const {
        for (size_t m = 0; m < values.size(); ++m) {
            if (only >= 0 && int(m) != only) continue;
            for (const PairValue& v : values[m]) {
                use(cost(v.x, pred_of(v.pred, model.scale[m], model)), flat(v, model));
            }
        }
    }

    // -2 ln L of the values of profile `only` (all where negative), with the
    // scales' prior.
    double operator()(const Model& model, int only = -1) const {
        double sum = 0.0;
        each(model, only, [&](double core, double fl) {
            const double low = std::min(core, fl);
            sum += low - 2.0 * std::log((1.0 - gross) * std::exp(-(core - low) / 2.0) +
                                        gross * std::exp(-(fl - low) / 2.0));
        });
        for (size_t m = 0; m < model.scale.size(); ++m) {
            if (only >= 0 && int(m) != only) continue;
            const double z = std::log(model.scale[m]) / kScaleSpread;
            sum += z * z;
        }
        return sum;
    }

    // The share of gross errors that the values' responsibilities give.
    double gross_share(const Model& model) const {
        double sum = 0.0;
        long n = 0;
        each(model, -1, [&](double core, double fl) {
            const double low = std::min(core, fl);
            const double a = (1.0 - gross) * std::exp(-(core - low) / 2.0);
            const double b = gross * std::exp(-(fl - low) / 2.0);
            sum += b / (a + b);
            ++n;
        });
        return n > 0 ? std::min(std::max(sum / n, 1e-3), 0.5) : gross;
    }
};

}  // namespace

void fit_model(const Tables& t, const std::vector<std::pair<int, int>>& pairs, bool first, Model& model) {
    Objective o;
    o.values.resize(t.np);
    o.hi.assign(t.np, 0.0);
    model.scale.resize(t.np, 1.0);
    for (const auto& [j, r] : pairs)
        for (int m = 0; m < t.np; ++m) {
            const size_t k = size_t(m) * t.peaks + j;
            if (!t.measured[k]) continue;
            const double pred = t.pred[size_t(m) * t.residues + r];
            o.values[m].push_back({m, t.meas[k], pred, value_of(t.meas[k], t.err[k], t.clipped[k], model.c)});
            o.hi[m] = std::max({o.hi[m], t.meas[k], pred});
        }
    if (pairs.empty()) return;
    // Later calls start from the last fit and refine it once.
    for (int round = first ? 0 : kRounds - 1; round < kRounds; ++round) {
        model.f = std::exp(grid_then_golden(
            [&](double x) {
                Model trial = model;
                trial.f = std::exp(x);
                return o(trial);
            },
            std::log(kLeastFittedError), std::log(kMaxModelError), round == 0 ? 16 : 6, 1e-3));
        model.a = std::exp(grid_then_golden(
            [&](double x) {
                Model trial = model;
                trial.a = std::exp(x);
                return o(trial);
            },
            std::log(model.c * 1e-3), std::log(model.c * 10.0), round == 0 ? 16 : 6, 1e-3));
        for (int m = 0; m < t.np; ++m) {
            model.scale[m] = std::exp(grid_then_golden(
                [&](double x) {
                    Model trial = model;
                    trial.scale[m] = std::exp(x);
                    return o(trial, m);
                },
                -kMostLogScale, kMostLogScale, round == 0 ? 12 : 4, 1e-3));
        }
        for (int step = 0; step < 3; ++step) o.gross = o.gross_share(model);
    }
}

}  // namespace post
