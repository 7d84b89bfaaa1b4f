#include "app/FormatLists.h"

#include "AppTestSupport.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace {

using pelo::BuildFormatLists;
using Strings = std::vector<std::string>;

bool Has(const Strings& list, const std::string& s) {
    return std::find(list.begin(), list.end(), s) != list.end();
}

TEST(FormatLists, UsualCodecGivesSortedListsWithOurFormats) {
    const pelo::FormatLists lists = BuildFormatLists(pelo::test::UsualCodec());
    // Sorted ignoring case; "*.JPE" before "*.JPEG" because it is a prefix.
    EXPECT_EQ(lists.input,
              (Strings{"*.BMP", "*.DIB", "*.EMF", "*.ERI", "*.GIF", "*.ICO", "*.JFIF", "*.JPE",
                       "*.JPEG", "*.JPG", "*.PNG", "*.PSD", "*.RLE", "*.TIF", "*.TIFF", "*.WMF"}));
    EXPECT_EQ(lists.output,
              (Strings{"*.BMP", "*.DIB", "*.GIF", "*.JFIF", "*.JPE", "*.JPEG", "*.JPG", "*.PNG",
                       "*.PSD", "*.RLE", "*.TGA", "*.TIF", "*.TIFF"}));
}

TEST(FormatLists, MetafilesIconsAndDuplicatesStayOutOfTheOutputList) {
    pelo::CodecFormats codec;
    codec.started = true;
    codec.decoders = {"*.png", "*.PNG"};
    codec.encoders = {"*.EMF;*.WMF", "*.ICO", "*.tga", "*.Png"};
    const pelo::FormatLists lists = BuildFormatLists(codec);
    EXPECT_EQ(lists.input, (Strings{"*.ERI", "*.png", "*.PSD"}));
    EXPECT_EQ(lists.output, (Strings{"*.Png", "*.PSD", "*.TGA"}));
}

TEST(FormatLists, CodecThatCannotStartLeavesOurFourEntries) {
    const pelo::FormatLists lists = BuildFormatLists(pelo::test::FailedCodec());
    EXPECT_EQ(lists.input, (Strings{"*.ERI", "*.PSD"}));
    EXPECT_EQ(lists.output, (Strings{"*.PSD", "*.TGA"}));
}

TEST(FormatLists, RealCodec) {
    const pelo::CodecFormats codec = pelo::QueryCodecFormats();
    ASSERT_TRUE(codec.started);
    const pelo::FormatLists lists = BuildFormatLists(codec);
    EXPECT_EQ(lists.input.front(), "*.BMP");
    for (const char* s : {"*.ERI", "*.PSD", "*.PNG", "*.JPG", "*.GIF"})
        EXPECT_TRUE(Has(lists.input, s)) << s;
    for (const char* s : {"*.TGA", "*.PSD", "*.PNG", "*.BMP"})
        EXPECT_TRUE(Has(lists.output, s)) << s;
    for (const char* s : {"*.ICO", "*.SVG", "*.SVGZ", "*.EMF", "*.WMF"})
        EXPECT_FALSE(Has(lists.output, s)) << s;
    EXPECT_TRUE(std::is_sorted(lists.input.begin(), lists.input.end(), pelo::ListTextLess));
    EXPECT_TRUE(std::is_sorted(lists.output.begin(), lists.output.end(), pelo::ListTextLess));
    // An output pattern is used to form names and never exceeds 7 characters.
    for (const std::string& s : lists.output)
        EXPECT_LE(s.size(), 7u) << s;
}

} // namespace
