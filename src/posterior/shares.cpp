// The share of measured values that the predictions say nothing about:
// fitted on held-out profiles, or with one profile, as the share of gross
// errors at the best matching.
#include <algorithm>
#include <cmath>

#include "posterior/costs.h"
#include "posterior/terms.h"

namespace post {

namespace {
constexpr double kStartGrossShare = 0.05;
}  // namespace

// The held-out fit of eta. For each measured value of a peak, the weights
// of its pairs with the value's own likelihood divided out are what the
// other profiles (and the shift) say of its residue; rho, the likelihood
// that those weights give the value over its mean likelihood, says how well
// the predictions foretell it. eta maximises sum ln((1 - eta) rho + eta),
// each value weighed by the chance that its peak is some residue's.
namespace {

// The eta in [0, 1] that maximises sum w ln((1 - eta) rho + eta).
double share_of(const std::vector<double>& weight, const std::vector<double>& rho) {
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

constexpr int kHeldMeanSample = 32;

// Per profile, each held-out value's weight and rho: its peak's pair
// weights without its own profile's evidence, from the marginals `b` that
// `model` gave.
void held_out_values(const Tables& t, const Free& q, const Kernel& k, const Marginals& b, const Model& model,
                     std::vector<std::vector<double>>& weight, std::vector<std::vector<double>>& rho) {
    const Scaled s = scaled(t, model);
    const int stride = q.R > kHeldMeanSample ? q.R / kHeldMeanSample : 1;
    weight.assign(t.np, {});
    rho.assign(t.np, {});
    for (int i = 0; i < q.P; ++i) {
        const double real = 1.0 - b.row_alone[i];
        if (!(real > 1e-6) || k.start[i] == k.start[i + 1]) continue;
        const int j = q.rows[i];
        for (int m = 0; m < t.np; ++m) {
            const size_t o = size_t(m) * t.peaks + j;
            if (!t.measured[o]) continue;
            double mean = 0.0;
            int n = 0;
            for (int c = 0; c < q.R; c += stride, ++n)
                mean += density(s.value[o], s.pred[size_t(m) * t.residues + q.cols[c]]);
            mean = n > 0 ? mean / n : 0.0;
            double held = 0.0, total = 0.0;
            for (int e = k.start[i]; e < k.start[i + 1]; ++e) {
                const size_t r = size_t(m) * t.residues + q.cols[k.col[e]];
                held += b.pair[e] / std::max(density(s.value[o], s.pred[r]), 1e-300);
                total += b.pair[e];
            }
            if (!(held > 0.0) || !(mean > 0.0)) continue;
            weight[m].push_back(real);
            rho[m].push_back(total / (held * mean));
        }
    }
}

}  // namespace

std::vector<double> held_out(const Tables& t, const Free& q, const Kernel& k, const Marginals& b,
                             const Model& model) {
    std::vector<std::vector<double>> weight, rho;
    held_out_values(t, q, k, b, model, weight, rho);
    std::vector<double> eta(t.np);
    for (int m = 0; m < t.np; ++m) eta[m] = share_of(weight[m], rho[m]);
    return eta;
}

// With one profile nothing can be held out, and a profile whose predictions
// say nothing looks like one whose predictions are right: its values are
// taken as informative but for the share of gross errors at the best
// matching, values its pair explains worse than a residue drawn at random
// would (a mixture's share, fitted by expectation-maximisation).
double gross_share(const Tables& t, const Free& q, const std::vector<int>& match, const Model& model) {
    const Scaled s = scaled(t, model);
    std::vector<double> rho;  // each matched value's likelihood over its mean likelihood
    for (int i = 0; i < q.P; ++i) {
        if (match[i] < 0) continue;
        const int j = q.rows[i];
        for (int m = 0; m < t.np; ++m) {
            const size_t o = size_t(m) * t.peaks + j;
            const double mean = q.mean[size_t(i) * t.np + m];
            if (!t.measured[o] || !(mean > 0.0)) continue;
            rho.push_back(density(s.value[o], s.pred[size_t(m) * t.residues + q.cols[match[i]]]) / mean);
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

}  // namespace post
