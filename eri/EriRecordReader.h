// The ERI record container: a 64-byte preamble, then a tree of named,
// length-prefixed records. The reader collects the header records and then
// serves as a byte stream limited to the current record ("ImageFrm").
#pragma once

#include "eri/EriByteStream.h"
#include "eri/EriImageInfo.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pelo {

inline constexpr std::size_t kEriPreambleSize = 64;
inline constexpr std::uint8_t kEriMagic[8] = {0x45, 0x6E, 0x74, 0x69, 0x73, 0x1A, 0x00, 0x00};
inline constexpr std::uint32_t kEriFileKind = 0x03000100;
inline constexpr std::uint32_t kEriMaxFileVersion = 0x00020100;
inline constexpr std::size_t kEriRecordHeaderSize = 16;

// Flag word bits.
inline constexpr std::uint32_t kEriHasFileHeader = 1u << 0;
inline constexpr std::uint32_t kEriHasPreviewInfo = 1u << 1;
inline constexpr std::uint32_t kEriHasImageInfo = 1u << 2;
inline constexpr std::uint32_t kEriHasSoundInfo = 1u << 3;
inline constexpr std::uint32_t kEriHasCopyright = 1u << 4;
inline constexpr std::uint32_t kEriHasDescription = 1u << 5;
inline constexpr std::uint32_t kEriHasPalette = 1u << 6;

struct EriFileHeader {
    std::uint32_t version = 0;
    std::uint32_t fields[4] = {};
};
static_assert(sizeof(EriFileHeader) == 20);

// One open record. The root has an empty id.
struct EriRecordFrame {
    std::array<char, 8> id{};
    std::uint64_t declaredLength = 0;
    std::uint64_t start = 0; // absolute position of the content
    std::uint64_t end = 0;   // absolute end of the content
};

// Eight-byte ids, e.g. EriRecordId("Header  ").
using EriRecordId = std::array<char, 8>;
constexpr EriRecordId MakeEriRecordId(const char (&text)[9]) {
    return {text[0], text[1], text[2], text[3], text[4], text[5], text[6], text[7]};
}

class EriRecordReader final : public EriByteStream {
public:
    enum Depth { kPreamble = 0, kHeaders = 1, kStream = 2, kImageFrame = 3 };

    EriRecordReader() = default;
    ~EriRecordReader() override;
    EriRecordReader(const EriRecordReader&) = delete;
    EriRecordReader& operator=(const EriRecordReader&) = delete;

    // The stream is borrowed and must outlive the reader's use. On failure
    // Status() says why.
    bool Open(EriByteStream& stream, int depth);
    // The next record inside the current one; with an id, others are skipped.
    bool Descend(const EriRecordId* id = nullptr);
    bool Descend(const EriRecordId& id) { return Descend(&id); }
    // Seeks to the current record's end and makes its parent current.
    void Ascend();
    // Frees the record frames; the stream stays open.
    void Close();

    // Within the current record.
    std::size_t Read(void* buffer, std::size_t count) override;
    std::uint64_t Length() override;
    std::uint64_t Position() override;
    void Seek(std::uint64_t position) override;
    int Error() const override { return stream_ ? stream_->Error() : 0; }

    // Why the last open failed; Ok after one that succeeded.
    const EriLoadStatus& Status() const { return status_; }
    std::uint32_t Flags() const { return flags_; }
    const EriFileHeader& FileHeader() const { return fileHeader_; }
    const EriImageInfo& PreviewInfo() const { return previewInfo_; }
    const EriImageInfo& ImageInfo() const { return imageInfo_; }
    const std::uint8_t* SoundInfo() const { return soundInfo_; }
    const std::uint8_t* ColourTable() const { return colourTable_; }
    // UTF-8 (converted from UTF-16LE when the record starts with FF FE).
    const std::string& Copyright() const { return copyright_; }
    const std::string& Description() const { return description_; }
    // Innermost first frame is back(); empty before open.
    const std::vector<EriRecordFrame>& Frames() const { return frames_; }

private:
    bool ReadHeaderRecords();
    bool ReadText(std::string& text);
    // Records result (after a read error of the stream, which comes first).
    bool Fail(EriLoadResult result, std::string detail = {});

    EriByteStream* stream_ = nullptr;
    EriLoadStatus status_;
    std::vector<EriRecordFrame> frames_;
    std::uint32_t flags_ = 0;
    EriFileHeader fileHeader_{};
    EriImageInfo previewInfo_{};
    EriImageInfo imageInfo_{};
    std::uint8_t soundInfo_[40] = {};
    std::uint8_t colourTable_[1024] = {};
    std::string copyright_;
    std::string description_;
};

// Text of an ERI text record: UTF-16LE after FF FE, else narrow bytes as they are.
std::string DecodeEriText(const std::uint8_t* bytes, std::size_t size);

} // namespace pelo
