// preassign predict: the simulated-profile file from a structure.
#include <optional>
#include <sstream>
#include <string>

#include "driver/cli.h"
#include "driver/commands.h"
#include "driver/metal_command.h"
#include "io/failure.h"
#include "io/output_file.h"
#include "profiles/reader.h"
#include "fit/fit.h"
#include "structure/predict.h"

namespace {

// Sites from a file: one CHAIN:NUMBER per line, '#' starting a comment.
std::vector<SiteName> sites_from(const std::string& path) {
    std::vector<SiteName> sites;
    const std::string text = load_file(path);
    size_t start = 0;
    for (int line = 1; start < text.size(); ++line) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string s = text.substr(start, end - start);
        s = s.substr(0, s.find('#'));
        const size_t a = s.find_first_not_of(" \t\r"), b = s.find_last_not_of(" \t\r");
        if (a != std::string::npos) sites.push_back(parse_site(s.substr(a, b - a + 1), path + ":" + std::to_string(line)));
        start = end + 1;
    }
    return sites;
}

// A label of more than one point, as its points and weights.
std::string points_text(const SiteFit& f) {
    if (f.points.size() < 2) return "";
    std::ostringstream s;
    s << f.points.size() << " points (";
    for (size_t k = 0; k < f.points.size(); ++k)
        s << (k ? "; " : "") << "(" << f.points[k].x << ", " << f.points[k].y << ", " << f.points[k].z << ") weight "
          << f.weights[k];
    s << "), ";
    return s.str();
}

}  // namespace

