#include "kit/core/Utf8.h"
#include "kit/core/Utf8Decoder.h"

#include <gtest/gtest.h>

namespace {

const std::string fffd = "\xEF\xBF\xBD";

TEST(Utf8Test, AppendsEachLengthAndReplacesWhatIsNoCharacter)
{
    std::string out;
    for (char32_t c : { U'A', U'\u00E9', U'\u263A', U'\U0001F600', U'\U0010FFFF' })
        kit::appendUtf8(out, c);
    EXPECT_EQ(out, "A\xC3\xA9\xE2\x98\xBA\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF");
    out.clear();
    for (char32_t c : { char32_t(0xD800), char32_t(0xDFFF), char32_t(0x110000), char32_t(0xFFFFFFFF) })
        kit::appendUtf8(out, c);
    EXPECT_EQ(out, fffd + fffd + fffd + fffd);
}

TEST(Utf8DecoderTest, ACharacterSplitAcrossReadsIsCarriedToTheNextRead)
{
    const std::string euro = "\xE2\x82\xAC", pile = "\xF0\x9F\x92\xA9";
    kit::Utf8Decoder d;
    EXPECT_EQ(d.decode("a\xE2"), "a");
    EXPECT_TRUE(d.hasPending());
    EXPECT_EQ(d.decode("\x82"), "");
    EXPECT_EQ(d.decode("\xAC" "b"), euro + "b");
    EXPECT_EQ(d.decode(pile.substr(0, 1)), "");
    EXPECT_EQ(d.decode(pile.substr(1)), pile);
    EXPECT_FALSE(d.hasPending());
}

TEST(Utf8DecoderTest, InvalidBytesBecomeReplacementCharacters)
{
    struct Case {
        std::string in, out;
    } cases[] = {
        { "ok\xFFok", "ok" + fffd + "ok" },
        { "\xC0\xAF", fffd + fffd },                 // overlong
        { "\xED\xA0\x80", fffd + fffd + fffd },      // surrogate
        { "\xE2\x28\xA1", fffd + "(" + fffd },        // broken continuation
        { "\xF4\x90\x80\x80", fffd + fffd + fffd + fffd }, // above U+10FFFF
        { std::string("nul\0in", 6), std::string("nul\0in", 6) },
    };
    for (auto& c : cases) {
        kit::Utf8Decoder d;
        EXPECT_EQ(d.decode(c.in), c.out);
    }
}

TEST(Utf8DecoderTest, AnUnfinishedSequenceAtTheEndBecomesOneReplacement)
{
    kit::Utf8Decoder d;
    EXPECT_EQ(d.decode("x\xF0\x9F"), "x");
    EXPECT_EQ(d.finish(), fffd);
    EXPECT_EQ(d.finish(), "");
}

} // namespace
