// Both files are read and checked before anything is printed, so a bad file
// costs the user one line of error and no half-written output.
#include "driver/run.h"

#include <string>

#include "driver/failure.h"
#include "profiles/ceiling.h"
#include "profiles/reader.h"
#include "report/report.h"
#include "search/assignment.h"
#include "search/sampler.h"

namespace {

constexpr unsigned kSeed = 10000;

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
    if (argc < 3) throw Failure{kStatusUsage, "usage: preassign SIMULATED_PROFILES EXPERIMENTAL_PROFILES"};
    const std::string simname = argv[1], obsname = argv[2];
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

    Rng rng(kSeed);
    err << "Initializing" << eol << "Initialized" << eol;
    err << "Reading simulated profiles: " << std::string(sim.profiles, '.') << eol;
    CPREdata::numprofiles = sim.profiles;
    err << "NUMPROFILES simulated: " << sim.profiles << eol;
    echo_pre(*simprofiles, sim.profiles, maxres_sim, err);
    err << "Read experimental profile: " << eol << std::string(obs.profiles, '.') << eol;
    CPREdata::numprofiles = obs.profiles;
    err << "NUMPROFILES observed: " << obs.profiles << eol;
    apply_ceiling(*simprofiles, *obsprofiles, obs.maxobs, out, err);

    CAnnealingSampler sampler;
    run_sampler(sampler, *simprofiles, *obsprofiles, rng, out);
    most_probable_assignment(sampler, CPREdata::maxres);
    write_reports(sampler, *simprofiles, *obsprofiles, out, err);
    return 0;
}
