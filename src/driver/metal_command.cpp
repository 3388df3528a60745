// The metals' side of predict: tensors and places read and checked here,
// the physics in metal/.
#include "driver/metal_command.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "driver/cli.h"
#include "io/failure.h"
#include "io/output_file.h"
#include "metal/relax.h"
#include "metal/shifts.h"
#include "pcsfit/tensor_fit.h"
#include "profiles/profile.h"
#include "profiles/reader.h"

namespace {

// The metals' places, one per metal: --metal where given, else the tensor
// file's point.
std::vector<metal::Place> places_of(const MetalArgs& a, const std::vector<metal::Tensor>& tensors) {
    std::vector<metal::Place> places;
    for (const std::string& p : a.places) places.push_back(metal::parse_place(p, "--metal"));
    if (places.empty())
        for (const metal::Tensor& t : tensors) {
            metal::Place p;
            p.at = t.at;
            p.text = std::to_string(t.at.x) + "," + std::to_string(t.at.y) + "," + std::to_string(t.at.z);
            places.push_back(p);
        }
    return places;
}

// Metals at the same place share it (where `share`).
std::vector<pcsfit::Group> groups_of(const Structure& st, const std::vector<metal::Place>& places, bool share,
                                     PredictOptions& o, const std::string& path) {
    std::vector<pcsfit::Group> groups;
    for (size_t k = 0; k < places.size(); ++k) {
        auto it = std::find_if(groups.begin(), groups.end(),
                               [&](const pcsfit::Group& g) { return g.place.text == places[k].text; });
        if (it == groups.end() || !share) {
            pcsfit::Group g;
            g.place = places[k];
            if (places[k].kind == metal::Place::Kind::Tag) {
                g.site = int(o.sites.size());
                o.sites.push_back(places[k].residue);
            } else
                g.start = metal::positions(st, places[k], path);
            groups.push_back(g);
            it = groups.end() - 1;
        }
        it->metals.push_back(int(k));
    }
    return groups;
}

std::string fit_line(size_t k, const pcsfit::MetalFit& f) {
    char buf[320];
    std::snprintf(buf, sizeof buf,
                  "metal %zu fitted: ax %.3f, rh %.3f x 1e-32 m^3, at (%.3f, %.3f, %.3f), angles %.1f %.1f %.1f; Q %.4f "
                  "over %d values; runner-up differs by %.2f of its size",
                  k + 1, f.tensor.ax, f.tensor.rh, f.tensor.at.x, f.tensor.at.y, f.tensor.at.z, f.tensor.alpha,
                  f.tensor.beta, f.tensor.gamma, f.q, f.values, f.spread);
    return buf;
}

}  // namespace

