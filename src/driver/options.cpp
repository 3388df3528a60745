// Option parsing with CLI11; every misuse becomes one Failure line.
#include "driver/options.h"

#include <vector>

#include "driver/cli.h"
#include "io/failure.h"

#ifndef PREASSIGN_VERSION
#define PREASSIGN_VERSION "0.0.0"
#endif

std::optional<Options> parse_options(int argc, const char* const* argv, Out& out) {
    Options o;
    std::vector<std::string> rest;  // further arguments are ignored
    CLI::App app{"Assigns methyl peaks to Leu/Val residues by comparing measured and predicted PRE profiles.",
                 "preassign"};
    app.add_option("SIM", o.sim, "simulated profiles: residue number, predicted PRE, residue type")
        ->required()
        ->check(given());
    app.add_option("OBS", o.obs, "experimental profiles: peak id, PRE, PRE error, tested value, fifth value")
        ->required()
        ->check(given());
    app.add_option("rest", rest)->group("");
    app.add_option("--seed", o.seed, "seed of the random generator (default 10000)")->check(given());
    app.add_flag("-q,--quiet", o.quiet, "leave out the input echoes and the per-peak detail on standard error");
    app.add_flag("--optimal", o.optimal, "also find the minimum-energy assignment and compare");
    app.add_option("--table", o.table, "write a tab-separated table of results to FILE")
        ->type_name("FILE")
        ->check(given());
    app.add_option("--heatmap", o.heatmap, "draw the frequency matrix (with --posterior, the posterior's) as a PNG to FILE")
        ->type_name("FILE")
        ->check(given());
    auto* posterior = app.add_flag("--posterior", o.posterior,
                                   "also give each peak's posterior probabilities under a model of the errors");
    app.add_option("--model-error", o.model_error,
                   "the predictions' relative error for --posterior, in place of the fitted one (and with it no "
                   "floor and no profile's factor)")
        ->type_name("F")
        ->check(given())
        ->needs(posterior);
    app.add_option("--pcs", o.pcs,
                   "pseudocontact shifts beside the PREs: their simulated and experimental files (two profiles per "
                   "metal, ppm; from predict --tensor and import --pcs, the same peaks and residues in the same "
                   "order), weighed by --posterior")
        ->expected(2)
        ->type_name("SIM OBS")
        ->check(given())
        ->needs(posterior);
    app.add_option("--draws", o.draws,
                   "draws of fitted labels from predict --fit-labels --draws: --posterior averages over them, so "
                   "that where the labels may be is not taken as known")
        ->type_name("FILE")
        ->check(given())
        ->needs(posterior);
    app.add_flag("--shifts", o.shifts,
                 "SIM and OBS hold pseudocontact shifts (ppm), not PREs: the walk compares them as it does PREs, "
                 "--posterior weighs them as shifts");
    app.add_option("--fix", o.fix,
                   "known pairs, lines 'peak_id residue_number' (or residue_number/K for the K-th entry with that "
                   "number), held by --optimal and --posterior")
        ->type_name("FILE")
        ->check(given());
    app.footer(
        "Subcommands (each with its own --help):\n"
        "  preassign predict STRUCTURE --site CHAIN:NUMBER ...\n"
        "      predicted PREs from a structure: the SIMULATED_PROFILES file\n"
        "  preassign import (--site DIA PARA)... | (--ratios FILE)...\n"
        "      measured PREs from peak lists: the EXPERIMENTAL_PROFILES file and a peak map\n"
        "  preassign import (--pcs TABLE)... | (--pcs-lists DIA PARA)... [--ids MAP]\n"
        "      measured pseudocontact shifts, the same way\n"
        "  preassign label MAP TABLE\n"
        "      the peak list again in Sparky's format, labelled from a --posterior --table run\n"
        "\n"
        "Exit status:\n"
        "  0  the run went through\n"
        "  1  an input file could not be read or is invalid, or output could not be written\n"
        "  2  command-line misuse");
    app.set_version_flag("--version", "preassign " PREASSIGN_VERSION);

    if (!parse_command(app, argc, argv, out, "preassign [options] SIMULATED_PROFILES EXPERIMENTAL_PROFILES"))
        return std::nullopt;
    if (app.count("--model-error") > 0 && !(o.model_error >= 0.0 && o.model_error <= 10.0))
        throw Failure{kStatusUsage, "--model-error must lie between 0 and 10 (a share of the PRE) (see --help)"};
    // A result file must not overwrite an input or the other result.
    refuse_clashes({{"--table", o.table}, {"--heatmap", o.heatmap}},
                   {{"SIM", o.sim}, {"OBS", o.obs}, {"--fix", o.fix}, {"--table", o.table},
                    {"--pcs", o.pcs.empty() ? "" : o.pcs[0]}, {"--pcs", o.pcs.empty() ? "" : o.pcs[1]}, {"--draws", o.draws}});
    if (o.shifts && !o.draws.empty())
        throw Failure{kStatusUsage, "--draws are of fitted spin labels' PREs; --shifts says SIM holds shifts: give one "
                                    "(see --help)"};
    if (o.shifts && !o.pcs.empty())
        throw Failure{kStatusUsage, "--shifts says SIM and OBS hold shifts; --pcs adds shifts to PREs: give one "
                                    "(see --help)"};
    if (!o.fix.empty() && !o.optimal && !o.posterior)
        throw Failure{kStatusUsage, "--fix is used by --optimal and --posterior: give one of them (see --help)"};
    return o;
}
