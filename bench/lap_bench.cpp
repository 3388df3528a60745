// Times the exact assignment solver at full size: random costs, and the
// costs of an input pair when one is given. Usage: lap_bench [SIM OBS]
#include <chrono>
#include <cstdio>
#include <random>

#include "profiles/reader.h"
#include "optimum/costs.h"
#include "optimum/lap.h"

static double seconds(const std::vector<double>& cost, int n, double* energy) {
    auto t0 = std::chrono::steady_clock::now();
    std::vector<int> a = solve_assignment(cost, n);
    auto t1 = std::chrono::steady_clock::now();
    *energy = a.empty() ? -1 : assignment_energy(cost, n, a);
    return std::chrono::duration<double>(t1 - t0).count();
}

int main(int argc, char** argv) {
    const int n = 800;
    std::mt19937 gen(1);
    std::uniform_real_distribution<double> d(0, 1e4);
    std::vector<double> cost(size_t(n) * n);
    for (double& c : cost) c = d(gen);
    double e = 0;
    const double t = seconds(cost, n, &e);
    std::printf("random 800 x 800: %.3f s (energy %.6g)\n", t, e);
    if (argc > 2) {
        auto sim = make_table(), obs = make_table();
        const ReadResult rs = read_simulated(load_file(argv[1]), argv[1], *sim);
        const ReadResult ro = read_experimental(load_file(argv[2]), argv[2], *obs);
        const Shape shape = combined_shape(rs, ro);
        const int m = shape.maxres;
        auto t0 = std::chrono::steady_clock::now();
        std::vector<double> c = assignment_costs(*sim, *obs, shape);
        auto t1 = std::chrono::steady_clock::now();
        const double solve = seconds(c, m, &e);
        std::printf("input %d x %d: costs %.3f s, solve %.3f s (energy %.6g)\n", m, m,
                    std::chrono::duration<double>(t1 - t0).count(), solve, e);
    }
    return 0;
}
