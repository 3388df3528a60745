// The model: each measured PRE against its residue's prediction, with an
// error that multiplies down to a floor (terms.h), each profile's
// predictions off by a factor of their own, and, with a share eta of the
// profile's values, as a value the predictions say nothing about (the mean
// of its likelihood over all residues); a peak may be no residue's and a
// residue may give no peak. Known pairs leave the problem as a removed row
// and column.
//
// f, the floor and the profiles' factors are fitted at the best matching,
// then refitted to every pairing by its posterior chance. Each profile's
// eta is fitted on held-out profiles (each value foretold by the marginals
// without its own profile's evidence): a fit at a matching, which picks the
// pairs that fit best even where they are wrong, can flatter data that say
// nothing, and held-out values cannot. The marginals are sampled: exact but
// for the sampling error, which the result states.
#include "posterior/posterior.h"

#include <algorithm>
#include <cmath>

#include "posterior/costs.h"
#include "posterior/matchings.h"
#include "posterior/terms.h"
#include "posterior/weighing.h"
#include "io/failure.h"
#include "profiles/ceiling.h"

using namespace post;

namespace {

constexpr double kStartModelError = 0.25;
// The chain's sweeps: for the held-out fit, and for the probabilities
// given, which take more until their standard errors are small.
constexpr long kRoughSweeps = 100;
constexpr long kSweeps = 1000;
constexpr long kMostSweeps = 3000;
constexpr long kLeastSweeps = 400;  // of one of several posteriors averaged
constexpr uint64_t kSeed = 20261207;
// Pairings less likely than this leave the refit.
constexpr double kLeastChance = 0.01;
// Real (peak, residue) pairs of a matching, and the known ones, each sure.
std::vector<Pairing> real_pairs(const Free& q, const std::vector<int>& match, const PosteriorOptions& opt) {
    std::vector<Pairing> pairs;
    for (const auto& [j, r] : opt.fixed) pairs.push_back({j, r, 1.0});
    for (int i = 0; i < q.P; ++i)
        if (match[i] >= 0) pairs.push_back({q.rows[i], q.cols[match[i]], 1.0});
    return pairs;
}

// Every pairing that the marginals `b` over kernel `k` weigh at
// kLeastChance or more, by its chance, and the known ones.
std::vector<Pairing> weighed_pairs(const Free& q, const Kernel& k, const Marginals& b,
                                   const PosteriorOptions& opt) {
    std::vector<Pairing> pairs;
    for (const auto& [j, r] : opt.fixed) pairs.push_back({j, r, 1.0});
    for (int i = 0; i < q.P; ++i)
        for (int e = k.start[i]; e < k.start[i + 1]; ++e)
            if (b.pair[e] >= kLeastChance) pairs.push_back({q.rows[i], q.cols[k.col[e]], b.pair[e]});
    return pairs;
}

// The mean squared standardised residual of a matching's two-sided values.
double chi2_per_value(const Tables& t, const Model& model, const std::vector<Pairing>& pairs) {
    const Scaled s = scaled(t, model);
    double chi2 = 0.0;
    long values = 0;
    for (const Pairing& p : pairs)
        for (int m = 0; m < t.np; ++m) {
            const size_t o = size_t(m) * t.peaks + p.j;
            if (!t.measured[o] || t.clipped[o]) continue;
            chi2 += squared(s.value[o], s.pred[size_t(m) * t.residues + p.r]);
            ++values;
        }
    return values > 0 ? chi2 / values : 0.0;
}

// The power at which the shifts' likelihood is taken, from how their
// residuals at the matching's pairs go together: n profiles whose
// correlations are C count as n^2 / sum C^2 independent ones (all n where
// none correlate, 1 where all do). A residue's shifts err together where its
// position is off (the same nucleus in every metal's field; H beside its N):
// on calbindin, taken at the PREs' power, 93 % of the peaks at 0.9 or more
// were right after a blind fit. Never above the PREs' power.
double shift_power(const Tables& t, const Model& model, const std::vector<Pairing>& pairs) {
    std::vector<int> shift;
    for (int m = 0; m < t.np; ++m)
        if (t.shifts(m)) shift.push_back(m);
    const size_t n = shift.size();
    if (n < 2) return kEvidence;
    const Scaled s = scaled(t, model);
    // Residuals standardised and held within 3, so that a few gross ones do
    // not make every profile look alike.
    std::vector<double> z(pairs.size() * n, std::nan(""));
    for (size_t i = 0; i < pairs.size(); ++i)
        for (size_t a = 0; a < n; ++a) {
            const size_t o = size_t(shift[a]) * t.peaks + pairs[i].j;
            if (!t.measured[o]) continue;
            const Value& x = s.value[o];
            const Pred& p = s.pred[size_t(shift[a]) * t.residues + pairs[i].r];
            z[i * n + a] = std::max(-3.0, std::min(3.0, (x.g - p.g) / std::sqrt(variance(x, p))));
        }
    double sum = double(n);
    for (size_t a = 0; a < n; ++a)
        for (size_t b = a + 1; b < n; ++b) {
            // Centred: an offset of a whole profile (its referencing) tells
            // no residue from another, and is no sign of shared errors.
            double ma = 0.0, mb = 0.0;
            int both = 0;
            for (size_t i = 0; i < pairs.size(); ++i) {
                const double za = z[i * n + a], zb = z[i * n + b];
                if (std::isnan(za) || std::isnan(zb)) continue;
                ma += za;
                mb += zb;
                ++both;
            }
            if (both < 3) continue;
            ma /= both;
            mb /= both;
            double ab = 0.0, aa = 0.0, bb = 0.0;
            for (size_t i = 0; i < pairs.size(); ++i) {
                const double za = z[i * n + a], zb = z[i * n + b];
                if (std::isnan(za) || std::isnan(zb)) continue;
                ab += (za - ma) * (zb - mb);
                aa += (za - ma) * (za - ma);
                bb += (zb - mb) * (zb - mb);
            }
            if (aa <= 0.0 || bb <= 0.0) continue;
            // Less what chance alone gives a correlation of `both` pairs.
            const double c2 = ab * ab / (aa * bb) - 1.0 / (both - 1);
            if (c2 > 0.0) sum += 2.0 * c2;
        }
    return std::min(kEvidence, double(n) / sum);
}

}  // namespace

