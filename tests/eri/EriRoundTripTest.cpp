// Pictures encoded by the test writer on every decoding path come back
// unchanged through LoadEriImage.
#include "EriFileWriter.h"
#include "eri/EriByteStream.h"
#include "eri/LoadEriImage.h"

#include <cstring>
#include <gtest/gtest.h>

using namespace pelo;
using namespace pelo::eritest;

namespace {

EriTestPicture NoisePicture(int w, int h, std::uint32_t format, int bits, std::uint32_t seed) {
    EriTestPicture p;
    p.width = w;
    p.height = h;
    p.pixelFormat = format;
    p.bitsPerPixel = bits;
    const int bytes = bits / 8;
    p.pixels.resize(std::size_t(w) * h * bytes);
    std::uint32_t state = seed * 2654435761u + 1;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            state = state * 1664525u + 1013904223u;
            // Smooth ramps with some noise and flat patches: runs of zeros
            // and non-zero residuals both occur.
            const bool flat = ((x / 5) + (y / 3)) % 3 == 0;
            for (int k = 0; k < bytes; ++k) {
                std::uint8_t v =
                    flat ? std::uint8_t(40 * k + 7)
                         : std::uint8_t(x * (k + 1) + y * 3 + ((state >> (8 + k * 5)) & 7));
                p.pixels[(std::size_t(y) * w + x) * bytes + k] = v;
            }
            if (bits == 16) p.pixels[(std::size_t(y) * w + x) * 2 + 1] &= 0x7F;
        }
    return p;
}

// Expected DIB rows: bottom-up, padded to 4 bytes with zeros; 32-bit colour
// without alpha reads as opaque.
std::vector<std::uint8_t> ExpectedRows(const EriTestPicture& p) {
    const int bytes = p.bitsPerPixel / 8;
    const std::size_t stride = (std::size_t(p.width) * bytes + 3) & ~std::size_t{3};
    std::vector<std::uint8_t> out(stride * p.height, 0);
    for (int r = 0; r < p.height; ++r) {
        const std::uint8_t* src = p.pixels.data() + std::size_t(p.height - 1 - r) * p.width * bytes;
        std::memcpy(out.data() + r * stride, src, std::size_t(p.width) * bytes);
        if (p.bitsPerPixel == 32 && !(p.pixelFormat & kEriAlphaFlag))
            for (int x = 0; x < p.width; ++x)
                out[r * stride + 4 * x + 3] = 255;
    }
    return out;
}

void ExpectRoundTrip(const EriTestPicture& p, const EriEncodeOptions& o,
                     const EriFileExtras& extras = {}) {
    const std::vector<std::uint8_t> file = EncodeEriFile(p, o, extras);
    EriMemoryStream stream(file.data(), file.size());
    PackedDibPtr dib;
    ASSERT_TRUE(LoadEriImage(stream, dib));
    const BitmapInfoHeader& h = dib->header();
    EXPECT_EQ(h.biWidth, p.width);
    EXPECT_EQ(h.biHeight, p.height);
    EXPECT_EQ(h.biBitCount, p.bitsPerPixel);
    const std::vector<std::uint8_t> expected = ExpectedRows(p);
    ASSERT_EQ(h.biSizeImage, expected.size());
    EXPECT_EQ(0, std::memcmp(dib->pixels(), expected.data(), expected.size()));
}

struct Path {
    const char* name;
    std::int32_t coder;
    std::uint32_t version;
    int frameKind;
    bool codesFirst;
};

const Path kBlockPaths[] = {
    {"gamma kind0 codes first", kEriCoderGamma, kEriCoderVersion1, 1, true},
    {"gamma kind0 codes per block", kEriCoderGamma, kEriCoderVersion1, 1, false},
    {"gamma kind1", kEriCoderGamma, kEriCoderVersion2, 1, true},
    {"gamma kind1 frame 4 per block", kEriCoderGamma, kEriCoderVersion2, 4, false},
    {"arithmetic kind1", kEriCoderArithmetic, kEriCoderVersion2, 4, true},
    {"arithmetic kind0", kEriCoderArithmetic, kEriCoderVersion1, 1, true},
    {"huffman codes first", kEriCoderHuffman, kEriCoderVersion2, 8, true},
    {"huffman codes per block", kEriCoderHuffman, kEriCoderVersion2, 8, false},
};

} // namespace

TEST(EriRoundTrip, ColourFormatsOnEveryBlockPath) {
    struct Format {
        std::uint32_t format;
        int bits;
    };
    const Format formats[] = {{kEriFormatColour, 16},
                              {kEriFormatColour, 24},
                              {kEriFormatColour, 32},
                              {kEriFormatColourAlpha, 32}};
    int seed = 1;
    for (const Path& path : kBlockPaths)
        for (const Format& f : formats)
            for (bool negative : {false, true}) {
                SCOPED_TRACE(testing::Message() << path.name << " bits " << f.bits << " format "
                                                << f.format << " negative " << negative);
                // 8-pixel blocks: 37 x 29 leaves partial blocks at both edges
                // and 20 blocks, enough to pass through many operation codes.
                const EriTestPicture p = NoisePicture(37, 29, f.format, f.bits, seed++);
                EriEncodeOptions o;
                o.symbolCoder = path.coder;
                o.coderVersion = path.version;
                o.frameKind = path.frameKind;
                o.codesFirst = path.codesFirst;
                o.negativeHeight = negative;
                ExpectRoundTrip(p, o);
            }
}
