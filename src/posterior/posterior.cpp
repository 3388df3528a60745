// The model: each measured PRE against its residue's prediction as a
// Student t, or, with a share eta of the values, as a value the predictions
// say nothing about (the mean of its likelihood over all residues); a peak
// may be no residue's and a residue may give no peak. Known pairs leave the
// problem as a removed row and column.
//
// f is fitted at the best matching. That matching picks the pairs that fit
// best even where they are wrong, so a fit there can flatter data that say
// nothing; eta is fitted on held-out profiles instead (each value foretold
// by the marginals without its own profile's evidence), which such data
// cannot flatter. The marginals are sampled: exact but for the sampling
// error, which the result states.
#include "posterior/posterior.h"

#include <algorithm>
#include <cmath>

#include "posterior/matchings.h"
#include "posterior/weighing.h"
#include "likelihood/pre_model.h"
#include "likelihood/shifts.h"
#include "profiles/ceiling.h"

namespace {

constexpr double kStartModelError = 0.25;
// The chain's sweeps: for the held-out fit, and for the probabilities
// given, which take more until their standard errors are small.
constexpr long kRoughSweeps = 100;
constexpr long kSweeps = 1000;
constexpr long kMostSweeps = 3000;
constexpr uint64_t kSeed = 20261207;
constexpr double kStartGrossShare = 0.05;

// One measurement against one prediction.
struct Term {
    double two_sided;   // (pred - meas)^2 / s2, 0 for a clipped one
    double cost;
};

// Errors are held to [1e-6, 1e6] s^-1 and PREs scale the prediction's error
// only up to the cap (at most 3010), so a variance lies in [1e-12, 1.1e12].
constexpr double kLeastError = 1e-6;
constexpr double kMostError = 1e6;
static_assert(kMaxProfiles <= 20, "a product over all profiles must stay in range");

// The square of the t's scale (below). A prediction's error has a standard
// deviation of f times the PRE, the larger of the predicted and measured
// one: a prediction far too small (a label nearer than modelled) is as
// likely as one far too large, as for an error that multiplies. The error
// column is taken as a scale, not a standard deviation, which leaves its
// tails wider than it claims: on truth-known data that is what calibrates.
constexpr double kScalePerSd = 0.7071067811865476;  // sqrt((nu - 2) / nu) for nu = 4
inline double variance(double pred, double meas, double err, double f) {
    const double larger = pred > meas ? pred : meas;
    const double fp = kScalePerSd * f * (larger > 0.0 ? larger : 0.0);
    return err * err + fp * fp;
}

static_assert(kResidualDegrees == 4.0, "kScalePerSd and density() are worked out for 4 degrees of freedom");

// Residuals follow Student's t (kResidualDegrees): a normal with the same
// spread gives the few large misfits of real predictions so little chance
// that it is sure of wrong pairings. -2 ln of its density is
//   (nu + 1) ln(1 + d^2 / (nu s2)) + ln s2
// up to a constant. Its two logarithms are taken of products (pair_cost),
// so each factor is held below kMostFactor.
constexpr double kDegrees = kResidualDegrees;
constexpr double kMostFactor = 1e12;

// One measurement against one prediction: the t's squared scale and the
// factor 1 + d^2 / (nu s2), held below kMostFactor.
struct TwoSided {
    double s2, factor;
    // exp(-cost / 2) = 1 / (s (1 + x)^(5/2)).
    double likelihood() const { return 1.0 / (std::sqrt(s2) * factor * factor * std::sqrt(factor)); }
};

inline TwoSided two_sided(double pred, double meas, double err, double f) {
    const double s2 = variance(pred, meas, err, f), d = pred - meas;
    const double factor = 1.0 + d * d / (kDegrees * s2);
    return {s2, factor < kMostFactor ? factor : kMostFactor};
}

// One measurement's share of the two products.
inline void add_two_sided(double pred, double meas, double err, double f, double& variances, double& factors) {
    const TwoSided t = two_sided(pred, meas, err, f);
    variances *= t.s2;
    factors *= t.factor;
}

double two_sided_cost(double variances, double factors) {
    return std::log(variances) + (kDegrees + 1.0) * std::log(factors);
}

Term term(double pred, double meas, double err, double f, bool clipped) {
    const double s2 = variance(pred, meas, err, f);
    if (clipped) return {0.0, minus_two_ln_phi((pred - meas) / std::sqrt(s2))};
    const double d = pred - meas;
    double variances = 1.0, factors = 1.0;
    add_two_sided(pred, meas, err, f, variances, factors);
    return {d * d / s2, two_sided_cost(variances, factors)};
}

// exp(-cost / 2) of one measurement against one prediction.
double density(double pred, double meas, double err, double f, bool clipped) {
    if (!clipped) return two_sided(pred, meas, err, f).likelihood();
    return 0.5 * std::erfc(-(pred - meas) / std::sqrt(2.0 * variance(pred, meas, err, f)));
}

// The tables as the posterior sees them, per profile and entry.
struct Tables {
    int np = 0, peaks = 0, residues = 0;
    std::vector<double> meas, err, pred;  // [m * peaks + j], [m * residues + r]
    std::vector<char> measured, clipped;
    std::vector<double> shift;            // [j * 3 + type class]
    std::vector<int> cls;                 // residue's type class: 0 none, 1 Leu, 2 Val
    int defaulted = 0;
    int values = 0;                       // measured values, clipped ones included
};

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

// The peaks and residues that no known pair takes, and their costs.
// A peak that no residue explains looks like a residue drawn at random:
// its `alone` cost is its mean likelihood.
struct Free : CostMatrix {
    std::vector<int> rows, cols;  // real peak and residue indices
    // [i * np + m]: the mean of the value's likelihood over the residues, the
    // likelihood of a value that the predictions say nothing about.
    std::vector<double> mean;
};

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

void fill_costs(const Tables& t, double f, Free& q, bool means = false) {
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

// Real (peak, residue) pairs of a matching, and the known ones.
std::vector<std::pair<int, int>> real_pairs(const Free& q, const std::vector<int>& match,
                                            const PosteriorOptions& opt) {
    std::vector<std::pair<int, int>> pairs(opt.fixed);
    for (int i = 0; i < q.P; ++i)
        if (match[i] >= 0) pairs.emplace_back(q.rows[i], q.cols[match[i]]);
    return pairs;
}

double pairs_cost(const Tables& t, const std::vector<std::pair<int, int>>& pairs, double f) {
    double c = 0.0;
    for (const auto& [j, r] : pairs) c += pair_cost(t, f, j, r);
    return c;
}

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

// f of largest likelihood for these pairs: a grid, then golden sections.
double fit_model_error(const Tables& t, const std::vector<std::pair<int, int>>& pairs) {
    const int steps = 40;
    const double h = kMaxModelError / steps;
    double best = 0.0, best_cost = pairs_cost(t, pairs, 0.0);
    for (int i = 1; i <= steps; ++i) {
        const double c = pairs_cost(t, pairs, i * h);
        if (c < best_cost) {
            best_cost = c;
            best = i * h;
        }
    }
    return golden_minimum([&](double f) { return pairs_cost(t, pairs, f); }, std::max(0.0, best - h),
                          std::min(kMaxModelError, best + h), 1e-5);
}

// The held-out fit of eta. For each measured value of a peak, the weights
// of its pairs with the value's own likelihood divided out are what the
// other profiles (and the shift) say of its residue; rho, the likelihood
// that those weights give the value over its mean likelihood, says how well
// the predictions foretell it. eta maximises sum ln((1 - eta) rho + eta),
// each value weighed by the chance that its peak is some residue's.
double held_out(const Tables& t, const Free& q, const Kernel& k, const Marginals& b, double f) {
    std::vector<double> weight, rho;
    for (int i = 0; i < q.P; ++i) {
        const double real = 1.0 - b.row_alone[i];
        if (!(real > 1e-6) || k.start[i] == k.start[i + 1]) continue;
        const int j = q.rows[i];
        for (int m = 0; m < t.np; ++m) {
            const size_t o = size_t(m) * t.peaks + j;
            if (!t.measured[o]) continue;
            const double mean = q.mean[size_t(i) * t.np + m];
            double held = 0.0, total = 0.0;
            for (int e = k.start[i]; e < k.start[i + 1]; ++e) {
                const double pred = t.pred[size_t(m) * t.residues + q.cols[k.col[e]]];
                const double l = std::max(density(pred, t.meas[o], t.err[o], f, t.clipped[o]), 1e-300);
                held += b.pair[e] / l;
                total += b.pair[e];
            }
            weight.push_back(real);
            rho.push_back(held > 0.0 && mean > 0.0 ? total / (held * mean) : 1.0);
        }
    }
    const size_t n = rho.size();
    if (n == 0) return 0.0;
    // The score is concave in eta: its slope at 0 and at 1 say whether the
    // maximum lies at a bound; between them, bisection on the slope.
    auto slope = [&](double eta) {
        double s = 0.0;
        for (size_t x = 0; x < n; ++x) s += weight[x] * (1.0 - rho[x]) / ((1.0 - eta) * rho[x] + eta);
        return s;
    };
    if (slope(0.0) <= 0.0) return 0.0;
    if (slope(1.0) >= 0.0) return 1.0;
    double lo = 0.0, hi = 1.0;
    for (int it = 0; it < 50; ++it) (slope((lo + hi) / 2.0) > 0.0 ? lo : hi) = (lo + hi) / 2.0;
    return (lo + hi) / 2.0;
}

// With one profile nothing can be held out, and a profile whose predictions
// say nothing looks like one whose predictions are right: its values are
// taken as informative but for the share of gross errors at the best
// matching, values its pair explains worse than a residue drawn at random
// would (a mixture's share, fitted by expectation-maximisation).
double gross_share(const Tables& t, const Free& q, const std::vector<int>& match, double f) {
    std::vector<double> rho;  // each matched value's likelihood over its mean likelihood
    for (int i = 0; i < q.P; ++i) {
        if (match[i] < 0) continue;
        const int j = q.rows[i];
        for (int m = 0; m < t.np; ++m) {
            const size_t o = size_t(m) * t.peaks + j;
            const double mean = q.mean[size_t(i) * t.np + m];
            if (!t.measured[o] || !(mean > 0.0)) continue;
            rho.push_back(density(t.pred[size_t(m) * t.residues + q.cols[match[i]]], t.meas[o], t.err[o], f,
                                  t.clipped[o]) / mean);
        }
    }
    if (rho.empty()) return 0.0;
    double eta = kStartGrossShare;
    for (int it = 0; it < 50; ++it) {
        double sum = 0.0;
        for (double r : rho) sum += eta / ((1.0 - eta) * r + eta);
        eta = sum / rho.size();
    }
    return eta < 1e-6 ? 0.0 : eta;
}

}  // namespace

double largest_measured(const PosteriorData& d) {
    double bound = 0.0;
    for (double v : d.meas)
        if (is_measured(v) && v < d.cap) bound = std::max(bound, v);
    return bound;
}

PosteriorExtent posterior_extent(const ReadResult& sim, const ReadResult& obs, Shape shape) {
    PosteriorExtent e;
    e.profiles = std::min(sim.profiles, obs.profiles);
    for (int n : obs.records) e.peaks = std::max(e.peaks, std::min(n, shape.maxres));
    for (int n : sim.records) e.residues = std::max(e.residues, std::min(n, shape.maxres));
    return e;
}

PosteriorData posterior_data(const ProfileTable& simt, const ReadResult& sim, const ProfileTable& obst,
                             const ReadResult& obs, Shape shape) {
    const PosteriorExtent e = posterior_extent(sim, obs, shape);
    PosteriorData d;
    d.profiles = e.profiles;
    d.peaks = e.peaks;
    d.residues = e.residues;
    d.meas.assign(size_t(e.profiles) * e.peaks, MISSING_PRE);
    d.err.assign(size_t(e.profiles) * e.peaks, 0.0);
    d.pred.assign(size_t(e.profiles) * e.residues, 0.0);
    for (int m = 0; m < e.profiles; ++m) {
        for (int j = 0; j < std::min(e.peaks, obs.records[m]); ++j) {
            d.meas[size_t(m) * e.peaks + j] = obst[m].pre[j];
            d.err[size_t(m) * e.peaks + j] = obst[m].pre_err[j];
        }
        for (int r = 0; r < std::min(e.residues, sim.records[m]); ++r)
            d.pred[size_t(m) * e.residues + r] = simt[m].pre[r];
    }
    for (int j = 0; j < e.peaks; ++j) d.shift.push_back(obst[0].type_value[j]);
    for (int r = 0; r < e.residues; ++r) d.type.push_back(simt[0].restype[r]);
    d.cap = ceiling_cap(obs.maxobs);
    return d;
}

Posterior compute_posterior(const PosteriorData& d, const PosteriorOptions& opt) {
    const Tables t = gather(d);
    Posterior post;
    post.peaks = t.peaks;
    post.residues = t.residues;
    post.defaulted_errors = t.defaulted;
    post.values = t.values;
    post.fitted = opt.model_error < 0.0;
    post.f = post.fitted ? kStartModelError : opt.model_error;

    Free q = free_problem(t, opt);
    const Priors pr = matching_priors(q.P, q.R);
    // f at the best matching: match, then fit to it.
    fill_costs(t, post.f, q);
    std::vector<int> match = best_matching(q, pr);
    if (match.size() != size_t(q.P)) return post;  // some costs are not finite
    if (post.fitted) post.f = fit_model_error(t, real_pairs(q, match, opt));
    post.f_at_bound = post.fitted && post.f >= kMaxModelError * 0.999;
    post.f_at_least = post.fitted && post.f <= kLeastFittedError;
    fill_costs(t, post.f, q, true);
    // The held-out fit needs only rough marginals.
    Kernel k;
    Marginals b = sample_marginals(q, pr, match, kRoughSweeps, kRoughSweeps, 1.0, kSeed, k);
    if (b.convergence.status == SampleStatus::Failed) {
        post.marginals = b.convergence;
        return post;
    }
    post.single_profile = t.np == 1;
    post.eta = post.single_profile ? gross_share(t, q, match, post.f) : held_out(t, q, k, b, post.f);
    if (post.eta > 0.0) fill_mixed_costs(t, post.f, post.eta, q);
    match = best_matching(q, pr);
    if (match.size() != size_t(q.P)) return post;
    post.computed = true;

    post.optimum.assign(t.peaks, -1);
    post.fixed.assign(t.peaks, 0);
    for (const auto& [j, r] : opt.fixed) post.fixed[j] = 1;
    double chi2 = 0.0;
    long values = 0;
    for (const auto& [j, r] : real_pairs(q, match, opt)) {
        post.optimum[j] = r;
        for (int m = 0; m < t.np; ++m) {
            const size_t o = size_t(m) * t.peaks + j;
            if (!t.measured[o] || t.clipped[o]) continue;
            chi2 += term(t.pred[size_t(m) * t.residues + r], t.meas[o], t.err[o], post.f, false).two_sided;
            ++values;
        }
    }
    post.chi2_per_value = values > 0 ? chi2 / values : 0.0;

    b = sample_marginals(q, pr, match, kSweeps, kMostSweeps, kMarginalTolerance, kSeed + 1, k);
    post.marginals = b.convergence;
    const int width = t.residues + 1;
    post.prob.assign(size_t(t.peaks) * width, 0.0);
    for (const auto& [j, r] : opt.fixed) post.prob[size_t(j) * width + r] = 1.0;
    for (int i = 0; i < q.P; ++i) {
        double* row = post.prob.data() + size_t(q.rows[i]) * width;
        for (int e = k.start[i]; e < k.start[i + 1]; ++e) row[q.cols[k.col[e]]] = b.pair[e];
        row[t.residues] = b.row_alone[i];
    }
    return post;
}
