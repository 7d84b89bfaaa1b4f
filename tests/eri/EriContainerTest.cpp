// The record container and its header records, on files put together byte
// by byte, and the image set-up's acceptance of image information.
#include "EriBitWriter.h"
#include "EriFileWriter.h"
#include "eri/EriByteStream.h"
#include "eri/EriImageDecoder.h"
#include "eri/EriRecordReader.h"
#include "eri/LoadEriImage.h"
#include "image/Allocation.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempDir.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace pelo;
using namespace pelo::eritest;
using pelo::test::TempDir;
using pelo::test::WriteFileBytes;

namespace {

void Le32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(std::uint8_t(v >> (8 * i)));
}

// Record header by hand: 8-byte id, low and high halves of the length.
void Record(std::vector<std::uint8_t>& out, const char (&id)[9], std::uint32_t low,
            std::uint32_t high = 0) {
    out.insert(out.end(), id, id + 8);
    Le32(out, low);
    Le32(out, high);
}

std::vector<std::uint8_t> Preamble(std::uint32_t kind = 0x03000100) {
    std::vector<std::uint8_t> out = {0x45, 0x6E, 0x74, 0x69, 0x73, 0x1A, 0x00, 0x00};
    Le32(out, kind);
    out.resize(64, 0xAB); // the rest is not examined
    return out;
}

std::vector<std::uint8_t> InfoBytes(int width = 4, int height = 2) {
    EriImageInfo info;
    info.coderVersion = kEriCoderVersion2;
    info.transformation = kEriTransformLossless;
    info.symbolCoder = kEriCoderGamma;
    info.pixelFormat = kEriFormatColour;
    info.width = width;
    info.height = height;
    info.bitsPerPixel = 24;
    info.blockDegree = 3;
    return ImageInfoContent(info);
}

// Preamble, a "Header  " with FileHdr (version) and ImageInf, then "Stream  "
// with frame bytes in "ImageFrm", then trailing bytes after the stream.
std::vector<std::uint8_t> SimpleFile(std::uint32_t version, const std::vector<std::uint8_t>& frame,
                                     const std::vector<std::uint8_t>& trailing = {}) {
    std::vector<std::uint8_t> f = Preamble();
    const std::vector<std::uint8_t> info = InfoBytes();
    Record(f, "Header  ", 16 + 20 + 16 + 68);
    Record(f, "FileHdr ", 20);
    Le32(f, version);
    f.resize(f.size() + 16, 0);
    Record(f, "ImageInf", 68);
    f.insert(f.end(), info.begin(), info.end());
    Record(f, "Stream  ", std::uint32_t(16 + frame.size()));
    Record(f, "ImageFrm", std::uint32_t(frame.size()));
    f.insert(f.end(), frame.begin(), frame.end());
    f.insert(f.end(), trailing.begin(), trailing.end());
    return f;
}

bool OpenAt(const std::vector<std::uint8_t>& bytes, int depth, EriRecordReader& reader,
            EriMemoryStream& stream) {
    stream = EriMemoryStream(bytes.data(), bytes.size());
    return reader.Open(stream, depth);
}

} // namespace

TEST(EriRecordReader, PreambleRules) {
    EriRecordReader reader;
    EriMemoryStream stream(nullptr, 0);
    std::vector<std::uint8_t> good = Preamble();
    EXPECT_TRUE(OpenAt(good, 0, reader, stream));
    EXPECT_EQ(reader.Frames().back().start, 64u);
    std::vector<std::uint8_t> shortFile(good.begin(), good.begin() + 63);
    EXPECT_FALSE(OpenAt(shortFile, 0, reader, stream));
    std::vector<std::uint8_t> kind = Preamble(0x03000101);
    EXPECT_FALSE(OpenAt(kind, 0, reader, stream));
    std::vector<std::uint8_t> magic = good;
    magic[7] = 1;
    EXPECT_FALSE(OpenAt(magic, 0, reader, stream));
}

