#include "formats/PsdLibrary.h"

#include <dlfcn.h>
#include <mutex>
#include <unistd.h>
#include <vector>

namespace pelo {

namespace {

std::mutex gMutex;
PsdLibrary gLibrary{};
bool gLoaded = false;
// Optional: a library without it still loads; its codes are then shown as numbers.
decltype(&::TlPsd_ErrorText) gErrorText = nullptr;

std::string ExecutableFolder() {
    std::vector<char> buf(4096);
    const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0) return {};
    std::string exe(buf.data(), static_cast<std::size_t>(n));
    const auto slash = exe.rfind('/');
    return slash == std::string::npos ? std::string(".") : exe.substr(0, slash);
}

template <typename Fn> bool Find(void* handle, const char* name, Fn& fn) {
    void* sym = ::dlsym(handle, name);
    fn = reinterpret_cast<Fn>(sym);
    return sym != nullptr;
}

} // namespace

bool LoadPsdLibraryFrom(const std::string& path) {
    std::lock_guard lock(gMutex);
    if (gLoaded) return true;
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) return false;
    PsdLibrary lib{};
    const bool all = Find(handle, "TlPsd_GetVersion", lib.TlPsd_GetVersion) &&
                     Find(handle, "TlPsd_UnderScan", lib.TlPsd_UnderScan) &&
                     Find(handle, "TlPsd_Minimize", lib.TlPsd_Minimize) &&
                     Find(handle, "TlPsdLoad_Open", lib.TlPsdLoad_Open) &&
                     Find(handle, "TlPsdLoad_Close", lib.TlPsdLoad_Close) &&
                     Find(handle, "TlPsdLoad_GetLayerCount", lib.TlPsdLoad_GetLayerCount) &&
                     Find(handle, "TlPsdLoad_GetImageInfo", lib.TlPsdLoad_GetImageInfo) &&
                     Find(handle, "TlPsdLoad_GetImage", lib.TlPsdLoad_GetImage) &&
                     Find(handle, "TlPsdSave_Open", lib.TlPsdSave_Open) &&
                     Find(handle, "TlPsdSave_Close", lib.TlPsdSave_Close) &&
                     Find(handle, "TlPsdSave_SetImage", lib.TlPsdSave_SetImage) &&
                     Find(handle, "TlPsdSave_SetLayer", lib.TlPsdSave_SetLayer);
    if (!all) {
        ::dlclose(handle);
        return false;
    }
    // Kept loaded for the life of the process.
    Find(handle, "TlPsd_ErrorText", gErrorText);
    gLibrary = lib;
    gLoaded = true;
    return true;
}

bool InitialLoadDll() {
    // Installed: the private library folder under the programs' prefix; in
    // the build tree: lib/ beside bin/.
    const std::string folder = ExecutableFolder();
#ifdef PELO_PSD_LIBRARY_DIR
    if (LoadPsdLibraryFrom(folder + "/../" PELO_PSD_LIBRARY_DIR "/libtlpsdex.so")) return true;
#endif
    return LoadPsdLibraryFrom(folder + "/../lib/libtlpsdex.so");
}

const PsdLibrary* Psd() {
    std::lock_guard lock(gMutex);
    return gLoaded ? &gLibrary : nullptr;
}

std::string PsdResultText(std::int32_t code) {
    const std::int32_t positive = code < 0 ? -code : code;
    const char* text = nullptr;
    {
        std::lock_guard lock(gMutex);
        if (gErrorText) text = gErrorText(positive);
    }
    return "PSD: " + (text ? std::string(text) : "library error " + std::to_string(positive));
}

} // namespace pelo
