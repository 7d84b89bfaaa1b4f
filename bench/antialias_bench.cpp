// Speed of the anti-aliasing passes and of the edge colour spreading on
// sprite sheets, beside a plain copy of the same picture (the memory floor).
// The busy sheet (samples/BusySprites) is the one the passes are tuned on:
// they change about a fifth of its pixels. BM_SmoothPicture runs the whole
// smoothing of a sheet with the thread count as the second argument.
//
// To compare with an older tree, build this file there too (with
// samples/BusySprites.*) and run both with
// --benchmark_filter='Busy|Smooth'.
#include "image/AlphaSmoother.h"
#include "image/AntiAlias.h"
#include "image/ColourSmoother.h"
#include "image/ImageView.h"
#include "pipeline/SmoothPicture.h"
#include "samples/BusySprites.h"
#include "samples/SpriteArt.h"

#include <benchmark/benchmark.h>
#include <cstring>
#include <map>

namespace {

using namespace pelo;

const ImageBuffer& Sprite(int side) {
    static std::map<int, ImagePtr> cache;
    auto& img = cache[side];
    if (!img) img = samples::MakeSpriteSheet(side, side, 2024);
    return *img;
}

const ImageBuffer& BusySheet(int side) {
    static std::map<int, ImagePtr> cache;
    auto& img = cache[side];
    if (!img) img = samples::MakeBusySpriteSheet(side, side, 2024);
    return *img;
}

void Report(benchmark::State& state, const ImageBuffer& picture) {
    const double pixels = static_cast<double>(picture.pixelCount());
    state.counters["MP/s"] = benchmark::Counter(
        pixels * static_cast<double>(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
    state.counters["edge%"] = samples::MeasureEdges(picture).edgeShare() * 100.0;
}

// Runs op on a fresh copy of the picture each iteration; restoring the copy
// is not timed.
template <class Op> void OnFreshCopy(benchmark::State& state, const ImageBuffer& picture, Op op) {
    auto work = CloneIpl(picture);
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(work->imageData, picture.imageData, picture.imageSize);
        state.ResumeTiming();
        benchmark::DoNotOptimize(op(*work));
        benchmark::ClobberMemory();
    }
    Report(state, picture);
}

template <class Op> void OnFreshCopy(benchmark::State& state, Op op) {
    OnFreshCopy(state, Sprite(static_cast<int>(state.range(0))), op);
}

void BM_ColourPass(benchmark::State& state) {
    const ConversionSettings settings;
    OnFreshCopy(state, [&](ImageBuffer& img) {
        ColourSmoother pass;
        return pass.Run(MakeImageView(img), MakeAntiAliasParams(settings, img.width, img.height));
    });
}

void BM_AlphaPass(benchmark::State& state) {
    const ConversionSettings settings;
    OnFreshCopy(state, [&](ImageBuffer& img) {
        AlphaSmoother pass;
        return pass.Run(MakeImageView(img), MakeAntiAliasParams(settings, img.width, img.height));
    });
}

void BM_BothPasses(benchmark::State& state) {
    const ConversionSettings settings;
    OnFreshCopy(state, [&](ImageBuffer& img) { return AntiAliasImage(img, settings, true); });
}

void BM_ExtendEdgeColours(benchmark::State& state) {
    OnFreshCopy(state, [](ImageBuffer& img) { return ExtendEdgeColours(img, 3); });
}

// Edge spread, colour pass and alpha pass on the busy sheet, one thread:
// the three steps the single-core speed is measured on.
void BM_BusySpreadAndPasses(benchmark::State& state) {
    const ConversionSettings settings;
    OnFreshCopy(state, BusySheet(static_cast<int>(state.range(0))), [&](ImageBuffer& img) {
        const int spread = ExtendEdgeColours(img, 3);
        return spread != 0 ? spread : AntiAliasImage(img, settings, true);
    });
}

// The whole smoothing of a PNG-like input written to an output without
// alpha (spread, both passes, flattening) on range(1) threads.
void BM_SmoothPicture(benchmark::State& state) {
    const ConversionSettings settings;
    OnFreshCopy(state, BusySheet(static_cast<int>(state.range(0))), [&](ImageBuffer& img) {
        return SmoothPicture(img, settings, PictureRoles{true, false},
                             static_cast<unsigned>(state.range(1)));
    });
}

void BM_Copy(benchmark::State& state) {
    const ImageBuffer& picture = Sprite(static_cast<int>(state.range(0)));
    auto work = CloneIpl(picture);
    for (auto _ : state) {
        std::memcpy(work->imageData, picture.imageData, picture.imageSize);
        benchmark::ClobberMemory();
    }
    Report(state, picture);
}

BENCHMARK(BM_Copy)->Arg(256)->Arg(1024)->Arg(4096)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ColourPass)->Arg(256)->Arg(1024)->Arg(4096)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AlphaPass)->Arg(256)->Arg(1024)->Arg(4096)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BothPasses)->Arg(256)->Arg(1024)->Arg(4096)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ExtendEdgeColours)->Arg(256)->Arg(1024)->Arg(4096)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BusySpreadAndPasses)->Arg(1024)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SmoothPicture)
    ->Args({8192, 1})
    ->Args({8192, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
