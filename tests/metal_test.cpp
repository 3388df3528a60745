// Pseudocontact shifts and metal PREs against values worked by hand: the
// tensor's frame, algebra and file, the numeric room's solvers, the metal's
// relaxation, and predict --tensor from a structure the test writes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <sstream>

#include "io/failure.h"
#include "metal/relax.h"
#include "metal/shifts.h"
#include "metal/tensor.h"
#include "numeric/linalg.h"
#include "pdb_text.h"
#include "support.h"

namespace {

using metal::Tensor;
using numeric::Mat3;

// ppm per (1e-32 m^3 / A^3): 1e6 ppm x 1e-32 m^3 / (4 pi x 1e-30 m^3).
const double kUnit = 1e4 / (4.0 * M_PI);

Tensor tensor(double ax, double rh, double a = 0, double b = 0, double g = 0) {
    Tensor t;
    t.ax = ax;
    t.rh = rh;
    t.alpha = a;
    t.beta = b;
    t.gamma = g;
    return t;
}

// The PCS of a point with the metal at the origin.
double pcs_at(const Tensor& t, Point p) { return metal::pcs(metal::cartesian(t), {0, 0, 0}, p); }

double distance(const Mat3& a, const Mat3& b) {
    double s = 0;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) s += (a[i][j] - b[i][j]) * (a[i][j] - b[i][j]);
    return std::sqrt(s);
}

std::string failure_of(const std::function<void()>& f) {
    try {
        f();
    } catch (const Failure& e) {
        return std::to_string(e.status) + " " + e.message;
    }
    return "no failure";
}

// chi = diag(-ax/3 + rh/2, -ax/3 - rh/2, 2 ax/3) in the tensor's frame, so
// PCS = kUnit (chi_xx x^2 + chi_yy y^2 + chi_zz z^2) / r^5.
TEST(MetalTensor, PcsOnTheAxesByHand) {
    const double r5 = 1e5;  // 10 A
    // Axial, ax = 1: chi_zz = 2/3, chi_xx = chi_yy = -1/3.
    EXPECT_NEAR(pcs_at(tensor(1, 0), {0, 0, 10}), kUnit * (2.0 / 3 * 100) / r5, 1e-14);
    EXPECT_NEAR(pcs_at(tensor(1, 0), {0, 0, 10}), 0.5305164769729845, 1e-14);  // 1e4 / (4 pi) / 1500
    EXPECT_NEAR(pcs_at(tensor(1, 0), {10, 0, 0}), kUnit * (-1.0 / 3 * 100) / r5, 1e-14);
    EXPECT_NEAR(pcs_at(tensor(1, 0), {0, -10, 0}), kUnit * (-1.0 / 3 * 100) / r5, 1e-14);
    // Rhombic alone, rh = 1: chi_xx = 1/2, chi_yy = -1/2, chi_zz = 0.
    EXPECT_NEAR(pcs_at(tensor(0, 1), {10, 0, 0}), kUnit * 0.5 * 100 / r5, 1e-14);
    EXPECT_NEAR(pcs_at(tensor(0, 1), {0, 10, 0}), -kUnit * 0.5 * 100 / r5, 1e-14);
    EXPECT_NEAR(pcs_at(tensor(0, 1), {0, 0, 10}), 0.0, 1e-15);
    // Both on x: -1/3 + 1/2 = 1/6.
    EXPECT_NEAR(pcs_at(tensor(1, 1), {10, 0, 0}), kUnit * 100.0 / 6 / r5, 1e-14);
    // The polar form at (3, 4, 12), r = 13: PCS = kUnit / (3 r^3) [ax (3 cos^2 t - 1) + 1.5 rh sin^2 t cos 2p],
    // cos^2 t = 144/169, sin^2 t = 25/169, cos 2p = (9 - 16) / 25: ax = 2, rh = 0.6 give
    // 2 x 263/169 + 0.9 x (-7/169) = 519.7 / 169.
    EXPECT_NEAR(pcs_at(tensor(2, 0.6), {3, 4, 12}), kUnit / (3 * 2197.0) * 519.7 / 169, 1e-14);
    // The metal away from the origin; a nucleus on the metal has none.
    const Mat3 chi = metal::cartesian(tensor(1, 0));
    EXPECT_NEAR(metal::pcs(chi, {1, 2, 3}, {1, 2, 13}), kUnit * (2.0 / 3 * 100) / r5, 1e-14);
    EXPECT_NEAR(metal::pcs(chi, {1, 2, 3}, {-9, 2, 3}), kUnit * (-1.0 / 3 * 100) / r5, 1e-14);
    EXPECT_EQ(metal::pcs(chi, {1, 2, 3}, {1, 2, 3}), 0.0);
}

// R = Rz(alpha) Ry(beta) Rz(gamma), its columns the tensor's axes in the
// structure's frame, chi = R D R^T.
TEST(MetalTensor, EulerAnglesTurnTheAxes) {
    const double on_z = kUnit * (2.0 / 3 * 100) / 1e5, on_x = kUnit * (-1.0 / 3 * 100) / 1e5;
    const double rh_x = kUnit * 0.5 * 100 / 1e5;
    // Ry(90) = [[0, 0, 1], [0, 1, 0], [-1, 0, 0]]: the tensor's z is the structure's x.
    EXPECT_NEAR(pcs_at(tensor(1, 0, 0, 90, 0), {10, 0, 0}), on_z, 1e-14);
    EXPECT_NEAR(pcs_at(tensor(1, 0, 0, 90, 0), {0, 0, 10}), on_x, 1e-14);
    // Rz(90) Ry(90) = [[0, -1, 0], [0, 0, 1], [-1, 0, 0]]: z on the structure's y, x on -z, y on -x.
    const Mat3 r = metal::rotation(90, 90, 0);
    const Mat3 want{{{0, -1, 0}, {0, 0, 1}, {-1, 0, 0}}};
    EXPECT_LT(distance(r, want), 1e-15);
    EXPECT_NEAR(pcs_at(tensor(1, 0, 90, 90, 0), {0, 10, 0}), on_z, 1e-14);
    // R^T in place of R would put z on x, and give (10, 0, 0) the on-axis value.
    EXPECT_NEAR(pcs_at(tensor(1, 0, 90, 90, 0), {10, 0, 0}), on_x, 1e-14);
    EXPECT_NEAR(pcs_at(tensor(0, 1, 90, 90, 0), {0, 0, 10}), rh_x, 1e-14);
    EXPECT_NEAR(pcs_at(tensor(0, 1, 90, 90, 0), {10, 0, 0}), -rh_x, 1e-14);
    // The same angles in the other order, Rz(gamma) first, would leave z on x too.
    EXPECT_NEAR(pcs_at(tensor(1, 0, 0, 90, 90), {10, 0, 0}), on_z, 1e-14);
    // gamma = 30 turns the tensor's x to 30 degrees in the xy plane; at -30
    // the angle from it is 60: cos 120 = -1/2 of the rhombic term.
    const double c = 10 * std::cos(M_PI / 6), s = 10 * std::sin(M_PI / 6);
    EXPECT_NEAR(pcs_at(tensor(0, 1, 0, 0, 30), {c, s, 0}), rh_x, 1e-14);
    EXPECT_NEAR(pcs_at(tensor(0, 1, 0, 0, 30), {c, -s, 0}), -0.5 * rh_x, 1e-14);
    EXPECT_NEAR(pcs_at(tensor(0, 1, 30, 0, 0), {c, s, 0}), rh_x, 1e-14);
    // beta = 30 tips z towards +x: at -30 the angle is 60, (3/4 - 1) / 3 = -1/12.
    EXPECT_NEAR(pcs_at(tensor(1, 0, 0, 30, 0), {s, 0, c}), on_z, 1e-14);
    EXPECT_NEAR(pcs_at(tensor(1, 0, 0, 30, 0), {-s, 0, c}), kUnit * (-1.0 / 12) / 1000, 1e-14);
}

