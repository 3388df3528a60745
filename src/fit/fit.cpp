// Each round: predictions from the current centres; a soft assignment of
// peaks to residues (exp(-cost / T) balanced so that each peak's weights sum
// to 1 and no residue takes more than 1, T annealed from 4 to 1); then, per
// site, a Nelder-Mead refit of the centre, the amplitude and the residual
// scale to the peaks as weighed. Costs are Student t on a scale where the
// noise is flat. The first and the last round also try random starts; the
// last round weighs each site's peaks with its own evidence at half strength.
// In the last rounds a label may grow by a point where the evidence pays.
#include "fit/fit.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "fit/draws.h"
#include "fit/label.h"
#include "numeric/simplex.h"
#include "io/output.h"
#include "likelihood/flat_scale.h"
#include "likelihood/pre_model.h"
#include "likelihood/shifts.h"
#include "posterior/posterior.h"
#include "posterior/random.h"
#include "profiles/ceiling.h"

namespace {

using label::Params;
using numeric::minimise;

constexpr size_t kMostPairs = 8;                   // residues weighed per peak in a refit
constexpr int kScreen = 60;                       // Nelder-Mead steps for every start
constexpr int kMostSteps = 400;                   // and for those polished
constexpr double kPolishWithin = 6.0;             // -2 ln L of the best: those starts are polished
constexpr int kBalanceSteps = 200;                // of the soft assignment's scaling
constexpr double kNegligible = 30.0;              // ln: pairs that far below their row's best are left out
constexpr double kOwnWeight = 0.5;                // a site's own evidence, in the last round's weights for its refit
constexpr double kAloneZ = 3.0;                   // a peak no residue explains: its values this far off
constexpr int kGrowRounds = 3;                    // the last rounds, in which a label may grow by a point
constexpr size_t kGrowStarts = 4;                 // starts for a new point, at least
constexpr double kDistinct = 1.5;                 // A: an end this far from the first point is another place
constexpr int kFolds = 5;                         // of the held-out check on a point more
// The centres' moves, over-relaxed. On truth-known sets from a 402-residue
// structure (six sites), taken once the centres crept 0.5 to 1 A a round and
// stopped after twelve rounds 4 A from three of the true ones (amides at
// noise 0.03: 578 right of 1152, the true labels 685). Below 2, where a
// centre near where it settles would swing about it for ever.
constexpr double kRelax = 1.8;
constexpr double kSettled = 0.2;                  // A: centres that move less have settled
constexpr int kMostRoundsFactor = 3;              // rounds past the anneal: up to twice as many again
// Nuclei x sites x models, summed over the rounds past the anneal: a round
// at 800 x 20 x 20 takes 2 s, so such a fit gets one (30 s in all) where a
// 400-residue protein with six sites gets all it asks for.
constexpr double kExtraWork = 3.2e5;
constexpr double kMostExtra = 1.0;                // A: the early rounds' large moves are not stretched

// The fit's own measure of a value against a prediction, on each profile's
// flat-noise scale h (its running largest error, saturating beyond its
// largest value): a Student t on h with the site's own (fitted) scale; a
// broadened value one-sided.
struct FlatValues {
    int peaks = 0;
    std::vector<FlatScale> scales;         // per profile
    std::vector<double> lv;                // per value: h of it
    std::vector<signed char> kind;         // per value: 0 not measured, 1 a value, 2 at least lv
    explicit FlatValues(const PosteriorData& d) : peaks(d.peaks) {
        const size_t n = size_t(d.profiles) * d.peaks;
        lv.assign(n, 0.0);
        kind.assign(n, 0);
        const double bound = largest_measured(d).value;
        for (int m = 0; m < d.profiles; ++m) {
            std::vector<std::pair<double, double>> ve;
            for (int j = 0; j < d.peaks; ++j) {
                const size_t k = size_t(m) * d.peaks + j;
                if (is_measured(d.meas[k]) && d.meas[k] < d.cap)
                    ve.push_back({d.meas[k], pre_error(d.meas[k], d.err[k])});
            }
            scales.push_back(flat_scale(std::move(ve)));
            for (int j = 0; j < d.peaks; ++j) {
                const size_t k = size_t(m) * d.peaks + j;
                const double v = d.meas[k];
                if (!is_measured(v)) continue;
                const bool clipped = v >= d.cap;
                kind[k] = clipped ? 2 : 1;
                lv[k] = h_of(m, clipped ? bound : v);
            }
        }
    }
    double h_of(int m, double v) const { return scales[size_t(m)](v); }
    // The cost of a value given the prediction's h, less ln scale^2 for a
    // value (which the caller adds once for all).
    double cost_h(int m, int j, double hp, double scale) const {
        const size_t k = size_t(m) * peaks + j;
        const double d = hp - lv[k];
        if (kind[k] == 2) return minus_two_ln_phi(d / scale);
        if (kind[k] == 0) return 0.0;
        return t_cost(d * d / (scale * scale));
    }
    // The squared standardised residual; -1 where not measured or broadened.
    double squared(int m, int j, double pred, double scale) const {
        const size_t k = size_t(m) * peaks + j;
        if (kind[k] != 1) return -1.0;
        const double d = h_of(m, pred) - lv[k];
        return d * d / (scale * scale);
    }
};

// A site's residual scale, in measurement errors, held at kLeastScale or
// more: data that a label fits exactly (errors overstated, or no noise)
// would take it towards 0 and make every other pairing infinitely worse,
// and the site's peaks then leave the assignment.
constexpr double kLeastScale = 0.05;
double residual_scale(const Params& p) { return std::exp(std::max(p[4], std::log(kLeastScale))); }

// A reproducible stream of uniform numbers in [0, 1).
struct Stream {
    uint64_t s;
    double next() { return unit_interval(splitmix64(s)); }
};

// A centre 3 to 8 A from CB, on the far side from CA.
Params random_start(Stream& r) {
    double x, y, z, n;
    do {
        x = 2 * r.next() - 1;
        y = 2 * r.next() - 1;
        z = 2 * r.next() - 1;
        n = std::sqrt(x * x + y * y + z * z);
    } while (n > 1.0 || n < 1e-3);
    const double d = label::kNearest + (label::kFarthest - label::kNearest) * r.next();
    return {std::fabs(x) / n * d, y / n * d, z / n * d, 0.0, std::log(2.0)};
}

// Soft assignment: w[j * (R + 1) + r] from costs (-2 ln L) of the same
// shape, column R a peak that no residue explains. exp(-cost / T), each
// peak's row scaled to 1 and each residue's column to at most 1, in turn.
// Pairs below e^-kNegligible of their row's best stay 0.
void balance(const std::vector<double>& cost, int P, int R, double T, std::vector<double>& w) {
    const size_t W = size_t(R) + 1;
    w.assign(size_t(P) * W, 0.0);
    std::vector<size_t> start{0};
    std::vector<int> col_of;
    std::vector<double> value;
    for (int j = 0; j < P; ++j) {
        const double* c = &cost[size_t(j) * W];
        const double low = *std::min_element(c, c + W);
        for (size_t r = 0; r < W; ++r) {
            const double x = (c[r] - low) / T;
            if (x < kNegligible || r == W - 1) {
                col_of.push_back(int(r));
                value.push_back(std::exp(-x));
            }
        }
        start.push_back(value.size());
    }
    std::vector<double> col(W);
    for (int it = 0; it < kBalanceSteps; ++it) {
        std::fill(col.begin(), col.end(), 0.0);
        for (int j = 0; j < P; ++j) {
            double sum = 0.0;
            for (size_t e = start[size_t(j)]; e < start[size_t(j) + 1]; ++e) sum += value[e];
            for (size_t e = start[size_t(j)]; e < start[size_t(j) + 1]; ++e) col[size_t(col_of[e])] += value[e] /= sum;
        }
        double worst = 0.0;
        for (int r = 0; r < R; ++r) worst = std::max(worst, col[size_t(r)]);
        if (worst < 1.0 + 1e-3) break;
        for (size_t e = 0; e < value.size(); ++e)
            if (col_of[e] < R && col[size_t(col_of[e])] > 1.0) value[e] /= col[size_t(col_of[e])];
    }
    for (int j = 0; j < P; ++j)
        for (size_t e = start[size_t(j)]; e < start[size_t(j) + 1]; ++e) w[size_t(j) * W + size_t(col_of[e])] = value[e];
}

// The simplex's first steps: an A for a point, 0.3 for a logarithm.
Params steps(const Params& p) {
    Params step(p.size(), 1.0);
    step[3] = step[4] = 0.3;
    for (int k = 1; k < label::points(p); ++k) step[size_t(label::kBase + (k - 1) * label::kPerPoint + 3)] = 0.3;
    return step;
}

// The label b (of -2 ln L `at_b`) grown by a point while the evidence pays
// for it, so that one point stays where one suffices. A point more (three
// coordinates and a weight) must lower -2 ln L by more than 4 ln n, n the
// weight of the values fitted (the Bayesian information criterion), and
// foretell held-out peaks better (`held_out`, -2 ln L of each fold refitted
// without it): on real ACBP a point that passed the first alone fitted a
// few large PREs of wrong pairs. New points start where other starts ended
// (another place the data liked) and around the first point.
// Starts are screened on the first model alone (`models_used` 1), as the
// single point's are, and the best polished on all.
template <typename F, typename H>
Params grown(F objective, H held_out, Params b, double at_b, const std::vector<std::pair<Params, double>>& ends,
             double n, int most_points, uint64_t seed, size_t& models_used) {
    const double price = 4.0 * std::log(std::max(n, 2.0));
    Stream rng{seed};
    while (label::points(b) < std::min(most_points, label::kMostPoints)) {
        std::vector<Point> at;
        const Point u = label::point(b, 0);
        std::vector<std::pair<double, Point>> other;  // the best kGrowStarts - 1 other places
        for (const auto& e : ends) {
            const Point v = label::point(e.first, 0);
            if (std::isfinite(e.second) && std::hypot(v.x - u.x, v.y - u.y, v.z - u.z) > kDistinct)
                other.push_back({e.second, v});
        }
        std::sort(other.begin(), other.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
        for (size_t k = 0; k < other.size() && k + 1 < kGrowStarts; ++k) at.push_back(other[k].second);
        while (at.size() < kGrowStarts) {
            const Params r = random_start(rng);
            at.push_back({u.x + (r[0] - u.x) * 0.5, u.y + (r[1] - u.y) * 0.5, u.z + (r[2] - u.z) * 0.5});
        }
        std::pair<Params, double> best{b, HUGE_VAL};
        models_used = 1;
        // b itself, screened the same way, is what a point more must beat.
        const double screened_b = minimise(objective, b, steps(b), 2 * kScreen).second;
        for (const Point& v : at) {
            const Params x = label::with_point(b, v, 0.0);
            auto e = minimise(objective, x, steps(x), 2 * kScreen);
            if (e.second < best.second) best = e;
        }
        models_used = 0;
        // Polished only where the screen found half the price or more.
        if (!(best.second + 0.5 * price < screened_b)) break;
        best = minimise(objective, best.first, steps(best.first), kMostSteps);
        if (!(best.second + price < at_b)) break;
        const double before = held_out(b), after = held_out(best.first);
        if (!(after < before)) break;
        b = best.first;
        at_b = best.second;
    }
    return b;
}

// A site's (peak, residue) pairs to refit to, from the soft assignment `w`
// ([j * (R + 1) + r]); `kind` per peak, 0 where the site measured nothing.
struct Pair {
    int j, r;
    double w;
};

std::vector<Pair> site_pairs(const std::vector<double>& w, const signed char* kind, int P, int R) {
    const size_t W = size_t(R) + 1;
    std::vector<Pair> pairs, cand;
    for (int j = 0; j < P; ++j) {
        if (kind[j] == 0) continue;
        cand.clear();
        double total_w = 0.0;
        for (int r = 0; r < R; ++r) {
            const double x = w[size_t(j) * W + size_t(r)];
            if (x < 1e-4) continue;
            cand.push_back({j, r, x});
            total_w += x;
        }
        // The residues that carry all but 1 % of the peak's weight, at most
        // kMostPairs: the tail costs time and moves nothing.
        std::sort(cand.begin(), cand.end(), [](const Pair& a, const Pair& b) { return a.w > b.w; });
        double kept = 0.0;
        size_t n = 0;
        while (n < cand.size() && n < kMostPairs && kept < 0.99 * total_w) kept += cand[n++].w;
        for (size_t x = 0; x < n; ++x) pairs.push_back({j, cand[x].r, cand[x].w * total_w / kept});
    }
    return pairs;
}

std::string text(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3g", v);
    return buf;
}

// A site's fitted label as it is reported (its rms before and after
// already in `f`), and whether it is kept.
void describe(const Geometry::Frame& first_model, const Params& p, double spread, bool measured, const FitOptions& fo,
              SiteFit& f) {
    f.weights = label::weights(p);
    f.u = {0.0, 0.0, 0.0};
    for (int k = 0; k < label::points(p); ++k) {
        const Point x = label::point(p, k);
        const double w = f.weights[size_t(k)];
        f.points.push_back(x);
        f.u = {f.u.x + w * x.x, f.u.y + w * x.y, f.u.z + w * x.z};
    }
    f.centre = in_frame(first_model, f.u);
    f.distance = std::sqrt(f.u.x * f.u.x + f.u.y * f.u.y + f.u.z * f.u.z);
    f.amplitude = std::exp(p[3]);
    f.spread = spread;
    f.scale = residual_scale(p);
    if (!measured) {
        f.kept = false;
        f.why = "no PRE measured at this site";
    } else if (f.points.size() == 1 && f.spread > fo.most_spread) {
        f.kept = false;
        f.why = "starts " + text(f.spread) + " A apart fit as well: one point cannot describe this label";
    } else if (!(f.after < f.before)) {
        f.kept = false;
        f.why = "the fit does not improve on the unfitted prediction";
    }
}

}  // namespace

Fitted fit_labels(const Geometry& g, const PredictOptions& o, const Prediction& unfitted, const ProfileTable& obs,
                  const ReadResult& obsr, const FitOptions& fo,
                  const std::function<void(const std::string&)>& progress) {
    const size_t S = g.frames.size(), N = g.nuclei.size();
    const double factor = gamma2_factor(o.tau_c_ns * 1e-9, o.field_mhz * 1e6);
    ReadResult simr;
    simr.profiles = int(S);
    simr.maxres = int(N);
    simr.records.assign(S, int(N));
    const Shape shape = combined_shape(simr, obsr);
    label::Placed scratch;

    // The pseudo-atom: on CA->CB, the label distance from CA.
    std::vector<Params> params(S);
    std::vector<Params> pseudo(S);
    for (size_t s = 0; s < S; ++s) {
        const Geometry::Frame& f = g.frames[s][0];
        const Point d{f.origin.x - f.ca.x, f.origin.y - f.ca.y, f.origin.z - f.ca.z};
        pseudo[s] = {o.label_distance - std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z), 0.0, 0.0, 0.0, std::log(2.0)};
        params[s] = pseudo[s];
    }

