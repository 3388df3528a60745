// The label's parameters, prior and predictions; the weights are a softmax,
// so no value of the parameters leaves them off the simplex.
#include "fit/label.h"

#include <algorithm>
#include <cassert>
#include <cmath>

namespace label {

namespace {

constexpr double kPriorWidth = 0.5;                // A, outside that range
constexpr double kMostBehind = -1.0;               // A along CA->CB: the label hangs off CB, away from CA
constexpr double kAmplitudeRange = 1.0;            // ln amplitude: within +-1
constexpr double kAmplitudeWall = 0.1;             // and steep beyond
// ln amplitude, normal around the formula's: distance and amplitude trade
// against each other along the label's ray, and few peaks cannot tell them
// apart, so the amplitude gives way first.
constexpr double kAmplitudeSd = 0.3;
// A point of the label holds a share of at least kLeastShare, steeply
// below: a point of a few per cent, placed near the protein, would fit a
// handful of large PREs (on real ACBP such a point, 4.5 %, beside CB, cost
// ten right peaks of 26).
constexpr double kLeastShare = 0.1;
constexpr double kShareWall = 0.02;

double squared(double x) { return x * x; }

// Adds a point's prior to c, term by term.
void add_point_prior(const Point& u, double& c) {
    const double d = std::sqrt(u.x * u.x + u.y * u.y + u.z * u.z);
    if (u.x < kMostBehind) c += squared((kMostBehind - u.x) / kPriorWidth);
    if (d < kNearest) c += squared((kNearest - d) / kPriorWidth);
    if (d > kFarthest) c += squared((d - kFarthest) / kPriorWidth);
}

}  // namespace

Point point(const Params& p, int k) {
    assert(k >= 0 && k < points(p));
    const size_t at = k == 0 ? 0 : size_t(kBase + (k - 1) * kPerPoint);
    return {p[at], p[at + 1], p[at + 2]};
}

std::vector<double> weights(const Params& p) {
    const int n = points(p);
    std::vector<double> w(size_t(n), 0.0);  // ln, the first's 0
    for (int k = 1; k < n; ++k) w[size_t(k)] = p[size_t(kBase + (k - 1) * kPerPoint + 3)];
    const double top = *std::max_element(w.begin(), w.end());
    double sum = 0.0;
    for (double& x : w) sum += x = std::exp(x - top);
    for (double& x : w) x /= sum;
    return w;
}

Params with_point(const Params& p, const Point& u, double ln_weight) {
    assert(points(p) < kMostPoints);
    Params q = p;
    q.insert(q.end(), {u.x, u.y, u.z, ln_weight});
    return q;
}

double prior_cost(const Params& p) {
    double c = squared(p[3] / kAmplitudeSd);
    if (std::fabs(p[3]) > kAmplitudeRange) c += squared((std::fabs(p[3]) - kAmplitudeRange) / kAmplitudeWall);
    for (int k = 0; k < points(p); ++k) add_point_prior(point(p, k), c);
    if (points(p) > 1)
        for (double w : weights(p))
            if (w < kLeastShare) c += squared((kLeastShare - w) / kShareWall);
    return c;
}

void place(const Geometry& g, size_t s, const Params& p, double factor, Placed& out) {
    const int n = points(p);
    out.at.resize(size_t(n));
    for (int k = 0; k < n; ++k) {
        out.at[size_t(k)].resize(g.models);
        const Point u = point(p, k);
        for (size_t m = 0; m < g.models; ++m) out.at[size_t(k)][m] = in_frame(g.frames[s][m], u);
    }
    out.weight = weights(p);
    out.factor = factor * std::exp(p[3]);
}

double gamma2(const Geometry& g, size_t n, const Placed& label, size_t models) {
    double sum = 0.0;
    for (size_t k = 0; k < label.at.size(); ++k) sum += label.weight[k] * mean_r6(g, n, label.at[k], models);
    return label.factor * sum;
}

}  // namespace label