// from_cartesian: ax, rh and a frame that give chi back, in the order
// |chi_xx| <= |chi_yy| <= |chi_zz|.
TEST(MetalTensor, CartesianRoundTripKeepsTheTensor) {
    struct Case {
        double ax, rh, a, b, g;
    } cases[] = {{5, 2, 40, 70, 110},  {-8.15, -4.22, 125, 33, 300}, {3, 0, 10, 20, 30},
                 {5, 2, 30, 0, 0},     {5, 2, 30, 180, 50},          {5, 2, 200, 180, 10},
                 {-4, -1, 75, 180, 0}, {5, 2, 250, 90, 15}};
    for (const Case& k : cases) {
        const Mat3 chi = metal::cartesian(tensor(k.ax, k.rh, k.a, k.b, k.g));
        const Tensor back = metal::from_cartesian(chi, Tensor{});
        const std::string what = std::to_string(k.a) + " " + std::to_string(k.b) + " " + std::to_string(k.g);
        EXPECT_NEAR(back.ax, k.ax, 1e-9) << what;
        EXPECT_NEAR(back.rh, k.rh, 1e-9) << what;
        EXPECT_LT(distance(metal::cartesian(back), chi), 1e-9) << what << ": a " << back.alpha << " b " << back.beta
                                                              << " g " << back.gamma;
        EXPECT_GE(back.alpha, 0.0);
        EXPECT_LT(back.alpha, 360.0);
        EXPECT_GE(back.beta, 0.0);
        EXPECT_LE(back.beta, 180.0);
    }
    // Out of order, ax = 1, rh = 1.5: D = (5/12, -13/12, 8/12); by size x = 5/12, y = 8/12, z = -13/12:
    // ax = -13/12 - 13/24 = -1.625, rh = 5/12 - 8/12 = -0.25.
    const Mat3 chi = metal::cartesian(tensor(1, 1.5, 20, 50, 80));
    const Tensor back = metal::from_cartesian(chi, Tensor{});
    EXPECT_NEAR(back.ax, -1.625, 1e-12);
    EXPECT_NEAR(back.rh, -0.25, 1e-12);
    EXPECT_LT(distance(metal::cartesian(back), chi), 1e-9);
    // diag(-2, 3, -1): x = -1 (on z), y = -2 (on x), z = 3 (on y): ax = 3 + 1.5, rh = -1 + 2;
    // the tensor's z on the structure's y is beta = 90.
    const Mat3 d{{{-2, 0, 0}, {0, 3, 0}, {0, 0, -1}}};
    Tensor base;
    base.mueff = 9.5;
    const Tensor t = metal::from_cartesian(d, base);
    EXPECT_NEAR(t.ax, 4.5, 1e-12);
    EXPECT_NEAR(t.rh, 1.0, 1e-12);
    EXPECT_NEAR(t.beta, 90.0, 1e-9);
    EXPECT_LT(distance(metal::cartesian(t), d), 1e-12);
    EXPECT_EQ(t.mueff, 9.5);
    // |rh / ax| stays within 2/3 however the tensor is given.
    for (const Case& k : cases) {
        const Tensor u = metal::from_cartesian(metal::cartesian(tensor(k.rh, k.ax, k.a, k.b, k.g)), Tensor{});
        EXPECT_GE(u.rh / u.ax, 0.0);
        EXPECT_LE(u.rh / u.ax, 2.0 / 3 + 1e-12);
    }
    Mat3 bad = d;
    bad[0][1] = NAN;
    EXPECT_TRUE(std::isnan(metal::from_cartesian(bad, base).ax));
    // The Frobenius norm: sqrt(4 + 9 + 1).
    EXPECT_NEAR(metal::norm(d), std::sqrt(14.0), 1e-15);
}

TEST(MetalTensor, RowDottedWithElementsIsThePcs) {
    // d = (1, 2, 2), r = 3: kUnit / 243 (x^2 - z^2, y^2 - z^2, 2xy, 2xz, 2yz).
    const auto row = metal::pcs_row({1, 1, 1}, {2, 3, 3});
    const double f = kUnit / 243, want[5] = {-3, 0, 4, 4, 8};
    for (int i = 0; i < 5; ++i) EXPECT_NEAR(row[i], f * want[i], 1e-14) << i;
    const Mat3 m{{{1, 2, 3}, {2, 4, 5}, {3, 5, -5}}};
    EXPECT_EQ(metal::elements(m), (std::array<double, 5>{1, 4, 2, 3, 5}));
    EXPECT_EQ(metal::from_elements({1, 4, 2, 3, 5}), m);
    // (1, 2, 2) chi (1, 2, 2) = 1 + 16 - 20 + 2 (4 + 6 + 20) = 57.
    EXPECT_NEAR(metal::pcs(m, {1, 1, 1}, {2, 3, 3}), f * 57, 1e-13);
    const Mat3 chi = metal::cartesian(tensor(-8.15, -4.22, 125, 33, 300));
    const auto e = metal::elements(chi);
    for (const Point p : {Point{7, -3, 2}, Point{-1, 9, -4}, Point{0.5, 0.2, -11}}) {
        const auto r = metal::pcs_row({1, 2, 3}, p);
        double s = 0;
        for (int i = 0; i < 5; ++i) s += r[i] * e[i];
        EXPECT_NEAR(s, metal::pcs(chi, {1, 2, 3}, p), 1e-12 * std::fabs(s));
    }
    EXPECT_EQ(metal::pcs_row({1, 2, 3}, {1, 2, 3}), (std::array<double, 5>{0, 0, 0, 0, 0}));
}

