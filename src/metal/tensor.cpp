// The tensor's algebra and its file. The frame convention ((x, y, z) =
// R^T (r - metal), R = Rz Ry Rz) is the one under which published calbindin
// tensors reproduce their shifts; R and R^T exchanged they do not.
#include "metal/tensor.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "io/failure.h"

namespace metal {

namespace {

constexpr double kDeg = M_PI / 180.0;

Mat3 product(const Mat3& a, const Mat3& b) {
    Mat3 c{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) c[i][j] += a[i][k] * b[k][j];
    return c;
}

Mat3 about_z(double t) { return Mat3{{{std::cos(t), -std::sin(t), 0}, {std::sin(t), std::cos(t), 0}, {0, 0, 1}}}; }
Mat3 about_y(double t) { return Mat3{{{std::cos(t), 0, std::sin(t)}, {0, 1, 0}, {-std::sin(t), 0, std::cos(t)}}}; }

double degrees_in_circle(double rad) {
    double d = rad / kDeg;
    if (d < 0) d += 360.0;
    return d >= 360.0 ? d - 360.0 : d;
}

}  // namespace

Mat3 rotation(double a, double b, double g) {
    return product(product(about_z(a * kDeg), about_y(b * kDeg)), about_z(g * kDeg));
}

Mat3 cartesian(const Tensor& t) {
    const Mat3 r = rotation(t.alpha, t.beta, t.gamma);
    const double d[3] = {-t.ax / 3.0 + t.rh / 2.0, -t.ax / 3.0 - t.rh / 2.0, 2.0 * t.ax / 3.0};
    Mat3 c{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) c[i][j] += r[i][k] * d[k] * r[j][k];
    return c;
}

Tensor from_cartesian(const Mat3& chi, const Tensor& base) {
    std::array<double, 3> value;
    Mat3 vec;
    Tensor t = base;
    if (numeric::symmetric_eigen(chi, value, vec) < 0) {
        t.ax = t.rh = NAN;
        return t;
    }
    // The axes by the size of their value: x the least, z the most.
    std::array<int, 3> o{0, 1, 2};
    for (int i = 0; i < 3; ++i)
        for (int j = i + 1; j < 3; ++j)
            if (std::fabs(value[o[j]]) < std::fabs(value[o[i]])) std::swap(o[i], o[j]);
    Mat3 r;
    for (int c = 0; c < 3; ++c)
        for (int k = 0; k < 3; ++k) r[k][c] = vec[k][o[c]];
    const double det = r[0][0] * (r[1][1] * r[2][2] - r[1][2] * r[2][1]) -
                       r[0][1] * (r[1][0] * r[2][2] - r[1][2] * r[2][0]) +
                       r[0][2] * (r[1][0] * r[2][1] - r[1][1] * r[2][0]);
    if (det < 0)
        for (int k = 0; k < 3; ++k) r[k][0] = -r[k][0];
    const double xx = value[o[0]], yy = value[o[1]], zz = value[o[2]];
    t.ax = zz - (xx + yy) / 2.0;
    t.rh = xx - yy;
    const double cb = std::max(-1.0, std::min(1.0, r[2][2]));
    t.beta = std::acos(cb) / kDeg;
    if (std::sqrt(r[0][2] * r[0][2] + r[1][2] * r[1][2]) > 1e-12) {
        t.alpha = degrees_in_circle(std::atan2(r[1][2], r[0][2]));
        t.gamma = degrees_in_circle(std::atan2(r[2][1], -r[2][0]));
    } else {  // z along the structure's +z or -z: only one angle is defined, and
              // Rz(alpha) Ry(0 or 180) has its x axis on r's first column either way
        t.alpha = degrees_in_circle(std::atan2(r[1][0], r[0][0]));
        t.gamma = 0.0;
    }
    return t;
}

double pcs(const Mat3& chi, const Point& m, const Point& n) {
    const double d[3] = {n.x - m.x, n.y - m.y, n.z - m.z};
    const double r2 = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
    if (!(r2 > 0.0)) return 0.0;
    double q = 0.0;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) q += d[i] * chi[i][j] * d[j];
    return kPcsUnit * q / (r2 * r2 * std::sqrt(r2));
}

std::array<double, 5> pcs_row(const Point& m, const Point& n) {
    const double x = n.x - m.x, y = n.y - m.y, z = n.z - m.z;
    const double r2 = x * x + y * y + z * z;
    if (!(r2 > 0.0)) return {0, 0, 0, 0, 0};
    const double f = kPcsUnit / (r2 * r2 * std::sqrt(r2));
    return {f * (x * x - z * z), f * (y * y - z * z), f * 2 * x * y, f * 2 * x * z, f * 2 * y * z};
}

std::array<double, 5> elements(const Mat3& c) { return {c[0][0], c[1][1], c[0][1], c[0][2], c[1][2]}; }

Mat3 from_elements(const std::array<double, 5>& e) {
    return Mat3{{{e[0], e[2], e[3]}, {e[2], e[1], e[4]}, {e[3], e[4], -e[0] - e[1]}}};
}

