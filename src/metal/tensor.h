// A lanthanide's magnetic susceptibility anisotropy: its axial and rhombic
// parts and their frame, the pseudocontact shift (PCS) it gives a nucleus,
// and the small text file a tensor is given and written in.
#pragma once

#include <array>
#include <cmath>
#include <string>

#include "numeric/linalg.h"
#include "structure/predict.h"

namespace metal {

using numeric::Mat3;

struct Tensor {
    double ax = 0.0, rh = 0.0;                      // 1e-32 m^3: axial and rhombic anisotropy
    Point at;                                       // A: the metal
    double alpha = 0.0, beta = 0.0, gamma = 0.0;    // degrees: R = Rz(alpha) Ry(beta) Rz(gamma)
    double mueff = 0.0;                             // Bohr magnetons: the effective moment
    double shift = 0.0;                             // ppm added to every PCS (a reference offset)
    double b0 = 18.79;                              // T
    double temp = 298.15;                           // K
    double t1e_ps = 0.0;                            // electronic relaxation time
    double taur_ns = 0.0;                           // rotational correlation time
    bool placed = false;                            // read_tensor: x, y and z all given
    std::vector<std::string> warnings;              // read_tensor: "FILE:LINE: ..." for the caller to print
};

// ppm of PCS per 1e-32 m^3 of tensor over A^3 of distance:
// 1e6 / (4 pi) x 1e-32 / 1e-30.
constexpr double kPcsUnit = 1e4 / (4.0 * M_PI);

// R = Rz(alpha) Ry(beta) Rz(gamma): its columns are the tensor's x, y and z
// axes in the structure's frame.
Mat3 rotation(double alpha_deg, double beta_deg, double gamma_deg);

// The traceless tensor in the structure's frame, 1e-32 m^3: R diag(-ax/3 +
// rh/2, -ax/3 - rh/2, 2 ax/3) R^T.
Mat3 cartesian(const Tensor& t);

// ax, rh and the angles of a traceless symmetric tensor, the axes ordered
// |chi_xx| <= |chi_yy| <= |chi_zz| (so 0 <= rh/ax <= 2/3); every other
// field from `base`. Angles in [0, 360) for alpha and gamma, [0, 180] for beta.
Tensor from_cartesian(const Mat3& chi, const Tensor& base);

// The PCS of a nucleus at `nucleus` from a metal at `metal` (A), ppm:
// kPcsUnit d^T chi d / |d|^5. 0 where they coincide.
double pcs(const Mat3& chi, const Point& metal, const Point& nucleus);

// The PCS is linear in the tensor's five independent elements (xx, yy, xy,
// xz, yz; zz = -xx - yy): the coefficients of each, ppm per 1e-32 m^3.
std::array<double, 5> pcs_row(const Point& metal, const Point& nucleus);
std::array<double, 5> elements(const Mat3& chi);
Mat3 from_elements(const std::array<double, 5>& e);

// The tensor's size, the Frobenius norm of chi, 1e-32 m^3.
double norm(const Mat3& chi);

// Reads "name | unit : value" lines (ax, rh, x, y, z, a, b, g, mueff, shift,
// B0, temp, t1e, taur; any order, each at most once, missing ones left at
// their defaults; `placed` says whether x, y and z were). Throws Failure
// "FILE:LINE: reason" for a line of another form, an unknown name or a value
// that is not a finite number. Values are never converted: a unit column
// that names another unit than the field's is said in `warnings`.
Tensor read_tensor(const std::string& text, const std::string& path);
std::string tensor_text(const Tensor& t);

}  // namespace metal
