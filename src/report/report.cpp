// Frequencies are visit counts over the number of statistics samples.
#include "report/report.h"


void write_reports(const CAnnealingSampler& s, const ProfileTable& sim, const ProfileTable& obs, Shape shape,
                   Out& out, Out& err, Out* detail_to) {
    Out& detail = detail_to ? *detail_to : err;
    const int maxres = shape.maxres, np = shape.numprofiles;
    const double samples = s.samples();
    err << "FINAL results:  Most probable assigment for each peak id" << eol;
    if (maxres > 0) {
        for (int j = 0; j < maxres; ++j) {
            const int r = s.assign[j];
            for (int m = 0; m < np; ++m) {
                detail << "profile: " << m << " peak id: " << obs[m].id[j] << " res assign: " << sim[m].id[r]
                    << "   PRE sim vs obs:    " << sim[m].pre[r] << " ?= " << obs[m].pre[j]
                    << " Probability:  " << s.visit(j, r) / samples << "      " << obs[m].type_value[j] << " ";
                if (sim[m].restype[r] == kLeu) detail << "Leu";
                if (sim[m].restype[r] == kVal) detail << "Val";
                detail << eol;
            }
            detail << eol;
        }
        for (int j = 0; j < maxres; ++j) out << s.assign[j] << " ";
    }
    out << eol << eol << eol;
    out << "     ";
    for (int r = 0; r < maxres; ++r) {
        out.fixed(sim[0].id[r], 5, 0);
        out << ' ';
    }
    out << eol;
    for (int j = 0; j < maxres; ++j) {
        out.fixed(obs[0].id[j], 4, 0);
        out << ' ';
        for (int r = 0; r < maxres; ++r) {
            // Most cells were never visited.
            if (s.visit(j, r) == 0.0) {
                out << " 0.00 ";
                continue;
            }
            out.fixed(s.visit(j, r) / samples, 5, 2);
            out << ' ';
        }
        out << eol;
    }
    out << "number of steps for cooling         : " << s.ncool << eol;
    out << "number of steps for equilibration   : " << kEquilSteps << eol;
    out << "number of steps for statistics      : " << s.samples() << eol;
}
