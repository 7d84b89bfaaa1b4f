// PNG output: the encoder the codec used before (the picture copied into the
// bitmap block, then into a QImage, then Qt's writer) beside our writer, and
// the choices of our writer measured one by one: colour type, row filter,
// zlib level and strategy, and libdeflate on the whole filtered picture.
//
// The pictures are the PNG files of the folder PELO_PNG_BENCH_DIR, or eight
// generated sprite sheets. For the pictures the writer really gets:
//   bench/make-sprite-folder /tmp/sprites
//   build/bin/pelo-batch -j1 --from png --to png /tmp/sprites /tmp/smoothed
//   PELO_PNG_BENCH_DIR=/tmp/smoothed build/bin/png_bench
// Counters: bytes = total encoded bytes of all pictures per pass.
#include "formats/Codec.h"
#include "formats/PngWriter.h"
#include "formats/SaveDispatch.h"
#include "image/PackedDib.h"
#include "samples/SpriteArt.h"

#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <libdeflate.h>
#include <vector>
#include <zlib.h>

namespace {

namespace fs = std::filesystem;
using pelo::PngFilter;

const std::vector<pelo::ImagePtr>& Pictures() {
    static const std::vector<pelo::ImagePtr> pictures = [] {
        std::vector<pelo::ImagePtr> out;
        if (const char* dir = std::getenv("PELO_PNG_BENCH_DIR")) {
            std::vector<fs::path> files;
            for (const auto& entry : fs::directory_iterator(dir))
                if (entry.path().extension() == ".png" || entry.path().extension() == ".PNG")
                    files.push_back(entry.path());
            std::sort(files.begin(), files.end());
            pelo::PackedDibPtr block;
            for (const auto& file : files)
                if (pelo::LoadCodecImage(file.string(), block))
                    if (auto image = pelo::ConvertDibToImage(*block))
                        out.push_back(std::move(image));
        } else {
            for (std::uint32_t seed = 1; seed <= 8; ++seed)
                out.push_back(pelo::samples::MakeSpriteSheet(1024, 1024, seed));
        }
        return out;
    }();
    return pictures;
}

std::string TempFile(const char* name) {
    return (fs::temp_directory_path() / name).string();
}

void SetBytes(benchmark::State& state, std::uint64_t bytes) {
    state.counters["bytes"] = static_cast<double>(bytes);
    state.counters["pictures"] = static_cast<double>(Pictures().size());
}

// The codec's PNG output before our writer: block, QImage, Qt's encoder,
// then the file.
std::size_t SaveThroughQt(const pelo::ImageBuffer& image, pelo::PackedDib& block,
                          const std::string& path) {
    pelo::ConvertImageToDib(image, block);
    const auto& h = block.header();
    QImage q(h.biWidth, h.biHeight, QImage::Format_ARGB32);
    const std::size_t rowBytes = 4 * static_cast<std::size_t>(h.biWidth);
    for (int y = 0; y < h.biHeight; ++y)
        std::memcpy(q.scanLine(y), block.pixels() + rowBytes * (h.biHeight - 1 - y), rowBytes);
    QByteArray encoded;
    QBuffer device(&encoded);
    device.open(QIODevice::WriteOnly);
    QImageWriter writer(&device, "png");
    writer.write(q);
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(encoded.constData(), 1, static_cast<std::size_t>(encoded.size()), f);
    std::fclose(f);
    return static_cast<std::size_t>(encoded.size());
}

void BM_FileToday(benchmark::State& state) {
    const std::string path = TempFile("pelo_png_bench_today.png");
    pelo::PackedDib block;
    std::uint64_t bytes = 0;
    for (auto _ : state) {
        bytes = 0;
        for (const auto& image : Pictures())
            bytes += SaveThroughQt(*image, block, path);
    }
    SetBytes(state, bytes);
    fs::remove(path);
}
BENCHMARK(BM_FileToday)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_FileNew(benchmark::State& state) {
    const std::string path = TempFile("pelo_png_bench_new.png");
    pelo::PackedDibPtr block;
    pelo::PsdState psd;
    pelo::EncodeOptions options;
    options.pngType = state.range(0) ? pelo::PngType::Rgba : pelo::PngType::Smallest;
    std::uint64_t bytes = 0;
    for (auto _ : state) {
        bytes = 0;
        for (const auto& image : Pictures()) {
            pelo::SaveImageFile(*image, path, pelo::SaveWriter::Codec, block, psd, options);
            bytes += fs::file_size(path);
        }
    }
    SetBytes(state, bytes);
    state.SetLabel(state.range(0) ? "rgba" : "smallest");
    fs::remove(path);
}
BENCHMARK(BM_FileNew)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(2.0);

class CountingSink : public pelo::PngSink {
public:
    bool Put(const void*, std::size_t size) override {
        bytes += size;
        return true;
    }
    std::uint64_t bytes = 0;
};

const char* const kFilterNames[] = {"none", "sub", "up", "avg", "paeth", "minsum", "flatness"};

// Args: type (0 smallest, 1 rgba), filter, zlib level, strategy.
void BM_Zlib(benchmark::State& state) {
    const auto type = state.range(0) ? pelo::PngType::Rgba : pelo::PngType::Smallest;
    pelo::PngTuning tuning;
    tuning.filter = static_cast<PngFilter>(state.range(1));
    tuning.level = static_cast<int>(state.range(2));
    tuning.zlibStrategy = static_cast<int>(state.range(3));
    std::uint64_t bytes = 0;
    std::string error;
    for (auto _ : state) {
        CountingSink sink;
        for (const auto& image : Pictures()) {
            const pelo::BgraRows rows = pelo::RowsOf(*image);
            pelo::EncodePng(rows, pelo::ChoosePngLayout(rows, type), tuning, sink, error);
        }
        bytes = sink.bytes;
    }
    SetBytes(state, bytes);
    static const char* const kStrategies[] = {"default", "filtered", "huffman", "rle"};
    state.SetLabel(std::string(state.range(0) ? "rgba " : "smallest ") +
                   kFilterNames[state.range(1)] + " " + kStrategies[state.range(3)]);
}
BENCHMARK(BM_Zlib)
    ->ArgsProduct({{0, 1}, {0, 1, 2, 3, 4, 5, 6}, {1, 6}, {Z_DEFAULT_STRATEGY}})
    ->ArgsProduct({{0, 1}, {0, 5, 6}, {2, 3, 4, 9}, {Z_DEFAULT_STRATEGY}})
    ->ArgsProduct({{0, 1}, {0, 5}, {6}, {Z_FILTERED, Z_RLE}})
    ->Unit(benchmark::kMillisecond);

// The whole picture packed and filtered into memory, then one libdeflate
// call: no streaming, so a full-size buffer beside the picture.
std::uint64_t LibdeflateSize(const pelo::ImageBuffer& image, pelo::PngType type, PngFilter filter,
                             libdeflate_compressor* compressor) {
    const pelo::BgraRows rows = pelo::RowsOf(image);
    const pelo::PngLayout layout = pelo::ChoosePngLayout(rows, type);
    const std::size_t rowBytes = layout.rowBytes(rows.width);
    std::vector<std::uint8_t> filtered((rowBytes + 1) * static_cast<std::size_t>(rows.height));
    std::vector<std::uint8_t> prev(rowBytes), cur(rowBytes), trial(rowBytes + 1);
    pelo::PngRowPacker packer(layout);
    for (int y = 0; y < rows.height; ++y) {
        packer.Pack(rows.row(y), rows.width, cur.data());
        std::uint8_t* out = filtered.data() + (rowBytes + 1) * static_cast<std::size_t>(y);
        if (filter != PngFilter::MinSum) {
            pelo::FilterPngRow(filter, cur.data(), prev.data(), rowBytes, layout.bytesPerPixel(),
                               out);
        } else {
            std::uint64_t best = UINT64_MAX;
            for (int f = 0; f < 5; ++f) {
                pelo::FilterPngRow(static_cast<PngFilter>(f), cur.data(), prev.data(), rowBytes,
                                   layout.bytesPerPixel(), trial.data());
                std::uint64_t sum = 0;
                for (std::size_t i = 1; i <= rowBytes; ++i)
                    sum += trial[i] < 128 ? trial[i] : 256 - trial[i];
                if (sum < best) {
                    best = sum;
                    std::memcpy(out, trial.data(), rowBytes + 1);
                }
            }
        }
        std::swap(prev, cur);
    }
    std::vector<std::uint8_t> packed(libdeflate_zlib_compress_bound(compressor, filtered.size()));
    const std::size_t size = libdeflate_zlib_compress(compressor, filtered.data(), filtered.size(),
                                                      packed.data(), packed.size());
    const std::size_t chunks = (size + (std::size_t{1} << 18) - 1) >> 18;
    // Signature, IHDR, IDAT chunk frames, PLTE, tRNS, IEND.
    return 8 + 25 + size + 12 * chunks +
           (layout.palette.empty() ? 0 : 3 * layout.palette.size() + 12) +
           (layout.translucentEntries ? layout.translucentEntries + 12 : 0) + 12;
}

// Args: type, filter (none, minsum), libdeflate level.
void BM_Libdeflate(benchmark::State& state) {
    const auto type = state.range(0) ? pelo::PngType::Rgba : pelo::PngType::Smallest;
    const auto filter = static_cast<PngFilter>(state.range(1));
    libdeflate_compressor* compressor =
        libdeflate_alloc_compressor(static_cast<int>(state.range(2)));
    std::uint64_t bytes = 0;
    for (auto _ : state) {
        bytes = 0;
        for (const auto& image : Pictures())
            bytes += LibdeflateSize(*image, type, filter, compressor);
    }
    libdeflate_free_compressor(compressor);
    SetBytes(state, bytes);
    state.SetLabel(std::string(state.range(0) ? "rgba " : "smallest ") +
                   kFilterNames[state.range(1)]);
}
BENCHMARK(BM_Libdeflate)
    ->ArgsProduct({{0, 1}, {0, 5}, {1, 3, 6, 9, 12}})
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
