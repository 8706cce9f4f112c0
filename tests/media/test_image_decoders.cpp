// The background image decoders against files made here with known pixels.
#include "TempDir.h"
#include "core/ProjectFiles.h"
#include "core/ProjectState.h"
#include "media/Backgrounds.h"
#include "media/ImageDecoders.h"
#include "platform/HeadlessPlatform.h"

#include <gtest/gtest.h>

#include <csetjmp>
#include <cstring>
#include <jpeglib.h>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace vortigo {
namespace {

using Bytes = std::string;

struct Px {
    uint8_t b, g, r;
};

Bytes tgaHeader(int type, int depth, int width, int height, bool topDown, int mapLength = 0,
                int mapBits = 0, int idLength = 0) {
    Bytes h(18, '\0');
    h[0] = static_cast<char>(idLength);
    h[1] = static_cast<char>(mapLength ? 1 : 0);
    h[2] = static_cast<char>(type);
    h[5] = static_cast<char>(mapLength & 255);
    h[6] = static_cast<char>(mapLength >> 8);
    h[7] = static_cast<char>(mapBits);
    h[12] = static_cast<char>(width & 255);
    h[13] = static_cast<char>(width >> 8);
    h[14] = static_cast<char>(height & 255);
    h[15] = static_cast<char>(height >> 8);
    h[16] = static_cast<char>(depth);
    h[17] = static_cast<char>(topDown ? 0x20 : 0);
    return h + Bytes(static_cast<size_t>(idLength), 'i');
}

Bytes bgr(Px p) {
    return Bytes{static_cast<char>(p.b), static_cast<char>(p.g), static_cast<char>(p.r)};
}

class ImageDecoderTest : public ::testing::Test {
  protected:
    void TearDown() override { setMaxBackgroundSize(16384); }

