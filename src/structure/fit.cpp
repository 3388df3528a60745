// Each round: predictions from the current centres, the posterior over
// assignments as the program computes it (ceiling, fitted f, sampled
// marginals), then, per site, a Nelder-Mead refit of the centre and the
// amplitude. A peak's weight on a residue is its probability with this
// site's own likelihood divided out. A soft prior keeps the centre 3 to 8 A
// from CB and the amplitude within a factor of e of the formula's. The
// first and the last round also try random starts, and the last one's
// spread of equally good starts says whether one point can describe the label.
#include "structure/fit.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "io/output.h"
#include "posterior/posterior.h"
#include "profiles/ceiling.h"

namespace {

constexpr double kNearest = 3.0, kFarthest = 8.0;  // A from CB
constexpr double kPriorWidth = 0.5;                // A, outside that range
constexpr double kAmplitudeRange = 1.0;            // ln amplitude: free within +-1
constexpr double kAmplitudeWall = 0.1;             // and steep beyond

// u in the residue frame, ln amplitude, ln of the site's scale on the log scale.
using Params = std::array<double, 5>;
constexpr int kDims = 5;

Point u_of(const Params& p) { return {p[0], p[1], p[2]}; }

double prior_cost(const Params& p) {
    const double d = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
    double c = 0.0;
    if (std::fabs(p[3]) > kAmplitudeRange) {
        const double z = (std::fabs(p[3]) - kAmplitudeRange) / kAmplitudeWall;
        c += z * z;
    }
    if (d < kNearest) c += ((kNearest - d) / kPriorWidth) * ((kNearest - d) / kPriorWidth);
    if (d > kFarthest) c += ((d - kFarthest) / kPriorWidth) * ((d - kFarthest) / kPriorWidth);
    return c;
}

// Gamma2 of nucleus n from site s's label at p.
double gamma_of(const Geometry& g, size_t s, size_t n, const Params& p, double factor,
                std::vector<std::vector<Point>>& points) {
    for (size_t m = 0; m < g.models; ++m) points[m].assign(1, in_frame(g.frames[s][m], u_of(p)));
    return factor * std::exp(p[3]) * mean_r6(g, n, points);
}

// Nelder-Mead, from x with the given steps; the best point and its value.
template <typename F>
std::pair<Params, double> minimise(F f, Params x, const Params& step, int most) {
    constexpr int V = kDims + 1;
    std::array<Params, V> v;
    std::array<double, V> fv;
    v[0] = x;
    for (int i = 0; i < kDims; ++i) {
        v[i + 1] = x;
        v[i + 1][i] += step[i];
    }
    for (int i = 0; i < V; ++i) fv[i] = f(v[i]);
    for (int it = 0; it < most; ++it) {
        std::array<int, V> order;
        for (int i = 0; i < V; ++i) order[i] = i;
        std::sort(order.begin(), order.end(), [&](int a, int b) { return fv[a] < fv[b]; });
        const int best = order[0], worst = order[V - 1], second = order[V - 2];
        if (std::fabs(fv[worst] - fv[best]) < 1e-7 * (1.0 + std::fabs(fv[best]))) break;
        Params c{};
        for (int i = 0; i < V; ++i)
            if (i != worst)
                for (int k = 0; k < kDims; ++k) c[k] += v[i][k] / kDims;
        auto along = [&](double t) {
            Params y;
            for (int k = 0; k < kDims; ++k) y[k] = c[k] + t * (v[worst][k] - c[k]);
            return y;
        };
        const Params r = along(-1.0);
        const double fr = f(r);
        if (fr < fv[best]) {
            const Params e = along(-2.0);
            const double fe = f(e);
            if (fe < fr) {
                v[worst] = e;
                fv[worst] = fe;
            } else {
                v[worst] = r;
                fv[worst] = fr;
            }
        } else if (fr < fv[second]) {
            v[worst] = r;
            fv[worst] = fr;
        } else {
            const Params k = along(fr < fv[worst] ? -0.5 : 0.5);
            const double fk = f(k);
            if (fk < std::min(fr, fv[worst])) {
                v[worst] = k;
                fv[worst] = fk;
            } else {
                for (int i = 0; i < V; ++i) {
                    if (i == best) continue;
                    for (int q = 0; q < kDims; ++q) v[i][q] = v[best][q] + 0.5 * (v[i][q] - v[best][q]);
                    fv[i] = f(v[i]);
                }
            }
        }
    }
    int best = 0;
    for (int i = 1; i < V; ++i)
        if (fv[i] < fv[best]) best = i;
    return {v[best], fv[best]};
}

// The fit's own measure of a value against a prediction: residuals on a log
// scale, ln(PRE + c) with c the profile's median error, so that a prediction
// too small by some factor costs what one too large by it does (on the PRE's
// own scale the posterior's model forgives the first, and a fit to spread
// weights drifts to small amplitudes); a Student t whose scale combines the
// site's own (fitted) and the value's error carried over; a broadened value
// one-sided.
struct LogValues {
    int peaks = 0;
    std::vector<double> c, lv, le;  // per profile; per value: ln(y + c), err / (y + c)
    std::vector<signed char> kind;  // per value: 0 not measured, 1 a value, 2 at least lv
    explicit LogValues(const PosteriorData& d) : peaks(d.peaks) {
        c.assign(d.profiles, 1.0);
        const size_t n = size_t(d.profiles) * d.peaks;
        lv.assign(n, 0.0);
        le.assign(n, 0.0);
        kind.assign(n, 0);
        double bound = 0.0;
        for (double v : d.meas)
            if (is_measured(v) && v < d.cap) bound = std::max(bound, v);
        for (int m = 0; m < d.profiles; ++m) {
            std::vector<double> errs;
            for (int j = 0; j < d.peaks; ++j) {
                const size_t k = size_t(m) * d.peaks + j;
                if (is_measured(d.meas[k]) && d.meas[k] < d.cap) errs.push_back(pre_error(d.meas[k], d.err[k]));
            }
            if (!errs.empty()) {
                std::nth_element(errs.begin(), errs.begin() + long(errs.size() / 2), errs.end());
                c[m] = std::max(errs[errs.size() / 2], 1e-3);
            }
            for (int j = 0; j < d.peaks; ++j) {
                const size_t k = size_t(m) * d.peaks + j;
                const double v = d.meas[k];
                if (!is_measured(v)) continue;
                const bool clipped = v >= d.cap;
                const double y = std::max(clipped ? bound : v, 0.0);
                kind[k] = clipped ? 2 : 1;
                lv[k] = std::log(y + c[m]);
                le[k] = clipped ? 0.0 : pre_error(v, d.err[k]) / (y + c[m]);
            }
        }
    }
    double cost(int m, int j, double pred, double scale) const {
        const size_t k = size_t(m) * peaks + j;
        if (kind[k] == 0) return 0.0;
        const double d = std::log(std::max(pred, 0.0) + c[m]) - lv[k], s2 = scale * scale + le[k] * le[k];
        if (kind[k] == 2) return -2.0 * std::log(0.5 * std::erfc(-d / std::sqrt(2.0 * s2)) + 1e-300);
        return std::log(s2) + 5.0 * std::log1p(d * d / (4.0 * s2));
    }
    // The squared standardised residual; -1 where not measured or broadened.
    double squared(int m, int j, double pred, double scale) const {
        const size_t k = size_t(m) * peaks + j;
        if (kind[k] != 1) return -1.0;
        const double d = std::log(std::max(pred, 0.0) + c[m]) - lv[k];
        return d * d / (scale * scale + le[k] * le[k]);
    }
};

// A reproducible stream of uniform numbers in [0, 1).
struct Stream {
    uint64_t s;
    double next() {
        s += 0x9e3779b97f4a7c15ULL;
        uint64_t z = s;
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return double((z ^ (z >> 31)) >> 11) * 0x1.0p-53;
    }
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
    const double d = kNearest + (kFarthest - kNearest) * r.next();
    return {std::fabs(x) / n * d, y / n * d, z / n * d, 0.0, std::log(0.3)};
}

std::string text(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3g", v);
    return buf;
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
    std::vector<std::vector<Point>> scratch(g.models);

    // The pseudo-atom: on CA->CB, the label distance from CA.
    std::vector<Params> params(S);
    std::vector<Params> pseudo(S);
    for (size_t s = 0; s < S; ++s) {
        const Geometry::Frame& f = g.frames[s][0];
        const Point d{f.origin.x - f.ca.x, f.origin.y - f.ca.y, f.origin.z - f.ca.z};
        pseudo[s] = {o.label_distance - std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z), 0.0, 0.0, 0.0, std::log(0.3)};
        params[s] = pseudo[s];
    }
    auto predictions = [&](const std::vector<Params>& p) {
        std::vector<std::vector<double>> gamma(S, std::vector<double>(N));
        for (size_t s = 0; s < S; ++s)
            for (size_t n = 0; n < N; ++n) gamma[s][n] = gamma_of(g, s, n, p[s], factor, scratch);
        return gamma;
    };

