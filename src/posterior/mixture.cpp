// The error model chosen by each peak's likelihood over all its residues.
// A best matching gives each peak the residue that fits it best, by chance
// too: where residues outnumber what the profiles can tell apart, f, the
// floor and the profiles' factors fitted to its pairs come out too small
// and too many (f 0.05-0.19 where the predictions erred by 30 %).
#include <algorithm>
#include <cmath>

#include "numeric/minimum.h"
#include "posterior/blocks.h"
#include "posterior/costs.h"
#include "posterior/terms.h"

namespace post {

namespace {

// A sample of the peaks: as many as keep the screen within this many
// densities (each value's over all free residues), never fewer than 32.
constexpr double kMixtureWork = 4e5;
constexpr int kLeastRows = 32;
// What each of the floor and the factors costs in -2 ln L.
constexpr double kPerNumber = 2.0;

// Residues whose likelihood, under a model three times as wide as the
// matching's and no narrower than kWideError (the matching's f is the one
// that comes out too small), is below exp(-kScreen / 2) of a row's best add
// nothing to its mean at the f fitted here, and are left out of it.
constexpr double kScreen = 50.0;
constexpr double kWideError = 0.6;

// A value's density, but for its 1 / sqrt(y^2 + c^2), which no model changes.
inline double shape(const Value& x, const Pred& p) { return x.bound ? density(x, p) : density(x, p) / x.unit; }

struct Mixture {
    const Tables& t;
    const Free& q;
    std::vector<int> rows;               // indices into q.rows
    long values = 0;                     // measured PRE values of those rows
    std::vector<std::vector<int>> kept;  // per row, the free residues that count
    Scaled s;                            // the model tried; its predictions' spread follows f
    std::vector<double> x2, span;        // per prediction: x^2, 1 / (x^2 + c^2)
    std::vector<double> prod;

    // The model whose f is fitted: its values and predictions once.
    void take(const Model& model) {
        s = scaled(t, model);
        x2.assign(s.pred.size(), 0.0);
        span.assign(s.pred.size(), 0.0);
        for (int m = 0; m < t.np; ++m)
            for (int r = 0; r < t.residues; ++r) {
                const size_t i = size_t(m) * t.residues + r;
                const double p = t.pred[i], x = p > 0.0 ? p * model.scale[size_t(m)] : 0.0;
                x2[i] = x * x;
                span[i] = 1.0 / (x * x + model.c * model.c);
            }
    }

    void set_f(const Model& model, double f) {
        for (int m = 0; m < t.np; ++m) {
            if (t.shifts(m)) continue;
            for (int r = 0; r < t.residues; ++r) {
                const size_t i = size_t(m) * t.residues + r;
                s.pred[i].v = (f * f * x2[i] + model.a * model.a) * span[i];
            }
        }
    }

    // -2 ln of the rows' PRE likelihoods, each the mean over the free
    // residues (those kept, where `screened`), less what no model changes.
    double cost(bool screened) {
        double total = 0.0;
        for (size_t n = 0; n < rows.size(); ++n) {
            const int j = q.rows[rows[n]];
            const std::vector<int>* only = screened ? &kept[n] : nullptr;
            const int count = only ? int(only->size()) : q.R;
            prod.assign(size_t(count), 1.0);
            double logs = 0.0;
            for (int m = 0; m < t.np; ++m) {
                const size_t o = size_t(m) * t.peaks + j;
                if (!t.measured[o] || t.shifts(m)) continue;
                const Pred* p = s.pred.data() + size_t(m) * t.residues;
                double top = 0.0;
                for (int k = 0; k < count; ++k) {
                    prod[k] *= shape(s.value[o], p[q.cols[only ? (*only)[k] : k]]);
                    top = std::max(top, prod[k]);
                }
                // Held near 1, so that no product over the profiles underflows.
                if (!(top > 0.0)) return 1e300;
                for (double& v : prod) v /= top;
                logs += std::log(top);
            }
            if (!screened) {
                kept[n].clear();
                for (int k = 0; k < count; ++k)
                    if (prod[k] > std::exp(-kScreen / 2.0)) kept[n].push_back(k);
            }
            double sum = 0.0;
            for (double v : prod) sum += v;
            total -= 2.0 * (logs + std::log(sum / q.R));
        }
        return total;
    }

    // f by this likelihood, between `least` and kMaxModelError, the rest of
    // `model` held; -2 ln L at it, with the factors' prior.
    double fit_f(Model& model, double least) {
        take(model);
        kept.assign(rows.size(), {});
        set_f(model, std::min(std::max(3.0 * model.f, kWideError), kMaxModelError));
        cost(false);
        model.f = std::exp(numeric::grid_then_golden(
            [&](double x) {
                set_f(model, std::exp(x));
                return cost(true);
            },
            std::log(least), std::log(kMaxModelError), 8, 1e-2));
        set_f(model, model.f);
        double total = cost(true);
        for (double f : model.scale) total += std::pow(std::log(f) / kScaleSpread, 2.0);
        return total;
    }
};

}  // namespace

void choose_error_model(const Tables& t, const Free& q, Model& model) {
    int pres = 0;
    for (int m = 0; m < t.np; ++m) pres += !t.shifts(m);
    if (pres == 0 || q.P == 0 || q.R == 0) return;
    Mixture mix{t, q, {}, 0, {}, {}, {}, {}, {}};
    const double per_row = double(q.R) * pres;
    const int want = std::min(q.P, std::max(kLeastRows, int(kMixtureWork / per_row)));
    for (int n = 0; n < want; ++n) mix.rows.push_back(int(long(n) * q.P / want));
    for (int i : mix.rows)
        for (int m = 0; m < t.np; ++m) mix.values += t.measured[size_t(m) * t.peaks + q.rows[i]] && !t.shifts(m);
    if (mix.values == 0) return;
    const double least = t.np == 1 ? kOneProfileLeastError : kLeastFittedError;
    // The matching's floor and factors, each kept or left out, with f
    // refitted: each kept pays 2 for its number (Akaike's criterion). Over
    // all residues a peak can make up for a profile's factor with another
    // residue, which a matching cannot: ln n a number (Bayes') dropped
    // factors that static label models need (static methyls at ratio noise
    // 0.05: 207 of 432 right, against 229).
    // The four are fitted apart, spread over the machine's threads: their
    // numbers do not depend on it.
    Model trial[4];
    double cost[4];
    std::vector<Mixture> each(4, mix);
    auto fit = [&](int kind) {
        const bool floor = kind & 1, factors = kind & 2;
        trial[kind] = model;
        if (!floor) trial[kind].a = 0.0;
        for (int m = 0; m < t.np && !factors; ++m)
            if (!t.shifts(m)) trial[kind].scale[size_t(m)] = 1.0;
        cost[kind] = each[size_t(kind)].fit_f(trial[kind], least) + kPerNumber * ((floor ? 1 : 0) + (factors ? pres : 0));
    };
    in_blocks(4, size_t(want) * q.R * pres * 4, [&](int first, int last) {
        for (int kind = first; kind < last; ++kind) fit(kind);
    });
    Model best = trial[0];
    double best_cost = cost[0];
    for (int kind = 1; kind < 4; ++kind)
        if (cost[kind] < best_cost) {
            best = trial[kind];
            best_cost = cost[kind];
        }
    model = best;
}

}  // namespace post
