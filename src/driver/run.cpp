// Both files are read and checked before anything is printed, so a bad file
// costs the user one line of error and no half-written output.
#include "driver/run.h"

#include <algorithm>
#include <string>

#include "driver/failure.h"
#include "driver/options.h"
#include "profiles/ceiling.h"
#include "profiles/reader.h"
#include "report/heatmap.h"
#include "report/optimum.h"
#include "report/report.h"
#include "report/table.h"
#include "search/assignment.h"
#include "search/sampler.h"

namespace {

void echo_pre(const ProfileTable& t, int np, int n, Out& err) {
    for (int p = 0; p < np; ++p) {
        for (int i = 0; i < n; ++i) err << t[p].pre[i] << " ";
        err << eol;
    }
    err << eol;
}

// Valid input that is probably not what the user meant.
void warn_shapes(const std::string& simname, const ReadResult& sim, const std::string& obsname,
                 const ReadResult& obs, Out& err) {
    if (sim.profiles > obs.profiles)
        err << "preassign: warning: " << simname << " holds " << sim.profiles << " profiles, " << obsname << " "
            << obs.profiles << ": only the first " << obs.profiles << " are compared" << eol;
    if (obs.profiles > sim.profiles)
        err << "preassign: warning: " << obsname << " holds " << obs.profiles << " profiles, " << simname << " "
            << sim.profiles << ": experimental profiles from " << sim.profiles
            << " on are compared with predicted PREs of 0" << eol;
    const int common = std::min(sim.profiles, obs.profiles);
    for (const auto* f : {&sim, &obs}) {
        const std::string& name = f == &sim ? simname : obsname;
        for (int p = 0; p < common; ++p)
            if (f->records[p] != CPREdata::maxres)
                err << "preassign: warning: " << name << ": profile " << p << " has " << f->records[p]
                    << " records, but " << CPREdata::maxres << " entries are searched" << eol;
    }
}

}  // namespace

int run(int argc, const char* const* argv, Out& out, Out& err) {
    const std::optional<Options> parsed = parse_options(argc, argv, out);
    if (!parsed) return 0;
    const Options& opt = *parsed;
    const std::string& simname = opt.sim;
    const std::string& obsname = opt.obs;
    CPREdata::maxres = 0;
    CPREdata::numprofiles = 0;
    auto simprofiles = make_table();
    auto obsprofiles = make_table();

    const std::string simtext = load_file(simname);
    const std::string obstext = load_file(obsname);
    const ReadResult sim = read_simulated(simtext, simname, *simprofiles);
    const int maxres_sim = CPREdata::maxres;
    const ReadResult obs = read_experimental(obstext, obsname, *obsprofiles);
    warn_shapes(simname, sim, obsname, obs, err);

    Out discard(kDiscard);
    Out& echo = opt.quiet ? discard : err;
    Rng rng(opt.seed);
    err << "Initializing" << eol << "Initialized" << eol;
    err << "Reading simulated profiles: " << std::string(sim.profiles, '.') << eol;
    CPREdata::numprofiles = sim.profiles;
    err << "NUMPROFILES simulated: " << sim.profiles << eol;
    echo_pre(*simprofiles, sim.profiles, maxres_sim, echo);
    err << "Read experimental profile: " << eol << std::string(obs.profiles, '.') << eol;
    CPREdata::numprofiles = obs.profiles;
    err << "NUMPROFILES observed: " << obs.profiles << eol;
    apply_ceiling(*simprofiles, *obsprofiles, obs.maxobs, out, err, &echo);

    CAnnealingSampler sampler;
    run_sampler(sampler, *simprofiles, *obsprofiles, rng, out);
    most_probable_assignment(sampler, CPREdata::maxres);
    write_reports(sampler, *simprofiles, *obsprofiles, out, err, &echo);

    std::vector<int> optimum;
    if (opt.optimal) optimum = write_optimum(sampler, *simprofiles, *obsprofiles, out);
    if (!opt.table.empty()) write_table(opt.table, sampler, *simprofiles, *obsprofiles, optimum);
    if (!opt.heatmap.empty())
        write_heatmap(opt.heatmap, sampler, *simprofiles, *obsprofiles, "preassign: " + simname + " vs " + obsname);
    return 0;
}
