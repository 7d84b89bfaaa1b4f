// What each kind of file is: which loader reads it, which writer writes it,
// whether it may carry alpha as an input and keeps alpha as an output. The
// kind of a file comes from its own name, the last component of its path,
// never from the folders above it.
#pragma once

#include "formats/SaveDispatch.h"

#include <string>
#include <string_view>

namespace pelo {

enum class LoaderKind { Codec, Metafile, Eri, Psd };

// How a row's text is looked for in a name when it picks a loader or writer.
// The alpha columns always ignore letter case.
enum class Spelling { LowerOrUpper, LowerOnly };

struct FileKind {
    std::string_view text; // ".PSD": looked for after the name's first character
    Spelling spelling;
    bool loads; // the row picks the loader when its text is found
    LoaderKind loader;
    bool writes; // the row picks the writer when its text is found
    SaveWriter writer;
    bool alphaIn;  // the input may carry alpha: edge colours spread, alpha pass run
    bool alphaOut; // the output keeps alpha: not flattened onto grey
};

// The last component of path ("a/b/pic.png" gives "pic.png").
std::string_view FileName(std::string_view path);

LoaderKind LoaderFor(std::string_view path);
SaveWriter WriterFor(std::string_view path);
bool IsAlphaInput(std::string_view path);
bool IsAlphaOutput(std::string_view path);

// PSD in, PSD out: the layer-by-layer conversion instead of the pipeline.
bool IsLayeredPsdPair(std::string_view inputPath, std::string_view outputPath);

} // namespace pelo
