#include "formats/Codec.h"

#include "base/AtomicFile.h"
#include "base/TextCase.h"
#include "formats/CodecInternal.h"
#include "formats/PngReader.h"
#include "formats/PngWriter.h"
#include "formats/SvgSafety.h"
#include "image/Allocation.h"
#include "image/PictureBudget.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QSvgRenderer>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace pelo {

namespace {

enum class EncoderKind { Qt, Gif, Tiff, Png };

struct Encoder {
    const char* patterns; // ";"-separated, as a codec lists them
    const char* qtFormat;
    EncoderKind kind;
    bool takesQuality = false; // EncodeOptions::quality applies
    bool keepsAlpha = false;   // the file keeps the picture's alpha
};

// The encoders in the order the save walks them.
constexpr Encoder kEncoders[] = {
    {"*.BMP;*.DIB", "bmp", EncoderKind::Qt},
    {"*.JPG;*.JPEG", "jpeg", EncoderKind::Qt, true},
    {"*.GIF", nullptr, EncoderKind::Gif, false, true},
    {"*.TIF;*.TIFF", nullptr, EncoderKind::Tiff, false, true},
    {"*.PNG", nullptr, EncoderKind::Png, false, true},
    {"*.WEBP", "webp", EncoderKind::Qt, true, true},
    {"*.PPM", "ppm", EncoderKind::Qt},
};

std::vector<std::string> SplitPatterns(const char* list) {
    std::vector<std::string> out;
    std::string text(list);
    std::size_t start = 0;
    while (true) {
        const auto semi = text.find(';', start);
        out.push_back(text.substr(start, semi - start));
        if (semi == std::string::npos) break;
        start = semi + 1;
    }
    return out;
}

bool QtCanWrite(const char* format) {
    // Asking Qt walks its plugins; the answer does not change during a run.
    static const QList<QByteArray> formats = QImageWriter::supportedImageFormats();
    return formats.contains(QByteArray(format));
}

const Encoder* FindEncoder(const std::string& extension) {
    if (extension.empty()) return nullptr;
    for (const Encoder& encoder : kEncoders) {
        if (encoder.kind == EncoderKind::Qt && !QtCanWrite(encoder.qtFormat)) continue;
        for (const std::string& pattern : SplitPatterns(encoder.patterns))
            if (EqualIgnoringCase(pattern.substr(1), extension)) return &encoder;
    }
    return nullptr;
}

// What Qt's decoders say while one file decodes on this thread (libpng's
// warnings among them): kept for the reason of a failure, never printed.
thread_local std::string* tDecoderMessages = nullptr;
QtMessageHandler gOtherMessages = nullptr;

void OnQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (std::string* kept = tDecoderMessages) {
        if (!kept->empty()) *kept += "; ";
        *kept += text.toStdString();
        return;
    }
    if (gOtherMessages)
        gOtherMessages(type, context, text);
    else
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
}

class DecoderMessages {
public:
    explicit DecoderMessages(std::string& kept) : outer_(tDecoderMessages) {
        tDecoderMessages = &kept;
    }
    ~DecoderMessages() { tDecoderMessages = outer_; }
    DecoderMessages(const DecoderMessages&) = delete;
    DecoderMessages& operator=(const DecoderMessages&) = delete;

private:
    std::string* outer_;
};

bool DamageReported(const std::string& messages) {
    static const char* const kSigns[] = {"Premature end", "premature end", "bad Huffman code"};
    for (const char* sign : kSigns)
        if (messages.find(sign) != std::string::npos) return true;
    return false;
}

void ConfigureReaders() {
    static std::once_flag once;
    std::call_once(once, [] {
        gOtherMessages = qInstallMessageHandler(OnQtMessage);
        // Our own size limit is checked before decoding; Qt's, in megabytes
        // of decoded picture, backs it up for readers that cannot tell the
        // size before they decode (Qt's default of 256 MB would refuse
        // pictures we accept).
        const std::uint64_t limitBytes =
            std::min<std::uint64_t>(MaxPicturePixels(), 1ull << 40) * 4;
        const std::size_t mb = std::min<std::size_t>((limitBytes >> 20) + 1, 1u << 20);
        QImageReader::setAllocationLimit(static_cast<int>(std::max<std::size_t>(mb, 1)));
    });
}

