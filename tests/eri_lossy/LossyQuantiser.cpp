#include "LossyQuantiser.h"

#include "ReferenceDct.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace pelo::test {
namespace {

// Zigzag by sorting: diagonal first, then x rising on even diagonals and
// falling on odd ones.
std::vector<int> Zigzag(int side) {
    std::vector<int> order(side * side);
    std::iota(order.begin(), order.end(), 0);
    const auto key = [side](int p) {
        const int x = p % side, y = p / side, d = x + y;
        return std::pair<int, int>(d, d % 2 ? -x : x);
    };
    std::sort(order.begin(), order.end(), [&](int a, int b) { return key(a) < key(b); });
    return order;
}

std::int32_t Quantise(double value, double step, int limit, std::size_t* clamped = nullptr) {
    const double q = std::nearbyint(value / step);
    if (clamped && std::fabs(q) > limit) ++*clamped;
    return static_cast<std::int32_t>(std::clamp(q, -double(limit), double(limit)));
}

} // namespace

double LossyStep(std::uint8_t stepByte, int side) {
    return 256.0 / (stepByte + 1) * 2.0 / side;
}

void BgrToLuma(double b, double g, double r, double& y, double& u, double& v) {
    y = (7.0 * b + 14.0 * g + 3.0 * r) / 24.0;
    u = (r - y) / 1.75;
    v = (b - y) / 1.5;
}

LossyFrame QuantiseLossy(const LossyPicture& picture, const LossyOptions& options, int acLimit) {
    const int s = 1 << options.degree;
    const int a = s * s;
    const int half = s / 2;
    const int chroma = options.chromaSampling == 0x00040404   ? 4
                       : options.chromaSampling == 0x00040202 ? 2
                                                              : 1;
    LossyFrame frame;
    frame.side = s;
    frame.blocks = 4 + 2 * chroma + (options.alpha ? 4 : 0);
    frame.columns = (picture.width + 2 * s - 1) / (2 * s);
    frame.rows = (picture.height + 2 * s - 1) / (2 * s);
    const std::vector<int> zigzag = Zigzag(s);
    const int lowEnd = (s - 1) * s / 2;

    // Planes of one macro-block (2s x 2s, stream rows), edge pixels repeated.
    const int m = 2 * s;
    std::vector<double> planes[4];
    for (auto& p : planes)
        p.assign(m * m, 0.0);
    const auto sample = [&](int x, int streamRow, int c) {
        x = std::min(x, picture.width - 1);
        streamRow = std::min(streamRow, picture.height - 1);
        const int row = options.topDown ? streamRow : picture.height - 1 - streamRow;
        return double(picture.bgra[(static_cast<std::size_t>(row) * picture.width + x) * 4 + c]);
    };

    std::vector<std::int64_t> predictors(frame.blocks);
    for (int my = 0; my < frame.rows; ++my) {
        std::fill(predictors.begin(), predictors.end(), 0);
        for (int mx = 0; mx < frame.columns; ++mx) {
            const int mb = my * frame.columns + mx;
            for (int y = 0; y < m; ++y) {
                for (int x = 0; x < m; ++x) {
                    const int px = mx * m + x, py = my * m + y;
                    BgrToLuma(sample(px, py, 0), sample(px, py, 1), sample(px, py, 2),
                              planes[0][y * m + x], planes[1][y * m + x], planes[2][y * m + x]);
                    planes[3][y * m + x] = sample(px, py, 3);
                }
            }
            // Quarter q of a plane as an s x s block.
            const auto quarter = [&](const std::vector<double>& p, int q) {
                std::vector<double> block(a);
                for (int y = 0; y < s; ++y)
                    for (int x = 0; x < s; ++x)
                        block[y * s + x] = p[((q / 2) * s + y) * m + (q % 2) * s + x];
                return block;
            };
            std::vector<std::vector<double>> blocks;
            for (int q = 0; q < 4; ++q)
                blocks.push_back(quarter(planes[0], q));
            for (int c = 1; c <= 2; ++c) {
                if (chroma == 4) {
                    for (int q = 0; q < 4; ++q)
                        blocks.push_back(quarter(planes[c], q));
                } else if (chroma == 2) {
                    // Block k: upper half rows from quarter 2k, lower half from
                    // quarter 2k + 1, each row the mean of two pixel rows.
                    for (int k = 0; k < 2; ++k) {
                        std::vector<double> block(a);
                        for (int part = 0; part < 2; ++part) {
                            const std::vector<double> qb = quarter(planes[c], 2 * k + part);
                            for (int r = 0; r < half; ++r)
                                for (int x = 0; x < s; ++x)
                                    block[(part * half + r) * s + x] =
                                        (qb[2 * r * s + x] + qb[(2 * r + 1) * s + x]) / 2;
                        }
                        blocks.push_back(block);
                    }
                } else {
                    // One block: quarter q fills one s/2 x s/2 corner with 2 x 2 means.
                    std::vector<double> block(a);
                    for (int q = 0; q < 4; ++q) {
                        const std::vector<double> qb = quarter(planes[c], q);
                        for (int r = 0; r < half; ++r)
                            for (int x = 0; x < half; ++x)
                                block[((q / 2) * half + r) * s + (q % 2) * half + x] =
                                    (qb[2 * r * s + 2 * x] + qb[2 * r * s + 2 * x + 1] +
                                     qb[(2 * r + 1) * s + 2 * x] +
                                     qb[(2 * r + 1) * s + 2 * x + 1]) /
                                    4;
                    }
                    blocks.push_back(block);
                }
            }
            if (options.alpha)
                for (int q = 0; q < 4; ++q)
                    blocks.push_back(quarter(planes[3], q));

            const std::array<std::uint8_t, 4> p =
                options.parameters ? options.parameters(mb)
                                   : std::array<std::uint8_t, 4>{255, 255, 255, 255};
            frame.parameters.push_back(p);
            const std::size_t acBase = frame.ac.size();
            frame.ac.resize(acBase + frame.acPerMacroBlock());
            for (int b = 0; b < frame.blocks; ++b) {
                const bool isChroma = b >= 4 && b < 4 + 2 * chroma;
                const std::vector<double> x = ForwardDct(blocks[b], s);
                const double dcStep =
                    LossyStep(isChroma ? options.chromaDcStep : options.lumaDcStep, s);
                const std::int64_t dc = Quantise(x[0], dcStep, 1 << 30);
                frame.dcDifferences.push_back(static_cast<std::int32_t>(dc - predictors[b]));
                predictors[b] = dc;
                for (int i = 1; i < a; ++i) {
                    const std::uint8_t stepByte =
                        i < lowEnd ? p[isChroma ? 1 : 0] : p[isChroma ? 3 : 2];
                    frame.ac[acBase + static_cast<std::size_t>(i - 1) * frame.blocks + b] =
                        Quantise(x[zigzag[i]], LossyStep(stepByte, s), acLimit, &frame.clamped);
                }
            }
        }
    }
    return frame;
}

} // namespace pelo::test
