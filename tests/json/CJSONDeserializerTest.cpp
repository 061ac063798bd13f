#include "json/CJSONDeserializer.h"
#include "json/CJSONScanner.h"

#include "TestBytes.h"

#include <gtest/gtest.h>

using namespace json;

TEST(CJSONDeserializer, DictionaryOfAnAdAnswer)
{
    const char* answer = R"({"text":"Caf\u00e9 deals","6":"web","url":"http://ads.example.test/c?id=1",)"
                         R"("jsonp_url":"http://ads.example.test/j","n":3.5,"ok":true,"nested":{"l":[1,null]}})";
    Error error;
    auto dictionary = CJSONDeserializer::deserializer().deserializeAsDictionary(bytesOf(answer), &error);
    ASSERT_TRUE(dictionary);
    EXPECT_EQ(dictionary->size(), 7u);
    EXPECT_EQ(dictionary->utf8("text"), "Caf\xC3\xA9 deals");
    EXPECT_EQ(dictionary->utf8("6"), "web");
    EXPECT_EQ(dictionary->number("n"), 3.5);
    EXPECT_EQ(dictionary->find("ok")->boolean(), true);
    EXPECT_EQ(dictionary->utf8("n"), std::nullopt) << "a number is no text";
    EXPECT_EQ(dictionary->utf8("8"), std::nullopt);
    ASSERT_NE(dictionary->dictionary("nested"), nullptr);
    const List* list = dictionary->dictionary("nested")->list("l");
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->size(), 2u);
    EXPECT_TRUE((*list)[1].isNull());
}

TEST(CJSONDeserializer, DictionaryMustStartAtTheFirstByte)
{
    const auto deserializer = CJSONDeserializer::deserializer();
    for (const char* input : { " {}", "\n{}", "\xEF\xBB\xBF{}", "[1]" }) {
        Error error;
        EXPECT_FALSE(deserializer.deserializeAsDictionary(input, &error)) << input;
        EXPECT_EQ(error.domain, kJSONScannerErrorDomain);
        EXPECT_EQ(error.code, kJSONScannerErrorCodeDictionaryStart);
    }
    // The older entry point skips the white space and takes any value.
    auto value = deserializer.deserialize(" \n{}");
    ASSERT_TRUE(value);
    EXPECT_TRUE(value->isDictionary());
    EXPECT_EQ(deserializer.deserialize("\t42")->number(), 42);
}

TEST(CJSONDeserializer, BytesAfterTheValueAreIgnored)
{
    const auto deserializer = CJSONDeserializer::deserializer();
    auto dictionary = deserializer.deserializeAsDictionary(R"({"a":1} trailing {garbage)");
    ASSERT_TRUE(dictionary);
    EXPECT_EQ(dictionary->number("a"), 1);
    EXPECT_EQ(deserializer.deserialize("[1]]]")->canonicalJSON(), "[1]");
}

TEST(CJSONDeserializer, NoBytes)
{
    const auto deserializer = CJSONDeserializer::deserializer();
    Error error;
    EXPECT_FALSE(deserializer.deserializeAsDictionary(SharedBytes(), &error));
    EXPECT_EQ(error, Error(std::string(kJSONDeserializerErrorDomain), -1));
    error = {};
    EXPECT_FALSE(deserializer.deserializeAsDictionary(bytesOf(""), &error));
    EXPECT_EQ(error.code, -1);
    EXPECT_FALSE(error.localizedDescription) << "no details";
    EXPECT_NE(error.description().find("CJSONDeserializerErrorDomain"), std::string::npos);
    error = {};
    EXPECT_FALSE(deserializer.deserialize(SharedBytes(), &error));
    EXPECT_EQ(error.code, -1);
    // Without an error slot, failures are quiet.
    EXPECT_FALSE(deserializer.deserializeAsDictionary(""));
    EXPECT_FALSE(deserializer.deserialize("nope"));
}

TEST(CJSONDeserializer, InputThatCannotBeReencoded)
{
    const auto deserializer = CJSONDeserializer::deserializer();
    Error error;
    auto lone = std::make_shared<const Bytes>(Bytes { '{', 0, ' ', 0, 0x00, 0xD8, '}', 0 });
    EXPECT_FALSE(deserializer.deserializeAsDictionary(lone, &error));
    EXPECT_EQ(error.domain, kJSONDeserializerErrorDomain);
    EXPECT_EQ(error.code, kJSONDeserializerErrorCodeEncoding);
    EXPECT_FALSE(deserializer.deserialize(lone, &error));
    EXPECT_EQ(error.code, kJSONDeserializerErrorCodeEncoding);

    auto utf16 = std::make_shared<const Bytes>(Bytes { 0x7B, 0x00, 0x7D, 0x00 });
    EXPECT_TRUE(deserializer.deserializeAsDictionary(utf16));
}

TEST(CJSONDeserializer, AnyValueFailureAlwaysGivesAReason)
{
    const auto deserializer = CJSONDeserializer::deserializer();
    struct Case {
        const char* input;
        std::string_view domain;
        int code;
    };
    const Case cases[] = {
        { "tru", kJSONDeserializerErrorDomain, kJSONDeserializerErrorCodeNoValue },
        { "   ", kJSONDeserializerErrorDomain, kJSONDeserializerErrorCodeNoValue },
        { "+1", kJSONDeserializerErrorDomain, kJSONDeserializerErrorCodeNoValue },
        { "[1 2]", kJSONScannerErrorDomain, kJSONScannerErrorCodeArrayTerminator },
        { " 'a'", kJSONScannerErrorDomain, kJSONScannerErrorCodeStringStart },
    };
    for (const Case& c : cases) {
        Error error;
        EXPECT_FALSE(deserializer.deserialize(c.input, &error)) << c.input;
        EXPECT_EQ(error.domain, c.domain) << c.input;
        EXPECT_EQ(error.code, c.code) << c.input;
        EXPECT_FALSE(error.description().empty());
    }
}

TEST(CJSONDeserializer, ServesThroughTheProtocol)
{
    const CJSONDeserializer concrete;
    const CDeserializerProtocol& reader = concrete;
    auto dictionary = reader.deserializeAsDictionary(bytesOf(R"({"redirect_url":"http://x.test/"})"));
    ASSERT_TRUE(dictionary);
    EXPECT_EQ(dictionary->utf8("redirect_url"), "http://x.test/");
}
