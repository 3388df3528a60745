// The posterior's tables and the cost of every pair: the logarithms taken of
// products over the profiles, the clipped values' terms once per profile.
#include "posterior/costs.h"

#include <algorithm>
#include <cmath>

#include "likelihood/shifts.h"
#include "posterior/blocks.h"
#include "posterior/terms.h"
#include "profiles/ceiling.h"

namespace post {

Tables gather(const PosteriorData& d) {
    Tables t;
    t.np = d.profiles;
    t.peaks = d.peaks;
    t.residues = d.residues;
    const size_t np = size_t(t.np);
    t.meas.assign(np * t.peaks, 0.0);
    t.err.assign(np * t.peaks, 0.0);
    t.measured.assign(np * t.peaks, 0);
    t.clipped.assign(np * t.peaks, 0);
    t.pred = d.pred;
    t.pcs = d.pcs;
    for (int m = 0; m < t.np; ++m) {
        Bound bound = largest_measured(d, m);
        if (bound.value <= 0.0) bound = largest_measured(d);  // a profile with nothing measured below the cap
        for (int j = 0; j < t.peaks; ++j) {
            const size_t k = size_t(m) * t.peaks + j;
            const double v = d.meas[k];
            if (!is_measured(v)) continue;
            t.measured[k] = 1;
            if (t.shifts(m)) {
                // A shift has no ceiling, and its error no PRE's default.
                t.meas[k] = v;
                t.err[k] = std::min(std::max(d.err[k], kLeastError), kMostError);
                ++t.values;
                continue;
            }
            t.clipped[k] = v >= d.cap;
            t.meas[k] = t.clipped[k] ? bound.value : v;
            t.err[k] = std::min(std::max(t.clipped[k] ? std::max(pre_error(bound.value, 0.0), bound.error) : pre_error(v, d.err[k]),
                                         kLeastError),
                                kMostError);
            t.defaulted += !t.clipped[k] && !(d.err[k] > 0.0);
            ++t.values;
        }
    }
    std::vector<double> errors;
    for (size_t k = 0; k < t.err.size(); ++k)
        if (t.measured[k] && !t.clipped[k] && !t.shifts(int(k / size_t(t.peaks)))) errors.push_back(t.err[k]);
    if (!errors.empty()) {
        std::nth_element(errors.begin(), errors.begin() + errors.size() / 2, errors.end());
        t.typical_error = errors[errors.size() / 2];
    }
    t.shift.resize(size_t(t.peaks) * 3);
    for (int j = 0; j < t.peaks; ++j)
        for (int c = 0; c < 3; ++c) t.shift[size_t(j) * 3 + c] = shift_cost(c, d.shift[j]);
    t.cls.resize(t.residues);
    for (int r = 0; r < t.residues; ++r) t.cls[r] = is_typed(d.type[r]) ? d.type[r] : 0;
    return t;
}

Scaled scaled(const Tables& t, const Model& model) {
    Scaled s;
    s.value.resize(size_t(t.np) * t.peaks);
    s.pred.resize(size_t(t.np) * t.residues);
    for (int m = 0; m < t.np; ++m) {
        const double scale = model.scale.empty() ? 1.0 : model.scale[m];
        for (int j = 0; j < t.peaks; ++j) {
            const size_t k = size_t(m) * t.peaks + j;
            if (t.measured[k]) s.value[k] = value_in(model, m, t.meas[k], t.err[k], t.clipped[k]);
        }
        for (int r = 0; r < t.residues; ++r) {
            const size_t k = size_t(m) * t.residues + r;
            s.pred[k] = pred_in(model, m, t.pred[k], scale);
        }
    }
    return s;
}

Free free_problem(const Tables& t, const PosteriorOptions& opt) {
    Free q;
    std::vector<char> row_taken(t.peaks, 0), col_taken(t.residues, 0);
    for (const auto& [j, r] : opt.fixed) {
        row_taken[j] = 1;
        col_taken[r] = 1;
    }
    for (int j = 0; j < t.peaks; ++j)
        if (!row_taken[j]) q.rows.push_back(j);
    for (int r = 0; r < t.residues; ++r)
        if (!col_taken[r]) q.cols.push_back(r);
    q.P = int(q.rows.size());
    q.R = int(q.cols.size());
    q.cost.assign(size_t(q.P) * q.R, 0.0);
    q.alone.assign(q.P, 0.0);
    q.mean.assign(size_t(q.P) * t.np, 0.0);
    return q;
}

// -2 ln of the mean of exp(-c / 2) over a row.
double mean_likelihood_cost(const double* c, int n) {
    double lo = c[0];
    for (int k = 1; k < n; ++k) lo = std::min(lo, c[k]);
    // Terms below exp(-40) of the best add nothing a double can hold beside
    // it, and most of a row's are: their exponentials are not taken.
    double sum = 0.0;
    for (int k = 0; k < n; ++k)
        if (c[k] - lo < 80.0) sum += std::exp(-(c[k] - lo) / 2.0);
    return lo - 2.0 * std::log(sum / n);
}

// Each profile's predictions over the free residues, in their order.
std::vector<Pred> free_predictions(const Tables& t, const Scaled& s, const Free& q) {
    std::vector<Pred> pred(size_t(t.np) * q.R);
    for (int m = 0; m < t.np; ++m)
        for (int k = 0; k < q.R; ++k) pred[size_t(m) * q.R + k] = s.pred[size_t(m) * t.residues + q.cols[k]];
    return pred;
}

// The broadened peaks of a profile share their bound and mostly their
// error: their costs over the residues are worked out once per profile for
// the last value seen.
struct ClipCache {
    std::vector<double> cost;  // [m * R + k]
    std::vector<Value> of;     // per profile, the value they are for
    int R;
    ClipCache(int np, int R) : cost(size_t(np) * R), of(np, Value{0.0, -1.0, 0.0, true, 0.0}), R(R) {}
    template <typename F>
    const double* get(int m, const Value& x, F make) {
        double* c = cost.data() + size_t(m) * R;
        if (of[m].g != x.g || of[m].v != x.v) {
            for (int k = 0; k < R; ++k) c[k] = make(k);
            of[m] = x;
        }
        return c;
    }
};

// The costs with eta = 0. The logarithms are taken once per entry, of the
// products of the variances and of the t's factors over the profiles
// (each held in range, so that 20 of them stay in range). With
// `means`, also each value's mean likelihood over the residues, for the
// held-out fit, which needs no more than an even sample of kMeanSample of them.
constexpr int kMeanSample = 200;

void fill_costs(const Tables& t, const Model& model, Free& q, bool means) {
    const int real = q.R;
    const int stride = real > kMeanSample ? real / kMeanSample : 1;
    const int sampled = real > 0 ? (real - 1) / stride + 1 : 0;
    const Scaled s = scaled(t, model);
    const std::vector<Pred> pred = free_predictions(t, s, q);
    const bool any_shifts = t.any_shifts();
    in_blocks(q.P, size_t(q.P) * real * t.np, [&](int first, int last) {
        std::vector<double> variances(real), factors(real), shift_variances, shift_factors;
        ClipCache clip(t.np, real);
        if (any_shifts) {
            shift_variances.resize(size_t(real));
            shift_factors.resize(size_t(real));
        }
        for (int i = first; i < last; ++i) {
            const int j = q.rows[i];
            double* row = q.cost.data() + size_t(i) * real;
            double norm = 0.0, shift_norm = 0.0;
            std::fill(row, row + real, 0.0);
            std::fill(variances.begin(), variances.end(), 1.0);
            std::fill(factors.begin(), factors.end(), 1.0);
            std::fill(shift_variances.begin(), shift_variances.end(), 1.0);
            std::fill(shift_factors.begin(), shift_factors.end(), 1.0);
            for (int m = 0; m < t.np; ++m) {
                const size_t o = size_t(m) * t.peaks + j;
                if (!t.measured[o]) continue;
                const Pred* p = pred.data() + size_t(m) * real;
                const Value& x = s.value[o];
                double sum = 0.0;
                if (x.bound) {
                    const double* c = clip.get(m, x, [&](int k) { return cost(x, p[k]); });
                    for (int k = 0; k < real; ++k) row[k] += c[k];
                } else {
                    const bool shift = t.shifts(m);
                    (shift ? shift_norm : norm) += x.norm;
                    // Distinct arrays, which lets the compiler take two entries at a time.
                    const Pred* __restrict pk = p;
                    double* __restrict v = shift ? shift_variances.data() : variances.data();
                    double* __restrict w = shift ? shift_factors.data() : factors.data();
                    for (int k = 0; k < real; ++k) {
                        const double V = variance(x, pk[k]), d = pk[k].g - x.g;
                        v[k] *= V;
                        w[k] *= factor(d, V);
                    }
                }
                if (means) {
                    for (int k = 0; k < sampled; ++k) sum += density(x, p[k * stride]);
                    q.mean[size_t(i) * t.np + m] = sampled > 0 ? sum / sampled : 0.0;
                }
            }
            for (int k = 0; k < real; ++k) {
                const double pre = row[k] + (kDegrees + 1.0) * std::log(factors[k]) + std::log(variances[k]) + norm;
                row[k] = t.shift[size_t(j) * 3 + t.cls[q.cols[k]]] + kPrePower * pre;
                if (any_shifts)
                    row[k] += model.shift_power * ((kDegrees + 1.0) * std::log(shift_factors[k]) +
                                                  std::log(shift_variances[k]) + shift_norm);
            }
            q.alone[i] = real > 0 ? mean_likelihood_cost(row, real) : 0.0;
        }
    });
}

// The costs with each profile's share eta of values that the predictions
// say nothing about: each value's likelihood (1 - eta) L + eta mean(L). The
// products over the profiles are folded into a logarithm whenever they
// leave a safe range, which the likelihoods (unlike the t's factors) can.
void fill_mixed_costs(const Tables& t, const Model& model, const std::vector<double>& share, Free& q) {
    const int real = q.R;
    const Scaled s = scaled(t, model);
    const std::vector<Pred> pred = free_predictions(t, s, q);
    const bool any_shifts = t.any_shifts();
    in_blocks(q.P, size_t(q.P) * real * t.np, [&](int first, int last) {
        std::vector<double> dens(real), prod_pre(real), logs_pre(real), prod_shift(real), logs_shift(real);
        for (int i = first; i < last; ++i) {
            const int j = q.rows[i];
            std::fill(prod_pre.begin(), prod_pre.end(), 1.0);
            std::fill(logs_pre.begin(), logs_pre.end(), 0.0);
            std::fill(prod_shift.begin(), prod_shift.end(), 1.0);
            std::fill(logs_shift.begin(), logs_shift.end(), 0.0);
            for (int m = 0; m < t.np; ++m) {
                const size_t o = size_t(m) * t.peaks + j;
                if (!t.measured[o]) continue;
                std::vector<double>& prod = t.shifts(m) ? prod_shift : prod_pre;
                std::vector<double>& logs = t.shifts(m) ? logs_shift : logs_pre;
                const Pred* p = pred.data() + size_t(m) * real;
                double sum = 0.0;
                for (int k = 0; k < real; ++k) sum += dens[k] = density(s.value[o], p[k]);
                const double mean = real > 0 ? sum / real : 0.0;
                q.mean[size_t(i) * t.np + m] = mean;
                const double eta = share[size_t(m)];
                for (int k = 0; k < real; ++k) {
                    // Likelihoods within [1e-50, 1e50] join the product, which
                    // stays within [1e-300, 1e300]; others go to the logarithm,
                    // from the cost itself where they underflow.
                    const double l = (1.0 - eta) * dens[k] + eta * mean;
                    if (l > 1e-50 && l < 1e50)
                        prod[k] *= l;
                    else
                        logs[k] += l > 1e-300 ? std::log(l) : -cost(s.value[o], p[k]) / 2.0;
                    if (!(prod[k] > 1e-250 && prod[k] < 1e250)) {
                        logs[k] += std::log(prod[k]);
                        prod[k] = 1.0;
                    }
                }
            }
            double* row = q.cost.data() + size_t(i) * real;
            for (int k = 0; k < real; ++k) {
                row[k] = t.shift[size_t(j) * 3 + t.cls[q.cols[k]]] - 2.0 * kPrePower * (logs_pre[k] + std::log(prod_pre[k]));
                if (any_shifts) row[k] -= 2.0 * model.shift_power * (logs_shift[k] + std::log(prod_shift[k]));
            }
            q.alone[i] = real > 0 ? mean_likelihood_cost(row, real) : 0.0;
        }
    });
}

}  // namespace post
