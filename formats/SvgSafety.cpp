#include "formats/SvgSafety.h"

#include "image/Allocation.h"

#include <QBuffer>
#include <QImageReader>
#include <QSize>
#include <QString>
#include <QXmlStreamReader>
#include <zlib.h>

namespace pelo::codec {

namespace {

// Pictures embedded in pictures (data: URIs holding SVG) are followed this
// many levels deep.
constexpr int kMaxNesting = 3;
constexpr qsizetype kMaxShown = 200;

// What one check has spent, across the embedded documents it follows.
struct Walk {
    qsizetype inflateBudget = kMaxInflatedSvg;
    std::uint64_t embeddedPixels = 0;
};

bool IsGzip(const QByteArray& bytes) {
    return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0x1f &&
           static_cast<unsigned char>(bytes[1]) == 0x8b;
}

// "xlink:href" -> "href". The document is read without namespace
// processing, as Qt's SVG reader takes prefixes it never saw declared.
QStringView LocalPart(QStringView qualified) {
    const qsizetype colon = qualified.lastIndexOf(u':');
    return colon < 0 ? qualified : qualified.mid(colon + 1);
}

bool Is(QStringView a, QStringView b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

std::string Shown(QStringView text) {
    std::string out = text.left(kMaxShown).toString().toStdString();
    if (text.size() > kMaxShown) out += "...";
    return out;
}

// Empty when ref reads nothing but the document: an inline "data:" URI or,
// except for pictures (Qt opens "#id" there as a file name), a "#id". Qt
// opens "DATA:" and " data:" as file names too, so the test is exact.
std::string ReferenceProblem(QStringView ref, bool picture) {
    if (ref.isEmpty() || ref.startsWith(u"data:") || (!picture && ref.startsWith(u'#'))) return {};
    return "SVG refers to another file: " + Shown(ref);
}

bool Inflate(QByteArray& bytes, Walk& walk, std::string& error) {
    z_stream zs{};
    if (inflateInit2(&zs, 16 + MAX_WBITS) != Z_OK) {
        error = "out of memory";
        return false;
    }
    zs.next_in = reinterpret_cast<Bytef*>(bytes.data());
    zs.avail_in = static_cast<uInt>(bytes.size()); // at most kMaxInflatedSvg
    QByteArray out;
    char chunk[16384];
    while (true) {
        zs.next_out = reinterpret_cast<Bytef*>(chunk);
        zs.avail_out = sizeof chunk;
        const int rc = inflate(&zs, Z_NO_FLUSH);
        const auto produced = static_cast<qsizetype>(sizeof chunk - zs.avail_out);
        if (produced > walk.inflateBudget) {
            error = "compressed SVG too large";
            break;
        }
        walk.inflateBudget -= produced;
        out.append(chunk, produced);
        if (rc == Z_STREAM_END) {
            // Concatenated gzip members make one stream; anything else after
            // the end is refused rather than guessed at.
            if (zs.avail_in == 0) {
                inflateEnd(&zs);
                bytes = std::move(out);
                return true;
            }
            if (zs.avail_in < 2 || zs.next_in[0] != 0x1f || zs.next_in[1] != 0x8b) {
                error = "corrupt compressed SVG: data after the end";
                break;
            }
            inflateReset(&zs);
        } else if (rc == Z_BUF_ERROR) {
            // No progress with room to write: the input ended early.
            error = "truncated compressed SVG";
            break;
        } else if (rc != Z_OK) {
            error =
                std::string("corrupt compressed SVG") + (zs.msg ? std::string(": ") + zs.msg : "");
            break;
        }
    }
    inflateEnd(&zs);
    return false;
}

int HexValue(QChar c) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9') return u - u'0';
    if (u >= u'a' && u <= u'f') return u - u'a' + 10;
    if (u >= u'A' && u <= u'F') return u - u'A' + 10;
    return -1;
}

// CSS with comments dropped and escapes resolved, so that neither can hide a
// reference.
QString PlainCss(QStringView css) {
    QString out;
    out.reserve(css.size());
    for (qsizetype i = 0; i < css.size();) {
        if (css[i] == u'/' && i + 1 < css.size() && css[i + 1] == u'*') {
            const qsizetype end = css.indexOf(u"*/", i + 2);
            i = end < 0 ? css.size() : end + 2;
            continue;
        }
        if (css[i] != u'\\' || i + 1 == css.size()) {
            out += css[i++];
            continue;
        }
        qsizetype j = i + 1;
        char32_t code = 0;
        int digits = 0;
        for (int v; j < css.size() && digits < 6 && (v = HexValue(css[j])) >= 0; ++j, ++digits)
            code = code * 16 + static_cast<char32_t>(v);
        if (digits == 0) {
            out += css[i + 1];
            i += 2;
            continue;
        }
        if (j < css.size() && css[j].isSpace()) ++j;
        if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
        out += QString::fromUcs4(&code, 1);
        i = j;
    }
    return out;
}

// The reference at `at`: the argument of url(...), a quoted string, or the
// bare word up to a blank or ';'.
QString CssTarget(QStringView css, qsizetype at) {
    auto skipSpace = [&] {
        while (at < css.size() && css[at].isSpace())
            ++at;
    };
    skipSpace();
    const bool inUrl = css.mid(at).startsWith(u"url(", Qt::CaseInsensitive);
    if (inUrl) {
        at += 4;
        skipSpace();
    }
    if (at < css.size() && (css[at] == u'"' || css[at] == u'\'')) {
        const qsizetype end = css.indexOf(css[at], at + 1);
        return css.mid(at + 1, end < 0 ? -1 : end - at - 1).toString();
    }
    qsizetype end = at;
    while (end < css.size() && !css[end].isSpace() && css[end] != (inUrl ? u')' : u';'))
        ++end;
    return css.mid(at, end - at).toString();
}

std::string CssProblem(QStringView text) {
    const QString css = PlainCss(text);
    for (qsizetype at = 0; (at = css.indexOf(u"url(", at, Qt::CaseInsensitive)) >= 0; at += 4)
        if (std::string problem = ReferenceProblem(CssTarget(css, at), false); !problem.empty())
            return problem;
    if (const qsizetype at = css.indexOf(u"@import", 0, Qt::CaseInsensitive); at >= 0) {
        const QString target = CssTarget(css, at + 7);
        return target.isEmpty() ? "SVG imports another style sheet"
                                : "SVG refers to another file: " + Shown(target);
    }
    return {};
}

// A '[' outside quoted ids opens an internal subset.
bool HasInternalSubset(QStringView doctype) {
    QChar quote;
    for (const QChar c : doctype) {
        if (!quote.isNull()) {
            if (c == quote) quote = QChar();
        } else if (c == u'"' || c == u'\'') {
            quote = c;
        } else if (c == u'[') {
            return true;
        }
    }
    return false;
}

bool CheckDocument(QByteArray& bytes, int depth, Walk& walk, std::string& error);

// Qt decodes a picture's data: URI while it parses, at the picture's own
// size and with SVG rules of its own: hold it to the same checks.
bool CheckEmbedded(QStringView uri, int depth, Walk& walk, std::string& error) {
    const qsizetype comma = uri.indexOf(u',');
    if (comma < 0) return true; // no picture is made of it
    const QString meta = uri.mid(5, comma - 5).toString();
    QByteArray payload = QByteArray::fromPercentEncoding(uri.mid(comma + 1).toUtf8());
    if (meta.endsWith(u";base64", Qt::CaseInsensitive)) payload = QByteArray::fromBase64(payload);
    QSize size;
    if (IsSvgContent(payload)) {
        if (depth >= kMaxNesting) {
            error = "SVG pictures nested too deeply";
            return false;
        }
        if (!CheckDocument(payload, depth + 1, walk, error)) return false;
        QBuffer device(&payload);
        device.open(QIODevice::ReadOnly);
        size = QImageReader(&device, "svg").size();
    } else {
        QBuffer device(&payload);
        device.open(QIODevice::ReadOnly);
        size = QImageReader(&device).size();
    }
    if (size.width() < 1 || size.height() < 1) return true; // Qt makes no picture either
    if (const std::string problem = PictureSizeProblem(size.width(), size.height());
        !problem.empty()) {
        error = "embedded picture: " + problem;
        return false;
    }
    walk.embeddedPixels += static_cast<std::uint64_t>(size.width()) * size.height();
    if (walk.embeddedPixels > MaxPicturePixels()) {
        error = "embedded pictures exceed the limit of " + std::to_string(MaxPicturePixels()) +
                " pixels in total";
        return false;
    }
    return true;
}

// The href of an xml-stylesheet instruction, read as the attributes of an
// element would be.
bool StyleSheetProblem(QStringView data, std::string& error) {
    QString text = QStringLiteral("<x ");
    text += data;
    text += QStringLiteral("/>");
    QXmlStreamReader pseudo(text);
    pseudo.setNamespaceProcessing(false);
    while (!pseudo.atEnd() && pseudo.readNext() != QXmlStreamReader::StartElement) {
    }
    if (pseudo.hasError()) {
        error = "SVG has a malformed style sheet link";
        return true;
    }
    error = ReferenceProblem(pseudo.attributes().value(QLatin1String("href")), false);
    return !error.empty();
}

bool CheckElement(const QXmlStreamReader& xml, int depth, Walk& walk, std::string& error) {
    const bool picture = Is(LocalPart(xml.qualifiedName()), u"image");
    const QXmlStreamAttributes attributes = xml.attributes();
    bool animatesHref = false;
    for (const QXmlStreamAttribute& attribute : attributes) {
        const QStringView name = LocalPart(attribute.qualifiedName());
        const QStringView value = attribute.value();
        if (Is(name, u"href")) {
            error = ReferenceProblem(value, picture);
            if (error.empty() && value.startsWith(u"data:") &&
                !CheckEmbedded(value, depth, walk, error))
                return false;
        } else {
            error = CssProblem(value);
            animatesHref |= Is(name, u"attributeName") && Is(LocalPart(value), u"href");
        }
        if (!error.empty()) return false;
    }
    if (!animatesHref) return true;
    // An animation that sets an href: every value it may set.
    for (const char* key : {"to", "from", "by", "values"})
        for (const QStringView ref : attributes.value(QLatin1String(key)).split(u';')) {
            error = ReferenceProblem(ref.trimmed(), false);
            if (!error.empty()) return false;
        }
    return true;
}

bool CheckDocument(QByteArray& bytes, int depth, Walk& walk, std::string& error) {
    if (bytes.size() > kMaxInflatedSvg) {
        error = "SVG too large";
        return false;
    }
    if (IsGzip(bytes) && !Inflate(bytes, walk, error)) return false;
    QXmlStreamReader xml(bytes);
    xml.setNamespaceProcessing(false);
    int styleDepth = 0; // inside <style>
    QString styleText;
    while (!xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::DTD:
            if (!xml.entityDeclarations().isEmpty()) {
                error = "SVG declares entities";
                return false;
            }
            if (HasInternalSubset(xml.text())) {
                error = "SVG has declarations in its DOCTYPE";
                return false;
            }
            break;
        case QXmlStreamReader::EntityReference:
            error = "SVG uses an undeclared entity: &" + Shown(xml.name()) + ";";
            return false;
        case QXmlStreamReader::ProcessingInstruction:
            if (Is(xml.processingInstructionTarget(), u"xml-stylesheet") &&
                StyleSheetProblem(xml.processingInstructionData(), error))
                return false;
            break;
        case QXmlStreamReader::StartElement:
            if (!CheckElement(xml, depth, walk, error)) return false;
            if (styleDepth > 0 || Is(LocalPart(xml.qualifiedName()), u"style")) ++styleDepth;
            break;
        case QXmlStreamReader::Characters:
            if (styleDepth > 0) styleText += xml.text();
            break;
        case QXmlStreamReader::EndElement:
            if (styleDepth > 0 && --styleDepth == 0) {
                error = CssProblem(styleText);
                if (!error.empty()) return false;
                styleText.clear();
            }
            break;
        default:
            break;
        }
    }
    if (xml.hasError()) {
        error = "invalid SVG: " + xml.errorString().toStdString() + " (line " +
                std::to_string(xml.lineNumber()) + ")";
        return false;
    }
    return true;
}

// Whether the first element of the document is <svg>; false for anything
// that is not XML.
// A document starts with "<" after white space, or with a byte-order mark
// or the zero byte of a wide encoding; anything else (every raster format)
// is no XML, which spares decoding a whole picture file as text.
bool MayBeXml(const QByteArray& bytes) {
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == ' ' || byte == '\t' || byte == '\r' || byte == '\n') continue;
        return byte == '<' || byte == 0xEF || byte == 0xFE || byte == 0xFF || byte == 0;
    }
    return false;
}

bool RootIsSvg(const QByteArray& bytes) {
    if (!MayBeXml(bytes)) return false;
    QXmlStreamReader xml(bytes);
    xml.setNamespaceProcessing(false);
    while (!xml.atEnd())
        if (xml.readNext() == QXmlStreamReader::StartElement)
            return Is(LocalPart(xml.qualifiedName()), u"svg");
    return false;
}

} // namespace

bool IsSvgContent(const QByteArray& bytes) {
    if (IsGzip(bytes) || RootIsSvg(bytes)) return true; // Qt's reader claims every gzip stream
    QBuffer device;
    device.setData(bytes);
    device.open(QIODevice::ReadOnly);
    const QByteArray format = QImageReader::imageFormat(&device);
    return format == "svg" || format == "svgz";
}

bool CheckSvgSafe(QByteArray& bytes, std::string& error) {
    Walk walk;
    return CheckDocument(bytes, 0, walk, error);
}

} // namespace pelo::codec
