// The posterior's tables and the cost of every pair: the logarithms taken of
// products over the profiles, the clipped values' terms once per profile.
#include "posterior/costs.h"

#include <algorithm>
#include <cmath>

#include "likelihood/shifts.h"
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
    const double bound = largest_measured(d);
    for (int m = 0; m < t.np; ++m) {
        for (int j = 0; j < t.peaks; ++j) {
            const size_t k = size_t(m) * t.peaks + j;
            const double v = d.meas[k];
            if (!is_measured(v)) continue;
            t.measured[k] = 1;
            t.clipped[k] = v >= d.cap;
            t.meas[k] = t.clipped[k] ? bound : v;
            t.err[k] = std::min(std::max(pre_error(t.meas[k], d.err[k]), kLeastError), kMostError);
            t.defaulted += !t.clipped[k] && !(d.err[k] > 0.0);
            ++t.values;
        }
    }
    t.shift.resize(size_t(t.peaks) * 3);
    for (int j = 0; j < t.peaks; ++j)
        for (int c = 0; c < 3; ++c) t.shift[size_t(j) * 3 + c] = shift_cost(c, d.shift[j]);
    t.cls.resize(t.residues);
    for (int r = 0; r < t.residues; ++r) t.cls[r] = is_typed(d.type[r]) ? d.type[r] : 0;
    return t;
}

// The logarithms are taken once, of products over the profiles: with each
// variance in [1e-12, 1.1e12] and each factor below kMostFactor, the
// products of 20 stay in range.
double pair_cost(const Tables& t, double f, int j, int r) {
    double c = t.shift[size_t(j) * 3 + t.cls[r]], variances = 1.0, factors = 1.0;
    for (int m = 0; m < t.np; ++m) {
        const size_t k = size_t(m) * t.peaks + j;
        if (!t.measured[k]) continue;
        const double p = t.pred[size_t(m) * t.residues + r];
        if (t.clipped[k]) {
            c += term(p, t.meas[k], t.err[k], f, true).cost;
            continue;
        }
        add_two_sided(p, t.meas[k], t.err[k], f, variances, factors);
    }
    return c + two_sided_cost(variances, factors);
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
    double sum = 0.0;
    for (int k = 0; k < n; ++k) sum += std::exp(-(c[k] - lo) / 2.0);
    return lo - 2.0 * std::log(sum / n);
}

// Each profile's predictions over the free residues, in their order.
std::vector<double> free_predictions(const Tables& t, const Free& q) {
    std::vector<double> pred(size_t(t.np) * q.R);
    for (int m = 0; m < t.np; ++m)
        for (int k = 0; k < q.R; ++k) pred[size_t(m) * q.R + k] = t.pred[size_t(m) * t.residues + q.cols[k]];
    return pred;
}

// The clipped measurements of a profile share their bound and mostly their
// error: their terms are worked out once per profile for the last error seen.
struct ClipCache {
    std::vector<double> value;  // [m * R + k]
    std::vector<double> err;    // per profile, the error they are for
    ClipCache(int np, int R) : value(size_t(np) * R), err(np, -1.0) {}
    template <typename F>
    const double* get(int m, int R, double e, F of) {
        double* v = value.data() + size_t(m) * R;
        if (err[m] != e) {
            for (int k = 0; k < R; ++k) v[k] = of(k);
            err[m] = e;
        }
        return v;
    }
};

// The costs with eta = 0: as in pair_cost, the logarithms once per entry.
// With `means`, also each value's mean likelihood over the residues, for the
// held-out fit, which needs no more than an even sample of kMeanSample of them.
constexpr int kMeanSample = 200;