    std::string put(const std::string& name, const Bytes& bytes) {
        m_dir.write(name, bytes);
        return m_dir.file(name);
    }
    static Px at(const DecodedImage& image, int x, int y) {
        const uint8_t* p = image.pixels.get() + (static_cast<size_t>(y) * image.width + x) * 4;
        return Px{p[0], p[1], p[2]};
    }
    static void expectPixels(const DecodedImage& image, int width,
                             const std::vector<Px>& topRowFirst, int tolerance = 0) {
        ASSERT_TRUE(image.pixels);
        ASSERT_EQ(image.width, width);
        ASSERT_EQ(image.height * width, static_cast<int>(topRowFirst.size()));
        for (size_t i = 0; i < topRowFirst.size(); ++i) {
            const Px p = at(image, static_cast<int>(i) % width, static_cast<int>(i) / width);
            const Px e = topRowFirst[i];
            EXPECT_NEAR(p.b, e.b, tolerance) << "pixel " << i;
            EXPECT_NEAR(p.g, e.g, tolerance) << "pixel " << i;
            EXPECT_NEAR(p.r, e.r, tolerance) << "pixel " << i;
        }
    }
    test::TempDir m_dir;
};

const Px A{10, 20, 30}, B{40, 50, 60}, C{70, 80, 90}, D{100, 110, 120};

TEST_F(ImageDecoderTest, TgaTrueColourDepthsAndBothRowOrders) {
    // 2 x 2: top row A B, bottom row C D.
    const Bytes top24 = tgaHeader(2, 24, 2, 2, true) + bgr(A) + bgr(B) + bgr(C) + bgr(D);
    const Bytes bottom24 = tgaHeader(2, 24, 2, 2, false) + bgr(C) + bgr(D) + bgr(A) + bgr(B);
    DecodedImage fromTop, fromBottom;
    ASSERT_TRUE(decodeTga(put("t.tga", top24).c_str(), fromTop));
    ASSERT_TRUE(decodeTga(put("b.tga", bottom24).c_str(), fromBottom));
    expectPixels(fromTop, 2, {A, B, C, D});
    EXPECT_EQ(0, std::memcmp(fromTop.pixels.get(), fromBottom.pixels.get(), 16));

    const Bytes top32 = tgaHeader(2, 32, 2, 1, true) + bgr(A) + "\x7f" + bgr(B) + "\x01";
    DecodedImage wide;
    ASSERT_TRUE(decodeTga(put("w.tga", top32).c_str(), wide));
    expectPixels(wide, 2, {A, B});
    EXPECT_EQ(wide.pixels[3], 0x7f); // 32 bits keep their fourth byte

    // Bits 10 to 14 are red; 5 bits scaled by 8.
    const Bytes sixteen = tgaHeader(2, 16, 3, 1, true) + Bytes("\x00\x7c", 2) +
                          Bytes("\xe0\x03", 2) + Bytes("\x1f\x00", 2);
    DecodedImage packed;
    ASSERT_TRUE(decodeTga(put("s.tga", sixteen).c_str(), packed));
    expectPixels(packed, 3, {{0, 0, 248}, {0, 248, 0}, {248, 0, 0}});
}

TEST_F(ImageDecoderTest, TgaColourMapsAndRunLengthPackets) {
    // Colour-mapped, with an identification field to skip and an index
    // beyond the map that must come out black.
    const Bytes map = bgr(A) + bgr(B);
    const Bytes mapped = tgaHeader(1, 8, 3, 1, true, 2, 24, 3) + map + Bytes("\x01\x00\x05", 3);
    DecodedImage indexed;
    ASSERT_TRUE(decodeTga(put("m.tga", mapped).c_str(), indexed));
    expectPixels(indexed, 3, {B, A, {0, 0, 0}});

    // 0x83 + one pixel gives four equal pixels; 0x03 + four gives those four.
    const Bytes runs = tgaHeader(10, 24, 4, 2, true) + "\x83" + bgr(A) + "\x03" + bgr(A) + bgr(B) +
                       bgr(C) + bgr(D);
    DecodedImage rle;
    ASSERT_TRUE(decodeTga(put("r.tga", runs).c_str(), rle));
    expectPixels(rle, 4, {A, A, A, A, A, B, C, D});

    // Run-length colour-mapped, bottom-up, with a run that would go past the
    // last pixel: cut there.
    const Bytes mappedRuns =
        tgaHeader(9, 8, 2, 2, false, 2, 24) + map + Bytes("\x01\x00\x01", 3) + Bytes("\xff\x00", 2);
    DecodedImage rle8;
    ASSERT_TRUE(decodeTga(put("r8.tga", mappedRuns).c_str(), rle8));
    expectPixels(rle8, 2, {A, A, A, B});
}

TEST_F(ImageDecoderTest, TgaRefusalsAndDamagedFiles) {
    DecodedImage image;
    const auto refused = [&](const char* name, const Bytes& bytes) {
        DecodedImage out;
        return !decodeTga(put(name, bytes).c_str(), out) && !out.pixels;
    };
    EXPECT_TRUE(refused("d15.tga", tgaHeader(2, 15, 1, 1, true) + Bytes(2, '\0')));
    EXPECT_TRUE(refused("d8.tga", tgaHeader(2, 8, 1, 1, true) + Bytes(1, '\0')));
    EXPECT_TRUE(refused("m16.tga", tgaHeader(1, 8, 1, 1, true, 1, 16) + Bytes(3, '\0')));
    EXPECT_TRUE(refused("nomap.tga", tgaHeader(1, 8, 1, 1, true, 0, 24) + Bytes(1, '\0')));
    EXPECT_TRUE(refused("type3.tga", tgaHeader(3, 8, 1, 1, true) + Bytes(1, '\0')));
    EXPECT_TRUE(refused("empty.tga", ""));
    EXPECT_TRUE(refused("short.tga", tgaHeader(2, 24, 1, 1, true).substr(0, 17)));
    EXPECT_TRUE(refused("zero.tga", tgaHeader(2, 24, 0, 5, true)));
    EXPECT_FALSE(decodeTga(m_dir.file("missing.tga").c_str(), image));

    // Larger than the GL's textures: refused from the header alone.
    setMaxBackgroundSize(64);
    EXPECT_TRUE(refused("big.tga", tgaHeader(2, 24, 65, 1, true) + Bytes(65 * 3, '\0')));
    setMaxBackgroundSize(16384);
    EXPECT_TRUE(refused("huge.tga", tgaHeader(2, 24, 16385, 1, true)));

    // A file that ends inside the pixels keeps what was read; the rest is black.
    DecodedImage part;
    ASSERT_TRUE(
        decodeTga(put("cut.tga", tgaHeader(2, 24, 2, 2, true) + bgr(A) + bgr(B)).c_str(), part));
    expectPixels(part, 2, {A, B, {0, 0, 0}, {0, 0, 0}});
}

// ---- JPEG ------------------------------------------------------------------

Bytes encodeJpeg(int width, int height, int components, J_COLOR_SPACE space,
                 const std::vector<uint8_t>& samples) {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &out, &size);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = components;
    info.in_color_space = space;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 98, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<uint8_t*>(&samples[info.next_scanline * width * components]);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    Bytes bytes(reinterpret_cast<char*>(out), size);
    jpeg_destroy_compress(&info);
    free(out);
    return bytes;
}

