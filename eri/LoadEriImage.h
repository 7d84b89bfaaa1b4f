// Decodes an ERI file into a bottom-up PackedDib (8, 16, 24 or 32 bits per
// pixel, rows aligned to 4 bytes, a 256-entry colour table for 8 bits).
#pragma once

#include "image/PackedDib.h"

#include <string>

namespace pelo {

class EriByteStream;

// block is the caller's reusable block: grown when too small (or created when
// null) and kept otherwise. False on any failure; block is then left as a
// valid (possibly null) block whose contents are unspecified, and reason,
// when given, gets a short English text of the first failure (it is cleared
// on success). Only regular files are read.
bool LoadEriImage(const std::string& path, PackedDibPtr& block, std::string* reason = nullptr);

// The same from any byte stream positioned at the start of the file.
bool LoadEriImage(EriByteStream& stream, PackedDibPtr& block, std::string* reason = nullptr);

} // namespace pelo
