// The post-processing filters against the cheapest possible pass over a
// frame: a memcpy of one 1920 x 1080 frame, timed in the same run. Each
// filter should stay within 10 times that.
//
// Run from the build folder: bin/bench_filters [repetitions]
#include "render/Filters.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

using namespace vortigo;

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr size_t kBytes = size_t{kWidth} * kHeight * 3;

template <typename F> double medianMs(int repetitions, F&& run) {
    std::vector<double> times;
    for (int i = 0; i < repetitions; ++i) {
        const auto start = std::chrono::steady_clock::now();
        run();
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

const char* isaName(FilterIsa isa) {
    switch (isa) {
    case FilterIsa::Avx512: return "avx512";
    case FilterIsa::Avx2: return "avx2";
    case FilterIsa::Baseline: break;
    }
    return "baseline";
}

} // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
    std::mt19937 random(7);
    std::vector<uint8_t> pass0(kBytes), pass1(kBytes), work(kBytes), out(kBytes);
    for (uint8_t& v : pass0) v = static_cast<uint8_t>(random());
    for (uint8_t& v : pass1) v = static_cast<uint8_t>(random());

    // memcpy's own destination and source, apart from the filters' buffers.
    std::vector<uint8_t> copyFrom(pass0), copyTo(kBytes);
    const double copyMs =
        medianMs(repetitions, [&] { std::memcpy(copyTo.data(), copyFrom.data(), kBytes); });

    const FilterIsa chosen = filterIsa();
    std::printf("frame %dx%d, %d runs, medians\n", kWidth, kHeight, repetitions);
    std::printf("memcpy            %8.3f ms\n", copyMs);
    for (FilterIsa isa : {FilterIsa::Baseline, FilterIsa::Avx2, FilterIsa::Avx512}) {
        if (!setFilterIsa(isa)) continue;
        // Merging in place: refresh A first, outside the timing, so every run
        // sees the same input.
        std::vector<double> merge;
        for (int i = 0; i < repetitions; ++i) {
            std::memcpy(work.data(), pass0.data(), kBytes);
            merge.push_back(medianMs(1, [&] {
                superSampleMerge(work.data(), pass1.data(), kWidth, kHeight);
            }));
        }
        std::sort(merge.begin(), merge.end());
        const double mergeMs = merge[merge.size() / 2];
        const double despeckleMs = medianMs(
            repetitions, [&] { despeckle(pass0.data(), out.data(), kWidth, kHeight); });
        std::printf("%-8s merge     %8.3f ms  %5.2f x memcpy%s\n", isaName(isa), mergeMs,
                    mergeMs / copyMs, isa == chosen ? "  (chosen)" : "");
        std::printf("%-8s despeckle %8.3f ms  %5.2f x memcpy%s\n", isaName(isa), despeckleMs,
                    despeckleMs / copyMs, isa == chosen ? "  (chosen)" : "");
    }
    setFilterIsa(chosen);
    return 0;
}
