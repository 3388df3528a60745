// Tensors fitted to pseudocontact shifts (known pairs and blind, and the
// fits it refuses), and the posterior's shift profiles: their terms, their
// place among PREs and the command line that brings them in.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <random>

#include "io/failure.h"
#include "metal/tensor.h"
#include "pcsfit/tensor_fit.h"
#include "posterior/costs.h"
#include "posterior/posterior.h"
#include "posterior/terms.h"
#include "profiles/reader.h"
#include "structure/model.h"
#include "structure/predict.h"
#include "pdb_text.h"
#include "support.h"

namespace {

using Chi = std::array<std::array<double, 3>, 3>;

// ppm: 1e6 / (4 pi) x 1e-32 m^3 / 1e-30 m^3, d^T chi d / |d|^5 with d in A.
double pcs_by_hand(const Chi& chi, Xyz m, Xyz n) {
    const double d[3] = {n.x - m.x, n.y - m.y, n.z - m.z};
    double q = 0.0;
    for (int i = 0; i < 3; ++i)
        for (int k = 0; k < 3; ++k) q += d[i] * chi[i][k] * d[k];
    const double r2 = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
    return 1e4 / (4.0 * M_PI) * q / (r2 * r2 * std::sqrt(r2));
}

double frobenius_gap(const Chi& want, const metal::Mat3& got) {
    double dn = 0.0, n = 0.0;
    for (int i = 0; i < 3; ++i)
        for (int k = 0; k < 3; ++k) {
            dn += (want[i][k] - got[i][k]) * (want[i][k] - got[i][k]);
            n += want[i][k] * want[i][k];
        }
    return std::sqrt(dn / n);
}

// Two traceless tensors of different shapes and frames, 1e-32 m^3.
const Chi kChiA{{{-8.0, 3.0, 2.0}, {3.0, -6.0, -4.0}, {2.0, -4.0, 14.0}}};
const Chi kChiB{{{5.0, -2.0, 4.0}, {-2.0, 7.0, 1.5}, {4.0, 1.5, -12.0}}};
const Xyz kMetal{10.0, -5.0, 3.0};

// Amide H/N pairs of residues 1..n on a shell 6-15 A around kMetal (a
// golden spiral of directions, radii cycling), N 1.01 A from H along a
// tilted direction; with `mirror`, the second half mirrors the first in
// the plane z = kMetal.z.
struct Shell {
    std::vector<Xyz> h, n;
    std::string pdb;
};

Shell shell(int count, bool mirror = false) {
    Shell s;
    const int own = mirror ? count / 2 : count;
    for (int i = 0; i < own; ++i) {
        const double z = 1.0 - 2.0 * (i + 0.5) / own, rho = std::sqrt(1.0 - z * z), phi = 2.39996323 * i;
        const double r = 6.0 + 9.0 * std::fmod(i * 0.618034, 1.0);
        const Xyz u{rho * std::cos(phi), rho * std::sin(phi), z};
        const Xyz h{kMetal.x + r * u.x, kMetal.y + r * u.y, kMetal.z + r * u.z};
        // Tilted off the radius, so the N's shift is not a copy of the H's.
        const Xyz t{u.y - 0.3 * u.x, 0.5 * u.z - u.x, u.x + 0.7};
        const double tn = std::sqrt(t.x * t.x + t.y * t.y + t.z * t.z);
        s.h.push_back(h);
        s.n.push_back({h.x + 1.01 * t.x / tn, h.y + 1.01 * t.y / tn, h.z + 1.01 * t.z / tn});
    }
    for (int i = 0; mirror && i < own; ++i) {
        s.h.push_back({s.h[size_t(i)].x, s.h[size_t(i)].y, 2 * kMetal.z - s.h[size_t(i)].z});
        s.n.push_back({s.n[size_t(i)].x, s.n[size_t(i)].y, 2 * kMetal.z - s.n[size_t(i)].z});
    }
    // As the PDB file holds them, to 0.001 A.
    auto held = [](Xyz& p) {
        for (double* v : {&p.x, &p.y, &p.z}) *v = std::round(*v * 1000.0) / 1000.0;
    };
    for (Xyz& p : s.h) held(p);
    for (Xyz& p : s.n) held(p);
    Pdb p;
    for (size_t i = 0; i < s.h.size(); ++i) {
        p.atom("N", "ALA", int(i) + 1, s.n[i], "N");
        p.atom("CA", "ALA", int(i) + 1, {s.n[i].x + 1.0, s.n[i].y + 0.5, s.n[i].z - 0.4}, "C");
        p.atom("H", "ALA", int(i) + 1, s.h[i], "H");
    }
    s.pdb = p.text;
    return s;
}

Geometry amide_geometry(const std::string& pdb) {
    const Structure st = parse_structure(pdb, "shell.pdb");
    PredictOptions o;
    o.nuclei = Nuclei::Amide;
    return geometry(st, o, "shell.pdb");
}

pcsfit::Group point_group(Xyz at, std::vector<int> metals) {
    pcsfit::Group g;
    g.place.kind = metal::Place::Kind::Point;
    g.place.at = {at.x, at.y, at.z};
    g.place.text = "the point";
    g.metals = std::move(metals);
    g.start = {Point{at.x, at.y, at.z}};
    return g;
}

// Measured shifts of each tensor at kMetal, peak j being residue order[j]
// (1-based) with id ids[j]; noise of `sd` ppm, the error column `sd`.
pcsfit::Measured measured(const Shell& s, const std::vector<Chi>& chis, const std::vector<int>& order,
                          const std::vector<int>& ids, double sd, unsigned seed = 3) {
    std::mt19937 gen(seed);
    std::normal_distribution<double> noise(0.0, sd);
    pcsfit::Measured d;
    d.peaks = int(order.size());
    d.id = ids;
    d.value.resize(chis.size());
    d.error.resize(chis.size());
    for (size_t k = 0; k < chis.size(); ++k)
        for (int c = 0; c < 2; ++c)
            for (int r : order) {
                const Xyz at = c == 0 ? s.h[size_t(r - 1)] : s.n[size_t(r - 1)];
                d.value[k][c].push_back(pcs_by_hand(chis[k], kMetal, at) + (sd > 0 ? noise(gen) : 0.0));
                d.error[k][c].push_back(sd);
            }
    return d;
}

std::vector<int> count_up(int n, int from = 1) {
    std::vector<int> v;
    for (int i = 0; i < n; ++i) v.push_back(from + i);
    return v;
}

TEST(TensorFit, KnownPairsGiveTheTensorBack) {
    const Shell s = shell(30);
    const Geometry g = amide_geometry(s.pdb);
    ASSERT_EQ(g.nuclei.size(), 30u);
    const pcsfit::Measured d = measured(s, {kChiA}, count_up(30), count_up(30), 0.0);
    pcsfit::FitOptions o;
    o.assigned = true;
    const pcsfit::TensorFit f = pcsfit::fit_tensors(g, true, d, {point_group(kMetal, {0})}, {metal::Tensor{}}, o);
    ASSERT_TRUE(f.reliable);
    ASSERT_EQ(f.metals.size(), 1u);
    EXPECT_LT(frobenius_gap(kChiA, metal::cartesian(f.metals[0].tensor)), 1e-6);
    EXPECT_LT(f.metals[0].q, 1e-6);
    EXPECT_EQ(f.metals[0].values, 60);  // 30 H and 30 N
    EXPECT_NEAR(f.metals[0].tensor.at.x, kMetal.x, 1e-12);
    EXPECT_EQ(f.assignment, std::vector<int>(count_up(30, 0)));
    // A value not measured is left out, not read as 0.
    pcsfit::Measured gap = d;
    gap.value[0][0][4] = std::numeric_limits<double>::quiet_NaN();
    gap.value[0][1][7] = std::numeric_limits<double>::quiet_NaN();
    const pcsfit::TensorFit fg = pcsfit::fit_tensors(g, true, gap, {point_group(kMetal, {0})}, {metal::Tensor{}}, o);
    EXPECT_EQ(fg.metals[0].values, 58);
    EXPECT_LT(frobenius_gap(kChiA, metal::cartesian(fg.metals[0].tensor)), 1e-6);
    // The fit's own Q against one worked out from a wrong tensor's error: a
    // tensor 10 % too large leaves rms 0.1 rms(y) over rms(y) = Q 0.1 where
    // the fit is pinned to it, so a fitted Q of 0 is the fit's, not a default.
    pcsfit::Measured big = d;
    for (auto& c : big.value[0])
        for (double& v : c) v *= 1.1;
    const pcsfit::TensorFit fb = pcsfit::fit_tensors(g, true, big, {point_group(kMetal, {0})}, {metal::Tensor{}}, o);
    EXPECT_LT(fb.metals[0].q, 1e-6);  // a scaled tensor fits exactly too
    Chi chi11 = kChiA;
    for (auto& row : chi11)
        for (double& x : row) x *= 1.1;
    EXPECT_LT(frobenius_gap(chi11, metal::cartesian(fb.metals[0].tensor)), 1e-6);
}

// Q = rms(measured - fitted) / rms(measured) over the values used. Residue
// 5 measured twice, 0.5 ppm above and below its true shifts: the two pairs
// on one row cancel in the normal equations, so the fit is the true tensor,
// off by 0.5 on those four values alone: Q = sqrt(4 x 0.25 / sum of y^2).
TEST(TensorFit, QIsTheMisfitOverTheShiftsByHand) {
    const Shell s = shell(30);
    const Geometry g = amide_geometry(s.pdb);
    std::vector<int> order = count_up(30);
    order.push_back(5);
    pcsfit::Measured d = measured(s, {kChiA}, order, order, 0.0);
    double sy = 0.0;
    for (int c = 0; c < 2; ++c) {
        d.value[0][size_t(c)][4] += 0.5;
        d.value[0][size_t(c)][30] -= 0.5;
        for (double v : d.value[0][size_t(c)]) sy += v * v;
    }
    pcsfit::FitOptions o;
    o.assigned = true;
    const pcsfit::TensorFit f = pcsfit::fit_tensors(g, true, d, {point_group(kMetal, {0})}, {metal::Tensor{}}, o);
    ASSERT_EQ(f.metals.size(), 1u);
    EXPECT_LT(frobenius_gap(kChiA, metal::cartesian(f.metals[0].tensor)), 1e-9);
    EXPECT_EQ(f.metals[0].values, 62);
    EXPECT_EQ(f.assignment[30], 4);
    const double q = std::sqrt(1.0 / sy);
    EXPECT_NEAR(f.metals[0].q, q, 1e-9 * q) << sy;
    // Known pairs have no runner-up: the spread is not a number, not 0.
    EXPECT_TRUE(std::isnan(f.metals[0].spread));
}

TEST(TensorFit, KnownPairsGiveThePlaceBackAndShareIt) {
    const Shell s = shell(30);
    const Geometry g = amide_geometry(s.pdb);
    pcsfit::FitOptions o;
    o.assigned = true;
    o.fit_places = true;
    // Started 1.5 A off: (1, -1, 0.5) has length sqrt(1 + 1 + 0.25) = 1.5.
    const Xyz off{kMetal.x + 1.0, kMetal.y - 1.0, kMetal.z + 0.5};
    auto dist = [](const Point& p) {
        return std::sqrt((p.x - kMetal.x) * (p.x - kMetal.x) + (p.y - kMetal.y) * (p.y - kMetal.y) +
                         (p.z - kMetal.z) * (p.z - kMetal.z));
    };
    const pcsfit::Measured one = measured(s, {kChiA}, count_up(30), count_up(30), 0.0);
    const pcsfit::TensorFit f1 = pcsfit::fit_tensors(g, true, one, {point_group(off, {0})}, {metal::Tensor{}}, o);
    ASSERT_TRUE(f1.reliable);
    EXPECT_LT(dist(f1.metals[0].tensor.at), 0.05);
    EXPECT_LT(frobenius_gap(kChiA, metal::cartesian(f1.metals[0].tensor)), 0.02);
    // Without --fit-places the place stays where given, and the tensor fits worse.
    pcsfit::FitOptions fixed = o;
    fixed.fit_places = false;
    const pcsfit::TensorFit f0 = pcsfit::fit_tensors(g, true, one, {point_group(off, {0})}, {metal::Tensor{}}, fixed);
    EXPECT_NEAR(dist(f0.metals[0].tensor.at), 1.5, 1e-9);
    EXPECT_GT(f0.metals[0].q, 0.05);
    // Two metals of different tensors at one place: one position for both.
    const pcsfit::Measured two = measured(s, {kChiA, kChiB}, count_up(30), count_up(30), 0.0);
    const pcsfit::TensorFit f2 =
        pcsfit::fit_tensors(g, true, two, {point_group(off, {0, 1})}, {metal::Tensor{}, metal::Tensor{}}, o);
    ASSERT_EQ(f2.metals.size(), 2u);
    EXPECT_LT(dist(f2.metals[0].tensor.at), 0.05);
    EXPECT_EQ(f2.metals[0].tensor.at.x, f2.metals[1].tensor.at.x);
    EXPECT_EQ(f2.metals[0].tensor.at.y, f2.metals[1].tensor.at.y);
    EXPECT_EQ(f2.metals[0].tensor.at.z, f2.metals[1].tensor.at.z);
    EXPECT_LT(frobenius_gap(kChiA, metal::cartesian(f2.metals[0].tensor)), 0.02);
    EXPECT_LT(frobenius_gap(kChiB, metal::cartesian(f2.metals[1].tensor)), 0.02);
    // Fields the fit does not touch come from the base tensor.
    metal::Tensor base;
    base.mueff = 9.7;
    base.temp = 310.0;
    const pcsfit::TensorFit fb = pcsfit::fit_tensors(g, true, one, {point_group(off, {0})}, {base}, o);
    EXPECT_EQ(fb.metals[0].tensor.mueff, 9.7);
    EXPECT_EQ(fb.metals[0].tensor.temp, 310.0);
}

TEST(TensorFit, ASharedPlaceSuitsSmallTensorsToo) {
    // Metal 1 at kMetal; metal 2, a tenth of kChiB's size, 1 A along x. One
    // place for both, found by each metal's Q^2: between the two. Weighed by
    // squared ppm, metal 1's shifts (a hundred times metal 2's squares) would
    // hold the place within a few hundredths of an angstrom of kMetal.
    const Shell s = shell(30);
    const Geometry g = amide_geometry(s.pdb);
    Chi small = kChiB;
    for (auto& row : small)
        for (double& x : row) x *= 0.1;
    const Xyz apart{kMetal.x + 1.0, kMetal.y, kMetal.z};
    pcsfit::Measured d = measured(s, {kChiA, small}, count_up(30), count_up(30), 0.0);
    for (int c = 0; c < 2; ++c)
        for (int r = 0; r < 30; ++r) d.value[1][c][size_t(r)] = pcs_by_hand(small, apart, c == 0 ? s.h[size_t(r)] : s.n[size_t(r)]);
    pcsfit::FitOptions o;
    o.assigned = true;
    o.fit_places = true;
    const pcsfit::TensorFit f =
        pcsfit::fit_tensors(g, true, d, {point_group(kMetal, {0, 1})}, {metal::Tensor{}, metal::Tensor{}}, o);
    ASSERT_TRUE(f.reliable);
    const Point at = f.metals[0].tensor.at;
    const double from_first = std::hypot(at.x - kMetal.x, at.y - kMetal.y, at.z - kMetal.z);
    const double from_second = std::hypot(at.x - apart.x, at.y - apart.y, at.z - apart.z);
    EXPECT_GT(from_first, 0.2) << from_second;
    EXPECT_GT(from_second, 0.2) << from_first;
}

TEST(TensorFit, APlaceIsFoundFromWhatIsMeasured) {
    // The metal 1 A along x from where the place starts, and a second metal
    // sharing the place with nothing measured: the place comes back from the
    // first's shifts, its heavy atoms' alone too (no 1H measured), and the
    // second tensor stays unfitted (all 0) with no value.
    const Shell s = shell(30);
    const Geometry g = amide_geometry(s.pdb);
    const Xyz start{kMetal.x - 1.0, kMetal.y, kMetal.z};
    pcsfit::FitOptions o;
    o.assigned = true;
    o.fit_places = true;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    pcsfit::Measured d = measured(s, {kChiA, kChiB}, count_up(30), count_up(30), 0.0);
    for (int c = 0; c < 2; ++c)
        for (double& v : d.value[1][size_t(c)]) v = nan;
    pcsfit::Measured heavy = d;
    for (double& v : heavy.value[0][0]) v = nan;
    for (const pcsfit::Measured& m : {d, heavy}) {
        const pcsfit::TensorFit f =
            pcsfit::fit_tensors(g, true, m, {point_group(start, {0, 1})}, {metal::Tensor{}, metal::Tensor{}}, o);
        const Point at = f.metals[0].tensor.at;
        EXPECT_LT(std::hypot(at.x - kMetal.x, at.y - kMetal.y, at.z - kMetal.z), 0.05)
            << at.x << " " << at.y << " " << at.z;
        EXPECT_LT(frobenius_gap(kChiA, metal::cartesian(f.metals[0].tensor)), 0.02);
        EXPECT_EQ(f.metals[1].values, 0);
    }
}

// Peaks in a shuffled order, ids 101.. that are no residue's number.
std::vector<int> shuffled(int n, unsigned seed) {
    std::vector<int> order = count_up(n);
    std::mt19937 gen(seed);
    std::shuffle(order.begin(), order.end(), gen);
    return order;
}

TEST(TensorFit, BlindFindsTheTensorsAndTheAssignment) {
    const Shell s = shell(30);
    const Geometry g = amide_geometry(s.pdb);
    const std::vector<int> order = shuffled(30, 11);
    pcsfit::Measured d = measured(s, {kChiA, kChiB}, order, count_up(30, 101), 0.02);
    // Four values not measured: 116 of 120 are.
    for (int k : {0, 1}) d.value[size_t(k)][1][size_t(3 + 5 * k)] = d.value[size_t(k)][0][size_t(20 - k)] = NAN;
    const pcsfit::TensorFit f = pcsfit::fit_tensors(g, true, d, {point_group(kMetal, {0, 1})},
                                                    {metal::Tensor{}, metal::Tensor{}}, pcsfit::FitOptions{});
    ASSERT_TRUE(f.reliable) << f.why;
    // Refitted last by the posterior's chances, each value as Q weighs it,
    // the tensors come back as the true pairs give them (0.0006 of their
    // size; weighed by the values' errors, as before those rounds, 0.003
    // and 0.004).
    EXPECT_LT(frobenius_gap(kChiA, metal::cartesian(f.metals[0].tensor)), 0.0015);
    EXPECT_LT(frobenius_gap(kChiB, metal::cartesian(f.metals[1].tensor)), 0.0015);
    ASSERT_EQ(f.assignment.size(), 30u);
    int right = 0;
    for (int j = 0; j < 30; ++j)
        right += f.assignment[size_t(j)] >= 0 && g.nuclei[size_t(f.assignment[size_t(j)])].residue == order[size_t(j)];
    EXPECT_GE(right, 27);
    // The runner-up is another solution: solutions whose tensors all lie
    // within a tenth of each other are one, so at least one metal's differs
    // by more (the fit's is the best polished further, here within 0.005 of it).
    ASSERT_FALSE(std::isnan(f.metals[0].spread) || std::isnan(f.metals[1].spread));
    EXPECT_GT(std::max(f.metals[0].spread, f.metals[1].spread), 0.1);
    // Where it holds, the cost per value is about 1 or less, and is said.
    EXPECT_LT(f.cost_per_value, 2.5);
    ASSERT_FALSE(f.notes.empty());
    EXPECT_NE(f.notes.back().find("a cost of"), std::string::npos);
    EXPECT_NE(f.notes.back().find("(116 values)"), std::string::npos) << f.notes.back();
}

TEST(TensorFit, NoisyShiftsRefittedByEachPairingsChance) {
    // 60 peaks at 0.5 ppm of noise: the small shifts far off have several
    // likely residues each. Refitted by every pairing at its chance, the
    // tensors come back within 1.1 % and 56 of 60 peaks right (measured);
    // each likely pairing at full weight draws them to 2.2-2.4 % (50 right),
    // the likeliest pairing of each peak alone to 48 right.
    const Shell s = shell(60);
    const Geometry g = amide_geometry(s.pdb);
    const std::vector<int> order = shuffled(60, 11);
    const pcsfit::Measured d = measured(s, {kChiA, kChiB}, order, count_up(60, 101), 0.5);
    const pcsfit::TensorFit f = pcsfit::fit_tensors(g, true, d, {point_group(kMetal, {0, 1})},
                                                    {metal::Tensor{}, metal::Tensor{}}, pcsfit::FitOptions{});
    ASSERT_TRUE(f.reliable) << f.why;
    EXPECT_LT(frobenius_gap(kChiA, metal::cartesian(f.metals[0].tensor)), 0.015);
    EXPECT_LT(frobenius_gap(kChiB, metal::cartesian(f.metals[1].tensor)), 0.015);
    int right = 0;
    for (int j = 0; j < 60; ++j)
        right += f.assignment[size_t(j)] >= 0 && g.nuclei[size_t(f.assignment[size_t(j)])].residue == order[size_t(j)];
    EXPECT_GE(right, 53);
}

TEST(TensorFit, ShiftsNoTensorExplainsAreRefused) {
    const Shell s = shell(30);
    const Geometry g = amide_geometry(s.pdb);
    pcsfit::Measured d = measured(s, {kChiA}, count_up(30), count_up(30, 101), 0.02);
    std::mt19937 gen(7);
    std::uniform_real_distribution<double> any(-4.0, 4.0);
    for (auto& c : d.value[0])
        for (double& v : c) v = any(gen);
    const pcsfit::TensorFit f =
        pcsfit::fit_tensors(g, true, d, {point_group(kMetal, {0})}, {metal::Tensor{}}, pcsfit::FitOptions{});
    EXPECT_FALSE(f.reliable);
    const bool cost = f.why.rfind("the best fit leaves a cost of ", 0) == 0;
    const bool runner_up = f.why.find("are fitted almost as well by other tensors") != std::string::npos;
    EXPECT_TRUE(cost || runner_up) << f.why;
    if (cost) {
        EXPECT_GT(f.cost_per_value, 2.5);
    }
}

TEST(TensorFit, TheCostPerValueByHand) {
    // Exact shifts of 30 residues, residues 1 and 2 measured twice: one peak
    // of each pair is no residue's, its two values at 0.9 x 9 each, the rest
    // at about 0: 4 x 8.1 = 32.4 over 64 values.
    const Shell s = shell(30);
    const Geometry g = amide_geometry(s.pdb);
    std::vector<int> order = shuffled(30, 11);
    order.insert(order.begin() + 7, 1);
    order.push_back(2);
    const pcsfit::Measured d = measured(s, {kChiA}, order, count_up(32, 101), 0.0);
    const pcsfit::TensorFit f =
        pcsfit::fit_tensors(g, true, d, {point_group(kMetal, {0})}, {metal::Tensor{}}, pcsfit::FitOptions{});
    EXPECT_NEAR(f.cost_per_value, 32.4 / 64, 1e-4);
    ASSERT_FALSE(f.notes.empty());
    EXPECT_EQ(f.notes.back(), "the tensors fitted jointly: a cost of 0.506 per measured value (64 values)");
    EXPECT_EQ(std::count(f.assignment.begin(), f.assignment.end(), -1), 2);
    EXPECT_LT(frobenius_gap(kChiA, metal::cartesian(f.metals[0].tensor)), 1e-3);
    // Q over the pairs the posterior makes likelier than not: each twice
    // measured residue's two peaks are about equally likely its own
    // (sampled, 0.49 to 0.50 each), so at most one of each two counts and
    // at least 4 of the 8 values are left out of the 64 (the matching took
    // 60).
    EXPECT_GE(f.metals[0].values, 56);
    EXPECT_LE(f.metals[0].values, 58);
}

TEST(TensorFit, ShiftsATensorExplainsInPartAreRefusedByTheirCost) {
    // 12 of 30 peaks' shifts replaced by values of no tensor: at best 24 of
    // 60 values stay unexplained, each at about 0.9 x 9 (a peak that is no
    // residue's), some 8 per value over 0.4 of them: above 2.5, and the
    // refusal says so, whatever the runner-up.
    const Shell s = shell(30);
    const Geometry g = amide_geometry(s.pdb);
    const std::vector<int> order = shuffled(30, 11);
    pcsfit::Measured d = measured(s, {kChiA}, order, count_up(30, 101), 0.02);
    std::mt19937 gen(2);
    std::uniform_real_distribution<double> any(-6.0, 6.0);
    for (int j = 0; j < 12; ++j)
        for (int c = 0; c < 2; ++c) d.value[0][size_t(c)][size_t(j)] = any(gen);
    const pcsfit::TensorFit f =
        pcsfit::fit_tensors(g, true, d, {point_group(kMetal, {0})}, {metal::Tensor{}}, pcsfit::FitOptions{});
    EXPECT_FALSE(f.reliable);
    EXPECT_GT(f.cost_per_value, 2.5);
    EXPECT_EQ(f.why, "the best fit leaves a cost of " + std::to_string(f.cost_per_value) +
                         " per measured value (about 1 where the tensors explain the shifts)");
}

TEST(TensorFit, ShiftsEveryTinyTensorExplainsAreNotClaimed) {
    // Shifts within their error of 0: any tensor near 0 explains them, at a
    // low cost per value, and none is better than the next; no assignment
    // can be drawn from them.
    const Shell s = shell(30);
    const Geometry g = amide_geometry(s.pdb);
    pcsfit::Measured d = measured(s, {kChiA}, count_up(30), count_up(30, 101), 0.02);
    std::mt19937 gen(1);
    std::normal_distribution<double> noise(0.0, 0.02);
    for (auto& c : d.value[0])
        for (double& v : c) v = noise(gen);
    const pcsfit::TensorFit f =
        pcsfit::fit_tensors(g, true, d, {point_group(kMetal, {0})}, {metal::Tensor{}}, pcsfit::FitOptions{});
    EXPECT_FALSE(f.reliable);
    EXPECT_LT(f.cost_per_value, 2.5);  // the cost alone would pass
    const std::string head = "the metals at the point are fitted almost as well by other tensors (costs ";
    ASSERT_EQ(f.why.rfind(head, 0), 0u) << f.why;
    int best = 0, next = 0;
    ASSERT_EQ(std::sscanf(f.why.c_str() + head.size(), "%d and %d", &best, &next), 2) << f.why;
    EXPECT_LE(best, next);
    EXPECT_LT(next, 1.25 * best + 1);  // the runner-up within a quarter (the costs are printed whole)
    EXPECT_NE(f.why.find("): the shifts do not tell which is right"), std::string::npos);
}

// measured_of: an experimental table of 2 x metals profiles.
TEST(TensorFit, MeasuredShiftsFromProfiles) {
    auto obs = make_table();
    ReadResult r;
    r.profiles = 4;
    r.records = {3, 3, 3, 2};
    const double v[4][3] = {{1.5, -999.0, -0.25}, {0.4, 0.3, -999.0}, {-2.0, 0.0, 7.5}, {0.1, 0.2, 9.9}};
    const double e[4][3] = {{0.02, 0.5, 0.0}, {0.03, -1.0, 0.1}, {0.05, 0.05, 0.05}, {0.01, 0.01, 0.01}};
    for (int p = 0; p < 4; ++p)
        for (int j = 0; j < 3; ++j) {
            (*obs)[size_t(p)].id[j] = 7 + 2 * j;
            (*obs)[size_t(p)].pre[j] = v[p][j];
            (*obs)[size_t(p)].pre_err[j] = e[p][j];
        }
    const pcsfit::Measured d = pcsfit::measured_of(*obs, r, 2, "shifts.txt");
    EXPECT_EQ(d.peaks, 3);
    EXPECT_EQ(d.id, (std::vector<int>{7, 9, 11}));
    ASSERT_EQ(d.value.size(), 2u);
    // Metal 1's 1H, then its heavy atom; -999 is no value; a negative shift is one.
    EXPECT_EQ(d.value[0][0][0], 1.5);
    EXPECT_TRUE(std::isnan(d.value[0][0][1]));
    EXPECT_EQ(d.value[0][0][2], -0.25);
    EXPECT_TRUE(std::isnan(d.value[0][1][2]));
    EXPECT_EQ(d.value[1][0][0], -2.0);
    EXPECT_EQ(d.value[1][0][1], 0.0);
    // Past a profile's own records, nothing was measured.
    EXPECT_EQ(d.value[1][1][1], 0.2);
    EXPECT_TRUE(std::isnan(d.value[1][1][2]));
    // Errors kept; none given (0, or below) is 0.
    EXPECT_EQ(d.error[0][0][0], 0.02);
    EXPECT_EQ(d.error[0][0][2], 0.0);
    EXPECT_EQ(d.error[0][1][1], 0.0);
    EXPECT_EQ(d.error[0][1][0], 0.03);
    EXPECT_EQ(d.error[1][0][2], 0.05);
    // Another number of profiles than two per metal.
    for (int metals : {1, 3}) {
        try {
            pcsfit::measured_of(*obs, r, metals, "shifts.txt");
            ADD_FAILURE() << metals;
        } catch (const Failure& f) {
            EXPECT_EQ(f.status, kStatusInput);
            EXPECT_EQ(f.message, "shifts.txt: 4 profiles for " + std::to_string(metals) +
                                     " metals, where each metal has two (1H, then the heavy atom)");
        }
    }
}

// ---- the posterior's shifts ----

// Profiles [m][entry] into a table, ids id0, id0 + 1, ...
void fill(ProfileTable& t, const std::vector<std::vector<double>>& v, const std::vector<std::vector<double>>& e,
          int id0 = 1) {
    for (size_t m = 0; m < v.size(); ++m)
        for (size_t j = 0; j < v[m].size(); ++j) {
            t[m].id[j] = id0 + int(j);
            t[m].pre[j] = v[m][j];
            t[m].pre_err[j] = e.empty() ? 0.0 : e[m][j];
        }
}

ReadResult shape_of(int profiles, int n, double maxobs = 0.0) {
    ReadResult r;
    r.profiles = profiles;
    r.maxres = n;
    r.records.assign(size_t(profiles), n);
    r.maxobs = maxobs;
    return r;
}

// Two PRE profiles over 3 peaks and 4 residues; the cap 10 above 20.
PosteriorData pre_data(std::unique_ptr<ProfileTable>& sim, std::unique_ptr<ProfileTable>& obs) {
    sim = make_table();
    obs = make_table();
    fill(*obs, {{5.0, 1030.0, 2.0}, {20.0, 3.0, -999.0}}, {{0.5, 0.0, 0.2}, {1.0, 0.3, 0.0}});
    fill(*sim, {{4.0, 30.0, 2.5, 9.0}, {18.0, 2.0, 0.5, 6.0}}, {});
    return posterior_data(*sim, shape_of(2, 4), *obs, shape_of(2, 3, 20.0), Shape{2, 4});
}

TEST(PosteriorShifts, AppendedAfterThePresAndFlagged) {
    std::unique_ptr<ProfileTable> sim, obs;
    PosteriorData d = pre_data(sim, obs);
    ASSERT_EQ(d.peaks, 3);
    ASSERT_EQ(d.residues, 4);
    auto ssim = make_table(), sobs = make_table();
    fill(*sobs, {{0.5, -1.25, 40.0}, {-0.1, 0.2, -999.0}}, {{0.01, 0.0, 0.02}, {0.03, 0.04, 0.0}});
    fill(*ssim, {{0.4, -1.0, 3.0, -0.2}, {-0.2, 0.1, 1.0, 0.0}}, {});
    append_shifts(d, *ssim, shape_of(2, 4), "s.txt", *sobs, shape_of(2, 3), "o.txt");
    EXPECT_EQ(d.profiles, 4);
    EXPECT_EQ(d.pcs, (std::vector<char>{0, 0, 1, 1}));
    EXPECT_EQ(d.meas, (std::vector<double>{5.0, 1030.0, 2.0, 20.0, 3.0, -999.0, 0.5, -1.25, 40.0, -0.1, 0.2, -999.0}));
    EXPECT_EQ(d.err, (std::vector<double>{0.5, 0.0, 0.2, 1.0, 0.3, 0.0, 0.01, 0.0, 0.02, 0.03, 0.04, 0.0}));
    EXPECT_EQ(d.pred, (std::vector<double>{4.0, 30.0, 2.5, 9.0, 18.0, 2.0, 0.5, 6.0, 0.4, -1.0, 3.0, -0.2, -0.2, 0.1,
                                           1.0, 0.0}));
    // A file of more profiles than the other: the common ones.
    std::unique_ptr<ProfileTable> s2, o2;
    PosteriorData e = pre_data(s2, o2);
    append_shifts(e, *ssim, shape_of(2, 4), "s.txt", *sobs, shape_of(1, 3), "o.txt");
    EXPECT_EQ(e.profiles, 3);
    EXPECT_EQ(e.pcs, (std::vector<char>{0, 0, 1}));
}

TEST(PosteriorShifts, AppendRefusesWhatDoesNotFit) {
    auto ssim = make_table(), sobs = make_table();
    auto refused = [&](PosteriorData d, const ReadResult& sr, const ReadResult& orr, int status, const std::string& msg) {
        try {
            append_shifts(d, *ssim, sr, "s.txt", *sobs, orr, "o.txt");
            ADD_FAILURE() << msg;
        } catch (const Failure& f) {
            EXPECT_EQ(f.status, status);
            EXPECT_EQ(f.message, msg);
        }
    };
    PosteriorData d;
    d.peaks = 3;
    d.residues = 4;
    d.profiles = 18;
    d.meas.assign(size_t(18 * 3), 1.0);
    d.err.assign(size_t(18 * 3), 0.1);
    d.pred.assign(size_t(18 * 4), 1.0);
    // 18 + 2 is the most a posterior weighs; 18 + 3 is more.
    PosteriorData full = d;
    append_shifts(full, *ssim, shape_of(2, 4), "s.txt", *sobs, shape_of(2, 3), "o.txt");
    EXPECT_EQ(full.profiles, 20);
    refused(d, shape_of(3, 4), shape_of(3, 3), kStatusUsage,
            "o.txt: 3 profiles of shifts and 18 of PREs, more than the 20 a posterior weighs");
    refused(d, shape_of(0, 4), shape_of(2, 3), kStatusInput, "o.txt: holds no profile of shifts");
    ReadResult short_obs = shape_of(2, 3);
    short_obs.records[1] = 2;
    refused(d, shape_of(2, 4), short_obs, kStatusInput,
            "o.txt: profile 1 lists 2 peaks where the PREs list 3: every profile lists every peak, in the same order");
    ReadResult short_sim = shape_of(2, 4);
    short_sim.records[0] = 3;
    refused(d, short_sim, shape_of(2, 3), kStatusInput,
            "s.txt: profile 0 lists 3 residues where the PREs' list 4: predict both from one structure, with the same "
            "nuclei");
    // More peaks or residues than the PREs' are fine: the PREs' are compared.
    PosteriorData more = d;
    append_shifts(more, *ssim, shape_of(2, 6), "s.txt", *sobs, shape_of(2, 5), "o.txt");
    EXPECT_EQ(more.profiles, 20);
    EXPECT_EQ(more.meas.size(), size_t(20 * 3));
}

TEST(PosteriorShifts, GatheredUnclippedAndSigned) {
    std::unique_ptr<ProfileTable> sim, obs;
    PosteriorData d = pre_data(sim, obs);
    auto ssim = make_table(), sobs = make_table();
    // 40 ppm lies above the PREs' cap (30); -1.25 below 0; an error of 0.
    fill(*sobs, {{0.5, -1.25, 40.0}, {-0.1, 29.5, -999.0}}, {{0.01, 0.0, 0.02}, {0.03, 0.04, 0.0}});
    fill(*ssim, {{0.4, -1.0, 3.0, -0.2}, {-0.2, 0.1, 1.0, 0.0}}, {});
    append_shifts(d, *ssim, shape_of(2, 4), "s.txt", *sobs, shape_of(2, 3), "o.txt");
    ASSERT_EQ(d.cap, 30.0);
    const post::Tables t = post::gather(d);
    ASSERT_EQ(t.np, 4);
    auto at = [&](int m, int j) { return size_t(m) * 3 + size_t(j); };
    EXPECT_EQ(t.meas[at(2, 2)], 40.0);
    EXPECT_FALSE(t.clipped[at(2, 2)]);
    EXPECT_EQ(t.meas[at(2, 1)], -1.25);
    EXPECT_EQ(t.err[at(2, 0)], 0.01);
    EXPECT_EQ(t.err[at(2, 1)], post::kLeastError);  // not a PRE's default 0.1 |y| + 0.5
    EXPECT_FALSE(t.measured[at(3, 2)]);
    // The PREs: 1030 clipped to the largest PRE its own profile measured
    // below the cap, 5 (not the other's 20; a shift of 29.5 is no PRE); its
    // error the default for that size, 1, more than the value's 0.5.
    EXPECT_TRUE(t.clipped[at(0, 1)]);
    EXPECT_EQ(t.meas[at(0, 1)], 5.0);
    EXPECT_EQ(t.err[at(0, 1)], 1.0);
    // 10 values: 5 PREs (the clipped one among them) and 5 shifts.
    EXPECT_EQ(t.values, 10);
    // A shift without an error is no PRE whose error was defaulted.
    EXPECT_EQ(t.defaulted, 0);
    // The PREs' typical error is the median of theirs alone: 0.2, 0.3, 0.5, 1.0 -> the upper middle, 0.5.
    EXPECT_EQ(t.typical_error, 0.5);
    EXPECT_EQ(t.pcs, (std::vector<char>{0, 0, 1, 1}));
}

TEST(PosteriorShifts, TheShiftTermByHand) {
    using namespace post;
    post::Model m;
    m.pcs = {0, 1};
    m.pcs_f = 0.1;
    m.pcs_a = 0.02;
    m.f = 0.2;
    m.c = 2.0;
    // y = 1.3 +- 0.05 ppm against a prediction of 2.0 in a profile whose
    // factor is 0.8: x = 1.6, d = 0.3, V = 0.05^2 + (0.1 x 1.6)^2 + 0.02^2
    // = 0.0025 + 0.0256 + 0.0004 = 0.0285; no change of scale.
    const Value y = value_in(m, 1, 1.3, 0.05, false);
    const Pred p = pred_in(m, 1, 2.0, 0.8);
    EXPECT_EQ(y.g, 1.3);
    EXPECT_NEAR(y.v, 0.0025, 1e-15);
    EXPECT_EQ(y.norm, 0.0);
    EXPECT_FALSE(y.bound);
    EXPECT_NEAR(p.g, 1.6, 1e-15);
    EXPECT_NEAR(p.v, 0.026, 1e-15);
    // 6 ln(1 + 0.09 / (5 x 0.0285)) + ln 0.0285 = 6 ln(1.631578947) + ln 0.0285
    // = 6 x 0.4895481 - 3.5578512 = 2.9372887 - 3.5578512 = -0.6205625.
    const double want = 6.0 * std::log(1.0 + 0.09 / (5.0 * 0.0285)) + std::log(0.0285);
    EXPECT_NEAR(cost(y, p), want, 1e-12);
    EXPECT_NEAR(cost(y, p), -0.6205625, 1e-6);
    EXPECT_NEAR(density(y, p), std::exp(-want / 2.0), 1e-12);
    EXPECT_NEAR(cost(shift_value_of(1.3, 0.05), shift_pred_of(2.0, 0.8, m)), want, 1e-12);
    // Signed: -2 ppm predicted stays -1.6, where a PRE's prediction below 0 is 0.
    EXPECT_NEAR(pred_in(m, 1, -2.0, 0.8).g, -1.6, 1e-15);
    EXPECT_NEAR(pred_in(m, 1, -2.0, 0.8).v, 0.026, 1e-15);
    // A value of -1.3 against -1.6: the same cost as 1.3 against 1.6.
    EXPECT_NEAR(cost(value_in(m, 1, -1.3, 0.05, false), pred_in(m, 1, -2.0, 0.8)), want, 1e-12);
    // Profile 0 is a PRE's, on the asinh scale: asinh(3 / 2).
    EXPECT_NEAR(value_in(m, 0, 3.0, 1.0, false).g, 1.1947632172871094, 1e-12);
    EXPECT_NEAR(pred_in(m, 0, 4.0, 0.5).g, 0.88137358701954305, 1e-12);
    // No flags: every profile a PRE's.
    post::Model plain = m;
    plain.pcs.clear();
    EXPECT_NEAR(value_in(plain, 1, 3.0, 1.0, false).g, 1.1947632172871094, 1e-12);
}

// Twelve residues whose two shift profiles are far apart (0.6 ppm steps in
// one, 0.45 in the other, against errors of 0.03), peaks in another order.
struct ShiftSet {
    std::unique_ptr<ProfileTable> sim = make_table(), obs = make_table();
    std::vector<int> truth;  // per peak: its residue's index
    PosteriorData data;
};

ShiftSet shift_set(int n = 12) {
    ShiftSet s;
    std::vector<std::vector<double>> pred(2, std::vector<double>(size_t(n))), meas = pred, err = pred;
    for (int r = 0; r < n; ++r) {
        pred[0][size_t(r)] = -3.0 + 0.6 * r;
        pred[1][size_t(r)] = 2.5 - 0.45 * ((r * 5) % n);
    }
    s.truth = count_up(n, 0);
    std::mt19937 gen(4);
    std::shuffle(s.truth.begin(), s.truth.end(), gen);
    std::normal_distribution<double> noise(0.0, 0.03);
    for (int j = 0; j < n; ++j)
        for (int m = 0; m < 2; ++m) {
            meas[size_t(m)][size_t(j)] = pred[size_t(m)][size_t(s.truth[size_t(j)])] + noise(gen);
            err[size_t(m)][size_t(j)] = 0.03;
        }
    fill(*s.sim, pred, {});
    fill(*s.obs, meas, err);
    s.data = posterior_data(*s.sim, shape_of(2, n), *s.obs, shape_of(2, n, 3.0), Shape{2, n});
    s.data.pcs.assign(2, 1);
    return s;
}

TEST(PosteriorShifts, ShiftsAloneAssignWellSeparatedPeaks) {
    const ShiftSet s = shift_set();
    const Posterior p = compute_posterior(s.data, {});
    ASSERT_TRUE(p.usable());
    EXPECT_EQ(p.shift_profiles, 2);
    EXPECT_EQ(p.pre_profiles, 0);
    for (int j = 0; j < p.peaks; ++j) EXPECT_GE(p.p(j, s.truth[size_t(j)]), 0.9) << "peak " << j;
    // Noise of 0.03 ppm against errors of 0.03: nothing left for the
    // predictions' own error, which goes to the least of its ranges (1 %
    // of the shift, 0.002 ppm), not the starting 10 % and 0.02.
    EXPECT_GE(p.pcs_f, 0.01 * 0.999);
    EXPECT_LE(p.pcs_f, 0.02);
    EXPECT_GE(p.pcs_a, 0.002 * 0.999);
    EXPECT_LE(p.pcs_a, 0.01);
    EXPECT_LT(p.chi2_per_value, 3.0);
}

TEST(PosteriorShifts, AFewPeaksOfNoResidueDoNotWidenTheError) {
    // Two of 12 peaks moved 8 ppm off every prediction (beyond their range): gross errors, which
    // the fit sets aside rather than widen every value's error for them.
    ShiftSet s = shift_set();
    for (int j : {2, 7}) {
        s.data.meas[size_t(j)] += 8.0;
        s.data.meas[size_t(12 + j)] += 8.0;
    }
    const Posterior p = compute_posterior(s.data, {});
    ASSERT_TRUE(p.usable());
    EXPECT_LE(p.pcs_f, 0.02);
    EXPECT_LE(p.pcs_a, 0.01);
    double right = 0.0;
    for (int j = 0; j < p.peaks; ++j)
        if (j != 2 && j != 7) right += p.p(j, s.truth[size_t(j)]) / 10.0;
    EXPECT_GE(right, 0.85);
}

TEST(PosteriorShifts, WrongPredictionsWidenTheShiftsError) {
    // Every prediction 30 % off at random (signs kept): the fitted relative
    // error must grow to about that, not stay at the values' own.
    ShiftSet s = shift_set();
    std::mt19937 gen(9);
    std::normal_distribution<double> off(0.0, 0.3);
    for (size_t k = 0; k < s.data.pred.size(); ++k) s.data.pred[k] *= 1.0 + off(gen);
    const Posterior p = compute_posterior(s.data, {});
    ASSERT_TRUE(p.computed);
    EXPECT_GT(p.pcs_f, 0.12);  // fitted 0.197 (and a floor of 0.13 ppm)
}

TEST(PosteriorShifts, NoiseOfOneSizeIsAFloor) {
    // 0.1 ppm of noise beyond the stated 0.03 on every shift, the same at
    // every size: a floor near sqrt(0.1^2 - 0.03^2) = 0.095 ppm (a t fitted
    // to a normal is narrower, about 0.08; 0.057 to 0.090 over the noise's
    // seeds 1 to 15), and the relative error at its least, 0.01.
    ShiftSet s = shift_set(24);
    std::mt19937 gen(1);
    std::normal_distribution<double> noise(0.0, 0.1);
    for (double& y : s.data.meas) y += noise(gen);
    const Posterior p = compute_posterior(s.data, {});
    ASSERT_TRUE(p.usable());
    EXPECT_GT(p.pcs_a, 0.05);
    EXPECT_LT(p.pcs_a, 0.13);
    EXPECT_LT(p.pcs_f, 0.03);
}

// Shift profiles, peak j being residue j: per profile its predictions, the
// residuals at the true pairs (NaN: not measured) and the errors (ppm).
PosteriorData shift_profiles(const std::vector<std::vector<double>>& pred, const std::vector<std::vector<double>>& res,
                             const std::vector<std::vector<double>>& err) {
    const size_t np = pred.size();
    const int n = int(pred[0].size());
    std::unique_ptr<ProfileTable> sim = make_table(), obs = make_table();
    std::vector<std::vector<double>> meas = pred;
    for (size_t m = 0; m < np; ++m)
        for (size_t r = 0; r < size_t(n); ++r)
            meas[m][r] = std::isnan(res[m][r]) ? MISSING_PRE : pred[m][r] + res[m][r];
    fill(*sim, pred, {});
    fill(*obs, meas, err);
    PosteriorData d = posterior_data(*sim, shape_of(int(np), n), *obs, shape_of(int(np), n, 3.0), Shape{int(np), n});
    d.pcs.assign(np, 1);
    return d;
}

// Profiles whose residuals at the true pairs are given: `sign[m]` times the
// first's (0: the pairs' own pattern, orthogonal to it). Every profile
// predicts alike, so that the residuals standardise alike.
PosteriorData residual_set(const std::vector<int>& sign) {
    const int n = 12;
    const size_t np = sign.size();
    std::vector<std::vector<double>> pred(np, std::vector<double>(size_t(n))), res = pred, err = pred;
    for (size_t m = 0; m < np; ++m)
        for (int r = 0; r < n; ++r) {
            pred[m][size_t(r)] = -3.0 + 0.6 * r;  // r and 10 - r: the same |p|, so the same spread
            const double first = r % 3 == 0 ? 0.02 : -0.01;
            // Orthogonal: r and 10 - r of opposite signs, and 5 and 11 none.
            const double own = r == 5 || r == 11 ? 0.0 : (r < 5 ? 0.02 : -0.02);
            res[m][size_t(r)] = sign[m] == 0 ? own : sign[m] * first;
            err[m][size_t(r)] = 0.03;
        }
    return shift_profiles(pred, res, err);
}

TEST(PosteriorShifts, ShiftsThatErrTogetherCountAsOne) {
    // n profiles count as n^2 / sum C^2; a pair's C^2 less 1 / (12 - 1), what
    // chance gives 12 pairs. Two alike (or mirrored): 2 / (2 + 2 (1 - 1/11)).
    const double two = 2.0 / (2.0 + 2.0 * (1.0 - 1.0 / 11.0));
    for (const auto& [sign, want] : std::vector<std::pair<std::vector<int>, double>>{
             {{1, 1}, two},
             {{1, -1}, two},                                        // errors of opposite signs go together too
             {{1, 1, 1}, 3.0 / (3.0 + 6.0 * (1.0 - 1.0 / 11.0))},  // three alike
             {{1, 0}, 0.85}}) {  // about none alike (not exactly, once standardised): the cap, not 1
        const Posterior p = compute_posterior(residual_set(sign), {});
        ASSERT_TRUE(p.usable());
        EXPECT_NEAR(p.shift_power, want, 1e-9) << sign.size() << " profiles, the second's sign " << sign[1];
        for (int j = 0; j < p.peaks; ++j) EXPECT_GE(p.p(j, j), 0.5) << "peak " << j;
    }
    // One peak 0.25 ppm off in both (about 8 errors), held to 3: its 9 beside
    // the others' squares (about 1.8 in one profile, 3.2 in the other, their
    // products about -0.4) gives C near 8.6 / sqrt(10.8 x 12.2) = 0.75 and a
    // power near 2 / (2 + 2 (0.57 - 1/11)) = 0.68. Taken whole (64 in each
    // sum) it would make them alike: C near 0.93, a power near 0.55.
    PosteriorData gross = residual_set({1, 0});
    for (int m = 0; m < 2; ++m) gross.meas[size_t(m) * 12 + 3] = -3.0 + 0.6 * 3 + 0.25;
    const Posterior pg = compute_posterior(gross, {});
    ASSERT_TRUE(pg.usable());
    EXPECT_GT(pg.shift_power, 0.63);
    EXPECT_LT(pg.shift_power, 0.72);
    // Every value of both 0.05 ppm high (a referencing offset, about 1.6
    // errors): an offset of a whole profile is no shared error of residues.
    PosteriorData offset = residual_set({1, 0});
    for (double& y : offset.meas) y += 0.05;
    const Posterior po = compute_posterior(offset, {});
    ASSERT_TRUE(po.usable());
    EXPECT_NEAR(po.shift_power, 0.85, 1e-9);
    // The shifts' share of every cost goes with the power, with and without
    // the uninformative shares: at 1 twice what it is at 0.5, beside the prior at 0.
    const post::Tables t = post::gather(residual_set({1, 1}));
    post::Model m;
    m.scale.assign(2, 1.0);
    m.pcs = {1, 1};
    auto costs = [&](double power, bool mixed) {
        m.shift_power = power;
        post::Free q = post::free_problem(t, PosteriorOptions{});
        if (mixed)
            post::fill_mixed_costs(t, m, {0.1, 0.2}, q);
        else
            post::fill_costs(t, m, q);
        return q.cost;
    };
    for (bool mixed : {false, true}) {
        const std::vector<double> none = costs(0.0, mixed), half = costs(0.5, mixed), whole = costs(1.0, mixed);
        ASSERT_EQ(none.size(), half.size());
        for (size_t k = 0; k < none.size(); ++k) {
            EXPECT_NE(half[k], none[k]) << k;
            EXPECT_NEAR(whole[k] - none[k], 2.0 * (half[k] - none[k]), 1e-9 * (1.0 + std::fabs(whole[k]))) << k;
        }
    }
}

TEST(PosteriorShifts, CorrelationsOfKnownSizeGiveTheirPower) {
    // Profile 0 tells the residues apart and has no residuals (its C is
    // none). The others predict 1.5 ppm at every residue, so that their
    // residuals standardise alike and correlate as the patterns do: u
    // alternates, w goes in twos, each of mean 0 and orthogonal to the other.
    const int n = 12;
    std::vector<double> c(n), zero(n, 0.0), flat(n, 1.5), err(n, 0.03), u(n), w(n), uw(n), minus_uw(n);
    for (int r = 0; r < n; ++r) {
        c[size_t(r)] = -3.3 + 0.6 * r;
        u[size_t(r)] = r % 2 == 0 ? 0.02 : -0.02;
        w[size_t(r)] = (r / 2) % 2 == 0 ? 0.02 : -0.02;
        uw[size_t(r)] = u[size_t(r)] + w[size_t(r)];
        minus_uw[size_t(r)] = -uw[size_t(r)];
    }
    // u measured at the first three peaks only, and at the first two.
    const double nan = std::nan("");
    std::vector<double> u3 = u, u2 = u;
    for (int r = 3; r < n; ++r) u3[size_t(r)] = nan;
    for (int r = 2; r < n; ++r) u2[size_t(r)] = nan;
    struct Case {
        std::vector<std::vector<double>> res;
        double want;
        const char* what;
    };
    // n profiles at n / (n + 2 sum over pairs of (C^2 - 1 / (pairs - 1))),
    // pairs whose C^2 chance explains adding nothing; at most 0.85.
    for (const Case& k : std::vector<Case>{
             {{zero, u, uw}, 3.0 / (3.0 + 2.0 * (0.5 - 1.0 / 11.0)), "C = 1 / sqrt 2"},
             {{zero, u, minus_uw}, 3.0 / (3.0 + 2.0 * (0.5 - 1.0 / 11.0)), "C = -1 / sqrt 2"},
             {{zero, u, w}, 0.85, "C = 0"},
             {{zero, u, u, w}, 4.0 / (4.0 + 2.0 * (1.0 - 1.0 / 11.0)), "two alike beside one apart"},
             {{zero, u, u3}, 3.0 / (3.0 + 2.0 * (1.0 - 1.0 / 2.0)), "alike at three pairs"},
             {{zero, u, u2}, 0.85, "alike at two pairs, which any two are"}}) {
        std::vector<std::vector<double>> pred{c}, errs{err};
        for (size_t m = 1; m < k.res.size(); ++m) {
            pred.push_back(flat);
            errs.push_back(err);
        }
        // As given, and with the peaks listed last to first (peak j is then
        // residue 11 - j): each residual is its peak's against its residue's.
        const PosteriorData d = shift_profiles(pred, k.res, errs);
        PosteriorData back = d;
        for (size_t m = 0; m < pred.size(); ++m)
            for (size_t j = 0; j < size_t(n); ++j) {
                back.meas[m * n + j] = d.meas[m * n + size_t(n) - 1 - j];
                back.err[m * n + j] = d.err[m * n + size_t(n) - 1 - j];
            }
        for (const bool reversed : {false, true}) {
            const Posterior p = compute_posterior(reversed ? back : d, {});
            ASSERT_TRUE(p.usable()) << k.what;
            EXPECT_NEAR(p.shift_power, k.want, 1e-9) << k.what << (reversed ? ", reversed" : "");
            for (int j = 0; j < p.peaks; ++j)
                EXPECT_GE(p.p(j, reversed ? n - 1 - j : j), 0.9) << k.what << ", peak " << j;
        }
    }
    // A given model error is the whole error model: the PREs' power, however
    // alike the shifts err.
    PosteriorOptions given;
    given.model_error = 0.2;
    const Posterior g = compute_posterior(residual_set({1, 1}), given);
    ASSERT_TRUE(g.usable());
    EXPECT_EQ(g.shift_power, 0.85);
}

TEST(PosteriorShifts, AGrossResidualIsHeldOnEitherSide) {
    // ShiftsThatErrTogetherCountAsOne's peak 0.25 ppm off in both profiles,
    // and the same set mirrored (every shift and prediction of the other
    // sign): the residuals change sign, their correlations do not, and the
    // gross one is held at -3 as it was at 3.
    PosteriorData gross = residual_set({1, 0});
    for (int m = 0; m < 2; ++m) gross.meas[size_t(m) * 12 + 3] = -3.0 + 0.6 * 3 + 0.25;
    PosteriorData mirrored = gross;
    for (double& y : mirrored.meas) y = -y;
    for (double& x : mirrored.pred) x = -x;
    const Posterior a = compute_posterior(gross, {}), b = compute_posterior(mirrored, {});
    ASSERT_TRUE(a.usable());
    ASSERT_TRUE(b.usable());
    EXPECT_GT(b.shift_power, 0.63);
    EXPECT_LT(b.shift_power, 0.72);
    EXPECT_NEAR(b.shift_power, a.shift_power, 1e-12);
}

TEST(PosteriorShifts, EachKindIsTakenAtItsOwnPower) {
    // One PRE profile and one of shifts, either first, over 2 peaks and 3
    // residues; peak 1 has no shift measured. A pair's cost is its prior,
    // the PRE's -2 ln L at the PREs' 0.9 and the shift's at the shifts'
    // own power (0.4 here), each value's term as TheShiftTermByHand has it;
    // with shares eta, each value's L is (1 - eta) L + eta (its mean over
    // the residues).
    using namespace post;
    for (const int pre : {0, 1}) {
        const int pcs = 1 - pre;
        auto at = [](int m, int j) { return size_t(m) * 2 + size_t(j); };
        Tables t;
        t.np = 2;
        t.peaks = 2;
        t.residues = 3;
        t.meas.assign(4, 0.0);
        t.err.assign(4, 0.0);
        t.measured.assign(4, 1);
        t.clipped.assign(4, 0);
        t.meas[at(pre, 0)] = 12.0;
        t.err[at(pre, 0)] = 1.5;
        t.meas[at(pre, 1)] = 3.0;
        t.err[at(pre, 1)] = 0.5;
        t.meas[at(pcs, 0)] = -0.42;
        t.err[at(pcs, 0)] = 0.03;
        t.measured[at(pcs, 1)] = 0;
        t.pred.assign(6, 0.0);
        const double pre_pred[3] = {10.0, 4.0, 25.0}, pcs_pred[3] = {-0.5, 0.3, -0.1};
        for (int r = 0; r < 3; ++r) {
            t.pred[size_t(pre) * 3 + size_t(r)] = pre_pred[r];
            t.pred[size_t(pcs) * 3 + size_t(r)] = pcs_pred[r];
        }
        t.pcs.assign(2, 0);
        t.pcs[size_t(pcs)] = 1;
        t.shift = {0.0, 0.7, 1.9, 0.4, 0.0, 3.1};
        t.cls = {0, 2, 1};
        post::Model m;
        m.f = 0.2;
        m.a = 0.3;
        m.c = 1.0;
        m.scale.assign(2, 1.0);
        m.scale[size_t(pre)] = 1.2;
        m.scale[size_t(pcs)] = 0.8;
        m.pcs = t.pcs;
        m.pcs_f = 0.05;
        m.pcs_a = 0.02;
        m.shift_power = 0.4;
        auto value = [&](int p, int j) { return value_in(m, p, t.meas[at(p, j)], t.err[at(p, j)], false); };
        auto pred = [&](int p, int r) { return pred_in(m, p, t.pred[size_t(p) * 3 + size_t(r)], m.scale[size_t(p)]); };
        const std::vector<double> eta = pre == 0 ? std::vector<double>{0.1, 0.3} : std::vector<double>{0.3, 0.1};
        auto mixed = [&](int p, int j, int r) {
            double mean = 0.0;
            for (int k = 0; k < 3; ++k) mean += density(value(p, j), pred(p, k)) / 3.0;
            return (1.0 - eta[size_t(p)]) * density(value(p, j), pred(p, r)) + eta[size_t(p)] * mean;
        };
        Free q = free_problem(t, PosteriorOptions{}), qm = q;
        fill_costs(t, m, q);
        fill_mixed_costs(t, m, eta, qm);
        for (int j = 0; j < 2; ++j)
            for (int r = 0; r < 3; ++r) {
                const double prior = t.shift[size_t(j) * 3 + size_t(t.cls[size_t(r)])];
                double want = prior + 0.9 * cost(value(pre, j), pred(pre, r));
                double want_mixed = prior - 2.0 * 0.9 * std::log(mixed(pre, j, r));
                if (j == 0) {
                    want += 0.4 * cost(value(pcs, j), pred(pcs, r));
                    want_mixed -= 2.0 * 0.4 * std::log(mixed(pcs, j, r));
                }
                const size_t k = size_t(j) * 3 + size_t(r);
                EXPECT_NEAR(q.cost[k], want, 1e-9) << "PREs in profile " << pre << ", peak " << j << ", residue " << r;
                EXPECT_NEAR(qm.cost[k], want_mixed, 1e-9) << "PREs in profile " << pre << ", peak " << j << ", residue "
                                                          << r;
            }
    }
}

TEST(PosteriorShifts, FarOffShiftsStayAtTheirPower) {
    // Sixteen shift profiles, one peak 500 ppm or more off residue 1's
    // every prediction: the product of its likelihoods (about 1e-22 each)
    // leaves the range of a double and is carried as a logarithm, still at
    // the shifts' power, with shares of 0 as without them.
    using namespace post;
    const int np = 16;
    Tables t;
    t.np = np;
    t.peaks = 1;
    t.residues = 2;
    t.pcs.assign(size_t(np), 1);
    for (int m = 0; m < np; ++m) {
        t.meas.push_back(500.0 + 10.0 * m);
        t.err.push_back(0.03);
        t.measured.push_back(1);
        t.clipped.push_back(0);
        t.pred.push_back(500.0 + 10.0 * m - 0.02);
        t.pred.push_back(0.0);
    }
    t.shift = {0.0, 0.0, 0.0};
    t.cls = {0, 0};
    post::Model m;
    m.scale.assign(size_t(np), 1.0);
    m.pcs = t.pcs;
    m.pcs_f = 0.05;
    m.pcs_a = 0.02;
    m.shift_power = 0.4;
    Free q = free_problem(t, PosteriorOptions{}), qm = q;
    fill_costs(t, m, q);
    fill_mixed_costs(t, m, std::vector<double>(size_t(np), 0.0), qm);
    for (int r = 0; r < 2; ++r) {
        double sum = 0.0;
        for (int k = 0; k < np; ++k)
            sum += cost(value_in(m, k, t.meas[size_t(k)], 0.03, false),
                        pred_in(m, k, t.pred[size_t(k) * 2 + size_t(r)], 1.0));
        EXPECT_NEAR(q.cost[size_t(r)], 0.4 * sum, 1e-9 * (1.0 + 0.4 * sum)) << r;
        EXPECT_NEAR(qm.cost[size_t(r)], 0.4 * sum, 1e-9 * (1.0 + 0.4 * sum)) << r;
    }
}

TEST(PosteriorShifts, PreOnlyIsUnchangedByShiftFlagsOfZero) {
    // A PRE-only posterior with flags all 0 is the one with none.
    std::unique_ptr<ProfileTable> sim = make_table(), obs = make_table();
    const int n = 10;
    std::vector<std::vector<double>> pred(2, std::vector<double>(size_t(n))), meas = pred, err = pred;
    for (int r = 0; r < n; ++r) {
        pred[0][size_t(r)] = 1.0 + 3.0 * r;
        pred[1][size_t(r)] = 40.0 / (1.0 + r);
    }
    for (int j = 0; j < n; ++j)
        for (int m = 0; m < 2; ++m) {
            meas[size_t(m)][size_t(j)] = pred[size_t(m)][size_t((j * 3) % n)] * (1.0 + 0.05 * ((j % 3) - 1));
            err[size_t(m)][size_t(j)] = 0.5;
        }
    fill(*sim, pred, {});
    fill(*obs, meas, err);
    PosteriorData d = posterior_data(*sim, shape_of(2, n), *obs, shape_of(2, n, 40.0), Shape{2, n});
    const Posterior a = compute_posterior(d, {});
    d.pcs.assign(2, 0);
    const Posterior b = compute_posterior(d, {});
    ASSERT_TRUE(a.usable());
    EXPECT_EQ(a.prob, b.prob);
    EXPECT_EQ(a.f, b.f);
    EXPECT_EQ(a.scale, b.scale);
    EXPECT_EQ(b.pre_profiles, 2);
    EXPECT_EQ(b.shift_profiles, 0);
}

TEST(PosteriorShifts, TheExamplesLineIsAsBefore) {
    // The line the README shows: shifts, when they came in, changed no byte of it.
    const std::string dir = std::string(PREASSIGN_SOURCE) + "/examples/";
    const Proc p = run_binary({"-q", "--posterior", dir + "sim.txt", dir + "obs.txt"});
    ASSERT_EQ(p.status, 0) << p.err;
    const size_t at = p.out.rfind("posterior: ");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(p.out.substr(at),
              "posterior: f = 0.0864786 (fitted)  uninformative share = 0.097319  chi2 per measured value = 0.938845  "
              "peaks at p >= 0.9: 18  p >= 0.5: 25  of 30  sampling error 0.0625994\n");
}

// ---- the command line ----

// A folder with a PRE pair, a shift pair and their lines.
std::string text_of(const std::vector<std::vector<double>>& v, const std::vector<std::vector<double>>& e, bool obs,
                    const std::vector<int>& ids) {
    std::string s;
    char line[160];
    for (size_t m = 0; m < v.size(); ++m)
        for (size_t j = 0; j < v[m].size(); ++j) {
            if (obs)
                std::snprintf(line, sizeof line, "%d %.4f %.4f 0 0\n", ids[j], v[m][j], e[m][j]);
            else
                std::snprintf(line, sizeof line, "%d %.4f 0\n", ids[j], v[m][j]);
            s += line;
        }
    return s;
}

struct Files {
    std::string dir;
    Files(const std::vector<int>& shift_peak_ids, const std::vector<int>& shift_residues) {
        const int n = 6;
        std::vector<std::vector<double>> ps(1), po(1), pe(1), ss(2), so(2), se(2);
        // Residues 1..6, peaks 1..6 = residues 6, 5, ..., 1.
        for (int r = 0; r < n; ++r) {
            ps[0].push_back(2.0 + 3.0 * r);
            ss[0].push_back(-2.0 + 0.8 * r);
            ss[1].push_back(1.5 - 0.5 * r);
        }
        for (int j = 0; j < n; ++j) {
            po[0].push_back(ps[0][size_t(n - 1 - j)]);
            pe[0].push_back(1.0);
            for (int m = 0; m < 2; ++m) {
                so[size_t(m)].push_back(ss[size_t(m)][size_t(n - 1 - j)] + 0.01 * ((j % 2) ? 1 : -1));
                se[size_t(m)].push_back(0.03);
            }
        }
        const std::vector<int> ids = count_up(n);
        dir = temp_case(text_of(ps, {}, false, ids), text_of(po, pe, true, ids));
        std::FILE* f = std::fopen((dir + "/psim.txt").c_str(), "w");
        std::fputs(text_of(ss, {}, false, shift_residues).c_str(), f);
        std::fclose(f);
        f = std::fopen((dir + "/pobs.txt").c_str(), "w");
        std::fputs(text_of(so, se, true, shift_peak_ids).c_str(), f);
        std::fclose(f);
    }
};

TEST(PcsCommand, PosteriorWithShiftsEndToEnd) {
    const Files f(count_up(6), count_up(6));
    const Proc p = run_binary({"-q", "--posterior", "--pcs", "psim.txt", "pobs.txt", "sim.txt", "obs.txt"}, "", f.dir);
    ASSERT_EQ(p.status, 0) << p.err;
    const size_t at = p.out.rfind("posterior: f = ");
    ASSERT_NE(at, std::string::npos) << p.out;
    EXPECT_NE(p.out.find("  shifts' error = ", at), std::string::npos) << p.out.substr(at);
    EXPECT_NE(p.out.find(" ppm (fitted), taken at power ", at), std::string::npos) << p.out.substr(at);
    EXPECT_NE(p.out.find("of 6  sampling error", at), std::string::npos);
    // The shifts alone, as SIM and OBS.
    const Proc q = run_binary({"-q", "--posterior", "--shifts", "psim.txt", "pobs.txt"}, "", f.dir);
    ASSERT_EQ(q.status, 0) << q.err;
    EXPECT_NE(q.out.find("posterior: shifts' error = "), std::string::npos) << q.out;
    EXPECT_EQ(q.out.find("posterior: f = "), std::string::npos);
}

TEST(PcsCommand, MisuseIsRefused) {
    const Files f(count_up(6), count_up(6));
    const Proc both = run_binary({"--posterior", "--shifts", "--pcs", "psim.txt", "pobs.txt", "sim.txt", "obs.txt"},
                                 "", f.dir);
    EXPECT_EQ(both.status, 2);
    EXPECT_EQ(both.err, "preassign: --shifts says SIM and OBS hold shifts; --pcs adds shifts to PREs: give one "
                        "(see --help)\n");
    const Proc alone = run_binary({"--pcs", "psim.txt", "pobs.txt", "sim.txt", "obs.txt"}, "", f.dir);
    EXPECT_EQ(alone.status, 2);
    EXPECT_EQ(alone.err, "preassign: --pcs requires --posterior (see --help)\n");
    EXPECT_EQ(alone.out, "");
    // A result file may not overwrite a shifts' file.
    const Proc clash = run_binary({"--posterior", "--table", "pobs.txt", "--pcs", "psim.txt", "pobs.txt", "sim.txt",
                                   "obs.txt"}, "", f.dir);
    EXPECT_EQ(clash.status, 2);
    EXPECT_NE(clash.err.find("pobs.txt"), std::string::npos) << clash.err;
}

TEST(PcsCommand, ShiftFilesOfOtherEntriesAreRefused) {
    // Peak 6's id is 9 in the shifts' file.
    std::vector<int> ids = count_up(6);
    ids[5] = 9;
    const Files peaks(ids, count_up(6));
    const Proc p = run_binary({"-q", "--posterior", "--pcs", "psim.txt", "pobs.txt", "sim.txt", "obs.txt"}, "",
                              peaks.dir);
    EXPECT_EQ(p.status, 1);
    EXPECT_EQ(p.out, "");  // refused before the walk prints
    EXPECT_EQ(p.err, "preassign: pobs.txt: entry 6 is peak id 9 where the PREs' file has 6: every file lists the same "
                     "entries in the same order (import --ids lines them up)\n");
    std::vector<int> res = count_up(6);
    res[5] = 8;
    const Files residues(count_up(6), res);
    const Proc q = run_binary({"-q", "--posterior", "--pcs", "psim.txt", "pobs.txt", "sim.txt", "obs.txt"}, "",
                              residues.dir);
    EXPECT_EQ(q.status, 1);
    EXPECT_EQ(q.out, "");
    EXPECT_EQ(q.err, "preassign: psim.txt: entry 6 is residue number 8 where the PREs' file has 6: every file lists "
                     "the same entries in the same order (import --ids lines them up)\n");
    // A shifts' profile short of the PREs' peaks (each profile's last peak
    // dropped): the entry past its end is no peak's.
    const Files f(count_up(6), count_up(6));
    std::string lines = read_file(f.dir + "/pobs.txt"), five;
    for (size_t at = 0, n = 0; at < lines.size(); ++n) {
        const size_t end = lines.find('\n', at) + 1;
        if (n % 6 != 5) five += lines.substr(at, end - at);
        at = end;
    }
    std::FILE* out = std::fopen((f.dir + "/pobs.txt").c_str(), "w");
    std::fputs(five.c_str(), out);
    std::fclose(out);
    const Proc r = run_binary({"-q", "--posterior", "--pcs", "psim.txt", "pobs.txt", "sim.txt", "obs.txt"}, "", f.dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "preassign: pobs.txt: entry 6 is peak id 0 where the PREs' file has 6: every file lists the same "
                     "entries in the same order (import --ids lines them up)\n");
}

TEST(PcsCommand, AnUnreliableFitWritesNothing) {
    const Shell s = shell(30);
    const std::string dir = temp_case("", "");
    std::FILE* f = std::fopen((dir + "/shell.pdb").c_str(), "w");
    std::fputs(s.pdb.c_str(), f);
    std::fclose(f);
    // Shifts of no tensor: random, 1H then 15N, peaks 101..130.
    std::mt19937 gen(7);
    std::uniform_real_distribution<double> any(-4.0, 4.0);
    std::vector<std::vector<double>> v(2), e(2);
    for (int c = 0; c < 2; ++c)
        for (int j = 0; j < 30; ++j) {
            v[size_t(c)].push_back(any(gen));
            e[size_t(c)].push_back(0.02);
        }
    f = std::fopen((dir + "/shifts.txt").c_str(), "w");
    std::fputs(text_of(v, e, true, count_up(30, 101)).c_str(), f);
    std::fclose(f);
    char metal_at[64];
    std::snprintf(metal_at, sizeof metal_at, "%.1f,%.1f,%.1f", kMetal.x, kMetal.y, kMetal.z);
    const Proc p = run_binary({"predict", "shell.pdb", "--nuclei", "amide", "--metal", metal_at, "--fit-tensors",
                               "shifts.txt", "--write-tensors", "t", "-o", "out.txt"},
                              "", dir);
    EXPECT_EQ(p.status, 1);
    EXPECT_NE(p.err.find("preassign: shifts.txt: no reliable tensor fit was found (the "), std::string::npos) << p.err;
    EXPECT_NE(p.err.find("): nothing is written, and no assignment should be drawn from it\n"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir + "/out.txt"));
    EXPECT_FALSE(std::filesystem::exists(dir + "/t1.txt"));
    // The same shifts from a tensor: written, with the tensor beside them.
    std::vector<std::vector<double>> w(2);
    for (int c = 0; c < 2; ++c)
        for (int j = 0; j < 30; ++j) w[size_t(c)].push_back(pcs_by_hand(kChiA, kMetal, c == 0 ? s.h[size_t(j)] : s.n[size_t(j)]));
    f = std::fopen((dir + "/good.txt").c_str(), "w");
    std::fputs(text_of(w, e, true, count_up(30)).c_str(), f);
    std::fclose(f);
    const Proc q = run_binary({"predict", "shell.pdb", "--nuclei", "amide", "--metal", metal_at, "--fit-tensors",
                               "good.txt", "--assigned", "--write-tensors", "t", "-o", "out.txt"},
                              "", dir);
    EXPECT_EQ(q.status, 0) << q.err;
    EXPECT_TRUE(std::filesystem::exists(dir + "/out.txt"));
    EXPECT_TRUE(std::filesystem::exists(dir + "/t1.txt"));
    // Known pairs were not searched: no word of fitted predictions; a blind
    // fit of the same shifts warns that the posterior takes them as independent.
    EXPECT_EQ(q.err.find("were fitted to"), std::string::npos) << q.err;
    const Proc b = run_binary({"predict", "shell.pdb", "--nuclei", "amide", "--metal", metal_at, "--fit-tensors",
                               "good.txt", "-o", "blind.txt"},
                              "", dir);
    EXPECT_EQ(b.status, 0) << b.err;
    EXPECT_NE(b.err.find("preassign: warning: the tensors were fitted to good.txt together with the assignment: "
                         "a posterior run on these predictions against that file takes them as independent of it"),
              std::string::npos)
        << b.err;
}

}  // namespace
