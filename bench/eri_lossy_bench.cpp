// Lossy ERI decoding of a 1024 x 1024 colour picture with each chroma
// sampling and both symbol coders, beside decoding a JPEG of the same
// picture through Qt in the same run. Both decode from memory.
#include "LossyEncoder.h"
#include "eri/EriByteStream.h"
#include "eri/EriLossyBlockWriters.h"
#include "eri/EriLossyMacroBlock.h"
#include "eri/LoadEriImage.h"
#include "samples/SpriteArt.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdio>

namespace {

constexpr int kSide = 1024;
constexpr double kMegapixels = kSide * kSide / 1e6;

// The opaque sprite scene under a gentle gradient and a little noise, so
// that both codecs see smooth areas, hard edges and texture.
const pelo::test::LossyPicture& Picture() {
    static const pelo::test::LossyPicture picture = [] {
        pelo::ImagePtr scene = pelo::samples::MakeOpaqueScene(kSide, kSide, 7);
        pelo::test::LossyPicture p{kSide, kSide, {}};
        p.bgra.resize(std::size_t(kSide) * kSide * 4);
        std::uint32_t noise = 12345;
        for (int y = 0; y < kSide; ++y) {
            for (int x = 0; x < kSide; ++x) {
                const std::uint8_t* src = scene->pixel(x, y);
                std::uint8_t* dst = &p.bgra[(std::size_t(y) * kSide + x) * 4];
                for (int c = 0; c < 3; ++c) {
                    noise = noise * 1664525u + 1013904223u;
                    const int v = src[c] * 3 / 4 + (x + y * (c + 1)) / 48 + int(noise >> 29);
                    dst[c] = std::uint8_t(std::min(255, v));
                }
                dst[3] = 255;
            }
        }
        return p;
    }();
    return picture;
}

pelo::test::LossyOptions Options(std::uint32_t chroma, std::int32_t coder) {
    pelo::test::LossyOptions o;
    o.degree = 3;
    o.chromaSampling = chroma;
    o.symbolCoder = coder;
    o.bitsPerPixel = 24;
    o.lumaDcStep = 63;
    o.chromaDcStep = 31;
    o.parameters = [](int) -> std::array<std::uint8_t, 4> { return {47, 23, 23, 11}; };
    return o;
}

// Peak signal-to-noise ratio of decoded blue, green, red against the
// picture; rows of the decoded form are reached through row(y), top first.
template <typename Row> double Psnr(Row row) {
    const pelo::test::LossyPicture& p = Picture();
    double squares = 0;
    for (int y = 0; y < kSide; ++y) {
        const std::uint8_t* got = row(y);
        for (int x = 0; x < kSide; ++x)
            for (int c = 0; c < 3; ++c) {
                const double d =
                    double(got[x * 4 + c]) - p.bgra[(std::size_t(y) * kSide + x) * 4 + c];
                squares += d * d;
            }
    }
    const double mse = squares / (3.0 * kSide * kSide);
    return mse > 0 ? 10 * std::log10(255.0 * 255.0 / mse) : 99;
}

const std::uint32_t kChroma[] = {pelo::kEriChroma444, pelo::kEriChroma422, pelo::kEriChroma411};
const char* const kChromaNames[] = {"0x00040404", "0x00040202", "0x00040101"};

void BM_DecodeEriLossy(benchmark::State& state) {
    const int chroma = static_cast<int>(state.range(0));
    const std::int32_t coder = state.range(1) ? pelo::kEriCoderHuffman : pelo::kEriCoderGamma;
    const std::vector<std::uint8_t> file =
        pelo::test::EncodeLossyFile(Picture(), Options(kChroma[chroma], coder));
    pelo::PackedDibPtr block;
    for (auto _ : state) {
        pelo::EriMemoryStream stream(file.data(), file.size());
        if (!pelo::LoadEriImage(stream, block)) {
            state.SkipWithError("decode failed");
            break;
        }
        benchmark::DoNotOptimize(block->pixels());
    }
    state.counters["MP/s"] =
        benchmark::Counter(kMegapixels * double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["KiB"] = double(file.size()) / 1024.0;
    if (block) {
        // 24-bit bottom-up rows; widened to four bytes a pixel for Psnr.
        const std::size_t stride = (std::size_t(kSide) * 3 + 3) & ~std::size_t{3};
        std::vector<std::uint8_t> wide(std::size_t(kSide) * 4);
        state.counters["PSNR"] = Psnr([&](int y) {
            const std::uint8_t* src = block->pixels() + stride * (kSide - 1 - y);
            for (int x = 0; x < kSide; ++x)
                std::copy(src + 3 * x, src + 3 * x + 3, wide.data() + 4 * x);
            return wide.data();
        });
    }
    state.SetLabel(std::string(kChromaNames[chroma]) +
                   (coder == pelo::kEriCoderHuffman ? " huffman" : " gamma"));
}
BENCHMARK(BM_DecodeEriLossy)->ArgsProduct({{0, 1, 2}, {0, 1}})->Unit(benchmark::kMillisecond);

// Everything of the lossy decode after the symbol coders, on the quantised
// values of the same picture: DC prediction, dequantisation, transform,
// upsampling, colour conversion and the block writer. Each macro-block's
// values are first copied into one small buffer, where the symbol decoder
// would have left them, so that they come from the cache as in a decode.
void BM_ReconstructEriLossy(benchmark::State& state) {
    const int chroma = static_cast<int>(state.range(0));
    const pelo::test::LossyOptions options = Options(kChroma[chroma], pelo::kEriCoderGamma);
    const pelo::test::LossyFrame frame = pelo::test::QuantiseLossy(Picture(), options);
    pelo::EriLossyMacroBlock mb;
    if (!mb.Init(options.degree, options.chromaSampling, false, options.lumaDcStep,
                 options.chromaDcStep)) {
        state.SkipWithError("no macro-block");
        return;
    }
    const int s = mb.Side();
    const std::ptrdiff_t stride = (std::ptrdiff_t(kSide) * 3 + 3) & ~std::ptrdiff_t{3};
    std::vector<std::uint8_t> pixels(std::size_t(stride) * kSide);
    std::vector<std::int32_t> ac(frame.acPerMacroBlock());
    for (auto _ : state) {
        std::int64_t dc[pelo::kMaxEriLossyBlocks];
        for (int row = 0; row < frame.rows; ++row) {
            std::fill(dc, dc + frame.blocks, 0);
            for (int column = 0; column < frame.columns; ++column) {
                const int index = row * frame.columns + column;
                for (int b = 0; b < frame.blocks; ++b)
                    dc[b] += frame.dcDifferences[std::size_t(index) * frame.blocks + b];
                const auto first = frame.ac.begin() + std::ptrdiff_t(index * ac.size());
                std::copy(first, first + std::ptrdiff_t(ac.size()), ac.begin());
                mb.Reconstruct(dc, ac.data(), frame.parameters[index].data());
                for (int q = 0; q < 4; ++q) {
                    const int x = column * 2 * s + (q % 2) * s, y = row * 2 * s + (q / 2) * s;
                    pelo::WriteEriLossy3(pixels.data() + y * stride + x * 3, stride, s, s,
                                         mb.Planes(q), s, 3);
                }
            }
        }
        benchmark::DoNotOptimize(pixels.data());
    }
    state.counters["MP/s"] =
        benchmark::Counter(kMegapixels * double(state.iterations()), benchmark::Counter::kIsRate);
    state.SetLabel(kChromaNames[chroma]);
}
BENCHMARK(BM_ReconstructEriLossy)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

void BM_DecodeJpegBaseline(benchmark::State& state) {
    const pelo::test::LossyPicture& p = Picture();
    QImage image(p.bgra.data(), kSide, kSide, kSide * 4, QImage::Format_RGB32);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "JPG", 90)) {
        state.SkipWithError("JPEG encoding unavailable");
        return;
    }
    for (auto _ : state) {
        QImage decoded;
        if (!decoded.loadFromData(jpeg, "JPG")) {
            state.SkipWithError("decode failed");
            break;
        }
        benchmark::DoNotOptimize(decoded.constBits());
    }
    state.counters["MP/s"] =
        benchmark::Counter(kMegapixels * double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["KiB"] = double(jpeg.size()) / 1024.0;
    QImage decoded;
    if (decoded.loadFromData(jpeg, "JPG")) {
        decoded = decoded.convertToFormat(QImage::Format_RGB32);
        state.counters["PSNR"] = Psnr([&](int y) { return decoded.constScanLine(y); });
    }
}
BENCHMARK(BM_DecodeJpegBaseline)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
