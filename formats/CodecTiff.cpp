// TIFF input through libtiff: Qt's decoder premultiplies alpha, which loses
// the colour bytes of transparent pixels.
#include "formats/CodecInternal.h"
#include "formats/CodecReaders.h"
#include "image/Allocation.h"
#include "image/PictureBudget.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <tiffio.h>
#include <vector>

namespace pelo::codec {

namespace {

struct Memory {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;
};

tsize_t ReadProc(thandle_t h, tdata_t buffer, tsize_t n) {
    auto* m = static_cast<Memory*>(h);
    if (n < 0) return 0;
    const std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(n), m->size - m->at);
    std::memcpy(buffer, m->data + m->at, count);
    m->at += count;
    return static_cast<tsize_t>(count);
}
tsize_t WriteProc(thandle_t, tdata_t, tsize_t) {
    return 0;
}
toff_t SeekProc(thandle_t h, toff_t offset, int whence) {
    auto* m = static_cast<Memory*>(h);
    std::uint64_t base = whence == SEEK_CUR ? m->at : whence == SEEK_END ? m->size : 0;
    const std::uint64_t target = base + offset;
    if (target > m->size) return static_cast<toff_t>(-1);
    m->at = static_cast<std::size_t>(target);
    return m->at;
}
int CloseProc(thandle_t) {
    return 0;
}
toff_t SizeProc(thandle_t h) {
    return static_cast<Memory*>(h)->size;
}

// libtiff reports through handlers that print to stderr unless replaced,
// and Qt's TIFF decoder (which takes the layouts DecodeTiff leaves to it)
// opens files without handlers of its own. Ours keep the first error of the
// calling thread for the decode in progress and drop warnings; the files of
// a batch are decoded on several threads at once.
thread_local std::string tiffMessage;

void KeepMessage(const char* format, va_list args) {
    if (!tiffMessage.empty()) return;
    char text[256];
    std::vsnprintf(text, sizeof text, format, args);
    tiffMessage = text;
}
void OnError(const char*, const char* format, va_list args) {
    KeepMessage(format, args);
}
void OnWarning(const char*, const char*, va_list) {}
// The same for one open file, in case another part of the process replaces
// the process-wide handlers.
int OnFileError(TIFF*, void*, const char*, const char* format, va_list args) {
    KeepMessage(format, args);
    return 1; // handled: the process-wide handler is not called
}
int OnFileWarning(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

void InstallHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetErrorHandler(OnError);
        TIFFSetWarningHandler(OnWarning);
        TIFFSetErrorHandlerExt(nullptr);
        TIFFSetWarningHandlerExt(nullptr);
    });
}

// At start-up, so that a TIFF drawn by the SVG renderer or read before the
// first DecodeTiff is covered as well.
const bool kHandlersInstalled = (InstallHandlers(), true);

struct OptionsFree {
    void operator()(TIFFOpenOptions* o) const { TIFFOpenOptionsFree(o); }
};

} // namespace

TiffPtr OpenTiffClient(const char* mode, thandle_t handle, TIFFReadWriteProc read,
                       TIFFReadWriteProc write, TIFFSeekProc seek, TIFFCloseProc close,
                       TIFFSizeProc size, tmsize_t maxSingleAlloc) {
    InstallHandlers(); // done at start-up already; kept for callers during static initialisation
    tiffMessage.clear();
    std::unique_ptr<TIFFOpenOptions, OptionsFree> options(TIFFOpenOptionsAlloc());
    if (!options) return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), OnFileError, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), OnFileWarning, nullptr);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), maxSingleAlloc);
    return TiffPtr(TIFFClientOpenExt("memory", mode, handle, read, write, seek, close, size,
                                     nullptr, nullptr, options.get()));
}

std::string TiffReason(const char* otherwise) {
    return tiffMessage.empty() ? otherwise : "TIFF: " + tiffMessage;
}

