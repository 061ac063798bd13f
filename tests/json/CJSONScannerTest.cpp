#include "json/CJSONScanner.h"

#include "TestBytes.h"

#include <gtest/gtest.h>

using namespace json;

namespace {

// Reads one value with scanJSONObject; "error N" when the scan fails with a
// stored scanner error, "none" when it fails without one.
std::string scanObject(std::string_view input)
{
    auto scanner = CJSONScanner::scannerWithData(bytesOf(input));
    Value value;
    Error error;
    if (!scanner->scanJSONObject(&value, &error)) {
        if (error.domain.empty())
            return "none";
        EXPECT_EQ(error.domain, kJSONScannerErrorDomain);
        EXPECT_EQ(error.localizedDescription, CJSONScanner::errorWithCode(error.code).localizedDescription);
        return "error " + std::to_string(error.code);
    }
    return value.canonicalJSON();
}

} // namespace

struct ScanCase {
    const char* input;
    const char* expected;
};

class CJSONScannerObject : public testing::TestWithParam<ScanCase> {};

TEST_P(CJSONScannerObject, Reads)
{
    EXPECT_EQ(scanObject(GetParam().input), GetParam().expected) << "input: " << GetParam().input;
}

INSTANTIATE_TEST_SUITE_P(Values, CJSONScannerObject,
    testing::Values(
        ScanCase { R"({"a":1})", R"({"a":1})" },
        ScanCase { "{ \n\t }", "{}" },
        ScanCase { "[ \r\n ]", "[]" },
        ScanCase { R"({"a":1,})", R"({"a":1})" },
        ScanCase { "[1, 2,]", "[1,2]" },
        ScanCase { "[,]", "error -8" },
        ScanCase { "[1,,2]", "error -8" },
        ScanCase { R"({,})", "error -2" },
        ScanCase { R"({"a":tru})", "error -4" },
        ScanCase { R"({'a':1})", "error -2" },
        ScanCase { R"({"a" 1})", "error -3" },
        ScanCase { R"({"a":1 "b":2})", "error -5" },
        ScanCase { R"({"k":1,"k":2})", R"({"k":2})" },
        ScanCase { R"({"b":1,"a":2,"c":3})", R"({"a":2,"b":1,"c":3})" },
        ScanCase { R"(["\u00e9\n"])", R"(["\u00e9\u000a"])" },
        ScanCase { R"(["\/\\\"\b\f\r\t"])", R"(["/\\\"\u0008\u000c\u000d\u0009"])" },
        ScanCase { R"("\u12G4")", "error -12" },
        ScanCase { R"("\x")", "error -13" },
        ScanCase { R"("\uD83D\uDE00")", R"("\ud83d\ude00")" },
        ScanCase { R"("\uDC00 lone")", R"("\udc00 lone")" },
        ScanCase { "\"tab\tand\x01raw\"", R"("tab\u0009and\u0001raw")" },
        ScanCase { "\"caf\xC3\xA9\"", R"("caf\u00e9")" },
        ScanCase { "'a'", "error -11" },
        ScanCase { "[-]", "[0]" },
        ScanCase { "[1e+5]", "error -9" },
        ScanCase { "[.5]", "error -8" },
        ScanCase { "[+1]", "error -8" },
        ScanCase { "[01, 1-2, 1.2.3]", "[1,1,1.2]" },
        ScanCase { "  true", "true" },
        ScanCase { "truex", "true" },
        ScanCase { "[false,null]", "[false,null]" },
        ScanCase { "True", "none" },
        ScanCase { "nul", "none" },
        ScanCase { "", "none" },
        ScanCase { "}", "none" },
        // Errors deep inside reach the caller as the outermost container's.
        ScanCase { R"({"\x":1})", "error -2" },
        ScanCase { R"({"a":[1 2]})", "error -4" },
        ScanCase { R"([{"a" 1}])", "error -8" },
        // Strings cut off by the end of the data.
        ScanCase { R"("abc)", "error -15" },
        ScanCase { R"(["abc)", "error -8" },
        ScanCase { R"("abc\)", "error -13" },
        ScanCase { R"("\u12)", "error -12" },
        // Bytes that are no UTF-8 inside a string.
        ScanCase { "\"a\xFF\"", "error -16" },
        ScanCase { "\"\xC0\xAF\"", "error -16" },
        ScanCase { "\"\xED\xA0\x80\"", "error -16" },
        // Containers cut off by the end of the data.
        ScanCase { "[", "error -8" },
        ScanCase { "[1", "error -9" },
        ScanCase { "{", "error -2" },
        ScanCase { R"({"a")", "error -3" },
        ScanCase { R"({"a":)", "error -4" },
        ScanCase { R"({"a":1)", "error -5" }),
    [](const testing::TestParamInfo<ScanCase>& info) { return std::to_string(info.index); });