TEST(EriRecordReader, FileHeaderVersionLimit) {
    EriRecordReader reader;
    EriMemoryStream stream(nullptr, 0);
    const std::vector<std::uint8_t> ok = SimpleFile(0x00020100, {1, 2, 3});
    ASSERT_TRUE(OpenAt(ok, 3, reader, stream));
    EXPECT_EQ(reader.Flags(), kEriHasFileHeader | kEriHasImageInfo);
    EXPECT_EQ(reader.ImageInfo().width, 4);
    EXPECT_EQ(reader.ImageInfo().bitsPerPixel, 24u);
    const std::vector<std::uint8_t> newer = SimpleFile(0x00020101, {1, 2, 3});
    EXPECT_FALSE(OpenAt(newer, 1, reader, stream));
}

TEST(EriRecordReader, ReadingStopsAtTheEndOfTheImageFrame) {
    EriRecordReader reader;
    EriMemoryStream stream(nullptr, 0);
    const std::vector<std::uint8_t> f = SimpleFile(0x00020100, {1, 2, 3}, {9, 9, 9, 9, 9, 9});
    ASSERT_TRUE(OpenAt(f, 3, reader, stream));
    EXPECT_EQ(reader.Length(), 3u);
    std::uint8_t buffer[10] = {};
    EXPECT_EQ(reader.Read(buffer, 10), 3u);
    EXPECT_EQ(buffer[2], 3);
    EXPECT_EQ(reader.Read(buffer, 10), 0u);
    reader.Seek(1);
    EXPECT_EQ(reader.Position(), 1u);
    reader.Seek(100); // not beyond the record
    EXPECT_EQ(reader.Position(), 3u);
}

TEST(EriRecordReader, SkipsUnknownRecordsAndCutsOverlongOnes) {
    std::vector<std::uint8_t> f = Preamble();
    Record(f, "junk    ", 3);
    f.insert(f.end(), {7, 7, 7});
    const std::vector<std::uint8_t> info = InfoBytes();
    Record(f, "Header  ", 16 + 2 + 16 + 20 + 16 + 5 + 16 + 68);
    Record(f, "other   ", 2);
    f.insert(f.end(), {0, 0});
    Record(f, "FileHdr ", 20);
    f.resize(f.size() + 20, 0);
    Record(f, "zzzzzzzz", 5);
    f.insert(f.end(), {1, 2, 3, 4, 5});
    Record(f, "ImageInf", 68);
    f.insert(f.end(), info.begin(), info.end());
    Record(f, "Stream  ", 0xFFFFFFFFu, 0xFFFFFFFFu); // open length
    Record(f, "Palette ", 8);
    f.insert(f.end(), {10, 20, 30, 0, 40, 50, 60, 0});
    Record(f, "unknown ", 0);
    Record(f, "ImageFrm", 1000); // runs past the file: cut at its end
    f.insert(f.end(), {5, 6});
    EriRecordReader reader;
    EriMemoryStream stream(nullptr, 0);
    ASSERT_TRUE(OpenAt(f, 3, reader, stream));
    EXPECT_EQ(reader.Flags(), kEriHasFileHeader | kEriHasImageInfo | kEriHasPalette);
    EXPECT_EQ(reader.Length(), 2u);
    // A short palette leaves the rest of the table zero.
    EXPECT_EQ(reader.ColourTable()[4], 40);
    for (int i = 8; i < 1024; ++i)
        ASSERT_EQ(reader.ColourTable()[i], 0) << i;
}

TEST(EriRecordReader, LongPaletteContributesItsFirst1024Bytes) {
    std::vector<std::uint8_t> f = Preamble();
    const std::vector<std::uint8_t> info = InfoBytes();
    Record(f, "Header  ", 16 + 20 + 16 + 68);
    Record(f, "FileHdr ", 20);
    f.resize(f.size() + 20, 0);
    Record(f, "ImageInf", 68);
    f.insert(f.end(), info.begin(), info.end());
    Record(f, "Stream  ", 16 + 1100 + 16 + 1);
    Record(f, "Palette ", 1100);
    for (int i = 0; i < 1100; ++i)
        f.push_back(std::uint8_t(i % 251 + 1));
    Record(f, "ImageFrm", 1);
    f.push_back(0x42);
    EriRecordReader reader;
    EriMemoryStream stream(nullptr, 0);
    ASSERT_TRUE(OpenAt(f, 3, reader, stream));
    EXPECT_EQ(reader.ColourTable()[1023], 1023 % 251 + 1);
    std::uint8_t b = 0;
    ASSERT_EQ(reader.Read(&b, 1), 1u);
    EXPECT_EQ(b, 0x42); // the record after the long palette was found
}

