// The bit reader and the symbol coders on streams worked out by hand, and the
// adaptive models against the test writer's own implementation.
#include "eri/EriBitReader.h"

#include "EriBitWriter.h"
#include "eri/EriArithmeticCoder.h"
#include "eri/EriByteStream.h"
#include "eri/EriGammaCoder.h"
#include "eri/EriHuffmanCoder.h"
#include "eri/EriHuffmanTree.h"

#include <gtest/gtest.h>
#include <random>

using namespace pelo;
using namespace pelo::eritest;

namespace {

// Bytes from a string of '0' and '1' (other characters ignored).
std::vector<std::uint8_t> Bits(const std::string& text) {
    EriBitWriter w;
    for (char c : text)
        if (c == '0' || c == '1') w.writeBit(c == '1');
    return w.bytes();
}

struct Reader {
    explicit Reader(std::vector<std::uint8_t> b)
        : bytes(std::move(b)), stream(bytes.data(), bytes.size()), bits(stream), gamma(bits),
          arithmetic(bits), huffman(bits) {}
    std::vector<std::uint8_t> bytes;
    EriMemoryStream stream;
    EriBitReader bits;
    EriGammaCoder gamma;
    EriArithmeticCoder arithmetic;
    EriHuffmanCoder huffman;
};

} // namespace

TEST(EriBitReader, ReadsBigEndianWordsMostSignificantBitFirst) {
    Reader r({0x12, 0x34, 0x56, 0x78, 0x9A});
    EXPECT_EQ(r.bits.ReadBits(28), 0x1234567u);
    EXPECT_EQ(r.bits.ReadBits(8), 0x89u); // across the word boundary
    EXPECT_EQ(r.bits.ReadBit(), -1);      // 0xA = 1010
    EXPECT_EQ(r.bits.ReadBit(), 0);
    EXPECT_EQ(r.bits.ReadBits(2), 2u);
    // The short last word was padded with zero bytes: 24 zero bits, then the end.
    EXPECT_EQ(r.bits.ReadBits(24), 0u);
    EXPECT_FALSE(r.bits.AtEnd());
    EXPECT_EQ(r.bits.ReadBit(), 1);
    EXPECT_TRUE(r.bits.AtEnd());
    EXPECT_EQ(r.bits.ReadBits(5), 0u);
}

TEST(EriBitReader, RefillsFromTheStreamInPieces) {
    std::vector<std::uint8_t> bytes(70000);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = std::uint8_t(i * 7);
    Reader r(bytes);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        ASSERT_EQ(r.bits.ReadBits(8), bytes[i]) << i;
    EXPECT_FALSE(r.bits.AtEnd());
    r.bits.ReadBit();
    EXPECT_TRUE(r.bits.AtEnd());
}

TEST(EriBitReader, DiscardRestartsAtTheStreamPosition) {
    Reader r({0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x01});
    r.bits.ReadBits(3);
    r.stream.Seek(4);
    r.bits.Discard();
    EXPECT_EQ(r.bits.ReadBits(32), 1u);
}

TEST(EriGammaCoder, GammaCodes) {
    // 0 -> 1; 1 0 0 -> 2; 1 1 0 -> 3; 1 1 1 0 0 -> 4 + 2 + 0; 1 0 1 1 0 -> 4 + 0 + 1.
    Reader r(Bits("0 100 110 11100 10110"));
    std::uint32_t v = 0;
    for (std::uint32_t expected : {1u, 2u, 3u, 6u, 5u}) {
        ASSERT_TRUE(EriGammaCoder::ReadCode(r.bits, v));
        EXPECT_EQ(v, expected);
    }
    // Longer than the 8-bit window: 16 = 1 0 1 0 1 0 1 0 0; 23 = 1 0 1 1 1 1 1 1 0.
    Reader longer(Bits("101010100 101111110"));
    ASSERT_TRUE(EriGammaCoder::ReadCode(longer.bits, v));
    EXPECT_EQ(v, 16u);
    ASSERT_TRUE(EriGammaCoder::ReadCode(longer.bits, v));
    EXPECT_EQ(v, 23u);
    Reader end(Bits("1"));
    end.bits.ReadBits(32); // consume the padded word
    EXPECT_FALSE(EriGammaCoder::ReadCode(end.bits, v));
    // A code of more than 31 bits of value is refused, not wrapped.
    Reader huge(std::vector<std::uint8_t>(16, 0xFF));
    EXPECT_FALSE(EriGammaCoder::ReadCode(huge.bits, v));
}

