#include "render/Filters.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstddef>
#include <cstring>
// GCC 12's AVX-512 conversion intrinsics start from an undefined register
// and warn about it wherever they are inlined.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
#include <mutex>
#include <system_error>
#include <thread>

// Each row loop exists as plain code (vectorised by GCC for baseline x86-64,
// and used for the ends of rows) and as AVX2 and AVX-512 versions picked at
// run time, so a release build runs on any x86-64. Every version performs,
// lane by lane, the IEEE single-precision operations of the plain loop in
// the same order; the per-file flags (-O3 -fno-trapping-math
// -ffp-contract=off) vectorise without fusing or reordering any of them, so
// the results are identical bit for bit.

namespace vortigo {
namespace {

// 1/9 as the mean of a 3 x 3 block uses it.
constexpr float kNinth = 0.11111111f;
static_assert(kNinth == 1.0f / 9.0f, "the float nearest 1/9");

// Moves s towards m by |s - m| / 128 of the way, at most all of it.
[[gnu::always_inline]] inline uint8_t blend(float s, float m) {
    float t = std::fabs(s - m) * 0.0078125f;
    t = t > 1.0f ? 1.0f : t;
    const float d = (1.0f - t) * s + t * m;
    // d lies in [0, 255]: the int conversion truncates like the byte store.
    return static_cast<uint8_t>(static_cast<int>(d));
}

// One merged row: out[i] from a[i] and the two B rows at i and i + 3 (the
// next pixel). In single precision every term is a multiple of 1/8 below 256
// and so is every partial sum, so each float operation is exact and the
// result is (4a + b0 + b0' + b1 + b1') / 8 exactly; truncating is the shift,
// and the value never exceeds 255, so the limit never applies. Integer lanes
// therefore give the float result bit for bit at a fraction of the cost.
[[gnu::always_inline]] inline void mergeRowBody(uint8_t* __restrict out,
                                                const uint8_t* __restrict a,
                                                const uint8_t* __restrict b0,
                                                const uint8_t* __restrict b1, int count) {
    for (int i = 0; i < count; ++i) {
        const unsigned sum = 4u * a[i] + b0[i] + b0[i + 3] + b1[i] + b1[i + 3];
        out[i] = static_cast<uint8_t>(sum >> 3);
    }
}

// Bottom or top row: each channel against the mean of its left and right
// neighbour (i - 3, i + 3). The byte sum and the halving are exact in float.
[[gnu::always_inline]] inline void edgeRowBody(uint8_t* __restrict out,
                                               const uint8_t* __restrict row, int count) {
    for (int i = 0; i < count; ++i) {
        const float m = static_cast<float>(row[i - 3] + row[i + 3]) * 0.5f;
        out[i] = blend(static_cast<float>(row[i]), m);
    }
}

// Inner pixels of a row: each channel against its 3 x 3 mean. The nine bytes
// sum to at most 2295, so every partial float sum is an exact integer and the
// integer sum converts to the same float whatever the order of addition.
[[gnu::always_inline]] inline void innerRowBody(uint8_t* __restrict out,
                                                const uint8_t* __restrict below,
                                                const uint8_t* __restrict row,
                                                const uint8_t* __restrict above, int count) {
    for (int i = 0; i < count; ++i) {
        const int sum = below[i - 3] + below[i] + below[i + 3] + row[i - 3] + row[i] + row[i + 3] +
                        above[i - 3] + above[i] + above[i + 3];
        const float m = static_cast<float>(sum) * kNinth;
        out[i] = blend(static_cast<float>(row[i]), m);
    }
}

struct Kernels {
    void (*mergeRow)(uint8_t*, const uint8_t*, const uint8_t*, const uint8_t*, int);
    void (*edgeRow)(uint8_t*, const uint8_t*, int);
    void (*innerRow)(uint8_t*, const uint8_t*, const uint8_t*, const uint8_t*, int);
};

// Baseline x86-64: whatever SSE2 code GCC makes of the plain loops.
void mergeRowBaseline(uint8_t* out, const uint8_t* a, const uint8_t* b0, const uint8_t* b1,
                      int count) {
    mergeRowBody(out, a, b0, b1, count);
}
void edgeRowBaseline(uint8_t* out, const uint8_t* row, int count) {
    edgeRowBody(out, row, count);
}
void innerRowBaseline(uint8_t* out, const uint8_t* below, const uint8_t* row, const uint8_t* above,
                      int count) {
    innerRowBody(out, below, row, above, count);
}
constexpr Kernels kKernelsBaseline{mergeRowBaseline, edgeRowBaseline, innerRowBaseline};

// The vector versions of the inner rows first add each channel byte to the
// ones below and above it (words, in a buffer on the stack), then add three
// of those column sums: 5 additions per channel instead of 8. The buffer
// covers a chunk of the row, so rows of any width need no allocation.
constexpr int kChunk = 1024;
static_assert(kChunk % 32 == 0, "whole vector steps");

[[gnu::always_inline]] inline void columnSums(uint16_t* __restrict columns,
                                              const uint8_t* __restrict below,
                                              const uint8_t* __restrict row,
                                              const uint8_t* __restrict above, int count) {
    for (int i = 0; i < count; ++i)
        columns[i] = uint16_t(below[i] + row[i] + above[i]);
}

// AVX2 and AVX-512, written out by hand because GCC's own vectorisation of
// the blend spills. The few bytes left at the end of a row go through the
// plain loop, which computes the same values.

#define VORTIGO_AVX2 [[gnu::target("avx2")]]
#define VORTIGO_AVX512 [[gnu::target("avx2,avx512f,avx512bw")]]

VORTIGO_AVX2 inline __m256i widen(const uint8_t* p) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

VORTIGO_AVX2 inline __m256i loadWords(const uint16_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

VORTIGO_AVX2 inline void store16(uint8_t* p, __m256i words) {
    // Values are 0 .. 255: the saturating pack keeps them.
    _mm_storeu_si128(
        reinterpret_cast<__m128i*>(p),
        _mm_packus_epi16(_mm256_castsi256_si128(words), _mm256_extracti128_si256(words, 1)));
}

VORTIGO_AVX2 void mergeRowAvx2(uint8_t* out, const uint8_t* a, const uint8_t* b0, const uint8_t* b1,
                               int count) {
    int i = 0;
    for (; i + 16 <= count; i += 16) {
        __m256i sum = _mm256_slli_epi16(widen(a + i), 2);
        sum = _mm256_add_epi16(sum, widen(b0 + i));
        sum = _mm256_add_epi16(sum, widen(b0 + i + 3));
        sum = _mm256_add_epi16(sum, widen(b1 + i));
        sum = _mm256_add_epi16(sum, widen(b1 + i + 3));
        store16(out + i, _mm256_srli_epi16(sum, 3));
    }
    mergeRowBody(out + i, a + i, b0 + i, b1 + i, count - i);
}

// blend() on 8 lanes: the same operations in the same order.
VORTIGO_AVX2 inline __m256i blend8(__m256 s, __m256 m) {
    const __m256 absMask = _mm256_castsi256_ps(_mm256_set1_epi32(0x7fffffff));
    const __m256 one = _mm256_set1_ps(1.0f);
    __m256 t =
        _mm256_mul_ps(_mm256_and_ps(_mm256_sub_ps(s, m), absMask), _mm256_set1_ps(0.0078125f));
    t = _mm256_min_ps(t, one);
    const __m256 d = _mm256_add_ps(_mm256_mul_ps(_mm256_sub_ps(one, t), s), _mm256_mul_ps(t, m));
    return _mm256_cvttps_epi32(d);
}

// Words become floats by unpacking with zero inside each 128-bit half (bytes
// become words likewise in the edge rows); the packs at the end undo exactly
// that shuffle, so no lane crosses a half and nothing is permuted.
VORTIGO_AVX2 inline __m256i load32(const uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// Centre words and sum words of 16 channels blended and packed back to 16
// words in the same order.
VORTIGO_AVX2 inline __m256i blendWords(__m256i centre, __m256i sums, __m256 scale) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256 sLow = _mm256_cvtepi32_ps(_mm256_unpacklo_epi16(centre, zero));
    const __m256 sHigh = _mm256_cvtepi32_ps(_mm256_unpackhi_epi16(centre, zero));
    const __m256 mLow = _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_unpacklo_epi16(sums, zero)), scale);
    const __m256 mHigh =
        _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_unpackhi_epi16(sums, zero)), scale);
    // Lanes are 0 .. 255: the saturating pack keeps them.
    return _mm256_packs_epi32(blend8(sLow, mLow), blend8(sHigh, mHigh));
}