TEST(EriRecordReader, InformationFlagsNeedWholeRecords) {
    std::vector<std::uint8_t> f = Preamble();
    Record(f, "Header  ", 16 + 20 + 16 + 40 + 16 + 10);
    Record(f, "FileHdr ", 20);
    f.resize(f.size() + 20, 0);
    Record(f, "SoundInf", 40);
    f.resize(f.size() + 40, 1);
    Record(f, "PrevwInf", 10); // short
    f.resize(f.size() + 10, 2);
    Record(f, "Stream  ", 16 + 1);
    Record(f, "ImageFrm", 1);
    f.push_back(1);
    EriRecordReader reader;
    EriMemoryStream stream(nullptr, 0);
    // Sound information alone lets the file open ...
    ASSERT_TRUE(OpenAt(f, 3, reader, stream));
    EXPECT_EQ(reader.Flags(), kEriHasFileHeader | kEriHasSoundInfo);
    // ... but its image information is all zero, so set-up refuses it.
    EriImageDecoder decoder;
    EXPECT_EQ(decoder.Setup(reader.ImageInfo()), 1);
    EriMemoryStream again(f.data(), f.size());
    PackedDibPtr dib;
    EXPECT_FALSE(LoadEriImage(again, dib));
}

TEST(EriRecordReader, TextsInUtf16AndNarrow) {
    std::vector<std::uint8_t> f = Preamble();
    const std::vector<std::uint8_t> info = InfoBytes();
    // "a", U+3042, U+1F600 as a surrogate pair.
    const std::vector<std::uint8_t> utf16 = {0xFF, 0xFE, 'a',  0,    0x42,
                                             0x30, 0x3D, 0xD8, 0x00, 0xDE};
    const std::vector<std::uint8_t> narrow = {0xFF, 'x'};
    Record(f, "Header  ",
           std::uint32_t(16 + 20 + 16 + 68 + 16 + utf16.size() + 16 + narrow.size()));
    Record(f, "FileHdr ", 20);
    f.resize(f.size() + 20, 0);
    Record(f, "ImageInf", 68);
    f.insert(f.end(), info.begin(), info.end());
    Record(f, "descript", std::uint32_t(utf16.size()));
    f.insert(f.end(), utf16.begin(), utf16.end());
    Record(f, "cpyright", std::uint32_t(narrow.size()));
    f.insert(f.end(), narrow.begin(), narrow.end());
    EriRecordReader reader;
    EriMemoryStream stream(nullptr, 0);
    ASSERT_TRUE(OpenAt(f, 1, reader, stream));
    EXPECT_EQ(reader.Description(), "a\xE3\x81\x82\xF0\x9F\x98\x80");
    EXPECT_EQ(reader.Copyright(), "\xFFx");
    EXPECT_EQ(reader.Flags() & (kEriHasCopyright | kEriHasDescription),
              kEriHasCopyright | kEriHasDescription);
    EXPECT_FALSE(reader.Open(stream, 2)); // no "Stream  "
    EXPECT_EQ(DecodeEriText(reinterpret_cast<const std::uint8_t*>("\xFF"), 1), "\xFF");
}

TEST(EriRecordReader, ARecordOfOpenLengthReachesItsParentsEnd) {
    std::vector<std::uint8_t> f = SimpleFile(0x00020100, {});
    // Rewrite the ImageFrm record as open length with content after it.
    f.resize(f.size() - 16);
    Record(f, "ImageFrm", 0xFFFFFFFFu, 0xFFFFFFFFu);
    f.insert(f.end(), {1, 2, 3, 4, 5});
    // Stream's own length (16) would cut it; make the stream open as well.
    const std::size_t streamAt = 64 + 16 + 16 + 20 + 16 + 68;
    std::memset(f.data() + streamAt + 8, 0xFF, 8);
    EriRecordReader reader;
    EriMemoryStream stream(nullptr, 0);
    ASSERT_TRUE(OpenAt(f, 3, reader, stream));
    EXPECT_EQ(reader.Length(), 5u);
}

