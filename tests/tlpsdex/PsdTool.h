// The independent npm PSD library's view of a file (tests/js/psd-tool.js).
#pragma once

#include "tests/support/FileBytes.h"
#include "tests/support/TempDir.h"
#include "tlpsdex/tlpsdex.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace psdtool {

using Pixels = std::vector<std::uint8_t>;

inline Pixels RgbaToBgra(Pixels px) {
    for (std::size_t i = 0; i + 3 < px.size(); i += 4)
        std::swap(px[i], px[i + 2]);
    return px;
}

inline std::string Capture(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof(buf), p)) > 0)
            out.append(buf, n);
        pclose(p);
    }
    return out;
}

inline const std::string kTool = std::string(PELO_SOURCE_DIR) + "/tests/js/psd-tool.js";

// The npm reader's view of a file (see tests/js/psd-tool.js).
struct ToolDoc {
    bool ok = false;
    int width = 0, height = 0;
    struct L {
        TlPsdRect rect;
        int hidden = 0, opacity = 0;
        std::string name;
        Pixels rgba;
    };
    std::vector<L> layers;
    Pixels composite;
};

inline ToolDoc DumpWithTool(const std::string& psd, const pelo::test::TempDir& dir) {
    ToolDoc t;
    const std::string out = dir.file("dump");
    if (pelo::test::RunCommand("node '" + kTool + "' dump '" + psd + "' '" + out + "'") != 0)
        return t;
    std::ifstream info(out + "/info.txt");
    std::string line;
    while (std::getline(info, line)) {
        std::istringstream in(line);
        std::string word;
        in >> word;
        if (word == "canvas") in >> t.width >> t.height;
        if (word == "layer") {
            ToolDoc::L l;
            in >> l.rect.left >> l.rect.top >> l.rect.right >> l.rect.bottom >> l.hidden >>
                l.opacity;
            std::getline(in, l.name);
            if (!l.name.empty() && l.name[0] == ' ') l.name.erase(0, 1);
            l.rgba = pelo::test::ReadFileBytes(out + "/layer" + std::to_string(t.layers.size()) +
                                               ".rgba");
            t.layers.push_back(l);
        }
    }
    t.composite = pelo::test::ReadFileBytes(out + "/composite.rgba");
    t.ok = t.width > 0;
    return t;
}

} // namespace psdtool
