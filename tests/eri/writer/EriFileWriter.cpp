#include "EriFileWriter.h"

#include "EriBitWriter.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace pelo::eritest {

namespace {

void PutLe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

int Channels(const EriTestPicture& p) {
    if ((p.pixelFormat & kEriFormatMask) == kEriFormatGrey) return 1;
    if (p.bitsPerPixel <= 8) return 1;
    return (p.pixelFormat & kEriAlphaFlag) ? 4 : 3;
}

// Channel k of the picture pixel at (x, row), rows top first.
std::int32_t Sample(const EriTestPicture& p, int x, int row, int k) {
    const int bytes = p.bitsPerPixel / 8;
    const std::uint8_t* px = p.pixels.data() + (std::size_t(row) * p.width + x) * bytes;
    if (p.bitsPerPixel == 16) {
        const unsigned word = px[0] | (unsigned(px[1]) << 8);
        return static_cast<std::int32_t>((word >> (5 * k)) & 31);
    }
    return px[k];
}

std::int32_t WrapByte(std::int32_t v) {
    return static_cast<std::int8_t>(static_cast<std::uint8_t>(v & 0xFF));
}

// (target, source) pairs of the colour operations: plane target += plane source.
std::vector<std::pair<int, int>> ColourPairs(int operation) {
    switch (operation) {
    case 5:
        return {{1, 0}};
    case 6:
        return {{2, 0}};
    case 7:
        return {{1, 0}, {2, 0}};
    case 9:
        return {{0, 1}};
    case 10:
        return {{2, 1}};
    case 11:
        return {{0, 1}, {2, 1}};
    case 13:
        return {{0, 2}};
    case 14:
        return {{1, 2}};
    case 15:
        return {{0, 2}, {1, 2}};
    default:
        return {};
    }
}

// Position of the l-th symbol within one plane, scan orders 1..4 (kind 1).
std::vector<int> PlaneScan(int order, int s) {
    std::vector<int> t;
    if (order == 1) {
        for (int y = 0; y < s; y += 2)
            for (int x = 0; x < s; ++x)
                t.push_back(y * s + x);
        for (int y = 1; y < s; y += 2)
            for (int x = 0; x < s; ++x)
                t.push_back(y * s + x);
    } else if (order == 2) {
        for (int x = 0; x < s; x += 2)
            for (int y = 0; y < s; ++y)
                t.push_back(y * s + x);
        for (int x = 1; x < s; x += 2)
            for (int y = 0; y < s; ++y)
                t.push_back(y * s + x);
    } else {
        std::vector<int> ds;
        for (int d = 0; d <= 2 * s - 2; d += 2)
            ds.push_back(d);
        for (int d = 1; d <= 2 * s - 2; d += 2)
            ds.push_back(d);
        for (int d : ds)
            for (int n = std::min(d, s - 1); n >= 0 && d - n < s; --n) {
                const int x = order == 3 ? n : d - n;
                const int y = order == 3 ? d - n : s - 1 - n;
                t.push_back(y * s + x);
            }
    }
    return t;
}

// Position over all planes (index k * a + y * s + x), kind-2 tables 1..4.
std::vector<int> AllPlaneScan(int table, int s, int c) {
    const int a = s * s;
    std::vector<int> t;
    if (table == 1) {
        for (int i = 0; i < a * c; ++i)
            t.push_back(i);
    } else if (table == 2) {
        for (int k = 0; k < c; ++k)
            for (int x = 0; x < s; ++x)
                for (int y = 0; y < s; ++y)
                    t.push_back(k * a + y * s + x);
    } else if (table == 3) {
        for (int y = 0; y < s; ++y)
            for (int x = 0; x < s; ++x)
                for (int k = 0; k < c; ++k)
                    t.push_back(k * a + y * s + x);
    } else {
        for (int x = 0; x < s; ++x)
            for (int y = 0; y < s; ++y)
                for (int k = 0; k < c; ++k)
                    t.push_back(k * a + y * s + x);
    }
    return t;
}

constexpr int kKind1Operations[10] = {0, 5, 6, 7, 9, 10, 11, 13, 14, 15};

struct BlockPlan {
    std::vector<std::uint32_t> codes;
    std::vector<std::int32_t> symbols; // all blocks, a * c each
};

BlockPlan PlanBlocks(const EriTestPicture& p, const EriEncodeOptions& o) {
    const int kind = LosslessKind(o);
    const int c = Channels(p);
    const int s = 1 << o.blockDegree;
    const int a = s * s;
    const int across = (p.width + s - 1) / s;
    const int down = (p.height + s - 1) / s;
    std::vector<std::int32_t> column(std::size_t(across) * c * s, 0);
    std::vector<std::int32_t> rowAcc(std::size_t(c) * s, 0);
    BlockPlan plan;
    std::vector<std::int32_t> v(std::size_t(a) * c), h(v.size()), d(v.size());
    int index = 0;
    for (int by = 0; by < down; ++by) {
        std::fill(rowAcc.begin(), rowAcc.end(), 0);
        for (int bx = 0; bx < across; ++bx, ++index) {
            std::uint32_t code = 0;
            if (o.operationCode)
                code = o.operationCode(index);
            else
                code = kind == 0 ? index % 16 : kind == 1 ? index % 64 : (index * 37) % 256;
            if (c <= 2 && kind != 2) code = 0;
            int op = 0, scan = 0;
            bool alongRows = true;
            if (kind == 0) {
                op = int(code & 15);
            } else if (kind == 1) {
                if (code < 50) {
                    op = kKind1Operations[code % 10];
                    scan = int(code / 10);
                }
            } else {
                op = int(code & 15);
                scan = int((code >> 4) & 3) + 1;
                alongRows = (code & 0x40) != 0;
            }
            if (c <= 2) op = 0;
            plan.codes.push_back(code);
            // Picture values of the block, edge pixels repeated outside.
            for (int k = 0; k < c; ++k)
                for (int y = 0; y < s; ++y)
                    for (int x = 0; x < s; ++x) {
                        const int sx = std::min(bx * s + x, p.width - 1);
                        const int sr = std::min(by * s + y, p.height - 1);
                        const int row = o.negativeHeight ? sr : p.height - 1 - sr;
                        v[std::size_t(k) * a + y * s + x] = Sample(p, sx, row, k);
                    }
            // Undo the vertical then the horizontal running sums.
            for (int k = 0; k < c; ++k) {
                std::int32_t* line = &column[(std::size_t(bx) * c + k) * s];
                for (int y = 0; y < s; ++y)
                    for (int x = 0; x < s; ++x) {
                        const std::size_t i = std::size_t(k) * a + y * s + x;
                        h[i] = v[i] - (y == 0 ? line[x] : v[i - s]);
                    }
                for (int x = 0; x < s; ++x)
                    line[x] = v[std::size_t(k) * a + (s - 1) * s + x];
                for (int y = 0; y < s; ++y) {
                    std::int32_t& acc = rowAcc[std::size_t(k) * s + y];
                    for (int x = 0; x < s; ++x) {
                        const std::size_t i = std::size_t(k) * a + y * s + x;
                        d[i] = alongRows ? h[i] - (x == 0 ? acc : h[i - 1]) : h[i];
                    }
                    acc = h[std::size_t(k) * a + y * s + s - 1];
                }
            }
            std::vector<std::int32_t> r = d;
            for (auto [target, source] : ColourPairs(op))
                for (int i = 0; i < a; ++i)
                    r[std::size_t(target) * a + i] =
                        d[std::size_t(target) * a + i] - d[std::size_t(source) * a + i];
            for (auto& x : r)
                x = WrapByte(x);
            if (kind == 2) {
                const auto t = AllPlaneScan(scan, s, c);
                for (int i = 0; i < a * c; ++i)
                    plan.symbols.push_back(r[t[i]]);
            } else if (scan == 0) {
                plan.symbols.insert(plan.symbols.end(), r.begin(), r.end());
            } else {
                const auto t = PlaneScan(scan, s);
                for (int k = 0; k < c; ++k)
                    for (int l = 0; l < a; ++l)
                        plan.symbols.push_back(r[std::size_t(k) * a + t[l]]);
            }
        }
    }
    return plan;
}

std::vector<std::uint8_t> StreamRowBytes(const EriTestPicture& p, const EriEncodeOptions& o) {
    std::vector<std::uint8_t> out;
    for (int r = 0; r < p.height; ++r) {
        const int row = o.negativeHeight ? r : p.height - 1 - r;
        const std::uint8_t* src = p.pixels.data() + std::size_t(row) * p.width;
        out.insert(out.end(), src, src + p.width);
    }
    return out;
}

void EncodeRows(const EriTestPicture& p, const EriEncodeOptions& o, EriBitWriter& out) {
    out.writeBits(2, 8);
    out.writeBits(0, 24);
    const std::vector<std::uint8_t> bytes = StreamRowBytes(p, o);
    const int w = p.width;
    if (o.symbolCoder == kEriCoderArithmetic) {
        EriArithmeticWriter coder(8);
        for (std::uint8_t b : bytes)
            coder.encode(b);
        coder.finish(out);
    } else if (o.symbolCoder == kEriCoderGamma) {
        std::vector<std::vector<std::uint8_t>> tables(257, std::vector<std::uint8_t>(256));
        for (auto& t : tables)
            for (int i = 0; i < 256; ++i)
                t[i] = std::uint8_t(i);
        for (int r = 0; r < p.height; ++r) {
            const std::uint8_t* row = bytes.data() + std::size_t(r) * w;
            int table = 256;
            int previous = -1;
            for (int x = 0; x < w;) {
                const std::uint8_t b = row[x++];
                auto& t = tables[table];
                const auto at = std::find(t.begin(), t.end(), b);
                out.writeGamma(static_cast<std::uint32_t>(at - t.begin()) + 1);
                t.erase(at);
                t.insert(t.begin(), b);
                if (b == previous) {
                    int repeat = 0;
                    while (x + repeat < w && row[x + repeat] == b)
                        ++repeat;
                    out.writeGamma(static_cast<std::uint32_t>(repeat) + 1);
                    x += repeat;
                } else {
                    table = b;
                    previous = b;
                }
            }
        }
    } else {
        EriHuffmanSymbolWriter trees;
        trees.reset({});
        int tree = 0;
        for (int r = 0; r < p.height; ++r) {
            const std::uint8_t* row = bytes.data() + std::size_t(r) * w;
            int previous = -1;
            for (int x = 0; x < w;) {
                const std::uint8_t b = row[x++];
                trees.tree(tree).write(out, b);
                if (b == previous) {
                    int repeat = 0;
                    while (x + repeat < w && row[x + repeat] == b)
                        ++repeat;
                    trees.tree(256).write(out, static_cast<std::uint32_t>(repeat) + 1, true);
                    x += repeat;
                }
                previous = b;
                tree = b;
            }
        }
    }
}

} // namespace

