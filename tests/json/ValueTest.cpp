#include "json/CJSONDeserializer.h"
#include "json/CJSONScanner.h"
#include "json/Value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <thread>

using namespace json;

TEST(Value, AccessorsAnswerOnlyForTheirType)
{
    Value number(2.5);
    EXPECT_EQ(number.type(), Value::Type::Number);
    EXPECT_EQ(number.number(), 2.5);
    EXPECT_EQ(number.boolean(), std::nullopt);
    EXPECT_EQ(number.text(), nullptr);
    EXPECT_EQ(number.utf8(), std::nullopt);
    EXPECT_EQ(number.list(), nullptr);
    EXPECT_EQ(number.dictionary(), nullptr);
    EXPECT_TRUE(Value().isNull());
    EXPECT_EQ(Value(false).boolean(), false);
    EXPECT_EQ(Value(false).number(), std::nullopt);
    EXPECT_EQ(Value(Text(u"x")).utf8(), "x");
}

TEST(Value, DictionaryKeepsTheLastOfARepeatedKey)
{
    std::vector<DictionaryEntry> entries;
    for (int i = 0; i < 40; ++i) // past the small-dictionary path too
        entries.push_back({ Text(1, char16_t(u'a' + i % 20)), Value(double(i)) });
    Dictionary dictionary = Dictionary::fromEntries(entries);
    EXPECT_EQ(dictionary.size(), 20u);
    EXPECT_EQ(dictionary.number("a"), 20);
    EXPECT_EQ(dictionary.number("t"), 39);
    EXPECT_EQ(dictionary.find("z"), nullptr);
    EXPECT_EQ(dictionary.find("\xFF"), nullptr) << "a key that is no UTF-8 is not found";
    EXPECT_TRUE(std::is_sorted(dictionary.begin(), dictionary.end(),
        [](const DictionaryEntry& a, const DictionaryEntry& b) { return a.key < b.key; }));
}

TEST(Value, CanonicalNumbersReadBackAsTheSameDouble)
{
    const double values[] = { 0.0, -0.0, 1, -1, 0.1, 1.0 / 3, 1e21, 1e-7, 123456789012345678.0, 5e-324,
        std::numeric_limits<double>::max(), std::numeric_limits<double>::infinity(),
        -std::numeric_limits<double>::infinity(), 2.5e-300 };
    for (double d : values) {
        std::string text = Value(List { Value(d) }).canonicalJSON();
        EXPECT_EQ(text.find('+'), std::string::npos) << text;
        auto back = CJSONDeserializer::deserializer().deserialize(text);
        ASSERT_TRUE(back) << text;
        double read = *(*back->list())[0].number();
        EXPECT_EQ(read, d) << text;
        EXPECT_EQ(std::signbit(read), std::signbit(d)) << text;
    }
    EXPECT_EQ(Value(1e21).canonicalJSON(), "1e21");
    EXPECT_EQ(Value(1e-7).canonicalJSON(), "1e-7");
    EXPECT_EQ(Value(100.0).canonicalJSON(), "100");
}

TEST(Value, CanonicalTexts)
{
    Text text = u"q\"b\\ \u00e9\x7f\x1f~";
    text.push_back(0xDBFF);
    EXPECT_EQ(Value(text).canonicalJSON(), R"("q\"b\\ \u00e9\u007f\u001f~\udbff")");
}

