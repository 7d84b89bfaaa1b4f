// Inverse cosine transform of the lossy ERI blocks: two-dimensional type III,
// not normalised (every term weight 1, the DC term included; the scaling is
// in the dequantisation factors), single precision, sides 8, 16 and 32.
#pragma once

namespace pelo {

// Cosine tables, computed once on first use and never changed afterwards.
struct EriDctTables {
    static constexpr int kMaxSizeLog2 = 11;

    float cosQuarter = 0;    // cos(pi / 4)
    float twoCosQuarter = 0; // 2 cos(pi / 4)
    // cosines[k][m] = cos((2m + 1) pi / (4 * 2^k)), m < 2^k, k = 1 .. 11.
    float* cosines[kMaxSizeLog2 + 1] = {};
    // Four-point matrices: m4[i][j] = cos(j (2i + 1) pi / 8) with column 0
    // halved, f4[j][i] = cos((2i + 1) j pi / 8).
    float m4[4][4] = {};
    float f4[4][4] = {};
};

const EriDctTables& GetEriDctTables();

// Transforms the side x side coefficient matrix block[v * side + u] in place
// into the sample plane block[y * side + x]. side is 8, 16 or 32; any other
// side leaves the block unchanged and returns false.
bool EriInverseDct(float* block, int side);

// The same for four blocks at once, interleaved: value (v, u) of block b at
// blocks[(v * side + u) * 4 + b], and sample (y, x) at the same place
// afterwards. Each block gets exactly the arithmetic of EriInverseDct.
bool EriInverseDctFour(float* blocks, int side);

} // namespace pelo
