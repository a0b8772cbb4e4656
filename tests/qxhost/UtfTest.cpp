#include <gtest/gtest.h>

#include "Utf.h"

namespace qxhost {
namespace {

TEST(Utf8ToUtf16, ConvertsEachEncodedLength) {
    std::u16string out;
    ASSERT_TRUE(Utf8ToUtf16("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xAC", out));  // a é € 🎬
    EXPECT_EQ(out, (std::u16string{u'a', 0x00E9, 0x20AC, 0xD83C, 0xDFAC}));
}

TEST(Utf8ToUtf16, RefusesMalformedInput) {
    std::u16string out;
    EXPECT_FALSE(Utf8ToUtf16("\xC3", out));              // cut short
    EXPECT_FALSE(Utf8ToUtf16("\xC0\xAF", out));          // overlong '/'
    EXPECT_FALSE(Utf8ToUtf16("\xED\xA0\x80", out));      // a surrogate
    EXPECT_FALSE(Utf8ToUtf16("\xF4\x90\x80\x80", out));  // above U+10FFFF
    EXPECT_FALSE(Utf8ToUtf16("\xE2\x28\xA1", out));      // bad continuation
    EXPECT_FALSE(Utf8ToUtf16("\xFF", out));
}

}  // namespace
}  // namespace qxhost
