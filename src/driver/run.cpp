// Both files are read and checked, and the result files opened, before
// anything is printed, so a bad file or path costs the user one line of
// error and no half-written output.
#include "driver/run.h"

#include <algorithm>
#include <memory>
#include <new>
#include <optional>
#include <string>

#include "driver/commands.h"
#include "driver/draws.h"
#include "driver/options.h"
#include "io/failure.h"
#include "io/output_file.h"
#include "optimum/costs.h"
#include "posterior/posterior.h"
#include "profiles/ceiling.h"
#include "profiles/reader.h"
#include "report/heatmap.h"
#include "report/optimum.h"
#include "report/posterior_report.h"
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
                 const ReadResult& obs, int maxres, Out& err) {
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
            if (f->records[p] != maxres)
                err << "preassign: warning: " << name << ": profile " << p << " has " << f->records[p]
                    << " records, but " << maxres << " entries are searched" << eol;
    }
}

// Files that read, but probably not as meant; each warning says where.
void warn_records(const std::string& name, const ReadResult& f, const ProfileTable& t, const char* what,
                  int maxres, bool may_repeat, Out& err) {
    if (f.profiles == 0) {
        err << "preassign: warning: " << name << " holds no records" << eol;
        return;
    }
    // Records run over lines as the format reads them, but rarely on purpose.
    if (f.odd_line > 0)
        err << "preassign: warning: " << name << ":" << f.odd_line << ": " << f.odd
            << ": records are read across lines, so the numbers may not be where meant" << eol;
    // A residue's two methyls, one entry each, share its number; peaks do not.
    if (f.repeat_line > 0 && !may_repeat)
        err << "preassign: warning: " << name << ":" << f.repeat_line << ": " << what << " " << f.repeat_id
            << " repeats the one before it: ids should increase within a profile (a new profile begins where "
            << "they go down)" << eol;
    // Profiles are compared entry by entry, so their ids should agree.
    int differ = 0, fp = 0, fi = 0;
    for (int p = 1; p < f.profiles; ++p)
        for (int i = 0; i < std::min(f.records[0], f.records[p]); ++i)
            if (t[p].id[i] != t[0].id[i] && differ++ == 0) {
                fp = p;
                fi = i;
            }
    if (differ > 0)
        err << "preassign: warning: " << name << ":" << f.lines[fp][fi] << ": profile " << fp << " gives " << what
            << " " << t[fp].id[fi] << " at entry " << fi << ", where profile 0 gives " << t[0].id[fi] << " ("
            << differ << " entries differ): profiles are compared entry by entry, so each should list every "
            << what << " in the same order" << eol;
    if (!f.ends_in_space && f.records.back() > maxres)
        err << "preassign: warning: " << name << ":" << f.lines.back().back()
            << ": the last record is left out of the search: the file does not end with a newline, so only the "
            << "records before it count; add one" << eol;
}

// Below 0 a PRE means nothing, yet only -999 is read as "not measured".
void warn_negative(const std::string& name, const ReadResult& f, Out& err) {
    if (f.negative == 0) return;
    err << "preassign: warning: " << name << ":" << f.negative_line << ": measured PRE " << f.negative_value
        << " is below 0 and not -999, the mark for no value: it is used as a measurement (" << f.negative
        << (f.negative == 1 ? " such value" : " such values") << " in the file)" << eol;
}

void warn_unbounded(const std::vector<int>& peaks, const ProfileTable& obs, Out& err) {
    if (peaks.empty()) return;
    err << "preassign: warning: the cost of " << int(peaks.size()) << " peaks (the first: peak id "
        << obs[0].id[peaks[0]] << ") is not finite on some residues (values near 1e300): the walk cannot weigh "
        << "those assignments against others" << eol;
}

}  // namespace

