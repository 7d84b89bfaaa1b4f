// The front half of the test-only lossy ERI encoder: colour conversion,
// chroma subsampling, forward transform, quantisation, DC differences and
// the coefficient order of a frame. The bit stream is written elsewhere.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

namespace pelo::test {

// A picture as the tests hold it: top row first, blue, green, red, alpha.
struct LossyPicture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bgra;
};

struct LossyOptions {
    int degree = 3;
    std::uint32_t chromaSampling = 0x00040404;
    bool alpha = false;
    std::uint32_t bitsPerPixel = 24;
    bool topDown = false; // negative height: first stream row = top row
    bool parametersFirst = true;
    std::int32_t symbolCoder = -1;
    std::uint8_t lumaDcStep = 255;
    std::uint8_t chromaDcStep = 255;
    // Step bytes p0..p3 of macro-block index mb (row-major); all 255 when empty.
    std::function<std::array<std::uint8_t, 4>(int mb)> parameters;
};

// Everything the stream carries, in stream order.
struct LossyFrame {
    int side = 0;
    int blocks = 0;                                      // per macro-block
    int columns = 0;                                     // macro-blocks across
    int rows = 0;                                        // macro-blocks down
    std::vector<std::int32_t> dcDifferences;             // macro-block major, then block
    std::vector<std::array<std::uint8_t, 4>> parameters; // one per macro-block
    std::vector<std::int32_t> ac; // per macro-block (side^2 - 1) * blocks, zigzag index major
    std::size_t clamped = 0;      // AC values cut to the limit
    int macroBlocks() const { return columns * rows; }
    std::size_t acPerMacroBlock() const {
        return static_cast<std::size_t>(side * side - 1) * blocks;
    }
};

// Steps of the format: 256 / (p + 1) * 2 / s.
double LossyStep(std::uint8_t stepByte, int side);

// Quantises the picture; acLimit clamps the AC values (the Huffman coder
// carries signed bytes only).
LossyFrame QuantiseLossy(const LossyPicture& picture, const LossyOptions& options,
                         int acLimit = 1 << 20);

// The forward colour conversion, the inverse of B = Y + 1.5 V,
// G = Y - 0.375 U - 0.75 V, R = Y + 1.75 U.
void BgrToLuma(double b, double g, double r, double& y, double& u, double& v);

} // namespace pelo::test
