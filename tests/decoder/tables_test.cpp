// Checks of the generated constant tables (decoder/tables/*.cpp): the Huffman
// lookup structures are walked like the decoder walks them, and every table is
// compared with the reference data when ../shared/reference is available.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "decoder/tables.h"

namespace {

using namespace wl::tables;
namespace fs = std::filesystem;

using Record = std::vector<std::string>;

fs::path referenceDir() {
    if (const char* env = std::getenv("WL_SHARED_DIR"); env != nullptr && *env != '\0')
        return fs::path(env) / "reference";
#ifdef WL_SHARED_DIR
    return fs::path(WL_SHARED_DIR) / "reference";
#else
    return {};
#endif
}

// Data records (blank-separated fields) of a reference file whose first field
// is `keyword`; an empty keyword returns every record.
std::vector<Record> readRecords(const std::string& file, const std::string& keyword = "") {
    std::vector<Record> out;
    std::ifstream in(referenceDir() / file);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream ss(line);
        Record r;
        for (std::string f; ss >> f;) r.push_back(f);
        if (r.empty() || r[0][0] == '#') continue;
        if (keyword.empty() || r[0] == keyword) out.push_back(std::move(r));
    }
    return out;
}

#define REQUIRE_REFERENCE(file)                                                            \
    do {                                                                                   \
        if (referenceDir().empty() || !fs::exists(referenceDir() / (file)))                \
            GTEST_SKIP() << "reference data not found (" << (referenceDir() / (file))       \
                         << "); set WL_SHARED_DIR to the shared folder to run this test";   \
    } while (0)

int toInt(const std::string& s) { return std::stoi(s); }

// MSB-first reader over a string of '0'/'1'; reading past the end yields `pad`.
struct BitWalker {
    std::string bits;
    char pad = '0';
    size_t pos = 0;
    uint32_t peek(int n) const {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) {
            const size_t p = pos + static_cast<size_t>(i);
            v = (v << 1) | ((p < bits.size() ? bits[p] : pad) == '1' ? 1u : 0u);
        }
        return v;
    }
};

struct Decoded {
    int x = -1, y = -1;
    size_t length = 0;
    bool ok = false;
};

// Decodes one pair the way the decoder does: peek the structure's width, follow
// links (consuming the whole width), stop at an entry with a length.
Decoded walk(const HuffTable& t, uint32_t size, BitWalker bw) {
    Decoded d;
    uint32_t base = 0;
    for (int depth = 0; depth < 32; ++depth) {
        if (base >= size) return d;
        const int n = static_cast<int>(t.lookup[base] & 0xff);
        if (n < 1 || n > 11 || base + (1u << n) >= size) return d;
        const uint32_t e = t.lookup[base + 1 + bw.peek(n)];
        const int len = static_cast<int>(e >> 24);
        if (len == 0) {
            if (e == 0) return d;
            bw.pos += static_cast<size_t>(n);
            base += e;
            continue;
        }
        bw.pos += static_cast<size_t>(len);
        d.x = static_cast<int>((e >> 8) & 0xff);
        d.y = static_cast<int>((e >> 16) & 0xff);
        d.length = bw.pos;
        d.ok = true;
        return d;
    }
    return d;
}

const std::map<int, int> kValuesPerAxis = {{1, 2},  {2, 3},  {3, 3},  {5, 4},  {6, 4},
                                           {7, 6},  {8, 6},  {9, 6},  {10, 8}, {11, 8},
                                           {12, 8}, {13, 16}, {15, 16}, {16, 16}, {24, 16}};

