// Independent pieces of work (rows of a cost table, variants of a model)
// spread over as many threads as the machine offers: each block writes
// only its own results, so no number depends on how many there are.
#pragma once

#include <algorithm>
#include <cstddef>
#include <thread>
#include <vector>

namespace post {

// Below this much work (entries worked out) a thread costs more than it saves.
constexpr size_t kThreadedWork = 1 << 17;

// body(first, last) over [0, items) in contiguous blocks, one per thread.
template <typename F>
void in_blocks(int items, size_t work, F body) {
    const unsigned offered = std::thread::hardware_concurrency();
    const int n = work < kThreadedWork || offered < 2 ? 1 : std::min(int(std::min(offered, 8u)), items);
    if (n <= 1) {
        body(0, items);
        return;
    }
    std::vector<std::thread> threads;
    for (int b = 1; b < n; ++b)
        threads.emplace_back(body, int(long(items) * b / n), int(long(items) * (b + 1) / n));
    body(0, int(items / n));
    for (std::thread& th : threads) th.join();
}

}  // namespace post
