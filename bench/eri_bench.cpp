// ERI lossless decoding of 1024 x 1024 pictures with each symbol coder, and
// the baseline in the same run: decoding the same pixels from PNG through Qt.
// Pictures are encoded once by the test writer.
#include "EriFileWriter.h"
#include "eri/EriByteStream.h"
#include "eri/LoadEriImage.h"
#include "samples/SpriteArt.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <array>
#include <benchmark/benchmark.h>
#include <cstring>

namespace {

using namespace pelo;
using namespace pelo::eritest;

constexpr int kSide = 1024;

enum Picture { kSpriteAlpha, kSceneColour, kSceneGrey };

const EriTestPicture& Source(Picture which) {
    static const std::array<EriTestPicture, 3> pictures = [] {
        const ImagePtr sprite = samples::MakeSpriteSheet(kSide, kSide, 7);
        const ImagePtr scene = samples::MakeOpaqueScene(kSide, kSide, 7);
        EriTestPicture a{kSide, kSide, kEriFormatColourAlpha, 32, {}};
        a.pixels.assign(sprite->imageData, sprite->imageData + sprite->imageSize);
        EriTestPicture c{kSide, kSide, kEriFormatColour, 24, {}};
        EriTestPicture g{kSide, kSide, kEriFormatGrey, 8, {}};
        for (std::size_t i = 0; i < std::size_t(kSide) * kSide; ++i) {
            const std::uint8_t* p = scene->imageData + 4 * i;
            c.pixels.insert(c.pixels.end(), p, p + 3);
            g.pixels.push_back(std::uint8_t((p[0] + 2 * p[1] + p[2]) / 4));
        }
        return std::array<EriTestPicture, 3>{a, c, g};
    }();
    return pictures[which];
}

QImage AsQImage(const EriTestPicture& p) {
    if (p.bitsPerPixel == 8) {
        QImage img(p.width, p.height, QImage::Format_Grayscale8);
        for (int y = 0; y < p.height; ++y)
            std::memcpy(img.scanLine(y), p.pixels.data() + std::size_t(y) * p.width, p.width);
        return img;
    }
    const int bytes = p.bitsPerPixel / 8;
    QImage img(p.width, p.height, bytes == 4 ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    for (int y = 0; y < p.height; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(img.scanLine(y));
        for (int x = 0; x < p.width; ++x) {
            const std::uint8_t* s = p.pixels.data() + (std::size_t(y) * p.width + x) * bytes;
            const std::uint32_t alpha = bytes == 4 ? s[3] : 255;
            row[x] =
                (alpha << 24) | (std::uint32_t(s[2]) << 16) | (std::uint32_t(s[1]) << 8) | s[0];
        }
    }
    return img;
}

void DecodeEri(benchmark::State& state, Picture which, EriEncodeOptions options) {
    const std::vector<std::uint8_t> file = EncodeEriFile(Source(which), options);
    PackedDibPtr block;
    for (auto _ : state) {
        EriMemoryStream stream(file.data(), file.size());
        if (!LoadEriImage(stream, block)) {
            state.SkipWithError("decode failed");
            break;
        }
        benchmark::DoNotOptimize(block->pixels());
    }
    state.counters["MP/s"] = benchmark::Counter(double(kSide) * kSide / 1e6 * state.iterations(),
                                                benchmark::Counter::kIsRate);
    state.counters["bytes"] = double(file.size());
}

void DecodePng(benchmark::State& state, Picture which) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    AsQImage(Source(which)).save(&buffer, "PNG");
    for (auto _ : state) {
        QImage img;
        if (!img.loadFromData(png, "PNG")) {
            state.SkipWithError("PNG decode failed");
            break;
        }
        benchmark::DoNotOptimize(img.constBits());
    }
    state.counters["MP/s"] = benchmark::Counter(double(kSide) * kSide / 1e6 * state.iterations(),
                                                benchmark::Counter::kIsRate);
    state.counters["bytes"] = double(png.size());
}

EriEncodeOptions Blocks(std::int32_t coder, int frameKind) {
    EriEncodeOptions o;
    o.symbolCoder = coder;
    o.frameKind = frameKind;
    o.blockDegree = 3;
    // Plain colour decorrelation (green subtracted) in row order for every block.
    o.operationCode = [coder](int) -> std::uint32_t {
        return coder == kEriCoderHuffman ? 0x40 | 15 : 3;
    };
    return o;
}

EriEncodeOptions Rows(std::int32_t coder) {
    EriEncodeOptions o;
    o.symbolCoder = coder;
    o.frameKind = 2;
    return o;
}

} // namespace

BENCHMARK_CAPTURE(DecodePng, sprite_rgba, kSpriteAlpha)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeEri, sprite_rgba_gamma, kSpriteAlpha, Blocks(kEriCoderGamma, 1))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeEri, sprite_rgba_arithmetic, kSpriteAlpha, Blocks(kEriCoderArithmetic, 4))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeEri, sprite_rgba_huffman, kSpriteAlpha, Blocks(kEriCoderHuffman, 8))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodePng, scene_rgb, kSceneColour)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeEri, scene_rgb_gamma, kSceneColour, Blocks(kEriCoderGamma, 1))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeEri, scene_rgb_arithmetic, kSceneColour, Blocks(kEriCoderArithmetic, 4))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeEri, scene_rgb_huffman, kSceneColour, Blocks(kEriCoderHuffman, 8))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodePng, scene_grey, kSceneGrey)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeEri, scene_grey_rows_gamma, kSceneGrey, Rows(kEriCoderGamma))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeEri, scene_grey_rows_arithmetic, kSceneGrey, Rows(kEriCoderArithmetic))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeEri, scene_grey_rows_huffman, kSceneGrey, Rows(kEriCoderHuffman))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeEri, scene_grey_blocks_gamma, kSceneGrey, Blocks(kEriCoderGamma, 1))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeEri, scene_grey_blocks_arithmetic, kSceneGrey,
                  Blocks(kEriCoderArithmetic, 1))
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