// Adds the words of 32 bytes at p to low (bytes 0-7 of each half) and high.
VORTIGO_AVX2 inline void addWords(__m256i& low, __m256i& high, __m256i bytes) {
    const __m256i zero = _mm256_setzero_si256();
    low = _mm256_add_epi16(low, _mm256_unpacklo_epi8(bytes, zero));
    high = _mm256_add_epi16(high, _mm256_unpackhi_epi8(bytes, zero));
}

VORTIGO_AVX2 inline void storeBlended(uint8_t* out, __m256i low, __m256i high) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_packus_epi16(low, high));
}

VORTIGO_AVX2 void edgeRowAvx2(uint8_t* out, const uint8_t* row, int count) {
    const __m256 half = _mm256_set1_ps(0.5f);
    const __m256i zero = _mm256_setzero_si256();
    int i = 0;
    for (; i + 32 <= count; i += 32) {
        __m256i centreLow = zero, centreHigh = zero, sumLow = zero, sumHigh = zero;
        addWords(centreLow, centreHigh, load32(row + i));
        addWords(sumLow, sumHigh, load32(row + i - 3));
        addWords(sumLow, sumHigh, load32(row + i + 3));
        storeBlended(out + i, blendWords(centreLow, sumLow, half),
                     blendWords(centreHigh, sumHigh, half));
    }
    edgeRowBody(out + i, row + i, count - i);
}

