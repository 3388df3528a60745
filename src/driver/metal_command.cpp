// The metals' side of predict: tensors and places read and checked here,
// the physics in metal/.
#include "driver/metal_command.h"

#include <optional>

#include "driver/cli.h"
#include "io/failure.h"
#include "io/output_file.h"
#include "metal/relax.h"
#include "metal/shifts.h"
#include "profiles/profile.h"
#include "profiles/reader.h"

int run_metals(const PredictOptions& o, const MetalArgs& a, Out& out, Out& err) {
    if (a.tensors.empty())
        throw Failure{kStatusUsage, "--metal needs each metal's tensor (--tensor FILE), or --fit-tensors (see --help)"};
    if (!a.places.empty() && a.places.size() != a.tensors.size())
        throw Failure{kStatusUsage, std::to_string(a.places.size()) + " --metal for " + std::to_string(a.tensors.size()) +
                                        " --tensor: give one place per tensor, in order, or none (the files' x, y, z)"};
    const size_t profiles = a.tensors.size() * (a.relaxation ? 1 : 2);
    if (profiles > size_t(kMaxProfiles))
        throw Failure{kStatusUsage, std::to_string(a.tensors.size()) + " metals make " + std::to_string(profiles) +
                                        " profiles, more than the " + std::to_string(kMaxProfiles) + " a file holds"};
    std::vector<std::pair<std::string, std::string>> inputs{{"STRUCTURE", a.structure}};
    for (const std::string& t : a.tensors) inputs.push_back({"--tensor", t});
    refuse_clashes({{"-o", a.output}}, inputs);
    std::vector<metal::Place> places;
    for (const std::string& p : a.places) places.push_back(metal::parse_place(p, "--metal"));
    std::vector<metal::Tensor> tensors;
    for (const std::string& t : a.tensors) tensors.push_back(metal::read_tensor(load_file(t), t));
    for (const std::string& w : unit_warnings(o)) err << "preassign: warning: " << w << eol;
    const Structure st = read_structure(a.structure);
    for (const std::string& w : st.warnings) err << "preassign: warning: " << w << eol;
    std::optional<OutputFile> file;
    if (!a.output.empty()) file.emplace(a.output);
    const Geometry g = geometry(st, o, a.structure);
    if (g.nuclei.size() > size_t(kMaxEntries))
        throw Failure{kStatusInput, a.structure + ": " + std::to_string(g.nuclei.size()) + " nuclei, more than the " +
                                        std::to_string(kMaxEntries) + " a profile holds: choose a chain with --chain"};
    std::vector<metal::Metal> metals;
    for (size_t k = 0; k < tensors.size(); ++k) {
        metal::Metal m;
        m.tensor = tensors[k];
        m.name = places.empty() ? a.tensors[k] : places[k].text;
        m.at = places.empty() ? std::vector<Point>(g.models, tensors[k].at) : metal::positions(st, places[k], a.structure);
        m.tensor.at = m.at.front();
        metals.push_back(m);
    }
    // 1H frequency in MHz to tesla.
    const double field_t = o.field_mhz * 1e6 * 2.0 * M_PI / metal::kGammaH;
    const Prediction p = metal::predict_metals(g, o, metals, a.relaxation, field_t);
    for (const std::string& w : p.warnings) err << "preassign: warning: " << w << eol;
    for (const std::string& note : p.notes) err << "preassign: predict: " << note << eol;
    deliver(file, simulated_profiles_text(p), out);
    return 0;
}