int run(int argc, const char* const* argv, Out& out, Out& err) {
    // A subcommand by its bare name; a file so named is given as ./name.
    if (argc > 1) {
        const std::string first = argv[1];
        if (first == "predict") return run_predict(argc - 1, argv + 1, out, err);
        if (first == "import") return run_import(argc - 1, argv + 1, out, err);
        if (first == "label") return run_label(argc - 1, argv + 1, out, err);
    }
    const std::optional<Options> parsed = parse_options(argc, argv, out);
    if (!parsed) return 0;
    const Options& opt = *parsed;
    const std::string& simname = opt.sim;
    const std::string& obsname = opt.obs;
    auto simprofiles = make_table();
    auto obsprofiles = make_table();

    const std::string simtext = load_file(simname);
    const std::string obstext = load_file(obsname);
    const ReadResult sim = read_simulated(simtext, simname, *simprofiles);
    const ReadResult obs = read_experimental(obstext, obsname, *obsprofiles);
    const Shape shape = combined_shape(sim, obs);
    const PosteriorExtent extent = posterior_extent(sim, obs, shape);
    std::vector<std::pair<int, int>> fixed;
    if (!opt.fix.empty())
        fixed = read_fixed_pairs(load_file(opt.fix), opt.fix, (*obsprofiles)[0], extent.peaks, (*simprofiles)[0],
                                 extent.residues);
    if (!opt.fix.empty() && fixed.empty()) err << "preassign: warning: " << opt.fix << " holds no pairs" << eol;
    // The shifts' files are checked here too, before the walk prints: their
    // counts against a stand-in of the PREs' extent (the values come after the ceiling).
    std::unique_ptr<ProfileTable> pcs_sim, pcs_obs;
    ReadResult pcs_simr, pcs_obsr;
    if (!opt.pcs.empty()) {
        pcs_sim = make_table();
        pcs_obs = make_table();
        pcs_simr = read_simulated(load_file(opt.pcs[0]), opt.pcs[0], *pcs_sim);
        pcs_obsr = read_experimental(load_file(opt.pcs[1]), opt.pcs[1], *pcs_obs);
        check_same_entries(*obsprofiles, *pcs_obs, extent.peaks, opt.pcs[1], "peak id");
        check_same_entries(*simprofiles, *pcs_sim, extent.residues, opt.pcs[0], "residue number");
        PosteriorData probe;
        probe.profiles = extent.profiles;
        probe.peaks = extent.peaks;
        probe.residues = extent.residues;
        probe.meas.assign(size_t(extent.profiles) * size_t(extent.peaks), MISSING_PRE);
        probe.err.assign(probe.meas.size(), 0.0);
        probe.pred.assign(size_t(extent.profiles) * size_t(extent.residues), 0.0);
        append_shifts(probe, *pcs_sim, pcs_simr, opt.pcs[0], *pcs_obs, pcs_obsr, opt.pcs[1]);
    }
    std::vector<Draw> draws;
    std::unique_ptr<ProfileTable> raw_obs;  // the draws' own ceilings start from it
    if (!opt.draws.empty()) {
        draws = read_draws(opt.draws, *simprofiles, sim);
        raw_obs = std::make_unique<ProfileTable>(*obsprofiles);
    }
    std::optional<OutputFile> table, heatmap;
    if (!opt.table.empty()) table.emplace(opt.table);
    if (!opt.heatmap.empty()) heatmap.emplace(opt.heatmap);
    warn_shapes(simname, sim, obsname, obs, shape.maxres, err);
    warn_records(simname, sim, *simprofiles, "residue number", shape.maxres, true, err);
    warn_records(obsname, obs, *obsprofiles, "peak id", shape.maxres, false, err);
    if (!opt.shifts) warn_negative(obsname, obs, err);

    Out discard(kDiscard);
    Out& echo = opt.quiet ? discard : err;
    Rng rng(opt.seed);
    err << "Initializing" << eol << "Initialized" << eol;
    err << "Reading simulated profiles: " << std::string(sim.profiles, '.') << eol;
    err << "NUMPROFILES simulated: " << sim.profiles << eol;
    echo_pre(*simprofiles, sim.profiles, sim.maxres, echo);
    err << "Read experimental profile: " << eol << std::string(obs.profiles, '.') << eol;
    err << "NUMPROFILES observed: " << obs.profiles << eol;
    apply_ceiling(*simprofiles, *obsprofiles, obs.maxobs, shape, out, err, &echo);
    warn_unbounded(peaks_with_unbounded_cost(*simprofiles, *obsprofiles, shape), *obsprofiles, err);

    CAnnealingSampler sampler = run_sampler(*simprofiles, *obsprofiles, shape, rng,
                                            [&](double u) { out << "first RANDOM number:  " << u << eol; });
    most_probable_assignment(sampler, shape.maxres);
    write_reports(sampler, *simprofiles, *obsprofiles, shape, out, err, &echo);

    TableColumns columns;
    columns.optimal_column = opt.optimal;
    columns.peak_records = obs.records.empty() ? 0 : obs.records[0];
    columns.residue_records = sim.records.empty() ? 0 : sim.records[0];
    if (opt.optimal) columns.optimal = write_optimum(sampler, *simprofiles, *obsprofiles, shape, out,
                                                  opt.fix.empty() ? nullptr : &fixed);
    Posterior posterior;
    if (opt.posterior) {
        // The tables given are clipped; `held` and `draw` as for a draw of the labels.
        auto posterior_of = [&](const ProfileTable& s, const ReadResult& sr, const ProfileTable& o,
                                const Posterior* held, int draw) {
            PosteriorData data = posterior_data(s, sr, o, obs, shape);
            if (opt.shifts) data.pcs.assign(size_t(data.profiles), 1);
            if (!opt.pcs.empty()) append_shifts(data, *pcs_sim, pcs_simr, opt.pcs[0], *pcs_obs, pcs_obsr, opt.pcs[1]);
            return compute_posterior(data, PosteriorOptions{opt.model_error, fixed, held,
                                                            held ? int(draws.size()) : 1, draw});
        };
        posterior = posterior_of(*simprofiles, sim, *obsprofiles, nullptr, 0);
        const Posterior best = posterior;
        if (!draws.empty() && best.computed)
            average_over_draws(posterior, draws, opt.draws, [&](const ProfileTable& s, const ReadResult& sr, int k) {
                auto clipped_sim = std::make_unique<ProfileTable>(s);
                auto clipped_obs = std::make_unique<ProfileTable>(*raw_obs);
                apply_ceiling(*clipped_sim, *clipped_obs, obs.maxobs, shape, discard, discard);
                return posterior_of(*clipped_sim, sr, *clipped_obs, &best, k + 1);
            });
        write_posterior(posterior, obsname, out, err);
        columns.posterior = &posterior;
    }
    if (!opt.fix.empty()) {
        columns.fixed.assign(shape.maxres, 0);
        for (const auto& pair : fixed) columns.fixed[pair.first] = 1;
    }
    // A result written through standard output or error follows what the run printed there.
    out.flush();
    err.flush();
    if (table) write_table(*table, sampler, *simprofiles, *obsprofiles, shape, columns);
    if (heatmap) {
        const std::string title = "preassign: " + simname + " vs " + obsname;
        if (posterior.usable())
            write_heatmap(*heatmap, posterior_matrix(posterior, *simprofiles, *obsprofiles),
                          title + ", posterior probability");
        else
            write_heatmap(*heatmap, walk_matrix(sampler, shape, *simprofiles, *obsprofiles), title);
    }
    return 0;
}

int report_failures(Out& msg, const std::function<int()>& body) {
    std::string text;
    int status = kStatusInput;
    try {
        return body();
    } catch (const Failure& f) {
        text = f.message;
        status = f.status;
    } catch (const std::bad_alloc&) {
        text = "out of memory";
    } catch (const std::exception& e) {
        text = std::string("unexpected error: ") + e.what();
    } catch (...) {
        text = "unexpected error";
    }
    msg << "preassign: " << text << '\n';
    try {
        msg.flush();
    } catch (const Failure&) {
    }
    return status;
}
