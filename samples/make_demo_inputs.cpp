// Writes the demo inputs of samples/demo: sprite sheets as PNG with alpha,
// an opaque scene as JPEG, one more sprite in a sub-folder. Deterministic:
// the same bytes on every run.
#include "formats/SaveDispatch.h"
#include "pipeline/FileKinds.h"
#include "samples/SpriteArt.h"

#include <cstdio>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
    const std::string out = argc > 1 ? argv[1] : "samples/demo";
    struct Item {
        const char* name;
        int w, h;
        std::uint32_t seed;
        bool opaque;
    } items[] = {
        {"sprites.png", 96, 64, 7, false},
        {"badges.png", 72, 48, 21, false},
        {"scene.jpg", 96, 64, 11, true},
        {"more/tiles.png", 72, 48, 5, false},
    };
    pelo::PackedDibPtr block;
    pelo::PsdState psd;
    int failures = 0;
    for (const auto& item : items) {
        auto img = item.opaque ? pelo::samples::MakeOpaqueScene(item.w, item.h, item.seed)
                               : pelo::samples::MakeSpriteSheet(item.w, item.h, item.seed);
        const std::string path = out + "/" + item.name;
        const int rc =
            img ? pelo::SaveImageFile(*img, path, pelo::WriterFor(path), block, psd) : -1;
        std::printf("%s: %s\n", path.c_str(), rc == 0 ? "written" : "failed");
        failures += rc != 0;
    }
    return failures ? 1 : 0;
}
