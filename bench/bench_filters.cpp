// The post-processing filters against the cheapest possible pass over a
// frame: a memcpy of one 1920 x 1080 frame, timed in the same run. Each
// filter should stay within 10 times that with the instruction set chosen
// for this CPU; the others are shown for comparison.
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

template <typename F> double elapsedMs(F&& run) {
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

double median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

const char* isaName(FilterIsa isa) {
    switch (isa) {
    case FilterIsa::Avx512:
        return "avx512";
    case FilterIsa::Avx2:
        return "avx2";
    case FilterIsa::Baseline:
        break;
    }
    return "baseline";
}

} // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
    std::mt19937 random(7);
    std::vector<uint8_t> pass0(kBytes), pass1(kBytes), work(kBytes), out(kBytes);
    for (uint8_t& v : pass0)
        v = static_cast<uint8_t>(random());
    for (uint8_t& v : pass1)
        v = static_cast<uint8_t>(random());

    // The copy is timed on its own, back to back, so that both of its
    // buffers stay cached: the strictest yardstick.
    std::vector<uint8_t> copyFrom(pass0), copyTo(kBytes);
    std::vector<double> copy;
    for (int i = 0; i < repetitions; ++i)
        copy.push_back(elapsedMs([&] { std::memcpy(copyTo.data(), copyFrom.data(), kBytes); }));
    const double copyMs = median(copy);

    const FilterIsa chosen = filterIsa();
    std::printf("frame %dx%d, %d runs, medians\n", kWidth, kHeight, repetitions);
    std::printf("memcpy             %7.3f ms\n", copyMs);
    for (FilterIsa isa : {FilterIsa::Baseline, FilterIsa::Avx2, FilterIsa::Avx512}) {
        if (!setFilterIsa(isa)) continue;
        std::vector<double> merge, speckle;
        for (int i = 0; i < repetitions; ++i) {
            // The merge works in place: every run starts from the same pass 0.
            std::memcpy(work.data(), pass0.data(), kBytes);
            merge.push_back(
                elapsedMs([&] { superSampleMerge(work.data(), pass1.data(), kWidth, kHeight); }));
        }
        for (int i = 0; i < repetitions; ++i)
            speckle.push_back(
                elapsedMs([&] { despeckle(pass0.data(), out.data(), kWidth, kHeight); }));
        const double mergeMs = median(merge), speckleMs = median(speckle);
        const char* mark = isa == chosen ? "  (chosen)" : "";
        std::printf("%-8s merge     %7.3f ms  %5.2f x memcpy%s\n", isaName(isa), mergeMs,
                    mergeMs / copyMs, mark);
        std::printf("%-8s despeckle %7.3f ms  %5.2f x memcpy%s\n", isaName(isa), speckleMs,
                    speckleMs / copyMs, mark);
    }
    setFilterIsa(chosen);
    return 0;
}