TEST(Numeric, LeastSquaresRecoversAndRefuses) {
    // A tensor's five elements from exact shifts at 12 points around a metal.
    const std::array<double, 5> truth{1.2, -0.7, 0.3, -0.4, 0.9};
    const Mat3 chi = metal::from_elements(truth);
    const Point m{2, -1, 0.5};
    const Point d[] = {{8, 0, 0},  {0, 8, 0},  {0, 0, 8},  {6, 6, 0},   {6, 0, 6},  {0, 6, 6},
                       {-5, 4, 3}, {4, -5, 3}, {3, 4, -5}, {-7, -2, 1}, {2, -7, -1}, {1, 2, -9}};
    std::vector<double> rows, y, w;
    for (const Point& p : d) {
        const Point at{m.x + p.x, m.y + p.y, m.z + p.z};
        const auto r = metal::pcs_row(m, at);
        rows.insert(rows.end(), r.begin(), r.end());
        y.push_back(metal::pcs(chi, m, at));
        w.push_back(1.0);
    }
    // A row of no weight, however wrong, is not seen.
    rows.insert(rows.end(), {1, 1, 1, 1, 1});
    y.push_back(1e3);
    w.push_back(0.0);
    std::vector<double> x;
    ASSERT_TRUE(numeric::least_squares(rows, y, w, 5, x));
    ASSERT_EQ(x.size(), 5u);
    for (int i = 0; i < 5; ++i) EXPECT_NEAR(x[i], truth[i], 1e-9) << i;
    // Weights count: x = (1 x 0 + 2 x 3) / 3.
    ASSERT_TRUE(numeric::least_squares({1, 1}, {0, 3}, {1, 2}, 1, x));
    EXPECT_NEAR(x[0], 2.0, 1e-15);
    // Rows (1, 0), (0, 1), (1, 1) against 1, 2, 3.5: [[2, 1], [1, 2]] x = (4.5, 5.5), x = (3.5/3, 6.5/3).
    ASSERT_TRUE(numeric::least_squares({1, 0, 0, 1, 1, 1}, {1, 2, 3.5}, {1, 1, 1}, 2, x));
    EXPECT_NEAR(x[0], 3.5 / 3, 1e-14);
    EXPECT_NEAR(x[1], 6.5 / 3, 1e-14);
    // Four rows of weight (one NaN, one negative) for five unknowns: refused, x untouched.
    std::vector<double> few(rows.begin(), rows.begin() + 35), fy(y.begin(), y.begin() + 7);
    std::vector<double> fw{1, 1, 0, 1, NAN, -1, 1};
    x = {42};
    EXPECT_FALSE(numeric::least_squares(few, fy, fw, 5, x));
    EXPECT_EQ(x, std::vector<double>{42});
    // Points on one line through the metal fix only chi_zz: singular.
    std::vector<double> line_rows, line_y, line_w;
    for (int i = 1; i <= 6; ++i) {
        const auto r = metal::pcs_row(m, {m.x, m.y, m.z + 3.0 * i});
        line_rows.insert(line_rows.end(), r.begin(), r.end());
        line_y.push_back(metal::pcs(chi, m, {m.x, m.y, m.z + 3.0 * i}));
        line_w.push_back(1.0);
    }
    EXPECT_FALSE(numeric::least_squares(line_rows, line_y, line_w, 5, x));
    // Singular to 1e-12: rows (1, 1) and (1, 1 + e) leave pivots 2 and e^2 / 2, for e = 1e-7
    // 2.5e-15 of the first; for e = 1e-5 2.5e-11, solved: x = (1 - 1e5, 1e5).
    EXPECT_FALSE(numeric::least_squares({1, 1, 1, 1 + 1e-7}, {1, 2}, {1, 1}, 2, x));
    EXPECT_EQ(x, std::vector<double>{42});
    ASSERT_TRUE(numeric::least_squares({1, 1, 1, 1 + 1e-5}, {1, 2}, {1, 1}, 2, x));
    EXPECT_NEAR(x[1], 1e5, 10);  // the normal equations square the condition: 1e-4 of it
    EXPECT_NEAR(x[0], 1 - 1e5, 10);
    x = {42};
    EXPECT_EQ(x, std::vector<double>{42});
}

TEST(Numeric, SymmetricEigenByHand) {
    // Q diag(-1, 2, 7) Q^T, Q's columns (1, 2, 2) / 3, (2, 1, -2) / 3, (2, -2, 1) / 3:
    // 9 A = -u1 u1^T + 2 u2 u2^T + 7 u3 u3^T.
    const Mat3 a{{{35 / 9.0, -26 / 9.0, 4 / 9.0}, {-26 / 9.0, 26 / 9.0, -22 / 9.0}, {4 / 9.0, -22 / 9.0, 11 / 9.0}}};
    std::array<double, 3> v;
    Mat3 q;
    const int sweeps = numeric::symmetric_eigen(a, v, q);
    EXPECT_GE(sweeps, 1);
    EXPECT_NEAR(v[0], -1.0, 1e-13);
    EXPECT_NEAR(v[1], 2.0, 1e-13);
    EXPECT_NEAR(v[2], 7.0, 1e-13);
    const double u[3][3] = {{1, 2, 2}, {2, 1, -2}, {2, -2, 1}};
    for (int c = 0; c < 3; ++c) {
        const double dot = (u[c][0] * q[0][c] + u[c][1] * q[1][c] + u[c][2] * q[2][c]) / 3;
        EXPECT_NEAR(std::fabs(dot), 1.0, 1e-13) << c;
    }
    auto det = [](const Mat3& r) {
        return r[0][0] * (r[1][1] * r[2][2] - r[1][2] * r[2][1]) - r[0][1] * (r[1][0] * r[2][2] - r[1][2] * r[2][0]) +
               r[0][2] * (r[1][0] * r[2][1] - r[1][1] * r[2][0]);
    };
    EXPECT_NEAR(det(q), 1.0, 1e-13);
    // Only the upper triangle is read.
    Mat3 upper = a;
    upper[1][0] = upper[2][0] = upper[2][1] = 100;
    std::array<double, 3> v2;
    Mat3 q2;
    numeric::symmetric_eigen(upper, v2, q2);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(v2[i], v[i], 1e-13);
    // Already diagonal, no sweep: ascending puts (0, 1, 0) first, an odd
    // permutation whose determinant the first column's sign restores.
    EXPECT_EQ(numeric::symmetric_eigen(Mat3{{{2, 0, 0}, {0, 1, 0}, {0, 0, 3}}}, v, q), 0);
    EXPECT_EQ(v, (std::array<double, 3>{1, 2, 3}));
    EXPECT_EQ(q, (Mat3{{{0, 1, 0}, {-1, 0, 0}, {0, 0, 1}}}));
    EXPECT_NEAR(det(q), 1.0, 1e-15);
    // [[2, 1, 0], [1, 2, 0], [0, 0, 5]]: 1, 3, 5, the first along (1, -1, 0).
    numeric::symmetric_eigen(Mat3{{{2, 1, 0}, {1, 2, 0}, {0, 0, 5}}}, v, q);
    EXPECT_NEAR(v[0], 1.0, 1e-14);
    EXPECT_NEAR(v[1], 3.0, 1e-14);
    EXPECT_NEAR(v[2], 5.0, 1e-14);
    EXPECT_NEAR(std::fabs(q[0][0] - q[1][0]), std::sqrt(2.0), 1e-14);
    EXPECT_NEAR(det(q), 1.0, 1e-14);
    Mat3 nan = a;
    nan[1][2] = NAN;
    EXPECT_EQ(numeric::symmetric_eigen(nan, v, q), -1);
    EXPECT_TRUE(std::isnan(v[0]) && std::isnan(v[2]) && std::isnan(q[1][1]));
    nan[1][2] = INFINITY;
    EXPECT_EQ(numeric::symmetric_eigen(nan, v, q), -1);
}