    auto predictions = [&](const std::vector<Params>& p) {
        std::vector<std::vector<double>> gamma(S, std::vector<double>(N));
        for (size_t s = 0; s < S; ++s) {
            label::place(g, s, p[s], factor, scratch);
            for (size_t n = 0; n < N; ++n) gamma[s][n] = label::gamma2(g, n, scratch);
        }
        return gamma;
    };

    Fitted out;
    out.sites.resize(S);
    std::vector<double> spread(S, 0.0);
    std::vector<char> measured(S, 0);  // the site has a PRE to fit to
    std::vector<std::vector<Params>> drawn(S);  // per site, the last round's draws
    Out quiet(kDiscard);
    // Rounds past the anneal, at T = 1, while the centres still move: up to
    // kMostRoundsFactor times the anneal's, within kExtraWork.
    int all_rounds = fo.rounds;
    const double work = double(N) * double(S) * double(g.models);
    const int most_rounds =
        fo.rounds + int(std::min(double((kMostRoundsFactor - 1) * fo.rounds), std::floor(kExtraWork / std::max(work, 1.0))));
    bool unsettled = false;
    for (int round = 0; round < all_rounds; ++round) {
        const bool last = round + 1 == all_rounds, many_starts = round == 0 || last;
        const std::vector<std::vector<double>> gamma = predictions(params);
        auto sim = make_table();
        auto obs_c = std::make_unique<ProfileTable>(obs);
        for (size_t s = 0; s < S; ++s)
            for (size_t n = 0; n < N; ++n) {
                (*sim)[s].id[n] = g.nuclei[n].residue;
                (*sim)[s].pre[n] = gamma[s][n];
                (*sim)[s].restype[n] = g.nuclei[n].type;
            }
        apply_ceiling(*sim, *obs_c, obsr.maxobs, shape, quiet, quiet);
        const PosteriorData d = posterior_data(*sim, simr, *obs_c, obsr, shape);
        if (d.peaks == 0 || d.residues == 0) {
            progress("fit round " + std::to_string(round + 1) + ": no peaks to fit to; the fit stops");
            break;
        }
        const FlatValues flat(d);
        const int P = d.peaks, R = d.residues;
        const size_t W = size_t(R) + 1;
        // Each site's pairs and alone costs, and their sum with the types'.
        std::vector<std::vector<double>> hp(size_t(d.profiles), std::vector<double>(size_t(R)));
        for (int m = 0; m < d.profiles; ++m)
            for (int r = 0; r < R; ++r) hp[size_t(m)][size_t(r)] = flat.h_of(m, std::min(d.pred[size_t(m) * R + r], d.cap));
        auto site_cost = [&](int m, int j, int r) {
            const double scale = residual_scale(params[size_t(m)]);
            const size_t k = size_t(m) * P + j;
            if (flat.kind[k] == 0) return 0.0;
            if (r == R) return flat.kind[k] == 2 ? 2.0 * std::log(2.0) : 2.0 * std::log(scale) + 5.0 * std::log1p(kAloneZ * kAloneZ / 4.0);
            return (flat.kind[k] == 1 ? 2.0 * std::log(scale) : 0.0) + flat.cost_h(m, j, hp[size_t(m)][size_t(r)], scale);
        };
        std::vector<double> total(size_t(P) * W);
        for (int j = 0; j < P; ++j)
            for (int r = 0; r <= R; ++r) {
                double c = shift_cost(r == R || !is_typed(d.type[size_t(r)]) ? 0 : d.type[size_t(r)], d.shift[size_t(j)]);
                for (int m = 0; m < d.profiles; ++m) c += site_cost(m, j, r);
                total[size_t(j) * W + size_t(r)] = c;
            }
        // Softer at first, so that no early pairing is taken as settled.
        const double temperature =
            fo.rounds > 1 ? std::pow(4.0, 1.0 - std::min(double(round) / (fo.rounds - 1), 1.0)) : 1.0;
        std::vector<double> shared, own, cost;
        balance(total, P, R, temperature, shared);
        double moved = 0.0;
        for (size_t s = 0; s < S && int(s) < d.profiles; ++s) {
            // Each peak's residues by their weights; in the last round with
            // this site's own evidence at half strength: enough to choose
            // among the residues that the other sites leave open, too little
            // for its pairing alone to choose the centre kept (at full
            // strength the probabilities run ahead of the truth, without it
            // the centres are fitted to weights too spread).
            const std::vector<double>* weights = &shared;
            if (last) {
                cost = total;
                for (int j = 0; j < P; ++j)
                    for (int r = 0; r <= R; ++r) cost[size_t(j) * W + size_t(r)] -= (1.0 - kOwnWeight) * site_cost(int(s), j, r);
                balance(cost, P, R, temperature, own);
                weights = &own;
            }
            const std::vector<Pair> pairs = site_pairs(*weights, flat.kind.data() + s * size_t(P), P, R);
            std::vector<int> needed;
            for (const Pair& p : pairs) needed.push_back(p.r);
            std::sort(needed.begin(), needed.end());
            needed.erase(std::unique(needed.begin(), needed.end()), needed.end());
            std::vector<double> h(N, 0.0);
            double weight = 0.0;  // of the values, not bounds
            for (const Pair& q : pairs)
                if (flat.kind[size_t(s) * size_t(d.peaks) + size_t(q.j)] == 1) weight += q.w;
            size_t models_used = 0;  // 0: all
            // With fold >= 0, the peaks j % kFolds == fold are held out: left
            // out of the fit, or (held) alone weighed, without the prior.
            int fold = -1;
            bool held = false;
            auto objective = [&](const Params& p) {
                label::place(g, s, p, factor, scratch);
                for (int r : needed)
                    h[size_t(r)] = flat.h_of(int(s), std::min(label::gamma2(g, size_t(r), scratch, models_used), d.cap));
                const double scale = residual_scale(p);
                if (fold < 0) {
                    double c = label::prior_cost(p) + weight * 2.0 * std::log(scale);
                    for (const Pair& q : pairs) c += q.w * flat.cost_h(int(s), q.j, h[size_t(q.r)], scale);
                    return c;
                }
                double c = held ? 0.0 : label::prior_cost(p);
                for (const Pair& q : pairs) {
                    if ((q.j % kFolds == fold) != held) continue;
                    const bool value = flat.kind[size_t(s) * size_t(d.peaks) + size_t(q.j)] == 1;
                    c += q.w * (flat.cost_h(int(s), q.j, h[size_t(q.r)], scale) + (value ? 2.0 * std::log(scale) : 0.0));
                }
                return c;
            };
            // -2 ln L of each fold's peaks under the label refitted, from x,
            // to the other folds', summed.
            auto held_out = [&](const Params& x) {
                double sum = 0.0;
                for (fold = 0; fold < kFolds; ++fold) {
                    held = false;
                    const Params fitted = minimise(objective, x, steps(x), kMostSteps).first;
                    held = true;
                    sum += objective(fitted);
                }
                fold = -1;
                return sum;
            };
            const Params step = steps(params[s]);
            // A label grown to more points is refitted as it is.
            std::vector<Params> starts{params[s]};
            if (many_starts && label::points(params[s]) == 1) {
                starts.push_back(pseudo[s]);
                Stream rng{0x5eed0000ULL + s};
                for (int k = 0; k < fo.starts; ++k) starts.push_back(random_start(rng));
            }
            // Every start a short way, on the first model alone (an
            // ensemble's models differ by less than the starts do), then
            // those that came near the best to the end.
            std::vector<std::pair<Params, double>> ends;
            models_used = starts.size() > 1 ? 1 : 0;
            for (const Params& x : starts) ends.push_back(minimise(objective, x, step, starts.size() > 1 ? kScreen : kMostSteps));
            models_used = 0;
            double lowest = ends[0].second;
            for (const auto& e : ends) lowest = std::min(lowest, e.second);
            if (starts.size() > 1)
                for (auto& e : ends)
                    e = e.second <= lowest + kPolishWithin ? minimise(objective, e.first, step, kMostSteps)
                                                           : std::make_pair(e.first, HUGE_VAL);
            size_t best = 0;
            for (size_t k = 1; k < ends.size(); ++k)
                if (ends[k].second < ends[best].second) best = k;
            Params b = ends[best].first;
            if (round + kGrowRounds >= all_rounds && fo.most_points > 1)
                b = grown(objective, held_out, b, ends[best].second, ends, weight, fo.most_points,
                          0x9e0000ULL + s + 100 * size_t(round), models_used);
            moved = std::max(moved, std::hypot(b[0] - params[s][0], b[1] - params[s][1], b[2] - params[s][2]));
            // Each round's refit moves a centre only part of the way to where
            // the assignment it implies would put it (the soft assignment
            // follows the centres slowly), so before the last round the move
            // is taken kRelax times over, the extra at most kMostExtra.
            if (!last && label::points(b) == label::points(params[s])) {
                const double step = std::hypot(b[0] - params[s][0], b[1] - params[s][1], b[2] - params[s][2]);
                const double extra = step > 0.0 ? std::min((kRelax - 1.0) * step, kMostExtra) / step : 0.0;
                for (size_t k = 0; k < 3; ++k) b[k] += extra * (b[k] - params[s][k]);
            }
            params[s] = b;
            if (last && fo.draws > 0) {
                drawn[s] = label::draws(objective, b, fo.draws, 0xd7a0000ULL + s);
            }
            if (last) {
                spread[s] = 0.0;
                measured[s] = !pairs.empty();
                for (const auto& [x, v] : ends)
                    if (v <= ends[best].second + 2.0)
                        spread[s] = std::max(spread[s], std::hypot(x[0] - b[0], x[1] - b[1], x[2] - b[2]));
                // The rms residual in measurement errors, as the last round weighs pairs.
                auto rms = [&](const std::vector<double>& pred) {
                    double sum = 0.0, count = 0.0;
                    for (const Pair& q : pairs) {
                        const double z = flat.squared(int(s), q.j, std::min(pred[size_t(q.r)], d.cap), 1.0);
                        if (z < 0.0) continue;
                        sum += q.w * z;
                        count += q.w;
                    }
                    return count > 0.0 ? std::sqrt(sum / count) : 0.0;
                };
                std::vector<double> fitted(N);
                label::place(g, s, b, factor, scratch);
                for (size_t n = 0; n < N; ++n) fitted[n] = label::gamma2(g, n, scratch);
                out.sites[s].before = rms(unfitted.gamma2[s]);
                out.sites[s].after = rms(fitted);
            }
        }
        if (round + 2 == all_rounds && fo.rounds > 1 && moved > kSettled) {
            if (all_rounds < most_rounds) ++all_rounds;
            else unsettled = true;
        }
        progress("fit round " + std::to_string(round + 1) + " of " + std::to_string(all_rounds) + ": temperature " +
                 text(temperature) + ", centres moved up to " + text(moved) + " A");
    }

