// The model's f and each profile's scale, by maximum likelihood at a
// matching's pairs. A share of values may be gross errors (an outlier
// prediction, an extra peak matched for want of a better one), flat on the
// model's scale over the profile's range, so that a few of them do not
// widen the errors of all.
#include <algorithm>
#include <cmath>

#include "numeric/minimum.h"
#include "posterior/blocks.h"
#include "posterior/costs.h"

namespace post {

namespace {

constexpr double kMostLogScale = 1.5;
constexpr int kRounds = 3;
constexpr size_t kFitPairs = 200;
// The shifts' relative error from 1 %, their floor from 0.002 to 1 ppm
// (measured to 0.01-0.02 ppm; a structure's error adds more).
constexpr double kLeastShiftError = 0.01;
constexpr double kLeastShiftFloor = 0.002, kMostShiftFloor = 1.0;

struct PairValue {
    int m;
    double pred, w;  // w: the chance of the pairing
    Value x;         // c is kept, so the value's side is worked out once
    // The prediction's side at the profile's factor last tried: f and the
    // floor change only its spread, so its asinh is taken once per factor.
    mutable double at_scale = std::nan(""), at_x = 0.0, at_g = 0.0;
};

// The prediction of v at `scale`, as pred_in gives it, asinh cached.
Pred prediction(const Model& model, const PairValue& v, double scale) {
    if (model.shifts(v.m)) return pred_in(model, v.m, v.pred, scale);
    if (!(v.at_scale == scale)) {
        v.at_scale = scale;
        v.at_x = v.pred > 0.0 ? v.pred * scale : 0.0;
        v.at_g = std::asinh(v.at_x / model.c);
    }
    return {v.at_g, pred_spread(v.at_x, model)};
}

struct Objective {
    std::vector<std::vector<PairValue>> values;  // per profile
    std::vector<double> log_width;               // per profile: 2 ln of its range on the model's scale
    double gross = 0.05;

    // -2 ln of a value's gross-error density: flat on the model's scale over
    // the profile's range (c is kept, so the widths are worked out once).
    double flat(const PairValue& v) const {
        if (v.x.bound) return 2.0 * std::log(2.0);
        return log_width[size_t(v.m)] + v.x.norm;
    }

    // Per value: its core cost and its flat one.
    template <typename Use>
    void each(const Model& model, int only, Use use) const {
        for (size_t m = 0; m < values.size(); ++m) {
            if (only >= 0 && int(m) != only) continue;
            for (const PairValue& v : values[m]) {
                use(cost(v.x, prediction(model, v, model.scale[m])), flat(v), v.w);
            }
        }
    }