// mueff 9.581, taur 4.25 ns, t1e 0.189 ps, 14.09 T, 298.15 K (CODATA 2018 constants):
//   mu = 9.581 x 9.2740100783e-24 = 8.885429056e-23 J/T
//   wH = 2.6752218744e8 x 14.09 = 3.769387621e9 s^-1; (wH tr)^2 = 256.6371124
//   Curie J = 4 tr + 3 tr / 257.6371124 = 1.704948821e-8 s; 3 kB T = 1.234921498e-20 J
//   Curie = 0.2 x 1e-14 x wH^2 mu^4 / (3 kB T)^2 x J x 1e60 = 1.980240120e8 A^6 s^-1
//   tc = (1 / 4.25e-9 + 1 / 1.89e-13)^-1 = 1.889915954e-13 s; (wH tc)^2 = 5.0749e-7;
//   wE = 1.76085963023e11 x 14.09, (wE tc)^2 = 0.2198651733
//   dipolar J = tc (4 + 3 / 1.00000051 + 13 / 1.2198651733) = 3.337008332e-12 s
//   dipolar = 1e-14 x gH^2 mu^2 / 15 x J x 1e60 = 5.650363933e-28 / 15 x ... = 1.257020768e6 A^6 s^-1
TEST(MetalRelax, CurieAndDipolarByHand) {
    metal::Relaxation r;
    r.mueff = 9.581;
    r.taur_s = 4.25e-9;
    r.t1e_s = 0.189e-12;
    r.temp_k = 298.15;
    r.field_t = 14.09;
    EXPECT_NEAR(metal::curie_factor(r), 1.980240119939e8, 1e-9 * 1.98e8);
    EXPECT_NEAR(metal::dipolar_factor(r), 1.257020768043e6, 1e-9 * 1.257e6);
    // Curie goes as B0^2 (at taur where wH tr >> 1, nearly) and T^-2: twice the temperature, a quarter.
    metal::Relaxation hot = r;
    hot.temp_k = 2 * r.temp_k;
    EXPECT_NEAR(metal::curie_factor(hot), metal::curie_factor(r) / 4, 1e-12 * metal::curie_factor(r));
    metal::Relaxation none = r;
    none.t1e_s = 0;
    EXPECT_EQ(metal::dipolar_factor(none), 0.0);
    none = r;
    none.mueff = 0;
    EXPECT_EQ(metal::curie_factor(none), 0.0);
    EXPECT_EQ(metal::dipolar_factor(none), 0.0);
    none = r;
    none.taur_s = 0;
    EXPECT_EQ(metal::curie_factor(none), 0.0);
}

TEST(MetalTensor, FileReadAndWritten) {
    const std::string text = "# Dy3+ on the tag at A:40\n"
                             "ax    | 1E-32 m^3 :   -8.150\n"
                             "rh    | 1E-32 m^3 :   -4.220   # after the value\n"
                             "\n"
                             "  x   |   1E-10 m :   25.800\r\n"
                             "y|1E-10 m:9.5\n"
                             "z     |   1E-10 m :    6.600\n"
                             "a     |       deg :  125.000\n"
                             "b     |       deg :   33.000\n"
                             "g     |       deg :  300.000\n"
                             "mueff |        Bm :    9.581\n"
                             "shift |       ppm :   0.125\n"
                             "B0    |         T :   14.09\n"
                             "temp  |         K :  300\n"
                             "t1e   |        ps :    0.189\n"
                             "taur  |        ns :    4.25";
    const Tensor t = metal::read_tensor(text, "T.txt");
    EXPECT_EQ(t.ax, -8.15);
    EXPECT_EQ(t.rh, -4.22);
    EXPECT_EQ(t.at.x, 25.8);
    EXPECT_EQ(t.at.y, 9.5);
    EXPECT_EQ(t.at.z, 6.6);
    EXPECT_EQ(t.alpha, 125);
    EXPECT_EQ(t.beta, 33);
    EXPECT_EQ(t.gamma, 300);
    EXPECT_EQ(t.mueff, 9.581);
    EXPECT_EQ(t.shift, 0.125);
    EXPECT_EQ(t.b0, 14.09);
    EXPECT_EQ(t.temp, 300);
    EXPECT_EQ(t.t1e_ps, 0.189);
    EXPECT_EQ(t.taur_ns, 4.25);
    EXPECT_TRUE(t.placed);
    // Written whole, each field under its own unit (a reader that heeds the
    // unit column would take t1e in ns or b in radians otherwise), and read back.
    const std::string out = metal::tensor_text(t);
    EXPECT_EQ(out, "ax    | 1E-32 m^3 :    -8.150\n"
                   "rh    | 1E-32 m^3 :    -4.220\n"
                   "x     |   1E-10 m :    25.800\n"
                   "y     |   1E-10 m :     9.500\n"
                   "z     |   1E-10 m :     6.600\n"
                   "a     |       deg :   125.000\n"
                   "b     |       deg :    33.000\n"
                   "g     |       deg :   300.000\n"
                   "mueff |        Bm :     9.581\n"
                   "shift |       ppm :     0.125\n"
                   "B0    |         T :    14.090\n"
                   "temp  |         K :   300.000\n"
                   "t1e   |        ps :     0.189\n"
                   "taur  |        ns :     4.250\n");
    const Tensor back = metal::read_tensor(out, "back.txt");
    EXPECT_EQ(back.ax, t.ax);
    EXPECT_EQ(back.rh, t.rh);
    EXPECT_EQ(back.at.x, t.at.x);
    EXPECT_EQ(back.at.y, t.at.y);
    EXPECT_EQ(back.at.z, t.at.z);
    EXPECT_EQ(back.gamma, t.gamma);
    EXPECT_EQ(back.mueff, t.mueff);
    EXPECT_EQ(back.shift, t.shift);
    EXPECT_EQ(back.b0, t.b0);
    EXPECT_EQ(back.t1e_ps, t.t1e_ps);
    EXPECT_EQ(back.taur_ns, t.taur_ns);
    // Fields not given keep their defaults.
    const Tensor few = metal::read_tensor("ax | 1E-32 m^3 : 2\n", "F.txt");
    EXPECT_EQ(few.ax, 2);
    EXPECT_EQ(few.rh, 0);
    EXPECT_EQ(few.b0, 18.79);
    EXPECT_EQ(few.temp, 298.15);
    EXPECT_FALSE(few.placed);
    EXPECT_FALSE(metal::read_tensor("x | A : 1\ny | A : 2\n", "F.txt").placed);
    // No value is converted: a unit column that names another unit is said,
    // the value kept as the field's own unit reads it; the written forms,
    // common spellings and an empty column say nothing.
    const Tensor odd = metal::read_tensor("# MHz, not T\nB0 | MHz : 600\nx | nm : 2.58\nb | rad : 1.2\n"
                                          "y | Angstrom : 9.5\nz | : 6.6\na | Degrees : 30\ntemp | k : 300\n",
                                          "F.txt");
    EXPECT_EQ(odd.b0, 600);
    EXPECT_EQ(odd.at.x, 2.58);
    EXPECT_EQ(odd.beta, 1.2);
    ASSERT_EQ(odd.warnings.size(), 3u);
    EXPECT_EQ(odd.warnings[0], "F.txt:2: tensor field 'B0' is given in 'MHz', read as T: the value is not converted");
    EXPECT_EQ(odd.warnings[1], "F.txt:3: tensor field 'x' is given in 'nm', read as 1E-10 m: the value is not converted");
    EXPECT_EQ(odd.warnings[2], "F.txt:4: tensor field 'b' is given in 'rad', read as deg: the value is not converted");
    EXPECT_TRUE(metal::read_tensor(metal::tensor_text(odd), "G.txt").warnings.empty());
    auto error = [](const std::string& s) { return failure_of([&] { metal::read_tensor(s, "T.txt"); }); };
    EXPECT_EQ(error("ax | u : 1\nrh : 2\n"),
              "1 T.txt:2: not a tensor line 'name | unit : value' (as 'ax | 1E-32 m^3 : -8.15')");
    EXPECT_EQ(error("ax : u | 1\n"), "1 T.txt:1: not a tensor line 'name | unit : value' (as 'ax | 1E-32 m^3 : -8.15')");
    EXPECT_EQ(error("# c\nax | u : 1\nchi | u : 2\n"),
              "1 T.txt:3: unknown tensor field 'chi' (ax, rh, x, y, z, a, b, g, mueff, shift, B0, temp, t1e, taur)");
    EXPECT_EQ(error("ax | u : 1\nrh | u : 2\n\nax | u : 3\n"), "1 T.txt:4: tensor field 'ax' given twice");
    EXPECT_EQ(error("rh | u : 2.5x\n"), "1 T.txt:1: tensor field 'rh': '2.5x' is not a number");
    EXPECT_EQ(error("rh | u : nan\n"), "1 T.txt:1: tensor field 'rh': 'nan' is not a number");
    EXPECT_EQ(error("rh | u : inf\n"), "1 T.txt:1: tensor field 'rh': 'inf' is not a number");
    EXPECT_EQ(error("rh | u :  \n"), "1 T.txt:1: tensor field 'rh': '' is not a number");
    EXPECT_EQ(error("# nothing\n\n"), "1 T.txt: holds no tensor field");
}

