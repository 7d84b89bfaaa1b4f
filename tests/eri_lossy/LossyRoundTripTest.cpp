// Round trips through the test encoder and LoadEriImage, and hand-made
// frames with values known from first principles.
#include "EriBitWriter.h"
#include "EriFileWriter.h"
#include "LossyEncoder.h"
#include "eri/EriByteStream.h"
#include "eri/LoadEriImage.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <tuple>

namespace pelo {
namespace {

using test::LossyFrame;
using test::LossyOptions;
using test::LossyPicture;

bool Decode(const std::vector<std::uint8_t>& file, PackedDibPtr& dib) {
    EriMemoryStream stream(file.data(), file.size());
    return LoadEriImage(stream, dib);
}

// Pixel x of the top-first row y of a bottom-up DIB.
const std::uint8_t* DibPixel(const PackedDib& dib, int x, int y) {
    const BitmapInfoHeader& h = dib.header();
    const std::size_t stride = ((std::size_t(h.biBitCount) * h.biWidth) / 8 + 3) & ~std::size_t{3};
    return dib.pixels() + stride * (h.biHeight - 1 - y) + std::size_t(x) * (h.biBitCount / 8);
}

std::uint32_t Hash(std::uint32_t a, std::uint32_t b, std::uint32_t c) {
    std::uint32_t h = a * 0x9E3779B1u ^ (b + 0x7F4A7C15u) * 0x85EBCA77u ^ c * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    return h ^ (h >> 13);
}

// Luma with ramps, hard edges and noise; chroma constant over group x group
// squares of stream coordinates (aligned to even rows and columns), so that
// subsampled chroma loses nothing and only quantisation separates input and
// output. Chroma multiples of 8 keep blue, green and red integral:
// B = Y + 1.5 V, G = Y - 0.375 U - 0.75 V, R = Y + 1.75 U with U = 8 u, V = 8 v.
LossyPicture MakePicture(int w, int h, const LossyOptions& o, std::uint32_t seed) {
    const int group = o.chromaSampling == kEriChroma444 ? 1 : 2;
    LossyPicture p{w, h, std::vector<std::uint8_t>(std::size_t(w) * h * 4)};
    for (int y = 0; y < h; ++y) {
        const int sy = o.topDown ? y : h - 1 - y;
        for (int x = 0; x < w; ++x) {
            const int luma = 50 + (x * 7 + sy * 3) % 60 + ((x / 5 + sy / 7) % 2) * 60 +
                             int(Hash(x, sy, seed) % 31);
            const std::uint32_t g = Hash(x / group, sy / group, seed + 1);
            const int u = int(g % 7) - 3, v = int((g >> 8) % 7) - 3;
            std::uint8_t* px = &p.bgra[(std::size_t(y) * w + x) * 4];
            px[0] = std::uint8_t(luma + 12 * v);
            px[1] = std::uint8_t(luma - 3 * u - 6 * v);
            px[2] = std::uint8_t(luma + 14 * u);
            px[3] = o.alpha ? std::uint8_t(((x / 3 + y / 4) % 3) * 120 + Hash(x, y, seed + 2) % 16)
                            : 255;
        }
    }
    return p;
}

// Error bound per macro-block and channel, from the quantisation steps.
//
// In one s x s block the inverse transform is out = C^T X C with rows of C
// orthogonal, |row k|^2 = s for k = 0 and s / 2 otherwise. A coefficient
// error e[v][u] (|e| <= step / 2 after rounding to the nearest multiple)
// gives the sum of squared sample errors sum e^2 n_v n_u <= (D / 2)^2 (s (s + 1) / 2)^2
// for D the largest step, so the block's RMS error is at most
// b = (D / 2) (s + 1) / 2. A macro-block of 2s x 2s pixels then has a luma
// (and alpha) error norm of at most 2s bY; the chroma norm is 2s bC as well,
// upsampling repeating each chroma sample over the same share of pixels.
// Blue = Y + 1.5 V, green = Y - 0.375 U - 0.75 V and red = Y + 1.75 U bound
// the colour norms by the triangle inequality (chroma weights 1.5, 1.125,
// 1.75), and rounding to bytes adds at most 0.5 per pixel. Input in 0..255
// means clamping only brings values closer. The norm over the pixels of a
// clipped macro-block is at most that of the whole one. A small allowance
// covers single-precision arithmetic.
struct ErrorBound {
    double luma;   // 2s bY
    double chroma; // 2s bC
    double limit(int channel, int pixels) const {
        static const double chromaWeight[4] = {1.5, 1.125, 1.75, 0.0};
        return luma + chromaWeight[channel] * chroma + 0.5 * std::sqrt(double(pixels)) + 0.05;
    }
};

ErrorBound BoundFor(const LossyOptions& o, const std::array<std::uint8_t, 4>& p, int s) {
    using test::LossyStep;
    const double dy =
        std::max({LossyStep(o.lumaDcStep, s), LossyStep(p[0], s), LossyStep(p[2], s)});
    const double dc =
        std::max({LossyStep(o.chromaDcStep, s), LossyStep(p[1], s), LossyStep(p[3], s)});
    const double grow = (s + 1) / 2.0;
    return {2.0 * s * dy / 2 * grow, 2.0 * s * dc / 2 * grow};
}

// The worst ratio of error norm to bound over all macro-blocks and channels.
double CheckAgainstBound(const LossyPicture& in, const PackedDib& dib, const LossyFrame& frame,
                         const LossyOptions& o) {
    const int s = frame.side, m = 2 * s;
    const BitmapInfoHeader& h = dib.header();
    EXPECT_EQ(h.biWidth, in.width);
    EXPECT_EQ(h.biHeight, in.height);
    EXPECT_EQ(h.biBitCount, o.bitsPerPixel);
    double worst = 0;
    for (int my = 0; my < frame.rows; ++my) {
        for (int mx = 0; mx < frame.columns; ++mx) {
            const ErrorBound bound = BoundFor(o, frame.parameters[my * frame.columns + mx], s);
            double squares[4] = {};
            int pixels = 0;
            for (int sy = my * m; sy < std::min(in.height, (my + 1) * m); ++sy) {
                const int y = o.topDown ? sy : in.height - 1 - sy;
                for (int x = mx * m; x < std::min(in.width, (mx + 1) * m); ++x) {
                    ++pixels;
                    const std::uint8_t* want = &in.bgra[(std::size_t(y) * in.width + x) * 4];
                    const std::uint8_t* got = DibPixel(dib, x, y);
                    const int channels = o.bitsPerPixel == 32 ? 4 : 3;
                    for (int c = 0; c < channels; ++c) {
                        const double d = double(got[c]) - want[c];
                        squares[c] += d * d;
                    }
                }
            }
            for (int c = 0; c < (o.alpha ? 4 : 3); ++c) {
                const double limit = c == 3 ? bound.luma + 0.5 * std::sqrt(double(pixels)) + 0.05
                                            : bound.limit(c, pixels);
                const double norm = std::sqrt(squares[c]);
                EXPECT_LE(norm, limit) << "macro-block " << mx << "," << my << " channel " << c;
                worst = std::max(worst, norm / limit);
            }
            // A 32-bit file without alpha reads as opaque.
            if (o.bitsPerPixel == 32 && !o.alpha) {
                EXPECT_EQ(squares[3], 0.0);
            }
        }
    }
    return worst;
}

using Combination = std::tuple<int, std::uint32_t, bool, bool, std::int32_t>;

class LossyRoundTrip : public ::testing::TestWithParam<Combination> {};

TEST_P(LossyRoundTrip, DecodesWithinTheQuantisationBound) {
    const auto [degree, chroma, alpha, parametersFirst, coder] = GetParam();
    const int s = 1 << degree;
    LossyOptions o;
    o.degree = degree;
    o.chromaSampling = chroma;
    o.alpha = alpha;
    o.parametersFirst = parametersFirst;
    o.symbolCoder = coder;
    o.bitsPerPixel = alpha || parametersFirst != (degree == 4) ? 32 : 24;
    o.topDown = (degree + (parametersFirst ? 1 : 0)) % 2 == 0;
    const bool huffman = coder == kEriCoderHuffman;
    // The Huffman coder carries AC values as signed bytes, so its steps are
    // coarser; every macro-block gets its own steps.
    o.lumaDcStep = huffman ? 100 : 255;
    o.chromaDcStep = huffman ? 60 : 230;
    // AC values of an edge keep their size as s grows while the steps shrink
    // with 2 / s, so the Huffman steps bytes are scaled by 8 / s.
    o.parameters = [huffman, s](int mb) -> std::array<std::uint8_t, 4> {
        const auto scaled = [s](int p) { return std::uint8_t((p + 1) * 8 / s - 1); };
        if (huffman)
            return {scaled(40 + 5 * (mb % 4)), scaled(24 + mb % 3), scaled(31),
                    scaled(20 + 3 * (mb % 2))};
        return {std::uint8_t(255 - 4 * (mb % 5)), 200, std::uint8_t(180 + mb % 7), 127};
    };
    // Widths and heights that are not multiples of the macro-block side.
    const LossyPicture picture =
        MakePicture(4 * s + 3, 2 * s + 5 + (degree == 3 ? 2 * s : 0), o, degree * 131 + chroma % 7);
    LossyFrame frame;
    const std::vector<std::uint8_t> file = test::EncodeLossyFile(picture, o, &frame);
    ASSERT_EQ(frame.clamped, 0u) << "steps too fine for the symbol coder";
    PackedDibPtr dib;
    ASSERT_TRUE(Decode(file, dib));
    const double worst = CheckAgainstBound(picture, *dib, frame, o);
    RecordProperty("worst_ratio", std::to_string(worst));
}

// Pictures smaller than one quarter block, or one pixel high: most of the
// macro-block lies outside and must not be written (the sanitizer build
// sees any store past the rows).
TEST(LossyRoundTripSizes, TinyPicturesDecodeWithinTheBound) {
    const int sizes[][2] = {{1, 1}, {3, 2}, {17, 1}, {1, 33}, {9, 9}};
    for (std::uint32_t chroma : {kEriChroma444, kEriChroma422, kEriChroma411}) {
        for (const auto& size : sizes) {
            LossyOptions o;
            o.chromaSampling = chroma;
            o.degree = size[0] == 9 ? 5 : 3;
            o.alpha = size[1] == 2;
            o.bitsPerPixel = o.alpha ? 32 : 24;
            const LossyPicture picture = MakePicture(size[0], size[1], o, size[0] * 7 + size[1]);
            LossyFrame frame;
            const std::vector<std::uint8_t> file = test::EncodeLossyFile(picture, o, &frame);
            PackedDibPtr dib;
            ASSERT_TRUE(Decode(file, dib)) << size[0] << "x" << size[1];
            CheckAgainstBound(picture, *dib, frame, o);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(All, LossyRoundTrip,
                         ::testing::Combine(::testing::Values(3, 4, 5),
                                            ::testing::Values(kEriChroma444, kEriChroma422,
                                                              kEriChroma411),
                                            ::testing::Bool(), ::testing::Bool(),
                                            ::testing::Values(kEriCoderGamma, kEriCoderHuffman)));

} // namespace
} // namespace pelo
