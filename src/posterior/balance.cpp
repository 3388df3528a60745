// Sinkhorn alone slows to a crawl when the balanced matrix is close to a
// permutation with weak links between blocks, which is the usual posterior
// of a well-determined assignment: its rate is the spectral gap's. Newton's
// method on the convex dual of the scaling problem, with steps from
// conjugate gradients, needs only about the square root of that. Both reach
// the same matrix, the one Sinkhorn's alternating scaling tends to.
//
// With P = diag(e^a) K diag(e^b), the scalings minimise
//   F(a, b) = sum of P - sum a - sum b,
// whose gradient is the row and column sums of P less 1, and whose Hessian
// is [diag(row sums) P; P' diag(column sums)].
#include "posterior/balance.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

struct State {
    std::vector<double> a, b;      // log scalings
    std::vector<double> row, col;  // sums of P
    double f = 0.0;                // F(a, b)
};

// e^a and e^b, so that P costs a product per entry, not an exp.
void exponentiate(const State& s, std::vector<double>& ea, std::vector<double>& eb) {
    for (size_t i = 0; i < s.a.size(); ++i) {
        ea[i] = std::exp(s.a[i]);
        eb[i] = std::exp(s.b[i]);
    }
}

// Sums of P and F at (a, b).
void evaluate(const Kernel& k, State& s) {
    const int n = k.n;
    std::vector<double> ea(n), eb(n);
    exponentiate(s, ea, eb);
    std::fill(s.col.begin(), s.col.end(), 0.0);
    double total = 0.0;
    for (int i = 0; i < n; ++i) {
        double r = 0.0;
        for (int e = k.start[i]; e < k.start[i + 1]; ++e) {
            const double p = k.val[e] * ea[i] * eb[k.col[e]];
            r += p;
            s.col[k.col[e]] += p;
        }
        s.row[i] = r;
        total += r;
    }
    s.f = total;
    for (int i = 0; i < n; ++i) s.f -= s.a[i] + s.b[i];
}

// NaN when any sum is NaN: std::max alone would drop it.
double off_by(const State& s) {
    double off = 0.0;
    for (size_t i = 0; i < s.row.size(); ++i) {
        const double d = std::max(std::fabs(s.row[i] - 1.0), std::fabs(s.col[i] - 1.0));
        if (!(d <= off)) off = d;
    }
    return off;
}

// y = H x, with P's entries in p (in k's order).
void hessian_times(const Kernel& k, const std::vector<double>& p, const State& s, const std::vector<double>& x,
                   std::vector<double>& y) {
    const int n = k.n;
    for (int c = 0; c < n; ++c) y[n + c] = s.col[c] * x[n + c];
    for (int i = 0; i < n; ++i) {
        double t = s.row[i] * x[i];
        for (int e = k.start[i]; e < k.start[i + 1]; ++e) {
            t += p[e] * x[n + k.col[e]];
            y[n + k.col[e]] += p[e] * x[i];
        }
        y[i] = t;
    }
}

double dot(const std::vector<double>& u, const std::vector<double>& v) {
    double t = 0.0;
    for (size_t i = 0; i < u.size(); ++i) t += u[i] * v[i];
    return t;
}

