// Shortest augmenting paths with dual variables (Jonker-Volgenant, in the
// form Crouse 2016 gives): one Dijkstra-like search per row, O(n^3).
#include "optimum/lap.h"

#include <algorithm>
#include <cmath>
#include <limits>

double assignment_energy(const std::vector<double>& cost, int n, const std::vector<int>& assign) {
    double e = 0.0;
    for (int j = 0; j < n; ++j) e += cost[size_t(j) * n + assign[j]];
    return e;
}

std::vector<int> solve_assignment(const std::vector<double>& cost, int n, Duals* duals) {
    for (double c : cost)
        if (!std::isfinite(c)) return {};
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<double> u(n, 0.0), v(n, 0.0), dist(n);
    std::vector<int> path(n, -1), col4row(n, -1), row4col(n, -1), remaining(n);
    std::vector<char> seen_row(n), seen_col(n);

    for (int cur = 0; cur < n; ++cur) {
        // Search from row `cur` for the nearest free column in reduced costs.
        double min_val = 0.0;
        int left = n;
        for (int k = 0; k < n; ++k) remaining[k] = n - k - 1;
        std::fill(seen_row.begin(), seen_row.end(), 0);
        std::fill(seen_col.begin(), seen_col.end(), 0);
        std::fill(dist.begin(), dist.end(), inf);
        int i = cur, sink = -1;
        while (sink < 0) {
            seen_row[i] = 1;
            int best = -1;
            double lowest = inf;
            for (int k = 0; k < left; ++k) {
                const int j = remaining[k];
                const double r = min_val + cost[size_t(i) * n + j] - u[i] - v[j];
                if (r < dist[j]) {
                    path[j] = i;
                    dist[j] = r;
                }
                // Among equals prefer a free column: it ends the search.
                if (dist[j] < lowest || (dist[j] == lowest && row4col[j] < 0)) {
                    lowest = dist[j];
                    best = k;
                }
            }
            min_val = lowest;
            const int j = remaining[best];
            if (row4col[j] < 0)
                sink = j;
            else
                i = row4col[j];
            seen_col[j] = 1;
            remaining[best] = remaining[--left];
        }
        // Update the duals, then flip the path's matches.
        u[cur] += min_val;
        for (int r = 0; r < n; ++r)
            if (seen_row[r] && r != cur) u[r] += min_val - dist[col4row[r]];
        for (int c = 0; c < n; ++c)
            if (seen_col[c]) v[c] -= min_val - dist[c];
        for (int j = sink;;) {
            const int r = path[j];
            row4col[j] = r;
            std::swap(col4row[r], j);
            if (r == cur) break;
        }
    }
    if (duals) {
        duals->row = std::move(u);
        duals->col = std::move(v);
    }
    return col4row;
}

std::vector<int> solve_with_fixed(const std::vector<double>& cost, int n,
                                  const std::vector<std::pair<int, int>>& fixed) {
    if (fixed.empty()) return solve_assignment(cost, n);
    std::vector<char> row_taken(n, 0), col_taken(n, 0);
    for (const auto& [j, r] : fixed) {
        row_taken[j] = 1;
        col_taken[r] = 1;
    }
    std::vector<int> rows, cols;
    for (int i = 0; i < n; ++i) {
        if (!row_taken[i]) rows.push_back(i);
        if (!col_taken[i]) cols.push_back(i);
    }
    const int m = int(rows.size());
    std::vector<double> sub(size_t(m) * m);
    for (int i = 0; i < m; ++i)
        for (int k = 0; k < m; ++k) sub[size_t(i) * m + k] = cost[size_t(rows[i]) * n + cols[k]];
    const std::vector<int> a = solve_assignment(sub, m);
    if (a.size() != size_t(m)) return {};
    std::vector<int> full(n, -1);
    for (const auto& [j, r] : fixed) full[j] = r;
    for (int i = 0; i < m; ++i) full[rows[i]] = cols[a[i]];
    return full;
}