// 16 x 16: left half one colour, right half another, so the layout shows.
std::vector<uint8_t> halves(int components, const std::vector<uint8_t>& left,
                            const std::vector<uint8_t>& right) {
    std::vector<uint8_t> samples;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            for (int c = 0; c < components; ++c)
                samples.push_back(x < 8 ? left[c] : right[c]);
    return samples;
}

TEST_F(ImageDecoderTest, JpegColourGreyscaleAndCmykComeOutAsBlueGreenRed) {
    DecodedImage colour;
    const Bytes rgb = encodeJpeg(16, 16, 3, JCS_RGB, halves(3, {200, 40, 20}, {20, 60, 220}));
    ASSERT_TRUE(decodeJpeg(put("c.jpg", rgb).c_str(), colour));
    EXPECT_EQ(colour.height, 16);
    // Away from the edge between the halves, where chroma is shared.
    for (int y : {0, 7, 15})
        for (int x : {0, 5, 10, 15}) {
            const Px p = at(colour, x, y), e = x < 8 ? Px{20, 40, 200} : Px{220, 60, 20};
            EXPECT_NEAR(p.b, e.b, 8) << x << "," << y;
            EXPECT_NEAR(p.g, e.g, 8) << x << "," << y;
            EXPECT_NEAR(p.r, e.r, 8) << x << "," << y;
        }

    DecodedImage grey;
    ASSERT_TRUE(decodeJpeg(
        put("g.jpg", encodeJpeg(16, 16, 1, JCS_GRAYSCALE, halves(1, {30}, {220}))).c_str(), grey));
    EXPECT_NEAR(at(grey, 0, 5).r, 30, 3);
    EXPECT_EQ(at(grey, 0, 5).r, at(grey, 0, 5).b);
    EXPECT_EQ(at(grey, 0, 5).g, at(grey, 0, 5).b);
    EXPECT_NEAR(at(grey, 15, 5).g, 220, 3);

    // libjpeg writes an Adobe marker with CMYK, so the samples are inverted
    // ink: 255 means none. Left red (no cyan), right blue (no yellow).
    DecodedImage cmyk;
    const Bytes inks =
        encodeJpeg(16, 16, 4, JCS_CMYK, halves(4, {255, 0, 0, 255}, {0, 0, 255, 255}));
    ASSERT_TRUE(decodeJpeg(put("k.jpg", inks).c_str(), cmyk));
    const Px red = at(cmyk, 2, 2), blue = at(cmyk, 13, 13);
    EXPECT_GT(red.r, 240);
    EXPECT_LT(red.g, 15);
    EXPECT_LT(red.b, 15);
    EXPECT_GT(blue.b, 240);
    EXPECT_LT(blue.r, 15);
    EXPECT_EQ(cmyk.pixels[3], 255);

    DecodedImage fromMemory;
    ASSERT_TRUE(
        decodeJpegMemory(reinterpret_cast<const uint8_t*>(rgb.data()), rgb.size(), fromMemory));
    EXPECT_EQ(0, std::memcmp(fromMemory.pixels.get(), colour.pixels.get(), 16 * 16 * 4));
}

TEST_F(ImageDecoderTest, JpegLibraryErrorsGiveNoImageAndTheProcessLivesOn) {
    // 64 x 64 of noise, so the entropy-coded data is long enough to cut.
    std::vector<uint8_t> noise(64 * 64 * 3);
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<uint8_t>(i * 2654435761u >> 13);
    const Bytes good = encodeJpeg(64, 64, 3, JCS_RGB, noise);
    DecodedImage image;
    EXPECT_FALSE(decodeJpeg(put("text.jpg", "this is not a JPEG at all").c_str(), image));
    EXPECT_FALSE(decodeJpeg(put("empty.jpg", "").c_str(), image));
    EXPECT_FALSE(decodeJpeg(put("header.jpg", good.substr(0, 20)).c_str(), image));
    EXPECT_FALSE(decodeJpeg(m_dir.file("missing.jpg").c_str(), image));
    EXPECT_FALSE(image.pixels);
    // Cut inside the entropy-coded data: the library warns and pads the
    // rest, which is still a whole image.
    DecodedImage cut;
    EXPECT_TRUE(decodeJpeg(put("cut.jpg", good.substr(0, good.size() - 40)).c_str(), cut));
    EXPECT_EQ(cut.width, 64);

    setMaxBackgroundSize(63);
    EXPECT_FALSE(decodeJpeg(put("big.jpg", good).c_str(), image));
}

