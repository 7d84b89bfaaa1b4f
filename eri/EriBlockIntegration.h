// Two-dimensional integration of one lossless block plane: an optional
// running sum along each row continuing the row's accumulator, then a
// running sum downwards starting from the last row of the block above.
// All sums are 32-bit and wrap.
#pragma once

#include <cstdint>

namespace pelo {

// a + b modulo 2^32.
inline std::int32_t WrappingAdd(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

// plane: side x side values, row pitch side. rowSums: side accumulators, on
// return each row's last horizontal sum (alongRows) or its last residual.
// lineAbove: side values of the row above the block, on return the block's
// last row.
void IntegrateEriPlane(std::int32_t* plane, int side, std::int32_t* rowSums,
                       std::int32_t* lineAbove, bool alongRows);

// The same, one value at a time; the reference for the vector version.
void IntegrateEriPlaneScalar(std::int32_t* plane, int side, std::int32_t* rowSums,
                             std::int32_t* lineAbove, bool alongRows);

} // namespace pelo
