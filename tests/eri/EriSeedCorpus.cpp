// Writes the ERI fuzz seeds: small files for every decoding path, made by the
// test writer. Run: eri_seed_corpus OUTPUT_DIR
#include "EriFileWriter.h"

#include <cstdio>
#include <string>

using namespace pelo;
using namespace pelo::eritest;

namespace {

EriTestPicture Picture(int w, int h, std::uint32_t format, int bits) {
    EriTestPicture p{w, h, format, bits, {}};
    const int bytes = bits / 8;
    p.pixels.resize(std::size_t(w) * h * bytes);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int k = 0; k < bytes; ++k)
                p.pixels[(std::size_t(y) * w + x) * bytes + k] =
                    std::uint8_t((x * 7 + y * 3) * (k + 1) / 4 + ((x ^ y) & 3));
    if (bits == 16)
        for (std::size_t i = 1; i < p.pixels.size(); i += 2)
            p.pixels[i] &= 0x7F;
    return p;
}

void Write(const std::string& dir, const std::string& name,
           const std::vector<std::uint8_t>& bytes) {
    const std::string path = dir + "/" + name + ".eri";
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const std::string dir = argv[1];
    struct Path {
        const char* name;
        std::int32_t coder;
        std::uint32_t version;
        int frameKind;
        bool codesFirst;
    };
    const Path paths[] = {
        {"gamma0", kEriCoderGamma, kEriCoderVersion1, 1, true},
        {"gamma1", kEriCoderGamma, kEriCoderVersion2, 4, false},
        {"arith1", kEriCoderArithmetic, kEriCoderVersion2, 1, true},
        {"huff_first", kEriCoderHuffman, kEriCoderVersion2, 8, true},
        {"huff_block", kEriCoderHuffman, kEriCoderVersion2, 8, false},
    };
    struct Format {
        const char* name;
        std::uint32_t format;
        int bits;
    };
    const Format formats[] = {{"555", kEriFormatColour, 16},
                              {"rgb", kEriFormatColour, 24},
                              {"rgba", kEriFormatColourAlpha, 32}};
    for (const Path& path : paths)
        for (const Format& f : formats) {
            EriEncodeOptions o;
            o.symbolCoder = path.coder;
            o.coderVersion = path.version;
            o.frameKind = path.frameKind;
            o.codesFirst = path.codesFirst;
            o.blockDegree = 2;
            o.negativeHeight = f.bits == 24;
            Write(dir, std::string(path.name) + "_" + f.name,
                  EncodeEriFile(Picture(9, 7, f.format, f.bits), o));
        }
    for (std::int32_t coder : {kEriCoderGamma, kEriCoderArithmetic, kEriCoderHuffman}) {
        EriEncodeOptions o;
        o.symbolCoder = coder;
        o.frameKind = 2;
        EriFileExtras extras;
        extras.palette.assign(64, 0x55);
        extras.description = {0xFF, 0xFE, 'a', 0, 0x42, 0x30};
        Write(dir, "rows_colour_" + std::to_string(-coder),
              EncodeEriFile(Picture(11, 5, kEriFormatColour, 8), o, extras));
        Write(dir, "rows_grey_" + std::to_string(-coder),
              EncodeEriFile(Picture(6, 4, kEriFormatGrey, 8), o));
    }
    EriEncodeOptions grey;
    grey.blockDegree = 1;
    Write(dir, "blocks_grey", EncodeEriFile(Picture(5, 3, kEriFormatGrey, 8), grey));
    return 0;
}
