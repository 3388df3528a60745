// Marginals of a distribution over partial matchings of rows to columns, by
// Markov chain Monte Carlo. A matching's weight is the product of its pairs'
// weights, of each unmatched row's own weight and of each unmatched
// column's own weight. Exact in the limit, unlike the two quick
// approximations: balancing the kernel to a doubly stochastic matrix is
// over-sure wherever many pairings compete, and belief propagation (the
// Bethe approximation) is sure of one of two rows that could swap.
#pragma once

#include <cstdint>
#include <vector>

// The pair weights kept, in compressed rows, columns increasing in each row.
struct Kernel {
    int rows = 0, cols = 0;
    std::vector<int> start{0}, col;  // row i: entries start[i] .. start[i + 1] - 1
    std::vector<double> val;

    void add(int c, double v) {
        col.push_back(c);
        val.push_back(v);
    }
    void end_row() {
        start.push_back(int(col.size()));
        ++rows;
    }
};

enum class SampleStatus {
    Converged,     // every row's top probability has its standard error within the tolerance
    NotConverged,  // the sweeps ran out first; `error` says how far it got
    Failed,        // a weight is negative, infinite or NaN: nothing was sampled
};

struct Convergence {
    SampleStatus status = SampleStatus::Converged;
    long sweeps = 0;     // sweeps made, each one proposal per row on average
    // The largest standard error of a row's most probable option's
    // probability (from the spread of batch means); NaN on failure.
    double error = 0.0;
};

struct Marginals {
    Convergence convergence;
    std::vector<double> pair;       // per kept entry: the probability of that pair
    std::vector<double> row_alone;  // per row: the probability that it is matched to nothing
};

// `row_alone` and `col_alone` are the weights of a row or column left
// unmatched; 0 forbids it. `start` is a matching to start from (a column
// per row, -1 for alone) whose weight is not 0: the chain keeps to matchings
// of positive weight. The chain is seeded with `seed`, so the result is
// reproducible; it runs `sweeps` sweeps, and `sweeps` more at a time up to
// `most_sweeps`, until each row's top probability has a standard error
// within `tolerance`.
Marginals sample_matchings(const Kernel& k, const std::vector<double>& row_alone,
                           const std::vector<double>& col_alone, const std::vector<int>& start, long sweeps,
                           long most_sweeps, double tolerance, uint64_t seed);
