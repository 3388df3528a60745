// Times each phase of one run on the given input pair: input, walk (cooling
// and equilibration), statistics, assignment and reports (written to memory).
// Usage: phases SIM OBS [REPEATS]; prints the median of each phase in ms.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "driver/output.h"
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
    std::vector<double> t[5];
    for (int k = 0; k < repeats; ++k) {
        CPREdata::maxres = CPREdata::numprofiles = 0;
        auto sim = make_table(), obs = make_table();
        Out out, err;
        auto t0 = Clock::now();
        const std::string st = load_file(argv[1]), ot = load_file(argv[2]);
        read_simulated(st, argv[1], *sim);
        ReadResult r = read_experimental(ot, argv[2], *obs);
        CPREdata::numprofiles = r.profiles;
        apply_ceiling(*sim, *obs, r.maxobs, out, err);
        auto t1 = Clock::now();
        CAnnealingSampler s;
        Rng rng(10000);
        run_sampler(s, *sim, *obs, rng, out);
        auto t2 = Clock::now();
        most_probable_assignment(s, CPREdata::maxres);
        auto t3 = Clock::now();
        write_reports(s, *sim, *obs, out, err);
        auto t4 = Clock::now();
        t[0].push_back(ms(t0, t1));
        t[1].push_back(ms(t1, s.stats_began));
        t[2].push_back(ms(s.stats_began, t2));
        t[3].push_back(ms(t2, t3));
        t[4].push_back(ms(t3, t4));
    }
    const char* names[] = {"input", "walk", "statistics", "assignment", "reports"};
    for (int i = 0; i < 5; ++i) {
        std::sort(t[i].begin(), t[i].end());
        std::printf("%s %.1f\n", names[i], t[i][t[i].size() / 2]);
    }
    return 0;
}