TEST(CJSONScanner, FailureLeavesPositionWhereTheScanBegan)
{
    auto scanner = CJSONScanner::scannerWithData(bytesOf(R"(x  "ab\q" [1,{"a" 2}])"));
    scanner->setScanLocation(1);
    Text text;
    Error error;
    EXPECT_FALSE(scanner->scanJSONStringConstant(&text, &error));
    EXPECT_EQ(error.code, kJSONScannerErrorCodeStringEscape);
    EXPECT_EQ(scanner->scanLocation(), 1u) << "in front of the skipped white space";

    scanner->setScanLocation(10);
    List list;
    EXPECT_FALSE(scanner->scanJSONArray(&list, &error));
    EXPECT_EQ(error.code, kJSONScannerErrorCodeArrayValue);
    EXPECT_EQ(scanner->scanLocation(), 10u);

    // A failed literal stores no error and stays after the white space.
    auto literal = CJSONScanner::scannerWithData(bytesOf("  tru"));
    Error untouched(std::string("mine"), 7);
    EXPECT_FALSE(literal->scanJSONObject(nullptr, &untouched));
    EXPECT_EQ(untouched, Error(std::string("mine"), 7));
    EXPECT_EQ(literal->scanLocation(), 2u);
}

TEST(CJSONScanner, ContainersStartExactlyAtThePosition)
{
    auto scanner = CJSONScanner::scannerWithData(bytesOf(" {}"));
    Error error;
    EXPECT_FALSE(scanner->scanJSONDictionary(nullptr, &error));
    EXPECT_EQ(error.code, kJSONScannerErrorCodeDictionaryStart);
    EXPECT_FALSE(scanner->scanJSONArray(nullptr, &error));
    EXPECT_EQ(error.code, kJSONScannerErrorCodeArrayStart);
    EXPECT_EQ(error.localizedDescription, "Could not scan array. Array that does not start with '[' character.");
    EXPECT_FALSE(scanner->scanJSONNumberConstant(nullptr, &error));
    EXPECT_EQ(error.code, kJSONScannerErrorCodeNumber);
    EXPECT_EQ(scanner->scanLocation(), 0u);
}

TEST(CJSONScanner, ScansWithoutResultPlaces)
{
    auto scanner = CJSONScanner::scannerWithData(bytesOf(R"({"a":[1,"x"]} "s" 5)"));
    EXPECT_TRUE(scanner->scanJSONDictionary(nullptr, nullptr));
    EXPECT_TRUE(scanner->scanJSONStringConstant(nullptr, nullptr));
    scanner->skipWhitespace();
    EXPECT_TRUE(scanner->scanJSONNumberConstant(nullptr, nullptr));
    EXPECT_TRUE(scanner->isAtEnd());
}

TEST(CJSONScanner, NotQuoteCharacters)
{
    auto scanner = CJSONScanner::scannerWithData(bytesOf("ab\\c\"d"));
    std::optional<Text> text;
    EXPECT_TRUE(scanner->scanNotQuoteCharactersIntoString(&text));
    EXPECT_EQ(text, u"ab");
    EXPECT_FALSE(scanner->scanNotQuoteCharactersIntoString(&text));
    scanner->scanCharacter();
    EXPECT_TRUE(scanner->scanNotQuoteCharactersIntoString(&text));
    EXPECT_EQ(text, u"c");
}

