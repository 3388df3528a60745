// preassign import: the experimental-profile file from peak lists, of PREs
// or (as a run of its own) of pseudocontact shifts.
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>
#include <optional>
#include <sys/stat.h>
#include <tuple>

#include "driver/cli.h"
#include "driver/commands.h"
#include "io/failure.h"
#include "io/output_file.h"
#include "peaks/import.h"
#include "peaks/pcs_import.h"
#include "profiles/reader.h"

namespace {

PeakList read_list(const std::string& path, bool ratios, Out& err) {
    PeakList list = read_peak_list(load_file(path), path, ratios);
    for (const std::string& note : list.notes) err << "preassign: import: " << path << ": " << note << eol;
    return list;
}

// An option's number and what it is measured in. CLI11's own range check
// prints its bounds to 300 digits and says nothing of units, and a value
// in the wrong unit is the likeliest slip.
struct Quantity {
    double lo, hi;    // hi infinite: no upper bound
    bool lo_open;     // lo itself refused
    const char* unit; // after a bound: "s", "ppm"
    const char* ask;  // what to give instead of a word: "seconds, without a unit"
};

std::string shortest(double v) {
    char buf[32];
    return std::string(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

// The value's fault, or "" for a good one.
std::string check_quantity(const std::string& s, const Quantity& q, double* value = nullptr) {
    const char* begin = s.c_str();
    char* end = nullptr;
    const double v = s.empty() ? 0.0 : std::strtod(begin, &end);
    if (s.empty() || end != begin + s.size() || !std::isfinite(v))
        return "'" + s + "' is not a number: give " + q.ask;
    const std::string unit = *q.unit ? std::string(" ") + q.unit : "";
    if (v < q.lo || (q.lo_open && v == q.lo))
        return shortest(v) + " is " + (q.lo_open ? "not above " : "below ") + shortest(q.lo) + unit;
    if (v > q.hi) return shortest(v) + " is above " + shortest(q.hi) + unit;
    if (value) *value = v;
    return "";
}

CLI::Validator quantity(const Quantity& q) {
    return CLI::Validator([q](std::string& s) { return check_quantity(s, q); }, "", "quantity");
}

constexpr double kNoBound = std::numeric_limits<double>::infinity();
constexpr Quantity kSeconds{0.0, 10.0, false, "s", "seconds, without a unit (10 ms is 0.01)"};
constexpr Quantity kRate{0.0, 1e6, true, "s^-1", "a rate in s^-1, without a unit"};
constexpr Quantity kNoise{0.0, kNoBound, false, "", "the noise level in the lists' height units, without a unit"};
constexpr Quantity kPpm{0.0, kNoBound, true, "ppm", "ppm, without a unit"};

// The map's path: as given, else beside -o as FILE.map. Beside a device, a
// pipe or the run's own output (/dev/stdout) there is no place for it.
std::string map_path(const std::string& output, std::string map, Out& err) {
    bool map_beside = !output.empty();
    struct stat st;
    if (map.empty() && map_beside &&
        (standard_stream(output) >= 0 || (::stat(output.c_str(), &st) == 0 && !S_ISREG(st.st_mode)))) {
        map_beside = false;
        err << "preassign: warning: -o " << output << " is no file of its own: no map is written beside it "
            << "(give --map FILE)" << eol;
    }
    if (map.empty() && map_beside) map = output + ".map";
    return map;
}

// The files opened before the work, so that an unwritable place fails
// first; what the import says, then both files, whole.
void write_results(const std::string& output, const std::string& map, const std::function<Imported()>& make,
                   Out& out, Out& err) {
    std::optional<OutputFile> obs_file, map_file;
    if (!output.empty()) obs_file.emplace(output);
    if (!map.empty()) map_file.emplace(map);
    const Imported im = make();
    for (const std::string& note : im.notes) err << "preassign: import: " << note << eol;
    for (const std::string& w : im.warnings) err << "preassign: warning: " << w << eol;
    if (map_file) deliver(map_file, im.map, out);
    deliver(obs_file, im.profiles, out);
}

Failure usage(const std::string& what) { return Failure{kStatusUsage, what + " (see --help)"}; }

struct PcsArgs {
    std::vector<std::string> tables, lists;  // --pcs; --pcs-lists, two a metal
    std::string ids, output, map;
    PcsOptions o;
};

// PCS and PREs never share a run, so options of the one are refused in the
// other rather than left unused without a word.
void check_pcs_args(const CLI::App& app, const PcsArgs& a) {
    for (const char* pre : {"--delay", "--delays", "--second", "--r2", "--mq", "--noise"})
        if (app.count(pre)) throw usage(std::string(pre) + " is for PREs, not PCS");
    if (!a.tables.empty() && !a.lists.empty())
        throw usage("give every metal's PCS the same way in one run: --pcs TABLE or --pcs-lists DIA PARA");
    if (a.lists.size() % 2)
        throw usage("--pcs-lists takes two lists each time: the diamagnetic, then the paramagnetic");
    if (a.lists.empty() && (app.count("--pcs-tolerance") || app.count("--pcs-max")))
        throw usage("--pcs-tolerance and --pcs-max pair --pcs-lists; a PCS table needs neither");
    const size_t metals = a.tables.size() + a.lists.size() / 2;
    if (2 * metals > size_t(kMaxProfiles))
        throw usage("import takes at most " + std::to_string(kMaxProfiles / 2) + " metals, two profiles each");
}

int run_pcs(const CLI::App& app, PcsArgs a, Out& out, Out& err) {
    check_pcs_args(app, a);
    a.map = map_path(a.output, a.map, err);
    std::vector<std::pair<std::string, std::string>> inputs;
    for (const auto* v : {&a.tables, &a.lists})
        for (const std::string& p : *v) inputs.emplace_back("an input list", p);
    inputs.emplace_back("--ids", a.ids);
    inputs.emplace_back("-o", a.output);
    refuse_clashes({{"-o", a.output}, {"--map", a.map}}, inputs);
    IdSource ids;
    if (!a.ids.empty()) ids = {a.ids, read_peak_map(load_file(a.ids), a.ids)};
    std::vector<PcsTable> tables;
    for (const std::string& path : a.tables) {
        tables.push_back(read_pcs_table(load_file(path), path));
        for (const std::string& note : tables.back().notes) err << "preassign: import: " << path << ": " << note << eol;
    }
    std::vector<PcsLists> metals(a.lists.size() / 2);
    for (size_t m = 0; m < metals.size(); ++m) {
        metals[m].dia = read_list(a.lists[2 * m], false, err);
        metals[m].para = read_list(a.lists[2 * m + 1], false, err);
    }
    write_results(
        a.output, a.map,
        [&] { return tables.empty() ? import_pcs_lists(metals, a.o, ids) : import_pcs_tables(tables, ids); }, out,
        err);
    return 0;
}

}  // namespace

int run_import(int argc, const char* const* argv, Out& out, Out& err) {
    std::vector<std::string> site, second, ratios, tolerance, delays;
    std::string output, map;
    ImportOptions o;
    PcsArgs pcs;
    CLI::App app{"Measured PREs from peak lists: per spin-label site a diamagnetic and a paramagnetic list (Sparky "
                 ".list or NMRPipe .tab), or a ratio table, as the experimental-profile file and a peak map. Or, "
                 "in a run of their own, pseudocontact shifts: per metal a PCS table or two lists.",
                 "preassign import"};
    app.add_option("--site", site, "a site's diamagnetic and paramagnetic lists; repeat for more, in profile order")
        ->expected(2)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->type_name("DIA PARA")
        ->check(given());
    app.add_option("--ratios", ratios, "a site's table of label, Ipara/Idia and its optional error; repeat for more")
        ->type_name("FILE")
        ->check(given());
    app.add_option("--second", second, "with --delays: the same site's lists at the second time point, in order")
        ->expected(2)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->type_name("DIA PARA")
        ->check(given());
    app.add_option("--delay", o.delay, "s: the time 1H magnetisation is transverse (one time point)")
        ->check(given())
        ->check(quantity(kSeconds));
    app.add_option("--delays", delays, "s: two time points Ta < Tb, for --site (at Ta) and --second (at Tb)")
        ->expected(2)
        ->check(given());
    app.add_option("--r2", o.r2, "s^-1: the diamagnetic 1H R2, where the lists give no linewidths")
        ->check(given())
        ->check(quantity(kRate));
    app.add_option("--mq", o.r2_mq, "s^-1: the multiple-quantum R2 of the methyl-TROSY (HMQC) form")
        ->check(given())
        ->check(quantity(kRate));
    app.add_option("--noise", o.noise, "the lists' noise level, where they give none (for --ratios: the ratio's error)")
        ->check(given())
        ->check(quantity(kNoise));
    app.add_option("--tolerance", tolerance, "ppm: pairing by position within these, 1H and 13C/15N; default 0.03 0.3")
        ->expected(2)
        ->check(given());
    app.add_option("-o", output, "write the experimental profiles to FILE, whole or not at all; default standard output")
        ->type_name("FILE")
        ->check(given());
    app.add_option("--map", map, "write the peak map to FILE; default beside -o, as FILE.map")
        ->type_name("FILE")
        ->check(given());
    app.add_option("--pcs", pcs.tables,
                   "a metal's PCS table, lines 'label [atom] ppm [error]'; repeat for more, in profile order")
        ->type_name("TABLE")
        ->check(given());
    app.add_option("--pcs-lists", pcs.lists,
                   "a metal's diamagnetic and paramagnetic lists, the PCS para minus dia; repeat for more")
        ->expected(2)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->type_name("DIA PARA")
        ->check(given());
    app.add_option("--ids", pcs.ids, "with --pcs or --pcs-lists: take the peak ids of an earlier import's map")
        ->type_name("MAP")
        ->check(given());
    app.add_option("--pcs-tolerance", pcs.o.diagonal,
                   "ppm: with --pcs-lists, how far from the diagonal a partner may lie; default 0.05")
        ->check(given())
        ->check(quantity(kPpm));
    app.add_option("--pcs-max", pcs.o.max_shift, "ppm: with --pcs-lists, the largest PCS in either dimension; default 2")
        ->check(given())
        ->check(quantity(kPpm));
    if (!parse_command(app, argc, argv, out,
                       "preassign import (--site DIA PARA)... | (--ratios FILE)... | (--pcs TABLE)... | "
                       "(--pcs-lists DIA PARA)..."))
        return 0;
    const bool pcs_run = !pcs.tables.empty() || !pcs.lists.empty();
    if (pcs_run && (!site.empty() || !ratios.empty()))
        throw usage("PCS and PREs go to separate files: give --pcs or --pcs-lists in one run and --site or --ratios "
                    "in another (--ids MAP lines the second up with the first's peaks)");
    for (const char* pcs_only : {"--ids", "--pcs-tolerance", "--pcs-max"})
        if (!pcs_run && app.count(pcs_only)) throw usage(std::string(pcs_only) + " goes with --pcs or --pcs-lists");
    auto number = [](const std::string& s, const char* what, const Quantity& q) {
        double v = 0.0;
        const std::string fault = check_quantity(s, q, &v);
        if (!fault.empty()) throw Failure{kStatusUsage, std::string(what) + ": " + fault + " (see --help)"};
        return v;
    };
    if (!tolerance.empty()) {
        o.tol_h = number(tolerance[0], "--tolerance", kPpm);
        o.tol_x = number(tolerance[1], "--tolerance", kPpm);
    }
    if (pcs_run) {
        std::tie(pcs.o.tol_h, pcs.o.tol_x, pcs.output, pcs.map) = std::tie(o.tol_h, o.tol_x, output, map);
        return run_pcs(app, std::move(pcs), out, err);
    }
    if (!delays.empty()) {
        o.ta = number(delays[0], "--delays", kSeconds);
        o.tb = number(delays[1], "--delays", kSeconds);
        if (!(o.tb > o.ta)) throw Failure{kStatusUsage, "--delays: the second time point must be the later (see --help)"};
    }
    if (site.size() % 2 || second.size() % 2)
        throw Failure{kStatusUsage, std::string(site.size() % 2 ? "--site" : "--second") +
                                        " takes two lists each time: the diamagnetic, then the paramagnetic "
                                        "(see --help)"};
    if (site.empty() == ratios.empty())
        throw Failure{kStatusUsage, "import takes either --site DIA PARA or --ratios FILE, per site (see --help)"};
    if (!delays.empty() && second.size() != site.size())
        throw Failure{kStatusUsage, "--delays needs --second DIA PARA for each --site, in the same order (see --help)"};
    if (delays.empty() && !second.empty()) throw Failure{kStatusUsage, "--second needs --delays TA TB (see --help)"};
    if (delays.empty() && app.count("--delay") == 0)
        throw Failure{kStatusUsage, "give the transverse delay as --delay S (or two time points as --delays) "
                                    "(see --help)"};
    const size_t n_sites = site.empty() ? ratios.size() : site.size() / 2;
    if (n_sites > size_t(kMaxProfiles))
        throw Failure{kStatusUsage, "import takes at most " + std::to_string(kMaxProfiles) + " sites (see --help)"};
    map = map_path(output, map, err);
    std::vector<std::pair<std::string, std::string>> inputs;
    for (const auto* v : {&site, &second, &ratios})
        for (const std::string& p : *v) inputs.emplace_back("an input list", p);
    inputs.emplace_back("-o", output);
    refuse_clashes({{"-o", output}, {"--map", map}}, inputs);

    std::vector<SiteLists> sites(n_sites);
    for (size_t s = 0; s < n_sites; ++s) {
        if (ratios.empty()) {
            sites[s].dia = read_list(site[2 * s], false, err);
            sites[s].para = read_list(site[2 * s + 1], false, err);
            if (!second.empty()) {
                sites[s].dia_b = read_list(second[2 * s], false, err);
                sites[s].para_b = read_list(second[2 * s + 1], false, err);
            }
        } else {
            sites[s].dia = read_list(ratios[s], true, err);
        }
    }
    if (sites[0].dia.peaks.empty()) throw Failure{kStatusInput, sites[0].dia.path + ": holds no peaks"};
    if (sites[0].dia.peaks.size() > size_t(kMaxEntries))
        throw Failure{kStatusInput, sites[0].dia.path + ": more than " + std::to_string(kMaxEntries) +
                                        " peaks, more than a profile holds"};
    write_results(output, map, [&] { return import_sites(sites, o); }, out, err);
    return 0;
}
