#include "json/CDataScanner.h"
#include "json/TextCodec.h"

#include "TestBytes.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace json;

TEST(CDataScanner, WhitespaceNumberAndCharacter)
{
    auto scanner = CDataScanner::scannerWithData(bytesOf("  12 x"));
    scanner->skipWhitespace();
    EXPECT_EQ(scanner->scanLocation(), 2u);
    double number = -1;
    EXPECT_TRUE(scanner->scanNumber(&number));
    EXPECT_EQ(number, 12.0);
    EXPECT_EQ(scanner->scanLocation(), 4u);
    EXPECT_FALSE(scanner->scanCharacter(u'x'));
    EXPECT_EQ(scanner->scanLocation(), 4u);
    scanner->skipWhitespace();
    EXPECT_TRUE(scanner->scanCharacter(u'x'));
    EXPECT_TRUE(scanner->isAtEnd());
}

TEST(CDataScanner, EndOfDataReadsNothing)
{
    auto scanner = CDataScanner::scannerWithData(bytesOf("a"));
    EXPECT_EQ(scanner->scanCharacter(), u'a');
    EXPECT_EQ(scanner->currentCharacter(), 0);
    EXPECT_EQ(scanner->scanCharacter(), 0);
    EXPECT_FALSE(scanner->scanCharacter(u'\0'));
    EXPECT_EQ(scanner->scanLocation(), 1u);
    // A location past the end is held at the end.
    scanner->setScanLocation(100);
    EXPECT_EQ(scanner->scanLocation(), 1u);
    EXPECT_EQ(scanner->currentCharacter(), 0);
}

TEST(CDataScanner, NoDataOrEmptyDataIsAtEnd)
{
    CDataScanner none;
    EXPECT_TRUE(none.isAtEnd());
    EXPECT_EQ(none.currentCharacter(), 0);
    EXPECT_FALSE(none.scanNumber());
    EXPECT_FALSE(none.scanUTF8String("a"));
    auto empty = CDataScanner::scannerWithData(bytesOf(""));
    EXPECT_TRUE(empty->isAtEnd());

    auto scanner = CDataScanner::scannerWithData(bytesOf("ab"));
    scanner->scanCharacter();
    scanner->setData(scanner->data()); // the same buffer: nothing happens
    EXPECT_EQ(scanner->scanLocation(), 1u);
    scanner->setData(nullptr);
    EXPECT_EQ(scanner->data(), nullptr);
    EXPECT_TRUE(scanner->isAtEnd());
    EXPECT_EQ(scanner->scanCharacter(), 0);
}

TEST(CDataScanner, NumberStopsInFrontOfPlus)
{
    auto scanner = CDataScanner::scannerWithData(bytesOf("1e+5"));
    double number = -1;
    EXPECT_TRUE(scanner->scanNumber(&number));
    EXPECT_EQ(number, 1.0);
    EXPECT_EQ(scanner->scanLocation(), 2u);
    EXPECT_EQ(scanner->currentCharacter(), u'+');
    EXPECT_FALSE(scanner->scanNumber());
}

struct NumberCase {
    const char* run;
    double value;
};

class CDataScannerNumberValue : public testing::TestWithParam<NumberCase> {};

TEST_P(CDataScannerNumberValue, LongestLeadingDecimalNumber)
{
    auto scanner = CDataScanner::scannerWithData(bytesOf(GetParam().run));
    double number = -12345;
    ASSERT_TRUE(scanner->scanNumber(&number));
    EXPECT_TRUE(scanner->isAtEnd()) << "the whole run is consumed";
    if (std::isinf(GetParam().value))
        EXPECT_EQ(number, GetParam().value);
    else
        EXPECT_DOUBLE_EQ(number, GetParam().value);
    EXPECT_EQ(std::signbit(number), std::signbit(GetParam().value)) << GetParam().run;
}

