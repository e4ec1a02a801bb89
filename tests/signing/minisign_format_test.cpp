// The minisign formats and checks in memory: what is written parses back, every
// kind of change to a signed file or its signature is caught, and malformed key and
// signature texts are refused rather than half read.
#include <gtest/gtest.h>
#include <sodium.h>

#include <string>

#include "Minisign.h"
#include "SecretKey.h"
#include "SignatureCheck.h"

using namespace minisign;

namespace {

const std::string kFirmware = "BIRD firmware bytes \x01\x02\x03 for a test";

const uint8_t* bytesOf(const std::string& text) {
    return reinterpret_cast<const uint8_t*>(text.data());
}

Signature signText(const KeyPair& pair, const std::string& text, bool prehashed,
                   const std::string& comment = "timestamp:1\tfile:fw.bird") {
    return sign(bytesOf(text), text.size(), pair.secretKey, prehashed, "signature from a test key", comment);
}

Verdict verifyText(const std::string& text, const Signature& signature, const PublicKey& key) {
    return verify(bytesOf(text), text.size(), signature, key);
}

} // namespace

TEST(MinisignFormat, SignaturesOfBothAlgorithmsSurviveTheirTextForm) {
    const KeyPair pair = generateKeyPair();
    for (bool prehashed : {true, false}) {
        SCOPED_TRACE(prehashed ? "prehashed" : "legacy");
        const std::string text = formatSignature(signText(pair, kFirmware, prehashed));
        Signature parsed;
        ASSERT_EQ(parseSignature(text, parsed), "");
        EXPECT_EQ(parsed.prehashed, prehashed);
        EXPECT_EQ(parsed.keyId, pair.publicKey.keyId);
        EXPECT_EQ(parsed.trustedComment, "timestamp:1\tfile:fw.bird");
        EXPECT_EQ(formatSignature(parsed), text);

        PublicKey key;
        ASSERT_EQ(parsePublicKey(formatPublicKey(pair.publicKey, "a key"), key), "");
        EXPECT_EQ(verifyText(kFirmware, parsed, key), Verdict::Good);
    }
}

TEST(MinisignFormat, EveryChangeAfterSigningIsCaught) {
    const KeyPair pair = generateKeyPair(), other = generateKeyPair();
    for (bool prehashed : {true, false}) {
        SCOPED_TRACE(prehashed ? "prehashed" : "legacy");
        const Signature good = signText(pair, kFirmware, prehashed);

        std::string flipped = kFirmware;
        flipped[5] ^= 0x01;
        EXPECT_EQ(verifyText(flipped, good, pair.publicKey), Verdict::BadSignature);
        EXPECT_EQ(verifyText(kFirmware + "x", good, pair.publicKey), Verdict::BadSignature);

        Signature comment = good;
        comment.trustedComment += " (changed)";
        EXPECT_EQ(verifyText(kFirmware, comment, pair.publicKey), Verdict::BadGlobalSignature);

        Signature algorithm = good;
        algorithm.prehashed = !prehashed;
        EXPECT_EQ(verifyText(kFirmware, algorithm, pair.publicKey), Verdict::BadSignature);

        EXPECT_EQ(verifyText(kFirmware, good, other.publicKey), Verdict::OtherKey);
        // Another key that claims this key's id still does not verify.
        PublicKey impostor = other.publicKey;
        impostor.keyId = pair.publicKey.keyId;
        EXPECT_EQ(verifyText(kFirmware, good, impostor), Verdict::BadSignature);
    }
}