void fill_costs(const Tables& t, double f, Free& q, bool means) {
    const int real = q.R;
    const int stride = real > kMeanSample ? real / kMeanSample : 1;
    const int sampled = real > 0 ? (real - 1) / stride + 1 : 0;
    const std::vector<double> pred = free_predictions(t, q);
    std::vector<double> variances(real), factors(real), likes(real);
    ClipCache clip(t.np, real);
    for (int i = 0; i < q.P; ++i) {
        const int j = q.rows[i];
        double* row = q.cost.data() + size_t(i) * real;
        for (int k = 0; k < real; ++k) row[k] = t.shift[size_t(j) * 3 + t.cls[q.cols[k]]];
        std::fill(variances.begin(), variances.end(), 1.0);
        std::fill(factors.begin(), factors.end(), 1.0);
        for (int m = 0; m < t.np; ++m) {
            const size_t o = size_t(m) * t.peaks + j;
            if (!t.measured[o]) continue;
            const double* p = pred.data() + size_t(m) * real;
            const double y = t.meas[o], err = t.err[o];
            double sum = 0.0;
            if (t.clipped[o]) {
                const double* c = clip.get(m, real, err, [&](int k) { return term(p[k], y, err, f, true).cost; });
                for (int k = 0; k < real; ++k) row[k] += c[k];
                if (means)
                    for (int k = 0; k < sampled; ++k) sum += std::exp(-c[k * stride] / 2.0);
            } else {
                // Distinct arrays, which lets the compiler take two entries at a time.
                const double* __restrict pk = p;
                double* __restrict v = variances.data();
                double* __restrict w = factors.data();
                for (int k = 0; k < real; ++k) add_two_sided(pk[k], y, err, f, v[k], w[k]);
                if (means) {
                    double* __restrict l = likes.data();
                    for (int k = 0; k < sampled; ++k) l[k] = two_sided(pk[k * stride], y, err, f).likelihood();
                    for (int k = 0; k < sampled; ++k) sum += l[k];
                }
            }
            if (means) q.mean[size_t(i) * t.np + m] = sampled > 0 ? sum / sampled : 0.0;
        }
        for (int k = 0; k < real; ++k) row[k] += two_sided_cost(variances[k], factors[k]);
        q.alone[i] = real > 0 ? mean_likelihood_cost(row, real) : 0.0;
    }
}

// Every measured value's likelihood on every free residue, as densities,
// handed to `use(i, m, densities, mean)` row by row.
template <typename Use>
void for_each_value(const Tables& t, double f, const Free& q, Use use) {
    const int real = q.R;
    const std::vector<double> pred = free_predictions(t, q);
    std::vector<double> dens(real);
    ClipCache clip(t.np, real);
    for (int i = 0; i < q.P; ++i) {
        const int j = q.rows[i];
        for (int m = 0; m < t.np; ++m) {
            const size_t o = size_t(m) * t.peaks + j;
            if (!t.measured[o]) continue;
            const double* p = pred.data() + size_t(m) * real;
            const double y = t.meas[o], err = t.err[o];
            if (t.clipped[o]) {
                const double* c = clip.get(m, real, err, [&](int k) { return density(p[k], y, err, f, true); });
                std::copy(c, c + real, dens.begin());
            } else {
                for (int k = 0; k < real; ++k) dens[k] = two_sided(p[k], y, err, f).likelihood();
            }
            double sum = 0.0;
            for (int k = 0; k < real; ++k) sum += dens[k];
            use(i, m, dens.data(), real > 0 ? sum / real : 0.0);
        }
    }
}

// The costs with a share eta of values that the predictions say nothing
// about: each value's likelihood (1 - eta) L + eta mean(L). The products
// over the profiles are folded into a logarithm whenever they leave a
// safe range, which the mixture's likelihoods (unlike the t's factors) can.
void fill_mixed_costs(const Tables& t, double f, double eta, Free& q) {
    const int real = q.R;
    std::vector<double> prod(size_t(q.P) * real, 1.0), logs(size_t(q.P) * real, 0.0);
    for_each_value(t, f, q, [&](int i, int m, const double* dens, double mean) {
        q.mean[size_t(i) * t.np + m] = mean;
        double* pr = prod.data() + size_t(i) * real;
        double* lg = logs.data() + size_t(i) * real;
        for (int k = 0; k < real; ++k) {
            pr[k] *= (1.0 - eta) * dens[k] + eta * mean;
            if (!(pr[k] > 1e-250 && pr[k] < 1e250)) {
                lg[k] += std::log(pr[k]);
                pr[k] = 1.0;
            }
        }
    });
    for (int i = 0; i < q.P; ++i) {
        const int j = q.rows[i];
        double* row = q.cost.data() + size_t(i) * real;
        const double* pr = prod.data() + size_t(i) * real;
        const double* lg = logs.data() + size_t(i) * real;
        for (int k = 0; k < real; ++k)
            row[k] = t.shift[size_t(j) * 3 + t.cls[q.cols[k]]] - 2.0 * (lg[k] + std::log(pr[k]));
        q.alone[i] = real > 0 ? mean_likelihood_cost(row, real) : 0.0;
    }
}

}  // namespace post
