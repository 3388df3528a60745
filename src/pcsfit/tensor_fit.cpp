// The search, after the one that worked where alternation from random
// tensors did not: the shifts of metals sharing a place are nearly
// proportional, which needs no assignment, so a group's metals start as
// multiples of one trial tensor; trials on a grid of places, frames and
// sizes are scored cheaply (each peak takes its best residue), the best
// refined by alternating assignment and linear refit, the best few
// polished with the exact assignment and the place refitted; then the
// groups' candidates are combined, each chosen against all the others' data.
#include "pcsfit/tensor_fit.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "io/failure.h"
#include "numeric/simplex.h"
#include "optimum/lap.h"
#include "posterior/posterior.h"
#include "posterior/random.h"

namespace pcsfit {

namespace {

using metal::Mat3;
using Elements = std::array<double, 5>;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// ppm: the least error a value is weighed with; the posterior fits 0.03
// ppm as the floor of calbindin's shifts against their published tensors.
constexpr double kFloor = 0.03;
constexpr double kRelative = 0.05;   // the predictions' relative error
// The search weighs values as if five times less precise, and four times
// more for the predictions: at the values' own width almost every pair of a
// trial tensor is capped, and the trials' scores say little (calbindin,
// three metals: the best of 21600 trials polished to a cost of 846 with
// the narrow width, 688 so, where the published tensors give 739).
constexpr double kSearchFloor = 0.05, kSearchRelative = 0.2;
constexpr double kCut = 9.0;         // a value's cost is at most this many squared errors
constexpr double kAlone = 0.9;       // a peak no residue's: each value at this share of kCut
// Peaks that score trials and refine them: those of the largest shifts.
constexpr int kSearchPeaks = 80;
constexpr int kKeep = 150;           // trials refined
constexpr int kPolish = 5;           // solutions polished per group
constexpr int kRefineRounds = 6;
constexpr int kPolishRounds = 8;
constexpr double kNearest = 6.0, kFarthest = 13.0;  // A: a tag's metal from its CB
constexpr double kMostMove = 3.0;                   // A: a given place's metal refitted within this
constexpr int kBalanceSteps = 100;                   // of the soft assignment's scaling
constexpr double kLeastChance = 0.01;                // pairings less likely leave a soft refit
constexpr int kSoftRounds = 6;
constexpr int kPosteriorRounds = 5;
// A place's best solution must beat the runner-up's cost by this factor.
// Measured: calbindin (three metals at a known site) 387 against 648, right;
// generated sets of two and three tags (one or two metals each), every
// tag's fit wrong, runner-ups 4 to 14 % behind (one 48 %, beside a 6 %).
constexpr double kDistinct = 1.25;
constexpr double kReliable = 2.5;                    // cost per value above which a fit is not claimed

struct Rows {
    std::vector<Elements> r[2];  // per nucleus: 1H, heavy
};

double dot(const Elements& a, const Elements& b) {
    double s = 0.0;
    for (int k = 0; k < 5; ++k) s += a[k] * b[k];
    return s;
}

// Where a group's metal is in each model, for place parameters u: an offset
// from the given atom or point, or a point in the tag's residue frame.
std::vector<Point> place_of(const Geometry& g, const Group& gr, const Point& u) {
    std::vector<Point> at(g.models);
    for (size_t m = 0; m < g.models; ++m)
        at[m] = gr.site >= 0 ? in_frame(g.frames[size_t(gr.site)][m], u)
                             : Point{gr.start[m].x + u.x, gr.start[m].y + u.y, gr.start[m].z + u.z};
    return at;
}

double place_prior(const Group& gr, const Point& u) {
    const double d = std::sqrt(u.x * u.x + u.y * u.y + u.z * u.z);
    if (gr.site < 0) return d > kMostMove ? 100.0 * (d - kMostMove) * (d - kMostMove) : 0.0;
    double c = 0.0;
    if (d < kNearest) c += 100.0 * (kNearest - d) * (kNearest - d);
    if (d > kFarthest) c += 100.0 * (d - kFarthest) * (d - kFarthest);
    if (u.x < -1.0) c += 100.0 * (u.x + 1.0) * (u.x + 1.0);  // behind CA, into the protein
    return c;
}

Rows rows_of(const Geometry& g, bool amide, const std::vector<Point>& at) {
    Rows r;
    for (int c = 0; c < 2; ++c) {
        r.r[c].resize(g.nuclei.size());
        for (size_t n = 0; n < g.nuclei.size(); ++n) r.r[c][n] = metal::pcs_row(g, amide, c == 1, n, at);
    }
    return r;
}


// The state of one group: its place, rows and tensors.
struct State {
    Point u;
    Rows rows;
    std::vector<Elements> e;  // per metal of the group
    double score = 0.0;
};

struct Problem {
    const Geometry& g;
    bool amide;
    const Measured& d;
    const std::vector<Group>& groups;
    int N;
    bool assigned;
    bool fit_places;
    double floor = kFloor, relative = kRelative;  // widened while searching
};

// A value's squared error against a prediction, capped.
double value_cost(const Problem& pb, double y, double e, double p) {
    const double s = std::max(e, pb.floor), d = y - p;
    const double z2 = d * d / (s * s + pb.relative * pb.relative * p * p);
    return std::min(z2, kCut);
}

// Adds group `gi`'s costs to cost[j * N + n].
void add_costs(const Problem& pb, int gi, const State& s, std::vector<double>& cost) {
    const Group& gr = pb.groups[size_t(gi)];
    std::vector<double> pred(size_t(pb.N));
    for (size_t k = 0; k < gr.metals.size(); ++k) {
        const int mk = gr.metals[k];
        for (int c = 0; c < 2; ++c) {
            for (int n = 0; n < pb.N; ++n) pred[size_t(n)] = dot(s.rows.r[c][size_t(n)], s.e[k]);
            const std::vector<double>& y = pb.d.value[size_t(mk)][c];
            const std::vector<double>& e = pb.d.error[size_t(mk)][c];
            for (int j = 0; j < pb.d.peaks; ++j) {
                if (std::isnan(y[size_t(j)])) continue;
                double* row = cost.data() + size_t(j) * pb.N;
                for (int n = 0; n < pb.N; ++n) row[n] += value_cost(pb, y[size_t(j)], e[size_t(j)], pred[size_t(n)]);
            }
        }
    }
}

// A peak's price for being no residue's, over the groups given.
std::vector<double> alone_costs(const Problem& pb, const std::vector<int>& which) {
    std::vector<double> alone(size_t(pb.d.peaks), 0.0);
    for (int gi : which)
        for (int mk : pb.groups[size_t(gi)].metals)
            for (int c = 0; c < 2; ++c)
                for (int j = 0; j < pb.d.peaks; ++j)
                    if (!std::isnan(pb.d.value[size_t(mk)][c][size_t(j)])) alone[size_t(j)] += kAlone * kCut;
    return alone;
}

// Each peak its best residue (or none): the cheap score and assignment.
double best_each(const Problem& pb, const std::vector<double>& cost, const std::vector<double>& alone,
                 std::vector<int>* a) {
    double sum = 0.0;
    if (a) a->assign(size_t(pb.d.peaks), -1);
    for (int j = 0; j < pb.d.peaks; ++j) {
        const double* row = cost.data() + size_t(j) * pb.N;
        double best = alone[size_t(j)];
        for (int n = 0; n < pb.N; ++n)
            if (row[n] < best) {
                best = row[n];
                if (a) (*a)[size_t(j)] = n;
            }
        sum += best;
    }
    return sum;
}

// The exact one-to-one assignment, a peak free to be no residue's.
double one_to_one(const Problem& pb, const std::vector<double>& cost, const std::vector<double>& alone,
                  std::vector<int>& a) {
    const int P = pb.d.peaks, N = pb.N, S = P + N;
    std::vector<double> sq(size_t(S) * S, 0.0);
    for (int j = 0; j < P; ++j) {
        for (int n = 0; n < N; ++n) sq[size_t(j) * S + n] = cost[size_t(j) * N + n];
        for (int k = 0; k < P; ++k) sq[size_t(j) * S + N + k] = k == j ? alone[size_t(j)] : 1e9;
    }
    const std::vector<int> r = solve_assignment(sq, S);
    a.assign(size_t(P), -1);
    double sum = 0.0;
    for (int j = 0; j < P; ++j) {
        const int n = r.empty() ? -1 : r[size_t(j)];
        a[size_t(j)] = n < N ? n : -1;
        sum += n < N && n >= 0 ? cost[size_t(j) * N + n] : alone[size_t(j)];
    }
    return sum;
}

// A peak on a nucleus, weighed by the chance of the pairing.
struct Pair {
    int j, n;
    double w;
};

std::vector<Pair> pairs_of(const std::vector<int>& a) {
    std::vector<Pair> p;
    for (size_t j = 0; j < a.size(); ++j)
        if (a[j] >= 0) p.push_back({int(j), a[j], 1.0});
    return p;
}

// The tensor of metal mk from the paired values, weighed by their error
// and the prediction's, values far off the current one (capped) left out.
bool refit_metal(const Problem& pb, int mk, const Rows& rows, const std::vector<Pair>& pairs, const Elements* now,
                 Elements& out) {
    std::vector<double> A, y, w;
    for (int c = 0; c < 2; ++c)
        for (const Pair& q : pairs) {
            const double v = pb.d.value[size_t(mk)][c][size_t(q.j)];
            if (std::isnan(v)) continue;
            const Elements& r = rows.r[c][size_t(q.n)];
            const double e = std::max(pb.d.error[size_t(mk)][c][size_t(q.j)], pb.floor);
            // Known pairs: unweighted but for their chance, the Q factor by
            // which the field judges a tensor; searched ones by the value's
            // error and the prediction's, the far-off left out.
            double wt = pb.assigned ? q.w : q.w / (e * e + pb.relative * pb.relative * v * v);
            if (!pb.assigned && now && value_cost(pb, v, e, dot(r, *now)) >= kCut) wt = 0.0;
            A.insert(A.end(), r.begin(), r.end());
            y.push_back(v);
            w.push_back(wt);
        }
    std::vector<double> x;
    if (!numeric::least_squares(A, y, w, 5, x)) return false;
    std::copy(x.begin(), x.end(), out.begin());
    return true;
}

std::vector<double> group_costs(const Problem& pb, int gi, const State& s) {
    std::vector<double> cost(size_t(pb.d.peaks) * pb.N, 0.0);
    add_costs(pb, gi, s, cost);
    return cost;
}

// Refits a group's tensors (and, with `place`, its place) to the pairs.
double refit_group(const Problem& pb, int gi, State& s, const std::vector<Pair>& pairs, bool place) {
    const Group& gr = pb.groups[size_t(gi)];
    auto tensors_at = [&](const Rows& rows, std::vector<Elements>& e) {
        double chi2 = 0.0;
        for (size_t k = 0; k < gr.metals.size(); ++k) {
            Elements x = e[k];
            if (refit_metal(pb, gr.metals[k], rows, pairs, &e[k], x)) e[k] = x;
            double own = 0.0, sy = 0.0;
            for (int c = 0; c < 2; ++c)
                for (const Pair& q : pairs) {
                    const double v = pb.d.value[size_t(gr.metals[k])][c][size_t(q.j)];
                    if (std::isnan(v)) continue;
                    const double p = dot(rows.r[c][size_t(q.n)], e[k]);
                    const double er = std::max(pb.d.error[size_t(gr.metals[k])][c][size_t(q.j)], pb.floor);
                    own += q.w * (pb.assigned ? (v - p) * (v - p) : value_cost(pb, v, er, p));
                    sy += v * v;
                }
            // Known pairs: each metal's Q^2, so that a place shared by a
            // large and a small tensor suits both, not the large one alone.
            chi2 += pb.assigned ? (sy > 0.0 ? own / sy : 0.0) : own;
        }
        return chi2;
    };
    if (place && (gr.site >= 0 || pb.fit_places)) {
        auto f = [&](const numeric::Params& x) {
            const Point u{x[0], x[1], x[2]};
            std::vector<Elements> e = s.e;
            return tensors_at(rows_of(pb.g, pb.amide, place_of(pb.g, gr, u)), e) + place_prior(gr, u);
        };
        const auto best = numeric::minimise(f, {s.u.x, s.u.y, s.u.z}, {0.7, 0.7, 0.7}, 120);
        s.u = {best.first[0], best.first[1], best.first[2]};
        s.rows = rows_of(pb.g, pb.amide, place_of(pb.g, gr, s.u));
    }
    return tensors_at(s.rows, s.e);
}

// Every pairing by its chance: exp(-cost / 2) balanced so that each peak's
// chances (being no residue's among them) sum to 1 and no nucleus takes
// more than 1; pairings below kLeastChance left out.
std::vector<Pair> soft_pairs(const Problem& pb, const std::vector<double>& cost, const std::vector<double>& alone) {
    const int P = pb.d.peaks, N = pb.N;
    std::vector<double> k(static_cast<size_t>(P) * N), a(static_cast<size_t>(P)), col(static_cast<size_t>(N), 1.0);
    for (int j = 0; j < P; ++j) {
        double lo = alone[size_t(j)];
        for (int n = 0; n < N; ++n) lo = std::min(lo, cost[size_t(j) * N + n]);
        for (int n = 0; n < N; ++n) k[size_t(j) * N + n] = std::exp(-(cost[size_t(j) * N + n] - lo) / 2.0);
        a[size_t(j)] = std::exp(-(alone[size_t(j)] - lo) / 2.0);
    }
    std::vector<double> row(size_t(P), 1.0);
    for (int it = 0; it < kBalanceSteps; ++it) {
        for (int j = 0; j < P; ++j) {
            double sum = a[size_t(j)];
            for (int n = 0; n < N; ++n) sum += k[size_t(j) * N + n] * col[size_t(n)];
            row[size_t(j)] = 1.0 / sum;
        }
        for (int n = 0; n < N; ++n) {
            double sum = 0.0;
            for (int j = 0; j < P; ++j) sum += row[size_t(j)] * k[size_t(j) * N + n];
            col[size_t(n)] = sum * col[size_t(n)] > 1.0 ? 1.0 / sum : col[size_t(n)];
        }
    }
    std::vector<Pair> out;
    for (int j = 0; j < P; ++j)
        for (int n = 0; n < N; ++n) {
            const double w = row[size_t(j)] * k[size_t(j) * N + n] * col[size_t(n)];
            if (w >= kLeastChance) out.push_back({j, n, w});
        }
    return out;
}

// Every pairing by its chance in the posterior over whole assignments, from
// the tensors as they stand; none where it cannot be worked out.
std::vector<Pair> posterior_pairs(const Problem& pb, const std::vector<State>& state) {
    const int P = pb.d.peaks, N = pb.N, M = int(pb.d.value.size());
    PosteriorData d;
    d.profiles = 2 * M;
    d.peaks = P;
    d.residues = N;
    d.meas.assign(size_t(d.profiles) * P, MISSING_PRE);
    d.err.assign(size_t(d.profiles) * P, 0.0);
    d.pred.assign(size_t(d.profiles) * N, 0.0);
    for (size_t gi = 0; gi < pb.groups.size(); ++gi)
        for (size_t k = 0; k < pb.groups[gi].metals.size(); ++k) {
            const int mk = pb.groups[gi].metals[k];
            for (int c = 0; c < 2; ++c) {
                const size_t m = size_t(2 * mk + c);
                for (int j = 0; j < P; ++j) {
                    const double v = pb.d.value[size_t(mk)][c][size_t(j)];
                    if (std::isnan(v)) continue;
                    d.meas[m * P + j] = v;
                    d.err[m * P + j] = pb.d.error[size_t(mk)][c][size_t(j)];
                }
                for (int n = 0; n < N; ++n) d.pred[m * N + n] = dot(state[gi].rows.r[c][size_t(n)], state[gi].e[k]);
            }
        }
    d.shift.assign(size_t(P), 0.0);  // no type is tested: every residue alike
    d.type.assign(size_t(N), 0);
    d.cap = std::numeric_limits<double>::infinity();
    d.pcs.assign(size_t(d.profiles), 1);
    const Posterior post = compute_posterior(d, PosteriorOptions{});
    std::vector<Pair> pairs;
    if (!post.computed) return pairs;
    for (int j = 0; j < P; ++j)
        for (int n = 0; n < N; ++n) {
            const double w = post.prob[size_t(j) * (N + 1) + n];
            if (w >= kLeastChance) pairs.push_back({j, n, w});
        }
    return pairs;
}

// A turn drawn evenly over all turns (from a unit quaternion).
Mat3 random_turn(uint64_t& state) {
    double q[4], n = 0.0;
    do {
        n = 0.0;
        for (double& x : q) {
            x = 2.0 * unit_interval(splitmix64(state)) - 1.0;
            n += x * x;
        }
    } while (n > 1.0 || n < 1e-6);
    for (double& x : q) x /= std::sqrt(n);
    const double a = q[0], b = q[1], c = q[2], d = q[3];
    return Mat3{{{a * a + b * b - c * c - d * d, 2 * (b * c - a * d), 2 * (b * d + a * c)},
                 {2 * (b * c + a * d), a * a - b * b + c * c - d * d, 2 * (c * d - a * b)},
                 {2 * (b * d - a * c), 2 * (c * d + a * b), a * a - b * b - c * c + d * d}}};
}

Elements turned(const Mat3& r, double ax, double rh) {
    const double dg[3] = {-ax / 3.0 + rh / 2.0, -ax / 3.0 - rh / 2.0, 2.0 * ax / 3.0};
    Mat3 c{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) c[i][j] += r[i][k] * dg[k] * r[j][k];
    return metal::elements(c);
}

// Each metal of a group against its metal `ref` (the trial tensor is
// ref's), through the origin, over the peaks both measured: no assignment
// needed.
std::vector<double> slopes(const Problem& pb, const Group& gr, size_t ref) {
    std::vector<double> s(gr.metals.size(), 1.0);
    for (size_t k = 0; k < gr.metals.size(); ++k) {
        if (k == ref) continue;
        double xy = 0.0, xx = 0.0;
        for (int c = 0; c < 2; ++c)
            for (int j = 0; j < pb.d.peaks; ++j) {
                const double x = pb.d.value[size_t(gr.metals[ref])][c][size_t(j)];
                const double y = pb.d.value[size_t(gr.metals[k])][c][size_t(j)];
                if (std::isnan(x) || std::isnan(y)) continue;
                xy += x * y;
                xx += x * x;
            }
        s[k] = xx > 0.0 ? xy / xx : 1.0;
    }
    return s;
}

// The places a group's trials start from.
std::vector<Point> trial_places(const Group& gr) {
    if (gr.site < 0) return {Point{0, 0, 0}};
    std::vector<Point> out;
    constexpr double kStep = 3.0;
    for (double x = -1.0; x <= kFarthest; x += kStep)
        for (double y = -kFarthest; y <= kFarthest; y += kStep)
            for (double z = -kFarthest; z <= kFarthest; z += kStep) {
                const double d = std::sqrt(x * x + y * y + z * z);
                if (d >= kNearest && d <= kFarthest) out.push_back({x, y, z});
            }
    return out;
}

// A solution whose place and every tensor lie within a tenth of one of
// `those` (in the norm of the difference): the same solution, found twice.
bool copy_of_any(const State& st, const std::vector<State>& those) {
    for (const State& o : those) {
        const double dx = st.u.x - o.u.x, dy = st.u.y - o.u.y, dz = st.u.z - o.u.z;
        bool same = dx * dx + dy * dy + dz * dz < 0.25;
        for (size_t k = 0; same && k < st.e.size(); ++k) {
            double d = 0.0, n = 0.0;
            for (int q = 0; q < 5; ++q) {
                d += (st.e[k][q] - o.e[k][q]) * (st.e[k][q] - o.e[k][q]);
                n += o.e[k][q] * o.e[k][q];
            }
            same = d <= 0.01 * n;
        }
        if (same) return true;
    }
    return false;
}

// Trials refined by alternation at the search's width; the best few that
// differ polished at the values' own.
template <typename Trial>
std::vector<State> refined_best(const Problem& pb, const Problem& narrow, int gi, std::vector<Trial>& trials,
                                const std::vector<double>& slope, const std::vector<Point>& places,
                                const std::vector<double>& alone, const std::vector<double>& alone_full) {
    const Group& gr = pb.groups[size_t(gi)];
    const size_t keep = std::min(trials.size(), size_t(kKeep));
    std::partial_sort(trials.begin(), trials.begin() + long(keep), trials.end(),
                      [](const Trial& a, const Trial& b) { return a.score < b.score; });
    std::vector<State> refined;
    for (size_t t = 0; t < keep; ++t) {
        State st;
        st.u = places[trials[t].place];
        st.rows = rows_of(pb.g, pb.amide, place_of(pb.g, gr, st.u));
        st.e.assign(gr.metals.size(), trials[t].e);
        for (size_t k = 0; k < gr.metals.size(); ++k)
            for (int q = 0; q < 5; ++q) st.e[k][q] = slope[k] * trials[t].e[q];
        std::vector<int> a;
        for (int round = 0; round < kRefineRounds; ++round) {
            best_each(pb, group_costs(pb, gi, st), alone, &a);
            refit_group(pb, gi, st, pairs_of(a), false);
        }
        st.score = best_each(pb, group_costs(pb, gi, st), alone, &a);
        refined.push_back(st);
    }
    std::sort(refined.begin(), refined.end(), [](const State& a, const State& b) { return a.score < b.score; });
    // The best few that differ: a tensor and its near copies are one solution.
    std::vector<State> out;
    for (const State& st : refined) {
        if (!copy_of_any(st, out)) out.push_back(st);
        if (int(out.size()) == kPolish) break;
    }
    for (State& st : out) {
        std::vector<int> a;
        const int rounds = kPolishRounds;
        for (int round = 0; round < rounds; ++round) {
            // From the search's width down to the values' own.
            Problem step = narrow;
            const double t = rounds > 1 ? double(round) / (rounds - 1) : 1.0;
            step.floor = pb.floor + t * (narrow.floor - pb.floor);
            step.relative = pb.relative + t * (narrow.relative - pb.relative);
            one_to_one(step, group_costs(step, gi, st), alone_full, a);
            refit_group(step, gi, st, pairs_of(a), true);
        }
        for (int round = 0; round < kSoftRounds; ++round)
            refit_group(narrow, gi, st, soft_pairs(narrow, group_costs(narrow, gi, st), alone_full), true);
        st.score = one_to_one(narrow, group_costs(narrow, gi, st), alone_full, a);
    }
    return out;
}

// A group's best few solutions against its own data alone.
// The peaks whose shifts from the group's metals are largest: near a metal,
// where a tensor's shape shows; far off, every tensor predicts about 0.
Measured informative(const Measured& d, const Group& gr, int most) {
    std::vector<std::pair<double, int>> size;
    for (int j = 0; j < d.peaks; ++j) {
        double big = 0.0;
        for (int mk : gr.metals)
            for (int c = 0; c < 2; ++c) {
                const double v = d.value[size_t(mk)][c][size_t(j)];
                if (!std::isnan(v)) big = std::max(big, std::fabs(v));
            }
        size.push_back({-big, j});
    }
    std::sort(size.begin(), size.end());
    Measured sub;
    sub.value.resize(d.value.size());
    sub.error.resize(d.error.size());
    for (size_t i = 0; i < size.size() && int(i) < most; ++i) {
        const int j = size[i].second;
        sub.id.push_back(d.id[size_t(j)]);
        for (size_t mk = 0; mk < d.value.size(); ++mk)
            for (int c = 0; c < 2; ++c) {
                sub.value[mk][c].push_back(d.value[mk][c][size_t(j)]);
                sub.error[mk][c].push_back(d.error[mk][c][size_t(j)]);
            }
    }
    sub.peaks = int(sub.id.size());
    return sub;
}

std::vector<State> search_group(const Problem& narrow, int gi, uint64_t& rng) {
    const Measured sub = informative(narrow.d, narrow.groups[size_t(gi)], kSearchPeaks);
    Problem pb{narrow.g, narrow.amide, sub, narrow.groups, narrow.N, narrow.assigned, narrow.fit_places};
    pb.floor = kSearchFloor;
    pb.relative = kSearchRelative;
    const std::vector<double> alone_full = alone_costs(narrow, {gi});
    const Group& gr = pb.groups[size_t(gi)];
    std::vector<std::vector<double>> slope;
    for (size_t ref = 0; ref < gr.metals.size(); ++ref) slope.push_back(slopes(pb, gr, ref));
    const std::vector<double> alone = alone_costs(pb, {gi});
    const std::vector<Point> places = trial_places(gr);
    const int turns = gr.site < 0 ? 600 : 16;
    std::vector<Mat3> turn;
    for (int t = 0; t < turns; ++t) turn.push_back(random_turn(rng));
    const std::vector<double> sizes{1.5, 3.0, 6.0, 12.0, 24.0, 48.0};
    struct Trial {
        double score;
        size_t place, ref;
        Elements e;
    };
    std::vector<Trial> trials;
    for (size_t pi = 0; pi < places.size(); ++pi) {
        State st;
        st.u = places[pi];
        st.rows = rows_of(pb.g, pb.amide, place_of(pb.g, gr, st.u));
        // Each metal in turn lends the trial its tensor: the others' are
        // multiples of it, which fits some metals' pairs far better than
        // others' (calbindin: from Er's 43 of 61 right, from Tb's none).
        for (size_t ref = 0; ref < gr.metals.size(); ++ref)
        for (const Mat3& r : turn)
            for (double size : sizes)
                for (double sign : {1.0, -1.0})
                    for (double shape : gr.site < 0 ? std::vector<double>{0.1, 0.35, 0.6} : std::vector<double>{0.3}) {
                        const Elements e1 = turned(r, sign * size, sign * size * shape);
                        st.e.assign(gr.metals.size(), e1);
                        for (size_t k = 0; k < gr.metals.size(); ++k)
                            for (int q = 0; q < 5; ++q) st.e[k][q] = slope[ref][k] * e1[q];
                        const double score = best_each(pb, group_costs(pb, gi, st), alone, nullptr);
                        trials.push_back({score, pi, ref, e1});
                    }
    }
    // The best of each metal's trials refined, and the best few of those
    // that differ polished: the trials of a metal whose shifts others follow
    // loosely score well cheaply and polish badly, and would crowd out the rest.
    std::vector<State> out;
    for (size_t ref = 0; ref < gr.metals.size(); ++ref) {
        std::vector<Trial> mine;
        for (const Trial& t : trials)
            if (t.ref == ref) mine.push_back(t);
        for (State& st : refined_best(pb, narrow, gi, mine, slope[ref], places, alone, alone_full)) out.push_back(st);
    }
    std::sort(out.begin(), out.end(), [](const State& a, const State& b) { return a.score < b.score; });
    // Polished, different starts may end at one solution, which is then no
    // runner-up of itself (exact shifts: two candidates at cost 0, refused).
    std::vector<State> distinct;
    for (const State& st : out)
        if (!copy_of_any(st, distinct)) distinct.push_back(st);
    return distinct;
}

// The joint cost of every group's state, one to one.
double joint(const Problem& pb, const std::vector<State>& s, const std::vector<double>& alone, std::vector<int>& a) {
    std::vector<double> cost(size_t(pb.d.peaks) * pb.N, 0.0);
    for (size_t gi = 0; gi < s.size(); ++gi) add_costs(pb, int(gi), s[gi], cost);
    return one_to_one(pb, cost, alone, a);
}

int values_measured(const Measured& d) {
    int n = 0;
    for (const auto& m : d.value)
        for (const auto& c : m)
            for (double v : c) n += !std::isnan(v);
    return n;
}

}  // namespace

Measured measured_of(const ProfileTable& obs, const ReadResult& r, int metals, const std::string& path) {
    if (r.profiles != 2 * metals)
        throw Failure{kStatusInput, path + ": " + std::to_string(r.profiles) + " profiles for " +
                                        std::to_string(metals) + " metals, where each metal has two (1H, then the "
                                                                 "heavy atom)"};
    Measured d;
    d.peaks = r.records.empty() ? 0 : r.records[0];
    for (int j = 0; j < d.peaks; ++j) d.id.push_back(int(obs[0].id[j]));
    d.value.resize(size_t(metals));
    d.error.resize(size_t(metals));
    for (int k = 0; k < metals; ++k)
        for (int c = 0; c < 2; ++c) {
            const CProfile& p = obs[size_t(2 * k + c)];
            d.value[size_t(k)][c].assign(size_t(d.peaks), kNaN);
            d.error[size_t(k)][c].assign(size_t(d.peaks), 0.0);
            for (int j = 0; j < d.peaks && j < r.records[size_t(2 * k + c)]; ++j) {
                if (!is_measured(p.pre[j])) continue;
                d.value[size_t(k)][c][size_t(j)] = p.pre[j];
                d.error[size_t(k)][c][size_t(j)] = p.pre_err[j] > 0.0 ? p.pre_err[j] : 0.0;
            }
        }
    return d;
}

namespace {

// Known pairs: each group's tensors by least squares, its place refitted.
std::vector<int> fit_known(const Problem& pb, std::vector<State>& state) {
    std::vector<int> a(size_t(pb.d.peaks), -1);
    for (int j = 0; j < pb.d.peaks; ++j)
        for (int n = 0; n < pb.N; ++n)
            if (pb.g.nuclei[size_t(n)].residue == pb.d.id[size_t(j)]) {
                a[size_t(j)] = n;
                break;
            }
    const std::vector<Pair> known = pairs_of(a);
    for (size_t gi = 0; gi < pb.groups.size(); ++gi) {
        State& st = state[gi];
        st.u = pb.groups[gi].site >= 0 ? Point{8.0, 0.0, 0.0} : Point{0, 0, 0};
        st.rows = rows_of(pb.g, pb.amide, place_of(pb.g, pb.groups[gi], st.u));
        st.e.assign(pb.groups[gi].metals.size(), Elements{});
        for (size_t k = 0; k < pb.groups[gi].metals.size(); ++k)
            refit_metal(pb, pb.groups[gi].metals[k], st.rows, known, nullptr, st.e[k]);
        for (int round = 0; round < 3; ++round) refit_group(pb, int(gi), st, known, true);
    }
    return a;
}

// The search: each group's candidates, the combination that fits all the
// data best, polished over the matching and then over every pairing.
void fit_blind(const Problem& pb, const std::vector<double>& alone, uint64_t seed,
                           std::vector<State>& state, std::vector<std::vector<State>>& candidates,
                           std::vector<std::string>& notes) {
    const size_t G = pb.groups.size();
    for (size_t gi = 0; gi < G; ++gi) {
        candidates[gi] = search_group(pb, int(gi), seed);
        state[gi] = candidates[gi].front();
        std::string costs;
        for (size_t c = 0; c < candidates[gi].size() && c < 4; ++c) costs += " " + std::to_string(int(candidates[gi][c].score));
        notes.push_back("metal place " + pb.groups[gi].place.text + ": " + std::to_string(candidates[gi].size()) +
                        " solutions polished, the best at costs" + costs);
    }
    std::vector<int> a;
    double best = joint(pb, state, alone, a);
    for (int sweep = 0; sweep < 2 && G > 1; ++sweep)
        for (size_t gi = 0; gi < G; ++gi)
            for (const State& c : candidates[gi]) {
                std::vector<State> trial = state;
                trial[gi] = c;
                std::vector<int> b;
                const double v = joint(pb, trial, alone, b);
                if (v < best) {
                    best = v;
                    state = trial;
                }
            }
    for (int round = 0; round < kPolishRounds; ++round) {
        joint(pb, state, alone, a);
        for (size_t gi = 0; gi < G; ++gi) refit_group(pb, int(gi), state[gi], pairs_of(a), true);
    }
    // Every pairing by its chance: a matching's wrong pairs pull the
    // tensors towards themselves.
    for (int round = 0; round < kSoftRounds; ++round) {
        std::vector<double> cost(size_t(pb.d.peaks) * pb.N, 0.0);
        for (size_t gi = 0; gi < G; ++gi) add_costs(pb, int(gi), state[gi], cost);
        const std::vector<Pair> soft = soft_pairs(pb, cost, alone);
        for (size_t gi = 0; gi < G; ++gi) refit_group(pb, int(gi), state[gi], soft, true);
    }
    // Then by the posterior's chances, each value weighed as the Q factor
    // weighs it, by the chance alone: the large shifts near the metal have
    // few candidates and are paired surely, the many small ones are spread
    // over many, and weighing by the values' errors let those draw the
    // tensors (calbindin blind, three shuffles, place at the calcium or
    // fitted: 48 of 61 right on each against 42 to 45 so weighed, 43 to 45
    // before these rounds).
    Problem by_chance = pb;
    by_chance.assigned = true;
    for (int round = 0; round < kPosteriorRounds; ++round) {
        const std::vector<Pair> weighed = posterior_pairs(pb, state);
        if (weighed.empty()) break;
        for (size_t gi = 0; gi < G; ++gi) refit_group(by_chance, int(gi), state[gi], weighed, true);
    }
}

// Metal k of a group: its tensor, Q over the assigned pairs, and how far
// the runner-up solution lies.
MetalFit metal_fit(const Problem& pb, const State& st, size_t k, int mk, const std::vector<int>& a,
                   const metal::Tensor& base, const std::vector<State>& candidates, const Point& at) {
    MetalFit f;
    metal::Tensor t = base;
    t.at = at;
    f.tensor = metal::from_cartesian(metal::from_elements(st.e[k]), t);
    double se = 0.0, sy = 0.0;
    for (int c = 0; c < 2; ++c)
        for (int j = 0; j < pb.d.peaks; ++j) {
            const double v = pb.d.value[size_t(mk)][c][size_t(j)];
            if (a[size_t(j)] < 0 || std::isnan(v)) continue;
            const double p = dot(st.rows.r[c][size_t(a[size_t(j)])], st.e[k]);
            se += (v - p) * (v - p);
            sy += v * v;
            ++f.values;
        }
    f.q = sy > 0.0 ? std::sqrt(se / sy) : 0.0;
    f.spread = kNaN;
    if (candidates.size() > 1) {
        const State& r = candidates[1];
        double dn = 0.0, n = 0.0;
        for (int q = 0; q < 5; ++q) {
            dn += (r.e[k][q] - st.e[k][q]) * (r.e[k][q] - st.e[k][q]);
            n += st.e[k][q] * st.e[k][q];
        }
        f.spread = n > 0.0 ? std::sqrt(dn / n) : kNaN;
    }
    return f;
}

}  // namespace

TensorFit fit_tensors(const Geometry& g, bool amide, const Measured& d, const std::vector<Group>& groups,
                      const std::vector<metal::Tensor>& base, const FitOptions& o) {
    const Problem pb{g, amide, d, groups, int(g.nuclei.size()), o.assigned, o.fit_places};
    TensorFit out;
    std::vector<int> all(groups.size());
    for (size_t gi = 0; gi < groups.size(); ++gi) all[gi] = int(gi);
    const std::vector<double> alone = alone_costs(pb, all);
    std::vector<State> state(groups.size());
    std::vector<std::vector<State>> candidates(groups.size());
    std::vector<int> a;
    double total = 0.0;
    if (o.assigned)
        a = fit_known(pb, state);
    else {
        fit_blind(pb, alone, o.seed, state, candidates, out.notes);
        total = joint(pb, state, alone, a);
    }
    out.assignment = a;
    const int values = values_measured(d);
    out.cost_per_value = values > 0 ? total / values : 0.0;
    if (!o.assigned) {
        char buf[160];
        std::snprintf(buf, sizeof buf, "the tensors fitted jointly: a cost of %.3f per measured value (%d values)",
                      out.cost_per_value, values);
        out.notes.push_back(buf);
    }
    // Q over the pairs the posterior makes likelier than not: the matching
    // pairs every peak, and a few near the metal paired wrongly dominate a
    // small tensor's Q (calbindin blind, Yb: 0.51 over the matching's pairs,
    // 0.083 over these, its tensor 7 % from the published, whose Q is 0.081).
    std::vector<int> likeliest = a;
    if (!o.assigned) {
        const std::vector<Pair> pairs = posterior_pairs(pb, state);
        if (!pairs.empty()) likeliest.assign(size_t(d.peaks), -1);
        for (const Pair& q : pairs)
            if (q.w > 0.5) likeliest[size_t(q.j)] = q.n;
    }
    out.metals.resize(base.size());
    for (size_t gi = 0; gi < groups.size(); ++gi) {
        const Point at = place_of(g, groups[gi], state[gi].u).front();
        for (size_t k = 0; k < groups[gi].metals.size(); ++k) {
            const int mk = groups[gi].metals[k];
            out.metals[size_t(mk)] = metal_fit(pb, state[gi], k, mk, likeliest, base[size_t(mk)], candidates[gi], at);
        }
    }
    out.reliable = o.assigned || out.cost_per_value <= kReliable;
    if (!out.reliable)
        out.why = "the best fit leaves a cost of " + std::to_string(out.cost_per_value) +
                  " per measured value (about 1 where the tensors explain the shifts)";
    // Where another tensor fits a place's shifts almost as well, the data do
    // not tell which is right, and a wrong one is sure of wrong peaks.
    for (size_t gi = 0; out.reliable && gi < groups.size(); ++gi) {
        const std::vector<State>& c = candidates[gi];
        if (c.size() > 1 && c[1].score < kDistinct * c[0].score) {
            out.reliable = false;
            out.why = "the metals at " + groups[gi].place.text + " are fitted almost as well by other tensors (costs " +
                      std::to_string(int(c[0].score)) + " and " + std::to_string(int(c[1].score)) +
                      "): the shifts do not tell which is right";
        }
    }
    return out;
}

}  // namespace pcsfit