class CJSONScannerDepth : public testing::TestWithParam<char> {};

TEST_P(CJSONScannerDepth, NestingIsLimited)
{
    const char open = GetParam();
    const char close = open == '[' ? ']' : '}';
    auto nested = [&](int depth) {
        std::string s;
        for (int i = 0; i < depth; ++i)
            s += open == '[' ? "[" : "{\"k\":";
        s += "1";
        s += std::string(std::size_t(depth), close);
        return s;
    };
    const int topCode = open == '[' ? kJSONScannerErrorCodeArrayValue : kJSONScannerErrorCodeDictionaryValue;
    EXPECT_NE(scanObject(nested(CJSONScanner::kMaximumDepth)).rfind("error", 0), 0u);
    EXPECT_EQ(scanObject(nested(CJSONScanner::kMaximumDepth + 1)), "error " + std::to_string(topCode));
    // A million open containers from the network: refused, without running
    // out of stack.
    std::string deep;
    for (int i = 0; i < 1000000; ++i)
        deep += open == '[' ? "[" : "{\"k\":";
    EXPECT_EQ(scanObject(deep), "error " + std::to_string(topCode));
}

INSTANTIATE_TEST_SUITE_P(Containers, CJSONScannerDepth, testing::Values('[', '{'));

TEST(CJSONScanner, InputEncodings)
{
    struct Case {
        Bytes bytes;
        const char* expected;
    };
    const Case cases[] = {
        { { 0x7B, 0x00, 0x7D, 0x00 }, "{}" }, // UTF-16 little-endian
        { { 0x00, '[', 0x00, '1', 0x00, ']' }, "[1]" }, // UTF-16 big-endian
        { { 0, 0, 0, '[', 0, 0, 0, ']' }, "[]" }, // UTF-32 big-endian
        { { '[', 0, 0, 0, ']', 0, 0, 0 }, "[]" }, // UTF-32 little-endian
        { { '[', 0, '"', 0, 0x3D, 0xD8, 0x00, 0xDE, '"', 0, ']', 0 }, R"(["\ud83d\ude00"])" }, // a pair in UTF-16
        { { '"', 0, 0, 0, 0x00, 0xF6, 0x01, 0x00, '"', 0, 0, 0 }, R"("\ud83d\ude00")" }, // U+1F600 in UTF-32
        { { 0xEF, 0xBB, 0xBF, '[', ']' }, "none" }, // a byte-order mark is not skipped
        { { 0xFF, 0xFE, '[', 0, ']', 0 }, "none" }, // nor in UTF-16 (read as UTF-8)
        { { '[', 0, ']' }, "error -8" }, // fewer than four bytes are UTF-8
    };
    for (const Case& c : cases) {
        auto scanner = CJSONScanner::scannerWithData(std::make_shared<const Bytes>(c.bytes));
        Value value;
        Error error;
        std::string got = scanner->scanJSONObject(&value, &error) ? value.canonicalJSON()
            : error.domain.empty()                               ? "none"
                                                                 : "error " + std::to_string(error.code);
        EXPECT_EQ(got, c.expected);
    }
}

TEST(CJSONScanner, InputThatCannotBeReencodedLeavesNoData)
{
    const Bytes cases[] = {
        { '[', 0, ']', 0, 0 }, // odd length in UTF-16
        { '[', 0, ' ', 0, 0x00, 0xD8, ']', 0 }, // lone high surrogate
        { 0, '[', 0, ' ', 0xDC, 0x00, 0, ']' }, // lone low surrogate
        { 0, 0, 0, '[', 0, 0x11, 0, 0 }, // past U+10FFFF in UTF-32
        { '[', 0, 0, 0, 0 }, // UTF-32 cut short
    };
    for (const Bytes& bytes : cases) {
        auto scanner = CJSONScanner::scannerWithData(std::make_shared<const Bytes>(bytes));
        EXPECT_EQ(scanner->data(), nullptr);
        EXPECT_FALSE(scanner->scanJSONObject(nullptr, nullptr));
    }
}