// Walks every entry of every structure reachable from the root, checking its
// form, and collects the leaves as ((x, y), total code length).
struct Leaf {
    int x, y, length;
};
void collectLeaves(const uint32_t* lookup, uint32_t size, uint32_t base, int consumed,
                   std::vector<Leaf>& leaves, int table) {
    ASSERT_LT(base, size) << "table " << table;
    const int n = static_cast<int>(lookup[base] & 0xff);
    ASSERT_GE(n, 1) << "table " << table << " structure at " << base;
    ASSERT_LE(n, 11) << "table " << table << " structure at " << base;
    ASSERT_EQ(lookup[base] >> 8, 0u) << "header has stray bits, table " << table;
    ASSERT_LE(base + (1u << n), size - 1) << "structure overruns table " << table;
    for (uint32_t i = 0; i < (1u << n); ++i) {
        const uint32_t e = lookup[base + 1 + i];
        const int len = static_cast<int>(e >> 24);
        ASSERT_NE(e, 0u) << "empty entry " << i << " in table " << table << " at " << base;
        if (len == 0) {
            ASSERT_GT(e, static_cast<uint32_t>(1u << n))
                << "link points into its own structure, table " << table;
            ASSERT_LT(base + e, size) << "link leaves table " << table;
            ASSERT_LT(consumed + n, 32) << "links too deep in table " << table;
            collectLeaves(lookup, size, base + e, consumed + n, leaves, table);
            if (testing::Test::HasFatalFailure()) return;
            continue;
        }
        ASSERT_LE(len, n) << "entry longer than its structure, table " << table;
        ASSERT_EQ(e & 0xff, 0u) << "stray low bits, table " << table;
        // Entries of a short code are replicated: count each leaf once.
        const uint32_t span = 1u << (n - len);
        ASSERT_EQ(i % span, 0u) << "misaligned code, table " << table;
        for (uint32_t j = 1; j < span; ++j)
            ASSERT_EQ(lookup[base + 1 + i + j], e) << "replication broken, table " << table;
        leaves.push_back({static_cast<int>((e >> 8) & 0xff), static_cast<int>((e >> 16) & 0xff),
                          consumed + len});
        i += span - 1;
    }
}

TEST(HuffmanTables, DescriptorsMatchTableLayout) {
    const std::set<int> none = {0, 4, 14, 32, 33};
    const std::set<int> single = {1, 2, 3, 5, 6};
    const int linbits[32] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                             1, 2, 3, 4, 6, 8, 10, 13, 4, 5, 6, 7, 8, 9, 11, 13};
    for (int t = 0; t < 34; ++t) {
        SCOPED_TRACE("table " + std::to_string(t));
        const HuffTable& h = kHuffTables[t];
        EXPECT_EQ(h.linbits, t < 32 ? linbits[t] : 0);
        if (none.count(t)) {
            EXPECT_EQ(h.method, 0);
            EXPECT_EQ(h.lookup, nullptr);
            EXPECT_EQ(kHuffLookupSizes[t], 0u);
            continue;
        }
        ASSERT_NE(h.lookup, nullptr);
        EXPECT_EQ(h.method, single.count(t) ? 1 : t < 16 ? 2 : 3);
        const int source = t >= 24 ? 24 : t >= 16 ? 16 : t;
        EXPECT_EQ(h.lookup, kHuffTables[source].lookup) << "shares the codes of " << source;
        EXPECT_EQ(kHuffLookupSizes[t], kHuffLookupSizes[source]);
    }
}

TEST(HuffmanTables, StructuresAreCompleteAndLinksStayInside) {
    for (const auto& [t, s] : kValuesPerAxis) {
        SCOPED_TRACE("table " + std::to_string(t));
        const HuffTable& h = kHuffTables[t];
        const uint32_t size = kHuffLookupSizes[t];
        ASSERT_NE(h.lookup, nullptr);
        std::vector<Leaf> leaves;
        collectLeaves(h.lookup, size, 0, 0, leaves, t);
        if (HasFatalFailure()) return;
        // One leaf per (x, y) in 0..s-1, and the code lengths fill the code space
        // exactly (sum of 2^-length == 1), so every bit pattern decodes.
        EXPECT_EQ(leaves.size(), static_cast<size_t>(s * s));
        std::set<std::pair<int, int>> seen;
        double kraft = 0;
        for (const Leaf& l : leaves) {
            EXPECT_LT(l.x, s);
            EXPECT_LT(l.y, s);
            EXPECT_TRUE(seen.insert({l.x, l.y}).second) << "duplicate " << l.x << "," << l.y;
            kraft += std::ldexp(1.0, -l.length);
        }
        EXPECT_EQ(kraft, 1.0);
        // Small tables are one flat lookup: no links at all.
        if (h.method == 1) {
            EXPECT_EQ(size, 1u + (1u << (h.lookup[0] & 0xff)));
        }
    }
}

