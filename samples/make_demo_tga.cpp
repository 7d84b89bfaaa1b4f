// Writes the bundled sprite pictures as run-length encoded TGA files.
#include <cstdio>
#include <filesystem>
#include <string>

#include "formats/TgaWriter.h"
#include "samples/SpriteArt.h"

int main(int argc, char** argv) {
    const std::string out = argc > 1 ? argv[1] : "build/demo";
    std::filesystem::create_directories(out);
    struct Item {
        const char* name;
        int w, h;
        std::uint32_t seed;
        bool opaque;
    } items[] = {{"sprites", 192, 128, 7, false}, {"scene", 160, 120, 11, true}};
    int failures = 0;
    for (const auto& item : items) {
        auto img = item.opaque ? pelo::samples::MakeOpaqueScene(item.w, item.h, item.seed)
                               : pelo::samples::MakeSpriteSheet(item.w, item.h, item.seed);
        const std::string path = out + "/" + item.name + ".TGA";
        const int rc = img ? pelo::WriteTga(*img, path, true) : -3;
        std::printf("%s: %s\n", path.c_str(), rc == 0 ? "written" : "failed");
        failures += rc != 0;
    }
    return failures ? 1 : 0;
}