TEST(EriRecordReader, MissingRecordsFail) {
    EriRecordReader reader;
    EriMemoryStream stream(nullptr, 0);
    std::vector<std::uint8_t> noHeader = Preamble();
    Record(noHeader, "Stream  ", 0);
    EXPECT_FALSE(OpenAt(noHeader, 1, reader, stream));
    std::vector<std::uint8_t> noFrame = SimpleFile(0x00020100, {});
    noFrame.resize(noFrame.size() - 16); // Stream  is left empty
    EXPECT_TRUE(OpenAt(noFrame, 2, reader, stream));
    EXPECT_FALSE(OpenAt(noFrame, 3, reader, stream));
}

TEST(EriLoader, ReadsFilesByPath) {
    TempDir dir;
    EriEncodeOptions o;
    EriTestPicture p{3,
                     2,
                     kEriFormatColour,
                     24,
                     {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18}};
    const std::string path = dir.file("pic.eri");
    WriteFileBytes(path, EncodeEriFile(p, o));
    PackedDibPtr dib;
    ASSERT_TRUE(LoadEriImage(path, dib));
    // Bottom-up: the first row of the block is the picture's last row.
    EXPECT_EQ(dib->pixels()[0], 10);
    EXPECT_EQ(dib->pixels()[12], 1);
    EXPECT_EQ(dib->pixels()[9], 0); // padding
    std::string reason;
    EXPECT_FALSE(LoadEriImage(dir.file("missing.eri"), dib, &reason));
    EXPECT_EQ(reason, std::string("cannot open: ") + std::strerror(ENOENT));
    EXPECT_FALSE(LoadEriImage(dir.path().string(), dib, &reason)); // a folder
    EXPECT_EQ(reason, "not a regular file");
}

TEST(EriLoader, AFifoIsRefusedWithoutWaitingForAWriter) {
    TempDir dir;
    const std::string path = dir.file("pipe.eri");
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    std::string reason;
    auto load = std::async(std::launch::async, [&] {
        PackedDibPtr dib;
        return LoadEriImage(path, dib, &reason);
    });
    if (load.wait_for(std::chrono::seconds(10)) == std::future_status::timeout) {
        // A writer releases the blocked open, so that the test still ends.
        const int writer = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0) ::close(writer);
        load.wait();
        FAIL() << "opening a FIFO waited for a writer";
    }
    EXPECT_FALSE(load.get());
    EXPECT_EQ(reason, "not a regular file");
}

namespace {

std::string LoadReason(const std::vector<std::uint8_t>& bytes, PackedDibPtr& dib) {
    EriMemoryStream stream(bytes.data(), bytes.size());
    std::string reason = "unset";
    EXPECT_FALSE(LoadEriImage(stream, dib, &reason));
    return reason;
}

std::string LoadReason(const std::vector<std::uint8_t>& bytes) {
    PackedDibPtr dib;
    return LoadReason(bytes, dib);
}

class PictureLimit {
public:
    explicit PictureLimit(std::uint64_t pixels) : saved_(MaxPicturePixels()) {
        SetMaxPicturePixels(pixels);
    }
    ~PictureLimit() { SetMaxPicturePixels(saved_); }

private:
    std::uint64_t saved_;
};

} // namespace

