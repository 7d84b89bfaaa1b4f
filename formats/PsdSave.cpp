#include "formats/PsdSave.h"

#include "base/Utf.h"
#include "formats/PsdLibrary.h"
#include "formats/SaveDispatch.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <system_error>
#include <utility>

namespace pelo {

std::string CutLayerName(const std::string& text) {
    return CutUtf8(text, sizeof(PsdLayerInfo::name) - 1);
}

std::string LayerNameFromPath(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    // A leading dot starts a name, not an extension.
    if (const std::size_t dot = name.rfind('.'); dot != std::string::npos && dot > 0)
        name.resize(dot);
    bool valid = true;
    for (std::size_t i = 0; i < name.size() && valid;) {
        const std::size_t n = Utf8SequenceLength(name, i);
        valid = n > 0;
        i += n;
    }
    if (!valid) {
        std::string latin1;
        for (const unsigned char c : name)
            AppendUtf8(latin1, c);
        name = std::move(latin1);
    }
    return CutLayerName(name);
}

int SavePsdSingleLayer(const ImageBuffer& image, const std::string& outputPath, PsdState& psd,
                       std::string* reason) {
    const std::string layerName = std::exchange(psd.singleLayerName, {});
    const PsdLibrary* lib = Psd();
    if (!lib) return kSavePsdUnavailable;
    auto fail = [reason](std::int32_t code, int err) {
        if (reason) {
            *reason = PsdResultText(code);
            if (err != 0) *reason += ": " + std::generic_category().message(err);
        }
        return kSavePsdFailed;
    };
    if (const std::int32_t code =
            lib->TlPsdSave_Open(outputPath.c_str(), TLPSD_SAVE_RGB8, TLPSD_SAVE_OPTION_DEFAULTS);
        code != 0)
        return fail(code, errno);
    try {
        psd.psdMergedInfo = kPsdLayerInfoDefaults;
        psd.psdMergedInfo.index = -1;
        psd.psdMergedInfo.rect = {0, 0, image.width, image.height};
        psd.psdMergedPixels.assign(image.imageData, image.imageData + image.imageSize);
        lib->TlPsdSave_SetImage(psd.psdMergedPixels.data(), image.width, image.height);

        PsdLayer layer;
        layer.info.index = 0;
        layer.info.section = TLPSD_SECTION_LAYER;
        layer.info.rect = {0, 0, image.width, image.height};
        const std::string name = CutLayerName(layerName.empty() ? outputPath : layerName);
        std::memcpy(layer.info.name, name.data(), name.size());
        layer.info.visible = 1;
        std::memcpy(layer.info.blendMode, "NORM", 5);
        layer.info.opacity = 255;
        layer.info.reserved2 = 255;
        layer.pixels = psd.psdMergedPixels;
        psd.psdLayers.clear();
        psd.psdLayers.push_back(std::move(layer));
        lib->TlPsdSave_SetLayer(psd.psdLayers[0].pixels.data(), &psd.psdLayers[0].info);
    } catch (const std::bad_alloc&) {
        // Abandons the unfinished output.
        lib->TlPsdSave_Open("", TLPSD_SAVE_RGB8, TLPSD_SAVE_OPTION_DEFAULTS);
        if (reason) *reason = "out of memory";
        return kSavePsdFailed;
    }
    errno = 0;
    const int closed = lib->TlPsdSave_Close();
    const int closeErrno = errno;
    if (!psd.psdLayers.empty()) {
        psd.psdLayers[0].pixels.clear();
        psd.psdLayers[0].pixels.shrink_to_fit();
    }
    return closed == 0 ? kSaveOk : fail(closed, closeErrno);
}

} // namespace pelo