VORTIGO_AVX2 void innerRowAvx2(uint8_t* out, const uint8_t* below, const uint8_t* row,
                               const uint8_t* above, int count) {
    const __m256 ninth = _mm256_set1_ps(kNinth);
    alignas(32) uint16_t columns[kChunk + 6];
    int i = 0;
    while (count - i >= 16) {
        const int n = std::min(kChunk, (count - i) / 16 * 16);
        for (int k = 0; k < n; k += 16) {
            const int at = i + k - 3;
            const __m256i sum = _mm256_add_epi16(
                _mm256_add_epi16(widen(below + at), widen(row + at)), widen(above + at));
            _mm256_store_si256(reinterpret_cast<__m256i*>(columns + k), sum);
        }
        columnSums(columns + n, below + i + n - 3, row + i + n - 3, above + i + n - 3, 6);
        for (int k = 0; k < n; k += 16) {
            const __m256i sums = _mm256_add_epi16(
                _mm256_add_epi16(loadWords(columns + k), loadWords(columns + k + 3)),
                loadWords(columns + k + 6));
            store16(out + i + k, blendWords(widen(row + i + k), sums, ninth));
        }
        i += n;
    }
    innerRowBody(out + i, below + i, row + i, above + i, count - i);
}

constexpr Kernels kKernelsAvx2{mergeRowAvx2, edgeRowAvx2, innerRowAvx2};

// 32 channel bytes per step, the sums of 16 in each register.
VORTIGO_AVX512 inline __m512i widen32(const uint8_t* p) {
    return _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
}

// 16 sums (words) scaled by `scale` and blended with the centre bytes at p.
VORTIGO_AVX512 inline void blend16x(uint8_t* out, const uint8_t* p, __m256i sums, __m512 scale) {
    const __m512 one = _mm512_set1_ps(1.0f);
    const __m512 s = _mm512_cvtepi32_ps(
        _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))));
    const __m512 m = _mm512_mul_ps(_mm512_cvtepi32_ps(_mm512_cvtepu16_epi32(sums)), scale);
    __m512 t = _mm512_mul_ps(_mm512_abs_ps(_mm512_sub_ps(s, m)), _mm512_set1_ps(0.0078125f));
    t = _mm512_min_ps(t, one);
    const __m512 d = _mm512_add_ps(_mm512_mul_ps(_mm512_sub_ps(one, t), s), _mm512_mul_ps(t, m));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm512_cvtepi32_epi8(_mm512_cvttps_epi32(d)));
}

VORTIGO_AVX512 inline void blend32x(uint8_t* out, const uint8_t* p, __m512i sums, __m512 scale) {
    blend16x(out, p, _mm512_castsi512_si256(sums), scale);
    blend16x(out + 16, p + 16, _mm512_extracti64x4_epi64(sums, 1), scale);
}

