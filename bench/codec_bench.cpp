// The codec's load and save paths on a 1024 x 1024 sprite sheet. The
// baseline is loading the same picture from a run-length TGA, which costs
// little more than the copies into the bitmap block; PNG adds the inflate.
#include "formats/Codec.h"
#include "formats/SaveDispatch.h"
#include "formats/TgaWriter.h"
#include "pipeline/FileKinds.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <filesystem>

namespace {

std::string TempPath(const std::string& name) {
    return (std::filesystem::temp_directory_path() / name).string();
}

// Flat-coloured discs with dark outlines on a transparent background.
const pelo::ImageBuffer& Sheet() {
    static const pelo::ImagePtr image = [] {
        auto img = pelo::AllocIpl(1024, 1024);
        std::fill(img->imageData, img->imageData + img->imageSize, 0);
        for (int cy = 32; cy < 1024; cy += 64)
            for (int cx = 32; cx < 1024; cx += 64) {
                const std::uint8_t fill[4] = {static_cast<std::uint8_t>(cx / 4),
                                              static_cast<std::uint8_t>(cy / 4), 200, 255};
                for (int y = cy - 24; y <= cy + 24; ++y)
                    for (int x = cx - 24; x <= cx + 24; ++x) {
                        const int d = (x - cx) * (x - cx) + (y - cy) * (y - cy);
                        if (d > 24 * 24) continue;
                        std::uint8_t* p = img->pixel(x, y);
                        if (d > 21 * 21) {
                            p[0] = p[1] = p[2] = 20;
                            p[3] = 255;
                        } else {
                            std::copy(fill, fill + 4, p);
                        }
                    }
            }
        return img;
    }();
    return *image;
}

void BM_LoadTgaBaseline(benchmark::State& state) {
    const std::string path = TempPath("pelo_codec_bench.tga");
    pelo::WriteTga(Sheet(), path, true);
    pelo::PackedDibPtr block;
    for (auto _ : state) {
        pelo::LoadCodecImage(path, block);
        benchmark::DoNotOptimize(block->pixels());
    }
    std::filesystem::remove(path);
}
BENCHMARK(BM_LoadTgaBaseline)->Unit(benchmark::kMillisecond);

void BM_LoadPng(benchmark::State& state) {
    const std::string path = TempPath("pelo_codec_bench.png");
    pelo::PackedDib source;
    pelo::ConvertImageToDib(Sheet(), source);
    pelo::SaveCodecImage(path, source);
    pelo::PackedDibPtr block;
    for (auto _ : state) {
        pelo::LoadCodecImage(path, block);
        benchmark::DoNotOptimize(block->pixels());
    }
    std::filesystem::remove(path);
}
BENCHMARK(BM_LoadPng)->Unit(benchmark::kMillisecond);

void BM_SaveImageFile(benchmark::State& state) {
    static const char* const kExtensions[] = {".TGA", ".PNG", ".GIF", ".TIF", ".JPG"};
    const std::string path = TempPath("pelo_codec_bench_out") + kExtensions[state.range(0)];
    pelo::PackedDibPtr block;
    pelo::PsdState psd;
    for (auto _ : state)
        benchmark::DoNotOptimize(
            pelo::SaveImageFile(Sheet(), path, pelo::WriterFor(path), block, psd));
    std::filesystem::remove(path);
    state.SetLabel(kExtensions[state.range(0)]);
}
BENCHMARK(BM_SaveImageFile)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