bool ReadWholeFile(const std::string& path, QByteArray& bytes, std::string& error) {
    // Non-blocking, so that opening a FIFO returns at once and is refused.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = "cannot open: " + std::generic_category().message(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error =
            S_ISDIR(st.st_mode) ? "cannot open: is a folder" : "cannot open: not a regular file";
        ::close(fd);
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    const auto size = static_cast<std::uint64_t>(st.st_size);
    if (size > MaxImageBytes() || size > static_cast<std::uint64_t>(INT32_MAX)) {
        error = "file too large";
        ::close(fd);
        return false;
    }
    bytes.resize(static_cast<qsizetype>(size));
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, bytes.data() + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = "read error: " +
                    (n < 0 ? std::generic_category().message(errno) : std::string("file shrank"));
            ::close(fd);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return true;
}

// A top-down Format_ARGB32 / Format_RGB32 picture as a new buffer.
ImagePtr CopyToPicture(const QImage& image) {
    ImagePtr picture = AllocIpl(image.width(), image.height());
    if (!picture) return nullptr;
    const std::size_t rowBytes = 4 * static_cast<std::size_t>(image.width());
    for (int y = 0; y < picture->height; ++y)
        std::memcpy(picture->pixel(0, y), image.constScanLine(y), rowBytes);
    return picture;
}

// Brings a decoded picture into Format_ARGB32 without premultiplying:
// straight formats convert exactly; only a decoder that itself delivers
// premultiplied pixels (vector drawing) loses the colour of clear pixels.
QImage ToStraightArgb(QImage image) {
    const auto format = image.format();
    if (format == QImage::Format_ARGB32 || format == QImage::Format_RGB32) return image;
    return image.convertToFormat(QImage::Format_ARGB32);
}

// The decoded picture in Format_ARGB32; false only when memory runs out.
bool StoreStraight(QImage image, QImage& out, std::string& error) {
    out = ToStraightArgb(std::move(image));
    if (out.isNull()) error = "out of memory";
    return !out.isNull();
}

std::string LowerExtensionWithoutDot(const std::string& path) {
    const std::string ext = PathExtension(path);
    return LowerAscii(ext.empty() ? ext : ext.substr(1));
}

// bytes are checked (and inflated) before Qt's SVG code parses them: Qt
// loads referenced pictures while parsing.
bool DrawMetafile(QByteArray& bytes, int width, int height, QImage& out, std::string& error) {
    if (!codec::CheckSvgSafe(bytes, error)) return false;
    QSvgRenderer renderer(bytes);
    if (!renderer.isValid()) {
        error = "cannot decode the vector picture";
        return false;
    }
    if (width < 1 || height < 1 || !CheckedImageBytes(width, height, 4)) {
        error = "invalid drawing size";
        return false;
    }
    QImage surface(width, height, QImage::Format_ARGB32_Premultiplied);
    if (surface.isNull()) {
        error = "out of memory";
        return false;
    }
    surface.fill(Qt::transparent);
    QPainter painter(&surface);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    renderer.render(&painter, QRectF(0, 0, width, height));
    painter.end();
    out = surface.convertToFormat(QImage::Format_ARGB32);
    return true;
}

// SVG under any name other than the metafile one: drawn at its declared
// size, which is checked before a pixel is allocated.
bool DecodeSvg(QByteArray& bytes, QImage& out, std::string& error) {
    if (!codec::CheckSvgSafe(bytes, error)) return false;
    QBuffer device(&bytes);
    device.open(QIODevice::ReadOnly);
    QImageReader reader(&device, "svg");
    const QSize size = reader.size(); // parses; draws nothing
    if (!size.isValid()) {
        error = "SVG has no usable size";
        return false;
    }
    if (std::string problem = AdmitPicture(size.width(), size.height()); !problem.empty()) {
        error = std::move(problem);
        return false;
    }
    QImage image;
    if (!reader.read(&image) || image.isNull()) {
        error = "cannot decode: " + reader.errorString().toStdString();
        return false;
    }
    return StoreStraight(std::move(image), out, error);
}

// A picture of ours for Qt's decoder to write into when it would make a
// 32-bit one of that size anyway (JPEG, most BMP): no copy is then needed.
QImage OfferPicture(QImageReader& reader, QSize size, ImagePtr& picture) {
    const QImage::Format format = reader.imageFormat();
    if (format != QImage::Format_ARGB32 && format != QImage::Format_RGB32) return QImage();
    picture = AllocIpl(size.width(), size.height());
    if (!picture) return QImage();
    return QImage(picture->imageData, size.width(), size.height(), 4 * size.width(), format);
}

