#include "fuzz/fix_entry.h"

#include <cmath>
#include <string_view>

#include "io/failure.h"
#include "optimum/costs.h"
#include "optimum/lap.h"
#include "posterior/posterior.h"
#include "profiles/reader.h"

namespace {

// Six peaks and six residues over two profiles, one id given twice on each
// side, so that the reader's every path can be reached.
struct Tables {
    std::unique_ptr<ProfileTable> sim = make_table(), obs = make_table();
    ReadResult r;
    Tables() {
        const double pre[6] = {3, 40, 12, 7, 90, 1};
        for (int m = 0; m < 2; ++m)
            for (int i = 0; i < 6; ++i) {
                (*obs)[m].id[i] = i == 5 ? 4 : i + 1;
                (*sim)[m].id[i] = i == 5 ? 40 : 10 * (i + 1);
                (*obs)[m].pre[i] = pre[(i + m) % 6] * 1.1;
                (*obs)[m].pre_err[i] = 1;
                (*sim)[m].pre[i] = pre[(i + 2 * m) % 6];
                (*sim)[0].restype[i] = i % 3;
                (*obs)[0].type_value[i] = 20 + i;
            }
        r.profiles = 2;
        r.maxres = 6;
        r.records = {6, 6};
        r.maxobs = 90 * 1.1;
    }
};

[[noreturn]] void fault() { __builtin_trap(); }

}  // namespace

void fuzz_fix_one(const uint8_t* data, size_t size) {
    static const Tables t;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<std::pair<int, int>> pairs;
    try {
        pairs = read_fixed_pairs(text, "FIX", (*t.obs)[0], 6, (*t.sim)[0], 6);
    } catch (const Failure& f) {
        if (f.message.rfind("FIX:", 0) != 0) fault();  // every failure names the file and line
        return;
    }
    std::vector<char> peak(6, 0), residue(6, 0);
    for (const auto& [j, r] : pairs) {
        if (j < 0 || j >= 6 || r < 0 || r >= 6 || peak[j]++ || residue[r]++) fault();
    }
    const Shape shape{2, 6};
    const std::vector<int> opt = solve_with_fixed(assignment_costs(*t.sim, *t.obs, shape), 6, pairs);
    std::vector<char> taken(6, 0);
    if (opt.size() != 6) fault();
    for (int r : opt)
        if (r < 0 || r >= 6 || taken[r]++) fault();
    for (const auto& [j, r] : pairs)
        if (opt[j] != r) fault();
    const Posterior post = compute_posterior(posterior_data(*t.sim, t.r, *t.obs, t.r, shape), {-1.0, pairs});
    if (!post.usable()) fault();
    for (int j = 0; j < post.peaks; ++j) {
        double sum = post.unassigned(j);
        for (int r = 0; r < post.residues; ++r) {
            if (!(post.p(j, r) >= 0.0 && post.p(j, r) <= 1.0 + 1e-12)) fault();
            sum += post.p(j, r);
        }
        if (!(std::fabs(sum - 1.0) < 1e-9)) fault();
    }
    for (const auto& [j, r] : pairs)
        if (post.p(j, r) != 1.0) fault();
}