TEST(MinisignFormat, MalformedSignaturesAreRefused) {
    const KeyPair pair = generateKeyPair();
    const std::string good = formatSignature(signText(pair, kFirmware, true));
    const size_t l1 = good.find('\n'), l2 = good.find('\n', l1 + 1), l3 = good.find('\n', l2 + 1);
    const std::string line1 = good.substr(0, l1), line2 = good.substr(l1 + 1, l2 - l1 - 1),
                      line3 = good.substr(l2 + 1, l3 - l2 - 1), line4 = good.substr(l3 + 1);
    const std::string otherAlgorithm = "RX" + line2.substr(2); // "Et": no such algorithm
    const struct {
        const char* name;
        std::string text;
    } cases[] = {
        {"empty", ""},
        {"truncated to three lines", line1 + "\n" + line2 + "\n" + line3 + "\n"},
        {"cut inside the global signature", good.substr(0, good.size() - 10)},
        {"no untrusted comment", "comment: x\n" + line2 + "\n" + line3 + "\n" + line4},
        {"no trusted comment", line1 + "\n" + line2 + "\ncomment: x\n" + line4},
        {"unknown algorithm", line1 + "\n" + otherAlgorithm + "\n" + line3 + "\n" + line4},
        {"signature line too short", line1 + "\n" + line2.substr(4) + "\n" + line3 + "\n" + line4},
        {"signature line not Base64",
         line1 + "\n" + std::string(line2.size(), '*') + "\n" + line3 + "\n" + line4},
        {"a fifth line", good + "extra\n"},
        {"a NUL in a comment", line1 + std::string(1, '\0') + "\n" + line2 + "\n" + line3 + "\n" + line4},
        {"a stray carriage return", line1 + "\r\r\n" + line2 + "\n" + line3 + "\n" + line4},
        {"too long", line1 + std::string(kMaxFileBytes, 'c') + "\n" + line2 + "\n" + line3 + "\n" + line4},
    };
    for (const auto& c : cases) {
        Signature parsed;
        EXPECT_NE(parseSignature(c.text, parsed), "") << c.name;
    }
    Signature parsed;
    EXPECT_EQ(parseSignature(line1 + "\r\n" + line2 + "\r\n" + line3 + "\r\n" +
                                 line4.substr(0, line4.size() - 1) + "\r\n",
                             parsed),
              "")
        << "line ends with carriage returns";
    EXPECT_EQ(parseSignature(good.substr(0, good.size() - 1), parsed), "") << "no final line end";
}

TEST(MinisignFormat, MalformedPublicKeysAreRefused) {
    const KeyPair pair = generateKeyPair();
    const std::string line = publicKeyLine(pair.publicKey);
    const std::string signatureLike = "RU" + line.substr(2); // "ED": a signature's algorithm
    const struct {
        const char* name;
        std::string text;
    } cases[] = {
        {"empty", ""},
        {"key line alone", line + "\n"},
        {"no untrusted comment", "minisign key\n" + line + "\n"},
        {"wrong algorithm", "untrusted comment: k\n" + signatureLike + "\n"},
        {"key cut short", "untrusted comment: k\n" + line.substr(0, line.size() - 4) + "\n"},
        {"a third line", "untrusted comment: k\n" + line + "\nmore\n"},
    };
    for (const auto& c : cases) {
        PublicKey key;
        EXPECT_NE(parsePublicKey(c.text, key), "") << c.name;
    }
}

TEST(MinisignFormat, SecretKeysReadBackWithTheirPasswordOnly) {
    const KeyPair pair = generateKeyPair();
    const KdfCost cheap = {crypto_pwhash_scryptsalsa208sha256_OPSLIMIT_INTERACTIVE, 8u * 1024 * 1024};
    for (const std::string password : {"", "lab password"}) {
        SCOPED_TRACE(password.empty() ? "unprotected" : "protected");
        const std::string text = formatSecretKey(pair.secretKey, password, cheap);
        EXPECT_EQ(secretKeyIsProtected(text), !password.empty());
        SecretKey key;
        ASSERT_EQ(parseSecretKey(text, password, key), "");
        EXPECT_EQ(key.keyId, pair.secretKey.keyId);
        EXPECT_EQ(key.key, pair.secretKey.key);
        const PublicKey derived = publicKeyOf(key);
        EXPECT_EQ(derived.key, pair.publicKey.key);
        if (!password.empty()) {
            EXPECT_NE(parseSecretKey(text, "wrong", key), "");
        }
    }
    SecretKey key;
    EXPECT_NE(parseSecretKey("untrusted comment: x\nAAAA\n", "", key), "");
}
