// Scaling a non-negative square matrix to row and column sums of 1: the
// doubly stochastic matrix that Sinkhorn's alternating scaling tends to,
// reached by a damped Newton method on the scalings' logarithms.
#pragma once

#include <vector>

// The entries kept, in compressed rows.
struct Kernel {
    int n = 0;
    std::vector<int> start{0}, col;  // row i: entries start[i] .. start[i + 1] - 1
    std::vector<double> val;

    void add(int c, double v) {
        col.push_back(c);
        val.push_back(v);
    }
    void end_row() { start.push_back(int(col.size())); }
};

enum class BalanceStatus {
    Converged,     // every row and column sum within the tolerance of 1
    NotConverged,  // the steps ran out or stalled; `error` says how far it got
    Failed,        // a value came out infinite or NaN: the result is unusable
};

struct Balanced {
    BalanceStatus status = BalanceStatus::Converged;
    int steps = 0;       // Newton steps, summed over the blocks
    double error = 0.0;  // largest distance of a row or column sum from 1; NaN on failure
};

// Scales k in place. match[i] is the column of row i in a perfect matching
// of positive entries. Entries that no perfect matching uses come out 0, as
// they do in the limit of Sinkhorn's scaling.
Balanced balance(Kernel& k, const std::vector<int>& match, double tolerance);

// The same for a dense n x n matrix, row-major.
Balanced balance(std::vector<double>& m, int n, const std::vector<int>& match, double tolerance);