int run_predict(int argc, const char* const* argv, Out& out, Out& err) {
    PredictOptions o;
    std::string structure, sites_file, output, nuclei = "methyl", methyl = "mean", label = "pseudo";
    std::vector<std::string> sites;
    CLI::App app{"Predicts PREs from a structure (PDB or mmCIF, plain or gzipped; every model of an ensemble), "
                 "one profile per spin-label site, as the simulated-profile file.",
                 "preassign predict"};
    app.add_option("STRUCTURE", structure, "PDB or mmCIF file")->required()->check(given());
    app.add_option("--site", sites, "a spin-label site, CHAIN:NUMBER (as A:17); repeat for more, in profile order")
        ->type_name("SITE")
        ->check(given());
    app.add_option("--sites", sites_file, "sites from a file, one CHAIN:NUMBER per line, after any --site")
        ->type_name("FILE")
        ->check(given());
    app.add_option("--nuclei", nuclei, "methyl (Leu/Val methyl carbons) or amide (backbone H); default methyl")
        ->check(CLI::IsMember({"methyl", "amide"}));
    app.add_option("--methyl", methyl,
                   "mean (of a residue's two methyls), pro-R, pro-S, or each (one entry per methyl); default mean")
        ->check(CLI::IsMember({"mean", "pro-R", "pro-S", "each"}));
    app.add_flag("--untyped", o.untyped, "also Ile CD1, Met CE, Ala CB and Thr CG2, as untyped residues");
    app.add_option("--chain", o.chain, "nuclei of this chain only")->check(given());
    app.add_option("--label", label, "pseudo (a point on CA->CB) or cloud (an accessible volume); default pseudo")
        ->check(CLI::IsMember({"pseudo", "cloud"}));
    app.add_option("--label-distance", o.label_distance,
                   "angstrom: the point's distance from CA, or the cloud's reach from CB; default 6")
        ->check(given())
        ->check(CLI::Range(0.5, 30.0));
    app.add_option("--clash", o.clash, "angstrom: cloud points nearer another residue's heavy atom are dropped; "
                                       "default 3.4")
        ->check(given())
        ->check(CLI::Range(0.0, 10.0));
    app.add_option("--tau-c", o.tau_c_ns, "ns: the correlation time; default 4")->check(given())->check(CLI::Range(1e-3, 1e3));
    app.add_option("--field", o.field_mhz, "MHz: the 1H frequency; default 600")
        ->check(given())
        ->check(CLI::Range(10.0, 2000.0));
    std::string fit_obs, centres, draws;
    FitOptions fo;
    app.add_option("--fit-labels", fit_obs,
                   "fit each site's label (a point in its residue's frame and an amplitude) jointly with the "
                   "assignment to these experimental profiles")
        ->type_name("OBS")
        ->check(given());
    app.add_option("--centres", centres, "with --fit-labels: write the fitted centres as pseudo-atoms to FILE (PDB)")
        ->type_name("FILE")
        ->check(given());
    app.add_option("--draws", draws,
                   "with --fit-labels: write " + std::to_string(kLabelDraws) + " sets of simulated profiles to FILE, each "
                   "with the fitted labels drawn from what the data allow, for --posterior --draws to average over")
        ->type_name("FILE")
        ->check(given());
    app.add_option("--points", fo.most_points,
                   "with --fit-labels: at most this many weighted points per label (1 to 3), each kept only where "
                   "the data pay for it; default 1")
        ->check(given())
        ->check(CLI::Range(1, 3));
    app.add_option("--rounds", fo.rounds, "with --fit-labels: rounds of assignment and refit in the anneal (more follow while the "
                   "centres still move); default 12")
        ->check(given())
        ->check(CLI::Range(1, 100));
    MetalArgs ma;
    app.add_option("--tensor", ma.tensors,
                   "a lanthanide's tensor file (ax, rh, x, y, z, a, b, g, mueff, ...): predict its pseudocontact "
                   "shifts, 1H then heavy atom; repeat for more metals, in profile order")
        ->type_name("FILE")
        ->check(given());
    app.add_option("--metal", ma.places,
                   "where a metal sits: an atom (A:77:CA), a point (X,Y,Z in A) or a tagged residue (A:40, its "
                   "place fitted); one per --tensor, in order, in place of the file's x, y, z")
        ->type_name("PLACE")
        ->check(given());
    app.add_option("--fit-tensors", ma.fit_obs,
                   "fit each metal's tensor (and, on a tag, its place) to these measured shifts (two profiles per "
                   "metal, 1H then heavy atom), jointly with the assignment")
        ->type_name("OBS")
        ->check(given());
    app.add_flag("--assigned", ma.assigned, "with --fit-tensors: the shifts' peak ids are residue numbers (the assignment is known)");
    app.add_flag("--fit-places", ma.fit_places,
                 "with --fit-tensors: a metal given at an atom or a point is placed by the fit, within 3 A of there "
                 "(a tag's always is)");
    app.add_option("--write-tensors", ma.write_tensors, "with --fit-tensors: write each fitted tensor to PREFIXk.txt")
        ->type_name("PREFIX")
        ->check(given());
    app.add_flag("--metal-pre", ma.relaxation,
                 "with --tensor: the metals' PREs of the 1H (Curie and dipolar, at --field) in place of their shifts");
    app.add_option("-o", output, "write the simulated profiles to FILE, whole or not at all; default standard output")
        ->type_name("FILE")
        ->check(given());
    if (!parse_command(app, argc, argv, out, "preassign predict STRUCTURE --site CHAIN:NUMBER [--site ...]"))
        return 0;
    if (!ma.tensors.empty() || !ma.places.empty() || !ma.fit_obs.empty()) {
        if (!sites.empty() || !sites_file.empty() || !fit_obs.empty())
            throw Failure{kStatusUsage, "metals (--tensor, --metal) and spin-label sites (--site, --sites, "
                                        "--fit-labels) go to separate runs, each its own simulated file (see --help)"};
        ma.structure = structure;
        ma.output = output;
        o.nuclei = nuclei == "amide" ? Nuclei::Amide : Nuclei::Methyl;
        o.methyl = methyl == "pro-R" ? MethylChoice::ProR
                   : methyl == "pro-S" ? MethylChoice::ProS
                   : methyl == "each"  ? MethylChoice::Each
                                       : MethylChoice::Mean;
        return run_metals(o, ma, out, err);
    }
    if (ma.relaxation) throw Failure{kStatusUsage, "--metal-pre goes with --tensor (see --help)"};
    for (const std::string& s : sites) o.sites.push_back(parse_site(s, "--site"));
    if (!sites_file.empty())
        for (const SiteName& s : sites_from(sites_file)) o.sites.push_back(s);
    if (o.sites.empty()) throw Failure{kStatusUsage, "predict needs a spin-label site: give --site CHAIN:NUMBER (see --help)"};
    if (o.sites.size() > size_t(kMaxProfiles))
        throw Failure{kStatusUsage, "predict takes at most " + std::to_string(kMaxProfiles) +
                                        " sites, one profile each (see --help)"};
    o.nuclei = nuclei == "amide" ? Nuclei::Amide : Nuclei::Methyl;
    o.methyl = methyl == "pro-R" ? MethylChoice::ProR
               : methyl == "pro-S" ? MethylChoice::ProS
               : methyl == "each"  ? MethylChoice::Each
                                   : MethylChoice::Mean;
    o.label = label == "cloud" ? LabelModel::Cloud : LabelModel::Pseudo;
    if (fit_obs.empty() && (!centres.empty() || !draws.empty() || app.count("--rounds") > 0 || app.count("--points") > 0))
        throw Failure{kStatusUsage, std::string(!centres.empty()             ? "--centres"
                                                : !draws.empty()             ? "--draws"
                                                : app.count("--rounds") > 0 ? "--rounds"
                                                                            : "--points") +
                                        " goes with --fit-labels (see --help)"};
    if (!draws.empty()) fo.draws = kLabelDraws;
    refuse_clashes({{"-o", output}, {"--centres", centres}, {"--draws", draws}},
                   {{"STRUCTURE", structure}, {"--sites", sites_file}, {"--fit-labels", fit_obs}, {"-o", output}});
    refuse_clashes({{"--draws", draws}}, {{"--centres", centres}});  // else one result overwrites the other

    for (const std::string& w : unit_warnings(o)) err << "preassign: warning: " << w << eol;
    const Structure st = read_structure(structure);
    for (const std::string& w : st.warnings) err << "preassign: warning: " << w << eol;
    auto obs = make_table();
    ReadResult obsr;
    if (!fit_obs.empty()) obsr = read_experimental(load_file(fit_obs), fit_obs, *obs);
    std::optional<OutputFile> file, centres_file, draws_file;
    if (!output.empty()) file.emplace(output);
    if (!centres.empty()) centres_file.emplace(centres);
    if (!draws.empty()) draws_file.emplace(draws);
    Prediction p = predict(st, o, structure);
    if (p.nuclei.size() > size_t(kMaxEntries))
        throw Failure{kStatusInput, structure + ": " + std::to_string(p.nuclei.size()) + " nuclei, more than the " +
                                        std::to_string(kMaxEntries) + " a profile holds: choose a chain with --chain"};
    for (const std::string& w : p.warnings) err << "preassign: warning: " << w << eol;
    for (const std::string& note : p.notes) err << "preassign: predict: " << note << eol;
    if (!fit_obs.empty()) {
        if (obsr.profiles != int(o.sites.size()))
            err << "preassign: warning: " << fit_obs << " holds " << obsr.profiles << " profiles for "
                << int(o.sites.size()) << " sites: profile k is fitted to site k" << eol;
        const Geometry g = geometry(st, o, structure);
        const Fitted fit = fit_labels(g, o, p, *obs, obsr, fo,
                                      [&](const std::string& line) { err << "preassign: predict: " << line << eol; });
        for (size_t s = 0; s < fit.sites.size(); ++s) {
            const SiteFit& f = fit.sites[s];
            err << "preassign: predict: site " << o.sites[s].text << " fitted: centre (" << f.u.x << ", " << f.u.y
                << ", " << f.u.z << ") A in the residue frame, (" << f.centre.x << ", " << f.centre.y << ", "
                << f.centre.z << ") in model 1, " << f.distance << " A from CB, " << points_text(f) << "amplitude "
                << f.amplitude
                << "; rms residual " << f.before << " unfitted, " << f.after << " fitted (in measurement errors; t scale "
                << f.scale << "); starts as good within "
                << f.spread << " A; " << (f.kept ? std::string("kept") : "not kept: " + f.why) << eol;
        }
        if (!fit.settled)
            err << "preassign: warning: the fitted centres still moved more than 0.2 A a round when the rounds ran out: "
                << "more rounds (--rounds " << 2 * fo.rounds << ") may place them better" << eol;
        int kept = 0;
        for (const SiteFit& f : fit.sites) kept += f.kept;
        // The posterior takes predictions as made without the data it is
        // given; fitted ones fit them better than new data would, and their
        // labels are not known, only as well as the data place them.
        if (kept > 0)
            err << "preassign: warning: " << kept << " of " << int(fit.sites.size()) << " sites' predictions were fitted "
                << "to " << fit_obs << ": a posterior run on them against that file takes the fitted labels as known, "
                << "so its probabilities may be surer than they are; "
                << (draws.empty() ? "write draws of the labels (--draws FILE) and give the posterior run --draws FILE"
                                  : "give the posterior run --draws " + draws)
                << " to average over where they may be (on generated sets 97.6 to 100 % of the peaks at 0.9 or more "
                << "were right with the draws, 94.9 to 100 % without, and without them the probabilities of methyls at "
                << "ratio noise 0.10 were less well calibrated: calibration error 0.057 against 0.030); a site's kept "
                << "says only that its fit lowered its own residuals" << eol;
        p = fit.prediction;
        if (centres_file) deliver(centres_file, centres_pdb(g, fit, o), out);
        if (draws_file) deliver(draws_file, draws_text(fit, p), out);
    }
    const std::string text = simulated_profiles_text(p);
    deliver(file, text, out);
    return 0;
}
