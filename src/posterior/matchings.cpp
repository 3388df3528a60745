// Metropolis-Hastings over partial matchings. A move picks a row at random
// and proposes one of its options (a column of its kernel, or none) with
// probability proportional to that option's weight, as if the rest stood
// still; the column's holder, if any, is displaced to the row's old column
// (or to none, where it has no weight there). Two rows may propose the same
// swap, so the proposal probability of a swap, and of its reverse, is the
// sum over both.
#include "posterior/matchings.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "posterior/random.h"

namespace {

constexpr int kAlone = -1;
constexpr int kBatches = 16;  // per run of sweeps; the standard error comes from their spread

struct Chain {
    const Kernel& k;
    const std::vector<double>& row_alone;
    const std::vector<double>& col_alone;
    std::vector<int> sigma;   // per row: its entry, or kAlone
    std::vector<int> holder;  // per column: its row, or -1
    std::vector<double> cum;  // per row, after its alone weight: cumulative option weights
    std::vector<int> cum_start;

    Chain(const Kernel& k_, const std::vector<double>& ra, const std::vector<double>& ca)
        : k(k_), row_alone(ra), col_alone(ca), sigma(k_.rows, kAlone), holder(k_.cols, -1) {
        cum_start.resize(k.rows + 1);
        for (int i = 0; i < k.rows; ++i) {
            cum_start[i] = int(cum.size());
            double total = row_alone[i];
            cum.push_back(total);
            for (int e = k.start[i]; e < k.start[i + 1]; ++e) cum.push_back(total += k.val[e]);
        }
        cum_start[k.rows] = int(cum.size());
    }

    int options(int i) const { return k.start[i + 1] - k.start[i] + 1; }
    double total(int i) const { return cum[cum_start[i + 1] - 1]; }
    double weight(int i, int option) const { return option == kAlone ? row_alone[i] : k.val[option]; }
    int column(int option) const { return option == kAlone ? -1 : k.col[option]; }
    // Row i's entry for column c, or kAlone when it has none.
    int entry(int i, int c) const {
        if (c < 0) return kAlone;
        const int* first = k.col.data() + k.start[i];
        const int* last = k.col.data() + k.start[i + 1];
        const int* at = std::lower_bound(first, last, c);
        return at != last && *at == c ? int(at - k.col.data()) : kAlone;
    }
    int draw(int i, Random& g) const {
        const double* first = cum.data() + cum_start[i];
        const double* last = cum.data() + cum_start[i + 1];
        const double u = g.uniform() * total(i);
        const int at = int(std::upper_bound(first, last, u) - first);
        if (at == 0) return kAlone;
        return k.start[i] + std::min(at, options(i) - 1) - 1;
    }

    // What row i taking `option` changes: at most two rows, with their new options.
    struct Move {
        int n = 0;
        int row[2], to[2];
    };
    Move propose(int i, int option) const {
        Move m;
        if (option == sigma[i]) return m;
        m.row[0] = i;
        m.to[0] = option;
        m.n = 1;
        const int c = column(option);
        const int other = c >= 0 ? holder[c] : -1;
        if (other >= 0) {
            m.row[1] = other;
            m.to[1] = entry(other, column(sigma[i]));
            m.n = 2;
        }
        return m;
    }
    void apply(const Move& m) {
        for (int x = 0; x < m.n; ++x)
            if (sigma[m.row[x]] != kAlone) holder[column(sigma[m.row[x]])] = -1;
        for (int x = 0; x < m.n; ++x) {
            sigma[m.row[x]] = m.to[x];
            if (m.to[x] != kAlone) holder[column(m.to[x])] = m.row[x];
        }
    }
};

bool usable(double w) { return std::isfinite(w) && w >= 0.0; }

}  // namespace

