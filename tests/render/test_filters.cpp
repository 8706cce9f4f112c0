#include "render/Filters.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace vortigo {
namespace {

// ---- Scalar references: the rules written out literally, one accumulator
// operation at a time, in single precision.

struct Acc {
    float c[3] = {0, 0, 0};
};

const uint8_t* pixelAt(const uint8_t* f, int w, int x, int y) {
    return f + (size_t(y) * w + x) * 3;
}

void addPixel(Acc& acc, const uint8_t* p) {
    for (int c = 0; c < 3; ++c)
        acc.c[c] = acc.c[c] + float(p[c]);
}

void blendInto(uint8_t* d, const uint8_t* s, const Acc& m) {
    for (int c = 0; c < 3; ++c) {
        float t = std::fabs(float(s[c]) - m.c[c]) * 0.0078125f;
        if (t > 1.0f) t = 1.0f;
        const float u = 1.0f - t;
        const float a = u * float(s[c]);
        const float b = t * m.c[c];
        d[c] = uint8_t(int(a + b));
    }
}

void superSampleMergeReference(uint8_t* a, const uint8_t* b, int w, int h) {
    for (int y = 1; y <= h - 3; ++y)
        for (int x = 1; x <= w - 3; ++x) {
            const uint8_t* p[4] = {pixelAt(b, w, x, y), pixelAt(b, w, x + 1, y),
                                   pixelAt(b, w, x, y + 1), pixelAt(b, w, x + 1, y + 1)};
            uint8_t* out = a + (size_t(y - 1) * w + x) * 3;
            const uint8_t* centre = pixelAt(a, w, x, y);
            for (int c = 0; c < 3; ++c) {
                float acc = float(centre[c]) * 0.5f;
                for (const uint8_t* q : p)
                    acc = acc + float(q[c]) * 0.125f;
                out[c] = uint8_t(int(std::min(acc, 255.0f)));
            }
        }
}

void despeckleReference(const uint8_t* s, uint8_t* d, int w, int h) {
    auto dst = [&](int x, int y) { return d + (size_t(y) * w + x) * 3; };
    auto src = [&](int x, int y) { return pixelAt(s, w, x, y); };
    auto pairMean = [&](const uint8_t* p, const uint8_t* q) {
        Acc m;
        addPixel(m, p);
        addPixel(m, q);
        for (float& v : m.c)
            v = v * 0.5f;
        return m;
    };
    for (int y : {0, h - 1})
        for (int x = 1; x <= w - 2; ++x)
            blendInto(dst(x, y), src(x, y), pairMean(src(x - 1, y), src(x + 1, y)));
    for (int y = 1; y <= h - 2; ++y) {
        blendInto(dst(0, y), src(0, y), pairMean(src(0, y - 1), src(0, y + 1)));
        for (int x = 1; x <= w - 2; ++x) {
            Acc m;
            for (int yy = y - 1; yy <= y + 1; ++yy)
                for (int xx = x - 1; xx <= x + 1; ++xx)
                    addPixel(m, src(xx, yy));
            for (float& v : m.c)
                v = v * 0.11111111f;
            blendInto(dst(x, y), src(x, y), m);
        }
        blendInto(dst(w - 1, y), src(w - 1, y), pairMean(src(w - 1, y - 1), src(w - 1, y + 1)));
    }
    for (int y : {0, h - 1})
        for (int x : {0, w - 1})
            std::memcpy(dst(x, y), src(x, y), 3);
}

// ---- Frames with guard bytes on both sides, so that a stray write shows in
// every build. The sanitizer build leaves them out: there an exact-size
// buffer makes any access past the frame, a read as well, an error.

#ifdef __SANITIZE_ADDRESS__
constexpr size_t kGuard = 0;
#else
constexpr size_t kGuard = 64;
#endif
constexpr uint8_t kGuardByte = 0xa5;

struct Frame {
    int w, h;
    std::vector<uint8_t> store;
    Frame(int width, int height, uint8_t fill = 0)
        : w(width), h(height), store(size_t(width) * height * 3 + 2 * kGuard, kGuardByte) {
        std::fill(data(), data() + bytes(), fill);
    }
    size_t bytes() const { return size_t(w) * h * 3; }
    uint8_t* data() { return store.data() + kGuard; }
    const uint8_t* data() const { return store.data() + kGuard; }
    uint8_t* at(int x, int y) { return data() + (size_t(y) * w + x) * 3; }
    std::vector<uint8_t> pixels() { return {data(), data() + bytes()}; }
    bool guardsIntact() const {
        auto isGuard = [](uint8_t v) { return v == kGuardByte; };
        return std::all_of(store.begin(), store.begin() + kGuard, isGuard) &&
               std::all_of(store.end() - kGuard, store.end(), isGuard);
    }
};

// Channel values in [low, high]; high == 1 stands for the two levels 0 and 255.
Frame randomFrame(int w, int h, uint32_t seed, int low = 0, int high = 255) {
    Frame f(w, h);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < f.bytes(); ++i) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        const int v = low + int((x >> 8) % uint32_t(high - low + 1));
        f.data()[i] = uint8_t(high == 1 ? v * 255 : v);
    }
    return f;
}

