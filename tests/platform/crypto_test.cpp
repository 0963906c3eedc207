#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/crypto/Base64.h"
#include "platform/crypto/Digest.h"
#include "platform/crypto/Hmac.h"

namespace platform::crypto {
namespace {

using Algo = Digest::Algorithm;

const std::string kAbc448 = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
const std::string kAbc896 =
    "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopq"
    "rsmnopqrstnopqrstu";
const std::string kMillionA(1000000, 'a');

struct DigestVector {
    Algo algorithm;
    const std::string* message;
    const char* hex;
};

std::string hexOf(Algo a, std::string_view text) {
    return Digest::hex(Digest::of(a, text));
}

TEST(DigestTest, PublishedVectors) {
    const std::string empty, abc = "abc";
    const DigestVector vectors[] = {
        {Algo::MD5, &empty, "d41d8cd98f00b204e9800998ecf8427e"},
        {Algo::MD5, &abc, "900150983cd24fb0d6963f7d28e17f72"},
        {Algo::SHA1, &abc, "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {Algo::SHA1, &kAbc448, "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {Algo::SHA1, &kMillionA, "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
        {Algo::SHA256, &empty, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {Algo::SHA256, &abc, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {Algo::SHA256, &kAbc448,
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {Algo::SHA256, &kMillionA,
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        {Algo::SHA512, &abc,
         "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a"
         "3"
         "feebbd454d4423643ce80e2a9ac94fa54ca49f"},
        {Algo::SHA512, &kAbc896,
         "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018501d289e4900f7e4331b99dec"
         "4"
         "b5433ac7d329eeb6dd26545e96e55b874be909"},
        {Algo::SHA512, &kMillionA,
         "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973ebde0ff244877ea60a4cb0432ce"
         "5"
         "77c31beb009c5c2c49aa2e4eadb217ad8cc09b"},
    };
    for (const DigestVector& v : vectors) {
        EXPECT_EQ(hexOf(v.algorithm, *v.message), v.hex) << v.message->substr(0, 20);
        EXPECT_EQ(Digest::of(v.algorithm, *v.message).size(), Digest::length(v.algorithm));
    }
}

TEST(DigestTest, RFC1321Suite) {
    EXPECT_EQ(hexOf(Algo::MD5, "message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(hexOf(Algo::MD5, "abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(hexOf(Algo::MD5,
                    "1234567890123456789012345678901234567890123456789012345678901234"
                    "5678901234567890"),
              "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(DigestTest, IncrementalFinishIsNonDestructive) {
    for (Algo a : {Algo::MD5, Algo::SHA1, Algo::SHA256, Algo::SHA512}) {
        Digest digest(a);
        // Odd piece sizes cross the 64- and 128-byte block boundaries.
        size_t offset = 0;
        for (size_t piece : {1u, 63u, 2u, 127u, 1000u, 7u}) {
            digest.update(std::string_view(kMillionA).substr(offset, piece));
            offset += piece;
            EXPECT_EQ(digest.finish(), Digest::of(a, kMillionA.substr(0, offset)));
            EXPECT_EQ(digest.finish(), digest.finish());
        }
        digest.update(std::string_view(kMillionA).substr(offset));
        EXPECT_EQ(digest.finishHex(), hexOf(a, kMillionA));
    }
}

TEST(DigestTest, MovedDigestKeepsItsState) {
    Digest a(Algo::SHA1);
    a.update("ab");
    Digest b = std::move(a);
    b.update(std::string_view("c"));
    EXPECT_EQ(b.finishHex(), "a9993e364706816aba3e25717850c26c9cd0d89d");
}

Bytes repeat(uint8_t byte, size_t n) {
    return Bytes(n, byte);
}

TEST(HmacTest, RFC2202Sha1) {
    Bytes key25;
    for (uint8_t i = 1; i <= 25; ++i) {
        key25.push_back(i);
    }
    EXPECT_EQ(Digest::hex(Hmac::sha1(std::string(20, '\x0b'), "Hi There")),
              "b617318655057264e28bc0b6fb378c8ef146be00");
    EXPECT_EQ(Digest::hex(Hmac::sha1("Jefe", "what do ya want for nothing?")),
              "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79");
    EXPECT_EQ(Digest::hex(Hmac::sha1(repeat(0xaa, 20), repeat(0xdd, 50))),
              "125d7342b9ac11cd91a39af48aa17b4f63f175d3");
    EXPECT_EQ(Digest::hex(Hmac::sha1(key25, repeat(0xcd, 50))),
              "4c9007f4026250c6bc8414f9bf50c86c2d7235da");
    const std::string longKey(80, '\xaa');
    EXPECT_EQ(
        Digest::hex(Hmac::sha1(longKey, "Test Using Larger Than Block-Size Key - Hash Key First")),
        "aa4ae5e15272d00e95705637ce8a3b55ed402112");
    EXPECT_EQ(
        Digest::hex(Hmac::sha1(
            longKey, "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data")),
        "e8e99d0f45237d786d6bbaa7965c7808bbff1a91");
}

TEST(HmacTest, RFC2202Md5) {
    Bytes key25;
    for (uint8_t i = 1; i <= 25; ++i) {
        key25.push_back(i);
    }
    EXPECT_EQ(Digest::hex(Hmac::md5(std::string(16, '\x0b'), "Hi There")),
              "9294727a3638bb1c13f48ef8158bfc9d");
    EXPECT_EQ(Digest::hex(Hmac::md5("Jefe", "what do ya want for nothing?")),
              "750c783e6ab0b503eaa86e310a5db738");
    EXPECT_EQ(Digest::hex(Hmac::md5(repeat(0xaa, 16), repeat(0xdd, 50))),
              "56be34521d144c88dbb8c733f0e8b3f6");
    EXPECT_EQ(Digest::hex(Hmac::md5(key25, repeat(0xcd, 50))), "697eaf0aca3a3aea3a75164746ffaa79");
    const std::string longKey(80, '\xaa');
    EXPECT_EQ(
        Digest::hex(Hmac::md5(longKey, "Test Using Larger Than Block-Size Key - Hash Key First")),
        "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd");
    EXPECT_EQ(
        Digest::hex(Hmac::md5(
            longKey, "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data")),
        "6f630fad67cda0ee1fb1f562db3aa53e");
}

TEST(HmacTest, EmptyKeyAndMessage) {
    // Cross-checked with Python's hmac module.
    EXPECT_EQ(Digest::hex(Hmac::sha1("", "")), "fbdb1d1b18aa6c08324b7d64b71fb76370690e1d");
    EXPECT_EQ(Digest::hex(Hmac::md5("", "")), "74e6f7298a9c2d168935f58c001bad88");
}

TEST(Base64Test, RFC4648Vectors) {
    const std::pair<const char*, const char*> vectors[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
    };
    for (auto [plain, encoded] : vectors) {
        EXPECT_EQ(Base64::encode(std::string_view(plain)), encoded);
        auto decoded = Base64::decode(encoded);
        ASSERT_TRUE(decoded) << encoded;
        EXPECT_EQ(std::string(decoded->begin(), decoded->end()), plain);
    }
}

TEST(Base64Test, EveryByteValueRoundTripsWithoutLineBreaks) {
    Bytes all;
    for (int i = 0; i < 256 * 3; ++i) {
        all.push_back(static_cast<uint8_t>(i));
    }
    std::string text = Base64::encode(all);
    EXPECT_EQ(text.size(), 1024u);
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos);
    EXPECT_EQ(
        text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"),
        std::string::npos);
    EXPECT_EQ(Base64::decode(text), all);
}

TEST(Base64Test, DecodeRejectsBadInput) {
    for (const char* bad :
         {"Zg", "Zg=", "Zm9", "Z===", "====", "Zg==Zg==", "Zm9v\n", " Zm9v", "Zm-v", "Zm_v",
          "Zm9v====", "Zh==", "Zm9=", "Zm=v", "=m9v", "Zm9vYmFy\r\n"}) {
        EXPECT_FALSE(Base64::decode(bad)) << bad;
    }
    EXPECT_FALSE(Base64::decode(std::string_view("Zm\0v", 4)));
}

}  // namespace
}  // namespace platform::crypto
