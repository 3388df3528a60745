// The flat-noise scale of a profile's PREs, piecewise linear between its
// measured values.
#include "likelihood/flat_scale.h"

#include <algorithm>
#include <cmath>

FlatScale flat_scale(std::vector<std::pair<double, double>> ve, bool monotone, bool saturates) {
    FlatScale s;
    s.saturates = saturates;
    if (ve.empty()) ve.push_back({0.0, 1.0});
    std::sort(ve.begin(), ve.end());
    const size_t n = ve.size();
    std::vector<double> e(n);
    if (monotone) {
        double most = 0.0;
        for (size_t i = 0; i < n; ++i) e[i] = most = std::max(most, ve[i].second);
    } else {
        // Pool adjacent violators on ln e: blocks of (mean, count).
        std::vector<std::pair<double, size_t>> block;
        for (size_t i = 0; i < n; ++i) {
            block.push_back({std::log(ve[i].second), 1});
            while (block.size() > 1 && block[block.size() - 2].first > block.back().first) {
                const auto [m, c] = block.back();
                block.pop_back();
                auto& b = block.back();
                b.first = (b.first * double(b.second) + m * double(c)) / double(b.second + c);
                b.second += c;
            }
        }
        size_t i = 0;
        for (const auto& [m, c] : block)
            for (size_t k = 0; k < c; ++k) e[i++] = std::exp(m);
    }
    double h = 0.0;
    for (size_t i = 0; i < n; ++i) {
        h = i == 0 ? ve[0].first / e[0] : h + (ve[i].first - ve[i - 1].first) / e[i];
        s.knots.push_back({ve[i].first, h, 1.0 / e[i]});
    }
    return s;
}

double FlatScale::operator()(double v) const {
    if (knots.empty() || std::isnan(v)) return v;
    const Knot& first = knots.front();
    const Knot& last = knots.back();
    if (v <= first.v) return first.h + (v - first.v) * first.slope;
    if (v >= last.v) {
        const double x = (v - last.v) * last.slope;
        return last.h + (saturates ? std::log1p(x) : x);
    }
    const auto it = std::upper_bound(knots.begin(), knots.end(), v, [](double a, const Knot& b) { return a < b.v; });
    return (it - 1)->h + (v - (it - 1)->v) * it->slope;
}

double FlatScale::error_at(double v) const {
    if (knots.empty()) return 1.0;
    if (v <= knots.front().v) return 1.0 / knots.front().slope;
    if (v >= knots.back().v) return 1.0 / knots.back().slope;
    const auto it = std::upper_bound(knots.begin(), knots.end(), v, [](double a, const Knot& b) { return a < b.v; });
    return 1.0 / it->slope;
}
