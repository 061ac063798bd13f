#include "json/TextCodec.h"

#include <gtest/gtest.h>

using namespace json;

TEST(TextCodec, DecodesEveryLengthOfSequence)
{
    // Long enough to take the eight-byte ASCII path as well as the slow one.
    std::string input = "plain ascii text, " "\xC3\xA9" "\xE2\x82\xAC" "\xF0\x9F\x98\x80" " end";
    auto text = TextCodec::fromUTF8(input);
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, u"plain ascii text, \u00e9\u20ac\U0001F600 end");
    EXPECT_EQ(TextCodec::toUTF8(*text), input);
}

TEST(TextCodec, RefusesInvalidUTF8)
{
    for (std::string bad : { "\x80", "\xC0\x80", "\xC1\xBF", "\xE0\x80\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80",
             "\xF5\x80\x80\x80", "\xC3", "\xE2\x82", "abcdefgh\xFF", "\xF0\x9F\x98" }) {
        EXPECT_FALSE(TextCodec::fromUTF8(bad)) << testing::PrintToString(bad);
        Text kept = u"kept";
        EXPECT_FALSE(TextCodec::appendUTF8(reinterpret_cast<const std::uint8_t*>(bad.data()), bad.size(), kept));
        EXPECT_EQ(kept, u"kept");
    }
    EXPECT_TRUE(TextCodec::fromUTF8("\xEF\xBF\xBF\xF4\x8F\xBF\xBF"));
}

TEST(TextCodec, LoneSurrogatesBecomeReplacementCharacters)
{
    Text text = u"a";
    text.push_back(0xD800);
    text.push_back(u'b');
    text.push_back(0xDC00);
    EXPECT_EQ(TextCodec::toUTF8(text), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
}