    const std::vector<std::vector<double>> gamma = predictions(params);
    out.prediction = unfitted;
    for (size_t s = 0; s < S; ++s) {
        SiteFit& f = out.sites[s];
        describe(g.frames[s][0], params[s], spread[s], measured[s], fo, f);
        if (f.kept) out.prediction.gamma2[s] = gamma[s];
    }
    out.draws.assign(size_t(fo.draws), out.prediction.gamma2);
    for (size_t k = 0; k < out.draws.size(); ++k)
        for (size_t s = 0; s < S; ++s) {
            if (!out.sites[s].kept || drawn[s].size() <= k) continue;
            label::place(g, s, drawn[s][k], factor, scratch);
            for (size_t n = 0; n < N; ++n) out.draws[k][s][n] = label::gamma2(g, n, scratch);
        }
    out.settled = !unsettled;
    return out;
}

std::string draws_text(const Fitted& f, const Prediction& p) {
    std::string s;
    Prediction drawn = p;
    for (size_t k = 0; k < f.draws.size(); ++k) {
        drawn.gamma2 = f.draws[k];
        s += std::string(kDrawMark) + std::to_string(k + 1) + " of " + std::to_string(f.draws.size()) + "\n" +
             simulated_profiles_text(drawn);
    }
    return s;
}

std::string centres_pdb(const Geometry& g, const Fitted& f, const PredictOptions& o) {
    std::string s = "REMARK   fitted spin-label points, NIT in chain Z, occupancy the weight\n";
    int serial = 1;
    for (size_t m = 0; m < g.models; ++m) {
        if (g.models > 1) s += "MODEL     " + std::to_string(m + 1) + "\n";
        for (size_t k = 0; k < f.sites.size(); ++k) {
            // One atom per point, its weight as the occupancy.
            const SiteFit& site = f.sites[k];
            for (size_t i = 0; i < site.points.size(); ++i) {
                const Point p = in_frame(g.frames[k][m], site.points[i]);
                char line[100];
                std::snprintf(line, sizeof line, "HETATM%5d  O   NIT Z%4d    %8.3f%8.3f%8.3f%6.2f%6.2f           O\n",
                              serial++, o.sites[k].number, p.x, p.y, p.z, site.weights[i], site.kept ? 1.0 : 0.0);
                s += line;
            }
        }
        if (g.models > 1) s += "ENDMDL\n";
    }
    return s + "END\n";
}