TEST(EriLoader, EachFailureNamesItsCause) {
    EriEncodeOptions o;
    EriTestPicture p{4, 5, kEriFormatGrey, 8, std::vector<std::uint8_t>(20, 9)};
    const EriImageInfo info = MakeImageInfo(p, o);
    const std::vector<std::uint8_t> frame = EncodeEriFrame(p, o);
    const std::vector<std::uint8_t> good = MakeEriFile(info, frame);

    const std::string text = "P5\n4 5\n255\n";
    EXPECT_EQ(LoadReason({text.begin(), text.end()}), "not an ERI file");
    // Cut inside the preamble, the file header and the image information.
    for (std::size_t size : {40, 100, 150})
        EXPECT_EQ(LoadReason({good.begin(), good.begin() + size}), "truncated ERI header") << size;
    EriImageInfo coder = info;
    coder.symbolCoder = 2;
    EXPECT_EQ(LoadReason(MakeEriFile(coder, frame)),
              "ERI header: unsupported format (symbol coder 2)");
    EriImageInfo empty = info;
    empty.width = 0;
    EXPECT_EQ(LoadReason(MakeEriFile(empty, frame)), "ERI header: invalid size 0 x 5");
    std::vector<std::uint8_t> badKind = frame;
    badKind[0] = 3; // no such frame kind
    EXPECT_EQ(LoadReason(MakeEriFile(info, badKind)), "damaged ERI image data");

    EriMemoryStream stream(good.data(), good.size());
    PackedDibPtr dib;
    std::string reason = "stale";
    EXPECT_TRUE(LoadEriImage(stream, dib, &reason));
    EXPECT_EQ(reason, "");
}

TEST(EriLoader, TheDeclaredSizeMeetsThePictureLimitBeforeAnyAllocation) {
    // 40000 x 40000 declared by a file of a few hundred bytes.
    EriEncodeOptions o;
    EriTestPicture p{20, 10, kEriFormatGrey, 8, std::vector<std::uint8_t>(200, 7)};
    EriImageInfo huge = MakeImageInfo(p, o);
    huge.width = huge.height = 40000;
    const std::vector<std::uint8_t> frame = EncodeEriFrame(p, o);
    PackedDibPtr dib;
    const std::string limit = PictureSizeProblem(40000, 40000);
    ASSERT_NE(limit, "");
    EXPECT_EQ(LoadReason(MakeEriFile(huge, frame), dib), limit);
    EXPECT_EQ(dib, nullptr);

    // A lowered limit refuses a picture the decoder itself would take.
    PictureLimit lowered(199);
    EXPECT_EQ(LoadReason(MakeEriFile(MakeImageInfo(p, o), frame), dib), PictureSizeProblem(20, 10));
    EXPECT_EQ(dib, nullptr);
}

