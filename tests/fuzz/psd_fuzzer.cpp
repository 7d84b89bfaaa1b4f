// Fuzzes the PSD library's reader the way the program drives it: open,
// merged image, every layer with its clip and crop, close.
#include "tlpsdex/tlpsdex.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

// Pictures above this stay unread: the caller would allocate them whole.
constexpr std::int64_t kMaxPixels = std::int64_t{1} << 22;

bool ReadPicture(TlPsdLayerInfo& info, std::vector<std::uint8_t>& pixels) {
    if (TlPsdLoad_GetImageInfo(&info) != 0) return false;
    const std::int64_t w = std::int64_t{info.rect.right} - info.rect.left;
    const std::int64_t h = std::int64_t{info.rect.bottom} - info.rect.top;
    if (w <= 0 || h <= 0 || w * h > kMaxPixels) return false;
    pixels.resize(static_cast<std::size_t>(w * h * 4));
    return TlPsdLoad_GetImage(info.index, pixels.data(), pixels.size(), &info.rect) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (TlPsdLoad_OpenMemory(data, size, TLPSD_LOAD_BGRA8) != 0) {
        TlPsdLoad_Close();
        return 0;
    }
    TlPsdLayerInfo merged{};
    merged.index = -1;
    std::vector<std::uint8_t> pixels;
    ReadPicture(merged, pixels);
    const int count = TlPsdLoad_GetLayerCount();
    for (int i = 0; i < count; ++i) {
        TlPsdLayerInfo layer{};
        layer.index = i;
        if (!ReadPicture(layer, pixels)) continue;
        TlPsd_UnderScan(pixels.data(), &layer.rect, &merged.rect);
        TlPsd_Minimize(pixels.data(), &layer.rect);
    }
    TlPsdLoad_Close();
    return 0;
}
