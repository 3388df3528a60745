#include "report/posterior_report.h"

#include <algorithm>

void write_posterior(const Posterior& p, const std::string& obsname, Out& out, Out& err) {
    if (p.defaulted_errors > 0)
        err << "preassign: warning: " << obsname << ": " << p.defaulted_errors
            << " measured PREs have no positive error; 0.1 |PRE| + 0.5 is taken for them" << eol;
    if (!p.computed) {
        out << "posterior: not computed, some peak costs are not finite" << eol;
        return;
    }
    int sure = 0, likely = 0;
    for (int j = 0; j < p.peaks; ++j) {
        double best = 0.0;
        for (int r = 0; r < p.residues; ++r) best = std::max(best, p.p(j, r));
        sure += best >= 0.9;
        likely += best >= 0.5;
    }
    out << "posterior: f = " << p.f << (p.fitted ? " (fitted)" : " (given)")
        << "  chi2 per measured value = " << p.chi2_per_value << "  peaks at p >= 0.9: " << sure
        << "  p >= 0.5: " << likely << "  of " << p.peaks << "  balanced to " << p.balanced.error << eol;
    if (p.balanced.status == BalanceStatus::Failed)
        err << "preassign: warning: balancing the posterior failed (a value came out infinite or NaN after "
            << p.balanced.steps << " steps): its probabilities are left out of the table and the heat map" << eol;
    if (p.balanced.status == BalanceStatus::NotConverged)
        err << "preassign: warning: balancing the posterior did not converge (row and column sums off by up to "
            << p.balanced.error << " after " << p.balanced.steps
            << " steps): its probabilities are left out of the table and the heat map" << eol;
    if (p.f > kPoorFit)
        err << "preassign: warning: the predictions fit poorly (f = " << p.f << " > " << kPoorFit
            << "): the posterior probabilities are only roughly calibrated" << eol;
}