TEST(MetalPlace, ParsedAndPlaced) {
    metal::Place p = metal::parse_place("A:77:CA", "--metal");
    EXPECT_EQ(p.kind, metal::Place::Kind::Atom);
    EXPECT_EQ(p.residue.chain, "A");
    EXPECT_EQ(p.residue.number, 77);
    EXPECT_EQ(p.atom, "CA");
    p = metal::parse_place("B:52A:DY", "--metal");
    EXPECT_EQ(p.residue.icode, 'A');
    EXPECT_EQ(p.atom, "DY");
    p = metal::parse_place("25.8,-9.5,6.6e0", "--metal");
    EXPECT_EQ(p.kind, metal::Place::Kind::Point);
    EXPECT_EQ(p.at.x, 25.8);
    EXPECT_EQ(p.at.y, -9.5);
    EXPECT_EQ(p.at.z, 6.6);
    p = metal::parse_place("A:40", "--metal");
    EXPECT_EQ(p.kind, metal::Place::Kind::Tag);
    EXPECT_EQ(p.residue.number, 40);
    EXPECT_EQ(p.text, "A:40");
    const std::string why = "' is not a metal's place: give an atom CHAIN:NUMBER:ATOM (A:77:CA), a point X,Y,Z in A, "
                            "or a tagged residue CHAIN:NUMBER (A:40; its place is fitted)";
    for (const char* bad : {"1,2", "1,2,3,4", "1,,3", "nan,1,2", "77", "A:x:CA", "A:77:", "A:77:C A", "A:77:CA:1"})
        EXPECT_EQ(failure_of([&] { metal::parse_place(bad, "--metal"); }), "2 --metal: '" + std::string(bad) + why)
            << bad;

    // The atom in each model; a point in all; a model without the atom named.
    Pdb pdb;
    for (int m = 1; m <= 2; ++m) {
        pdb.model(m);
        pdb.atom("CA", "ALA", 3, {0, 0, 0});
        pdb.atom("DY", "DY", 77, {1.0 * m, 2, 3}, "DY", 'A', ' ', "HETATM");
        pdb.end_model();
    }
    const std::string path = temp_file(pdb.text);
    const Structure st = read_structure(path);
    ASSERT_EQ(st.models.size(), 2u);
    const auto at = metal::positions(st, metal::parse_place("A:77:DY", "--metal"), path);
    ASSERT_EQ(at.size(), 2u);
    EXPECT_EQ(at[0].x, 1.0);
    EXPECT_EQ(at[1].x, 2.0);
    EXPECT_EQ(at[1].z, 3.0);
    const auto pt = metal::positions(st, metal::parse_place("4,5,6", "--metal"), path);
    ASSERT_EQ(pt.size(), 2u);
    EXPECT_EQ(pt[1].y, 5.0);
    EXPECT_EQ(failure_of([&] { metal::positions(st, metal::parse_place("A:77:CA", "--metal"), path); }),
              "1 " + path + ": no atom A:77:CA in model 1 (the metal given as A:77:CA)");
    EXPECT_EQ(failure_of([&] { metal::positions(st, metal::parse_place("A:40", "--metal"), path); }),
              "2 metal A:40 is a tagged residue, whose metal is placed by a fit: give --fit-tensors, or the metal's "
              "atom (A:77:CA) or point (X,Y,Z)");
    Pdb one;
    one.model(1);
    one.atom("CA", "ALA", 3, {0, 0, 0});
    one.atom("DY", "DY", 77, {1, 2, 3}, "DY", 'A', ' ', "HETATM");
    one.end_model();
    one.model(2);
    one.atom("CA", "ALA", 3, {0, 0, 0});
    one.atom("CA", "DY", 77, {1, 2, 3}, "DY", 'A', ' ', "HETATM");
    one.end_model();
    const std::string path2 = temp_file(one.text);
    const Structure st2 = read_structure(path2);
    EXPECT_EQ(failure_of([&] { metal::positions(st2, metal::parse_place("A:77:DY", "--metal"), path2); }),
              "1 " + path2 + ": no atom A:77:DY in model 2 (the metal given as A:77:DY)");
    Pdb single;
    single.atom("CA", "ALA", 3, {0, 0, 0});
    const std::string path3 = temp_file(single.text);
    EXPECT_EQ(failure_of([&] { metal::positions(read_structure(path3), metal::parse_place("A:3:CB", "--metal"), path3); }),
              "1 " + path3 + ": no atom A:3:CB (the metal given as A:3:CB)");
}

