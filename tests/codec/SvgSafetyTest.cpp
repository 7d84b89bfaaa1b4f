// Vector input reads nothing but its own bytes and is size-checked before it
// is drawn, whatever its name.
#include "formats/Codec.h"
#include "image/Allocation.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace pelo {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::ReadFileBytes;
using test::RunCommand;
using test::TempDir;
using test::WriteFileBytes;

const std::string kSvgOpen = "<svg xmlns='http://www.w3.org/2000/svg' "
                             "xmlns:xlink='http://www.w3.org/1999/xlink' width='8' height='4'>";

void WriteText(const std::string& path, const std::string& text) {
    WriteFileBytes(path, Bytes(text.begin(), text.end()));
}

// Loads as the pipeline does (lower-case ".svg" names are metafiles); the
// error, empty when the picture decoded.
std::string LoadError(const std::string& path, PackedDibPtr& block) {
    std::string error;
    const auto drawing = path.ends_with(".svg") ? CodecDrawing::Metafile : CodecDrawing::Raster;
    EXPECT_TRUE(LoadCodecImage(path, block, drawing, &error));
    if (!error.empty()) {
        EXPECT_EQ(block->header().biWidth, 0) << path;
    }
    return error;
}

std::string Base64(const Bytes& bytes) {
    static const char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        std::uint32_t v = std::uint32_t{bytes[i]} << 16;
        if (i + 1 < bytes.size()) v |= std::uint32_t{bytes[i + 1]} << 8;
        if (i + 2 < bytes.size()) v |= bytes[i + 2];
        for (std::size_t k = 0; k < 4; ++k)
            out += i + k <= bytes.size() ? kDigits[(v >> (18 - 6 * k)) & 63] : '=';
    }
    return out;
}

// A real 2 x 2 opaque green PNG at path.
void WriteGreenPng(const std::string& path) {
    PackedDib block;
    ASSERT_TRUE(PrepareDib32(block, 2, 2));
    for (int i = 0; i < 4; ++i) {
        std::uint8_t* p = block.pixels() + 4 * i;
        p[0] = 0, p[1] = 255, p[2] = 0, p[3] = 255;
    }
    ASSERT_EQ(SaveCodecImage(path, block), kCodecSaved);
}

TEST(SvgSafety, ReferencesToOtherFilesAreRefused) {
    TempDir dir;
    const std::string png = dir.file("local.png");
    WriteGreenPng(png); // readable, so only the check keeps it out
    struct Case {
        std::string body, target;
    } cases[] = {
        {"<image width='8' height='4' xlink:href='" + png + "'/>", png},
        {"<image width='8' height='4' href='local.png'/>", "local.png"},
        {"<image width='8' height='4' href='#local.png'/>", "#local.png"},
        {"<image width='8' height='4' href='DATA:image/png;base64,AAAA'/>",
         "DATA:image/png;base64,AAAA"},
        {"<use xlink:href='other.svg#a'/>", "other.svg#a"},
        {"<filter id='f'><feImage xlink:href='" + png + "'/></filter>", png},
        {"<rect width='8' height='4' style='fill:url(" + png + ")'/>", png},
        {"<rect width='8' height='4' filter='url(\"x.svg#f\")'/>", "x.svg#f"},
        {"<style>rect { fill: u\\72l(/etc/shadow) }</style>", "/etc/shadow"},
        {"<style><![CDATA[@import 'more.css';]]></style>", "more.css"},
        {"<set attributeName='xlink:href' to='/etc/shadow'/>", "/etc/shadow"},
    };
    for (const Case& c : cases)
        for (const char* name : {"a.svg", "b.SVG"}) {
            WriteText(dir.file(name), kSvgOpen + c.body + "</svg>");
            PackedDibPtr block;
            EXPECT_EQ(LoadError(dir.file(name), block), "SVG refers to another file: " + c.target)
                << name << ": " << c.body;
        }
    WriteText(dir.file("c.svg"), "<?xml-stylesheet href='/tmp/s.css'?>" + kSvgOpen + "</svg>");
    PackedDibPtr block;
    EXPECT_EQ(LoadError(dir.file("c.svg"), block), "SVG refers to another file: /tmp/s.css");
}

TEST(SvgSafety, DoctypeDeclarationsAreRefusedAPlainDoctypeIsNot) {
    TempDir dir;
    const std::string body = kSvgOpen + "<text>&b;</text></svg>";
    WriteText(dir.file("bomb.svg"),
              "<!DOCTYPE svg [<!ENTITY a 'aaaaaaaa'><!ENTITY b '&a;&a;&a;&a;'>]>" + body);
    WriteText(dir.file("external.svg"), "<!DOCTYPE svg [<!ENTITY b SYSTEM '/etc/passwd'>]>" + body);
    WriteText(dir.file("plain.svg"), "<?xml version='1.0'?><!DOCTYPE svg PUBLIC "
                                     "'-//W3C//DTD SVG 1.1//EN' "
                                     "'http://www.w3.org/Graphics/SVG/1.1/DTD/svg11.dtd'>" +
                                         kSvgOpen + "<rect width='8' height='4'/></svg>");
    PackedDibPtr block;
    EXPECT_EQ(LoadError(dir.file("bomb.svg"), block), "SVG declares entities");
    EXPECT_EQ(LoadError(dir.file("external.svg"), block), "SVG declares entities");
    EXPECT_EQ(LoadError(dir.file("plain.svg"), block), "");
    WriteText(dir.file("broken.svg"), kSvgOpen + "<rect></svg>");
    EXPECT_NE(LoadError(dir.file("broken.svg"), block).find("invalid SVG: "), std::string::npos);
}

