#include "json/CJSONDeserializer.h"
#include "json/Value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

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