// ---- BMP -------------------------------------------------------------------

void le(Bytes& b, uint32_t v, int n) {
    for (int i = 0; i < n; ++i)
        b.push_back(static_cast<char>((v >> (8 * i)) & 255));
}

// A 3 x 2 picture, top row A B C, bottom row D A B, at `bits` per pixel,
// hand-written with a palette of A B C D for the indexed depths.
Bytes makeBmp(int bits, bool topDown) {
    const Px palette[4] = {A, B, C, D};
    const int indices[2][3] = {{0, 1, 2}, {3, 0, 1}}; // top row first
    Bytes rows;
    for (int r = 0; r < 2; ++r) {
        const int* row = indices[topDown ? r : 1 - r];
        Bytes line;
        if (bits >= 24) {
            for (int x = 0; x < 3; ++x) {
                line += bgr(palette[row[x]]);
                if (bits == 32) line += '\0';
            }
        } else {
            uint32_t acc = 0;
            int used = 0;
            for (int x = 0; x < 3; ++x) {
                acc = (acc << bits) | static_cast<uint32_t>(row[x]);
                used += bits;
                if (used == 8) {
                    line += static_cast<char>(acc);
                    acc = 0;
                    used = 0;
                }
            }
            if (used) line += static_cast<char>(acc << (8 - used));
        }
        while (line.size() % 4)
            line += '\0';
        rows += line;
    }
    const int colours = bits <= 8 ? (1 << bits) : 0;
    Bytes pal;
    for (int i = 0; i < colours; ++i) {
        pal += i < 4 ? bgr(palette[i]) : bgr({0, 0, 0});
        pal += '\0';
    }
    const uint32_t offset = 14 + 40 + static_cast<uint32_t>(pal.size());
    Bytes f = "BM";
    le(f, offset + static_cast<uint32_t>(rows.size()), 4);
    le(f, 0, 4);
    le(f, offset, 4);
    le(f, 40, 4);
    le(f, 3, 4);
    le(f, topDown ? static_cast<uint32_t>(-2) : 2u, 4);
    le(f, 1, 2);
    le(f, static_cast<uint32_t>(bits), 2);
    le(f, 0, 4);
    le(f, static_cast<uint32_t>(rows.size()), 4);
    le(f, 2835, 4);
    le(f, 2835, 4);
    le(f, static_cast<uint32_t>(colours), 4);
    le(f, 0, 4);
    return f + pal + rows;
}

TEST_F(ImageDecoderTest, BmpOfEveryDepthBothRowOrdersComesOutTopRowFirst) {
    for (int bits : {1, 4, 8, 24, 32})
        for (bool topDown : {false, true}) {
            SCOPED_TRACE(std::to_string(bits) + (topDown ? " bits top-down" : " bits bottom-up"));
            DecodedImage image;
            const std::string name = "p" + std::to_string(bits) + (topDown ? "t" : "b") + ".bmp";
            if (!decodeBmp(put(name, makeBmp(bits, topDown)).c_str(), image)) {
                ADD_FAILURE() << "not decoded";
                continue;
            }
            // One bit per pixel has only entries 0 and 1 (A and B).
            const Px c = bits == 1 ? A : C, d = bits == 1 ? B : D;
            expectPixels(image, 3, {A, B, c, d, A, B});
        }
}

TEST_F(ImageDecoderTest, BmpRefusesOversizedHeadersAndSurvivesDamage) {
    DecodedImage image;
    setMaxBackgroundSize(2);
    EXPECT_FALSE(decodeBmp(put("wide.bmp", makeBmp(24, false)).c_str(), image));
    setMaxBackgroundSize(16384);
    // A header claiming 60000 x 60000 with no pixels behind it.
    Bytes huge = makeBmp(24, false).substr(0, 54);
    huge.replace(18, 8, Bytes("\x60\xea\x00\x00\x60\xea\x00\x00", 8));
    EXPECT_FALSE(decodeBmp(put("huge.bmp", huge).c_str(), image));
    EXPECT_FALSE(decodeBmp(put("cut.bmp", makeBmp(8, false).substr(0, 30)).c_str(), image));
    EXPECT_FALSE(decodeBmp(put("text.bmp", "not a bitmap").c_str(), image));
    // An 8-bit run-length image whose runs overrun every row and the end.
    Bytes rle = makeBmp(8, false).substr(0, 54 + 256 * 4);
    rle[30] = 1; // BI_RLE8
    rle += Bytes("\xff\x01\xff\x02\x00\x02\x7f\x7f\xff\x03", 10);
    decodeBmp(put("rle.bmp", rle).c_str(), image);
    EXPECT_TRUE(!image.pixels || (image.width == 3 && image.height == 2));
}