void setPixel(Frame& f, int x, int y, uint8_t b, uint8_t g, uint8_t r) {
    uint8_t* p = f.at(x, y);
    p[0] = b, p[1] = g, p[2] = r;
}

// Runs `body` once with each instruction set the CPU offers.
template <typename F> void forEachIsa(F&& body) {
    const FilterIsa saved = filterIsa();
    for (FilterIsa isa : {FilterIsa::Baseline, FilterIsa::Avx2, FilterIsa::Avx512})
        if (setFilterIsa(isa)) body(int(isa));
    setFilterIsa(saved);
}

struct Case {
    int w, h, low, high;
};
// Odd sizes cover the vector tails, the large ones the banded despeckle;
// ranges: full, near the top (the limit), two levels (extreme sums), dark.
const Case kCases[] = {{1920, 1080, 0, 255}, {1920, 1080, 240, 255}, {641, 479, 0, 255},
                       {641, 479, 240, 255}, {641, 479, 0, 1},       {641, 479, 0, 15},
                       {5, 4, 0, 255},       {33, 7, 240, 255},      {33, 7, 0, 1},
                       {19, 5, 0, 255},      {4, 4, 0, 255},         {67, 3, 0, 255}};

TEST(FilterBitIdentity, BothFiltersMatchTheScalarRulesOnEveryIsa) {
    uint32_t seed = 1;
    for (const Case& c : kCases) {
        const Frame a = randomFrame(c.w, c.h, seed++, c.low, c.high);
        const Frame b = randomFrame(c.w, c.h, seed++, c.low, c.high);
        Frame merged = a, despeckled(c.w, c.h);
        superSampleMergeReference(merged.data(), b.data(), c.w, c.h);
        despeckleReference(a.data(), despeckled.data(), c.w, c.h);
        forEachIsa([&](int isa) {
            Frame m = a, d(c.w, c.h);
            superSampleMerge(m.data(), b.data(), c.w, c.h);
            despeckle(a.data(), d.data(), c.w, c.h);
            const std::string where = std::to_string(c.w) + "x" + std::to_string(c.h) + " up to " +
                                      std::to_string(c.high) + ", isa " + std::to_string(isa);
            // Whole stores: the guard bytes must match as well.
            ASSERT_EQ(m.store, merged.store) << where;
            ASSERT_EQ(d.store, despeckled.store) << where;
        });
    }
}

// Every centre value against every block sum it can have: 3 x 3 tiles whose
// centre's block is the tile itself, one (centre, sum) pair per channel; and
// a single row of 1 x 3 tiles for every (centre, pair sum) of the edge rule.
TEST(FilterBitIdentity, DespeckleMatchesForEveryCentreAndEverySum) {
    struct Pair {
        int centre, rest; // rest: the sum of the other pixels of the block
    };
    for (int neighbours : {8, 2}) {
        std::vector<Pair> pairs;
        for (int centre = 0; centre < 256; ++centre)
            for (int rest = 0; rest <= neighbours * 255; ++rest)
                pairs.push_back({centre, rest});
        const bool block = neighbours == 8;
        const int tiles = int((pairs.size() + 2) / 3);
        const int tilesX = block ? 640 : tiles;
        const int w = tilesX * 3, h = block ? (tiles + tilesX - 1) / tilesX * 3 : 1;
        Frame s(w, h);
        for (size_t k = 0; k < pairs.size(); ++k) {
            const int tile = int(k / 3), c = int(k % 3);
            const int x = tile % tilesX * 3, y = block ? tile / tilesX * 3 : 0;
            int rest = pairs[k].rest;
            for (int dy = 0; dy < (block ? 3 : 1); ++dy)
                for (int dx = 0; dx < 3; ++dx) {
                    uint8_t& v = s.at(x + dx, y + dy)[c];
                    if (dx == 1 && dy == (block ? 1 : 0)) {
                        v = uint8_t(pairs[k].centre);
                    } else {
                        v = uint8_t(std::min(rest, 255));
                        rest -= v;
                    }
                }
            ASSERT_EQ(rest, 0);
        }
        Frame expected(w, h);
        despeckleReference(s.data(), expected.data(), w, h);
        forEachIsa([&](int isa) {
            Frame d(w, h);
            despeckle(s.data(), d.data(), w, h);
            ASSERT_EQ(d.pixels(), expected.pixels()) << neighbours << " neighbours, isa " << isa;
        });
    }
}