double norm(const Mat3& c) {
    double s = 0.0;
    for (const auto& row : c)
        for (double x : row) s += x * x;
    return std::sqrt(s);
}

namespace {

// A tensor file's fields, in the order written, each with the unit it is
// read and written in.
struct Field {
    const char* name;
    const char* unit;
    double* value;
};

std::array<Field, 14> fields_of(Tensor& t) {
    return {{{"ax", "1E-32 m^3", &t.ax},
             {"rh", "1E-32 m^3", &t.rh},
             {"x", "1E-10 m", &t.at.x},
             {"y", "1E-10 m", &t.at.y},
             {"z", "1E-10 m", &t.at.z},
             {"a", "deg", &t.alpha},
             {"b", "deg", &t.beta},
             {"g", "deg", &t.gamma},
             {"mueff", "Bm", &t.mueff},
             {"shift", "ppm", &t.shift},
             {"B0", "T", &t.b0},
             {"temp", "K", &t.temp},
             {"t1e", "ps", &t.t1e_ps},
             {"taur", "ns", &t.taur_ns}}};
}

// Whether `unit` names the unit a field is read in: its written form or a
// common spelling of it, case and spaces aside.
bool known_unit(const std::string& own, const std::string& unit) {
    auto plain = [](const std::string& u) {
        std::string p;
        for (char c : u)
            if (c != ' ' && c != '\t') p += char(std::tolower(static_cast<unsigned char>(c)));
        return p;
    };
    const std::string u = plain(unit);
    if (u == plain(own)) return true;
    const std::map<std::string, std::vector<std::string>> also = {
        {"1E-32 m^3", {"1e-32m3", "10^-32m^3"}},
        {"1E-10 m", {"a", "\xc3\x85", "angstrom", "ang", "10^-10m"}},
        {"deg", {"degree", "degrees", "\xc2\xb0"}},
        {"Bm", {"mub", "bohr", "\xce\xbc" "b"}},
        {"T", {"tesla"}},
        {"K", {"kelvin"}}};
    const auto it = also.find(own);
    return it != also.end() && std::find(it->second.begin(), it->second.end(), u) != it->second.end();
}

}  // namespace

Tensor read_tensor(const std::string& text, const std::string& path) {
    Tensor t;
    std::map<std::string, Field> field;
    for (const Field& f : fields_of(t)) field[f.name] = f;
    std::map<std::string, int> seen;
    size_t start = 0;
    for (int line = 1; start < text.size(); ++line) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string s = text.substr(start, end - start);
        start = end + 1;
        s = s.substr(0, s.find('#'));
        if (s.find_first_not_of(" \t\r") == std::string::npos) continue;
        const std::string where = path + ":" + std::to_string(line) + ": ";
        const size_t bar = s.find('|'), colon = s.rfind(':');
        if (bar == std::string::npos || colon == std::string::npos || colon < bar)
            throw Failure{kStatusInput, where + "not a tensor line 'name | unit : value' (as 'ax | 1E-32 m^3 : -8.15')"};
        std::string name = s.substr(0, bar);
        name.erase(0, name.find_first_not_of(" \t"));
        name.erase(name.find_last_not_of(" \t") + 1);
        const auto it = field.find(name);
        if (it == field.end())
            throw Failure{kStatusInput, where + "unknown tensor field '" + name +
                                            "' (ax, rh, x, y, z, a, b, g, mueff, shift, B0, temp, t1e, taur)"};
        if (seen[name]++) throw Failure{kStatusInput, where + "tensor field '" + name + "' given twice"};
        // Values are never converted: a unit column that names another unit
        // would be read as this one's, so it is said.
        std::string unit = s.substr(bar + 1, colon - bar - 1);
        unit.erase(0, unit.find_first_not_of(" \t"));
        unit.erase(unit.find_last_not_of(" \t") + 1);
        if (!unit.empty() && !known_unit(it->second.unit, unit))
            t.warnings.push_back(path + ":" + std::to_string(line) + ": tensor field '" + name + "' is given in '" +
                                 unit + "', read as " + it->second.unit + ": the value is not converted");
        std::string v = s.substr(colon + 1);
        v.erase(0, v.find_first_not_of(" \t"));
        v.erase(v.find_last_not_of(" \t\r") + 1);
        char* stop = nullptr;
        const double x = std::strtod(v.c_str(), &stop);
        if (v.empty() || *stop != '\0' || !std::isfinite(x))
            throw Failure{kStatusInput, where + "tensor field '" + name + "': '" + v + "' is not a number"};
        *it->second.value = x;
    }
    if (seen.empty()) throw Failure{kStatusInput, path + ": holds no tensor field"};
    t.placed = seen.count("x") && seen.count("y") && seen.count("z");
    return t;
}

std::string tensor_text(const Tensor& t) {
    Tensor copy = t;
    std::string s;
    char buf[96];
    for (const Field& f : fields_of(copy)) {
        std::snprintf(buf, sizeof buf, "%-6s| %9s : %9.3f\n", f.name, f.unit, *f.value);
        s += buf;
    }
    return s;
}

}  // namespace metal