    // -2 ln L of the values of profile `only` (all where negative), with the
    // scales' prior.
    double operator()(const Model& model, int only = -1) const {
        double sum = 0.0;
        each(model, only, [&](double core, double fl, double w) {
            const double low = std::min(core, fl);
            sum += w * (low - 2.0 * std::log((1.0 - gross) * std::exp(-(core - low) / 2.0) +
                                             gross * std::exp(-(fl - low) / 2.0)));
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
        double sum = 0.0, n = 0.0;
        each(model, -1, [&](double core, double fl, double w) {
            const double low = std::min(core, fl);
            const double a = (1.0 - gross) * std::exp(-(core - low) / 2.0);
            const double b = gross * std::exp(-(fl - low) / 2.0);
            sum += w * b / (a + b);
            n += w;
        });
        return n > 0.0 ? std::min(std::max(sum / n, 1e-3), 0.5) : gross;
    }
};

// The quantile of `v` at share `q` (v is reordered).
double quantile(std::vector<double>& v, double q) {
    const size_t k = std::min(v.size() - 1, size_t(q * double(v.size())));
    std::nth_element(v.begin(), v.begin() + long(k), v.end());
    return v[k];
}

// One of the model's numbers, set by `set`, fitted on a log scale between
// the logs lo and hi with the others held; `only`: one profile's share.
template <typename Set>
double fitted_in_log(const Objective& o, const Model& model, Set set, double lo, double hi, int steps,
                     int only = -1) {
    return std::exp(numeric::grid_then_golden(
        [&](double x) {
            Model trial = model;
            set(trial, std::exp(x));
            return o(trial, only);
        },
        lo, hi, steps, 1e-3));
}

// The shifts' relative error and floor (ppm), as f and a are fitted.
void fit_shift_errors(const Objective& o, int round, Model& model) {
    const int steps = round == 0 ? 12 : 6;
    model.pcs_f = fitted_in_log(o, model, [](Model& m, double v) { m.pcs_f = v; }, std::log(kLeastShiftError),
                                std::log(kMaxModelError), steps);
    model.pcs_a = fitted_in_log(o, model, [](Model& m, double v) { m.pcs_a = v; }, std::log(kLeastShiftFloor),
                                std::log(kMostShiftFloor), steps);
}

}  // namespace

std::vector<double> starting_scales(const Tables& t, double c) {
    std::vector<double> scale(t.np, 1.0);
    for (int m = 0; m < t.np; ++m) {
        if (t.shifts(m)) continue;  // signed: a tensor's size is fitted, not guessed from quantiles
        std::vector<double> y, p(t.pred.begin() + long(m) * t.residues, t.pred.begin() + long(m + 1) * t.residues);
        for (int j = 0; j < t.peaks; ++j) {
            const size_t k = size_t(m) * t.peaks + j;
            if (t.measured[k]) y.push_back(t.meas[k]);
        }
        if (y.empty() || p.empty()) continue;
        std::vector<double> ratios;
        for (double q : {0.5, 0.6, 0.7, 0.8, 0.9}) {
            const double qy = quantile(y, q), qp = quantile(p, q);
            if (qy > c && qp > c) ratios.push_back(std::log(qy / qp));
        }
        if (ratios.empty()) continue;
        const double r = quantile(ratios, 0.5);
        scale[m] = std::exp(std::min(std::max(r, -kMostLogScale), kMostLogScale));
    }
    return scale;
}

void fit_model(const Tables& t, const std::vector<Pairing>& pairs, bool first, Model& model) {
    Objective o;
    o.values.resize(t.np);
    std::vector<double> hi(t.np, 0.0), lo(t.np, 0.0);
    model.scale.resize(t.np, 1.0);
    // An even sample of the pairs: a few hundred values per profile fit three
    // numbers and a factor as well as thousands.
    const size_t stride = pairs.size() > kFitPairs ? pairs.size() / kFitPairs : 1;
    for (size_t n = 0; n < pairs.size(); ++n) {
        const auto& [j, r, w] = pairs[n];
        for (int m = 0; m < t.np; ++m) {
            const size_t k = size_t(m) * t.peaks + j;
            if (!t.measured[k]) continue;
            const double pred = t.pred[size_t(m) * t.residues + r];
            hi[m] = std::max({hi[m], t.meas[k], pred});
            lo[m] = std::min({lo[m], t.meas[k], pred});
            if (n % stride == 0)
                o.values[m].push_back({m, pred, w, value_in(model, m, t.meas[k], t.err[k], t.clipped[k])});
        }
    }
    bool pres = false, shifts = false;
    for (int m = 0; m < t.np; ++m) {
        // A shift's range is in ppm, on both sides of 0.
        o.log_width.push_back(model.shifts(m) ? 2.0 * std::log(std::max(hi[m] - lo[m], 1e-6))
                                              : 2.0 * std::log(std::max(std::asinh(hi[m] / model.c), 1e-12)));
        (model.shifts(m) ? shifts : pres) = true;
    }
    if (pairs.empty()) return;
    // Later calls start from the last fit and refine it once.
    for (int round = first ? 0 : kRounds - 1; round < kRounds; ++round) {
        if (shifts) fit_shift_errors(o, round, model);
        if (!pres) {
            for (int step = 0; step < 3; ++step) o.gross = o.gross_share(model);
            continue;
        }
        const int steps = round == 0 ? 12 : 6;
        const double least = t.np == 1 ? kOneProfileLeastError : kLeastFittedError;
        model.f = fitted_in_log(o, model, [](Model& m, double v) { m.f = v; }, std::log(least),
                                std::log(kMaxModelError), steps);
        model.a = fitted_in_log(o, model, [](Model& m, double v) { m.a = v; }, std::log(model.c * 1e-3),
                                std::log(model.c * 10.0), steps);
        // Each factor's fit reads only its own profile's values (and their
        // caches): the profiles are fitted apart, on the machine's threads.
        const Model held = model;
        in_blocks(t.np, size_t(kFitPairs) * t.np * 40, [&](int first, int last) {
            for (int m = first; m < last; ++m)
                model.scale[m] = fitted_in_log(o, held, [m](Model& x, double v) { x.scale[m] = v; }, -kMostLogScale,
                                               kMostLogScale, round == 0 ? 10 : 4, m);
        });
        for (int step = 0; step < 3; ++step) o.gross = o.gross_share(model);
    }
}

}  // namespace post