std::vector<std::uint8_t> MakeEriPreamble(std::uint32_t fileKind) {
    std::vector<std::uint8_t> out = {0x45, 0x6E, 0x74, 0x69, 0x73, 0x1A, 0x00, 0x00};
    PutLe32(out, fileKind);
    out.resize(64, 0);
    return out;
}

std::vector<std::uint8_t> SerializeEriRecords(const std::vector<EriTestRecord>& records) {
    std::vector<std::uint8_t> out;
    for (const EriTestRecord& r : records) {
        std::vector<std::uint8_t> body = r.content;
        const std::vector<std::uint8_t> inner = SerializeEriRecords(r.children);
        body.insert(body.end(), inner.begin(), inner.end());
        std::string id = r.id;
        id.resize(8, ' ');
        out.insert(out.end(), id.begin(), id.end());
        if (r.openLength) {
            PutLe32(out, 0xFFFFFFFFu);
            PutLe32(out, 0xFFFFFFFFu);
        } else {
            PutLe32(out, r.overrideLength ? r.lengthLow : static_cast<std::uint32_t>(body.size()));
            PutLe32(out, 0);
        }
        out.insert(out.end(), body.begin(), body.end());
    }
    return out;
}

std::vector<std::uint8_t> FileHeaderContent(std::uint32_t version) {
    std::vector<std::uint8_t> out;
    PutLe32(out, version);
    for (int i = 0; i < 4; ++i)
        PutLe32(out, 0);
    return out;
}