TEST(HuffmanTables, DecodesEveryReferenceCode) {
    REQUIRE_REFERENCE("huffman.txt");
    const auto pairs = readRecords("huffman.txt", "pair");
    ASSERT_EQ(pairs.size(), 1378u);
    std::map<int, int> perTable;
    for (const Record& r : pairs) {
        ASSERT_EQ(r.size(), 7u);
        const int t = toInt(r[1]), x = toInt(r[2]), y = toInt(r[3]), len = toInt(r[4]);
        const std::string& code = r[6];
        SCOPED_TRACE("table " + std::to_string(t) + " code " + code);
        ASSERT_EQ(code.size(), static_cast<size_t>(len));
        ++perTable[t];
        // The bits after the code word must not matter: try zeros and ones.
        for (char pad : {'0', '1'}) {
            const Decoded d = walk(kHuffTables[t], kHuffLookupSizes[t], BitWalker{code, pad});
            ASSERT_TRUE(d.ok);
            EXPECT_EQ(d.x, x);
            EXPECT_EQ(d.y, y);
            EXPECT_EQ(d.length, code.size());
        }
    }
    for (const auto& [t, s] : kValuesPerAxis) EXPECT_EQ(perTable[t], s * s) << "table " << t;
}

TEST(HuffmanTables, LinbitsMatchReference) {
    REQUIRE_REFERENCE("huffman.txt");
    const auto recs = readRecords("huffman.txt", "linbits");
    ASSERT_EQ(recs.size(), 32u);
    for (const Record& r : recs) EXPECT_EQ(kHuffTables[toInt(r[1])].linbits, toInt(r[2]));
}

TEST(Count1Table, EveryPeekDecodesToAReplicatedCode) {
    // Each vwxy value owns exactly 2^(6 - length) consecutive, aligned entries.
    std::map<int, int> entries, length;
    for (int i = 0; i < 64; ++i) {
        const int len = kCount1A[i][0], v = kCount1A[i][1];
        ASSERT_GE(len, 1);
        ASSERT_LE(len, 6);
        ASSERT_LT(v, 16);
        if (entries[v]++ == 0) {
            length[v] = len;
            EXPECT_EQ(i % (1 << (6 - len)), 0) << "misaligned code for " << v;
        }
        EXPECT_EQ(length[v], len) << "vwxy " << v << " has two lengths";
    }
    ASSERT_EQ(entries.size(), 16u);
    for (const auto& [v, n] : entries) EXPECT_EQ(n, 1 << (6 - length[v])) << "vwxy " << v;
    EXPECT_EQ(kCount1A[63][0], 1);  // the all-zero quadruple has the one-bit code "1"
    EXPECT_EQ(kCount1A[63][1], 0);
}

TEST(Count1Table, DecodesEveryReferenceCode) {
    REQUIRE_REFERENCE("huffman.txt");
    int count = 0;
    for (const Record& r : readRecords("huffman.txt", "quad")) {
        ASSERT_EQ(r.size(), 9u);
        const std::string& code = r[8];
        const int vwxy = toInt(r[2]) << 3 | toInt(r[3]) << 2 | toInt(r[4]) << 1 | toInt(r[5]);
        if (r[1] == "1") {
            // Table B is decoded without a table: four bits, complemented.
            EXPECT_EQ(15 - std::stoi(code, nullptr, 2), vwxy) << code;
            continue;
        }
        ++count;
        for (char pad : {'0', '1'}) {
            const uint32_t peek = BitWalker{code, pad}.peek(6);
            EXPECT_EQ(kCount1A[peek][0], code.size()) << code;
            EXPECT_EQ(kCount1A[peek][1], vwxy) << code;
        }
    }
    EXPECT_EQ(count, 16);
}

TEST(SynthesisWindow, SymmetryAndKnownValues) {
    EXPECT_EQ(kSynthWindowK[0], 0);
    EXPECT_EQ(kSynthWindowK[256], 75038);
    for (int i = 1; i < 256; ++i) {
        const int sign = (i == 64 || i == 128 || i == 192) ? 1 : -1;
        EXPECT_EQ(kSynthWindowK[512 - i], sign * kSynthWindowK[i]) << "i = " << i;
        EXPECT_LT(std::abs(kSynthWindowK[i]), 75038) << "i = " << i;
    }
}

TEST(SynthesisWindow, MatchesReference) {
    REQUIRE_REFERENCE("synth_window.txt");
    const auto recs = readRecords("synth_window.txt");
    ASSERT_EQ(recs.size(), 512u);
    for (const Record& r : recs) {
        const int i = toInt(r[0]);
        ASSERT_GE(i, 0);
        ASSERT_LT(i, 512);
        EXPECT_EQ(kSynthWindowK[i], toInt(r[1])) << "i = " << i;
        EXPECT_NEAR(kSynthWindowK[i] / 65536.0, std::stod(r[2]), 1e-9) << "i = " << i;
    }
}

