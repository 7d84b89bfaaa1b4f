// The platform image codec: every format other than ERI, PSD and the TGA
// output is read and written here, on Qt's image I/O plus a few encoders and
// decoders of our own where Qt's would lose data or time (TGA input; TIFF,
// GIF and PNG output).
#pragma once

#include "image/ConversionSettings.h"
#include "image/PackedDib.h"

#include <string>
#include <vector>

namespace pelo {

inline constexpr int kMetafileWidth = 720;
inline constexpr int kMetafileHeight = 540;

// Results of SaveCodecImage besides 0 and the file errors of AtomicFile.h.
enum CodecSaveResult : int {
    kCodecSaved = 0,
    kCodecNoEncoder = -200,    // no encoder lists the path's extension
    kCodecEncodeFailed = -201, // the encoder refused the picture
    kCodecBadBlock = -202,     // the block holds no 32-bit picture
};

// One "*.EXT" pattern (upper case) per extension the codec decodes, in the
// codec's order.
const std::vector<std::string>& CodecDecoderPatterns();

// The patterns of the encoders, in the codec's order: only formats that can
// really be written, never icons or vector formats.
const std::vector<std::string>& CodecEncoderPatterns();

// How a file is drawn: as the picture it holds, or (the caller decides, from
// the file's name) as a metafile drawn at a fixed size.
enum class CodecDrawing { Raster, Metafile };

// Decodes path into a new picture (blue, green, red, straight alpha; row 0
// on top): PNG, TGA and TIFF straight into it, other formats through Qt's
// picture, dropped once copied. A metafile is drawn at kMetafileWidth x
// kMetafileHeight, painted pixels opaque, the rest transparent. Null when
// the file cannot be read or decoded or memory runs out; error then says why.
ImagePtr LoadCodecPicture(const std::string& path, CodecDrawing drawing = CodecDrawing::Raster,
                          std::string* error = nullptr);

// LoadCodecPicture into block as a 32-bit bottom-up bitmap. block is grown
// when too small (created when null) and reused in place otherwise. False
// only when the block cannot be had; a file that cannot be read or decoded
// still gives true with a 0 x 0 block, and error then says why.
bool LoadCodecImage(const std::string& path, PackedDibPtr& block,
                    CodecDrawing drawing = CodecDrawing::Raster, std::string* error = nullptr);

// Writes the 32-bit block to path with the encoder chosen by the extension
// of the path's last component (case ignored). The alpha bytes reach the
// encoder unchanged. options: the quality of JPEG and WebP, the PNG colour
// type. 0, a CodecSaveResult or a file error (reason, when given, then says
// why); nothing is written (or replaced) unless the whole file was encoded.
int SaveCodecImage(const std::string& path, const PackedDib& block,
                   const EncodeOptions& options = {}, std::string* reason = nullptr);

// True when path's extension is ".png" (case ignored): SaveImageFile then
// writes through WritePng without the block.
bool IsPngPath(const std::string& path);

// True when path's extension picks an encoder whose files hold no alpha
// (GIF holds it as transparent below 128).
bool CodecDropsAlpha(const std::string& path);

// The extension of the last path component, dot included ("" when none).
std::string PathExtension(const std::string& path);

} // namespace pelo
