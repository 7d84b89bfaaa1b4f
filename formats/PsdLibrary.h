// The PSD library libtlpsdex.so, loaded by name at start-up from the library
// folder beside the executable's folder, with its twelve entry points.
#pragma once

#include "formats/PsdLayerInfo.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace pelo {

// What both programs show when the library or an entry point is missing.
inline constexpr const char* kInitialLoadDllError = "Error: InitialLoadDll()";

// The library's open modes and save options.
inline constexpr std::int32_t kPsdLoadMode = 2000;
inline constexpr std::int32_t kPsdSaveMode = 1000;
inline constexpr std::int32_t kPsdSaveOptions[7] = {0, 32769, 0, 1, 0, 2, 0};

struct PsdLibrary {
    std::int32_t (*TlPsd_GetVersion)();
    std::int32_t (*TlPsd_UnderScan)(void* pixels, PsdRect* layerRect, const PsdRect* canvasRect);
    std::int32_t (*TlPsd_Minimize)(void* pixels, PsdRect* layerRect);
    std::int32_t (*TlPsdLoad_Open)(const char* path, std::int32_t mode, const void* options);
    std::int32_t (*TlPsdLoad_Close)();
    std::int32_t (*TlPsdLoad_GetLayerCount)();
    std::int32_t (*TlPsdLoad_GetImageInfo)(PsdLayerInfo* info);
    std::int32_t (*TlPsdLoad_GetImage)(std::int32_t index, void* buffer, std::size_t bufferBytes,
                                       const PsdRect* rect);
    std::int32_t (*TlPsdSave_Open)(const char* path, std::int32_t mode,
                                   const std::int32_t* options);
    std::int32_t (*TlPsdSave_Close)();
    std::int32_t (*TlPsdSave_SetImage)(const void* pixels, std::int32_t right, std::int32_t bottom);
    std::int32_t (*TlPsdSave_SetLayer)(const void* pixels, const PsdLayerInfo* info);
};

// Loads <folder of the executable>/../lib/libtlpsdex.so once and looks up
// all twelve entry points. False when the library or any entry is missing;
// the caller shows kInitialLoadDllError and ends.
bool InitialLoadDll();

// The same from an explicit file (tests, other layouts).
bool LoadPsdLibraryFrom(const std::string& path);

// The entry points after a successful load, else null.
const PsdLibrary* Psd();

// "PSD: " and the library's text for one of its result codes (either sign).
std::string PsdResultText(std::int32_t code);

} // namespace pelo