const int kRatesByVersion[3][3] = {{22050, 24000, 16000}, {44100, 48000, 32000}, {11025, 12000, 8000}};

TEST(ScaleFactorBands, IncreaseAndCoverTheGranule) {
    for (int v = 0; v < 3; ++v) {
        for (int r = 0; r < 3; ++r) {
            SCOPED_TRACE(std::to_string(kRatesByVersion[v][r]) + " Hz");
            EXPECT_EQ(kSfbLong[v][r][0], 0);
            EXPECT_EQ(kSfbLong[v][r][22], 576);
            for (int b = 0; b < 22; ++b) EXPECT_LT(kSfbLong[v][r][b], kSfbLong[v][r][b + 1]);
            EXPECT_EQ(kSfbShort[v][r][0], 0);
            EXPECT_EQ(kSfbShort[v][r][13], 192);
            for (int b = 0; b < 13; ++b) EXPECT_LT(kSfbShort[v][r][b], kSfbShort[v][r][b + 1]);
        }
    }
    EXPECT_EQ(kSfbLong[0][1][18], 332);  // 24000 Hz (not the older 330)
    EXPECT_EQ(kSfbLong[1][0][21], 418);  // 44100 Hz
    EXPECT_EQ(kSfbShort[1][1][12], 126);  // 48000 Hz
    EXPECT_EQ(kSfbLong[2][2][1], 12);     // 8000 Hz
}

TEST(ScaleFactorBands, MatchReference) {
    REQUIRE_REFERENCE("sfb_bands.txt");
    std::map<std::pair<std::string, int>, std::vector<int>> ref;
    for (const Record& r : readRecords("sfb_bands.txt")) {
        std::vector<int> b;
        for (size_t i = 2; i < r.size(); ++i) b.push_back(toInt(r[i]));
        ref[{r[0], toInt(r[1])}] = b;
    }
    ASSERT_EQ(ref.size(), 18u);
    for (int v = 0; v < 3; ++v) {
        for (int r = 0; r < 3; ++r) {
            const int hz = kRatesByVersion[v][r];
            SCOPED_TRACE(std::to_string(hz) + " Hz");
            const auto& lo = ref[{"long", hz}];
            const auto& sh = ref[{"short", hz}];
            ASSERT_EQ(lo.size(), 23u);
            ASSERT_EQ(sh.size(), 14u);
            for (int b = 0; b < 23; ++b) EXPECT_EQ(kSfbLong[v][r][b], lo[b]) << "long " << b;
            for (int b = 0; b < 14; ++b) EXPECT_EQ(kSfbShort[v][r][b], sh[b]) << "short " << b;
        }
    }
}

TEST(RateTables, KnownValuesAndConsistency) {
    EXPECT_EQ(kBitrateKbps[2][9], 128);
    EXPECT_EQ(kBitrateKbps[0][14], 448);
    EXPECT_EQ(kBitrateKbps[1][14], 384);
    EXPECT_EQ(kBitrateKbps[3][14], 256);
    EXPECT_EQ(kBitrateKbps[4][1], 8);
    for (int row = 0; row < 5; ++row) {
        EXPECT_EQ(kBitrateKbps[row][0], 0) << "row " << row;
        EXPECT_EQ(kBitrateKbps[row][15], 0) << "row " << row;
        for (int i = 1; i < 14; ++i) EXPECT_LT(kBitrateKbps[row][i], kBitrateKbps[row][i + 1]);
    }
    for (int v = 0; v < 2; ++v) {
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(kSampleRateHz[v][i], kRatesByVersion[v][i]);
            EXPECT_EQ(kSampleRate50[v][i] * 50, kSampleRateHz[v][i]);
        }
        EXPECT_EQ(kSampleRate50[v][3], -999);
        EXPECT_EQ(kSampleRateHz[v][3], 1);
    }
}