// A structure around a metal at O = (1, 2, 3), each atom given from O:
// Ala 1 (first, no H), Gly 2 (H on z, N), a Leu 3 with its methyl protons
// (no N), a Val 4 without protons, Ser 5 (H, N), the metal as Dy 6.
const Xyz kO{1, 2, 3};
std::string around_metal() {
    Pdb p;
    auto at = [&](const char* name, const char* res, int num, Xyz d, const char* el, const char* rec = "ATOM  ") {
        p.atom(name, res, num, {kO.x + d.x, kO.y + d.y, kO.z + d.z}, el, 'A', ' ', rec);
    };
    at("N", "ALA", 1, {20, 20, 20}, "N");
    at("CA", "ALA", 1, {21, 20, 20}, "C");
    at("C", "ALA", 1, {22, 20, 20}, "C");
    at("N", "GLY", 2, {0, 6, 8}, "N");
    at("H", "GLY", 2, {0, 0, 10}, "H");
    at("CA", "GLY", 2, {0, 7, 9}, "C");
    at("CA", "LEU", 3, {10, 3, 0}, "C");
    at("CD1", "LEU", 3, {10, 0, 0}, "C");
    at("CD2", "LEU", 3, {0, 10, 0}, "C");
    at("HD11", "LEU", 3, {11, 1, 0}, "H");
    at("HD12", "LEU", 3, {11, -0.5, 0.866}, "H");
    at("HD13", "LEU", 3, {11, -0.5, -0.866}, "H");
    at("HD21", "LEU", 3, {1, 11, 0}, "H");
    at("HD22", "LEU", 3, {-0.5, 11, 0.866}, "H");
    at("HD23", "LEU", 3, {-0.5, 11, -0.866}, "H");
    at("CA", "VAL", 4, {0, 3, -10}, "C");
    at("CG1", "VAL", 4, {0, 0, -10}, "C");
    at("CG2", "VAL", 4, {6, 0, -8}, "C");
    at("N", "SER", 5, {0, -12, 5}, "N");
    at("H", "SER", 5, {0, -12, 0}, "H");
    at("CA", "SER", 5, {1, -13, 5}, "C");
    at("DY", "DY", 6, {0, 0, 0}, "DY", "HETATM");
    return p.text;
}

// ax = 3, rh = 1, no angles: chi = diag(-1/2, -3/2, 2), q = -x^2/2 - 3y^2/2 + 2z^2,
// PCS = kUnit q / r^5:
//   Gly 2 H (0, 0, 10): 200 / 1e5        N (0, 6, 8): (-54 + 128) / 1e5 = 74 / 1e5
//   Ser 5 H (0, -12, 0): -216 / 12^5     N (0, -12, 5), r = 13: (-216 + 50) / 13^5
//   Leu 3 C: CD1 (10, 0, 0) -50, CD2 (0, 10, 0) -150, mean -100 / 1e5; its 1H at the
//     protons' means (11, 0, 0) and (0, 11, 0): (-60.5 - 181.5) / 2 / 11^5 = -121 / 11^5
//   Val 4, no protons: CG1 (0, 0, -10) 200, CG2 (6, 0, -8) -18 + 128 = 110: 155 / 1e5, both nuclei
struct ByHand {
    double gly_h = kUnit * 200 / 1e5, gly_n = kUnit * 74 / 1e5;
    double ser_h = kUnit * -216 / 248832.0, ser_n = kUnit * -166 / 371293.0;
    double leu_h = kUnit * -121 / 161051.0, leu_c = kUnit * -100 / 1e5;
    double val = kUnit * 155 / 1e5;
};

TEST(MetalShifts, AmidesAndMethylsByHand) {
    const std::string path = temp_file(around_metal());
    const Structure st = read_structure(path);
    const ByHand want;
    const std::vector<Point> metal_at{{kO.x, kO.y, kO.z}};
    metal::Metal dy;
    dy.tensor = tensor(3, 1);
    dy.tensor.shift = 0.25;
    dy.at = metal_at;
    dy.name = "A:6:DY";
    auto rel = [](double want_value) { return 1e-12 * std::fabs(want_value); };

    PredictOptions o;
    o.nuclei = Nuclei::Amide;
    const Geometry a = geometry(st, o, path);
    ASSERT_EQ(a.nuclei.size(), 2u);
    EXPECT_EQ(a.nuclei[0].residue, 2);
    EXPECT_EQ(a.nuclei[1].residue, 5);
    EXPECT_TRUE(a.warnings.empty()) << a.warnings[0];
    const Prediction pa = metal::predict_metals(a, o, {dy}, false, 14.1);
    ASSERT_EQ(pa.gamma2.size(), 2u);
    EXPECT_NEAR(pa.gamma2[0][0], want.gly_h + 0.25, rel(want.gly_h));
    EXPECT_NEAR(pa.gamma2[0][1], want.ser_h + 0.25, rel(want.ser_h));
    EXPECT_NEAR(pa.gamma2[1][0], want.gly_n + 0.25, rel(want.gly_n));
    EXPECT_NEAR(pa.gamma2[1][1], want.ser_n + 0.25, rel(want.ser_n));
    EXPECT_EQ(pa.notes, (std::vector<std::string>{
                            "metal A:6:DY at (1, 2, 3): PCS of 2 nuclei, 1H then 15N (ax 3, rh 1 x 1e-32 m^3), 1 model"}));
    EXPECT_TRUE(pa.warnings.empty());
    // The row alone: Gly 2's N, (0, 6, 8) from the metal: kUnit / 1e5 (0 - 64, 36 - 64, 0, 0, 96).
    const auto row = metal::pcs_row(a, true, true, 0, metal_at);
    const double f = kUnit / 1e5, rw[5] = {-64, -28, 0, 0, 96};
    for (int i = 0; i < 5; ++i) EXPECT_NEAR(row[i], f * rw[i], 1e-14) << i;
    // <r^-6> of the H: 10 and 12 A.
    EXPECT_NEAR(metal::proton_r6(a, true, 0, metal_at), 1e-6, 1e-18);
    EXPECT_NEAR(metal::proton_r6(a, true, 1, metal_at), 1 / 2985984.0, 1e-20);
    // Metal PREs: K / r^6, one profile.
    const Prediction pr = metal::predict_metals(a, o, {dy}, true, 14.1);
    ASSERT_EQ(pr.gamma2.size(), 1u);
    EXPECT_EQ(pr.gamma2[0][0], 0.0);  // mueff 0: no PRE

    o.nuclei = Nuclei::Methyl;
    const Geometry m = geometry(st, o, path);
    ASSERT_EQ(m.nuclei.size(), 2u);
    EXPECT_EQ(m.nuclei[0].residue, 3);
    EXPECT_EQ(m.nuclei[1].residue, 4);
    EXPECT_EQ(m.partners_placed, 2);
    const Prediction pm = metal::predict_metals(m, o, {dy}, false, 14.1);
    ASSERT_EQ(pm.gamma2.size(), 2u);
    EXPECT_NEAR(pm.gamma2[0][0], want.leu_h + 0.25, rel(want.leu_h));
    EXPECT_NEAR(pm.gamma2[0][1], want.val + 0.25, rel(want.val));
    EXPECT_NEAR(pm.gamma2[1][0], want.leu_c + 0.25, rel(want.leu_c));
    EXPECT_NEAR(pm.gamma2[1][1], want.val + 0.25, rel(want.val));
    EXPECT_EQ(pm.warnings,
              (std::vector<std::string>{"the structure lacks the protons of 2 methyls: their carbons stand for them in "
                                        "the 1H PCS"}));
    EXPECT_EQ(pm.notes[0].substr(pm.notes[0].find("PCS")), "PCS of 2 nuclei, 1H then 13C (ax 3, rh 1 x 1e-32 m^3), 1 model");
    // <r^-6>: Leu's protons' means both 11 A away; Val's carbons 10 A.
    EXPECT_NEAR(metal::proton_r6(m, false, 0, metal_at), std::pow(11.0, -6), 1e-18);
    EXPECT_NEAR(metal::proton_r6(m, false, 1, metal_at), 1e-6, 1e-18);
    // The metal PRE of the methyl protons: mueff 9.581 etc. at 14.09 T, K = 1.980240e8 + 1.257021e6 (CurieAndDipolarByHand).
    dy.tensor.mueff = 9.581;
    dy.tensor.taur_ns = 4.25;
    dy.tensor.t1e_ps = 0.189;
    dy.tensor.temp = 298.15;
    const Prediction pp = metal::predict_metals(m, o, {dy}, true, 14.09);
    ASSERT_EQ(pp.gamma2.size(), 1u);
    const double k = 1.980240119939e8 + 1.257020768043e6;
    EXPECT_NEAR(pp.gamma2[0][0], k * std::pow(11.0, -6), 1e-9 * k * std::pow(11.0, -6));
    EXPECT_NEAR(pp.gamma2[0][1], k * 1e-6, 1e-9 * k * 1e-6);
    EXPECT_EQ(pp.warnings,
              (std::vector<std::string>{"the structure lacks the protons of 2 methyls: their carbons stand for them in "
                                        "the 1H PRE"}));
}

