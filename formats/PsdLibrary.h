// The PSD library libtlpsdex.so, loaded by name at start-up from the library
// folder beside the executable's folder, with its twelve entry points.
#pragma once

#include "tlpsdex/tlpsdex.h"

#include <cstdint>
#include <string>

namespace pelo {

// The library's layer record and rectangle under the program's names.
using PsdRect = TlPsdRect;
using PsdLayerInfo = TlPsdLayerInfo;
static_assert(sizeof(PsdLayerInfo) == 112, "PsdLayerInfo is exchanged with the library");

// A record as the program builds one: a picture layer, shown, normal
// blending, opaque, the reserved field as the library expects it.
inline constexpr PsdLayerInfo kPsdLayerInfoDefaults{.index = 0,
                                                    .section = TLPSD_SECTION_LAYER,
                                                    .rect = {},
                                                    .name = {},
                                                    .visible = 1,
                                                    .blendMode = "NORM",
                                                    .opacity = 255,
                                                    .reserved2 = 255};

// What both programs show when the library or an entry point is missing.
inline constexpr const char* kInitialLoadDllError = "Error: InitialLoadDll()";

// The twelve entry points as found in the loaded library, typed by its own
// declarations (named with :: since each member takes its function's name).
// The program never links against the library: the header is included for
// those declarations only.
struct PsdLibrary {
    decltype(&::TlPsd_GetVersion) TlPsd_GetVersion;
    decltype(&::TlPsd_UnderScan) TlPsd_UnderScan;
    decltype(&::TlPsd_Minimize) TlPsd_Minimize;
    decltype(&::TlPsdLoad_Open) TlPsdLoad_Open;
    decltype(&::TlPsdLoad_Close) TlPsdLoad_Close;
    decltype(&::TlPsdLoad_GetLayerCount) TlPsdLoad_GetLayerCount;
    decltype(&::TlPsdLoad_GetImageInfo) TlPsdLoad_GetImageInfo;
    decltype(&::TlPsdLoad_GetImage) TlPsdLoad_GetImage;
    decltype(&::TlPsdSave_Open) TlPsdSave_Open;
    decltype(&::TlPsdSave_Close) TlPsdSave_Close;
    decltype(&::TlPsdSave_SetImage) TlPsdSave_SetImage;
    decltype(&::TlPsdSave_SetLayer) TlPsdSave_SetLayer;
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