    Fitted out;
    out.sites.resize(S);
    std::vector<double> spread(S, 0.0);
    Out quiet(kDiscard);
    for (int round = 0; round < fo.rounds; ++round) {
        const bool last = round + 1 == fo.rounds, many_starts = round == 0 || last;
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
        // Softer at first, so that no early pairing is taken as settled.
        PosteriorOptions po;
        po.fit_uninformative = false;
        po.temperature = fo.rounds > 1 ? std::pow(4.0, 1.0 - double(round) / (fo.rounds - 1)) : 1.0;
        const Posterior post = compute_posterior(d, po);
        if (!post.usable()) {
            progress("fit round " + std::to_string(round + 1) + ": no posterior to fit to; the fit stops");
            break;
        }
        const ValueModel vm(d);
        const LogValues lvals(d);
        double moved = 0.0;
        for (size_t s = 0; s < S && int(s) < d.profiles; ++s) {
            // Each peak's residues by their probabilities; in the last round
            // without this site's own evidence, so that the centre kept is
            // not the one that its own pairing chose.
            struct Pair {
                int j, r;
                double w;
            };
            std::vector<Pair> pairs;
            for (int j = 0; j < post.peaks; ++j) {
                const size_t first = pairs.size();
                double total = 0.0;
                for (int r = 0; r < post.residues; ++r) {
                    if (post.p(j, r) < 1e-4) continue;
                    const double pred = std::min((*sim)[s].pre[r], d.cap);
                    const double w =
                        last ? post.p(j, r) * std::exp(std::min(vm.cost(int(s), j, pred, post.f) / 2.0, 600.0))
                             : post.p(j, r);
                    pairs.push_back({j, r, w});
                    total += w;
                }
                for (size_t x = first; x < pairs.size(); ++x) pairs[x].w *= (1.0 - post.unassigned(j)) / total;
            }
            std::vector<int> needed;
            for (const Pair& p : pairs) needed.push_back(p.r);
            std::sort(needed.begin(), needed.end());
            needed.erase(std::unique(needed.begin(), needed.end()), needed.end());
            std::vector<double> at(N, 0.0);
            auto objective = [&](const Params& p) {
                for (int r : needed) at[size_t(r)] = std::min(gamma_of(g, s, size_t(r), p, factor, scratch), d.cap);
                double c = prior_cost(p);
                const double scale = std::exp(p[4]);
                for (const Pair& q : pairs) c += q.w * lvals.cost(int(s), q.j, at[size_t(q.r)], scale);
                return c;
            };
            const Params step{1.0, 1.0, 1.0, 0.3, 0.3};
            std::vector<Params> starts{params[s]};
            if (many_starts) {
                starts.push_back(pseudo[s]);
                Stream rng{0x5eed0000ULL + s};
                for (int k = 0; k < fo.starts; ++k) starts.push_back(random_start(rng));
            }
            std::vector<std::pair<Params, double>> ends;
            for (const Params& x : starts) ends.push_back(minimise(objective, x, step, 400));
            size_t best = 0;
            for (size_t k = 1; k < ends.size(); ++k)
                if (ends[k].second < ends[best].second) best = k;
            const Params& b = ends[best].first;
            moved = std::max(moved, std::hypot(b[0] - params[s][0], b[1] - params[s][1], b[2] - params[s][2]));
            params[s] = b;
            if (round + 1 == fo.rounds) {
                spread[s] = 0.0;
                for (const auto& [x, v] : ends)
                    if (v <= ends[best].second + 2.0)
                        spread[s] = std::max(spread[s], std::hypot(x[0] - b[0], x[1] - b[1], x[2] - b[2]));
                // chi2 per measured value, weighed by the final posterior.
                auto chi2 = [&](const std::vector<double>& pred) {
                    double sum = 0.0, count = 0.0;
                    for (const Pair& q : pairs) {
                        const double z = lvals.squared(int(s), q.j, std::min(pred[size_t(q.r)], d.cap), std::exp(b[4]));
                        if (z < 0.0) continue;
                        sum += q.w * z;
                        count += q.w;
                    }
                    return count > 0.0 ? sum / count : 0.0;
                };
                std::vector<double> fitted(N);
                for (size_t n = 0; n < N; ++n) fitted[n] = gamma_of(g, s, n, b, factor, scratch);
                out.sites[s].before = chi2(unfitted.gamma2[s]);
                out.sites[s].after = chi2(fitted);
            }
        }
        progress("fit round " + std::to_string(round + 1) + " of " + std::to_string(fo.rounds) + ": f = " +
                 text(post.f) + ", uninformative share " + text(post.eta) + ", centres moved up to " + text(moved) +
                 " A");
    }

