#include "LossyEncoder.h"

#include "EriBitWriter.h"
#include "EriFileWriter.h"

#include <span>

namespace pelo::test {

EriImageInfo MakeLossyImageInfo(int width, int height, const LossyOptions& options) {
    EriImageInfo info;
    info.coderVersion = kEriCoderVersion2;
    info.transformation = kEriTransformLossy;
    info.symbolCoder = options.symbolCoder;
    info.pixelFormat = options.alpha ? kEriFormatColourAlpha : kEriFormatColour;
    info.width = width;
    info.height = options.topDown ? -height : height;
    info.bitsPerPixel = options.bitsPerPixel;
    info.chromaSampling = options.chromaSampling;
    info.blockDegree = static_cast<std::uint32_t>(options.degree);
    return info;
}

std::vector<std::uint8_t> EncodeLossyFrame(const LossyFrame& frame, const LossyOptions& options) {
    using eritest::EriBitWriter;
    EriBitWriter out;
    const bool huffman = options.symbolCoder == kEriCoderHuffman;
    out.writeBits(9, 8);
    out.writeBits(0, 8);
    out.writeBits(options.parametersFirst ? 1 : 0, 8);
    out.writeBits(8, 8);
    out.writeBit(0);
    out.writeBits(options.lumaDcStep, 8);
    out.writeBits(options.chromaDcStep, 8);

    eritest::EriHuffmanWriterTree parameterTree;
    eritest::EriHuffmanSymbolWriter acWriter;
    if (huffman) acWriter.reset(frame.ac);
    const std::size_t perBlock = frame.acPerMacroBlock();
    const auto acOf = [&](int mb) {
        return std::span<const std::int32_t>(frame.ac).subspan(mb * perBlock, perBlock);
    };
    const auto writeParameters = [&](int mb) {
        for (std::uint8_t p : frame.parameters[mb])
            parameterTree.write(out, p);
    };

    if (options.parametersFirst) {
        eritest::WriteGammaRuns(out, frame.dcDifferences);
        for (int mb = 0; mb < frame.macroBlocks(); ++mb)
            writeParameters(mb);
        // One run-length segment (or one Huffman sequence) for all AC values.
        if (huffman) {
            for (int mb = 0; mb < frame.macroBlocks(); ++mb)
                acWriter.write(out, perBlock);
        } else {
            eritest::WriteGammaRuns(out, frame.ac);
        }
    } else {
        for (int mb = 0; mb < frame.macroBlocks(); ++mb) {
            eritest::WriteGammaRuns(out, std::span<const std::int32_t>(frame.dcDifferences)
                                             .subspan(mb * frame.blocks, frame.blocks));
            writeParameters(mb);
            if (huffman) {
                acWriter.write(out, perBlock);
            } else {
                eritest::WriteGammaRuns(out, acOf(mb));
            }
        }
    }
    return out.bytes(true);
}

std::vector<std::uint8_t> EncodeLossyFile(const LossyPicture& picture, const LossyOptions& options,
                                          LossyFrame* frameOut) {
    const int limit = options.symbolCoder == kEriCoderHuffman ? 127 : 1 << 20;
    const LossyFrame frame = QuantiseLossy(picture, options, limit);
    if (frameOut) *frameOut = frame;
    return eritest::MakeEriFile(MakeLossyImageInfo(picture.width, picture.height, options),
                                EncodeLossyFrame(frame, options));
}

} // namespace pelo::test
