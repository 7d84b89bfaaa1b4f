// The PSD library on a 1024 x 1024 document with four sprite-sheet layers:
// writing it (run-length channels), reading it back (merged image and every
// layer), and the flat load of the pipeline, which adds the alpha union.
// The baseline is copying the same pixels once, the least any reader does.
#include "formats/PsdLibrary.h"
#include "pipeline/ConversionSession.h"
#include "samples/SpriteArt.h"

#include <benchmark/benchmark.h>
#include <cstring>
#include <filesystem>
#include <vector>

namespace {

constexpr int kSide = 1024;
constexpr int kLayers = 4;

std::string TempPath(const std::string& name) {
    return (std::filesystem::temp_directory_path() / name).string();
}

struct Document {
    std::vector<pelo::ImagePtr> layers;
    pelo::ImagePtr merged;
};

const Document& Doc() {
    static const Document doc = [] {
        Document d;
        for (int i = 0; i < kLayers; ++i)
            d.layers.push_back(pelo::samples::MakeSpriteSheet(kSide, kSide, 11u + i));
        d.merged = pelo::samples::MakeOpaqueScene(kSide, kSide, 5);
        return d;
    }();
    return doc;
}

bool Write(const std::string& path) {
    const pelo::PsdLibrary* lib = pelo::Psd();
    if (lib->TlPsdSave_Open(path.c_str(), TLPSD_SAVE_RGB8, TLPSD_SAVE_OPTION_DEFAULTS) != 0)
        return false;
    lib->TlPsdSave_SetImage(Doc().merged->imageData, kSide, kSide);
    for (int i = 0; i < kLayers; ++i) {
        pelo::PsdLayerInfo info = pelo::kPsdLayerInfoDefaults;
        info.index = i;
        info.rect = {0, 0, kSide, kSide};
        std::snprintf(info.name, sizeof(info.name), "layer %d", i);
        lib->TlPsdSave_SetLayer(Doc().layers[static_cast<std::size_t>(i)]->imageData, &info);
    }
    return lib->TlPsdSave_Close() == 0;
}

const std::string& Written() {
    static const std::string path = [] {
        const std::string p = TempPath("pelo_psd_bench.psd");
        Write(p);
        return p;
    }();
    return path;
}

void BM_CopyBaseline(benchmark::State& state) {
    std::vector<std::uint8_t> out(4u * kSide * kSide);
    for (auto _ : state) {
        for (int i = 0; i <= kLayers; ++i) {
            const auto& src =
                i == kLayers ? Doc().merged : Doc().layers[static_cast<std::size_t>(i)];
            std::memcpy(out.data(), src->imageData, out.size());
            benchmark::DoNotOptimize(out.data());
        }
    }
}

void BM_PsdWrite(benchmark::State& state) {
    const std::string path = TempPath("pelo_psd_bench_write.psd");
    for (auto _ : state)
        benchmark::DoNotOptimize(Write(path));
    std::filesystem::remove(path);
}

void BM_PsdReadAll(benchmark::State& state) {
    const pelo::PsdLibrary* lib = pelo::Psd();
    std::vector<std::uint8_t> out(4u * kSide * kSide);
    for (auto _ : state) {
        lib->TlPsdLoad_Open(Written().c_str(), TLPSD_LOAD_BGRA8, nullptr);
        const int count = lib->TlPsdLoad_GetLayerCount();
        for (int i = -1; i < count; ++i) {
            pelo::PsdLayerInfo info = pelo::kPsdLayerInfoDefaults;
            info.index = i;
            lib->TlPsdLoad_GetImageInfo(&info);
            lib->TlPsdLoad_GetImage(i, out.data(), out.size(), &info.rect);
        }
        lib->TlPsdLoad_Close();
        benchmark::DoNotOptimize(out.data());
    }
}

void BM_PsdFlatLoad(benchmark::State& state) {
    pelo::ConversionSession session;
    for (auto _ : state)
        benchmark::DoNotOptimize(session.LoadImageFile(Written()));
}

} // namespace

BENCHMARK(BM_CopyBaseline)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PsdWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PsdReadAll)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PsdFlatLoad)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    if (!pelo::InitialLoadDll()) {
        std::fprintf(stderr, "%s\n", pelo::kInitialLoadDllError);
        return 2;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