TiffDecode DecodeTiff(const std::uint8_t* data, std::size_t size, ImagePtr& picture,
                      std::string& error) {
    const bool little =
        size >= 4 && data[0] == 'I' && data[1] == 'I' && data[2] == 42 && data[3] == 0;
    const bool big = size >= 4 && data[0] == 'M' && data[1] == 'M' && data[2] == 0 && data[3] == 42;
    InstallHandlers(); // done at start-up already; kept for callers during static initialisation
    tiffMessage.clear();
    if (!little && !big) return TiffDecode::NotHandled;
    Memory memory{data, size, 0};
    const TiffPtr tiff = OpenTiffClient(
        "rm", &memory, ReadProc, WriteProc, SeekProc, CloseProc, SizeProc,
        static_cast<tmsize_t>(std::min<std::size_t>(MaxImageBytes(), std::size_t{1} << 40)));
    if (!tiff) {
        // Qt's decoder sits on the same library and would fail the same way.
        error = TiffReason("cannot read the TIFF file");
        return TiffDecode::Failed;
    }

    std::uint32_t width = 0, height = 0;
    std::uint16_t bits = 0, samples = 1, photometric = 0, planar = PLANARCONFIG_CONTIG;
    std::uint16_t orientation = ORIENTATION_TOPLEFT, extraCount = 0;
    std::uint16_t* extra = nullptr;
    TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_ORIENTATION, &orientation);
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
    if (!TIFFGetField(tiff.get(), TIFFTAG_PHOTOMETRIC, &photometric)) return TiffDecode::NotHandled;

    const bool rgb = photometric == PHOTOMETRIC_RGB && samples >= 3;
    const bool grey = photometric == PHOTOMETRIC_MINISBLACK && samples >= 1;
    const unsigned colourSamples = rgb ? 3 : 1;
    const bool hasAlpha = samples > colourSamples && extraCount > 0;
    if ((!rgb && !grey) || bits != 8 || planar != PLANARCONFIG_CONTIG ||
        orientation != ORIENTATION_TOPLEFT || TIFFIsTiled(tiff.get()) ||
        (hasAlpha && extra[0] == EXTRASAMPLE_ASSOCALPHA))
        return TiffDecode::NotHandled;
    if (width >= 1 && height >= 1) {
        if (std::string problem = AdmitPicture(width, height); !problem.empty()) {
            error = std::move(problem);
            return TiffDecode::Failed;
        }
    }
    if (width < 1 || height < 1 || width > INT32_MAX || height > INT32_MAX ||
        !CheckedImageBytes(width, height, 4)) {
        error = "invalid TIFF picture size";
        return TiffDecode::Failed;
    }
    const tmsize_t lineSize = TIFFScanlineSize(tiff.get());
    if (lineSize < static_cast<tmsize_t>(std::size_t{width} * samples)) {
        error = "invalid TIFF layout";
        return TiffDecode::Failed;
    }
    std::vector<std::uint8_t> line(static_cast<std::size_t>(lineSize));
    ImagePtr decoded = AllocIpl(static_cast<int>(width), static_cast<int>(height));
    if (!decoded) {
        error = "out of memory";
        return TiffDecode::Failed;
    }
    for (std::uint32_t y = 0; y < height; ++y) {
        if (TIFFReadScanline(tiff.get(), line.data(), y, 0) < 0) {
            error = TiffReason("truncated TIFF file");
            return TiffDecode::Failed;
        }
        std::uint8_t* out = decoded->pixel(0, static_cast<int>(y));
        const std::uint8_t* in = line.data();
        for (std::uint32_t x = 0; x < width; ++x, in += samples, out += 4) {
            out[0] = in[rgb ? 2 : 0];
            out[1] = in[rgb ? 1 : 0];
            out[2] = in[0];
            out[3] = hasAlpha ? in[colourSamples] : 255;
        }
    }
    picture = std::move(decoded);
    return TiffDecode::Decoded;
}

TiffDecode DecodeTiff(const std::uint8_t* data, std::size_t size, PackedDibPtr& block,
                      std::string& error) {
    ImagePtr picture;
    const TiffDecode result = DecodeTiff(data, size, picture, error);
    if (result != TiffDecode::Decoded) return result;
    if (!block) block = std::make_unique<PackedDib>();
    if (ConvertImageToDib(*picture, *block)) return result;
    error = "out of memory";
    return TiffDecode::Failed;
}

} // namespace pelo::codec
