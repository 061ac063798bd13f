#pragma once
// The values the JSON reader yields: null, boolean, number (always a double),
// text (16-bit code units), list and dictionary. Plain immutable values:
// copying shares the storage of the document they were read from (which is as
// good as a deep copy, since nothing changes them), moving is cheap, and a
// value keeps that storage alive for as long as it lives. Nothing here throws
// for a value of another type: the accessors answer nullptr or std::nullopt
// instead.
//
//   if (auto answer = json::CJSONDeserializer::deserializer().deserializeAsDictionary(bytes))
//       if (auto url = answer->utf8("url")) use(*url);

#include "json/Forward.h"

#include <cstddef>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace json {

struct DictionaryEntry;

namespace detail {

// What a value holds, without ownership: the reader builds these while it
// reads, and values inside a document are laid out from them.
struct RawValue {
    int type = 0; // Value::Type
    union {
        bool boolean;
        double number;
        const void* pointer;
    };
    Document* document = nullptr;
    RawValue() : number(0) {}
};

} // namespace detail

class Value {
public:
    enum class Type { Null, Boolean, Number, Text, List, Dictionary };

    Value() = default;
    Value(std::nullptr_t) {}
    explicit Value(bool b) { m_raw.type = int(Type::Boolean); m_raw.boolean = b; }
    explicit Value(double d) { m_raw.type = int(Type::Number); m_raw.number = d; }
    explicit Value(Text t);
    explicit Value(List l);
    explicit Value(Dictionary d);

    Value(const Value& other) noexcept;
    Value(Value&& other) noexcept : m_raw(other.m_raw) { other.m_raw = detail::RawValue(); }
    Value& operator=(const Value& other) noexcept;
    Value& operator=(Value&& other) noexcept;
    ~Value();

    Type type() const { return Type(m_raw.type); }
    bool isNull() const { return type() == Type::Null; }
    bool isBoolean() const { return type() == Type::Boolean; }
    bool isNumber() const { return type() == Type::Number; }
    bool isText() const { return type() == Type::Text; }
    bool isList() const { return type() == Type::List; }
    bool isDictionary() const { return type() == Type::Dictionary; }

    std::optional<bool> boolean() const;
    std::optional<double> number() const;
    const Text* text() const { return isText() ? static_cast<const Text*>(m_raw.pointer) : nullptr; }
    // The text as UTF-8 (a lone surrogate becomes U+FFFD).
    std::optional<std::string> utf8() const;
    const List* list() const { return isList() ? static_cast<const List*>(m_raw.pointer) : nullptr; }
    const Dictionary* dictionary() const
    {
        return isDictionary() ? static_cast<const Dictionary*>(m_raw.pointer) : nullptr;
    }

    // One line of JSON: keys sorted, no blanks, numbers in the shortest form
    // that reads back as the same double, every code unit outside printable
    // ASCII as \uXXXX.
    std::string canonicalJSON() const;
    void appendCanonicalJSON(std::string& out) const;

    bool operator==(const Value& other) const;

private:
    friend class CJSONScanner;
    friend class List;
    friend class Dictionary;
    struct Borrowed {};
    // A value inside a document: it holds no reference of its own, the
    // document it lives in keeps what it points to alive.
    Value(const detail::RawValue& raw, Borrowed) : m_raw(raw) {}
    // Places the value at slot inside owner, handing its reference to owner.
    static void adopt(Value* slot, Value&& value, detail::Document& owner);

    detail::RawValue m_raw;
};

namespace detail {
void holdDocument(Document* document) noexcept;
void releaseDocument(Document* document) noexcept;

// A run of T laid out in a document, and the hold on that document that lists
// and dictionaries share: a copy holds the document too, a move hands the hold
// over. A span that lives inside a document is never destroyed on its own.
template<typename T>
struct DocumentSpan {
    const T* items = nullptr;
    std::size_t size = 0;
    Document* document = nullptr;

    DocumentSpan() = default;
    DocumentSpan(const DocumentSpan& other) noexcept
        : items(other.items), size(other.size), document(other.document)
    {
        holdDocument(document);
    }
    DocumentSpan(DocumentSpan&& other) noexcept
        : items(std::exchange(other.items, nullptr)), size(std::exchange(other.size, 0)), document(std::exchange(other.document, nullptr))
    {
    }
    DocumentSpan& operator=(const DocumentSpan& other) noexcept
    {
        DocumentSpan copy(other);
        return *this = std::move(copy);
    }
    DocumentSpan& operator=(DocumentSpan&& other) noexcept
    {
        if (this != &other) {
            releaseDocument(document);
            items = std::exchange(other.items, nullptr);
            size = std::exchange(other.size, 0);
            document = std::exchange(other.document, nullptr);
        }
        return *this;
    }
    ~DocumentSpan() { releaseDocument(document); }
};
} // namespace detail

// An immutable sequence of values.
class List {
public:
    using value_type = Value;
    using size_type = std::size_t;
    using const_iterator = const Value*;
    using iterator = const_iterator;

    List() = default;
    List(std::initializer_list<Value> values);
    explicit List(std::vector<Value> values);

    std::size_t size() const { return m_span.size; }
    bool empty() const { return m_span.size == 0; }
    const_iterator begin() const { return m_span.items; }
    const_iterator end() const { return m_span.items + m_span.size; }
    const Value& operator[](std::size_t i) const { return m_span.items[i]; }
    const Value& front() const { return m_span.items[0]; }
    const Value& back() const { return m_span.items[m_span.size - 1]; }

    bool operator==(const List& other) const;

private:
    friend class CJSONScanner; // lays lists out in the document it reads
    friend class Value;
    detail::DocumentSpan<Value> m_span;
};

// An immutable map from texts to values, kept sorted by key (code unit order).
class Dictionary {
public:
    using Entry = DictionaryEntry;
    using const_iterator = const DictionaryEntry*;

    Dictionary() = default;

    // Entries in the order they were read; a key given twice keeps the value
    // given last.
    static Dictionary fromEntries(std::vector<DictionaryEntry> entries);

    std::size_t size() const { return m_span.size; }
    bool empty() const { return m_span.size == 0; }
    const_iterator begin() const { return m_span.items; }
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
    friend class CJSONScanner; // lays dictionaries out in key order while it reads
    friend class Value;
    detail::DocumentSpan<DictionaryEntry> m_span;
};

struct DictionaryEntry {
    Text key;
    Value value;
    bool operator==(const DictionaryEntry&) const = default;
};

inline Dictionary::const_iterator Dictionary::end() const { return m_span.items + m_span.size; }

} // namespace json