// Two models, the second moved by (0, 0, 1) with the metal: the same
// shifts; the metal still at the first model's place in the second: the
// average of two geometries.
TEST(MetalShifts, ModelsAveraged) {
    std::string two;
    std::string one = around_metal();
    Pdb moved;
    moved.text = "MODEL        1\n" + one + "ENDMDL\nMODEL        2\n";
    // The second model: every z one further out (the PDB z field, columns 47-54).
    std::istringstream in(one);
    for (std::string line; std::getline(in, line);) {
        const double z = std::stod(line.substr(46, 8)) + 1.0;
        line.replace(46, 8, coord(z));
        moved.text += line + "\n";
    }
    moved.text += "ENDMDL\n";
    const std::string path = temp_file(moved.text);
    const Structure st = read_structure(path);
    ASSERT_EQ(st.models.size(), 2u);
    PredictOptions o;
    o.nuclei = Nuclei::Amide;
    const Geometry g = geometry(st, o, path);
    const ByHand want;
    metal::Metal dy;
    dy.tensor = tensor(3, 1);
    dy.at = metal::positions(st, metal::parse_place("A:6:DY", "--metal"), path);
    dy.name = "A:6:DY";
    Prediction p = metal::predict_metals(g, o, {dy}, false, 14.1);
    EXPECT_NEAR(p.gamma2[0][0], want.gly_h, 1e-12);
    EXPECT_NEAR(p.gamma2[1][1], want.ser_n, 1e-12);
    EXPECT_EQ(p.notes[0].rfind("metal A:6:DY at (1, 2, 3) in model 1: PCS of 2 nuclei", 0), 0u) << p.notes[0];
    EXPECT_EQ(p.notes[0].substr(p.notes[0].rfind(", ")), ", 2 models averaged");
    // The metal fixed at (1, 2, 3): Gly 2's H at (0, 0, 10) and (0, 0, 11) from it,
    // 200 / 1e5 and 242 / 11^5 = 2 / 1331; and <r^-6> (1e-6 + 11^-6) / 2.
    dy.at = {{1, 2, 3}, {1, 2, 3}};
    p = metal::predict_metals(g, o, {dy}, false, 14.1);
    EXPECT_NEAR(p.gamma2[0][0], kUnit * (2e-3 + 2.0 / 1331) / 2, 1e-12);
    EXPECT_NEAR(metal::proton_r6(g, true, 0, dy.at), (1e-6 + std::pow(11.0, -6)) / 2, 1e-18);
    // Val 4's two methyls lack their protons in both models: two, not four.
    o.nuclei = Nuclei::Methyl;
    const Geometry m = geometry(st, o, path);
    EXPECT_EQ(m.partners_placed, 2);
    EXPECT_EQ(metal::predict_metals(m, o, {dy}, false, 14.1).warnings,
              (std::vector<std::string>{"the structure lacks the protons of 2 methyls: their carbons stand for them in "
                                        "the 1H PCS"}));
}

// The lines of a simulated file as numbers, each "residue value type".
std::vector<std::array<double, 3>> records(const std::string& text) {
    std::vector<std::array<double, 3>> out;
    std::istringstream in(text);
    for (std::array<double, 3> r; in >> r[0] >> r[1] >> r[2];) out.push_back(r);
    return out;
}