// Qt's decoders: picture set when one wrote into the picture offered to
// it, out otherwise.
bool DecodeRaster(const std::string& path, QByteArray& bytes, ImagePtr& picture, QImage& out,
                  std::string& error) {
    // The content decides; only WBMP, which carries no signature, is taken
    // on the word of its extension.
    QImage image;
    for (const bool hinted : {false, true}) {
        QBuffer device(&bytes);
        device.open(QIODevice::ReadOnly);
        QImageReader reader(&device, hinted
                                         ? QByteArray::fromStdString(LowerExtensionWithoutDot(path))
                                         : QByteArray());
        reader.setAutoTransform(false);
        const QSize size = reader.size();
        if (size.isValid()) {
            if (std::string problem = AdmitPicture(size.width(), size.height()); !problem.empty()) {
                error = std::move(problem);
                return false;
            }
            image = OfferPicture(reader, size, picture);
        }
        const QImage::Format offered = image.format();
        if (reader.read(&image) && !image.isNull()) {
            if (picture && image.constBits() == picture->imageData && image.format() == offered)
                return true; // image only borrowed the picture's pixels
            picture.reset();
            break;
        }
        image = QImage(); // before the pixels it may point to go
        picture.reset();
        error = "cannot decode: " + reader.errorString().toStdString();
        if (hinted || reader.error() != QImageReader::UnsupportedFormatError ||
            LowerExtensionWithoutDot(path) != "wbmp")
            return false;
    }
    return StoreStraight(std::move(image), out, error);
}

// The file's bytes as a picture: our own decoders write straight into it,
// and so do some of Qt's; any other picture of Qt's is copied and dropped at
// once. Null with why set.
ImagePtr DecodeFile(const std::string& path, QByteArray& bytes, CodecDrawing drawing,
                    std::string& why, std::string& messages) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    const auto size = static_cast<std::size_t>(bytes.size());
    ImagePtr picture;
    QImage image;
    if (drawing == CodecDrawing::Metafile) {
        if (!DrawMetafile(bytes, kMetafileWidth, kMetafileHeight, image, why)) return nullptr;
    } else if (const auto tiff = codec::DecodeTiff(data, size, picture, why);
               tiff != codec::TiffDecode::NotHandled) {
        return picture;
    } else if (EqualIgnoringCase(PathExtension(path), ".tga")) {
        codec::DecodeTga(data, size, picture, why);
        return picture;
    } else if (codec::IsSvgContent(bytes)) {
        if (!DecodeSvg(bytes, image, why)) return nullptr;
    } else {
        if (!codec::CheckComplete(data, size, why)) return nullptr;
        if (codec::DecodePng(data, size, picture, why, messages) != codec::PngDecode::NotHandled)
            return picture;
        if (!DecodeRaster(path, bytes, picture, image, why)) return nullptr;
        if (picture) return picture;
    }
    bytes.clear(); // the file's bytes are no longer needed
    picture = CopyToPicture(image);
    if (!picture) why = "out of memory";
    return picture;
}

} // namespace

std::string PathExtension(const std::string& path) {
    const auto slash = path.rfind('/');
    const auto dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    return path.substr(dot);
}

const std::vector<std::string>& CodecDecoderPatterns() {
    static const std::vector<std::string> patterns = [] {
        std::vector<std::string> out;
        auto add = [&out](const std::string& ext) {
            const std::string pattern = "*." + UpperAscii(ext);
            if (std::find(out.begin(), out.end(), pattern) == out.end()) out.push_back(pattern);
        };
        for (const QByteArray& format : QImageReader::supportedImageFormats()) {
            const std::string name = format.toStdString();
            add(name);
            // The BMP decoder reads these too; the pipeline counts them as
            // alpha-capable inputs.
            if (name == "bmp") {
                add("dib");
                add("rle");
            }
        }
        add("tga"); // our own decoder, whatever Qt offers
        return out;
    }();
    return patterns;
}

const std::vector<std::string>& CodecEncoderPatterns() {
    static const std::vector<std::string> patterns = [] {
        std::vector<std::string> out;
        for (const Encoder& encoder : kEncoders) {
            if (encoder.kind == EncoderKind::Qt && !QtCanWrite(encoder.qtFormat)) continue;
            for (const std::string& pattern : SplitPatterns(encoder.patterns))
                out.push_back(pattern);
        }
        return out;
    }();
    return patterns;
}