    const std::vector<std::vector<double>> gamma = predictions(params);
    out.prediction = unfitted;
    for (size_t s = 0; s < S; ++s) {
        SiteFit& f = out.sites[s];
        f.u = u_of(params[s]);
        f.centre = in_frame(g.frames[s][0], f.u);
        f.distance = std::sqrt(f.u.x * f.u.x + f.u.y * f.u.y + f.u.z * f.u.z);
        f.amplitude = std::exp(params[s][3]);
        f.spread = spread[s];
        if (f.spread > fo.most_spread) {
            f.kept = false;
            f.why = "starts " + text(f.spread) + " A apart fit as well: one point cannot describe this label";
        } else if (!(f.after < f.before)) {
            f.kept = false;
            f.why = "the fit does not improve on the unfitted prediction";
        }
        if (f.kept) out.prediction.gamma2[s] = gamma[s];
    }
    return out;
}

std::string centres_pdb(const Geometry& g, const Fitted& f, const PredictOptions& o) {
    std::string s = "REMARK   fitted spin-label centres, one pseudo-atom per site (residue NIT, chain Z)\n";
    int serial = 1;
    for (size_t m = 0; m < g.models; ++m) {
        if (g.models > 1) s += "MODEL     " + std::to_string(m + 1) + "\n";
        for (size_t k = 0; k < f.sites.size(); ++k) {
            const Point p = in_frame(g.frames[k][m], f.sites[k].u);
            char line[100];
            std::snprintf(line, sizeof line, "HETATM%5d  O   NIT Z%4d    %8.3f%8.3f%8.3f  1.00%6.2f           O\n",
                          serial++, o.sites[k].number, p.x, p.y, p.z, f.sites[k].kept ? 1.0 : 0.0);
            s += line;
        }
        if (g.models > 1) s += "ENDMDL\n";
    }
    return s + "END\n";
}