Marginals sample_matchings(const Kernel& k, const std::vector<double>& row_alone,
                           const std::vector<double>& col_alone, const std::vector<int>& start, long sweeps,
                           long most_sweeps, double tolerance, uint64_t seed) {
    Marginals out;
    const int rows = k.rows;
    const size_t nnz = k.val.size();
    bool valid = true;
    for (double w : k.val) valid = valid && usable(w);
    for (double w : row_alone) valid = valid && usable(w);
    for (double w : col_alone) valid = valid && usable(w);
    if (!valid) {
        out.convergence.status = SampleStatus::Failed;
        out.convergence.error = std::numeric_limits<double>::quiet_NaN();
        return out;
    }
    Chain ch(k, row_alone, col_alone);
    for (int i = 0; i < rows; ++i) {
        const int e = ch.entry(i, start[i]);
        if (e != kAlone && ch.holder[k.col[e]] < 0) {
            ch.sigma[i] = e;
            ch.holder[k.col[e]] = i;
        }
    }
    // Only rows with a choice move; the others keep their one option.
    std::vector<int> movers;
    for (int i = 0; i < rows; ++i)
        if (ch.options(i) - (row_alone[i] > 0.0 ? 0 : 1) > 1) movers.push_back(i);

    // Rao-Blackwellised: each step adds the chosen row's probabilities
    // given where the other rows are, which carry far less noise than
    // where the row itself is. [entry], then [nnz + row] for alone.
    std::vector<double> count(nnz + rows, 0.0), sum(nnz + rows, 0.0), sumsq(nnz + rows, 0.0);
    std::vector<long> chosen(rows, 0), batches_of(rows, 0);
    std::vector<double> given(64);
    // K over the column's alone weight: what taking a free column is worth.
    std::vector<double> take(nnz);
    for (size_t e = 0; e < nnz; ++e) take[e] = col_alone[k.col[e]] > 0.0 ? k.val[e] / col_alone[k.col[e]] : 0.0;
    Random g(seed);
    const int m = int(movers.size());
    auto observe = [&](int i) {
        const int own = ch.sigma[i], c_own = ch.column(own);
        const double freed = c_own >= 0 ? col_alone[c_own] : 1.0;
        const int first = k.start[i], n = k.start[i + 1] - first;
        if (int(given.size()) < n) given.resize(n);
        double total = row_alone[i] * freed;
        for (int x = 0; x < n; ++x) {
            const int e = first + x, h = ch.holder[k.col[e]];
            given[x] = h == i ? k.val[e] : h < 0 ? take[e] * freed : 0.0;
            total += given[x];
        }
        const double scale = 1.0 / total;
        for (int x = 0; x < n; ++x) count[first + x] += given[x] * scale;
        count[nnz + i] += row_alone[i] * freed * scale;
        ++chosen[i];
    };
    auto move = [&](bool counted) {
        const int i = movers[g.below(m)];
        if (counted) observe(i);
        const Chain::Move mv = ch.propose(i, ch.draw(i, g));
        if (mv.n == 0) return;
        if (mv.n == 1) {
            // Only row i proposes this move or its reverse, each with its
            // option's weight: what is left of the ratio is the columns'.
            const int from = ch.column(ch.sigma[i]), to = ch.column(mv.to[0]);
            const double accept = (from >= 0 ? col_alone[from] : 1.0) / (to >= 0 ? col_alone[to] : 1.0);
            if (accept >= 1.0 || g.uniform() < accept) ch.apply(mv);
            return;
        }
        // Row i takes column c from row k, which moves to i's old column,
        // or is left alone where it has none there. Both columns stay held.
        const int k = mv.row[1], old = ch.sigma[i], kc = ch.sigma[k];
        const double wi_old = ch.weight(i, old), wi_new = ch.weight(i, mv.to[0]);
        const double wk_old = ch.weight(k, kc), wk_new = ch.weight(k, mv.to[1]);
        double accept;
        if (old != kAlone && mv.to[1] != kAlone) {
            // A swap: row k could have proposed it too, and either row its reverse.
            const double zi = ch.total(i), zk = ch.total(k);
            accept = (wi_new * wk_new) / (wi_old * wk_old) * (wi_old / zi + wk_old / zk) / (wi_new / zi + wk_new / zk);
        } else if (old == kAlone) {
            // Only row i proposes it; only row k its reverse.
            accept = wk_new * ch.total(i) / (wi_old * ch.total(k));
        } else {
            accept = 0.0;  // no single move leads back: i's old column is none of k's
        }
        if (accept >= 1.0 || g.uniform() < accept) ch.apply(mv);
    };
    // A chain that starts at the best matching needs little to forget it.
    for (long s = 0; m > 0 && s < sweeps * m / 4; ++s) move(false);
    const long batch = std::max(1L, sweeps * std::max(m, 1) / kBatches);
    long batches = 0, done = 0;
    double error = 0.0;
    std::vector<double> mean(nnz + rows);
    for (;;) {
        for (int b = 0; b < kBatches; ++b, ++batches) {
            for (long s = 0; m > 0 && s < batch; ++s) move(true);
            // The batch's estimates; a row that never moves keeps its one option.
            for (int i = 0; i < rows; ++i) {
                if (chosen[i] == 0) {
                    if (!std::binary_search(movers.begin(), movers.end(), i)) {
                        const size_t x = ch.sigma[i] == kAlone ? nnz + i : size_t(ch.sigma[i]);
                        sum[x] += 1.0;
                        sumsq[x] += 1.0;
                        ++batches_of[i];
                    }
                    continue;
                }
                ++batches_of[i];
                auto add = [&](size_t x) {
                    const double p = count[x] / double(chosen[i]);
                    sum[x] += p;
                    sumsq[x] += p * p;
                    count[x] = 0.0;
                };
                for (int e = k.start[i]; e < k.start[i + 1]; ++e) add(size_t(e));
                add(nnz + i);
                chosen[i] = 0;
            }
        }
        done += sweeps;
        // The standard error of each row's most probable option, the
        // probability that is reported for it.
        error = 0.0;
        auto spread = [&](size_t x, long nb) {
            const double mu = sum[x] / nb;
            const double var = std::max(0.0, sumsq[x] / nb - mu * mu) * nb / (nb - 1.0);
            return std::sqrt(var / nb);
        };
        for (int i = 0; i < rows; ++i) {
            if (batches_of[i] < 2) continue;
            size_t top = nnz + i;
            for (int e = k.start[i]; e < k.start[i + 1]; ++e)
                if (sum[e] > sum[top]) top = size_t(e);
            error = std::max(error, spread(top, batches_of[i]));
        }
        if (error <= tolerance || done + sweeps > most_sweeps) break;
    }
    (void)batches;
    out.pair.resize(nnz);
    out.row_alone.resize(rows);
    for (int i = 0; i < rows; ++i) {
        const double nb = double(std::max(batches_of[i], 1L));
        for (int e = k.start[i]; e < k.start[i + 1]; ++e) out.pair[e] = sum[e] / nb;
        out.row_alone[i] = sum[nnz + i] / nb;
    }
    out.convergence.sweeps = done;
    out.convergence.error = error;
    out.convergence.status = error <= tolerance ? SampleStatus::Converged : SampleStatus::NotConverged;
    return out;
}
