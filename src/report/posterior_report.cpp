// Each warning names what is wrong and what to look at.
#include "report/posterior_report.h"

#include <algorithm>

void write_posterior(const Posterior& p, const std::string& obsname, Out& out, Out& err) {
    if (p.defaulted_errors > 0)
        err << "preassign: warning: " << obsname << ": " << p.defaulted_errors
            << " measured PREs have no positive error; 0.1 |PRE| + 0.5 is taken for them" << eol;
    if (p.values == 0)
        err << "preassign: warning: " << obsname << ": no PRE is measured in the profiles that both files hold: "
            << "the posterior rests on the 13C shifts alone" << eol;
    if (!p.computed) {
        out << "posterior: not computed, some peak costs are not finite" << eol;
        return;
    }
    int sure = 0, likely = 0;
    for (int j = 0; j < p.peaks && !p.prob.empty(); ++j) {
        double best = 0.0;
        for (int r = 0; r < p.residues; ++r) best = std::max(best, p.p(j, r));
        sure += best >= 0.9;
        likely += best >= 0.5;
    }
    // A posterior made by hand (no profile counted) is one of PREs.
    const bool pres = p.pre_profiles > 0 || p.shift_profiles == 0;
    out << "posterior: ";
    if (pres)
        out << "f = " << p.f
            << (!p.fitted                    ? " (given)"
                : p.f_held                     ? " (held)"
                : p.f_at_bound || p.f_at_least ? " (at the bound)"
                                               : " (fitted)");
    if (p.shift_profiles > 0)
        out << (pres ? "  " : "") << "shifts' error = " << p.pcs_f << " of the shift + " << p.pcs_a
            << " ppm" << (p.fitted ? " (fitted)" : "") << ", taken at power " << p.shift_power;
    out << "  uninformative share = " << p.eta << "  chi2 per measured value = " << p.chi2_per_value
        << "  peaks at p >= 0.9: " << sure << "  p >= 0.5: " << likely << "  of " << p.peaks
        << "  sampling error " << p.marginals.error;
    if (p.draws > 0) out << "  averaged over " << p.draws << (p.draws == 1 ? " draw" : " draws") << " of the labels";
    out << eol;
    if (p.marginals.status == SampleStatus::Failed)
        err << "preassign: warning: the posterior could not be sampled (a weight came out infinite or NaN): "
            << "its probabilities are left out of the table and the heat map" << eol;
    if (p.marginals.status == SampleStatus::NotConverged)
        err << "preassign: warning: the posterior's probabilities did not settle (standard error up to "
            << p.marginals.error << " after " << int(p.marginals.sweeps)
            << " sweeps): they are left out of the table and the heat map" << eol;
    if (p.single_profile)
        err << "preassign: warning: with one profile nothing can be held out to check that the predictions foretell "
            << "the measured PREs (a wrong label model or another site's profile would fit as well): the "
            << "probabilities take them as right up to f; check the label model. Nor can one profile measure f "
            << "(its best matching puts the values in the predictions' order): f is held at no less than "
            << kOneProfileLeastError << ", a typical prediction's error; give --model-error if yours are known"
            << eol;
    if (p.single_profile && p.eta >= kUninformative)
        err << "preassign: warning: an estimated " << int(p.eta * 100.0 + 0.5)
            << " % of the measured PREs fit their best residue worse than a residue drawn at random would: check "
            << "the label model; the probabilities allow for it" << eol;
    else if (p.eta >= kUninformative)
        err << "preassign: warning: the predictions foretell " << (p.eta >= 0.9 ? "no better than chance" : "poorly")
            << " what the other profiles measure (an estimated " << int(p.eta * 100.0 + 0.5)
            << " % of the measured PREs are unrelated to them): check the label model and that both files list "
            << "their profiles in the same order; the probabilities allow for it and stay low" << eol;
    // Where the predictions say nothing, f and chi2 describe a matching that means nothing.
    const bool informative = p.eta < 0.9;
    if (!pres) {
    } else if (p.f_at_bound)
        err << "preassign: warning: f = " << p.f << " is at the bound of its range: the predictions fit too poorly "
            << "for their error to be estimated; check the label model and the profile order, or give "
            << "--model-error" << eol;
    else if (p.f_at_least)
        err << "preassign: warning: f = " << p.f << " is at the low end of its range: the predictions fit the "
            << "measured PREs better than their errors allow; check that the third column is the PRE's standard "
            << "error (errors overstated make the probabilities too cautious) and whether the predictions were "
            << "fitted to these very data" << eol;
    else if (informative && p.fitted && p.f > kPoorFit)
        err << "preassign: warning: the predictions fit poorly (f = " << p.f << " > " << kPoorFit
            << "): check the label model and each site's scale; fewer peaks reach 0.9, and as few as 80 % of "
            << "those may be right, not 95 %" << eol;
    for (size_t m = 0; informative && p.fitted && m < p.scale.size(); ++m)
        if ((p.shift_profiles == 0 || m < size_t(p.pre_profiles)) && (p.scale[m] > kMostScale || p.scale[m] < 1.0 / kMostScale))
            err << "preassign: warning: the predictions of profile " << int(m) + 1 << " are off by a factor of "
                << p.scale[m] << " (fitted): check that site's label, tau_c and field; on sets with such "
                << "factors as few as 75 % of the peaks at 0.9 or more were right" << eol;
    if (p.shift_profiles > 0) {
    } else if (informative && p.chi2_per_value > kMostChi2)
        err << "preassign: warning: " << obsname << ": the residuals are larger than the error column and f allow "
            << "(chi2 per measured value = " << p.chi2_per_value
            << "): check that the third column is the PRE's standard error, in s^-1" << eol;
    else if (informative && !p.single_profile && p.chi2_per_value > 0.0 && p.chi2_per_value < kLeastChi2)
        err << "preassign: warning: " << obsname << ": the residuals are smaller than the error column claims "
            << "(chi2 per measured value = " << p.chi2_per_value
            << "): check that the third column is the PRE's standard error; errors overstated make the "
            << "probabilities too cautious" << eol;
}
