#include "ReferenceDct.h"

#include <cmath>
#include <numbers>

namespace pelo::test {
namespace {

// basis[k * side + n] = cos((2n + 1) k pi / (2 side))
std::vector<double> Basis(int side) {
    std::vector<double> basis(static_cast<std::size_t>(side) * side);
    for (int k = 0; k < side; ++k)
        for (int n = 0; n < side; ++n)
            basis[k * side + n] = std::cos((2 * n + 1) * k * std::numbers::pi / (2.0 * side));
    return basis;
}

} // namespace

std::vector<double> DirectInverseDct(const std::vector<double>& coefficients, int side) {
    const std::vector<double> c = Basis(side);
    std::vector<double> out(coefficients.size(), 0.0);
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            double sum = 0;
            for (int v = 0; v < side; ++v)
                for (int u = 0; u < side; ++u)
                    sum += coefficients[v * side + u] * c[v * side + y] * c[u * side + x];
            out[y * side + x] = sum;
        }
    }
    return out;
}

std::vector<double> ForwardDct(const std::vector<double>& samples, int side) {
    // Separable, so that the encoder stays quick on whole pictures.
    const std::vector<double> c = Basis(side);
    const auto weight = [side](int k) { return (k == 0 ? 1.0 : 2.0) / side; };
    std::vector<double> rows(samples.size(), 0.0); // rows[y][u]
    for (int y = 0; y < side; ++y) {
        for (int u = 0; u < side; ++u) {
            double sum = 0;
            for (int x = 0; x < side; ++x)
                sum += samples[y * side + x] * c[u * side + x];
            rows[y * side + u] = weight(u) * sum;
        }
    }
    std::vector<double> out(samples.size(), 0.0);
    for (int v = 0; v < side; ++v) {
        for (int u = 0; u < side; ++u) {
            double sum = 0;
            for (int y = 0; y < side; ++y)
                sum += rows[y * side + u] * c[v * side + y];
            out[v * side + u] = weight(v) * sum;
        }
    }
    return out;
}

} // namespace pelo::test