std::vector<std::uint8_t> ImageInfoContent(const EriImageInfo& info) {
    std::vector<std::uint8_t> out(sizeof(EriImageInfo));
    info.ToBytes(out.data());
    return out;
}

int LosslessKind(const EriEncodeOptions& o) {
    if (o.coderVersion == kEriCoderVersion1) return 0;
    return o.symbolCoder == kEriCoderHuffman ? 2 : 1;
}

EriImageInfo MakeImageInfo(const EriTestPicture& p, const EriEncodeOptions& o) {
    EriImageInfo info;
    info.coderVersion = o.coderVersion;
    info.transformation = kEriTransformLossless;
    info.symbolCoder = o.symbolCoder;
    info.pixelFormat = p.pixelFormat;
    info.width = p.width;
    info.height = o.negativeHeight ? -p.height : p.height;
    info.bitsPerPixel = static_cast<std::uint32_t>(p.bitsPerPixel);
    info.blockDegree = o.blockDegree;
    return info;
}

std::vector<std::uint8_t> EncodeEriFrame(const EriTestPicture& p, const EriEncodeOptions& o) {
    EriBitWriter out;
    if (o.frameKind == 2) {
        EncodeRows(p, o, out);
        return out.bytes();
    }
    const int kind = LosslessKind(o);
    const int c = Channels(p);
    const int s = 1 << o.blockDegree;
    const std::size_t values = std::size_t(s) * s * c;
    const BlockPlan plan = PlanBlocks(p, o);
    const std::size_t blocks = plan.codes.size();
    out.writeBits(static_cast<std::uint32_t>(o.frameKind), 8);
    if (o.frameKind == 8) {
        out.writeBits(0, 8);
        out.writeBits(o.codesFirst ? 1 : 0, 8);
        out.writeBits(8, 8);
        EriHuffmanWriterTree codeTree;
        if (o.codesFirst)
            for (std::uint32_t code : plan.codes)
                codeTree.write(out, code & 0xFF);
        out.writeBit(0);
        EriHuffmanSymbolWriter symbols;
        symbols.reset(plan.symbols);
        for (std::size_t b = 0; b < blocks; ++b) {
            if (!o.codesFirst) codeTree.write(out, plan.codes[b] & 0xFF);
            symbols.write(out, values);
        }
        return out.bytes();
    }
    const bool arithmetic = o.symbolCoder == kEriCoderArithmetic;
    const bool codesFirst = arithmetic || o.codesFirst;
    out.writeBits(0, 8);
    out.writeBits(arithmetic ? std::uint32_t(o.arithmeticBits) : (codesFirst ? 1u : 0u), 8);
    out.writeBits(0, 8);
    const int codeBits = kind == 1 ? 6 : 4;
    if (codesFirst && c > 2)
        for (std::uint32_t code : plan.codes)
            out.writeBits(code, codeBits);
    out.writeBit(0);
    if (arithmetic) {
        EriArithmeticWriter coder(o.arithmeticBits);
        for (std::int32_t v : plan.symbols)
            coder.encode(v);
        coder.finish(out);
    } else if (codesFirst) {
        WriteGammaRuns(out, plan.symbols);
    } else {
        for (std::size_t b = 0; b < blocks; ++b) {
            if (c > 2) out.writeBits(plan.codes[b], codeBits);
            WriteGammaRuns(out,
                           std::span<const std::int32_t>(plan.symbols).subspan(b * values, values));
        }
    }
    return out.bytes();
}

std::vector<std::uint8_t> MakeEriFile(const EriImageInfo& info,
                                      const std::vector<std::uint8_t>& frame,
                                      const EriFileExtras& extras) {
    EriTestRecord header{"Header", {}, {}};
    header.children.push_back({"FileHdr", FileHeaderContent(), {}});
    header.children.push_back({"ImageInf", ImageInfoContent(info), {}});
    if (!extras.copyright.empty()) header.children.push_back({"cpyright", extras.copyright, {}});
    if (!extras.description.empty())
        header.children.push_back({"descript", extras.description, {}});
    EriTestRecord stream{"Stream", {}, {}};
    if (!extras.palette.empty()) stream.children.push_back({"Palette", extras.palette, {}});
    stream.children.push_back({"ImageFrm", frame, {}});
    std::vector<std::uint8_t> out = MakeEriPreamble();
    const std::vector<std::uint8_t> body = SerializeEriRecords({header, stream});
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

std::vector<std::uint8_t> EncodeEriFile(const EriTestPicture& p, const EriEncodeOptions& o,
                                        const EriFileExtras& extras) {
    return MakeEriFile(MakeImageInfo(p, o), EncodeEriFrame(p, o), extras);
}

} // namespace pelo::eritest