VORTIGO_AVX512 void edgeRowAvx512(uint8_t* out, const uint8_t* row, int count) {
    const __m512 half = _mm512_set1_ps(0.5f);
    int i = 0;
    for (; i + 32 <= count; i += 32)
        blend32x(out + i, row + i, _mm512_add_epi16(widen32(row + i - 3), widen32(row + i + 3)),
                 half);
    edgeRowBody(out + i, row + i, count - i);
}

VORTIGO_AVX512 void innerRowAvx512(uint8_t* out, const uint8_t* below, const uint8_t* row,
                                   const uint8_t* above, int count) {
    const __m512 ninth = _mm512_set1_ps(kNinth);
    alignas(64) uint16_t columns[kChunk + 6];
    int i = 0;
    while (count - i >= 32) {
        const int n = std::min(kChunk, (count - i) / 32 * 32);
        for (int k = 0; k < n; k += 32) {
            const int at = i + k - 3;
            const __m512i sum = _mm512_add_epi16(
                _mm512_add_epi16(widen32(below + at), widen32(row + at)), widen32(above + at));
            _mm512_store_si512(columns + k, sum);
        }
        columnSums(columns + n, below + i + n - 3, row + i + n - 3, above + i + n - 3, 6);
        for (int k = 0; k < n; k += 32) {
            const __m512i left = _mm512_loadu_si512(columns + k);
            const __m512i centre = _mm512_loadu_si512(columns + k + 3);
            const __m512i right = _mm512_loadu_si512(columns + k + 6);
            const __m512i sums = _mm512_add_epi16(_mm512_add_epi16(left, centre), right);
            blend32x(out + i + k, row + i + k, sums, ninth);
        }
        i += n;
    }
    innerRowBody(out + i, below + i, row + i, above + i, count - i);
}

VORTIGO_AVX512 void mergeRowAvx512(uint8_t* out, const uint8_t* a, const uint8_t* b0,
                                   const uint8_t* b1, int count) {
    int i = 0;
    for (; i + 32 <= count; i += 32) {
        __m512i sum = _mm512_slli_epi16(widen32(a + i), 2);
        sum = _mm512_add_epi16(sum, widen32(b0 + i));
        sum = _mm512_add_epi16(sum, widen32(b0 + i + 3));
        sum = _mm512_add_epi16(sum, widen32(b1 + i));
        sum = _mm512_add_epi16(sum, widen32(b1 + i + 3));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i),
                            _mm512_cvtepi16_epi8(_mm512_srli_epi16(sum, 3)));
    }
    mergeRowBody(out + i, a + i, b0 + i, b1 + i, count - i);
}

constexpr Kernels kKernelsAvx512{mergeRowAvx512, edgeRowAvx512, innerRowAvx512};

#undef VORTIGO_AVX2
#undef VORTIGO_AVX512

bool cpuHas(FilterIsa isa) {
    __builtin_cpu_init(); // may run before the constructors of the runtime
    switch (isa) {
    case FilterIsa::Baseline:
        return true;
    case FilterIsa::Avx2:
        return __builtin_cpu_supports("avx2");
    case FilterIsa::Avx512:
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
    }
    return false;
}

FilterIsa bestIsa() {
    if (cpuHas(FilterIsa::Avx512)) return FilterIsa::Avx512;
    if (cpuHas(FilterIsa::Avx2)) return FilterIsa::Avx2;
    return FilterIsa::Baseline;
}

// Chosen on first use, so that no static initialisation order matters.
constexpr int kIsaUnchosen = -1;
std::atomic<int> g_isa{kIsaUnchosen};

FilterIsa currentIsa() {
    int isa = g_isa.load(std::memory_order_relaxed);
    if (isa == kIsaUnchosen) {
        isa = static_cast<int>(bestIsa());
        int expected = kIsaUnchosen;
        if (!g_isa.compare_exchange_strong(expected, isa, std::memory_order_relaxed))
            isa = expected;
    }
    return static_cast<FilterIsa>(isa);
}

const Kernels& kernels() {
    switch (currentIsa()) {
    case FilterIsa::Avx512:
        return kKernelsAvx512;
    case FilterIsa::Avx2:
        return kKernelsAvx2;
    case FilterIsa::Baseline:
        break;
    }
    return kKernelsBaseline;
}

