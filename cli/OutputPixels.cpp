#include "cli/OutputPixels.h"

#include "base/TextCase.h"
#include "pipeline/FileKinds.h"

#include <QImageReader>
#include <QString>
#include <array>
#include <fstream>

namespace pelo::cli {

namespace {

bool EndsWith(const std::string& path, std::string_view extension) {
    const std::string upper = UpperAscii(FileName(path));
    return upper.size() > extension.size() &&
           upper.compare(upper.size() - extension.size(), extension.size(), extension) == 0;
}

std::uint64_t Big32(const unsigned char* p) {
    return std::uint64_t{p[0]} << 24 | std::uint64_t{p[1]} << 16 | std::uint64_t{p[2]} << 8 | p[3];
}

std::uint64_t Little16(const unsigned char* p) {
    return std::uint64_t{p[0]} | std::uint64_t{p[1]} << 8;
}

} // namespace

std::uint64_t OutputPixels(const std::string& path) {
    // Our own writers' headers; every other output through Qt's readers.
    const bool psd = EndsWith(path, ".PSD"), tga = EndsWith(path, ".TGA");
    if (psd || tga) {
        std::array<unsigned char, 26> header{};
        std::ifstream file(path, std::ios::binary);
        if (!file.read(reinterpret_cast<char*>(header.data()), header.size())) return 0;
        if (psd) return Big32(&header[14]) * Big32(&header[18]);
        return Little16(&header[12]) * Little16(&header[14]);
    }
    const QSize size = QImageReader(QString::fromStdString(path)).size();
    return size.isValid() ? std::uint64_t(size.width()) * std::uint64_t(size.height()) : 0;
}

} // namespace pelo::cli
