#include "fuzz_entry.h"

#include <string>
#include <string_view>

#include "io/failure.h"
#include "profiles/ceiling.h"
#include "profiles/reader.h"

void fuzz_one(const uint8_t* data, size_t size) {
    if (size == 0) return;
    static auto sim = make_table();
    static auto obs = make_table();
    std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    try {
        if (data[0] & 2) {  // a file of label draws, each draw a simulated file
            for (const Draw& draw : split_draws(text, "f")) {
                const ReadResult r = read_simulated(draw.text, "f", *sim, draw.first_line);
                if (r.maxres > kMaxEntries || r.profiles > kMaxProfiles) __builtin_trap();
            }
            return;
        }
        ReadResult r = (data[0] & 1) ? read_experimental(text, "f", *obs) : read_simulated(text, "f", *sim);
        if (r.maxres > kMaxEntries || r.profiles > kMaxProfiles) __builtin_trap();
        Out out, err;
        apply_ceiling(*sim, *obs, r.maxobs, Shape{r.profiles, r.maxres}, out, err);
    } catch (const Failure&) {
    }
}