// ---- Budgets -----------------------------------------------------------------

long peakResidentKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Tiny files whose headers claim huge pictures are refused from the header,
// with the size in the message, before any pixel is allocated.
TEST_F(ImageDecoderTest, BackgroundsBeyondTheBudgetsAreRefusedFromTheHeaderWithTheirSize) {
    HeadlessPlatform platform;
    ScopedPlatform installed(&platform);
    ProjectFiles& files = projectFiles();
    int32_t counter = 0;
    auto boxes = [&] {
        std::vector<std::string> texts;
        for (const auto& box : platform.messageBoxes())
            texts.push_back(box.caption + ": " + box.text);
        platform.clearRecords();
        return texts;
    };

    // A 16 x 16 JPEG whose frame header says 16384 x 16384: 1 GB decoded.
    Bytes bomb = encodeJpeg(16, 16, 3, JCS_RGB, halves(3, {1, 2, 3}, {4, 5, 6}));
    const size_t frame = bomb.find("\xff\xc0");
    ASSERT_NE(frame, Bytes::npos);
    bomb.replace(frame + 5, 4, Bytes("\x40\x00\x40\x00", 4));
    const std::string jpg = put("bomb.jpg", bomb);
    const long peakBefore = peakResidentKb();
    for (int layer = 0; layer < LAYER_COUNT; ++layer)
        ASSERT_EQ(loadBackground(layer, jpg.c_str(), &counter), 0);
    EXPECT_LT(peakResidentKb() - peakBefore, 64 * 1024);
    const std::string refused = "Error: Could not load the background " + jpg +
                                ": it is 16384 x 16384 pixels (1024 MB), more than the 256 MB "
                                "a background may take (BackgroundLimitMB).";
    EXPECT_EQ(boxes(), std::vector<std::string>(LAYER_COUNT, refused));

    // TGA and BMP headers alone: 10000 x 10000 is 382 MB; 65535 is beyond
    // the GL's textures.
    const std::string tga = put("big.tga", tgaHeader(2, 24, 10000, 10000, true));
    EXPECT_EQ(loadBackground(0, tga.c_str(), &counter), 0);
    Bytes bmp = makeBmp(24, false).substr(0, 54);
    bmp.replace(18, 8, Bytes("\xff\xff\x00\x00\x01\x00\x00\x00", 8));
    const std::string wide = put("wide.bmp", bmp);
    EXPECT_EQ(loadBackground(1, wide.c_str(), &counter), 0);
    EXPECT_EQ(boxes(), (std::vector<std::string>{
                           "Error: Could not load the background " + tga +
                               ": it is 10000 x 10000 pixels (382 MB), more than the 256 MB a "
                               "background may take (BackgroundLimitMB).",
                           "Error: Could not load the background " + wide +
                               ": it is 65535 x 1 pixels, more than the 16384 x 16384 the "
                               "graphics driver can show."}));
    EXPECT_LT(peakResidentKb() - peakBefore, 64 * 1024);

    // The budget for all four layers counts what the others hold; the
    // options set both budgets.
    files.backgroundLimitMb = 1;
    files.backgroundTotalLimitMb = 2;
    const std::string mb = put("mb.tga", tgaHeader(2, 24, 512, 512, true)); // 1 MB, black
    EXPECT_EQ(loadBackground(0, mb.c_str(), &counter), 1);
    EXPECT_EQ(loadBackground(1, mb.c_str(), &counter), 1);
    EXPECT_EQ(loadBackground(2, mb.c_str(), &counter), 0);
    EXPECT_EQ(loadBackground(1, mb.c_str(), &counter), 1); // its own old picture does not count
    EXPECT_EQ(loadBackground(0, m_dir.file("gone.tga").c_str(), &counter), 0); // frees layer 0
    const std::string two = put("two.tga", tgaHeader(2, 24, 1024, 512, true));
    EXPECT_EQ(loadBackground(3, two.c_str(), &counter), 0);
    EXPECT_EQ(boxes(), (std::vector<std::string>{
                           "Error: Could not load the background " + mb +
                               ": it is 512 x 512 pixels (1 MB), more than the 0 MB the other "
                               "layers leave of the 2 MB all backgrounds may take "
                               "(BackgroundTotalLimitMB).",
                           "Error: Could not load the background " + two +
                               ": it is 1024 x 512 pixels (2 MB), more than the 1 MB a "
                               "background may take (BackgroundLimitMB)."}));
}

} // namespace
} // namespace vortigo
