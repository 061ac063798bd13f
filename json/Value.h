#pragma once
// The values the JSON reader yields: null, boolean, number (always a double),
// text (16-bit code units), list and dictionary. Plain values: copying copies
// deeply, moving is cheap. Nothing here throws for a value of another type:
// the accessors answer nullptr or std::nullopt instead.
//
//   if (auto answer = json::CJSONDeserializer::deserializer().deserializeAsDictionary(bytes))
//       if (auto url = answer->utf8("url")) use(*url);

#include "json/Forward.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace json {

struct DictionaryEntry;

// An immutable map from texts to values, kept sorted by key (code unit order).
class Dictionary {
public:
    using Entry = DictionaryEntry;
    using const_iterator = std::vector<DictionaryEntry>::const_iterator;

    Dictionary();
    ~Dictionary();
    Dictionary(const Dictionary&);
    Dictionary(Dictionary&&) noexcept;
    Dictionary& operator=(const Dictionary&);
    Dictionary& operator=(Dictionary&&) noexcept;

    // Entries in the order they were read; a key given twice keeps the value
    // given last.
    static Dictionary fromEntries(std::vector<DictionaryEntry> entries);

    std::size_t size() const;
    bool empty() const;
    const_iterator begin() const;
    const_iterator end() const;

    const Value* find(const Text& key) const;
    const Value* find(std::string_view utf8Key) const;
    bool contains(std::string_view utf8Key) const { return find(utf8Key) != nullptr; }

    // Shorthands for the common lookups: absent when the key is missing or
    // holds another type.
    std::optional<std::string> utf8(std::string_view key) const;
    std::optional<double> number(std::string_view key) const;
    const Dictionary* dictionary(std::string_view key) const;
    const List* list(std::string_view key) const;

    bool operator==(const Dictionary& other) const;

private:
    friend class CJSONScanner; // fills m_entries in key order while it reads
    std::vector<DictionaryEntry> m_entries;
};

class Value {
public:
    enum class Type { Null, Boolean, Number, Text, List, Dictionary };

    Value() = default;
    Value(std::nullptr_t) {}
    explicit Value(bool b) : m_storage(b) {}
    explicit Value(double d) : m_storage(d) {}
    explicit Value(Text t) : m_storage(std::move(t)) {}
    explicit Value(List l) : m_storage(std::move(l)) {}
    explicit Value(Dictionary d) : m_storage(std::move(d)) {}

    Type type() const { return Type(m_storage.index()); }
    bool isNull() const { return type() == Type::Null; }
    bool isBoolean() const { return type() == Type::Boolean; }
    bool isNumber() const { return type() == Type::Number; }
    bool isText() const { return type() == Type::Text; }
    bool isList() const { return type() == Type::List; }
    bool isDictionary() const { return type() == Type::Dictionary; }

    std::optional<bool> boolean() const;
    std::optional<double> number() const;
    const Text* text() const { return std::get_if<Text>(&m_storage); }
    // The text as UTF-8 (a lone surrogate becomes U+FFFD).
    std::optional<std::string> utf8() const;
    const List* list() const { return std::get_if<List>(&m_storage); }
    const Dictionary* dictionary() const { return std::get_if<Dictionary>(&m_storage); }

    // One line of JSON: keys sorted, no blanks, numbers in the shortest form
    // that reads back as the same double, every code unit outside printable
    // ASCII as \uXXXX.
    std::string canonicalJSON() const;
    void appendCanonicalJSON(std::string& out) const;

    bool operator==(const Value& other) const { return m_storage == other.m_storage; }

private:
    friend class CJSONScanner; // builds values in place while it reads
    std::variant<std::monostate, bool, double, Text, List, Dictionary> m_storage;
};

struct DictionaryEntry {
    Text key;
    Value value;
    bool operator==(const DictionaryEntry&) const = default;
};

} // namespace json