TEST(MetalShifts, PredictWithTensors) {
    const std::string dir = temp_case("", "");
    auto write = [&](const std::string& name, const std::string& text) {
        std::FILE* f = std::fopen((dir + "/" + name).c_str(), "w");
        std::fputs(text.c_str(), f);
        std::fclose(f);
    };
    write("s.pdb", around_metal());
    // The file's place far off: --metal's must be used.
    write("T.txt", "ax | 1E-32 m^3 : 3\nrh | 1E-32 m^3 : 1\nx | A : 40\ny | A : 40\nz | A : 40\n"
                   "shift | ppm : 0.25\nmueff | Bm : 9.581\nt1e | ps : 0.189\ntaur | ns : 4.25\n");
    write("U.txt", "ax | 1E-32 m^3 : 3\nrh | 1E-32 m^3 : 1\nx | A : 1\ny | A : 2\nz | A : 3\n");
    const ByHand want;
    Proc p = run_binary({"predict", "s.pdb", "--nuclei", "amide", "--tensor", "T.txt", "--metal", "A:6:DY"}, "", dir);
    ASSERT_EQ(p.status, 0) << p.err;
    EXPECT_EQ(p.err, "preassign: predict: metal A:6:DY at (1, 2, 3): PCS of 2 nuclei, 1H then 15N (ax 3, rh 1 x "
                     "1e-32 m^3), 1 model\n");
    auto r = records(p.out);
    ASSERT_EQ(r.size(), 4u) << p.out;
    const double values[4] = {want.gly_h, want.ser_h, want.gly_n, want.ser_n};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(r[i][0], i % 2 ? 5 : 2) << i;
        EXPECT_NEAR(r[i][1], values[i] + 0.25, 1e-12) << i;
        EXPECT_EQ(r[i][2], 0) << i;
    }
    // Two metals, the file's places: four profiles, each metal's 1H first.
    p = run_binary({"predict", "s.pdb", "--nuclei", "amide", "--tensor", "U.txt", "--tensor", "U.txt", "-o", "m.txt"},
                   "", dir);
    ASSERT_EQ(p.status, 0) << p.err;
    r = records(read_file(dir + "/m.txt"));
    ASSERT_EQ(r.size(), 8u);
    EXPECT_NEAR(r[4][1], want.gly_h, 1e-12);
    EXPECT_NEAR(r[7][1], want.ser_n, 1e-12);
    // Methyls: the Val's carbons stand for its protons, and say so.
    p = run_binary({"predict", "s.pdb", "--tensor", "U.txt"}, "", dir);
    ASSERT_EQ(p.status, 0) << p.err;
    EXPECT_EQ(p.err, "preassign: warning: the structure lacks the protons of 2 methyls: their carbons stand for them "
                     "in the 1H PCS\npreassign: predict: metal U.txt at (1, 2, 3): PCS of 2 nuclei, 1H then 13C (ax 3, "
                     "rh 1 x 1e-32 m^3), 1 model\n");
    r = records(p.out);
    ASSERT_EQ(r.size(), 4u);
    EXPECT_NEAR(r[0][1], want.leu_h, 1e-12);
    EXPECT_NEAR(r[1][1], want.val, 1e-12);
    EXPECT_NEAR(r[2][1], want.leu_c, 1e-12);
    EXPECT_EQ(r[0][2], 1);
    EXPECT_EQ(r[1][2], 2);
    // Metal PREs at --field 600 (14.0919571 T): K = 1.99335850e8 A^6 s^-1 by the arithmetic of
    // CurieAndDipolarByHand (Curie 1.98078867e8, dipolar 1.25698278e6); H at 10 and 12 A.
    p = run_binary({"predict", "s.pdb", "--nuclei", "amide", "--tensor", "T.txt", "--metal", "1,2,3", "--metal-pre"},
                   "", dir);
    ASSERT_EQ(p.status, 0) << p.err;
    EXPECT_EQ(p.err.substr(0, p.err.find(" T)")),
              "preassign: predict: metal 1,2,3 at (1, 2, 3): 1H PRE of 2 nuclei (mueff 9.581 Bohr magnetons, taur "
              "4.25 ns, t1e 0.189 ps, 14.091957083571877");
    r = records(p.out);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_NEAR(r[0][1], 199.33585010921468, 1e-9 * 199.3);
    EXPECT_NEAR(r[1][1], 66.75717288144031, 1e-9 * 66.8);
    // Refusals.
    p = run_binary({"predict", "s.pdb", "--tensor", "T.txt", "--tensor", "U.txt", "--metal", "1,2,3"}, "", dir);
    EXPECT_EQ(p.status, 2);
    EXPECT_EQ(p.err, "preassign: 1 --metal for 2 --tensor: give one place per tensor, in order, or none (the files' "
                     "x, y, z)\n");
    p = run_binary({"predict", "s.pdb", "--site", "A:2", "--tensor", "T.txt"}, "", dir);
    EXPECT_EQ(p.status, 2);
    EXPECT_EQ(p.err, "preassign: metals (--tensor, --metal) and spin-label sites (--site, --sites, --fit-labels) go "
                     "to separate runs, each its own simulated file (see --help)\n");
    p = run_binary({"predict", "s.pdb", "--metal", "1,2,3"}, "", dir);
    EXPECT_EQ(p.status, 2);
    EXPECT_EQ(p.err.rfind("preassign: --metal needs each metal's tensor (--tensor FILE)", 0), 0u) << p.err;
    p = run_binary({"predict", "s.pdb", "--site", "A:2", "--metal-pre"}, "", dir);
    EXPECT_EQ(p.status, 2);
    EXPECT_EQ(p.err, "preassign: --metal-pre goes with --tensor (see --help)\n");
    p = run_binary({"predict", "s.pdb", "--tensor", "T.txt", "--metal", "A:6:CA"}, "", dir);
    EXPECT_EQ(p.status, 1);
    EXPECT_EQ(p.err, "preassign: s.pdb: no atom A:6:CA (the metal given as A:6:CA)\n");
    // One residue's nuclei in each of two profiles would read back as one profile.
    p = run_binary({"predict", "s.pdb", "--tensor", "U.txt", "--chain", "A", "--nuclei", "amide"}, "", dir);
    EXPECT_EQ(p.status, 0) << p.err;
    Pdb val;
    val.atom("CA", "VAL", 4, {0, 3, -10});
    val.atom("CG1", "VAL", 4, {0, 0, -10});
    val.atom("CG2", "VAL", 4, {6, 0, -8});
    write("v.pdb", val.text);
    p = run_binary({"predict", "v.pdb", "--tensor", "U.txt", "-o", "v.txt"}, "", dir);
    EXPECT_EQ(p.status, 1);
    EXPECT_EQ(p.err.substr(p.err.find("preassign: v.pdb")),
              "preassign: v.pdb: only residue 4 gives nuclei, so the 2 profiles of the simulated file, which starts a "
              "new profile where the residue number goes down, would read back as one: choose more nuclei\n");
    EXPECT_EQ(read_file(dir + "/v.txt"), "");
    p = run_binary({"predict", "v.pdb", "--tensor", "T.txt", "--metal-pre"}, "", dir);
    EXPECT_EQ(p.status, 0) << p.err;
    EXPECT_EQ(records(p.out).size(), 1u);
    // A PRE needs the moment and the tumbling; t1e may be left out (no dipolar term).
    write("W.txt", "ax | 1E-32 m^3 : 3\nmueff | Bm : 9.581\nx | A : 1\ny | A : 2\nz | A : 3\n");
    p = run_binary({"predict", "s.pdb", "--tensor", "T.txt", "--tensor", "W.txt", "--metal-pre"}, "", dir);
    EXPECT_EQ(p.status, 1);
    EXPECT_EQ(p.err, "preassign: W.txt: --metal-pre needs the metal's mueff and taur above 0 (as 'mueff | Bm : "
                     "9.581' and 'taur | ns : 4.25'), or every PRE would be 0\n");
    write("V.txt", "ax | 1E-32 m^3 : 3\nmueff | Bm : 9.581\ntaur | ns : 4.25\nx | A : 1\ny | A : 2\nz | A : 3\n");
    p = run_binary({"predict", "s.pdb", "--nuclei", "amide", "--tensor", "V.txt", "--metal-pre"}, "", dir);
    EXPECT_EQ(p.status, 0) << p.err;
    r = records(p.out);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_NEAR(r[0][1], 198078867.32868916 / 1e6, 1e-9 * 198.1);  // Curie alone
    // No place in the file and none given: not the origin.
    write("N.txt", "ax | 1E-32 m^3 : 3\nx | A : 1\ny | A : 2\n");
    p = run_binary({"predict", "s.pdb", "--tensor", "U.txt", "--tensor", "N.txt"}, "", dir);
    EXPECT_EQ(p.status, 1);
    EXPECT_EQ(p.err, "preassign: N.txt: gives no place for the metal (x, y and z, as 'x | 1E-10 m : 25.8'): add it, "
                     "or give --metal\n");
    p = run_binary({"predict", "s.pdb", "--tensor", "N.txt", "--metal", "1,2,3"}, "", dir);
    EXPECT_EQ(p.status, 0) << p.err;
    write("bad.txt", "ax | 1E-32 m^3 : 3\nrh | 1E-32 m^3 : one\n");
    p = run_binary({"predict", "s.pdb", "--tensor", "bad.txt"}, "", dir);
    EXPECT_EQ(p.status, 1);
    EXPECT_EQ(p.err, "preassign: bad.txt:2: tensor field 'rh': 'one' is not a number\n");
}

}  // namespace