TEST(RateTables, MatchReference) {
    REQUIRE_REFERENCE("layer_rates.txt");
    // (version, layer) -> row; LSF Layers II/III and MPEG 2.5 Layer III share row 4.
    const std::map<std::pair<int, int>, int> rowOf = {{{1, 1}, 0}, {{1, 2}, 1}, {{1, 3}, 2},
                                                      {{2, 1}, 3}, {{2, 2}, 4}, {{2, 3}, 4},
                                                      {{25, 3}, 4}};
    const auto recs = readRecords("layer_rates.txt", "bitrate");
    ASSERT_EQ(recs.size(), 7u);
    for (const Record& r : recs) {
        ASSERT_EQ(r.size(), 19u);
        const auto it = rowOf.find({toInt(r[1]), toInt(r[2])});
        ASSERT_NE(it, rowOf.end());
        for (int i = 0; i < 16; ++i) {
            const int expected = std::max(toInt(r[3 + i]), 0);
            EXPECT_EQ(kBitrateKbps[it->second][i], expected)
                << "version " << r[1] << " layer " << r[2] << " index " << i;
        }
    }
    for (const Record& r : readRecords("layer_rates.txt", "samplerate")) {
        const int version = toInt(r[1]);
        if (version == 25) continue;
        const int vid = version == 1 ? 1 : 0;
        for (int i = 0; i < 3; ++i) EXPECT_EQ(kSampleRateHz[vid][i], toInt(r[2 + i]));
    }
}

TEST(Layer3Tables, PartitionCountsAddUp) {
    for (int row = 0; row < 6; ++row) {
        SCOPED_TRACE("row " + std::to_string(row));
        int lng = 0, sht = 0, mixed = 0;
        for (int p = 0; p < 4; ++p) {
            lng += kLsfPartitionBands[row][0][p];
            sht += kLsfPartitionBands[row][1][p];
            if (p > 0) mixed += kLsfPartitionBands[row][2][p];
        }
        EXPECT_EQ(lng, 21);           // 21 long bands (band 21 has no scale factor)
        EXPECT_EQ(sht, 12);           // 12 short bands
        EXPECT_EQ(kLsfPartitionBands[row][2][0], 6);
        EXPECT_EQ(mixed, 9);          // short bands 3..11 after the six long bands
    }
}

TEST(Layer3Tables, MatchReference) {
    REQUIRE_REFERENCE("layer3_misc.txt");
    const auto slen = readRecords("layer3_misc.txt", "slen");
    ASSERT_EQ(slen.size(), 16u);
    for (const Record& r : slen) {
        const int c = toInt(r[1]);
        EXPECT_EQ(kSlen[c][0], toInt(r[2])) << "scalefac_compress " << c;
        EXPECT_EQ(kSlen[c][1], toInt(r[3])) << "scalefac_compress " << c;
    }
    const auto nsfb = readRecords("layer3_misc.txt", "nsfb");
    ASSERT_EQ(nsfb.size(), 18u);
    for (const Record& r : nsfb) {
        const int row = toInt(r[1]), col = toInt(r[2]);
        SCOPED_TRACE("row " + std::to_string(row) + " column " + std::to_string(col));
        // Expand the band counts back to scale-factor counts.
        const uint8_t* p = kLsfPartitionBands[row][col];
        int sf[4] = {p[0], p[1], p[2], p[3]};
        if (col == 1) {
            for (int& v : sf) v *= 3;
        } else if (col == 2) {
            for (int i = 1; i < 4; ++i) sf[i] *= 3;
            if (toInt(r[3]) > 6) {  // six long bands and some short ones in one partition
                sf[0] += sf[1];
                sf[1] = sf[2];
                sf[2] = sf[3];
                sf[3] = 0;
            }
        }
        for (int i = 0; i < 4; ++i) EXPECT_EQ(sf[i], toInt(r[3 + i])) << "partition " << i;
    }
    const auto pretab = readRecords("layer3_misc.txt", "pretab");
    ASSERT_EQ(pretab.size(), 1u);
    ASSERT_EQ(pretab[0].size(), 23u);
    for (int i = 0; i < 22; ++i) EXPECT_EQ(kPretab[i], toInt(pretab[0][1 + i])) << i;
    const auto alias = readRecords("layer3_misc.txt", "alias");
    ASSERT_EQ(alias.size(), 1u);
    ASSERT_EQ(alias[0].size(), 9u);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(kAliasC[i], static_cast<float>(toInt(alias[0][1 + i]) / 10000.0)) << i;
}

TEST(Layer3Tables, KnownValues) {
    EXPECT_EQ(kSlen[4][0], 3);
    EXPECT_EQ(kSlen[4][1], 0);
    EXPECT_EQ(kSlen[15][0], 4);
    EXPECT_EQ(kPretab[17], 3);
    EXPECT_EQ(kAliasC[0], -0.6f);
    EXPECT_EQ(kAliasC[7], -0.0037f);
    const uint8_t mixedRow2[4] = {6, 3, 6, 0};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(kLsfPartitionBands[2][2][i], mixedRow2[i]);
}

}  // namespace