// Solves H d = -g roughly, by conjugate gradients. The block's matching is
// its diagonal, and a row and its matched column nearly cancel where that
// pair is near certain: the preconditioner solves each such 2 x 2 block of H
// exactly. Its determinant is worked out from the sums beside the pair, as
// q (row' + col') + row' col' rather than row col - q^2, which cancels to 0
// when the pair holds nearly all of both. g sums to 0 over rows less
// columns, as H's range does.
std::vector<double> newton_step(const Kernel& k, const State& s, const std::vector<double>& g) {
    const int n = k.n;
    const size_t m = g.size();
    std::vector<double> p(k.val.size()), pair(n, 0.0), row_off(n, 0.0), col_off(n, 0.0), ea(n), eb(n);
    exponentiate(s, ea, eb);
    for (int i = 0; i < n; ++i)
        for (int e = k.start[i]; e < k.start[i + 1]; ++e) {
            p[e] = k.val[e] * ea[i] * eb[k.col[e]];
            if (k.col[e] == i) {
                pair[i] = p[e];
            } else {
                row_off[i] += p[e];
                col_off[k.col[e]] += p[e];
            }
        }
    auto precondition = [&](const std::vector<double>& r, std::vector<double>& z) {
        for (int i = 0; i < n; ++i) {
            const double ra = s.row[i], cb = s.col[i], q = pair[i];
            const double det = q * (row_off[i] + col_off[i]) + row_off[i] * col_off[i];
            if (det > 0.0 && std::isfinite(det)) {
                z[i] = (cb * r[i] - q * r[n + i]) / det;
                z[n + i] = (ra * r[n + i] - q * r[i]) / det;
            } else {
                // Nothing beside the pair is left in double range: the
                // diagonal alone, where it is not 0.
                z[i] = ra > 0.0 ? r[i] / ra : r[i];
                z[n + i] = cb > 0.0 ? r[n + i] / cb : r[n + i];
            }
        }
    };
    std::vector<double> d(m, 0.0), r(m), z(m), dir(m), hd(m);
    for (size_t i = 0; i < m; ++i) r[i] = -g[i];
    precondition(r, z);
    dir = z;
    double rz = dot(r, z);
    const double goal = 0.25 * dot(g, g);
    for (int it = 0; it < 500 && dot(r, r) > goal; ++it) {
        hessian_times(k, p, s, dir, hd);
        const double alpha = rz / dot(dir, hd);
        for (size_t i = 0; i < m; ++i) {
            d[i] += alpha * dir[i];
            r[i] -= alpha * hd[i];
        }
        precondition(r, z);
        const double rz_next = dot(r, z);
        for (size_t i = 0; i < m; ++i) dir[i] = z[i] + rz_next / rz * dir[i];
        rz = rz_next;
    }
    return d;
}

constexpr int kMaxNewtonSteps = 100;

// Scales a fully indecomposable block in place; the Newton steps it took.
int balance_block(Kernel& k, double tolerance) {
    const int n = k.n;
    State s{std::vector<double>(n, 0.0), std::vector<double>(n, 0.0), std::vector<double>(n),
            std::vector<double>(n)};
    evaluate(k, s);
    std::vector<double> g(size_t(2) * n);
    int step = 0;
    for (; step < kMaxNewtonSteps && off_by(s) > tolerance; ++step) {
        for (int i = 0; i < n; ++i) {
            g[i] = s.row[i] - 1.0;
            g[n + i] = s.col[i] - 1.0;
        }
        const std::vector<double> d = newton_step(k, s, g);
        const double slope = dot(g, d);
        // Backtrack until F falls by a fair share of what the slope promises.
        State trial = s;
        auto try_step = [&](double t) {
            for (int i = 0; i < n; ++i) {
                trial.a[i] = s.a[i] + t * d[i];
                trial.b[i] = s.b[i] + t * d[n + i];
            }
            evaluate(k, trial);
            return trial.f <= s.f + 1e-4 * t * slope;
        };
        bool fell = false;
        for (double t = 1.0; !fell && t > 1e-12; t /= 2.0) fell = try_step(t) && trial.f < s.f;
        // Near the end F is flat to double precision: the full step still
        // counts if it brings the sums closer.
        if (!fell && !(try_step(1.0), off_by(trial) < off_by(s))) break;
        s = std::move(trial);
        // a + t and b - t give the same P: keep the two centred alike, so
        // that e^a and e^b stay far inside the doubles' range.
        double t = 0.0;
        for (int i = 0; i < n; ++i) t += s.b[i] - s.a[i];
        t /= 2.0 * n;
        for (int i = 0; i < n; ++i) {
            s.a[i] += t;
            s.b[i] -= t;
        }
    }
    for (int i = 0; i < n; ++i)
        for (int e = k.start[i]; e < k.start[i + 1]; ++e) k.val[e] *= std::exp(s.a[i] + s.b[k.col[e]]);
    return step;
}