int run_metals(const PredictOptions& opt, const MetalArgs& a, Out& out, Out& err) {
    PredictOptions o = opt;
    const bool fit = !a.fit_obs.empty();
    if (!fit && (a.assigned || a.fit_places || !a.write_tensors.empty()))
        throw Failure{kStatusUsage, std::string(a.assigned ? "--assigned" : a.fit_places ? "--fit-places" : "--write-tensors") +
                                        " goes with --fit-tensors (see --help)"};
    if (a.tensors.empty() && !fit)
        throw Failure{kStatusUsage, "--metal needs each metal's tensor (--tensor FILE), or --fit-tensors (see --help)"};
    if (fit && a.places.empty() && a.tensors.empty())
        throw Failure{kStatusUsage, "--fit-tensors needs each metal's place (--metal), in profile order"};
    if (!a.places.empty() && !a.tensors.empty() && a.places.size() != a.tensors.size())
        throw Failure{kStatusUsage, std::to_string(a.places.size()) + " --metal for " + std::to_string(a.tensors.size()) +
                                        " --tensor: give one place per tensor, in order, or none (the files' x, y, z)"};
    const size_t count = a.tensors.empty() ? a.places.size() : a.tensors.size();
    const size_t profiles = count * (a.relaxation ? 1 : 2);
    if (profiles > size_t(kMaxProfiles))
        throw Failure{kStatusUsage, std::to_string(count) + " metals make " + std::to_string(profiles) +
                                        " profiles, more than the " + std::to_string(kMaxProfiles) + " a file holds"};
    if (fit && a.relaxation) throw Failure{kStatusUsage, "--metal-pre does not go with --fit-tensors: fit the shifts, "
                                                         "then predict PREs from the tensors written"};
    std::vector<std::pair<std::string, std::string>> inputs{{"STRUCTURE", a.structure}, {"--fit-tensors", a.fit_obs}};
    for (const std::string& t : a.tensors) inputs.push_back({"--tensor", t});
    refuse_clashes({{"-o", a.output}}, inputs);
    std::vector<metal::Tensor> tensors;
    for (const std::string& t : a.tensors) tensors.push_back(metal::read_tensor(load_file(t), t));
    for (const metal::Tensor& t : tensors)
        for (const std::string& w : t.warnings) err << "preassign: warning: " << w << eol;
    // A file without the metal's place would put it at the origin of the structure's frame.
    if (a.places.empty())
        for (size_t k = 0; k < tensors.size(); ++k)
            if (!tensors[k].placed)
                throw Failure{kStatusInput, a.tensors[k] + ": gives no place for the metal (x, y and z, as "
                                                           "'x | 1E-10 m : 25.8'): add it, or give --metal"};
    // Without a moment or a tumbling time every PRE would be 0: not a prediction.
    if (a.relaxation)
        for (size_t k = 0; k < tensors.size(); ++k)
            if (!(tensors[k].mueff > 0.0) || !(tensors[k].taur_ns > 0.0))
                throw Failure{kStatusInput, a.tensors[k] + ": --metal-pre needs the metal's mueff and taur above 0 "
                                                           "(as 'mueff | Bm : 9.581' and 'taur | ns : 4.25'), or "
                                                           "every PRE would be 0"};
    if (tensors.empty()) tensors.resize(count);
    const std::vector<metal::Place> places = places_of(a, tensors);
    for (const std::string& w : unit_warnings(o)) err << "preassign: warning: " << w << eol;
    const Structure st = read_structure(a.structure);
    for (const std::string& w : st.warnings) err << "preassign: warning: " << w << eol;
    auto obs = make_table();
    ReadResult obsr;
    if (fit) obsr = read_experimental(load_file(a.fit_obs), a.fit_obs, *obs);
    std::optional<OutputFile> file;
    if (!a.output.empty()) file.emplace(a.output);
    const std::vector<pcsfit::Group> groups = groups_of(st, places, true, o, a.structure);
    const Geometry g = geometry(st, o, a.structure);
    if (g.nuclei.size() > size_t(kMaxEntries))
        throw Failure{kStatusInput, a.structure + ": " + std::to_string(g.nuclei.size()) + " nuclei, more than the " +
                                        std::to_string(kMaxEntries) + " a profile holds: choose a chain with --chain"};
    // The simulated file starts a profile where the residue number goes down.
    if (profiles > 1 && g.nuclei.front().residue == g.nuclei.back().residue)
        throw Failure{kStatusInput, a.structure + ": only residue " + std::to_string(g.nuclei.front().residue) +
                                        " gives nuclei, so the " + std::to_string(profiles) +
                                        " profiles of the simulated file, which starts a new profile where the "
                                        "residue number goes down, would read back as one: choose more nuclei"};
    std::vector<metal::Metal> metals(count);
    if (fit) {
        const pcsfit::Measured d = pcsfit::measured_of(*obs, obsr, int(count), a.fit_obs);
        pcsfit::FitOptions fo;
        fo.assigned = a.assigned;
        fo.fit_places = a.fit_places;
        const pcsfit::TensorFit f = pcsfit::fit_tensors(g, o.nuclei == Nuclei::Amide, d, groups, tensors, fo);
        for (const std::string& n : f.notes) err << "preassign: predict: " << n << eol;
        for (size_t k = 0; k < count; ++k) err << "preassign: predict: " << fit_line(k, f.metals[k]) << eol;
        if (!f.reliable)
            throw Failure{kStatusInput, a.fit_obs + ": no reliable tensor fit was found (" + f.why +
                                            "): nothing is written, and no assignment should be drawn from it"};
        for (size_t k = 0; k < count; ++k) tensors[k] = f.metals[k].tensor;
        // The posterior takes predictions as made without the data it is
        // given; tensors fitted to them fit them better than new data would.
        if (!a.assigned)
            err << "preassign: warning: the tensors were fitted to " << a.fit_obs << " together with the assignment: "
                << "a posterior run on these predictions against that file takes them as independent of it, so its "
                << "probabilities may be surer than they are (on calbindin over three shuffles, 120 of 120 peaks at 0.9 "
                << "or more were right, and 104 of 106 with the place fitted)" << eol;
        if (!a.write_tensors.empty())
            for (size_t k = 0; k < count; ++k) {
                std::optional<OutputFile> t;
                t.emplace(a.write_tensors + std::to_string(k + 1) + ".txt");
                deliver(t, metal::tensor_text(tensors[k]), out);
            }
    }
    for (const pcsfit::Group& gr : groups)
        for (int k : gr.metals) {
            metal::Metal& m = metals[size_t(k)];
            m.tensor = tensors[size_t(k)];
            m.name = a.places.empty() ? a.tensors[size_t(k)] : places[size_t(k)].text;  // the file, where it places
            m.at = gr.site >= 0 || fit ? std::vector<Point>(g.models, tensors[size_t(k)].at) : gr.start;
            if (!fit) m.tensor.at = m.at.front();
        }
    // 1H frequency in MHz to tesla.
    const double field_t = o.field_mhz * 1e6 * 2.0 * M_PI / metal::kGammaH;
    const Prediction p = metal::predict_metals(g, o, metals, a.relaxation, field_t);
    for (const std::string& w : p.warnings) err << "preassign: warning: " << w << eol;
    for (const std::string& note : p.notes) err << "preassign: predict: " << note << eol;
    deliver(file, simulated_profiles_text(p), out);
    return 0;
}