// Values read from one document share its storage: whatever is copied out of
// it must stay whole once the document's other values, the deserializer and
// the bytes are gone.
TEST(Value, PartsOutliveTheDocumentTheyWereReadFrom)
{
    Value inner;
    Dictionary child;
    List items;
    Text longText;
    {
        std::string input = R"({"items":[{"name":"a name longer than a short text","n":1},[true,"\u00e9t\u00e9"]],)"
                            R"("child":{"k":"caf\u00e9 \ud83d\ude00 and more than sixteen bytes"}})";
        auto document = CJSONDeserializer::deserializer().deserialize(input);
        ASSERT_TRUE(document);
        const Dictionary* root = document->dictionary();
        ASSERT_NE(root, nullptr);
        items = *root->list("items");
        child = *root->dictionary("child");
        inner = items[0];
        longText = *(*items[0].dictionary()->find("name")).text();
        Value copyOfRoot = *document;
        document.reset();
        EXPECT_EQ(copyOfRoot.dictionary()->size(), 2u);
    }
    EXPECT_EQ(inner.canonicalJSON(), R"({"n":1,"name":"a name longer than a short text"})");
    EXPECT_EQ(child.utf8("k"), "caf\xC3\xA9 \xF0\x9F\x98\x80 and more than sixteen bytes");
    EXPECT_EQ(Value(items).canonicalJSON(),
        R"([{"n":1,"name":"a name longer than a short text"},[true,"\u00e9t\u00e9"]])");
    EXPECT_EQ(longText, u"a name longer than a short text");

    // Moved and reassigned members keep their own storage too.
    Value moved = std::move(inner);
    inner = moved;
    moved = Value();
    EXPECT_EQ(*inner.dictionary()->number("n"), 1);
    items = List();
    EXPECT_TRUE(items.empty());
}

TEST(Value, BuiltValuesEqualReadOnes)
{
    std::vector<DictionaryEntry> entries;
    entries.push_back({ u"text", Value(Text(u"a text longer than the short form")) });
    entries.push_back({ u"list", Value(List { Value(1.0), Value(false), Value(), Value(List {}) }) });
    entries.push_back({ u"empty", Value(Dictionary()) });
    Value built(Dictionary::fromEntries(std::move(entries)));
    auto read = CJSONDeserializer::deserializer().deserialize(
        R"({"list":[1,false,null,[]],"text":"a text longer than the short form","empty":{}})");
    ASSERT_TRUE(read);
    EXPECT_EQ(built, *read);
    Value copy = built;
    built = Value(2.0);
    EXPECT_EQ(copy, *read);
    EXPECT_NE(built, *read);
}

TEST(Value, ValuesGoOnAnotherThread)
{
    auto read = CJSONDeserializer::deserializer().deserialize(R"([{"k":"a value read on one thread"},[1,2,3]])");
    ASSERT_TRUE(read);
    Value copy = *read;
    std::string seen;
    std::thread other([value = std::move(*read), &seen]() mutable {
        seen = value.canonicalJSON();
        value = Value();
    });
    other.join();
    EXPECT_EQ(seen, copy.canonicalJSON());
    EXPECT_EQ(copy.list()->size(), 2u);
}

// Strings take one path when they are plain ASCII and another otherwise, in
// steps of sixteen bytes: an escape, a byte past ASCII or the end at every
// place of the first steps reads the same as one code unit at a time.
TEST(Value, StringsOfEveryLength)
{
    const std::pair<const char*, std::u16string> specials[] = {
        { "", u"" }, { "\\n", u"\n" }, { "\\\"", u"\"" }, { "\\u00e9", u"\u00e9" }, { "\xC3\xA9", u"\u00e9" },
        { "\\ud83d\\ude00", u"\U0001F600" }, { "\xF0\x9F\x98\x80", u"\U0001F600" },
    };
    for (int before = 0; before < 40; ++before) {
        for (const auto& [bytes, units] : specials) {
            std::string input = "[\"" + std::string(std::size_t(before), 'x') + bytes + "tail\"]";
            Text expected = Text(std::size_t(before), u'x') + units + u"tail";
            auto read = CJSONDeserializer::deserializer().deserialize(input);
            ASSERT_TRUE(read) << input;
            EXPECT_EQ(*(*read->list())[0].text(), expected) << input;
        }
    }
    // Cut off inside the string after a long plain run.
    Error error;
    EXPECT_FALSE(CJSONDeserializer::deserializer().deserialize("[\"" + std::string(40, 'x') + "\\", &error));
    EXPECT_EQ(error.code, kJSONScannerErrorCodeArrayValue);
}