// A second thread that despeckles the upper half of large frames while the
// caller does the lower half. Started on first use and kept for the life of
// the process, so a frame costs a wake-up, not a thread creation or an
// allocation. One caller at a time; a second caller meanwhile, or a failed
// start, simply works alone.
class BandHelper {
  public:
    using Job = void (*)(const void* context, int band);

    static BandHelper& instance() {
        static BandHelper helper;
        return helper;
    }

    // Runs job(context, 1) on the helper and job(context, 0) here, and
    // returns once both are done; false, having run nothing, when the helper
    // is unavailable.
    bool run(Job job, const void* context) {
        std::unique_lock<std::mutex> caller(m_callerMutex, std::try_to_lock);
        if (!caller || !m_thread.joinable()) return false;
        {
            std::lock_guard lock(m_mutex);
            m_job = job;
            m_context = context;
            m_pending = true;
        }
        m_wake.notify_one();
        job(context, 0);
        std::unique_lock lock(m_mutex);
        m_done.wait(lock, [this] { return !m_pending && !m_working; });
        return true;
    }

    ~BandHelper() {
        if (!m_thread.joinable()) return;
        {
            std::lock_guard lock(m_mutex);
            m_quit = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }

  private:
    BandHelper() {
        if (std::thread::hardware_concurrency() < 2) return;
        try {
            m_thread = std::thread([this] { loop(); });
        } catch (const std::system_error&) {
            // Without the thread every frame is filtered on the caller.
        }
    }

    void loop() {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_pending || m_quit; });
            if (m_quit) return;
            m_pending = false;
            m_working = true;
            const Job job = m_job;
            const void* context = m_context;
            lock.unlock();
            job(context, 1);
            lock.lock();
            m_working = false;
            m_done.notify_one();
        }
    }

    std::mutex m_callerMutex;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_done;
    Job m_job = nullptr;
    const void* m_context = nullptr;
    bool m_pending = false;
    bool m_working = false;
    bool m_quit = false;
    std::thread m_thread;
};

// Below this many pixels a frame is despeckled on the caller alone: waking
// the helper would cost more than it saves.
constexpr int64_t kBandPixels = 1 << 17;

void copyPixel(uint8_t* destination, const uint8_t* source, size_t offset) {
    std::memcpy(destination + offset, source + offset, 3);
}

// Left or right column pixel at `offset`: against the mean of the pixels one
// row below and above.
void sidePixel(uint8_t* destination, const uint8_t* source, size_t offset, size_t stride) {
    for (size_t c = offset; c < offset + 3; ++c) {
        const float m = static_cast<float>(source[c - stride] + source[c + stride]) * 0.5f;
        destination[c] = blend(static_cast<float>(source[c]), m);
    }
}

} // namespace

FilterIsa filterIsa() {
    return currentIsa();
}

bool setFilterIsa(FilterIsa isa) {
    if (!cpuHas(isa)) return false;
    g_isa.store(static_cast<int>(isa), std::memory_order_relaxed);
    return true;
}

void superSampleMerge(uint8_t* a, const uint8_t* b, int width, int height) {
    if (width < 4 || height < 4) return;
    const Kernels& k = kernels();
    const size_t stride = static_cast<size_t>(width) * 3;
    const int count = (width - 3) * 3; // columns 1 .. width-3
    // Ascending rows: row y of A is read before the next step overwrites it.
    // One thread: the merge runs near memory speed already, and bands would
    // need a copy of each boundary row, which the band below still reads
    // after the band above has overwritten it.
    for (int y = 1; y <= height - 3; ++y) {
        const size_t row = static_cast<size_t>(y) * stride + 3;
        k.mergeRow(a + row - stride, a + row, b + row, b + row + stride, count);
    }
}

namespace {

struct DespeckleJob {
    const Kernels* kernels;
    const uint8_t* source;
    uint8_t* destination;
    int width;
    int height;
    int split; // band 0 takes inner rows 1 .. split-1, band 1 split .. height-2
};

// The left, inner and right pixels of rows [first, end).
void despeckleRows(const DespeckleJob& job, int first, int end) {
    const size_t stride = static_cast<size_t>(job.width) * 3;
    const size_t last = stride - 3;
    const int count = job.width > 2 ? (job.width - 2) * 3 : 0;
    const uint8_t* source = job.source;
    uint8_t* destination = job.destination;
    for (int y = first; y < end; ++y) {
        const size_t row = static_cast<size_t>(y) * stride;
        // With a width of 1 the left column is the right column: written once.
        sidePixel(destination, source, row, stride);
        if (job.width > 1) sidePixel(destination, source, row + last, stride);
        if (count > 0)
            job.kernels->innerRow(destination + row + 3, source + row - stride + 3,
                                  source + row + 3, source + row + stride + 3, count);
    }
}

void despeckleBand(const void* context, int band) {
    const DespeckleJob& job = *static_cast<const DespeckleJob*>(context);
    if (band == 0)
        despeckleRows(job, 1, job.split);
    else
        despeckleRows(job, job.split, job.height - 1);
}

} // namespace