TEST(EriGammaSymbols, RunsOfNonZeroAndZeroValues) {
    // Reset 1 (non-zero run), run 2, +3 (sign 0, gamma 3), -1 (sign 1, gamma
    // 1), then a zero run of 3.
    Reader r(Bits("1 100 0110 10 110"));
    r.gamma.Reset();
    std::int32_t out[5] = {9, 9, 9, 9, 9};
    ASSERT_EQ(r.gamma.DecodeSymbols(out, 5), 5u);
    EXPECT_EQ(out[0], 3);
    EXPECT_EQ(out[1], -1);
    EXPECT_EQ(out[2], 0);
    EXPECT_EQ(out[3], 0);
    EXPECT_EQ(out[4], 0);
}

TEST(EriGammaSymbols, AZeroRunEndingWithTheBlockMakesTheNextBlockNonZero) {
    // Reset 0, zero run 2 | next block: run length 1 (non-zero), +2.
    Reader r(Bits("0 100 0 0100"));
    r.gamma.Reset();
    std::int32_t out[2];
    ASSERT_EQ(r.gamma.DecodeSymbols(out, 2), 2u);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 0);
    ASSERT_EQ(r.gamma.DecodeSymbols(out, 1), 1u);
    EXPECT_EQ(out[0], 2);
}

TEST(EriGammaSymbols, ARunMayReachIntoTheNextBlock) {
    // Reset 0, zero run 3, then non-zero run 1 with -4 (1, gamma 4 = 10100).
    Reader r(Bits("0 110 0 1 10100"));
    r.gamma.Reset();
    std::int32_t out[2];
    ASSERT_EQ(r.gamma.DecodeSymbols(out, 2), 2u);
    ASSERT_EQ(r.gamma.DecodeSymbols(out, 2), 2u);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], -4);
}

TEST(EriGammaSymbols, EndOfDataGivesFewerValues) {
    // Non-zero run of 3: 1, 1, then a sign and a gamma code cut by the end
    // of the data (zero padding would decode, so the word is full).
    Reader r(Bits("1 110 00 00" + std::string(24, '1')));
    r.gamma.Reset();
    std::int32_t out[3];
    EXPECT_LT(r.gamma.DecodeSymbols(out, 3), 3u);
}

TEST(EriArithmeticModel, CountMovesAheadOfEqualOrLighterEntries) {
    EriArithmeticModel m;
    ASSERT_TRUE(m.Reset(2)); // symbols 0, 1, -2, -1
    EXPECT_EQ(m.Total(0), 4u);
    m.Count(0, 2); // -2 -> count 2, ahead of 0 and 1
    m.Count(0, 3); // -1 -> count 2, ahead of 1, 0 and -2 (equal)
    const EriArithmeticModel::Entry* e = m.Table(0);
    const std::int16_t order[4] = {-1, -2, 0, 1};
    const std::uint16_t counts[4] = {2, 2, 1, 1};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(e[i].symbol, order[i]) << i;
        EXPECT_EQ(e[i].count, counts[i]) << i;
    }
    EXPECT_EQ(m.Total(0), 6u);
    EXPECT_EQ(m.Table(1)[0].symbol, 0); // other contexts untouched
    EXPECT_FALSE(m.Reset(0));
    EXPECT_FALSE(m.Reset(11));
}

TEST(EriArithmeticModel, TotalPastFFFFHalvesCountsKeepingOnes) {
    EriArithmeticModel m;
    ASSERT_TRUE(m.Reset(1)); // symbols 0, -1, counts 1, 1, total 2
    for (int i = 0; i < 65533; ++i)
        m.Count(0, 0);
    EXPECT_EQ(m.Total(0), 65535u);
    EXPECT_EQ(m.Table(0)[0].count, 65534);
    m.Count(0, 0); // total 65536: counts (65535 + 1) / 2 and (1 + 1) / 2
    EXPECT_EQ(m.Table(0)[0].count, 32768);
    EXPECT_EQ(m.Table(0)[1].count, 1);
    EXPECT_EQ(m.Total(0), 32769u);
}

TEST(EriArithmeticSymbols, DecodingStopsWhenTheDataEndsTwice) {
    // About one bit per symbol: the 32 bits kept and the 128 zero bits
    // supplied at the first end last for no more than a few hundred symbols.
    std::mt19937 rng(3);
    EriArithmeticWriter writer(1);
    for (int i = 0; i < 5000; ++i)
        writer.encode(std::int32_t(rng() & 1) - 1);
    EriBitWriter out;
    writer.finish(out);
    std::vector<std::uint8_t> bytes = out.bytes();
    bytes.resize(4);
    Reader r(bytes);
    ASSERT_TRUE(r.arithmetic.Setup(1));
    std::vector<std::int32_t> got(5000);
    const std::size_t n = r.arithmetic.DecodeSymbols(got.data(), got.size());
    EXPECT_GT(n, 0u);
    EXPECT_LT(n, 400u);
}

