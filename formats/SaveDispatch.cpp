#include "formats/SaveDispatch.h"

#include "base/AtomicFile.h"
#include "formats/Codec.h"
#include "formats/PngWriter.h"
#include "formats/PsdSave.h"
#include "formats/TgaWriter.h"

#include <cerrno>
#include <sys/stat.h>
#include <system_error>

namespace pelo {

namespace {

bool IsFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// One prefix: exists as a folder, or is made one now. Another worker making
// the same folder at the same moment counts as success.
bool MakeFolder(const std::string& prefix) {
    struct stat st {};
    if (::stat(prefix.c_str(), &st) == 0) {
        if (!S_ISDIR(st.st_mode)) errno = ENOTDIR;
        return S_ISDIR(st.st_mode);
    }
    if (::mkdir(prefix.c_str(), 0777) == 0) return true;
    return errno == EEXIST && IsFolder(prefix);
}

} // namespace

bool EnsureDirectory(const std::string& path) {
    if (path.empty()) return true;
    for (std::size_t i = 1; i < path.size(); ++i) {
        // A "/" ends a prefix unless it follows another one (an empty
        // component adds nothing); the root's "/" belongs to the first prefix.
        if (path[i] != '/' || path[i - 1] == '/') continue;
        if (!MakeFolder(path.substr(0, i))) return false;
    }
    if (path.back() != '/') return MakeFolder(path);
    return true;
}

int SaveImageFile(const ImageBuffer& image, const std::string& outputPath, SaveWriter writer,
                  PackedDibPtr& block, PsdState& psd, const EncodeOptions& options,
                  std::string* reason, unsigned threads) {
    const auto slash = outputPath.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : outputPath.substr(0, slash);
    const bool foldersOk = EnsureDirectory(folder);
    const int folderErrno = errno;

    std::string why;
    int result = kSaveOk;
    switch (writer) {
    case SaveWriter::Psd:
        result = SavePsdSingleLayer(image, outputPath, psd, &why);
        break;
    case SaveWriter::Tga:
        result = WriteTga(image, outputPath, true, &why, static_cast<int>(threads));
        break;
    case SaveWriter::Codec:
        if (IsPngPath(outputPath)) {
            result = image.imageData && image.width > 0 && image.height > 0
                         ? WritePng(RowsOf(image), outputPath, options.pngType, &why)
                         : kCodecBadBlock;
            break;
        }
        if (!block) block = std::make_unique<PackedDib>();
        result = ConvertImageToDib(image, *block)
                     ? SaveCodecImage(outputPath, *block, options, &why)
                     : kCodecBadBlock;
        break;
    }
    if (result != kSaveOk && !foldersOk) {
        result = kSaveNoFolder;
        why = "cannot create the output folder " + folder + ": " +
              std::generic_category().message(folderErrno);
    }
    if (reason && result != kSaveOk) *reason = why.empty() ? SaveResultText(result) : why;
    return result;
}

std::string SaveResultText(int result) {
    switch (result) {
    case kSaveOk:
        return "written";
    case kSaveNoFolder:
        return "cannot create the output folder";
    case kSavePsdUnavailable:
        return "PSD output is not available";
    case kSavePsdFailed:
        return "cannot write the PSD file";
    case kCodecNoEncoder:
        return "no encoder for this extension";
    case kCodecEncodeFailed:
        return "the encoder refused the picture";
    case kCodecBadBlock:
        return "no picture to encode";
    case kTgaWrongColourModel:
    case kTgaWrongChannelSequence:
    case kTgaNoPixels:
        return "no picture to encode";
    case kTgaTooLarge:
        return "picture too large for TGA";
    case kFileNotFound:
        return "cannot create the output file";
    case kFileBadPath:
        return "invalid output path";
    case kFileHardwareError:
        return "write error";
    default:
        return "cannot write the output file";
    }
}

} // namespace pelo
