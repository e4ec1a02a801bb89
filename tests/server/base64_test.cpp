// Base64 as the server sends builds: round trips, the padding rules, and refusal of
// anything outside the alphabet.
#include <gtest/gtest.h>

#include "Base64.h"

namespace {

std::vector<uint8_t> bytesOf(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

} // namespace

TEST(Base64, KnownVectors) {
    const struct {
        const char* plain;
        const char* encoded;
    } cases[] = {{"", ""},
                 {"f", "Zg=="},
                 {"fo", "Zm8="},
                 {"foo", "Zm9v"},
                 {"foob", "Zm9vYg=="},
                 {"fooba", "Zm9vYmE="},
                 {"foobar", "Zm9vYmFy"},
                 {"\xfb\xff", "+/8="}};
    for (const auto& c : cases) {
        std::vector<uint8_t> decoded;
        ASSERT_TRUE(Base64::decode(c.encoded, decoded)) << c.encoded;
        EXPECT_EQ(decoded, bytesOf(c.plain)) << c.encoded;
        std::string inPlace = c.encoded;
        ASSERT_TRUE(Base64::decodeInPlace(inPlace)) << c.encoded;
        EXPECT_EQ(inPlace, c.plain) << c.encoded;
        const std::vector<uint8_t> plain = bytesOf(c.plain);
        EXPECT_EQ(Base64::encode(plain.data(), plain.size()), c.encoded);
    }
}

TEST(Base64, EveryByteValueRoundTrips) {
    for (size_t length : {255u, 256u, 257u}) {
        std::vector<uint8_t> bytes(length);
        for (size_t i = 0; i < length; i++)
            bytes[i] = static_cast<uint8_t>(i * 7 + 3);
        std::vector<uint8_t> decoded;
        std::string text = Base64::encode(bytes.data(), bytes.size());
        ASSERT_TRUE(Base64::decode(text, decoded));
        EXPECT_EQ(decoded, bytes);
        ASSERT_TRUE(Base64::decodeInPlace(text));
        EXPECT_EQ(std::vector<uint8_t>(text.begin(), text.end()), bytes);
    }
}

TEST(Base64, RefusesMalformedText) {
    const char* refused[] = {
        "Zm9",    // length not a multiple of four
        "Zm9v\n", // line break
        "Zm 9v",  // space instead of a digit (length 5)
        "Zm-v",   // URL-safe alphabet is not this one
        "Zm_v",
        "Z*9v", // foreign character
        "Zg=A", // "=" followed by data
        "Z=g=", // "=" in the middle of the last group
        "=Zg=",
        "Zg==Zm9v", // padding before the end
        "Z===",     // three padding characters
        "====",
    };
    for (const char* text : refused) {
        std::vector<uint8_t> decoded{1, 2, 3};
        EXPECT_FALSE(Base64::decode(text, decoded)) << text;
        EXPECT_TRUE(decoded.empty()) << text;
        std::string inPlace = text;
        EXPECT_FALSE(Base64::decodeInPlace(inPlace)) << text;
    }
    std::vector<uint8_t> decoded;
    EXPECT_FALSE(Base64::decode(std::string("Zm\0v", 4), decoded));
    EXPECT_FALSE(Base64::decode("Zm9v\xc3\xa9\xc3\xa9", decoded));
}