TEST(EriImageDecoder, SetupAcceptsTheDescribedCombinations) {
    EriImageInfo base;
    base.coderVersion = kEriCoderVersion2;
    base.transformation = kEriTransformLossless;
    base.symbolCoder = kEriCoderGamma;
    base.pixelFormat = kEriFormatColour;
    base.width = 10;
    base.height = -10;
    base.bitsPerPixel = 24;
    base.blockDegree = 3;
    EXPECT_EQ(CheckEriImageInfo(base), EriInfoCheck::Ok);
    EriImageDecoder decoder;
    EXPECT_EQ(decoder.Setup(base), 0);
    EXPECT_EQ(decoder.Channels(), 3);
    EXPECT_EQ(decoder.LosslessKind(), 1);

    auto with = [&](auto change) {
        EriImageInfo info = base;
        change(info);
        return info;
    };
    EXPECT_EQ(CheckEriImageInfo(with([](auto& i) { i.symbolCoder = 2; })),
              EriInfoCheck::BadSymbolCoder);
    EXPECT_EQ(CheckEriImageInfo(with([](auto& i) { i.coderVersion = 0x00020300; })),
              EriInfoCheck::BadCoderVersion);
    EXPECT_EQ(CheckEriImageInfo(with([](auto& i) { i.pixelFormat = 3; })),
              EriInfoCheck::BadPixelFormat);
    EXPECT_EQ(CheckEriImageInfo(with([](auto& i) { i.transformation = 2; })),
              EriInfoCheck::UnknownTransformation);
    EXPECT_EQ(CheckEriImageInfo(with([](auto& i) { i.width = 0; })), EriInfoCheck::BadSize);
    EXPECT_EQ(CheckEriImageInfo(with([](auto& i) { i.height = 0; })), EriInfoCheck::BadSize);
    EXPECT_EQ(CheckEriImageInfo(with([](auto& i) { i.width = (1 << 20) + 1; })),
              EriInfoCheck::BadSize);
    EXPECT_EQ(CheckEriImageInfo(with([](auto& i) { i.height = INT32_MIN; })),
              EriInfoCheck::BadSize);
    EXPECT_EQ(CheckEriImageInfo(with([](auto& i) {
                  i.width = 1 << 20;
                  i.height = 257;
              })),
              EriInfoCheck::BadSize);
    EXPECT_EQ(CheckEriImageInfo(with([](auto& i) {
                  i.width = 1 << 20;
                  i.height = 256;
              })),
              EriInfoCheck::Ok);
    EXPECT_EQ(CheckEriImageInfo(with([](auto& i) { i.bitsPerPixel = 12; })),
              EriInfoCheck::BadBitsPerPixel);

    EXPECT_EQ(decoder.Setup(with([](auto& i) { i.coderVersion = kEriCoderVersion1; })), 0);
    EXPECT_EQ(decoder.LosslessKind(), 0);
    EXPECT_EQ(decoder.Setup(with([](auto& i) { i.symbolCoder = kEriCoderHuffman; })), 0);
    EXPECT_EQ(decoder.LosslessKind(), 2);
    EXPECT_EQ(decoder.Setup(with([](auto& i) {
        i.pixelFormat = kEriFormatColourAlpha;
        i.bitsPerPixel = 32;
    })),
              0);
    EXPECT_EQ(decoder.Channels(), 4);
    EXPECT_EQ(decoder.Setup(with([](auto& i) { i.bitsPerPixel = 8; })), 0);
    EXPECT_EQ(decoder.Channels(), 1);

    // Lossy: set-up accepts the documented combinations.
    EriImageInfo lossy = with([](auto& i) {
        i.transformation = kEriTransformLossy;
        i.chromaSampling = kEriChroma422;
        i.blockDegree = 4;
    });
    EXPECT_EQ(CheckEriImageInfo(lossy), EriInfoCheck::Ok);
    EXPECT_EQ(decoder.Setup(lossy), 0);
    lossy.symbolCoder = kEriCoderArithmetic;
    EXPECT_EQ(CheckEriImageInfo(lossy), EriInfoCheck::BadSymbolCoder);
    lossy.symbolCoder = kEriCoderHuffman;
    lossy.blockDegree = 6;
    EXPECT_EQ(CheckEriImageInfo(lossy), EriInfoCheck::BadBlockDegree);
    lossy.blockDegree = 3;
    lossy.chromaSampling = 0x00040303;
    EXPECT_EQ(CheckEriImageInfo(lossy), EriInfoCheck::BadChromaSampling);
    lossy.chromaSampling = kEriChroma444;
    lossy.bitsPerPixel = 16;
    EXPECT_EQ(CheckEriImageInfo(lossy), EriInfoCheck::BadBitsPerPixel);
    lossy.bitsPerPixel = 24;
    lossy.pixelFormat = kEriFormatGrey;
    EXPECT_EQ(CheckEriImageInfo(lossy), EriInfoCheck::BadPixelFormat);
}

namespace {

// Ends the decode at the second block of the first block row.
class StoppingDecoder : public EriImageDecoder {
public:
    int BlockHook(int row, int column) override {
        ++calls;
        return row == 0 && column == 1 ? 7 : 0;
    }
    int calls = 0;
};

} // namespace

TEST(EriImageDecoder, ANonZeroBlockHookEndsTheDecode) {
    EriEncodeOptions o;
    EriTestPicture p{20, 10, kEriFormatColour, 24, std::vector<std::uint8_t>(600, 50)};
    const std::vector<std::uint8_t> frame = EncodeEriFrame(p, o);
    EriMemoryStream stream(frame.data(), frame.size());
    EriBitReader bits(stream);
    StoppingDecoder decoder;
    ASSERT_EQ(decoder.Setup(MakeImageInfo(p, o)), 0);
    std::vector<std::uint8_t> pixels(60 * 10);
    EriDecodeTarget target{kEriFormatColour, pixels.data(), 20, 10, 24, 60};
    EXPECT_EQ(decoder.Decode(target, bits, false), 7);
    EXPECT_EQ(decoder.calls, 2);
    // A target that does not match the set-up is refused.
    target.width = 21;
    EXPECT_EQ(decoder.Decode(target, bits, false), 1);
}

