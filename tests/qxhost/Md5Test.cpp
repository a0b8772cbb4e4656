#include <gtest/gtest.h>

#include <string>

#include "Md5.h"

namespace qxhost {
namespace {

std::string HexOf(const std::string& text) { return Md5::Hex(text.data(), text.size()); }

TEST(Md5, MatchesTheReferenceDigestsOfRfc1321) {
    EXPECT_EQ(HexOf(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(HexOf("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(HexOf("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(HexOf("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(HexOf("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(HexOf("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(HexOf("1234567890123456789012345678901234567890"
                    "1234567890123456789012345678901234567890"),
              "57edf4a22be3c955ac49da2e2107b67a");
}

// Lengths around the 56-byte padding limit and the 64-byte block, where the
// length field moves into an extra block.
TEST(Md5, PadsMessagesAroundTheBlockBoundaryCorrectly) {
    const struct {
        size_t length;
        const char* digest;
    } cases[] = {
        {55, "ef1772b6dff9a122358552954ad0df65"},  {56, "3b0c8ac703f828b04c6c197006d17218"},
        {63, "b06521f39153d618550606be297466d5"},  {64, "014842d480b571495a4a0363793f7367"},
        {65, "c743a45e0d2e6a95cb859adae0248435"},  {127, "020406e1d05cdc2aa287641f7ae2cc39"},
        {128, "e510683b3f5ffe4093d021808bc6ff70"}, {1000, "cabe45dcc9ae5b66ba86600cca6b8ba8"}};
    for (const auto& c : cases) {
        EXPECT_EQ(HexOf(std::string(c.length, 'a')), c.digest) << c.length << " bytes";
    }
}

TEST(Md5, GivesTheSameDigestWhenFedInUnevenPieces) {
    std::string message;
    for (int i = 0; i < 5000; ++i) message += static_cast<char>((i * 131 + 7) & 0xFF);
    const std::string whole = HexOf(message);
    for (size_t piece : {1u, 3u, 63u, 64u, 65u, 1000u}) {
        Md5 md5;
        for (size_t at = 0; at < message.size(); at += piece) {
            md5.Update(message.data() + at, std::min(piece, message.size() - at));
        }
        EXPECT_EQ(Md5::ToHex(md5.Final()), whole) << "pieces of " << piece;
    }
}

TEST(Md5, StartsAFreshMessageAfterReset) {
    Md5 md5;
    md5.Update("garbage", 7);
    md5.Final();
    md5.Reset();
    md5.Update("abc", 3);
    EXPECT_EQ(Md5::ToHex(md5.Final()), "900150983cd24fb0d6963f7d28e17f72");
}

}  // namespace
}  // namespace qxhost