Bound largest_measured(const PosteriorData& d, int profile) {
    Bound bound;
    for (size_t k = 0; k < d.meas.size(); ++k) {
        // A shift (ppm) says nothing of how large a broadened peak's PRE is.
        const size_t m = d.peaks > 0 ? k / size_t(d.peaks) : 0;
        if ((m < d.pcs.size() && d.pcs[m]) || (profile >= 0 && int(m) != profile)) continue;
        const double v = d.meas[k];
        if (is_measured(v) && v < d.cap && v > bound.value) bound = {v, pre_error(v, d.err[k])};
    }
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

void append_shifts(PosteriorData& d, const ProfileTable& simt, const ReadResult& sim, const std::string& simname,
                   const ProfileTable& obst, const ReadResult& obs, const std::string& obsname) {
    const int np = std::min(sim.profiles, obs.profiles);
    if (d.profiles + np > kMaxProfiles)
        throw Failure{kStatusUsage, obsname + ": " + std::to_string(np) + " profiles of shifts and " +
                                        std::to_string(d.profiles) + " of PREs, more than the " +
                                        std::to_string(kMaxProfiles) + " a posterior weighs"};
    if (np == 0) throw Failure{kStatusInput, obsname + ": holds no profile of shifts"};
    for (int m = 0; m < np; ++m) {
        if (obs.records[m] < d.peaks)
            throw Failure{kStatusInput, obsname + ": profile " + std::to_string(m) + " lists " +
                                            std::to_string(obs.records[m]) + " peaks where the PREs list " +
                                            std::to_string(d.peaks) + ": every profile lists every peak, in the same order"};
        if (sim.records[m] < d.residues)
            throw Failure{kStatusInput, simname + ": profile " + std::to_string(m) + " lists " +
                                            std::to_string(sim.records[m]) + " residues where the PREs' list " +
                                            std::to_string(d.residues) + ": predict both from one structure, with the same nuclei"};
    }
    d.pcs.resize(size_t(d.profiles), 0);
    std::vector<double> meas, err, pred;
    for (int m = 0; m < d.profiles + np; ++m) {
        const bool ours = m >= d.profiles;
        const int k = m - d.profiles;
        for (int j = 0; j < d.peaks; ++j) {
            meas.push_back(ours ? obst[k].pre[j] : d.meas[size_t(m) * d.peaks + j]);
            err.push_back(ours ? obst[k].pre_err[j] : d.err[size_t(m) * d.peaks + j]);
        }
        for (int r = 0; r < d.residues; ++r) pred.push_back(ours ? simt[k].pre[r] : d.pred[size_t(m) * d.residues + r]);
    }
    d.meas = meas;
    d.err = err;
    d.pred = pred;
    d.pcs.resize(size_t(d.profiles + np), 1);
    d.profiles += np;
}

Posterior compute_posterior(const PosteriorData& d, const PosteriorOptions& opt) {
    const Tables t = gather(d);
    Posterior post;
    post.peaks = t.peaks;
    post.residues = t.residues;
    post.defaulted_errors = t.defaulted;
    post.values = t.values;
    post.fitted = opt.held ? opt.held->fitted : opt.model_error < 0.0;
    post.f = post.fitted ? kStartModelError : opt.model_error;

    Free q = free_problem(t, opt);
    const Priors pr = matching_priors(q.P, q.R);
    Model model;
    if (opt.held) {
        model = opt.held->model;
    } else {
        model.f = post.f;
        model.c = t.typical_error;
        model.pcs = t.pcs;
        model.scale = post.fitted ? starting_scales(t, model.c) : std::vector<double>(t.np, 1.0);
    }
    // The model at the best matching: match, then fit to it. A given f is
    // the whole error model: no floor, no profile's factor. With one
    // profile, each fill also takes the means that its gross share needs.
    const bool means = t.np == 1;
    std::vector<int> match;
    Kernel k;
    Marginals b;
    // A held model needs neither the model's matching nor rough marginals:
    // they serve only its fit and its shares.
    if (!opt.held) {
        fill_costs(t, model, q, means);
        match = best_matching(q, pr);
        if (match.size() != size_t(q.P)) return post;  // some costs are not finite
        const std::vector<Pairing> matched = real_pairs(q, match, opt);
        if (post.fitted) {
            fit_model(t, matched, true, model);
            model.shift_power = shift_power(t, model, matched);
            fill_costs(t, model, q, means);
        }
        // Rough marginals serve the refit and the held-out fit.
        b = sample_marginals(q, pr, match, kRoughSweeps, kRoughSweeps, 1.0, kSeed, k);
        // One step of expectation-maximisation: the model refitted to every
        // pairing the posterior weighs, by its chance, and the marginals sampled
        // again. The best matching's pairs flatter the fit; the posterior's do
        // not (2 to 4 points more accuracy on truth-known sets).
        if (post.fitted && b.convergence.status != SampleStatus::Failed) {
            fit_model(t, weighed_pairs(q, k, b, opt), false, model);
            choose_error_model(t, q, model);
            model.shift_power = shift_power(t, model, matched);  // the refitted model, the matching's pairs
            fill_costs(t, model, q, means);
            b = sample_marginals(q, pr, match, kRoughSweeps, kRoughSweeps, 1.0, kSeed, k);
        }
        if (b.convergence.status == SampleStatus::Failed) {
            post.marginals = b.convergence;
            return post;
        }
    }
    post.f = model.f;
    post.pcs_f = model.pcs_f;
    post.pcs_a = model.pcs_a;
    post.shift_power = model.shift_power;
    for (int m = 0; m < t.np; ++m) (t.shifts(m) ? post.shift_profiles : post.pre_profiles) += 1;
    post.single_profile = t.np == 1;
    const std::vector<double> eta = opt.held            ? opt.held->etas
                                    : post.single_profile ? std::vector<double>{gross_share(t, q, match, model)}
                                                          : held_out(t, q, k, b, model);
    post.f_at_bound = post.fitted && post.f >= kMaxModelError * 0.99;
    post.f_at_least = post.fitted && post.f <= kLeastFittedError * 1.01;
    post.f_held = post.fitted && post.single_profile && post.f <= kOneProfileLeastError * 1.01;
    post.scale = model.scale;
    post.model = model;
    post.etas = eta;
    post.eta = 0.0;
    for (double e : eta) post.eta += e / double(eta.size());
    if (post.eta > 0.0) fill_mixed_costs(t, model, eta, q);
    else if (opt.held) fill_costs(t, model, q, means);  // else the costs are the model's already
    match = best_matching(q, pr);
    if (match.size() != size_t(q.P)) return post;
    post.computed = true;

    post.optimum.assign(t.peaks, -1);
    post.fixed.assign(t.peaks, 0);
    for (const auto& [j, r] : opt.fixed) post.fixed[j] = 1;
    const std::vector<Pairing> pairs = real_pairs(q, match, opt);
    for (const Pairing& p : pairs) post.optimum[p.j] = p.r;
    post.chi2_per_value = chi2_per_value(t, model, pairs);

    const long share = std::max(opt.averaged, 1);
    const long sweeps = std::max(kSweeps / share, kLeastSweeps), most = std::max(kMostSweeps / share, sweeps);
    b = sample_marginals(q, pr, match, sweeps, most, kMarginalTolerance * std::sqrt(double(share)),
                         kSeed + 1 + 0x9e3779b9ULL * uint64_t(std::max(opt.stream, 0)), k);
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
