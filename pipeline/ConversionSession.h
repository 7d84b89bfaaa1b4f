// Everything one conversion works on: the settings, the current picture, the
// reusable bitmap block and the PSD state, with the per-file operations on
// them. The desktop dialog owns one; the command line makes one per worker.
#pragma once

#include "formats/PsdState.h"
#include "image/ConversionSettings.h"
#include "image/ImageBuffer.h"
#include "image/MessageSink.h"
#include "image/PackedDib.h"
#include "image/Status.h"

#include <string>

namespace pelo {

class ConversionSession {
public:
    ConversionSettings settings;
    ImagePtr currentImage;
    PackedDibPtr block; // emptied by each load; filled by the ERI loader and the codec save
    PsdState psd;
    MessageSink* sink = nullptr; // what the desktop shows in a message box; may be null
    unsigned pictureThreads =
        1; // threads that smooth and write one picture (same bytes for any count)

    // Why the last file failed (ok when it went through).
    Status failure;
    // The diagnostic texts the loaders compose; never shown.
    std::string diagnostic;

    // A run starts from no block and releases it at its end.
    void BeginRun();
    void EndRun();

    // Loads, smooths (SmoothPicture), saves. True when the file was converted and written;
    // otherwise failure says why, and a picture that could not be smoothed is not written at all.
    bool ProcessFile(const std::string& inputPath, const std::string& outputPath);

    // The loader chosen by the file's name: ERI, PSD merged image or codec.
    // A failed load leaves no picture behind, in the block or anywhere.
    ImagePtr LoadImageFile(const std::string& path);

    // Anti-aliases the current image: colour pass, then alpha pass when asked.
    int AntiAlias(bool alphaPass);

    // Writes image to outputPath with the writer its name picks; 0 when
    // written, else failure says why.
    int SaveImageFile(const ImageBuffer& image, const std::string& outputPath);

    // PSD input with PSD output: every visible layer anti-aliased, layers
    // kept. True when the file was written.
    bool ProcessLayeredPsd(const std::string& inputPath, const std::string& outputPath);

private:
    ImagePtr LoadPsdMerged(const std::string& path);
    // Opens a PSD input and reads its merged image into psd; on failure shows
    // the message, closes the input and returns false.
    bool OpenPsdInput(const std::string& path);
    void Show(const std::string& text);
    bool Fail(StatusCode code, std::string reason);
};

} // namespace pelo
