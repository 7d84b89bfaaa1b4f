// Straightforward double-precision cosine transforms of an s x s block, the
// yardstick for the fast decoder transform and the forward half of the test
// encoder.
#pragma once

#include <vector>

namespace pelo::test {

// out[y][x] = sum over v, u of X[v][u] cos((2y + 1) v pi / 2s) cos((2x + 1) u pi / 2s),
// every term weight 1 (type III, not normalised). Row-major, side * side values.
std::vector<double> DirectInverseDct(const std::vector<double>& coefficients, int side);

// The exact inverse of DirectInverseDct: X[v][u] = a(v) a(u) sum over y, x of
// out[y][x] cos(...) cos(...), with a(0) = 1 / s and a(k) = 2 / s otherwise.
std::vector<double> ForwardDct(const std::vector<double>& samples, int side);

} // namespace pelo::test