void despeckle(const uint8_t* source, uint8_t* destination, int width, int height) {
    if (width <= 0 || height <= 0) return;
    const Kernels& k = kernels();
    const size_t stride = static_cast<size_t>(width) * 3;
    const size_t last = stride - 3; // right column's first byte
    const size_t top = static_cast<size_t>(height - 1) * stride;

    // With a height of 1 the bottom row is the top row: written once.
    if (width > 2) {
        const int count = (width - 2) * 3;
        k.edgeRow(destination + 3, source + 3, count);
        if (height > 1) k.edgeRow(destination + top + 3, source + top + 3, count);
    }
    const DespeckleJob job{&k, source, destination, width, height, height / 2};
    const bool banded = static_cast<int64_t>(width) * height >= kBandPixels &&
                        BandHelper::instance().run(despeckleBand, &job);
    if (!banded) despeckleRows(job, 1, height - 1);

    copyPixel(destination, source, 0);
    if (width > 1) copyPixel(destination, source, last);
    if (height > 1) {
        copyPixel(destination, source, top);
        if (width > 1) copyPixel(destination, source, top + last);
    }
}

namespace {

// blend() on the 16-bit scale: 1/32896 is 1/128 of the 8-bit scale's 255
// steps widened to 65535.
inline uint16_t blend16(float s, float m) {
    float t = std::fabs(s - m) * (1.0f / 32896.0f);
    t = t > 1.0f ? 1.0f : t;
    const float d = (1.0f - t) * s + t * m;
    return static_cast<uint16_t>(static_cast<int>(d));
}

} // namespace

void superSampleMerge16(uint16_t* a, const uint16_t* b, int width, int height) {
    if (width < 4 || height < 4) return;
    const size_t stride = static_cast<size_t>(width) * 3;
    const int count = (width - 3) * 3;
    for (int y = 1; y <= height - 3; ++y) {
        const size_t row = static_cast<size_t>(y) * stride + 3;
        uint16_t* out = a + row - stride;
        const uint16_t* centre = a + row;
        const uint16_t* b0 = b + row;
        const uint16_t* b1 = b + row + stride;
        for (int i = 0; i < count; ++i) {
            const uint32_t sum = 4u * centre[i] + b0[i] + b0[i + 3] + b1[i] + b1[i + 3];
            out[i] = static_cast<uint16_t>(sum >> 3);
        }
    }
}

void despeckle16(const uint16_t* source, uint16_t* destination, int width, int height) {
    if (width <= 0 || height <= 0) return;
    const ptrdiff_t stride = static_cast<ptrdiff_t>(width) * 3;
    for (int y = 0; y < height; ++y) {
        const bool bottom = y == 0, top = y == height - 1;
        for (int x = 0; x < width; ++x) {
            const bool left = x == 0, right = x == width - 1;
            const ptrdiff_t at = y * stride + static_cast<ptrdiff_t>(x) * 3;
            for (int c = 0; c < 3; ++c) {
                const ptrdiff_t i = at + c;
                const float s = source[i];
                if ((bottom || top) && (left || right)) {
                    destination[i] = source[i]; // corners keep their colour
                } else if (bottom || top) {
                    destination[i] =
                        blend16(s, static_cast<float>(source[i - 3] + source[i + 3]) * 0.5f);
                } else if (left || right) {
                    destination[i] = blend16(
                        s, static_cast<float>(source[i - stride] + source[i + stride]) * 0.5f);
                } else {
                    uint32_t sum = 0;
                    for (const ptrdiff_t r : {i - stride, i, i + stride})
                        sum += source[r - 3] + source[r] + source[r + 3];
                    destination[i] = blend16(s, static_cast<float>(sum) * kNinth);
                }
            }
        }
    }
}

} // namespace vortigo