INSTANTIATE_TEST_SUITE_P(Runs, CDataScannerNumberValue,
    testing::Values(NumberCase { "-12.5e3", -12500 }, NumberCase { "-", 0 }, NumberCase { "e", 0 },
        NumberCase { "1-2", 1 }, NumberCase { "1.2.3", 1.2 }, NumberCase { "01", 1 }, NumberCase { "1e", 1 },
        NumberCase { "1e-", 1 }, NumberCase { "2E2", 200 }, NumberCase { ".5", 0.5 }, NumberCase { "-.5", -0.5 },
        NumberCase { "1.", 1 }, NumberCase { "-0", -0.0 }, NumberCase { "1e400", HUGE_VAL },
        NumberCase { "-1e400", -HUGE_VAL }, NumberCase { "1e-400", 0 }, NumberCase { "-1e-400", -0.0 },
        NumberCase { "4e-320", 4e-320 }, NumberCase { "1e99999999999999999999", HUGE_VAL },
        NumberCase { "0e99999999999", 0 }, NumberCase { "0.1", 0.1 }),
    [](const testing::TestParamInfo<NumberCase>& info) { return std::to_string(info.index); });

TEST(CDataScanner, OwnNumberCharacters)
{
    auto scanner = CDataScanner::scannerWithData(bytesOf("12+3"));
    scanner->setDoubleCharacters(CharacterSet::shared("0123456789+"));
    double number = 0;
    EXPECT_TRUE(scanner->scanNumber(&number));
    EXPECT_EQ(number, 12);
    EXPECT_TRUE(scanner->isAtEnd());
}

TEST(CDataScanner, UTF8StringNeedsEveryByte)
{
    auto scanner = CDataScanner::scannerWithData(bytesOf("tru"));
    EXPECT_FALSE(scanner->scanUTF8String("true"));
    EXPECT_EQ(scanner->scanLocation(), 0u);
    std::optional<Text> text;
    EXPECT_TRUE(scanner->scanUTF8String("tr", &text));
    EXPECT_EQ(text, u"tr");
    EXPECT_EQ(scanner->scanLocation(), 2u);
    EXPECT_TRUE(scanner->scanString(u"u", &text));
    EXPECT_TRUE(scanner->isAtEnd());
}

TEST(CDataScanner, UpToString)
{
    auto scanner = CDataScanner::scannerWithData(bytesOf("aab"));
    std::optional<Text> text;
    EXPECT_FALSE(scanner->scanUpToString(u"z", &text));
    EXPECT_EQ(scanner->scanLocation(), 0u);
    EXPECT_TRUE(scanner->scanUpToString(u"b", &text));
    EXPECT_EQ(text, u"aa");
    EXPECT_EQ(scanner->currentCharacter(), u'b');

    // The search ends at a zero byte.
    auto withZero = CDataScanner::scannerWithData(std::make_shared<const Bytes>(Bytes { 'a', 0, 'b' }));
    EXPECT_FALSE(withZero->scanUpToString(u"b"));
}

TEST(CDataScanner, CharacterRuns)
{
    auto digits = CharacterSet::characterSetWithCharactersInString("0123456789");
    auto scanner = CDataScanner::scannerWithData(bytesOf("x12y"));
    std::optional<Text> text;
    EXPECT_FALSE(scanner->scanCharactersFromSet(digits, &text));
    EXPECT_TRUE(scanner->scanUpToCharactersFromSet(digits, &text));
    EXPECT_EQ(text, u"x");
    EXPECT_TRUE(scanner->scanCharactersFromSet(digits, &text));
    EXPECT_EQ(text, u"12");
    EXPECT_FALSE(scanner->scanCharactersFromSet(digits));
    EXPECT_EQ(scanner->remainingString(), u"y");
}

TEST(CDataScanner, InvalidUTF8GivesNoTextButMoves)
{
    auto scanner = CDataScanner::scannerWithData(std::make_shared<const Bytes>(Bytes { 0xC3, 0x28, ' ' }));
    std::optional<Text> text = u"untouched";
    EXPECT_TRUE(scanner->scanUpToCharactersFromSet(CharacterSet::characterSetWithCharactersInString(" "), &text));
    EXPECT_FALSE(text.has_value());
    EXPECT_EQ(scanner->scanLocation(), 2u);
}

TEST(CDataScanner, HighBytesAreNotWhitespace)
{
    // 0x85 and 0xA0 are white space in some encodings, never here.
    auto scanner = CDataScanner::scannerWithData(std::make_shared<const Bytes>(Bytes { ' ', 0x0B, 0x85, 0xA0 }));
    scanner->skipWhitespace();
    EXPECT_EQ(scanner->scanLocation(), 2u);
}
