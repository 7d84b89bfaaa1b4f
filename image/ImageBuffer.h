// One picture in memory: four interleaved 8-bit channels per pixel stored
// blue, green, red, alpha; rows packed at 4 * width bytes; row 0 on top;
// colours never premultiplied.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace pelo {

inline constexpr int kImageDepth8u = 8;
inline constexpr int kDataOrderPixel = 0;
inline constexpr int kOriginTopLeft = 0;
inline constexpr int kOriginBottomLeft = 1;

// Result codes shared by the whole-image operations.
enum ImageStatus : int {
    kImageOk = 0,
    kImageWrongColourModel = -1,
    kImageWrongChannelSequence = -2,
    kImageNoPixels = -3,
    kImageNoWorkArea = -6,
};

struct ImageBuffer {
    int nChannels = 4;
    int alphaChannel = 4; // counted from 1
    int depth = kImageDepth8u;
    char colorModel[4] = {'R', 'G', 'B', 'A'};
    char channelSeq[4] = {'B', 'G', 'R', 'A'};
    int dataOrder = kDataOrderPixel;
    int origin = kOriginTopLeft;
    int width = 0;
    int height = 0;
    std::uint8_t* imageData = nullptr; // points into storage
    std::size_t imageSize = 0;         // bytes of pixels: 4 * width * height

    std::unique_ptr<std::uint8_t[]> storage;

    std::uint8_t* pixel(int x, int y) {
        return imageData + 4 * (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                                static_cast<std::size_t>(x));
    }
    const std::uint8_t* pixel(int x, int y) const {
        return imageData + 4 * (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                                static_cast<std::size_t>(x));
    }
    std::size_t pixelCount() const {
        return static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    }
};

using ImagePtr = std::unique_ptr<ImageBuffer>;

// Creates a buffer with uninitialised pixels, or none when a side is below 1,
// the size does not fit the limits, or the storage cannot be allocated.
ImagePtr AllocIpl(int width, int height, int depth = kImageDepth8u, int origin = kOriginTopLeft);

// Releases the buffer whole (header and pixels).
void ReleaseIpl(ImagePtr& image);

// A new buffer with the same size and the same pixels, or none.
ImagePtr CloneIpl(const ImageBuffer& image);

// Byte 3 of every pixel becomes value; colour bytes untouched.
void FillAlpha(ImageBuffer& image, int value);

// Every byte of every pixel becomes 0.
void ClearImage(ImageBuffer& image);

// -1/-2/-3 for buffers that are not RGBA/BGRA or have no pixels.
int CheckRgbaBgra(const ImageBuffer& image);

// Alpha 0 on every pixel whose red, green, blue equal the given ones exactly.
int MakeColourTransparent(ImageBuffer& image, int red, int green, int blue);

// Copies byte 3 of a clipped rectangle of source into destination.
void CopyAlphaRect(const ImageBuffer& source, ImageBuffer& destination, int sourceX, int sourceY,
                   int destX, int destY, int width, int height);

// Spreads the colours of non-transparent pixels into neighbouring
// fully transparent ones (reach - 1 before a run, reach after it). Alpha is
// unchanged. kImageNoWorkArea when the spread buffer cannot be made. The
// picture is split across up to `threads` threads; the same bytes for any
// count.
int ExtendEdgeColours(ImageBuffer& image, int reach, unsigned threads = 1);

// The diagnostic text of the last refused AllocIpl on this thread
// (composed, never shown).
const std::string& LastImageDiagnostic();

} // namespace pelo