// Strongly connected components of the rows, where row i leads to the row
// matched to each column it has an entry in (Tarjan, without recursion).
std::vector<int> components(const Kernel& k, const std::vector<int>& owner) {
    const int n = k.n;
    std::vector<int> comp(n, -1), index(n, -1), low(n, 0), stack, path, next(n);
    std::vector<char> on_stack(n, 0);
    int counter = 0, found = 0;
    for (int root = 0; root < n; ++root) {
        if (index[root] >= 0) continue;
        path.push_back(root);
        index[root] = low[root] = counter++;
        next[root] = k.start[root];
        stack.push_back(root);
        on_stack[root] = 1;
        while (!path.empty()) {
            const int v = path.back();
            if (next[v] < k.start[v + 1]) {
                const int w = owner[k.col[next[v]++]];
                if (index[w] < 0) {
                    index[w] = low[w] = counter++;
                    next[w] = k.start[w];
                    stack.push_back(w);
                    on_stack[w] = 1;
                    path.push_back(w);
                } else if (on_stack[w]) {
                    low[v] = std::min(low[v], index[w]);
                }
                continue;
            }
            path.pop_back();
            if (!path.empty()) low[path.back()] = std::min(low[path.back()], low[v]);
            if (low[v] == index[v]) {
                for (int w = -1; w != v;) {
                    w = stack.back();
                    stack.pop_back();
                    on_stack[w] = 0;
                    comp[w] = found;
                }
                ++found;
            }
        }
    }
    return comp;
}

}  // namespace

Balanced balance(Kernel& k, const std::vector<int>& match, double tolerance) {
    const int n = k.n;
    // An entry that no perfect matching of the pattern uses tends to 0 under
    // any scaling; left in, it keeps the rest from converging. What remains
    // falls apart into blocks (the components) that balance on their own.
    std::vector<int> owner(n);
    for (int i = 0; i < n; ++i) owner[match[i]] = i;
    const std::vector<int> comp = components(k, owner);
    int blocks = 0;
    for (int c : comp) blocks = std::max(blocks, c + 1);
    std::vector<std::vector<int>> rows(blocks);
    for (int i = 0; i < n; ++i) rows[comp[i]].push_back(i);
    std::vector<int> local(n);
    for (const std::vector<int>& r : rows)
        for (size_t x = 0; x < r.size(); ++x) local[r[x]] = int(x);
    Balanced result;
    for (const std::vector<int>& r : rows) {
        Kernel b;
        b.n = int(r.size());
        for (int i : r) {
            for (int e = k.start[i]; e < k.start[i + 1]; ++e)
                if (comp[owner[k.col[e]]] == comp[i]) b.add(local[owner[k.col[e]]], k.val[e]);
            b.end_row();
        }
        if (b.n > 1) result.steps += balance_block(b, tolerance);
        // Columns are numbered by the rows they are matched to.
        for (size_t x = 0; x < r.size(); ++x) {
            const int i = r[x];
            int kept = b.start[x];
            for (int e = k.start[i]; e < k.start[i + 1]; ++e)
                k.val[e] = comp[owner[k.col[e]]] == comp[i] ? (b.n > 1 ? b.val[kept++] : 1.0) : 0.0;
        }
    }
    // Judged on the result itself, entries included: a NaN anywhere fails.
    std::vector<double> colsum(n, 0.0);
    bool finite = true;
    for (int i = 0; i < n; ++i) {
        double r = 0.0;
        for (int e = k.start[i]; e < k.start[i + 1]; ++e) {
            finite = finite && std::isfinite(k.val[e]) && k.val[e] >= 0.0;
            r += k.val[e];
            colsum[k.col[e]] += k.val[e];
        }
        const double d = std::fabs(r - 1.0);
        if (!(d <= result.error)) result.error = d;
    }
    for (int c = 0; c < n; ++c) {
        const double d = std::fabs(colsum[c] - 1.0);
        if (!(d <= result.error)) result.error = d;
    }
    if (!finite || !std::isfinite(result.error)) {
        result.status = BalanceStatus::Failed;
        result.error = std::numeric_limits<double>::quiet_NaN();
    } else if (result.error > tolerance) {
        result.status = BalanceStatus::NotConverged;
    }
    return result;
}

Balanced balance(std::vector<double>& m, int n, const std::vector<int>& match, double tolerance) {
    Kernel k;
    k.n = n;
    for (int i = 0; i < n; ++i) {
        for (int c = 0; c < n; ++c)
            if (m[size_t(i) * n + c] > 0.0) k.add(c, m[size_t(i) * n + c]);
        k.end_row();
    }
    const Balanced reached = balance(k, match, tolerance);
    std::fill(m.begin(), m.end(), 0.0);
    for (int i = 0; i < n; ++i)
        for (int e = k.start[i]; e < k.start[i + 1]; ++e) m[size_t(i) * n + k.col[e]] = k.val[e];
    return reached;
}
