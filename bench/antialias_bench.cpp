// Speed of the anti-aliasing passes and of the edge colour spreading on
// sprite sheets, beside a plain copy of the same picture (the memory floor).
#include "image/AlphaSmoother.h"
#include "image/AntiAlias.h"
#include "image/ColourSmoother.h"
#include "image/ImageView.h"
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

void Report(benchmark::State& state, const ImageBuffer& picture) {
    const double pixels = static_cast<double>(picture.pixelCount());
    state.counters["MP/s"] = benchmark::Counter(
        pixels * static_cast<double>(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
    state.counters["edge%"] = samples::MeasureEdges(picture).edgeShare() * 100.0;
}

// Runs op on a fresh copy of the sprite each iteration; restoring the copy is
// not timed.
template <class Op> void OnFreshCopy(benchmark::State& state, Op op) {
    const ImageBuffer& picture = Sprite(static_cast<int>(state.range(0)));
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

} // namespace

BENCHMARK_MAIN();
