// Look files: what the writer produces decodes to the quantised LUT in both layouts, and
// every damaged, truncated, altered or foreign file is rejected with an empty result.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "looks/ChaCha20Poly1305.h"
#include "looks/LookFile.h"
#include "looks/LookKey.h"
#include "lookwriter/LookWriter.h"

namespace vd {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A smooth, non-trivial LUT: a colour twist with some values outside 0..1 to be clamped.
LutCube makeCube(std::uint32_t edge, float twist = 0.1f) {
    LutCube cube;
    cube.edge = edge;
    cube.samples.resize(static_cast<std::size_t>(edge) * edge * edge * 3);
    const float step = 1.0f / static_cast<float>(edge - 1);
    std::size_t i = 0;
    for (std::uint32_t b = 0; b < edge; ++b) {
        for (std::uint32_t g = 0; g < edge; ++g) {
            for (std::uint32_t r = 0; r < edge; ++r) {
                const float fr = static_cast<float>(r) * step;
                const float fg = static_cast<float>(g) * step;
                const float fb = static_cast<float>(b) * step;
                cube.samples[i++] = fr + twist * std::sin(6.0f * fg) - 0.02f;
                cube.samples[i++] = fg * (1.0f - twist) + twist * fb;
                cube.samples[i++] = std::pow(fb, 1.0f + twist) + 0.03f;
            }
        }
    }
    return cube;
}

bool decode(const Bytes& file, LutCube& out) {
    return decodeLookFile(file.data(), file.size(), out);
}

// Decodes and checks the failure contract: false and an empty cube, even when the cube held
// a LUT before the call.
bool rejected(const Bytes& file) {
    LutCube out = makeCube(2);
    if (decode(file, out)) {
        return false;
    }
    EXPECT_EQ(out.edge, 0u);
    EXPECT_TRUE(out.samples.empty());
    return true;
}

Bytes stream(const Bytes& raw, bool endMarker = false, bool sizeInHeader = true) {
    LookWriteOptions options;
    options.preset = 1;
    options.endMarker = endMarker;
    options.sizeInStreamHeader = sizeInHeader;
    return compressLzmaAlone(raw.data(), raw.size(), options);
}

Bytes seal(std::uint16_t edge, std::uint16_t layout, std::uint32_t rawSize, const Bytes& plaintext,
           std::uint16_t version = kLookVersion) {
    LookHeaderFields header;
    header.version = version;
    header.edge = edge;
    header.layout = layout;
    header.rawSize = rawSize;
    return sealLookFile(header, "test", plaintext.data(), plaintext.size());
}

// A well-sealed file of edge 3 whose payload is the given stream.
Bytes sealEdge3(const Bytes& plaintext) {
    return seal(3, kLayoutInterleaved, 27 * 6, plaintext);
}

void put32(Bytes& file, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        file[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

TEST(LookFile, BothLayoutsDecodeToTheQuantisedSamplesAtEveryEdge) {
    for (std::uint32_t edge : {2u, 5u, 129u}) {
        const LutCube cube = makeCube(edge);
        LutCube fromPlanes, fromInterleaved;
        LookWriteOptions options;
        options.preset = 0;
        options.layout = kLayoutPredictedPlanes;
        ASSERT_TRUE(decode(encodeLookFile(cube, "a", options), fromPlanes));
        options.layout = kLayoutInterleaved;
        ASSERT_TRUE(decode(encodeLookFile(cube, "a", options), fromInterleaved));

        ASSERT_EQ(fromPlanes.edge, edge);
        EXPECT_EQ(fromPlanes.samples, fromInterleaved.samples);
        ASSERT_EQ(fromPlanes.samples.size(), cube.samples.size());
        for (std::size_t i = 0; i < cube.samples.size(); ++i) {
            const float expected = static_cast<float>(quantiseSample(cube.samples[i]) / 65535.0);
            ASSERT_EQ(fromPlanes.samples[i], expected) << "sample " << i;
        }
    }
}

TEST(LookFile, StreamWithOrWithoutSizeAndEndMarkerDecodesAlike) {
    const LutCube cube = makeCube(9);
    LutCube reference;
    ASSERT_TRUE(decode(encodeLookFile(cube, "s"), reference));
    for (bool sizeInHeader : {true, false}) {
        for (bool endMarker : {true, false}) {
            LookWriteOptions options;
            options.sizeInStreamHeader = sizeInHeader;
            options.endMarker = endMarker;
            LutCube out;
            ASSERT_TRUE(decode(encodeLookFile(cube, "s", options), out))
                << sizeInHeader << endMarker;
            EXPECT_EQ(out.samples, reference.samples);
        }
    }
}

TEST(LookFile, WriterIsDeterministicAndNoncesFollowIdAndContents) {
    const LutCube cube = makeCube(6);
    const Bytes first = encodeLookFile(cube, "iphone-apple-log-01");
    EXPECT_EQ(first, encodeLookFile(cube, "iphone-apple-log-01"));

    auto nonceOf = [](const Bytes& file) {
        return Bytes(file.begin() + kLookNonceOffset, file.begin() + kLookNonceOffset + 12);
    };
    EXPECT_NE(nonceOf(first), Bytes(12, 0));
    EXPECT_NE(nonceOf(first), nonceOf(encodeLookFile(cube, "iphone-apple-log-02")));
    EXPECT_NE(nonceOf(first), nonceOf(encodeLookFile(makeCube(6, 0.2f), "iphone-apple-log-01")));
    LookWriteOptions interleaved;
    interleaved.layout = kLayoutInterleaved;
    EXPECT_NE(nonceOf(first), nonceOf(encodeLookFile(cube, "iphone-apple-log-01", interleaved)));
}

TEST(LookFile, WriterRefusesWhatIsNotAStorableLook) {
    LutCube cube = makeCube(2);
    cube.edge = 1;
    cube.samples.resize(3);
    EXPECT_TRUE(encodeLookFile(cube, "x").empty());
    cube = makeCube(4);
    cube.samples.pop_back();
    EXPECT_TRUE(encodeLookFile(cube, "x").empty());
    LookWriteOptions badLayout;
    badLayout.layout = 3;
    EXPECT_TRUE(encodeLookFile(makeCube(4), "x", badLayout).empty());
    LookWriteOptions badPreset;
    badPreset.preset = 10;
    EXPECT_TRUE(encodeLookFile(makeCube(4), "x", badPreset).empty());
}

// Rounding and clamping are pinned by the shipped looks against their recipes and by the
// look maker's clamped values; here what no file can carry.
TEST(LookFile, QuantisingMapsNanToZeroAndInfinitiesToTheEnds) {
    EXPECT_EQ(quantiseSample(NAN), 0);
    EXPECT_EQ(quantiseSample(INFINITY), 65535);
    EXPECT_EQ(quantiseSample(-INFINITY), 0);
}

TEST(LookFile, ShortTrailingAndTruncatedInputsAreRejected) {
    const Bytes good = encodeLookFile(makeCube(4), "t");
    ASSERT_FALSE(rejected(good));
    EXPECT_TRUE(rejected({}));
    LutCube out = makeCube(2);
    EXPECT_FALSE(decodeLookFile(nullptr, 100, out));
    EXPECT_EQ(out.edge, 0u);
    EXPECT_TRUE(rejected(Bytes(good.begin(), good.begin() + 47)));
    EXPECT_TRUE(rejected(Bytes(good.begin(), good.begin() + 48)));
    EXPECT_TRUE(rejected(Bytes(good.begin(), good.end() - 1)));
    Bytes longer = good;
    longer.push_back(0);
    EXPECT_TRUE(rejected(longer));
}

TEST(LookFile, HeaderFieldsOutOfRangeAreRejected) {
    const Bytes payload = stream(Bytes(27 * 6, 9));
    ASSERT_FALSE(rejected(sealEdge3(payload)));

    EXPECT_TRUE(rejected(seal(3, kLayoutInterleaved, 27 * 6, payload, 2)));
    EXPECT_TRUE(rejected(seal(3, 0, 27 * 6, payload)));
    EXPECT_TRUE(rejected(seal(3, 3, 27 * 6, payload)));
    // Well sealed, and the stream holds exactly edge^3 * 6 bytes: only the edge rule stops them.
    EXPECT_TRUE(rejected(seal(1, kLayoutInterleaved, 6, stream(Bytes(6, 1)))));
    const std::uint32_t raw130 = 130u * 130u * 130u * 6u;
    EXPECT_TRUE(rejected(seal(130, kLayoutInterleaved, raw130, stream(Bytes(raw130, 1)))));

    Bytes zeroSealed = sealEdge3(payload);
    zeroSealed.resize(kLookHeaderSize);
    put32(zeroSealed, 16, 0);
    EXPECT_TRUE(rejected(zeroSealed));
}

// The sealed-size field is authenticated, so a file can carry a tag that matches its bytes
// while the field claims a byte more or less than they are: only the rule "field + 48 is
// the file's length" refuses it.
TEST(LookFile, SealedSizeFieldMustMatchTheFileLength) {
    const Bytes good = encodeLookFile(makeCube(4), "z");
    const std::size_t sealed = good.size() - kLookHeaderSize;
    std::uint8_t key[32];
    lookKeyBytes(key);
    Bytes plaintext(sealed);
    ASSERT_TRUE(aeadOpen(key, good.data() + kLookNonceOffset, good.data(), kLookAadSize,
                         good.data() + kLookHeaderSize, sealed, good.data() + kLookTagOffset,
                         plaintext.data()));
    for (const std::size_t field : {sealed, sealed + 1, sealed - 1}) {
        Bytes file = good;
        put32(file, 16, static_cast<std::uint32_t>(field));
        ASSERT_TRUE(aeadSeal(key, file.data() + kLookNonceOffset, file.data(), kLookAadSize,
                             plaintext.data(), sealed, file.data() + kLookHeaderSize,
                             file.data() + kLookTagOffset));
        EXPECT_EQ(rejected(file), field != sealed) << "size field " << field << " of " << sealed;
    }
}

TEST(LookFile, EveryFlippedByteIsRejected) {
    const Bytes good = encodeLookFile(makeCube(3), "f");
    for (std::size_t i = 0; i < good.size(); ++i) {
        Bytes file = good;
        file[i] ^= 0x04;
        EXPECT_TRUE(rejected(file)) << "byte " << i;
    }
}

TEST(LookFile, SealedButMalformedPayloadsAreRejected) {
    const Bytes raw(27 * 6, 0x5a);
    const Bytes good = stream(raw);
    ASSERT_FALSE(rejected(sealEdge3(good)));

    // Raw size out of range or not matching the edge.
    EXPECT_TRUE(rejected(seal(3, kLayoutInterleaved, 0, good)));
    EXPECT_TRUE(rejected(seal(3, kLayoutInterleaved, kLookMaxRawSize + 1, good)));
    EXPECT_TRUE(rejected(seal(3, kLayoutInterleaved, 27 * 6 + 6, stream(Bytes(27 * 6 + 6, 1)))));
    EXPECT_TRUE(rejected(seal(3, kLayoutInterleaved, 27 * 6 - 6, stream(Bytes(27 * 6 - 6, 1)))));

    // Plaintext too short for the stream header.
    EXPECT_TRUE(rejected(sealEdge3(Bytes(good.begin(), good.begin() + 12))));
    EXPECT_TRUE(rejected(sealEdge3(Bytes(good.begin(), good.begin() + 13))));

    // Size field neither all ones nor the raw size.
    Bytes wrongSize = good;
    wrongSize[5] = static_cast<std::uint8_t>(wrongSize[5] + 1);
    EXPECT_TRUE(rejected(sealEdge3(wrongSize)));

    // Invalid properties byte.
    Bytes badProperties = good;
    badProperties[0] = 225;
    EXPECT_TRUE(rejected(sealEdge3(badProperties)));

    // Coded data cut short, or damaged.
    EXPECT_TRUE(rejected(sealEdge3(Bytes(good.begin(), good.end() - 3))));
    Bytes damaged = good;
    damaged[kLzmaAloneHeaderSize + 3] ^= 0xff;
    EXPECT_TRUE(rejected(sealEdge3(damaged)));

    // A stream that ends early (with its end marker), or goes on past the raw size.
    Bytes shortStream = stream(Bytes(27 * 6 - 2, 0x5a), true, false);
    EXPECT_TRUE(rejected(sealEdge3(shortStream)));
    Bytes longStream = stream(Bytes(27 * 6 + 200, 0x5a), false, false);
    EXPECT_TRUE(rejected(sealEdge3(longStream)));
}

TEST(LookFile, HugeDictionarySizeInAStreamDoesNotMatter) {
    const LutCube cube = makeCube(3);
    const Bytes raw = lookSampleBytes(cube, kLayoutInterleaved);
    Bytes payload = stream(raw);
    put32(payload, 1, 0xffffffffu);
    LutCube out;
    ASSERT_TRUE(decode(sealEdge3(payload), out));
    EXPECT_EQ(out.edge, 3u);
}

// Foreign text is refused through the plug-in (LooksThroughPlugin); here a file sealed the
// same way but under another key.
TEST(LookFile, FileSealedUnderAnotherKeyIsRejected) {
    Bytes file = encodeLookFile(makeCube(4), "k");
    const Bytes plaintext = stream(lookSampleBytes(makeCube(4), kLayoutPredictedPlanes));
    Bytes otherKey(32, 0x42);
    file.resize(kLookHeaderSize + plaintext.size());
    put32(file, 16, static_cast<std::uint32_t>(plaintext.size()));
    ASSERT_TRUE(aeadSeal(otherKey.data(), file.data() + kLookNonceOffset, file.data(), kLookAadSize,
                         plaintext.data(), plaintext.size(), file.data() + kLookHeaderSize,
                         file.data() + kLookTagOffset));
    EXPECT_TRUE(rejected(file));
}

}  // namespace
}  // namespace vd
