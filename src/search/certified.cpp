#include "search/certified.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "search/energy.h"

PairCosts::PairCosts(const ProfileTable& sim, const ProfileTable& obs, int numprofiles, int n_) : n(n_) {
    // With fewer peaks no step has a pair. With one profile the exact
    // energy is a few operations on data that fits in L1, and the table
    // (4 n^2 bytes) costs more than it saves: measured 8 to 28 % slower at
    // 100 and 800 peaks; from two profiles on it is faster.
    usable = n >= 2 && numprofiles >= 2;
    if (!usable) return;
    c.resize(size_t(n) * n);
    std::vector<double> row(n);
    for (int j = 0; j < n; ++j) {
        std::fill(row.begin(), row.end(), 0.0);
        for (int m = 0; m < numprofiles; ++m) {
            const double o = obs[m].pre[j];
            if (!is_measured(o)) continue;
            // Distinct arrays: the compiler may take two at a time.
            const double* __restrict p = sim[m].pre;
            double* __restrict acc = row.data();
            for (int r = 0; r < n; ++r) acc[r] += pre_term(p[r], o);
        }
        for (int r = 0; r < n; ++r) {
            const double v = row[r] + type_penalty(sim[0].restype[r], obs[0].type_value[j]);
            usable = usable && v < 1e37;  // also false for NaN
            c[size_t(j) * n + r] = static_cast<float>(v);
        }
    }
}

namespace {

// ln(1 + i / 256) for i = 0 .. 256.
const std::array<double, 257>& ln_table() {
    static const std::array<double, 257> t = [] {
        std::array<double, 257> v{};
        for (int i = 0; i <= 256; ++i) v[i] = std::log1p(i / 256.0);
        return v;
    }();
    return t;
}

}  // namespace

LnBracket bracket_ln(double u) {
    // u = (1 + f) 2^e with f in [i / 256, (i + 1) / 256).
    uint64_t bits;
    std::memcpy(&bits, &u, sizeof bits);
    const int e = int((bits >> 52) & 0x7ff) - 1023;
    const int i = int((bits >> 44) & 0xff);
    const double base = e * 0.6931471805599453;
    const auto& t = ln_table();
    return {base + t[i] - 1e-13, base + t[i + 1] + 1e-13};
}
