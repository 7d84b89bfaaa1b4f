// Writes the busy sprite sheet the anti-aliasing passes are measured on:
//   pelo-busy-sheet OUTPUT.png [SIDE] [SEED]
// The same side and seed give the same bytes.
#include "formats/SaveDispatch.h"
#include "pipeline/FileKinds.h"
#include "samples/BusySprites.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.png [SIDE] [SEED]\n", argv[0]);
        return 2;
    }
    const std::string path = argv[1];
    const int side = argc > 2 ? std::atoi(argv[2]) : 4096;
    const auto seed =
        static_cast<std::uint32_t>(argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 2024);
    auto img = pelo::samples::MakeBusySpriteSheet(side, side, seed);
    pelo::PackedDibPtr block;
    pelo::PsdState psd;
    const int rc = img ? pelo::SaveImageFile(*img, path, pelo::WriterFor(path), block, psd) : -1;
    std::printf("%s: %s\n", path.c_str(), rc == 0 ? "written" : "failed");
    return rc == 0 ? 0 : 1;
}
