#include "pipeline/FileKinds.h"

#include "base/TextCase.h"
#include "formats/Codec.h"

#include <array>

namespace pelo {

namespace {

using L = LoaderKind;
using W = SaveWriter;
using S = Spelling;

// Names whose text matches no loading row go to the codec, and no writing
// row to the codec's encoder for their extension.
constexpr std::array kKinds = {
    //        text    spelling         loads  loader      writes writer  in     out
    FileKind{".ERI", S::LowerOrUpper, true, L::Eri, false, W::Codec, true, true},
    FileKind{".PSD", S::LowerOrUpper, true, L::Psd, true, W::Psd, true, true},
    FileKind{".TGA", S::LowerOrUpper, false, L::Codec, true, W::Tga, true, true},
    FileKind{".svg", S::LowerOnly, true, L::Metafile, false, W::Codec, false, false},
    FileKind{".PNG", S::LowerOrUpper, false, L::Codec, false, W::Codec, true, true},
    FileKind{".TIF", S::LowerOrUpper, false, L::Codec, false, W::Codec, true, true},
    FileKind{".BMP", S::LowerOrUpper, false, L::Codec, false, W::Codec, true, false},
    FileKind{".RLE", S::LowerOrUpper, false, L::Codec, false, W::Codec, true, false},
    FileKind{".DIB", S::LowerOrUpper, false, L::Codec, false, W::Codec, true, false},
    FileKind{".WEBP", S::LowerOrUpper, false, L::Codec, false, W::Codec, false, true},
    FileKind{".GIF", S::LowerOrUpper, false, L::Codec, false, W::Codec, false, true},
};

// The first occurrence of text lies after the name's first character.
bool FoundAfterFirst(std::string_view name, std::string_view text) {
    const auto pos = name.find(text);
    return pos != std::string_view::npos && pos > 0;
}

bool Spelled(std::string_view name, const FileKind& kind) {
    if (kind.spelling == S::LowerOnly) return FoundAfterFirst(name, kind.text);
    return FoundAfterFirst(name, LowerAscii(kind.text)) ||
           FoundAfterFirst(name, UpperAscii(kind.text));
}

bool AnyCase(std::string_view name, std::string_view text) {
    return FoundAfterFirst(UpperAscii(name), UpperAscii(text));
}

} // namespace

std::string_view FileName(std::string_view path) {
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

LoaderKind LoaderFor(std::string_view path) {
    const std::string_view name = FileName(path);
    for (const FileKind& kind : kKinds)
        if (kind.loads && Spelled(name, kind)) return kind.loader;
    return L::Codec;
}

SaveWriter WriterFor(std::string_view path) {
    const std::string_view name = FileName(path);
    for (const FileKind& kind : kKinds)
        if (kind.writes && Spelled(name, kind)) return kind.writer;
    return W::Codec;
}

bool IsAlphaInput(std::string_view path) {
    const std::string_view name = FileName(path);
    for (const FileKind& kind : kKinds)
        if (kind.alphaIn && AnyCase(name, kind.text)) return true;
    return false;
}

bool IsAlphaOutput(std::string_view path) {
    const std::string_view name = FileName(path);
    for (const FileKind& kind : kKinds)
        if (kind.alphaOut && AnyCase(name, kind.text))
            // A name that only holds the text ("a.png.jpg") must not hand an
            // unflattened picture to an encoder that drops alpha.
            return WriterFor(path) != W::Codec || !CodecDropsAlpha(std::string(path));
    return false;
}

bool IsLayeredPsdPair(std::string_view inputPath, std::string_view outputPath) {
    return AnyCase(FileName(inputPath), ".PSD") && AnyCase(FileName(outputPath), ".PSD");
}

} // namespace pelo
