// Writes small lossy ERI files (every chroma sampling and symbol coder, with
// and without alpha, parameters first or per macro-block) into a folder, as
// seeds for the ERI fuzz target.
#include "LossyEncoder.h"

#include <cstdio>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    using namespace pelo;
    const std::uint32_t chromas[] = {kEriChroma444, kEriChroma422, kEriChroma411};
    const char* chromaNames[] = {"444", "422", "411"};
    int written = 0;
    for (int c = 0; c < 3; ++c) {
        for (int variant = 0; variant < 4; ++variant) {
            test::LossyOptions o;
            o.chromaSampling = chromas[c];
            o.symbolCoder = variant % 2 ? kEriCoderHuffman : kEriCoderGamma;
            o.parametersFirst = variant / 2 == 0;
            o.alpha = (c + variant) % 2 == 1;
            o.bitsPerPixel = o.alpha || variant == 3 ? 32 : 24;
            o.degree = 3 + (c + variant) % 3 / 2; // mostly 8, some 16
            o.topDown = variant == 2;
            o.parameters = [](int mb) -> std::array<std::uint8_t, 4> {
                return {std::uint8_t(20 + mb), 15, 10, 8};
            };
            test::LossyPicture p{21, 19, std::vector<std::uint8_t>(21 * 19 * 4)};
            for (int y = 0; y < p.height; ++y)
                for (int x = 0; x < p.width; ++x)
                    for (int k = 0; k < 4; ++k)
                        p.bgra[(y * p.width + x) * 4 + k] =
                            std::uint8_t(40 + x * (5 + k) + y * 3 + ((x / 4 + y / 3) % 2) * 70);
            const std::vector<std::uint8_t> file = test::EncodeLossyFile(p, o);
            const std::string name = std::string(argv[1]) + "/lossy_" + chromaNames[c] +
                                     (o.symbolCoder == kEriCoderHuffman ? "_huff" : "_gamma") +
                                     (o.parametersFirst ? "_first" : "_permb") +
                                     (o.alpha ? "_alpha" : "") + ".eri";
            std::ofstream(name, std::ios::binary)
                .write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
            ++written;
        }
    }
    std::printf("wrote %d files\n", written);
    return 0;
}
