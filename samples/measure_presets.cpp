// Measures the result options on deterministic art of four kinds and prints
// one table row per kind and choice of values:
//   changed   share of visible pixels whose result differs from the input
//   outside   visible pixels with a colour outside the range of their 3 x 3
//             visible neighbourhood in the input, per million
//   alpha     change of the summed alpha (coverage), percent
//   weak      opaque pixels that end below alpha 200, percent
//   hidden    visible pixels that differ by more than 8 levels when only the
//             colour under transparent pixels changes (black or white), percent
// With OUTDIR, also writes each kind's input and its result under the three
// presets as PNG files for the before/after pictures.
//   pelo-measure-presets [OUTDIR]
#include "formats/Codec.h"
#include "image/PackedDib.h"
#include "pipeline/ResultChoices.h"
#include "pipeline/SmoothPicture.h"
#include "samples/PresetArt.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using pelo::ConversionSettings;
using pelo::ImageBuffer;
using pelo::samples::ArtKind;
using pelo::samples::ArtKindName;
using pelo::samples::MakeArt;

constexpr int kSize = 256;
constexpr std::uint32_t kSeeds[] = {11, 23, 37};
constexpr ArtKind kKinds[] = {ArtKind::PixelArt, ArtKind::Painted, ArtKind::Font, ArtKind::Tiles};

struct Totals {
    double visible = 0, changed = 0, outside = 0, alphaIn = 0, alphaOut = 0, opaque = 0, weak = 0,
           hiddenDiffers = 0;
};

pelo::ImagePtr Smoothed(const ImageBuffer& input, const ConversionSettings& settings) {
    auto copy = pelo::CloneIpl(input);
    if (!copy || pelo::SmoothPicture(*copy, settings, {true, true}) != 0) std::exit(1);
    return copy;
}

// Visible pixels of a and b that differ by more than 8 levels.
double CountDiffering(const ImageBuffer& a, const ImageBuffer& b) {
    double count = 0;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x) {
            const std::uint8_t* p = a.pixel(x, y);
            const std::uint8_t* q = b.pixel(x, y);
            if (p[3] == 0 && q[3] == 0) continue;
            for (int c = 0; c < 4; ++c)
                if (std::abs(int(p[c]) - int(q[c])) > 8) {
                    ++count;
                    break;
                }
        }
    return count;
}

void Measure(const ImageBuffer& in, const ImageBuffer& out, Totals& t) {
    for (int y = 0; y < in.height; ++y) {
        for (int x = 0; x < in.width; ++x) {
            const std::uint8_t* p = in.pixel(x, y);
            const std::uint8_t* q = out.pixel(x, y);
            t.alphaIn += p[3];
            t.alphaOut += q[3];
            if (p[3] == 255) {
                ++t.opaque;
                t.weak += q[3] < 200;
            }
            if (p[3] == 0) continue;
            ++t.visible;
            t.changed += p[0] != q[0] || p[1] != q[1] || p[2] != q[2] || p[3] != q[3];
            if (q[3] == 0) continue;
            int lo[3] = {255, 255, 255}, hi[3] = {0, 0, 0};
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    const int nx = x + dx, ny = y + dy;
                    if (nx < 0 || ny < 0 || nx >= in.width || ny >= in.height) continue;
                    const std::uint8_t* n = in.pixel(nx, ny);
                    if (n[3] == 0) continue;
                    for (int c = 0; c < 3; ++c) {
                        lo[c] = std::min<int>(lo[c], n[c]);
                        hi[c] = std::max<int>(hi[c], n[c]);
                    }
                }
            for (int c = 0; c < 3; ++c)
                if (q[c] < lo[c] || q[c] > hi[c]) {
                    ++t.outside;
                    break;
                }
        }
    }
}

struct Choice {
    std::string name;
    ConversionSettings settings;
};

std::vector<Choice> Choices() {
    std::vector<Choice> list;
    for (auto preset : {pelo::Preset::Seed, pelo::Preset::PixelArt, pelo::Preset::Painted}) {
        Choice c{"preset " + std::string(pelo::PresetName(preset)), {}};
        pelo::ApplyPreset(preset, c.settings);
        list.push_back(c);
    }
    for (std::uint32_t f : {1u, 2u, 4u, 8u})
        for (bool seedLifts : {true, false})
            for (auto alpha : {pelo::AlphaPassMode::Auto, pelo::AlphaPassMode::Off}) {
                Choice c;
                c.name = "F";
                c.name += std::to_string(f);
                c.name += seedLifts ? " lifts 1.2/1.1" : " lifts 1.0";
                if (alpha == pelo::AlphaPassMode::Off) c.name += " alpha off";
                c.name += " clear";
                c.settings.detectThreshold = f;
                if (!seedLifts) c.settings.redLift = c.settings.purpleLift = 1.0;
                c.settings.result.alphaPass = alpha;
                c.settings.result.hiddenColour = pelo::HiddenColour::Clear;
                list.push_back(c);
            }
    return list;
}

bool WritePng(const ImageBuffer& image, const std::string& path) {
    pelo::PackedDib block;
    return pelo::ConvertImageToDib(image, block) && pelo::SaveCodecImage(path, block) == 0;
}

} // namespace

int main(int argc, char** argv) {
    std::printf("%-10s %-32s %8s %8s %8s %7s %7s\n", "art", "choice", "changed", "outside", "alpha",
                "weak", "hidden");
    for (ArtKind kind : kKinds) {
        for (const Choice& choice : Choices()) {
            Totals t;
            for (std::uint32_t seed : kSeeds) {
                auto black = MakeArt(kind, kSize, kSize, seed, 0x000000);
                auto white = MakeArt(kind, kSize, kSize, seed, 0xFFFFFF);
                auto key = MakeArt(kind, kSize, kSize, seed);
                Measure(*key, *Smoothed(*key, choice.settings), t);
                t.hiddenDiffers += CountDiffering(*Smoothed(*black, choice.settings),
                                                  *Smoothed(*white, choice.settings));
            }
            std::printf("%-10s %-32s %7.2f%% %8.0f %+7.2f%% %6.2f%% %6.2f%%\n",
                        std::string(ArtKindName(kind)).c_str(), choice.name.c_str(),
                        100 * t.changed / t.visible, 1e6 * t.outside / t.visible,
                        100 * (t.alphaOut - t.alphaIn) / t.alphaIn,
                        t.opaque ? 100 * t.weak / t.opaque : 0.0,
                        100 * t.hiddenDiffers / t.visible);
        }
    }
    if (argc < 2) return 0;
    const std::string dir = argv[1];
    for (ArtKind kind : kKinds) {
        std::string name(ArtKindName(kind));
        std::replace(name.begin(), name.end(), ' ', '-');
        auto input = MakeArt(kind, 96, 96, kSeeds[0]);
        if (!WritePng(*input, dir + "/" + name + ".png")) return 1;
        for (auto preset : {pelo::Preset::Seed, pelo::Preset::PixelArt, pelo::Preset::Painted}) {
            ConversionSettings s;
            pelo::ApplyPreset(preset, s);
            const std::string out = dir + "/" + name + "-" + std::string(pelo::PresetName(preset));
            if (!WritePng(*Smoothed(*input, s), out + ".png")) return 1;
        }
    }
    return 0;
}
