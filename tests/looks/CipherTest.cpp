// ChaCha20, Poly1305 and the AEAD against the published RFC 8439 vectors (the quarter round
// and the one-time key are pinned by the block, encryption and AEAD vectors they feed), plus the
// properties the look files rely on: any altered byte is rejected and nothing is written
// before the tag matches. (The AEAD vector feeds Poly1305 in padded pieces of 12 and 114 bytes.)
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "looks/ChaCha20Poly1305.h"

namespace vd {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Hex digits with any separators (spaces, colons) between them.
Bytes hex(const std::string& text) {
    std::string digits;
    for (char c : text) {
        if (std::isxdigit(static_cast<unsigned char>(c))) {
            digits += c;
        }
    }
    Bytes out;
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
        out.push_back(static_cast<std::uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    }
    return out;
}

Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

const Bytes kSequentialKey =
    hex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
const Bytes kZeroKey(32, 0);
const Bytes kJabberKey = hex("1c9240a5eb55d38af333888604f6b5f0473917c1402b80099dca5cbc207075c0");
const Bytes kNonce2 = hex("000000000000000000000002");

const std::string kSunscreen =
    "Ladies and Gentlemen of the class of '99: If I could offer you only one tip for the "
    "future, sunscreen would be it.";
const std::string kSubmission =
    "Any submission to the IETF intended by the Contributor for publication as all or part "
    "of an IETF Internet-Draft or RFC and any statement made within the context of an IETF "
    "activity is considered an \"IETF Contribution\". Such statements include oral statements "
    "in IETF sessions, as well as written and electronic communications made at any time or "
    "place, which are addressed to";
const std::string kJabberwocky =
    "'Twas brillig, and the slithy toves\nDid gyre and gimble in the wabe:\nAll mimsy were "
    "the borogoves,\nAnd the mome raths outgrabe.";

Bytes block(const Bytes& key, std::uint32_t counter, const Bytes& nonce) {
    Bytes out(64);
    chacha20Block(key.data(), counter, nonce.data(), out.data());
    return out;
}

Bytes encrypt(const Bytes& key, std::uint32_t counter, const Bytes& nonce, const Bytes& in) {
    Bytes out(in.size());
    EXPECT_TRUE(chacha20Xor(key.data(), counter, nonce.data(), in.data(), out.data(), in.size()));
    return out;
}

Bytes mac(const Bytes& key, const Bytes& message) {
    Bytes tag(16);
    poly1305Mac(key.data(), message.data(), message.size(), tag.data());
    return tag;
}

TEST(ChaCha20, BlockAndEncryptionMatchPublishedVectors) {
    EXPECT_EQ(block(kSequentialKey, 1, hex("000000090000004a00000000")),
              hex("10f1e7e4d13b5915500fdd1fa32071c4c7d1f4c733c068030422aa9ac3d46c4e"
                  "d2826446079faa0914c2d705d98b02a2b5129cd1de164eb9cbd083e8a2503c4e"));
    EXPECT_EQ(encrypt(kSequentialKey, 1, hex("000000000000004a00000000"), text(kSunscreen)),
              hex("6e2e359a2568f98041ba0728dd0d6981e97e7aec1d4360c20a27afccfd9fae0b"
                  "f91b65c5524733ab8f593dabcd62b3571639d624e65152ab8f530c359f0861d8"
                  "07ca0dbf500d6a6156a38e088a22b65e52bc514d16ccf806818ce91ab7793736"
                  "5af90bbf74a35be6b40b8eedf2785e42874d"));
    EXPECT_EQ(encrypt(kZeroKey, 0, Bytes(12, 0), Bytes(64, 0)),
              hex("76b8e0ada0f13d90405d6ae55386bd28bdd219b8a08ded1aa836efcc8b770dc7"
                  "da41597c5157488d7724e03fb8d84a376a43b8f41518a11cc387b669b2ee6586"));
    ASSERT_EQ(kJabberwocky.size(), 127u);
    EXPECT_EQ(encrypt(kJabberKey, 42, kNonce2, text(kJabberwocky)),
              hex("62e6347f95ed87a45ffae7426f27a1df5fb69110044c0d73118effa95b01e5cf"
                  "166d3df2d721caf9b21e5fb14c616871fd84c54f9d65b283196c7fe4f60553eb"
                  "f39c6402c42234e32a356b3e764312a61a5532055716ead6962568f87d3f3f77"
                  "04c6a8d1bcd1bf4d50d6154b6da731b187b58dfd728afa36757a797ac188d1"));
}

TEST(ChaCha20, CounterThatWouldWrapIsRefusedWithoutOutput) {
    const Bytes in(65, 0xaa);
    Bytes out(65, 0x55);
    EXPECT_FALSE(chacha20Xor(kZeroKey.data(), 0xffffffffu, kNonce2.data(), in.data(), out.data(),
                             out.size()));
    EXPECT_EQ(out, Bytes(65, 0x55));
    EXPECT_TRUE(
        chacha20Xor(kZeroKey.data(), 0xffffffffu, kNonce2.data(), in.data(), out.data(), 64));
}

TEST(Poly1305, MatchesPublishedVectors) {
    EXPECT_EQ(mac(hex("85d6be7857556d337f4452fe42d506a80103808afb0db2fd4abff6af4149f51b"),
                  text("Cryptographic Forum Research Group")),
              hex("a8061dc1305136c6c22b8baf0c0127a9"));
    EXPECT_EQ(mac(kZeroKey, Bytes(64, 0)), Bytes(16, 0));
    EXPECT_EQ(mac(hex("0000000000000000000000000000000036e5f6b5c5e06070f0efca96227a863e"),
                  text(kSubmission)),
              hex("36e5f6b5c5e06070f0efca96227a863e"));
    EXPECT_EQ(mac(hex("36e5f6b5c5e06070f0efca96227a863e00000000000000000000000000000000"),
                  text(kSubmission)),
              hex("f3477e7cd95417af89a6b8794c310cf0"));
    EXPECT_EQ(mac(kJabberKey, text(kJabberwocky)), hex("4541669a7eaaee61e708dc7cbcc5eb62"));

    // The edge cases of limb carries and final reduction (r, s, data, tag).
    struct Case {
        const char* r;
        const char* s;
        const char* data;
        const char* tag;
    };
    const Case cases[] = {
        {"02", "00", "ffffffffffffffffffffffffffffffff", "03"},
        {"02", "ffffffffffffffffffffffffffffffff", "02000000000000000000000000000000", "03"},
        {"01", "00",
         "ffffffffffffffffffffffffffffffff f0ffffffffffffffffffffffffffffff "
         "11000000000000000000000000000000",
         "05"},
        {"01", "00",
         "ffffffffffffffffffffffffffffffff fbfefefefefefefefefefefefefefefe "
         "01010101010101010101010101010101",
         "00"},
        {"02", "00", "fdffffffffffffffffffffffffffffff", "faffffffffffffffffffffffffffffff"},
        {"01000000000000000400000000000000", "00",
         "e33594d7505e43b900000000000000003394d7505e4379cd0100000000000000 "
         "00000000000000000000000000000000 01000000000000000000000000000000",
         "14000000000000005500000000000000"},
        {"01000000000000000400000000000000", "00",
         "e33594d7505e43b900000000000000003394d7505e4379cd0100000000000000 "
         "00000000000000000000000000000000",
         "13"}};
    for (const Case& c : cases) {
        Bytes key = hex(c.r);
        key.resize(16, 0);
        Bytes s = hex(c.s);
        s.resize(16, 0);
        key.insert(key.end(), s.begin(), s.end());
        Bytes tag = hex(c.tag);
        tag.resize(16, 0);
        EXPECT_EQ(mac(key, hex(c.data)), tag) << c.data;
    }
}

struct AeadVector {
    Bytes key = hex("808182838485868788898a8b8c8d8e8f909192939495969798999a9b9c9d9e9f");
    Bytes nonce = hex("070000004041424344454647");
    Bytes aad = hex("50515253c0c1c2c3c4c5c6c7");
    Bytes plaintext = text(kSunscreen);
    Bytes ciphertext =
        hex("d31a8d34648e60db7b86afbc53ef7ec2a4aded51296e08fea9e2b5a736ee62d6"
            "3dbea45e8ca9671282fafb69da92728b1a71de0a9e060b2905d6a5b67ecd3b36"
            "92ddbd7f2d778b8c9803aee328091b58fab324e4fad675945585808b4831d7bc"
            "3ff4def08e4b7a9de576d26586cec64b6116");
    Bytes tag = hex("1ae10b594f09e26a7e902ecbd0600691");
};

TEST(Aead, SealMatchesThePublishedVector) {
    const AeadVector v;
    Bytes ciphertext(v.plaintext.size());
    Bytes tag(16);
    ASSERT_TRUE(aeadSeal(v.key.data(), v.nonce.data(), v.aad.data(), v.aad.size(),
                         v.plaintext.data(), v.plaintext.size(), ciphertext.data(), tag.data()));
    EXPECT_EQ(ciphertext, v.ciphertext);
    EXPECT_EQ(tag, v.tag);
}

TEST(Aead, OpensTheVectorAndRejectsAnyAlteredByteWritingNothing) {
    const AeadVector v;
    auto opens = [](const AeadVector& w) {
        Bytes out(w.ciphertext.size(), 0xee);
        const bool ok =
            aeadOpen(w.key.data(), w.nonce.data(), w.aad.data(), w.aad.size(), w.ciphertext.data(),
                     w.ciphertext.size(), w.tag.data(), out.data());
        EXPECT_EQ(out, ok ? w.plaintext : Bytes(w.ciphertext.size(), 0xee))
            << (ok ? "opened to other bytes" : "plaintext written on failure");
        return ok;
    };
    ASSERT_TRUE(opens(v));
    for (Bytes AeadVector::*field : {&AeadVector::ciphertext, &AeadVector::aad, &AeadVector::tag,
                                     &AeadVector::nonce, &AeadVector::key}) {
        for (std::size_t i = 0; i < (v.*field).size(); ++i) {
            for (int bit : {0x01, 0x80}) {
                AeadVector w = v;
                (w.*field)[i] = static_cast<std::uint8_t>((w.*field)[i] ^ bit);
                EXPECT_FALSE(opens(w)) << "byte " << i;
            }
        }
    }
    // A shorter ciphertext (truncation) or extra additional data fails as well.
    AeadVector shorter = v;
    shorter.ciphertext.pop_back();
    EXPECT_FALSE(opens(shorter));
    AeadVector longerAad = v;
    longerAad.aad.push_back(0);
    EXPECT_FALSE(opens(longerAad));
}

}  // namespace
}  // namespace vd
