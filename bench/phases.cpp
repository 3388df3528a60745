// Times each phase of one run on the given input pair, from outside: input
// (reading and the ceiling), the search (walk and statistics), assignment
// and reports (written to memory).
// Usage: phases SIM OBS [REPEATS]; prints the median of each phase in ms.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "io/output.h"
#include "profiles/ceiling.h"
#include "profiles/reader.h"
#include "report/report.h"
#include "search/assignment.h"
#include "search/sampler.h"

using Clock = std::chrono::steady_clock;

static double ms(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: phases SIM OBS [REPEATS]\n");
        return 2;
    }
    const int repeats = argc > 3 ? std::atoi(argv[3]) : 5;
    std::vector<double> t[4];
    int exact_pairs = 0;
    for (int k = 0; k < repeats; ++k) {
        auto sim = make_table(), obs = make_table();
        Out out, err;
        auto t0 = Clock::now();
        const std::string st = load_file(argv[1]), ot = load_file(argv[2]);
        const ReadResult rs = read_simulated(st, argv[1], *sim);
        const ReadResult ro = read_experimental(ot, argv[2], *obs);
        const Shape shape = combined_shape(rs, ro);
        apply_ceiling(*sim, *obs, ro.maxobs, shape, out, err);
        auto t1 = Clock::now();
        Rng rng(10000);
        CAnnealingSampler s = run_sampler(*sim, *obs, shape, rng);
        auto t2 = Clock::now();
        exact_pairs = s.exact_pairs;
        most_probable_assignment(s, shape.maxres);
        auto t3 = Clock::now();
        write_reports(s, *sim, *obs, shape, out, err);
        auto t4 = Clock::now();
        t[0].push_back(ms(t0, t1));
        t[1].push_back(ms(t1, t2));
        t[2].push_back(ms(t2, t3));
        t[3].push_back(ms(t3, t4));
    }
    const char* names[] = {"input", "search", "assignment", "reports"};
    for (int i = 0; i < 4; ++i) {
        std::sort(t[i].begin(), t[i].end());
        std::printf("%s %.1f\n", names[i], t[i][t[i].size() / 2]);
    }
    std::printf("exact %d of %d steps (%.4f %%)\n", exact_pairs, 7224605, 100.0 * exact_pairs / 7224605);
    return 0;
}
