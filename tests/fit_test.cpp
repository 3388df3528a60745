// The label fit on a structure the test writes: three labels set off where
// the pseudo-atom would put them, PREs worked out by hand from the true
// centres (exact, or off by up to 0.7 of their stated error in a fixed
// pattern, as measured values are), peaks in an order that hides the
// residues.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "profiles/reader.h"
#include "fit/draws.h"
#include "fit/fit.h"
#include "fit/label.h"
#include "support.h"

namespace {

struct Xyz {
    double x, y, z;
};

constexpr int kSites = 3, kAmides = 40;
// Each site residue has the same orientation: CA at its origin, CB along -y,
// N at (-1, 1, 0), so that its frame is e1 = -y, e2 = -x, e3 = -z.
const Xyz kOrigin[kSites] = {{0, 0, 0}, {24, 2, 0}, {6, 20, 14}};
const Xyz kTrue[kSites] = {{3.0, 4.0, -3.0}, {5.0, -2.0, 2.5}, {2.0, 1.0, 5.5}};  // u, A

// A point given in site s's frame, in the structure's coordinates.
Xyz at(int s, Xyz u) {
    const Xyz o = kOrigin[s];
    return {o.x - u.y, o.y - 1.5 - u.x, o.z - u.z};
}

Xyz centre(int s) { return at(s, kTrue[s]); }

Xyz amide(int i) {  // spread over the box the sites span, none nearer a label than 4 A
    return {-6.0 + std::fmod(i * 7.3, 36.0), -8.0 + std::fmod(i * 11.9, 34.0), -6.0 + std::fmod(i * 5.1, 26.0)};
}

std::string structure() {
    std::string text;
    int serial = 1;
    auto atom = [&](const char* name, const char* res, int num, Xyz p, const char* element) {
        char line[100];
        std::snprintf(line, sizeof line, "ATOM  %5d %-4s %3s A%4d    %8.3f%8.3f%8.3f  1.00  0.00          %2s\n",
                      serial++, name, res, num, p.x, p.y, p.z, element);
        text += line;
    };
    for (int s = 0; s < kSites; ++s) {
        const Xyz o = kOrigin[s];
        atom("N", "ALA", s + 1, {o.x - 1, o.y + 1, o.z}, "N");
        atom("CA", "ALA", s + 1, o, "C");
        atom("C", "ALA", s + 1, {o.x + 1, o.y + 1, o.z}, "C");
        atom("CB", "ALA", s + 1, {o.x, o.y - 1.5, o.z}, "C");
    }
    for (int i = 0; i < kAmides; ++i) {
        const Xyz h = amide(i);
        atom("N", "GLY", 10 + i, {h.x + 1, h.y, h.z}, "N");
        atom(" H", "GLY", 10 + i, h, "H");
    }
    return text;
}

double factor() {
    const double w = 2 * M_PI * 600e6, t = 4e-9;
    return 1.23e16 * (4 * t + 3 * t / (1 + w * w * t * t));
}

double gamma2_from(Xyz c, int i) {
    const Xyz a = amide(i);
    const double d2 = (a.x - c.x) * (a.x - c.x) + (a.y - c.y) * (a.y - c.y) + (a.z - c.z) * (a.z - c.z);
    return factor() / (d2 * d2 * d2);
}

double truth(int s, int i) { return gamma2_from(centre(s), i); }

// Site 1's label as two points, weighed 0.4 and 0.6, 10.5 A apart.
const Xyz kPair[2] = {{1.0, -5.5, 3.0}, {6.0, 3.5, 1.0}};
double two_points(int s, int i) {
    return s != 1 ? truth(s, i) : 0.4 * gamma2_from(at(s, kPair[0]), i) + 0.6 * gamma2_from(at(s, kPair[1]), i);
}

// Peak j is amide (j * 17) % 40: the order says nothing of the residue.
// With `noisy`, each value off by up to 0.7 of its stated error, in a fixed
// pseudo-random pattern.
std::string observed(double (*gamma2)(int, int) = truth, bool noisy = false) {
    std::string text;
    char line[120];
    for (int s = 0; s < kSites; ++s)
        for (int j = 0; j < kAmides; ++j) {
            double v = gamma2(s, (j * 17) % kAmides);
            if (noisy) v += (0.05 * v + 0.2) * std::sin(12.9898 * (s * kAmides + j) + 78.233) * 0.7;
            std::snprintf(line, sizeof line, "%d %.9g %.9g 0 0\n", j + 1, v, 0.05 * v + 0.2);
            text += line;
        }
    return text;
}

// The written structure with its three sites, for amide H.
struct Case {
    std::string path = temp_file(structure());
    Structure st = read_structure(path);
    PredictOptions o;
    Prediction unfitted;
    Case() {
        o.nuclei = Nuclei::Amide;
        for (int s = 0; s < kSites; ++s) o.sites.push_back(parse_site("A:" + std::to_string(s + 1), "--site"));
        unfitted = predict(st, o, path);
    }
};

TEST(LabelFit, FindsLabelsThePseudoAtomMisses) {
    const Case c;  // exact values: the residual scale stays at its floor
    const std::string& path = c.path;
    const Structure& st = c.st;
    const PredictOptions& o = c.o;
    const Prediction& unfitted = c.unfitted;
    ASSERT_EQ(unfitted.nuclei.size(), size_t(kAmides));
    auto obs = make_table();
    const ReadResult obsr = read_experimental(observed(), "obs.txt", *obs);
    int rounds = 0;
    FitOptions three;  // allowed up to three points, where one suffices
    three.most_points = 3;
    const Fitted f = fit_labels(geometry(st, o, path), o, unfitted, *obs, obsr, three, [&](const std::string& line) {
        EXPECT_EQ(line.rfind("fit round ", 0), 0u) << line;
        ++rounds;
    });
    EXPECT_EQ(rounds, FitOptions{}.rounds);
    for (int s = 0; s < kSites; ++s) {
        const SiteFit& site = f.sites[size_t(s)];
        const Xyz u = kTrue[s], c = centre(s);
        EXPECT_TRUE(site.kept) << s << ": " << site.why;
        EXPECT_LT(std::hypot(site.u.x - u.x, site.u.y - u.y, site.u.z - u.z), 0.5) << s;
        EXPECT_LT(std::hypot(site.centre.x - c.x, site.centre.y - c.y, site.centre.z - c.z), 0.5) << s;
        EXPECT_NEAR(site.distance, std::hypot(u.x, u.y, u.z), 0.5) << s;
        EXPECT_NEAR(site.amplitude, 1.0, 0.15) << s;
        EXPECT_LT(site.after, 0.5 * site.before) << s;
        // One point describes these labels: the evidence pays for no more.
        EXPECT_EQ(site.points.size(), 1u) << s;
        EXPECT_EQ(site.weights, std::vector<double>{1.0}) << s;
        for (int i = 0; i < kAmides; ++i)
            EXPECT_NEAR(f.prediction.gamma2[size_t(s)][size_t(i)], truth(s, i), 0.2 * truth(s, i) + 0.05) << s << " " << i;
    }
    // The pseudo-atoms, as kept or not, one per site.
    const std::string pdb = centres_pdb(geometry(st, o, path), f, o);
    EXPECT_EQ(pdb.rfind("REMARK", 0), 0u);
    char expected[100];
    std::snprintf(expected, sizeof expected, "HETATM    1  O   NIT Z   1    %8.3f%8.3f%8.3f  1.00  1.00           O\n",
                  f.sites[0].centre.x, f.sites[0].centre.y, f.sites[0].centre.z);
    EXPECT_NE(pdb.find(expected), std::string::npos) << pdb;
}

// A label of two weighted points, the others of one: the fit grows that
// label alone, to two points near the true ones with their weights, and its
// predictions follow the data where one point's cannot.
TEST(LabelFit, GrowsALabelOfTwoPoints) {
    const Case c;
    auto obs = make_table();
    const ReadResult obsr = read_experimental(observed(two_points, true), "obs.txt", *obs);
    const Geometry g = geometry(c.st, c.o, c.path);
    FitOptions three;
    three.most_points = 3;
    const Fitted f = fit_labels(g, c.o, c.unfitted, *obs, obsr, three, [](const std::string&) {});
    EXPECT_EQ(f.sites[0].points.size(), 1u);
    EXPECT_EQ(f.sites[2].points.size(), 1u);
    const SiteFit& two = f.sites[1];
    ASSERT_EQ(two.points.size(), 2u) << two.why;
    ASSERT_EQ(two.weights.size(), 2u);
    EXPECT_NEAR(two.weights[0] + two.weights[1], 1.0, 1e-12);
    // In either order; a point's distance and its weight trade against each
    // other, so the noise moves both a little.
    const auto apart = [](const Point& p, const Xyz& q) { return std::hypot(p.x - q.x, p.y - q.y, p.z - q.z); };
    const size_t first = apart(two.points[0], kPair[0]) < apart(two.points[1], kPair[0]) ? 0 : 1;
    for (int k = 0; k < 2; ++k) {
        const size_t mine = k == 0 ? first : 1 - first;
        EXPECT_LT(apart(two.points[mine], kPair[k]), 2.5) << k;
        EXPECT_NEAR(two.weights[mine], k == 0 ? 0.4 : 0.6, 0.2) << k;
    }
    for (int i = 0; i < kAmides; ++i)
        EXPECT_NEAR(f.prediction.gamma2[1][size_t(i)], two_points(1, i), 0.1 * two_points(1, i) + 0.05) << i;
    // The centres file: an atom per point, its weight as the occupancy.
    const std::string pdb = centres_pdb(g, f, c.o);
    EXPECT_EQ(std::count(pdb.begin(), pdb.end(), '\n'), 2 + 4);  // REMARK, END and four atoms
    char occupancy[32];
    std::snprintf(occupancy, sizeof occupancy, "%6.2f  1.00           O\n", two.weights[1]);
    EXPECT_NE(pdb.find("HETATM    3  O   NIT Z   2"), std::string::npos) << pdb;
    EXPECT_NE(pdb.find(occupancy), std::string::npos) << pdb;
    // Held to one point (the default), the same data leave residuals the two
    // points do not.
    const Fitted single = fit_labels(g, c.o, c.unfitted, *obs, obsr, FitOptions{}, [](const std::string&) {});
    EXPECT_EQ(single.sites[1].points.size(), 1u);
    EXPECT_GT(single.sites[1].after, 2.0 * two.after);
}

// Few rounds: each refit moves a centre only part of the way, and the
// moves, taken twice over, reach every label in four rounds where single
// moves leave the third 1.3 A short.
TEST(LabelFit, FewRoundsGoTheWholeWay) {
    const Case c;
    auto obs = make_table();
    const ReadResult obsr = read_experimental(observed(truth, true), "obs.txt", *obs);
    FitOptions few;
    few.rounds = 4;
    const Fitted f = fit_labels(geometry(c.st, c.o, c.path), c.o, c.unfitted, *obs, obsr, few, [](const std::string&) {});
    for (int s = 0; s < kSites; ++s) {
        const Point u = f.sites[size_t(s)].u;
        EXPECT_LT(std::hypot(u.x - kTrue[s].x, u.y - kTrue[s].y, u.z - kTrue[s].z), 0.5) << s;
    }
}

// The label's weights, prior and Gamma2 by hand.
TEST(LabelFit, ALabelsPointsByHand) {
    const Case c;
    const Geometry g = geometry(c.st, c.o, c.path);
    const Point u1{3.0, 4.0, -3.0}, u2{5.0, -2.0, 2.5};
    // Weights 0.25 and 0.75: the second's ln weight against the first's is ln 3.
    label::Params p{u1.x, u1.y, u1.z, 0.0, 0.0};
    EXPECT_EQ(label::points(p), 1);
    p = label::with_point(p, u2, std::log(3.0));
    ASSERT_EQ(label::points(p), 2);
    const std::vector<double> w = label::weights(p);
    EXPECT_NEAR(w[0], 0.25, 1e-12);
    EXPECT_NEAR(w[1], 0.75, 1e-12);
    EXPECT_EQ(label::point(p, 1).y, -2.0);
    // Far apart in ln weight, still on the simplex.
    const label::Params far = label::with_point(p, u1, 800.0);
    const std::vector<double> wf = label::weights(far);
    ASSERT_EQ(wf.size(), 3u);
    EXPECT_NEAR(wf[0] + wf[1] + wf[2], 1.0, 1e-12);
    EXPECT_NEAR(wf[2], 1.0, 1e-12);  // 800 against 0 and ln 3
    // Gamma2: the weighted mean of each point's, at the formula's amplitude
    // times e^0.1 (the factor as predict uses it, with the test's own).
    label::Params q = p;
    q[3] = 0.1;
    label::Placed placed;
    label::place(g, 1, q, 1.23e16 * (4 * 4e-9 + 3 * 4e-9 / (1 + std::pow(2 * M_PI * 600e6 * 4e-9, 2))), placed);
    for (int i : {0, 7, 23}) {
        const double hand = std::exp(0.1) * (0.25 * gamma2_from(at(1, {u1.x, u1.y, u1.z}), i) +
                                             0.75 * gamma2_from(at(1, {u2.x, u2.y, u2.z}), i));
        EXPECT_NEAR(label::gamma2(g, size_t(i), placed), hand, 1e-9 * hand) << i;
    }
    // The prior: any point behind CA (x < -1 A along CA->CB) or nearer CB
    // than 3 A pays, the amplitude beyond e^+-1 steeply; in range, only
    // the amplitude's normal term.
    const label::Params good = p;
    EXPECT_DOUBLE_EQ(label::prior_cost(good), 0.0);
    label::Params behind = good;
    behind[label::kBase] = -2.0;  // the second point's x: 1 A behind the bound
    EXPECT_NEAR(label::prior_cost(behind), 4.0, 1e-12);  // ((-1 - -2) / 0.5)^2; still 5.7 A from CB
    label::Params near = good;
    near[label::kBase] = 0.0, near[label::kBase + 1] = 1.0, near[label::kBase + 2] = 1.5;  // 1.8 A from CB
    EXPECT_NEAR(label::prior_cost(near), std::pow((3.0 - std::sqrt(3.25)) / 0.5, 2), 1e-12);
    // A point of a few per cent pays below a tenth: weights 0.05 and 0.95.
    label::Params faint = good;
    faint[label::kBase + 3] = std::log(0.95 / 0.05);
    EXPECT_NEAR(label::prior_cost(faint), std::pow((0.1 - 0.05) / 0.02, 2), 1e-9);
    label::Params loud = good;
    loud[3] = 1.2;
    EXPECT_NEAR(label::prior_cost(loud), std::pow(1.2 / 0.3, 2) + std::pow(0.2 / 0.1, 2), 1e-9);
}

// Draws follow the likelihood they are drawn from: on a quadratic -2 ln L
// of known covariance (two parameters correlated at -0.75, as a label's
// amplitude and distance are) their means and covariances come back.
TEST(LabelDraws, FollowTheLikelihoodTheyAreDrawnFrom) {
    const label::Params best{1.0, -2.0, 0.5, 0.0, 0.7};
    // -2 ln L = d' A d; A = [[2, 1.5], [1.5, 2]] on the first two, 1 / 0.04 and 1 / 0.25 on two more, 4 on the last.
    auto objective = [&](const label::Params& p) {
        double d[5];
        for (int i = 0; i < 5; ++i) d[i] = p[size_t(i)] - best[size_t(i)];
        return 2 * d[0] * d[0] + 3 * d[0] * d[1] + 2 * d[1] * d[1] + d[2] * d[2] / 0.04 + d[3] * d[3] / 0.25 +
               4 * d[4] * d[4];
    };
    const int n = 4000;
    const std::vector<label::Params> draws = label::draws(objective, best, n, 7);
    ASSERT_EQ(draws.size(), size_t(n));
    double mean[5] = {}, cov[5][5] = {};
    for (const auto& x : draws)
        for (int i = 0; i < 5; ++i) mean[i] += x[size_t(i)] / n;
    for (const auto& x : draws)
        for (int i = 0; i < 5; ++i)
            for (int k = 0; k < 5; ++k) cov[i][k] += (x[size_t(i)] - mean[i]) * (x[size_t(k)] - mean[k]) / n;
    // The inverse of A: [[2, -1.5], [-1.5, 2]] / 1.75; 0.04; 0.25; 1 / 4.
    const double expected[5] = {2 / 1.75, 2 / 1.75, 0.04, 0.25, 0.25};
    for (int i = 0; i < 5; ++i) {
        EXPECT_NEAR(mean[i], best[size_t(i)], 0.1 * std::sqrt(expected[i])) << i;
        EXPECT_NEAR(cov[i][i], expected[i], 0.12 * expected[i]) << i;
    }
    EXPECT_NEAR(cov[0][1] / std::sqrt(cov[0][0] * cov[1][1]), -0.75, 0.05);
    EXPECT_NEAR(cov[2][3], 0.0, 0.1 * std::sqrt(0.04 * 0.25));
    // Reproducible (one draw is the chain's first), and a seed of its own gives other draws.
    EXPECT_EQ(label::draws(objective, best, 1, 7), std::vector<label::Params>(1, draws[0]));
    EXPECT_EQ(label::draws(objective, best, 5, 7), std::vector<label::Params>(draws.begin(), draws.begin() + 5));
    EXPECT_NE(label::draws(objective, best, 5, 8), std::vector<label::Params>(draws.begin(), draws.begin() + 5));
    // Steps shaped by the curvature: parameters correlated at -0.99 still
    // give draws nearly independent of the one before (steps along each
    // axis alone would crawl along the ridge).
    auto ridge = [&](const label::Params& p) {
        const double a = p[0] - best[0], b = p[1] - best[1];
        return (a * a + 1.98 * a * b + b * b) / (1 - 0.99 * 0.99) + objective(p) - 2 * a * a - 3 * a * b - 2 * b * b;
    };
    const std::vector<label::Params> along = label::draws(ridge, best, 1000, 7);
    double m0 = 0, lag = 0, var = 0;
    for (const auto& x : along) m0 += x[0] / 1000;
    for (size_t k = 0; k < along.size(); ++k) {
        var += (along[k][0] - m0) * (along[k][0] - m0);
        if (k > 0) lag += (along[k][0] - m0) * (along[k - 1][0] - m0);
    }
    EXPECT_NEAR(var / 1000, 1.0, 0.15);
    EXPECT_LT(lag / var, 0.3);
    // Curvature that is not positive definite (a saddle in the first two,
    // held by a wall): each parameter alone, still on the likelihood.
    auto saddle = [&](const label::Params& p) {
        const double a = p[0] - best[0], b = p[1] - best[1];
        return objective(p) - 8 * a * b + (std::fabs(a) > 3 || std::fabs(b) > 3 ? HUGE_VAL : 0.0);
    };
    const std::vector<label::Params> wide = label::draws(saddle, best, 50, 7);
    ASSERT_EQ(wide.size(), 50u);
    for (const auto& x : wide) EXPECT_TRUE(std::isfinite(saddle(x)));
    // Nor where the curvature cannot shape the steps at all: flat along the
    // last parameter between walls (nothing measured sets it: uniform on
    // best +- 1, variance 1/3), or a ripple at the best that finite
    // differences see as a strong saddle and the likelihood hardly feels (at
    // most 0.15 in -2 ln L). The draws still spread as the likelihood does.
    auto flat = [&](const label::Params& p) {
        label::Params q = p;
        q[4] = best[4];
        return objective(q) + (std::fabs(p[4] - best[4]) > 1 ? HUGE_VAL : 0.0);
    };
    auto ripple = [&](const label::Params& p) {
        const double a = p[0] - best[0], b = p[1] - best[1];
        return objective(p) - 40 * a * b * std::exp(-(a * a + b * b) / 0.02);
    };
    const std::vector<std::pair<std::function<double(const label::Params&)>, double>> odd{{flat, 1.0 / 3},
                                                                                          {ripple, 0.25}};
    for (const auto& [f, last] : odd) {
        const std::vector<label::Params> got = label::draws(f, best, n, 7);
        const double want[5] = {2 / 1.75, 2 / 1.75, 0.04, 0.25, last};
        for (int i = 0; i < 5; ++i) {
            double m = 0, v = 0;
            for (const auto& x : got) m += x[size_t(i)] / n;
            for (const auto& x : got) v += (x[size_t(i)] - m) * (x[size_t(i)] - m) / n;
            EXPECT_NEAR(v, want[i], 0.12 * want[i]) << last << " " << i;
        }
    }
    // A direction the likelihood hardly bounds (curvature 1e-6, walls at
    // +-1): the chain still moves along it rather than standing at the best.
    auto loose = [&](const label::Params& p) {
        const double a = p[0] - best[0];
        return objective(p) - 2 * a * a - 3 * a * (p[1] - best[1]) + 1e-6 * a * a + (std::fabs(a) > 1 ? HUGE_VAL : 0.0);
    };
    const std::vector<label::Params> spread = label::draws(loose, best, 200, 7);
    int still = 0;
    double second = 0;
    for (const auto& x : spread) {
        still += x[0] == best[0];
        second += (x[0] - best[0]) * (x[0] - best[0]) / 200;
    }
    EXPECT_LT(still, 40);
    EXPECT_NEAR(second, 1.0 / 3.0, 0.12);  // flat between the walls
    // Nothing to draw from: the best, as often as asked.
    EXPECT_EQ(label::draws([](const label::Params&) { return HUGE_VAL; }, best, 3, 7),
              std::vector<label::Params>(3, best));
}

TEST(LabelFit, FromTheCommandLine) {
    const std::string dir = temp_case("", observed(truth, true));
    std::FILE* f = std::fopen((dir + "/s.pdb").c_str(), "w");
    std::fputs(structure().c_str(), f);
    std::fclose(f);
    Proc p = run_binary({"predict", "s.pdb", "--nuclei", "amide", "--site", "A:1", "--site", "A:2", "--site", "A:3",
                         "--fit-labels", "obs.txt", "--rounds", "6", "--centres", "c.pdb", "-o", "fit.txt", "--draws",
                         "d.txt"},
                        "", dir);
    ASSERT_EQ(p.status, 0) << p.err;
    // Six rounds anneal; the centres still moved 0.8 A in the fifth, so a
    // round more is to run before the last, and so on until they settle.
    EXPECT_NE(p.err.find("fit round 5 of 7: temperature 1.32"), std::string::npos) << p.err;
    EXPECT_NE(p.err.find("fit round 12 of 12: temperature 1,"), std::string::npos) << p.err;
    EXPECT_EQ(p.err.find("still moved"), std::string::npos) << p.err;
    EXPECT_NE(p.err.find("site A:3 fitted: centre ("), std::string::npos) << p.err;
    // A posterior on fitted predictions judges them by residuals the fit made small.
    EXPECT_NE(p.err.find("preassign: warning: 3 of 3 sites' predictions were fitted to obs.txt: a posterior run on "
                         "them against that file takes the fitted labels as known, so its probabilities may be surer "
                         "than they are; give the posterior run --draws d.txt to average over where they may be"),
              std::string::npos)
        << p.err;
    EXPECT_EQ(read_file(dir + "/c.pdb").substr(0, 6), "REMARK");
    const std::string fitted = read_file(dir + "/fit.txt");
    EXPECT_EQ(std::count(fitted.begin(), fitted.end(), '\n'), kSites * kAmides);
    // Draws of the labels: each a simulated file of its own, near the fit
    // and not all at it; the posterior averaged over them says so.
    const std::string draws = read_file(dir + "/d.txt");
    EXPECT_EQ(draws.rfind("# draw 1 of 10\n", 0), 0u);
    EXPECT_NE(draws.find("\n# draw 10 of 10\n"), std::string::npos);
    EXPECT_EQ(std::count(draws.begin(), draws.end(), '\n'), 10 * (kSites * kAmides + 1));
    const std::vector<Draw> blocks = split_draws(draws, "d.txt");
    auto fit_table = make_table(), draw_table = make_table();
    read_simulated(fitted, "fit.txt", *fit_table);
    // Each draw its own (not the first again), and every nucleus moved by some.
    int differ = 0, from_last = 0;
    std::vector<double> last(kSites * kAmides, 0.0);
    std::vector<char> moved(kSites * kAmides, 0);
    for (const Draw& b : blocks) {
        read_simulated(b.text, "d.txt", *draw_table);
        for (int s = 0; s < kSites; ++s)
            for (int i = 0; i < kAmides; ++i) {
                const double at_fit = (*fit_table)[s].pre[i], drawn = (*draw_table)[s].pre[i];
                differ += drawn != at_fit;
                moved[size_t(s * kAmides + i)] |= drawn != at_fit;
                from_last += &b != &blocks[0] && drawn != last[size_t(s * kAmides + i)];
                last[size_t(s * kAmides + i)] = drawn;
                EXPECT_NEAR(drawn, at_fit, 0.3 * at_fit + 0.2) << s << " " << i;
            }
    }
    EXPECT_GT(differ, 9 * kSites * kAmides);
    EXPECT_GT(from_last, 8 * kSites * kAmides);
    EXPECT_EQ(std::count(moved.begin(), moved.end(), 1), kSites * kAmides);
    p = run_binary({"-q", "--posterior", "--draws", "d.txt", "fit.txt", "obs.txt"}, "", dir);
    ASSERT_EQ(p.status, 0) << p.err;
    EXPECT_NE(p.out.find("  averaged over 10 draws of the labels\n"), std::string::npos) << p.out;
    p = run_binary({"-q", "--posterior", "--shifts", "--draws", "d.txt", "fit.txt", "obs.txt"}, "", dir);
    EXPECT_EQ(p.status, 2);
    EXPECT_EQ(p.err, "preassign: --draws are of fitted spin labels' PREs; --shifts says SIM holds shifts: give one "
                     "(see --help)\n");
    p = run_binary({"-q", "--draws", "d.txt", "fit.txt", "obs.txt"}, "", dir);
    EXPECT_EQ(p.status, 2);
    EXPECT_EQ(p.err, "preassign: --draws requires --posterior (see --help)\n");
    p = run_binary({"-q", "--posterior", "--draws", "fit.txt", "fit.txt", "obs.txt"}, "", dir);
    EXPECT_EQ(p.status, 1);
    EXPECT_EQ(p.err, "preassign: fit.txt:1: expected \"# draw \" before the first draw: not a file of label draws "
                     "(predict --draws)\n");
    // Two rounds' anneal and four more leave the centres still moving: said.
    p = run_binary({"predict", "s.pdb", "--nuclei", "amide", "--site", "A:1", "--site", "A:2", "--site", "A:3",
                    "--fit-labels", "obs.txt", "--rounds", "2"},
                   "", dir);
    ASSERT_EQ(p.status, 0) << p.err;
    EXPECT_NE(p.err.find("fit round 6 of 6"), std::string::npos) << p.err;
    EXPECT_NE(p.err.find("surer than they are; write draws of the labels (--draws FILE) and give the posterior run "
                         "--draws FILE to average"),
              std::string::npos)
        << p.err;
    EXPECT_NE(p.err.find("preassign: warning: the fitted centres still moved more than 0.2 A a round when the "
                         "rounds ran out: more rounds (--rounds 4) may place them better\n"),
              std::string::npos)
        << p.err;
    // A site with nothing measured keeps its unfitted prediction, and says why.
    std::string none = observed();
    for (size_t at = 0, line = 0; line < size_t(kAmides); ++line, at = none.find('\n', at) + 1)
        none.replace(none.find(' ', at) + 1, none.find(' ', none.find(' ', at) + 1) - none.find(' ', at) - 1, "-999");
    std::FILE* o = std::fopen((dir + "/none.txt").c_str(), "w");
    std::fputs(none.c_str(), o);
    std::fclose(o);
    p = run_binary({"predict", "s.pdb", "--nuclei", "amide", "--site", "A:1", "--site", "A:2", "--site", "A:3",
                    "--fit-labels", "none.txt", "--rounds", "2", "-o", "none_fit.txt", "--draws", "none_d.txt"},
                   "", dir);
    ASSERT_EQ(p.status, 0) << p.err;
    EXPECT_NE(p.err.find("not kept: no PRE measured at this site\npreassign: predict: site A:2"), std::string::npos)
        << p.err;
    // So do its draws, as the simulated file has it.
    read_simulated(read_file(dir + "/none_fit.txt"), "none_fit.txt", *fit_table);
    for (const Draw& b : split_draws(read_file(dir + "/none_d.txt"), "none_d.txt")) {
        read_simulated(b.text, "none_d.txt", *draw_table);
        auto as_fitted = [&](int site) {
            return std::equal((*draw_table)[site].pre, (*draw_table)[site].pre + kAmides, (*fit_table)[site].pre);
        };
        EXPECT_TRUE(as_fitted(0));
        EXPECT_FALSE(as_fitted(1));
    }
    // What only a fit uses, without one, and a centres file over an input.
    p = run_binary({"predict", "s.pdb", "--site", "A:1", "--rounds", "3"}, "", dir);
    EXPECT_EQ(p.status, 2);
    EXPECT_EQ(p.err, "preassign: --rounds goes with --fit-labels (see --help)\n");
    p = run_binary({"predict", "s.pdb", "--site", "A:1", "--draws", "d2.txt"}, "", dir);
    EXPECT_EQ(p.status, 2);
    EXPECT_EQ(p.err, "preassign: --draws goes with --fit-labels (see --help)\n");
    p = run_binary({"predict", "s.pdb", "--site", "A:1", "--points", "2"}, "", dir);
    EXPECT_EQ(p.status, 2);
    EXPECT_EQ(p.err, "preassign: --points goes with --fit-labels (see --help)\n");
    p = run_binary({"predict", "s.pdb", "--site", "A:1", "--fit-labels", "obs.txt", "--points", "4"}, "", dir);
    EXPECT_EQ(p.status, 2);
    p = run_binary({"predict", "s.pdb", "--site", "A:1", "--fit-labels", "obs.txt", "--centres", "obs.txt"}, "", dir);
    EXPECT_EQ(p.status, 2);
    EXPECT_NE(read_file(dir + "/obs.txt"), "");
    // Nor draws over an input, or over the centres: one result would be lost.
    for (const std::string onto : {"obs.txt", "c.pdb"}) {
        p = run_binary({"predict", "s.pdb", "--site", "A:1", "--fit-labels", "obs.txt", "--centres", "c.pdb", "--draws",
                        onto},
                       "", dir);
        EXPECT_EQ(p.status, 2);
        EXPECT_EQ(p.err, "preassign: --draws and " + std::string(onto == "obs.txt" ? "--fit-labels" : "--centres") +
                             " name the same file, " + onto + ": a result would overwrite it (see --help)\n");
    }
    EXPECT_NE(read_file(dir + "/obs.txt"), "");
}

}  // namespace
