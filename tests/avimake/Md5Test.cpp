#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "Programs.h"
#include "common/Md5.h"
#include "support/TempDir.h"

namespace {

using tools::Md5;

std::string Hex(const std::string& text) { return Md5::Hex(text.data(), text.size()); }

TEST(Md5, MatchesTheRfc1321TestSuite) {
    EXPECT_EQ(Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(Hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    std::string digits;
    for (int i = 0; i < 8; ++i) digits += "1234567890";
    EXPECT_EQ(Hex(digits), "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5, AgreesWithMd5sumAroundThePaddingBoundaries) {
    testsupport::TempDir dir;
    for (size_t length : {55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 1000u}) {
        std::string data;
        for (size_t i = 0; i < length; ++i) data += static_cast<char>('a' + i * 7 % 26);
        const std::string path = dir.File("data");
        FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(data.data(), 1, data.size(), f);
        std::fclose(f);
        const std::string md5sum =
            avimaketest::Capture("md5sum " + avimaketest::ShellQuote(path)).substr(0, 32);
        EXPECT_EQ(Hex(data), md5sum) << "length " << length;
    }
}

TEST(Md5, PiecewiseUpdatesGiveTheOneShotDigest) {
    std::vector<uint8_t> data(1000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 131 + 7);
    const std::string whole = Md5::Hex(data.data(), data.size());
    for (size_t piece : {1u, 3u, 63u, 64u, 65u, 500u}) {
        Md5 md5;
        for (size_t at = 0; at < data.size(); at += piece) {
            md5.Update(&data[at], std::min(piece, data.size() - at));
        }
        EXPECT_EQ(md5.HexDigest(), whole) << "pieces of " << piece;
    }
}

}  // namespace
