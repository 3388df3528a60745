// The flat-noise scale of a profile's PREs, piecewise linear between its
// measured values.
#include "likelihood/flat_scale.h"

#include <algorithm>
#include <cmath>

FlatScale flat_scale(std::vector<std::pair<double, double>> ve) {
    FlatScale s;
    if (ve.empty()) ve.push_back({0.0, 1.0});
    std::sort(ve.begin(), ve.end());
    double e = 0.0, h = 0.0;
    for (size_t i = 0; i < ve.size(); ++i) {
        e = std::max(e, ve[i].second);
        h = i == 0 ? ve[0].first / e : h + (ve[i].first - ve[i - 1].first) / e;
        s.knots.push_back({ve[i].first, h, 1.0 / e});
    }
    return s;
}

double FlatScale::operator()(double v) const {
    if (knots.empty() || std::isnan(v)) return v;
    const Knot& first = knots.front();
    const Knot& last = knots.back();
    if (v <= first.v) return first.h + (v - first.v) * first.slope;
    if (v >= last.v) return last.h + std::log1p((v - last.v) * last.slope);
    const auto it = std::upper_bound(knots.begin(), knots.end(), v, [](double a, const Knot& b) { return a < b.v; });
    return (it - 1)->h + (v - (it - 1)->v) * it->slope;
}