// Frames of 1 .. 4 and strips write every pixel, each in bounds: the result
// must not depend on what the destination held before.
TEST(FilterBitIdentity, TinyAndStripFramesStayInBoundsAndDefined) {
    std::vector<std::pair<int, int>> sizes = {{1, 7}, {7, 1}, {2, 9}, {9, 2}, {1, 300}, {300, 1}};
    for (int w = 1; w <= 4; ++w)
        for (int h = 1; h <= 4; ++h)
            sizes.emplace_back(w, h);
    forEachIsa([&](int isa) {
        for (auto [w, h] : sizes) {
            const Frame s = randomFrame(w, h, uint32_t(w * 100 + h));
            Frame expected(w, h);
            despeckleReference(s.data(), expected.data(), w, h);
            for (uint8_t fill : {0x00, 0xff}) {
                Frame d(w, h, fill);
                despeckle(s.data(), d.data(), w, h);
                EXPECT_EQ(d.pixels(), expected.pixels()) << w << "x" << h << " isa " << isa;
                EXPECT_TRUE(d.guardsIntact()) << w << "x" << h;
            }
            const Frame before = randomFrame(w, h, uint32_t(w * 100 + h + 1));
            Frame a = before, expectedA = before;
            superSampleMergeReference(expectedA.data(), s.data(), w, h);
            superSampleMerge(a.data(), s.data(), w, h);
            EXPECT_EQ(a.store, expectedA.store) << w << "x" << h << " isa " << isa;
            if (w < 4 || h < 4) {
                EXPECT_EQ(a.store, before.store) << w << "x" << h; // nothing to merge
            }
        }
    });
}

// ---- Merge

TEST(SuperSampleMerge, UniformPassesReproduceTheirColour) {
    for (int v = 0; v < 256; ++v) {
        Frame a(9, 6), b(9, 6);
        for (int i = 0; i < 9 * 6; ++i) {
            setPixel(a, i % 9, i / 9, uint8_t(v), uint8_t(255 - v), uint8_t(v / 2));
            setPixel(b, i % 9, i / 9, uint8_t(v), uint8_t(255 - v), uint8_t(v / 2));
        }
        const std::vector<uint8_t> before = a.pixels();
        superSampleMerge(a.data(), b.data(), 9, 6);
        ASSERT_EQ(a.pixels(), before) << v;
    }
}

TEST(SuperSampleMerge, WritesOneRowBelowTheSampledBlock) {
    Frame a(8, 8), b(8, 8);
    setPixel(b, 3, 4, 255, 8, 0);
    setPixel(a, 2, 2, 200, 0, 0);
    superSampleMerge(a.data(), b.data(), 8, 8);
    // B(3, 4) feeds the blocks at x 2..3, y 3..4, written to rows 2 and 3.
    // A(2, 2) lands at (2, 1) halved; its own place is rewritten from above.
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            const uint8_t* p = a.at(x, y);
            const bool fromB = (x == 2 || x == 3) && (y == 2 || y == 3);
            const uint8_t blue = fromB ? 31 : (x == 2 && y == 1) ? 100 : 0;
            EXPECT_EQ(p[0], blue) << x << "," << y;
            EXPECT_EQ(p[1], fromB ? 1 : 0) << x << "," << y;
            EXPECT_EQ(p[2], 0) << x << "," << y;
        }
}

TEST(SuperSampleMerge, LeavesColumnsZeroAndLastTwoAndTopThreeRows) {
    const int w = 12, h = 9;
    Frame a = randomFrame(w, h, 5);
    const Frame b = randomFrame(w, h, 6);
    Frame before = a;
    superSampleMerge(a.data(), b.data(), w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (x == 0 || x >= w - 2 || y >= h - 3) {
                EXPECT_EQ(0, std::memcmp(a.at(x, y), before.at(x, y), 3)) << x << "," << y;
            }
        }
    // A 4 x 4 frame has exactly one merged pixel, (1, 0).
    Frame small(4, 4, 0), ones(4, 4, 255);
    superSampleMerge(small.data(), ones.data(), 4, 4);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(small.at(i % 4, i / 4)[0], i == 1 ? 127 : 0) << i;
}