TEST(EriImageDecoder, FlipStoresTheFirstStreamRowLast) {
    EriEncodeOptions o;
    o.frameKind = 2;
    EriTestPicture p{4, 3, kEriFormatGrey, 8, {1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3}};
    const std::vector<std::uint8_t> frame = EncodeEriFrame(p, o);
    EriMemoryStream stream(frame.data(), frame.size());
    EriBitReader bits(stream);
    EriImageDecoder decoder;
    ASSERT_EQ(decoder.Setup(MakeImageInfo(p, o)), 0);
    std::vector<std::uint8_t> pixels(12);
    EriDecodeTarget target{kEriFormatGrey, pixels.data(), 4, 3, 8, 4};
    ASSERT_EQ(decoder.Decode(target, bits, true), 0);
    // Stream rows run bottom first (3, 2, 1); flipped, buffer rows are top first.
    EXPECT_EQ(pixels[0], 1);
    EXPECT_EQ(pixels[11], 3);
}

TEST(EriImageDecoder, PlaneScanOrdersForSideFour) {
    // Worked out from the walk over anti-diagonals d and positions n.
    const std::uint32_t order1[16] = {0, 1, 2, 3, 8, 9, 10, 11, 4, 5, 6, 7, 12, 13, 14, 15};
    const std::uint32_t order2[16] = {0, 4, 8, 12, 2, 6, 10, 14, 1, 5, 9, 13, 3, 7, 11, 15};
    const std::uint32_t order3[16] = {0, 2, 5, 8, 7, 10, 13, 15, 1, 4, 3, 6, 9, 12, 11, 14};
    const std::uint32_t order4[16] = {12, 4, 9, 14, 1, 6, 11, 3, 8, 13, 0, 5, 10, 15, 2, 7};
    const std::uint32_t* expected[4] = {order1, order2, order3, order4};
    for (int order = 1; order <= 4; ++order) {
        std::uint32_t table[16];
        BuildEriPlaneScan(order, 4, table);
        for (int l = 0; l < 16; ++l)
            EXPECT_EQ(table[l], expected[order - 1][l]) << order << " " << l;
    }
}

TEST(EriImageDecoder, HandMadeGreyBlockFrame) {
    // A 3 x 2 grey picture in one 4 x 4 block (degree 2), gamma codes:
    // frame kind 1, bytes 0 1 0 (codes first; no codes for one channel),
    // check bit 0, gamma reset 1 (non-zero run), run of 1 value +5, then a
    // zero run of 15. Integration: the first row becomes 5 5 5 5, and the
    // running sum downwards copies it into every row.
    EriBitWriter w;
    w.writeBits(1, 8);
    w.writeBits(0, 8);
    w.writeBits(1, 8);
    w.writeBits(0, 8);
    w.writeBit(0);
    w.writeBit(1);
    w.writeGamma(1);
    w.writeBit(0);
    w.writeGamma(5);
    w.writeGamma(15);
    const std::vector<std::uint8_t> frame = w.bytes();
    EriImageInfo info;
    info.coderVersion = kEriCoderVersion2;
    info.transformation = kEriTransformLossless;
    info.symbolCoder = kEriCoderGamma;
    info.pixelFormat = kEriFormatGrey;
    info.width = 3;
    info.height = 2;
    info.bitsPerPixel = 8;
    info.blockDegree = 2;
    const std::vector<std::uint8_t> file = MakeEriFile(info, frame);
    EriMemoryStream stream(file.data(), file.size());
    PackedDibPtr dib;
    ASSERT_TRUE(LoadEriImage(stream, dib));
    const std::uint8_t expected[8] = {5, 5, 5, 0, 5, 5, 5, 0};
    EXPECT_EQ(0, std::memcmp(dib->pixels(), expected, 8));
    EXPECT_EQ(dib->colourTable()[4 * 200 + 1], 200);
}
