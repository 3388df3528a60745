// preassign import: the experimental-profile file from peak lists.
#include <optional>
#include <sys/stat.h>

#include "driver/cli.h"
#include "driver/commands.h"
#include "io/failure.h"
#include "io/output_file.h"
#include "peaks/import.h"
#include "profiles/reader.h"

namespace {

PeakList read_list(const std::string& path, bool ratios) { return read_peak_list(load_file(path), path, ratios); }

}  // namespace

int run_import(int argc, const char* const* argv, Out& out, Out& err) {
    std::vector<std::string> site, second, ratios, tolerance, delays;
    std::string output, map;
    ImportOptions o;
    CLI::App app{"Measured PREs from peak lists: per spin-label site a diamagnetic and a paramagnetic list (Sparky "
                 ".list or NMRPipe .tab), or a ratio table, as the experimental-profile file and a peak map.",
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
        ->check(CLI::Range(0.0, 10.0));
    app.add_option("--delays", delays, "s: two time points Ta < Tb, for --site (at Ta) and --second (at Tb)")
        ->expected(2)
        ->check(given());
    app.add_option("--r2", o.r2, "s^-1: the diamagnetic 1H R2, where the lists give no linewidths")
        ->check(given())
        ->check(CLI::Range(1e-6, 1e6));
    app.add_option("--mq", o.r2_mq, "s^-1: the multiple-quantum R2 of the methyl-TROSY (HMQC) form")
        ->check(given())
        ->check(CLI::Range(1e-6, 1e6));
    app.add_option("--noise", o.noise, "the lists' noise level, where they give none (for --ratios: the ratio's error)")
        ->check(given())
        ->check(CLI::Range(0.0, 1e300));
    app.add_option("--tolerance", tolerance, "ppm: pairing by position within these, 1H and 13C/15N; default 0.03 0.3")
        ->expected(2)
        ->check(given());
    app.add_option("-o", output, "write the experimental profiles to FILE, whole or not at all; default standard output")
        ->type_name("FILE")
        ->check(given());
    app.add_option("--map", map, "write the peak map to FILE; default beside -o, as FILE.map")
        ->type_name("FILE")
        ->check(given());
    if (!parse_command(app, argc, argv, out, "preassign import (--site DIA PARA)... | (--ratios FILE)..."))
        return 0;
    auto number = [](const std::string& s, const char* what) {
        try {
            size_t used = 0;
            const double v = std::stod(s, &used);
            if (used == s.size() && v >= 0.0) return v;
        } catch (...) {
        }
        throw Failure{kStatusUsage, std::string(what) + ": '" + s + "' is not a number of 0 or more (see --help)"};
    };
    if (!tolerance.empty()) {
        o.tol_h = number(tolerance[0], "--tolerance");
        o.tol_x = number(tolerance[1], "--tolerance");
    }
    if (!delays.empty()) {
        o.ta = number(delays[0], "--delays");
        o.tb = number(delays[1], "--delays");
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
    // Beside a device, a pipe or the run's own output (/dev/stdout) there is no place for the map.
    bool map_beside = !output.empty();
    struct stat st;
    if (map.empty() && map_beside &&
        (standard_stream(output) >= 0 || (::stat(output.c_str(), &st) == 0 && !S_ISREG(st.st_mode)))) {
        map_beside = false;
        err << "preassign: warning: -o " << output << " is no file of its own: no map is written beside it "
            << "(give --map FILE)" << eol;
    }
    if (map.empty() && map_beside) map = output + ".map";
    std::vector<std::pair<std::string, std::string>> inputs;
    for (const auto* v : {&site, &second, &ratios})
        for (const std::string& p : *v) inputs.emplace_back("an input list", p);
    inputs.emplace_back("-o", output);
    refuse_clashes({{"-o", output}, {"--map", map}}, inputs);

    std::vector<SiteLists> sites(n_sites);
    for (size_t s = 0; s < n_sites; ++s) {
        if (ratios.empty()) {
            sites[s].dia = read_list(site[2 * s], false);
            sites[s].para = read_list(site[2 * s + 1], false);
            if (!second.empty()) {
                sites[s].dia_b = read_list(second[2 * s], false);
                sites[s].para_b = read_list(second[2 * s + 1], false);
            }
        } else {
            sites[s].dia = read_list(ratios[s], true);
        }
    }
    if (sites[0].dia.peaks.empty()) throw Failure{kStatusInput, sites[0].dia.path + ": holds no peaks"};
    if (sites[0].dia.peaks.size() > size_t(kMaxEntries))
        throw Failure{kStatusInput, sites[0].dia.path + ": more than " + std::to_string(kMaxEntries) +
                                        " peaks, more than a profile holds"};
    std::optional<OutputFile> obs_file, map_file;
    if (!output.empty()) obs_file.emplace(output);
    if (!map.empty()) map_file.emplace(map);
    const Imported im = import_sites(sites, o);
    for (const std::string& note : im.notes) err << "preassign: import: " << note << eol;
    for (const std::string& w : im.warnings) err << "preassign: warning: " << w << eol;
    if (map_file) deliver(map_file, im.map, out);
    deliver(obs_file, im.profiles, out);
    return 0;
}