TEST(EriArithmeticSymbols, AStuffedOneAfterAWindowOfOnesCarries) {
    // 32 one bits fill the look-ahead window; the stuffed 1 turns it into 0
    // with a carry into code, which the next 32 shifts push out: code 0 and
    // the first symbol decodes. With a stuffed 0 the ones reach code, the
    // quotient runs past the table and decoding stops.
    const std::string ones(32, '1');
    Reader carry(Bits(ones + "1" + std::string(40, '0')));
    ASSERT_TRUE(carry.arithmetic.Setup(1));
    std::int32_t v = 5;
    EXPECT_EQ(carry.arithmetic.DecodeSymbols(&v, 1), 1u);
    EXPECT_EQ(v, 0);
    Reader plain(Bits(ones + "0" + std::string(40, '0')));
    ASSERT_TRUE(plain.arithmetic.Setup(1));
    EXPECT_EQ(plain.arithmetic.DecodeSymbols(&v, 1), 0u);
}

TEST(EriArithmeticSymbols, MatchTheWriterForEverySymbolWidth) {
    std::mt19937 rng(11);
    for (int bits = 1; bits <= 10; ++bits) {
        SCOPED_TRACE(bits);
        const int n = 1 << bits;
        std::vector<std::int32_t> values(20000);
        std::geometric_distribution<int> skew(0.3);
        for (auto& v : values) {
            v = skew(rng) % n;
            if (rng() & 1) v = -v;
            if (v >= n / 2) v -= n;
            if (v < -n / 2) v += n;
        }
        EriArithmeticWriter writer(bits);
        for (std::int32_t v : values)
            writer.encode(v);
        EriBitWriter out;
        writer.finish(out);
        Reader r(out.bytes());
        ASSERT_TRUE(r.arithmetic.Setup(bits));
        std::vector<std::int32_t> got(values.size());
        ASSERT_EQ(r.arithmetic.DecodeSymbols(got.data(), got.size()), got.size());
        EXPECT_EQ(got, values);
    }
}

TEST(EriHuffmanTree, FirstSymbolsBuildTheTreeAsWorkedOut) {
    // 'A' raw (empty tree); escape (bit 1) then 'B' raw; 'A' by path 0 1.
    Reader r(Bits("01000001 1 01000010 01"));
    EriHuffmanTree t;
    EXPECT_TRUE(t.Empty());
    std::uint32_t s = 0;
    ASSERT_TRUE(t.Decode(r.bits, s));
    EXPECT_EQ(s, 0x41u);
    EXPECT_EQ(t.FreeMark(), 510);
    EXPECT_EQ(t.NodeAt(510).code, EriHuffmanTree::kLeafCode + 0x41);
    EXPECT_EQ(t.NodeAt(511).code, EriHuffmanTree::kEscapeCode);
    EXPECT_EQ(t.NodeAt(512).weight, 2);
    EXPECT_EQ(t.NodeAt(512).code, 510);

    ASSERT_TRUE(t.Decode(r.bits, s));
    EXPECT_EQ(s, 0x42u);
    // A moved up to 509 with its weight; 510 became the pair's internal node.
    EXPECT_EQ(t.FreeMark(), 508);
    EXPECT_EQ(t.NodeAt(508).code, EriHuffmanTree::kLeafCode + 0x42);
    EXPECT_EQ(t.NodeAt(509).code, EriHuffmanTree::kLeafCode + 0x41);
    EXPECT_EQ(t.NodeAt(508).parent, 510);
    EXPECT_EQ(t.NodeAt(509).parent, 510);
    EXPECT_EQ(t.NodeAt(510).code, 508);
    EXPECT_EQ(t.NodeAt(510).weight, 2);
    EXPECT_EQ(t.NodeAt(511).weight, 2);
    EXPECT_EQ(t.NodeAt(512).weight, 4);
    EXPECT_EQ(t.LeafPosition(0x41), 509);

    ASSERT_TRUE(t.Decode(r.bits, s));
    EXPECT_EQ(s, 0x41u);
    // The internal node (weight 3) swapped with the escape (weight 2).
    EXPECT_EQ(t.NodeAt(510).code, EriHuffmanTree::kEscapeCode);
    EXPECT_EQ(t.NodeAt(510).weight, 2);
    EXPECT_EQ(t.NodeAt(511).code, 508);
    EXPECT_EQ(t.NodeAt(511).weight, 3);
    EXPECT_EQ(t.NodeAt(508).parent, 511);
    EXPECT_EQ(t.NodeAt(509).weight, 2);
    EXPECT_EQ(t.NodeAt(512).weight, 5);
    EXPECT_EQ(t.EscapePosition(), 510);
}