TEST(SvgSafety, SameDocumentAndInlineReferencesStillDraw) {
    TempDir dir;
    WriteGreenPng(dir.file("green.png"));
    const std::string data =
        "data:image/png;base64," + Base64(ReadFileBytes(dir.file("green.png")));
    WriteText(dir.file("a.SVG"), kSvgOpen +
                                     "<defs><rect id='r' width='4' height='4' fill='#ff0000'/>"
                                     "<clipPath id='c'><rect width='8' height='4'/></clipPath>"
                                     "</defs><g clip-path='url(#c)'><use xlink:href='#r'/>"
                                     "<image x='4' width='4' height='4' xlink:href='" +
                                     data + "'/></g></svg>");
    PackedDibPtr block;
    ASSERT_EQ(LoadError(dir.file("a.SVG"), block), "");
    ASSERT_EQ(block->header().biWidth, 8);
    ASSERT_EQ(block->header().biHeight, 4);
    const std::uint8_t* left = block->pixels() + 4 * (2 * 8 + 1); // blue, green, red, alpha
    const std::uint8_t* right = block->pixels() + 4 * (2 * 8 + 6);
    EXPECT_EQ(std::vector<int>(left, left + 4), (std::vector<int>{0, 0, 255, 255}));
    EXPECT_EQ(std::vector<int>(right, right + 4), (std::vector<int>{0, 255, 0, 255}));
}

TEST(SvgSafety, DeclaredSizesAreCheckedBeforeDrawing) {
    TempDir dir;
    const std::string huge =
        "<svg xmlns='http://www.w3.org/2000/svg' width='40000' height='40000'><rect "
        "width='40000' height='40000'/></svg>";
    WriteText(dir.file("huge.SVG"), huge);
    PackedDibPtr block;
    EXPECT_EQ(LoadError(dir.file("huge.SVG"), block), PictureSizeProblem(40000, 40000));
    // Qt draws an embedded SVG picture at its own size while parsing.
    WriteText(dir.file("nested.svg"),
              kSvgOpen + "<image width='8' height='4' xlink:href='data:image/svg+xml;base64," +
                  Base64(Bytes(huge.begin(), huge.end())) + "'/></svg>");
    EXPECT_EQ(LoadError(dir.file("nested.svg"), block),
              "embedded picture: " + PictureSizeProblem(40000, 40000));
}

TEST(SvgSafety, CompressedSvgIsCheckedAfterInflating) {
    TempDir dir;
    WriteText(dir.file("bad.txt"), kSvgOpen + "<image href='/etc/shadow'/></svg>");
    WriteText(dir.file("good.txt"), kSvgOpen + "<rect width='8' height='4'/></svg>");
    const std::string gz = "gzip -nc '" + dir.file("");
    ASSERT_EQ(RunCommand(gz + "bad.txt' > '" + dir.file("bad.svgz") + "'"), 0);
    ASSERT_EQ(RunCommand(gz + "bad.txt' > '" + dir.file("bad.png") + "'"), 0);
    ASSERT_EQ(RunCommand(gz + "good.txt' > '" + dir.file("good.png") + "'"), 0);
    ASSERT_EQ(RunCommand("head -c 70000000 /dev/zero | gzip -1 > '" + dir.file("bomb.svgz") + "'"),
              0);
    PackedDibPtr block;
    EXPECT_EQ(LoadError(dir.file("bad.svgz"), block), "SVG refers to another file: /etc/shadow");
    EXPECT_EQ(LoadError(dir.file("bad.png"), block), "SVG refers to another file: /etc/shadow");
    EXPECT_EQ(LoadError(dir.file("bomb.svgz"), block), "compressed SVG too large");
    EXPECT_EQ(LoadError(dir.file("good.png"), block), "");
    EXPECT_EQ(block->header().biWidth, 8);
}

TEST(SvgSafety, SvgUnderAnotherNameGetsTheSameChecks) {
    TempDir dir;
    const std::string bad = kSvgOpen + "<image href='/etc/shadow'/></svg>";
    WriteText(dir.file("a.png"), "\xEF\xBB\xBF<?xml version='1.0'?>\n<!-- drawn -->\n  " + bad);
    // Qt's reader takes any XML declaration for SVG, whatever the root.
    WriteText(dir.file("b.jpg"), "<?xml version='1.0'?><html "
                                 "xmlns:xlink='http://www.w3.org/1999/xlink'><image "
                                 "xlink:href='/etc/shadow'/></html>");
    WriteText(dir.file("c.bmp"), " \n<svg xmlns='http://www.w3.org/2000/svg' width='40000' "
                                 "height='40000'/>");
    PackedDibPtr block;
    EXPECT_EQ(LoadError(dir.file("a.png"), block), "SVG refers to another file: /etc/shadow");
    EXPECT_EQ(LoadError(dir.file("b.jpg"), block), "SVG refers to another file: /etc/shadow");
    EXPECT_EQ(LoadError(dir.file("c.bmp"), block), PictureSizeProblem(40000, 40000));
}

} // namespace
} // namespace pelo
