// Amide H placed by ideal geometry against those of a structure that has
// them: every hydrogen is stripped, H placed again, and each placed H is
// compared with the structure's own H (or HN) of its residue.
//
// Usage: amide_h STRUCTURE   (bench/amide_h.sh runs it on 1NTI)
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <vector>

#include "io/failure.h"
#include "structure/predict.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: amide_h STRUCTURE\n");
        return 2;
    }
    try {
        const Structure st = read_structure(argv[1]);
        std::vector<double> dev;
        double nh_sum = 0;
        int nh_count = 0, without = 0, gaps_total = 0;
        for (const Model& m : st.models) {
            Model bare = m;
            for (Residue& r : bare.residues) {
                std::vector<Atom> heavy;
                for (const Atom& a : r.atoms)
                    if (!a.hydrogen) heavy.push_back(a);
                r.atoms = heavy;
            }
            std::vector<AmideGap> gaps;
            place_amide_hydrogens(bare, &gaps);
            gaps_total += int(gaps.size());
            for (size_t i = 0; i < m.residues.size(); ++i) {
                const Residue& r = m.residues[i];
                const Atom* h = r.find("H");
                if (!h) h = r.find("HN");
                const Atom* n = r.find("N");
                const Atom* placed = bare.residues[i].find("H");
                if (h && n) {
                    nh_sum += std::sqrt((h->x - n->x) * (h->x - n->x) + (h->y - n->y) * (h->y - n->y) +
                                        (h->z - n->z) * (h->z - n->z));
                    ++nh_count;
                }
                if (h && !placed) ++without;
                if (!h || !placed) continue;
                dev.push_back(std::sqrt((h->x - placed->x) * (h->x - placed->x) + (h->y - placed->y) * (h->y - placed->y) +
                                        (h->z - placed->z) * (h->z - placed->z)));
            }
        }
        double sum = 0, sq = 0, most = 0;
        for (double d : dev) {
            sum += d;
            sq += d * d;
            most = std::max(most, d);
        }
        std::vector<double> sorted = dev;
        std::sort(sorted.begin(), sorted.end());
        const size_t k = dev.size();
        std::printf("models %zu  amide H compared %zu  structure's H with none placed %d  residues named as gaps %d\n",
                    st.models.size(), k, without, gaps_total);
        if (k == 0) return 1;
        std::printf("deviation (A): mean %.4f  rms %.4f  median %.4f  95th percentile %.4f  largest %.4f\n", sum / k,
                    std::sqrt(sq / k), sorted[k / 2], sorted[std::min(k - 1, size_t(0.95 * k))], most);
        std::printf("the structure's own N-H length: mean %.4f A over %d\n", nh_sum / nh_count, nh_count);
        return sum / k <= 0.1 ? 0 : 1;
    } catch (const Failure& f) {
        std::fprintf(stderr, "amide_h: %s\n", f.message.c_str());
        return 1;
    }
}
