#include "pipeline/ConversionSession.h"

#include "base/HeapReuse.h"
#include "formats/SaveDispatch.h"
#include "image/AntiAlias.h"
#include "pipeline/FileKinds.h"

namespace pelo {

void ConversionSession::BeginRun() {
    block.reset();
}

void ConversionSession::EndRun() {
    block.reset();
    ReleaseFreedMemory(); // kept for reuse during the run only
}

int ConversionSession::AntiAlias(bool alphaPass) {
    if (!currentImage) return kImageNoPixels;
    return AntiAliasImage(*currentImage, settings, alphaPass);
}

int ConversionSession::SaveImageFile(const ImageBuffer& image, const std::string& outputPath) {
    std::string reason;
    const int result = pelo::SaveImageFile(image, outputPath, WriterFor(outputPath), block, psd,
                                           settings.result.encode, &reason, pictureThreads);
    if (result != kSaveOk) Fail(StatusCode::CannotWrite, reason + ": " + outputPath);
    return result;
}

void ConversionSession::Show(const std::string& text) {
    if (sink) sink->ShowMessage(text);
}

bool ConversionSession::Fail(StatusCode code, std::string reason) {
    failure = Status::Fail(code, std::move(reason));
    return false;
}

} // namespace pelo
