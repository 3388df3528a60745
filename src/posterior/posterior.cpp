// Known pairs leave the problem as a removed row and column. The rest is
// made square: dummy peaks at cost 0 take the residues that no peak shows,
// dummy residues at a fixed cost take the peaks that no residue explains.
// The kernel is scaled by the optimum's dual potentials first, so every row
// and column holds a 1 (the optimum's pair) and nothing underflows.
#include "posterior/posterior.h"

#include <algorithm>
#include <cmath>

#include "profiles/ceiling.h"
#include "posterior/balance.h"
#include "optimum/lap.h"
#include "posterior/shifts.h"

namespace {

constexpr double kLn2Pi = 1.8378770664093453;
constexpr double kStartModelError = 0.25;
constexpr double kMaxModelError = 2.0;
// Kernel entries below exp(-kDrop), 2e-9, of the optimum's pairs are left
// out: they stand for probabilities of that order, and keeping them would
// make balancing far slower.
constexpr double kDrop = 20.0;

// -2 ln Phi(z), Phi the standard normal distribution function.
double minus_two_ln_phi(double z) {
    if (z > -30.0) return -2.0 * std::log(0.5 * std::erfc(-z / std::sqrt(2.0)));
    // Far in the lower tail: Phi(z) = phi(z) / -z * (1 - 1/z^2 + 3/z^4 - ...).
    const double z2 = z * z;
    return z2 + kLn2Pi + 2.0 * std::log(-z) - 2.0 * std::log(1.0 - 1.0 / z2 + 3.0 / (z2 * z2));
}

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

static_assert(kResidualDegrees == 4.0, "kScalePerSd is worked out for 4 degrees of freedom");

// Residuals follow Student's t (kResidualDegrees): a normal with the same
// spread gives the few large misfits of real predictions so little chance
// that it is sure of wrong pairings. -2 ln of its density is
//   (nu + 1) ln(1 + d^2 / (nu s2)) + ln s2
// up to a constant. Its two logarithms are taken of products (pair_cost),
// so each factor is held below kMostFactor.
constexpr double kDegrees = kResidualDegrees;
constexpr double kMostFactor = 1e12;

// One measurement's share of the two products.
inline void add_two_sided(double pred, double meas, double err, double f, double& variances, double& factors) {
    const double s2 = variance(pred, meas, err, f), d = pred - meas;
    variances *= s2;
    const double factor = 1.0 + d * d / (kDegrees * s2);
    factors *= factor < kMostFactor ? factor : kMostFactor;
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

// The tables as the posterior sees them, per profile and entry.
struct Tables {
    int np = 0, peaks = 0, residues = 0;
    std::vector<double> meas, err, pred;  // [m * peaks + j], [m * residues + r]
    std::vector<char> measured, clipped;
    std::vector<double> shift;            // [j * 3 + type class]
    std::vector<int> cls;                 // residue's type class: 0 none, 1 Leu, 2 Val
    std::vector<double> unexplained;      // cost of a peak that no residue explains
    int defaulted = 0;
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
    t.unexplained.assign(t.peaks, 2.0 * std::log(kShiftRange));
    // A PRE too large to measure is at least the largest one measured: the
    // cap itself may come from a marker value, far above any real PRE.
    double bound = 0.0;
    for (double v : d.meas)
        if (is_measured(v) && v < d.cap) bound = std::max(bound, v);
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
            // A uniform density over [0, cap] for a value, even odds for a bound.
            t.unexplained[j] += t.clipped[k] ? 2.0 * std::log(2.0) : 2.0 * std::log(d.cap) - kLn2Pi;
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

// The square problem over the peaks and residues that no known pair takes.
struct Square {
    std::vector<int> rows, cols;  // real index, or -1 for a dummy
    int n = 0;
    std::vector<double> cost;     // [i * n + k]
};

Square free_square(const Tables& t, const PosteriorOptions& opt) {
    Square q;
    std::vector<char> row_taken(t.peaks, 0), col_taken(t.residues, 0);
    for (const auto& [j, r] : opt.fixed) {
        row_taken[j] = 1;
        col_taken[r] = 1;
    }
    for (int j = 0; j < t.peaks; ++j)
        if (!row_taken[j]) q.rows.push_back(j);
    for (int r = 0; r < t.residues; ++r)
        if (!col_taken[r]) q.cols.push_back(r);
    q.n = int(std::max(q.rows.size(), q.cols.size()));
    q.rows.resize(q.n, -1);
    q.cols.resize(q.n, -1);
    q.cost.assign(size_t(q.n) * q.n, 0.0);
    return q;
}

void fill_costs(const Tables& t, double f, Square& q) {
    // The real columns come first; each profile's predictions in their order.
    const int real = int(std::count_if(q.cols.begin(), q.cols.end(), [](int r) { return r >= 0; }));
    std::vector<double> pred(size_t(t.np) * real);
    for (int m = 0; m < t.np; ++m)
        for (int k = 0; k < real; ++k) pred[size_t(m) * real + k] = t.pred[size_t(m) * t.residues + q.cols[k]];
    // As in pair_cost, the logarithms once per entry. The clipped
    // measurements of a profile share their bound and mostly their error:
    // their terms are kept per profile for the last error seen.
    std::vector<double> variances(real), factors(real), clip(size_t(t.np) * real);
    std::vector<double> clip_err(t.np, -1.0);
    for (int i = 0; i < q.n; ++i) {
        const int j = q.rows[i];
        if (j < 0) continue;  // a residue no peak shows: the same for all
        double* row = q.cost.data() + size_t(i) * q.n;
        for (int k = 0; k < real; ++k) row[k] = t.shift[size_t(j) * 3 + t.cls[q.cols[k]]];
        for (int k = real; k < q.n; ++k) row[k] = t.unexplained[j];
        std::fill(variances.begin(), variances.end(), 1.0);
        std::fill(factors.begin(), factors.end(), 1.0);
        for (int m = 0; m < t.np; ++m) {
            const size_t o = size_t(m) * t.peaks + j;
            if (!t.measured[o]) continue;
            const double* p = pred.data() + size_t(m) * real;
            const double y = t.meas[o], err = t.err[o];
            if (t.clipped[o]) {
                double* c = clip.data() + size_t(m) * real;
                if (clip_err[m] != err) {
                    for (int k = 0; k < real; ++k) c[k] = term(p[k], y, err, f, true).cost;
                    clip_err[m] = err;
                }
                for (int k = 0; k < real; ++k) row[k] += c[k];
                continue;
            }
            // Distinct arrays, which lets the compiler take two entries at a time.
            const double* __restrict pk = p;
            double* __restrict v = variances.data();
            double* __restrict w = factors.data();
            for (int k = 0; k < real; ++k) add_two_sided(pk[k], y, err, f, v[k], w[k]);
        }
        for (int k = 0; k < real; ++k) row[k] += two_sided_cost(variances[k], factors[k]);
    }
}

// Real (peak, residue) pairs of an assignment of the square, and the known ones.
std::vector<std::pair<int, int>> real_pairs(const Square& q, const std::vector<int>& a,
                                            const PosteriorOptions& opt) {
    std::vector<std::pair<int, int>> pairs(opt.fixed);
    for (int i = 0; i < q.n; ++i)
        if (q.rows[i] >= 0 && q.cols[a[i]] >= 0) pairs.emplace_back(q.rows[i], q.cols[a[i]]);
    return pairs;
}

double pairs_cost(const Tables& t, const std::vector<std::pair<int, int>>& pairs, double f) {
    double c = 0.0;
    for (const auto& [j, r] : pairs) c += pair_cost(t, f, j, r);
    return c;
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
    double lo = std::max(0.0, best - h), hi = std::min(kMaxModelError, best + h);
    const double g = (std::sqrt(5.0) - 1.0) / 2.0;
    double x1 = hi - g * (hi - lo), x2 = lo + g * (hi - lo);
    double c1 = pairs_cost(t, pairs, x1), c2 = pairs_cost(t, pairs, x2);
    while (hi - lo > 1e-5) {
        if (c1 <= c2) {
            hi = x2;
            x2 = x1;
            c2 = c1;
            x1 = hi - g * (hi - lo);
            c1 = pairs_cost(t, pairs, x1);
        } else {
            lo = x1;
            x1 = x2;
            c1 = c2;
            x2 = lo + g * (hi - lo);
            c2 = pairs_cost(t, pairs, x2);
        }
    }
    return (lo + hi) / 2.0;
}

// exp(-C / (2T)) over the entries kept, scaled by the optimum's potentials
// (its reduced costs), then balanced.
Kernel marginals(const Square& q, const std::vector<int>& a, const Duals& duals, Balanced* balanced) {
    Kernel k;
    k.n = q.n;
    for (int i = 0; i < q.n; ++i) {
        for (int c = 0; c < q.n; ++c) {
            const double reduced = std::max(0.0, q.cost[size_t(i) * q.n + c] - duals.row[i] - duals.col[c]);
            if (reduced < kDrop || c == a[i]) k.add(c, std::exp(-reduced / (2.0 * kTemperature)));
        }
        k.end_row();
    }
    *balanced = balance(k, a, kBalanceTolerance);
    return k;
}

}  // namespace

double pre_error(double pre, double err) { return err > 0.0 ? err : 0.1 * std::fabs(pre) + 0.5; }

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
    post.fitted = opt.model_error < 0.0;
    post.f = post.fitted ? kStartModelError : opt.model_error;

    Square q = free_square(t, opt);
    Duals duals;
    std::vector<int> a;
    // Assign, fit f to the assignment, and once more from the new f.
    const int rounds = post.fitted ? 3 : 1;
    for (int round = 0; round < rounds; ++round) {
        fill_costs(t, post.f, q);
        a = solve_assignment(q.cost, q.n, &duals);
        if (a.size() != size_t(q.n)) return post;  // some costs are not finite
        if (round + 1 == rounds) break;
        post.f = fit_model_error(t, real_pairs(q, a, opt));
    }
    post.computed = true;

    post.optimum.assign(t.peaks, -1);
    post.fixed.assign(t.peaks, 0);
    for (const auto& [j, r] : opt.fixed) {
        post.optimum[j] = r;
        post.fixed[j] = 1;
    }
    double chi2 = 0.0;
    long values = 0;
    for (const auto& [j, r] : real_pairs(q, a, opt)) {
        post.optimum[j] = r;
        for (int m = 0; m < t.np; ++m) {
            const size_t o = size_t(m) * t.peaks + j;
            if (!t.measured[o] || t.clipped[o]) continue;
            chi2 += term(t.pred[size_t(m) * t.residues + r], t.meas[o], t.err[o], post.f, false).two_sided;
            ++values;
        }
    }
    post.chi2_per_value = values > 0 ? chi2 / values : 0.0;

    const Kernel k = marginals(q, a, duals, &post.balanced);
    const int width = t.residues + 1;
    post.prob.assign(size_t(t.peaks) * width, 0.0);
    for (const auto& [j, r] : opt.fixed) post.prob[size_t(j) * width + r] = 1.0;
    for (int i = 0; i < q.n; ++i) {
        const int j = q.rows[i];
        if (j < 0) continue;
        for (int e = k.start[i]; e < k.start[i + 1]; ++e) {
            const int r = q.cols[k.col[e]];
            post.prob[size_t(j) * width + (r < 0 ? t.residues : r)] += k.val[e];
        }
    }
    return post;
}
