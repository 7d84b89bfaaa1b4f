#include "formats/PngReader.h"

#include "image/PictureBudget.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <png.h>

namespace pelo::codec {

namespace {

struct Source {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at;
};

// What libpng said: its last error (plain characters, as the error handler
// leaves by longjmp) and its warnings.
struct Said {
    char error[160] = {};
    std::string* warnings;
};

void ReadBytes(png_structp png, png_bytep out, std::size_t n) {
    auto* source = static_cast<Source*>(png_get_io_ptr(png));
    if (source->size - source->at < n) png_error(png, "Read beyond end of data");
    std::memcpy(out, source->data + source->at, n);
    source->at += n;
}

[[noreturn]] void OnError(png_structp png, png_const_charp message) {
    auto* said = static_cast<Said*>(png_get_error_ptr(png));
    std::snprintf(said->error, sizeof said->error, "%s", message);
    png_longjmp(png, 1);
}

void OnWarning(png_structp png, png_const_charp message) {
    std::string& warnings = *static_cast<Said*>(png_get_error_ptr(png))->warnings;
    if (!warnings.empty()) warnings += "; ";
    warnings += "libpng warning: ";
    warnings += message;
}

class PngRead {
public:
    explicit PngRead(Said& said)
        : png_(png_create_read_struct(PNG_LIBPNG_VER_STRING, &said, OnError, OnWarning)),
          info_(png_ ? png_create_info_struct(png_) : nullptr) {}
    ~PngRead() { png_destroy_read_struct(&png_, info_ ? &info_ : nullptr, nullptr); }
    PngRead(const PngRead&) = delete;
    PngRead& operator=(const PngRead&) = delete;

    png_structp png() const { return png_; }
    png_infop info() const { return info_; }

private:
    png_structp png_;
    png_infop info_;
};

// Each step below returns false when libpng gave up; nothing with a
// destructor lives in them, as libpng leaves by longjmp.

bool ReadHeader(png_structp png, png_infop info) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_info(png, info);
    return true;
}

// Blue, green, red, alpha, 8 bits each, whatever the stored type of 8 bits
// or fewer: palette and grey expanded, tRNS made alpha, a filler 255 where
// there is no alpha. All of these are exact. The number of passes.
int SetUpRows(png_structp png, png_infop info) {
    if (setjmp(png_jmpbuf(png))) return 0;
    const int colour = png_get_color_type(png, info);
    const bool transparency = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    if (colour == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colour == PNG_COLOR_TYPE_GRAY && png_get_bit_depth(png, info) < 8)
        png_set_expand_gray_1_2_4_to_8(png);
    if (transparency) png_set_tRNS_to_alpha(png);
    if (colour == PNG_COLOR_TYPE_GRAY || colour == PNG_COLOR_TYPE_GRAY_ALPHA)
        png_set_gray_to_rgb(png);
    if (!transparency && (colour & PNG_COLOR_MASK_ALPHA) == 0)
        png_set_filler(png, 0xff, PNG_FILLER_AFTER);
    png_set_bgr(png);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    return passes;
}

// Every pass over every row, as png_read_image does, without its table of
// row pointers; then the chunks after the pixels.
bool ReadRows(png_structp png, ImageBuffer& picture, int passes) {
    if (setjmp(png_jmpbuf(png))) return false;
    for (int pass = 0; pass < passes; ++pass)
        for (int y = 0; y < picture.height; ++y)
            png_read_row(png, picture.pixel(0, y), nullptr);
    png_read_end(png, nullptr);
    return true;
}

} // namespace

PngDecode DecodePng(const std::uint8_t* data, std::size_t size, ImagePtr& picture,
                    std::string& error, std::string& warnings) {
    if (size < 8 || png_sig_cmp(data, 0, 8) != 0) return PngDecode::NotHandled;
    Said said;
    said.warnings = &warnings;
    PngRead read(said);
    if (!read.png() || !read.info()) {
        error = "out of memory";
        return PngDecode::Failed;
    }
    Source source{data, size, 0};
    png_set_read_fn(read.png(), &source, ReadBytes);
    if (!ReadHeader(read.png(), read.info())) return PngDecode::NotHandled;

    png_uint_32 width = 0, height = 0;
    int depth = 0, colour = 0;
    png_get_IHDR(read.png(), read.info(), &width, &height, &depth, &colour, nullptr, nullptr,
                 nullptr);
    if (depth > 8) return PngDecode::NotHandled; // 16 bits: Qt's scaling to 8 bits
    if (std::string problem = AdmitPicture(width, height); !problem.empty()) {
        error = std::move(problem);
        return PngDecode::Failed;
    }
    const int passes = SetUpRows(read.png(), read.info());
    if (passes < 1 || png_get_rowbytes(read.png(), read.info()) != 4 * std::size_t{width}) {
        error = std::string("cannot decode: ") + said.error;
        return PngDecode::Failed;
    }
    ImagePtr decoded = AllocIpl(static_cast<int>(width), static_cast<int>(height));
    if (!decoded) {
        error = "out of memory";
        return PngDecode::Failed;
    }
    if (!ReadRows(read.png(), *decoded, passes)) {
        error = std::string("cannot decode: ") + said.error;
        return PngDecode::Failed;
    }
    picture = std::move(decoded);
    return PngDecode::Decoded;
}

} // namespace pelo::codec
