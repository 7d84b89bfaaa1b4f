// Writes the finished picture of one file: creates the missing folders of
// the output path, then hands the picture to the writer the caller chose
// (TGA, single-layer PSD, PNG or the platform codec).
#pragma once

#include "formats/PsdState.h"
#include "image/ConversionSettings.h"
#include "image/ImageBuffer.h"
#include "image/PackedDib.h"

#include <string>

namespace pelo {

enum class SaveWriter { Psd, Tga, Codec };

// Results of SaveImageFile besides those of the writers (WriteTga,
// SaveCodecImage and the file errors of AtomicFile.h).
enum SaveResult : int {
    kSaveOk = 0,
    kSaveNoFolder = -300,       // a folder of the path could not be made, and the write failed
    kSavePsdUnavailable = -301, // no single-layer PSD writer in this build
    kSavePsdFailed = -302,      // the PSD library could not write the file
};

// Creates every missing folder along path ("/" separators; a leading "/" is
// the root and belongs to the first prefix). True when all exist afterwards;
// false at the first prefix that is not a folder and cannot be made one.
bool EnsureDirectory(const std::string& path);

// Writes image to outputPath with writer. block is the reusable block the
// codec path fills (grown when too small; PNG is written from image
// directly); psd is the PSD state the single-layer writer fills; options
// steer the codec's encoders; threads pack bands of a TGA at once (the
// bytes do not depend on it). 0 when the file was written, else a negative
// result, and reason (when given) says why in words.
int SaveImageFile(const ImageBuffer& image, const std::string& outputPath, SaveWriter writer,
                  PackedDibPtr& block, PsdState& psd, const EncodeOptions& options = {},
                  std::string* reason = nullptr, unsigned threads = 1);

// A short English text for a result of SaveImageFile.
std::string SaveResultText(int result);

} // namespace pelo