TEST(EriHuffmanTree, RebuildHalvesWeightsWhenTheRootPasses3FFF) {
    // A, then A by bit 0 (it then outweighs the escape and swaps to 511),
    // then A by bit 1 until its weight is 16383 and the root 16384.
    std::string bits = "01000001 0" + std::string(16381, '1');
    Reader r(Bits(bits + "1"));
    EriHuffmanTree t;
    std::uint32_t s = 0;
    for (int i = 0; i < 16383; ++i)
        ASSERT_TRUE(t.Decode(r.bits, s)) << i;
    EXPECT_EQ(s, 0x41u);
    // Rebuilt: escape (1) at 510, A ((16383 + 1) / 2) at 511, root their sum.
    EXPECT_EQ(t.NodeAt(510).code, EriHuffmanTree::kEscapeCode);
    EXPECT_EQ(t.NodeAt(510).weight, 1);
    EXPECT_EQ(t.NodeAt(511).weight, 8192);
    EXPECT_EQ(t.NodeAt(512).weight, 8193);
    EXPECT_EQ(t.NodeAt(512).parent, EriHuffmanTree::kAbsent);
    ASSERT_TRUE(t.Decode(r.bits, s));
    EXPECT_EQ(s, 0x41u);
}

TEST(EriHuffmanTree, EndOfDataFails) {
    Reader r(Bits("0100"));
    EriHuffmanTree t;
    std::uint32_t s;
    r.bits.ReadBits(32);
    EXPECT_FALSE(t.Decode(r.bits, s));
}

// The decoder's tree against the writer's own, through rebuilds, a tree
// holding all 256 bytes, and a run-length tree that fills up and reuses its
// lowest leaf.
TEST(EriHuffmanTree, MatchesTheWriterOverLongSkewedSequences) {
    std::mt19937 rng(5);
    for (bool gamma : {false, true}) {
        SCOPED_TRACE(gamma);
        std::vector<std::uint32_t> symbols;
        for (int i = 0; i < 60000; ++i) {
            const int kind = rng() % 10;
            std::uint32_t v = kind < 6 ? rng() % 4 : kind < 9 ? rng() % 256 : rng() % 2000;
            if (!gamma) v &= 0xFF;
            symbols.push_back(gamma ? v + 1 : v);
        }
        EriHuffmanWriterTree writer;
        EriBitWriter out;
        for (std::uint32_t v : symbols)
            writer.write(out, v, gamma);
        Reader r(out.bytes());
        EriHuffmanTree tree;
        for (std::size_t i = 0; i < symbols.size(); ++i) {
            std::uint32_t s = 0;
            ASSERT_TRUE(tree.Decode(r.bits, s, gamma)) << i;
            ASSERT_EQ(s, symbols[i]) << i;
        }
        EXPECT_EQ(tree.FreeMark(), 0); // full
    }
}

TEST(EriHuffmanSymbols, ZeroRunsAreOwedAcrossBlocks) {
    std::vector<std::int32_t> values = {5, 0, 0, 0, 0, 0, -3, 0, 7, 7, 0, 0};
    EriHuffmanSymbolWriter writer;
    writer.reset(values);
    EriBitWriter out;
    writer.write(out, 3);
    writer.write(out, 5);
    writer.write(out, 4);
    Reader r(out.bytes());
    r.huffman.Reset();
    std::vector<std::int32_t> got(12, 99);
    ASSERT_EQ(r.huffman.DecodeSymbols(got.data(), 3), 3u);
    ASSERT_EQ(r.huffman.DecodeSymbols(got.data() + 3, 5), 5u);
    ASSERT_EQ(r.huffman.DecodeSymbols(got.data() + 8, 4), 4u);
    EXPECT_EQ(got, values);
}

TEST(EriHuffmanSymbols, FirstSymbolAndFirstRunAreReadRaw) {
    // Tree 0 empty: 8 raw bits 00000000 give 0; the run-length tree is empty
    // too and reads its first run as a gamma code: 110 = 3. Then tree 0
    // again, holding 0 and the escape: bit 0 selects 0 (at 510)... the run
    // tree holds 3: bit 0 selects it.
    Reader r(Bits("00000000 110 0 0"));
    r.huffman.Reset();
    std::int32_t got[6] = {9, 9, 9, 9, 9, 9};
    ASSERT_EQ(r.huffman.DecodeSymbols(got, 6), 6u);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(got[i], 0) << i;
}
