#include "image/ImageBuffer.h"

#include "image/Allocation.h"
#include "image/PictureBudget.h"

#include <cstdio>
#include <cstring>

namespace pelo {

namespace {

thread_local std::string tDiagnostic;

void SetDiagnostic(const char* format, int a, int b) {
    char text[256];
    std::snprintf(text, sizeof text, format, a, b);
    tDiagnostic = text;
}

} // namespace

const std::string& LastImageDiagnostic() {
    return tDiagnostic;
}

ImagePtr AllocIpl(int width, int height, int depth, int origin) {
    if (width < 1 || height < 1) {
        SetDiagnostic("AllocIpl:不正なサイズが指定されました。width=%d height=%d", width, height);
        return nullptr;
    }
    const auto bytes = CheckedImageBytes(width, height, 4);
    if (!bytes || !AdmitPicture(width, height).empty()) {
        SetDiagnostic("AllocIpl:不正なサイズが指定されました。width=%d height=%d", width, height);
        return nullptr;
    }
    auto storage = TryAllocateBytes(*bytes);
    if (!storage) {
        SetDiagnostic("AllocIpl:メモリの確保に失敗しました。width=%d height=%d", width, height);
        return nullptr;
    }
    auto image = std::make_unique<ImageBuffer>();
    image->depth = depth;
    image->origin = (origin == kOriginBottomLeft) ? kOriginBottomLeft : kOriginTopLeft;
    image->width = width;
    image->height = height;
    image->imageSize = *bytes;
    image->storage = std::move(storage);
    image->imageData = image->storage.get();
    return image;
}

void ReleaseIpl(ImagePtr& image) {
    image.reset();
}

ImagePtr CloneIpl(const ImageBuffer& source) {
    auto copy = AllocIpl(source.width, source.height, source.depth, source.origin);
    if (!copy) return nullptr;
    if (source.imageData) std::memcpy(copy->imageData, source.imageData, copy->imageSize);
    return copy;
}

void FillAlpha(ImageBuffer& image, int value) {
    if (image.nChannels < 4) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "FillAlpha() イメージがαチャンネルを持っていません nCannels=%d\n",
                      image.nChannels);
        tDiagnostic = text;
        return;
    }
    if (!image.imageData) return;
    const auto alpha = static_cast<std::uint8_t>(value);
    std::uint8_t* p = image.imageData;
    const std::size_t n = image.imageSize / 4;
    for (std::size_t i = 0; i < n; ++i)
        p[4 * i + 3] = alpha;
}

void ClearImage(ImageBuffer& image) {
    if (image.imageData) std::memset(image.imageData, 0, image.imageSize);
}

int CheckRgbaBgra(const ImageBuffer& image) {
    if (std::memcmp(image.colorModel, "RGBA", 4) != 0) return kImageWrongColourModel;
    if (std::memcmp(image.channelSeq, "BGRA", 4) != 0) return kImageWrongChannelSequence;
    if (!image.imageData) return kImageNoPixels;
    return kImageOk;
}

int MakeColourTransparent(ImageBuffer& image, int red, int green, int blue) {
    if (const int status = CheckRgbaBgra(image); status != kImageOk) return status;
    std::uint8_t* p = image.imageData;
    const std::size_t n = image.imageSize / 4;
    for (std::size_t i = 0; i < n; ++i, p += 4) {
        if (p[2] == red && p[1] == green && p[0] == blue) p[3] = 0;
    }
    return kImageOk;
}

void CopyAlphaRect(const ImageBuffer& source, ImageBuffer& destination, int sourceX, int sourceY,
                   int destX, int destY, int width, int height) {
    if (sourceX < 0 || sourceY < 0 || destX < 0 || destY < 0 || width < 0 || height < 0) return;
    if (sourceX > source.width || sourceY > source.height || destX > destination.width ||
        destY > destination.height)
        return;
    if (!source.imageData || !destination.imageData) return;
    if (width > source.width - sourceX) width = source.width - sourceX;
    if (width > destination.width - destX) width = destination.width - destX;
    if (height > source.height - sourceY) height = source.height - sourceY;
    if (height > destination.height - destY) height = destination.height - destY;
    if (height <= 0 || width <= 0) return;
    for (int r = 0; r < height; ++r) {
        const std::uint8_t* s = source.pixel(sourceX, sourceY + r);
        std::uint8_t* d = destination.pixel(destX, destY + r);
        for (int c = 0; c < width; ++c)
            d[4 * c + 3] = s[4 * c + 3];
    }
}

} // namespace pelo