ImagePtr LoadCodecPicture(const std::string& path, CodecDrawing drawing, std::string* error) {
    ConfigureReaders();
    std::string why, messages;
    QByteArray bytes;
    ImagePtr picture;
    {
        DecoderMessages keep(messages);
        if (ReadWholeFile(path, bytes, why))
            picture = DecodeFile(path, bytes, drawing, why, messages);
    }
    // A decoder that says it ran out of data or met corrupt data has filled
    // the rest of the picture with something else.
    if (picture && DamageReported(messages)) {
        picture.reset();
        why = "damaged picture";
    }
    if (picture) {
        if (error) error->clear();
        return picture;
    }
    if (!messages.empty()) why += " (" + messages + ")";
    if (error) *error = why;
    return nullptr;
}

bool LoadCodecImage(const std::string& path, PackedDibPtr& block, CodecDrawing drawing,
                    std::string* error) {
    std::string why;
    const ImagePtr picture = LoadCodecPicture(path, drawing, &why);
    if (!block) block = std::make_unique<PackedDib>();
    if (picture) {
        if (ConvertImageToDib(*picture, *block)) {
            if (error) error->clear();
            return true;
        }
        why = "out of memory";
    }
    if (error) *error = why;
    return PrepareDib32(*block, 0, 0);
}

bool IsPngPath(const std::string& path) {
    const Encoder* encoder = FindEncoder(PathExtension(path));
    return encoder && encoder->kind == EncoderKind::Png;
}

bool CodecDropsAlpha(const std::string& path) {
    const Encoder* encoder = FindEncoder(PathExtension(path));
    return encoder && !encoder->keepsAlpha;
}

int SaveCodecImage(const std::string& path, const PackedDib& block, const EncodeOptions& options,
                   std::string* reason) {
    if (!block.data() || block.capacity() < kDibHeaderSize) return kCodecBadBlock;
    const BitmapInfoHeader& h = block.header();
    if (h.biBitCount != 32 || h.biWidth < 1 || h.biHeight < 1) return kCodecBadBlock;
    const auto bytes = CheckedImageBytes(h.biWidth, h.biHeight, 4);
    if (!bytes || block.capacity() - kDibHeaderSize < *bytes) return kCodecBadBlock;

    const Encoder* encoder = FindEncoder(PathExtension(path));
    if (!encoder) return kCodecNoEncoder;
    if (encoder->kind == EncoderKind::Png)
        return WritePng(RowsOf(block), path, options.pngType, reason);

    QImage image(h.biWidth, h.biHeight, QImage::Format_ARGB32);
    if (image.isNull()) return kCodecEncodeFailed;
    const std::size_t rowBytes = 4 * static_cast<std::size_t>(h.biWidth);
    for (int y = 0; y < h.biHeight; ++y)
        std::memcpy(image.scanLine(y),
                    block.pixels() + rowBytes * static_cast<std::size_t>(h.biHeight - 1 - y),
                    rowBytes);

    QByteArray encoded;
    std::string why;
    bool ok = false;
    switch (encoder->kind) {
    case EncoderKind::Gif:
        ok = codec::EncodeGif(image, encoded, why);
        break;
    case EncoderKind::Tiff:
        ok = codec::EncodeTiff(image, encoded, why);
        break;
    case EncoderKind::Png: // written above
        break;
    case EncoderKind::Qt: {
        QBuffer device(&encoded);
        device.open(QIODevice::WriteOnly);
        QImageWriter writer(&device, encoder->qtFormat);
        if (encoder->takesQuality && options.quality >= 0) writer.setQuality(options.quality);
        ok = writer.write(image);
        break;
    }
    }
    if (!ok || encoded.isEmpty()) {
        if (reason) *reason = "the encoder refused the picture" + (why.empty() ? "" : ": " + why);
        return kCodecEncodeFailed;
    }

    AtomicFile file;
    if (!file.Open(path) ||
        !file.Write(encoded.constData(), static_cast<std::size_t>(encoded.size())) ||
        !file.Commit()) {
        if (reason) *reason = file.reason();
        return file.errorCode() ? file.errorCode() : kFileOtherError;
    }
    return kCodecSaved;
}

} // namespace pelo