// ---- Despeckle

TEST(Despeckle, FlatFramesAreUnchanged) {
    for (auto [w, h] : {std::pair{1, 1}, {2, 2}, {1, 6}, {6, 1}, {7, 5}, {641, 479}}) {
        for (int v : {0, 1, 17, 128, 254, 255}) {
            Frame s(w, h), d(w, h, 0x5a);
            for (int i = 0; i < w * h; ++i)
                setPixel(s, i % w, i / w, uint8_t(v), uint8_t(255 - v), uint8_t(v ^ 0x55));
            despeckle(s.data(), d.data(), w, h);
            ASSERT_EQ(d.pixels(), s.pixels()) << w << "x" << h << " " << v;
        }
    }
}

TEST(Despeckle, AnOutlierOf128OrMoreTakesTheMeanOfItsBlock) {
    Frame s(5, 5, 0), d(5, 5);
    setPixel(s, 2, 2, 144, 143, 0); // blue: 144 - 16 = 128; green: 143 - 15.9 < 128
    despeckle(s.data(), d.data(), 5, 5);
    EXPECT_EQ(d.at(2, 2)[0], 16); // the mean 144 / 9
    EXPECT_EQ(d.at(2, 2)[1], 16); // nearly the mean: 0.007 of 143 + 0.993 of 15.89
    EXPECT_EQ(d.at(2, 2)[2], 0);
    EXPECT_EQ(d.at(1, 1)[0], 2); // a neighbour moves 0.125 of the way to 16
}

TEST(Despeckle, BordersUseOnlyTheirOwnRowOrColumn) {
    // Rows alternate 0 and 200, column by column equal: row pixels see only
    // equal left/right neighbours, column pixels only unequal ones.
    const int w = 6, h = 5;
    Frame s(w, h), d(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            setPixel(s, x, y, y % 2 ? 200 : 0, 90, x == 0 ? 250 : 10);
    despeckle(s.data(), d.data(), w, h);
    EXPECT_EQ(d.at(2, 0)[0], 0);     // bottom row: neighbours 0 and 0
    EXPECT_EQ(d.at(3, h - 1)[0], 0); // top row likewise
    EXPECT_EQ(d.at(0, 2)[0], 200);   // left column: 200 and 200 above and below
    EXPECT_EQ(d.at(w - 1, 1)[0], 0); // right column: 0 and 0
    EXPECT_EQ(d.at(1, 0)[2], 122);   // 10 is 120 below the mean 130: 0.9375 of the way
    EXPECT_EQ(d.at(0, 0)[2], 250);   // corners are copied
    EXPECT_EQ(d.at(0, h - 1)[2], 250);
    // Strips: a row of one pixel height and a column of one pixel width.
    Frame row(3, 1), column(1, 3), out3(3, 1), out1(1, 3);
    setPixel(row, 1, 0, 200, 0, 0);
    setPixel(column, 0, 1, 200, 0, 0);
    despeckle(row.data(), out3.data(), 3, 1);
    despeckle(column.data(), out1.data(), 1, 3);
    EXPECT_EQ(out3.pixels(), std::vector<uint8_t>(9, 0));
    EXPECT_EQ(out1.pixels(), std::vector<uint8_t>(9, 0));
}

TEST(Despeckle, ConcurrentCallersEachGetTheExactResult) {
    const int w = 700, h = 400;
    Frame s1 = randomFrame(w, h, 11), s2 = randomFrame(w, h, 12);
    Frame e1(w, h), e2(w, h), d1(w, h), d2(w, h);
    despeckleReference(s1.data(), e1.data(), w, h);
    despeckleReference(s2.data(), e2.data(), w, h);
    std::thread other([&] {
        for (int i = 0; i < 20; ++i)
            despeckle(s2.data(), d2.data(), w, h);
    });
    for (int i = 0; i < 20; ++i)
        despeckle(s1.data(), d1.data(), w, h);
    other.join();
    EXPECT_EQ(d1.pixels(), e1.pixels());
    EXPECT_EQ(d2.pixels(), e2.pixels());
}

} // namespace
} // namespace vortigo
