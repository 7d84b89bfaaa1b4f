// Checks on vector (SVG) input before any Qt SVG code sees it: the drawing
// may read nothing but its own bytes, and its entities and compressed size
// are bounded.
#pragma once

#include <QByteArray>
#include <string>

namespace pelo::codec {

// Largest decompressed SVG text, and the budget of all decompression done
// while checking one file (embedded pictures included).
inline constexpr qsizetype kMaxInflatedSvg = qsizetype{64} << 20;

// True for every input Qt's SVG reader would take: gzip data, XML whose root
// element is <svg>, and whatever Qt's own format sniffing names SVG.
bool IsSvgContent(const QByteArray& bytes);

// Inflates gzip input in place, then walks the document and refuses it when
// it refers to anything outside itself (only "#id" and inline "data:" are
// allowed; pictures only "data:"), declares entities or an internal DOCTYPE
// subset, is not well-formed XML, or embeds pictures above the size limit.
// error says why.
bool CheckSvgSafe(QByteArray& bytes, std::string& error);

} // namespace pelo::codec
