#include "json/Value.h"

#include "json/Document.h"
#include "json/TextCodec.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace json {

namespace detail {
void holdDocument(Document* document) noexcept
{
    if (document)
        document->ref();
}

void releaseDocument(Document* document) noexcept
{
    Document::unref(document);
}
} // namespace detail

using detail::Document;

namespace {

constexpr int kText = int(Value::Type::Text);
constexpr int kList = int(Value::Type::List);
constexpr int kDictionary = int(Value::Type::Dictionary);

} // namespace

Value::Value(Text t)
{
    Document* document = Document::create(sizeof(Text));
    m_raw.type = kText;
    m_raw.pointer = document->makeText(std::move(t));
    m_raw.document = document;
}

Value::Value(List l)
{
    Document* document = Document::create(sizeof(List));
    List* placed = new (document->allocateArray<List>(1)) List();
    placed->m_span = std::move(l.m_span);
    document->retain(placed->m_span.document);
    m_raw.type = kList;
    m_raw.pointer = placed;
    m_raw.document = document;
}

Value::Value(Dictionary d)
{
    Document* document = Document::create(sizeof(Dictionary));
    Dictionary* placed = new (document->allocateArray<Dictionary>(1)) Dictionary();
    placed->m_span = std::move(d.m_span);
    document->retain(placed->m_span.document);
    m_raw.type = kDictionary;
    m_raw.pointer = placed;
    m_raw.document = document;
}

Value::Value(const Value& other) noexcept
    : m_raw(other.m_raw)
{
    if (m_raw.document)
        m_raw.document->ref();
}

Value& Value::operator=(const Value& other) noexcept
{
    if (other.m_raw.document)
        other.m_raw.document->ref();
    Document::unref(m_raw.document);
    m_raw = other.m_raw;
    return *this;
}

Value& Value::operator=(Value&& other) noexcept
{
    if (this != &other) {
        Document::unref(m_raw.document);
        m_raw = other.m_raw;
        other.m_raw = detail::RawValue();
    }
    return *this;
}

Value::~Value() { Document::unref(m_raw.document); }

void Value::adopt(Value* slot, Value&& value, Document& owner)
{
    new (slot) Value(value.m_raw, Borrowed {});
    owner.retain(value.m_raw.document);
    value.m_raw = detail::RawValue();
}

bool Value::operator==(const Value& other) const
{
    if (m_raw.type != other.m_raw.type)
        return false;
    switch (type()) {
    case Type::Null:
        return true;
    case Type::Boolean:
        return m_raw.boolean == other.m_raw.boolean;
    case Type::Number:
        return m_raw.number == other.m_raw.number;
    case Type::Text:
        return *text() == *other.text();
    case Type::List:
        return *list() == *other.list();
    case Type::Dictionary:
        return *dictionary() == *other.dictionary();
    }
    return false;
}

List::List(std::initializer_list<Value> values)
    : List(std::vector<Value>(values))
{
}

List::List(std::vector<Value> values)
{
    if (values.empty())
        return;
    Document* document = Document::create(values.size() * sizeof(Value));
    Value* items = document->allocateArray<Value>(values.size());
    for (std::size_t i = 0; i < values.size(); ++i)
        Value::adopt(items + i, std::move(values[i]), *document);
    m_span.items = items;
    m_span.size = values.size();
    m_span.document = document;
}

bool List::operator==(const List& other) const
{
    if (m_span.size != other.m_span.size)
        return false;
    for (std::size_t i = 0; i < m_span.size; ++i)
        if (!(m_span.items[i] == other.m_span.items[i]))
            return false;
    return true;
}

Dictionary Dictionary::fromEntries(std::vector<DictionaryEntry> entries)
{
    auto byKey = [](const DictionaryEntry& a, const DictionaryEntry& b) { return a.key < b.key; };
    // Stable, so that among equal keys the one read last stays last.
    if (entries.size() <= 16) {
        for (std::size_t i = 1; i < entries.size(); ++i) {
            if (!byKey(entries[i], entries[i - 1]))
                continue;
            DictionaryEntry moving = std::move(entries[i]);
            std::size_t j = i;
            for (; j > 0 && byKey(moving, entries[j - 1]); --j)
                entries[j] = std::move(entries[j - 1]);
            entries[j] = std::move(moving);
        }
    } else if (!std::is_sorted(entries.begin(), entries.end(), byKey)) {
        std::stable_sort(entries.begin(), entries.end(), byKey);
    }
    // Keep the last of every run of equal keys.
    std::size_t out = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i + 1 < entries.size() && entries[i + 1].key == entries[i].key)
            continue;
        if (out != i)
            entries[out] = std::move(entries[i]);
        ++out;
    }
    entries.resize(out);
    Dictionary dictionary;
    if (entries.empty())
        return dictionary;
    Document* document = Document::create(entries.size() * sizeof(DictionaryEntry));
    DictionaryEntry* placed = document->allocateArray<DictionaryEntry>(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        Value& value = entries[i].value;
        new (placed + i) DictionaryEntry { std::move(entries[i].key), Value(value.m_raw, Value::Borrowed {}) };
        document->keepText(&placed[i].key);
        document->retain(value.m_raw.document);
        value.m_raw = detail::RawValue();
    }
    dictionary.m_span.items = placed;
    dictionary.m_span.size = entries.size();
    dictionary.m_span.document = document;
    return dictionary;
}


const Value* Dictionary::find(const Text& key) const
{
    auto it = std::lower_bound(begin(), end(), key, [](const DictionaryEntry& e, const Text& k) { return e.key < k; });
    if (it == end() || it->key != key)
        return nullptr;
    return &it->value;
}

const Value* Dictionary::find(std::string_view utf8Key) const
{
    auto key = TextCodec::fromUTF8(utf8Key);
    return key ? find(*key) : nullptr;
}

std::optional<std::string> Dictionary::utf8(std::string_view key) const
{
    const Value* v = find(key);
    return v ? v->utf8() : std::nullopt;
}

std::optional<double> Dictionary::number(std::string_view key) const
{
    const Value* v = find(key);
    return v ? v->number() : std::nullopt;
}

const Dictionary* Dictionary::dictionary(std::string_view key) const
{
    const Value* v = find(key);
    return v ? v->dictionary() : nullptr;
}

const List* Dictionary::list(std::string_view key) const
{
    const Value* v = find(key);
    return v ? v->list() : nullptr;
}

bool Dictionary::operator==(const Dictionary& other) const
{
    return m_span.size == other.m_span.size && std::equal(begin(), end(), other.begin());
}

std::optional<bool> Value::boolean() const
{
    if (isBoolean())
        return m_raw.boolean;
    return std::nullopt;
}

std::optional<double> Value::number() const
{
    if (isNumber())
        return m_raw.number;
    return std::nullopt;
}

std::optional<std::string> Value::utf8() const
{
    if (auto t = text())
        return TextCodec::toUTF8(*t);
    return std::nullopt;
}

namespace {

void appendNumber(double d, std::string& out)
{
    if (std::isinf(d)) {
        // Past the largest double; reads back as the same infinity.
        out += d < 0 ? "-1e309" : "1e309";
        return;
    }
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, d);
    // A plus sign in the exponent would not read back, and leading zeros of
    // the exponent only lengthen it: leave both out.
    bool inExponent = false;
    bool exponentDigitSeen = false;
    for (char* p = buffer; p < end; ++p) {
        if (*p == 'e') {
            inExponent = true;
        } else if (inExponent && (*p == '+' || (*p == '0' && !exponentDigitSeen && p + 1 < end))) {
            continue;
        } else if (inExponent && *p != '-') {
            exponentDigitSeen = true;
        }
        out.push_back(*p);
    }
}

void appendText(const Text& text, std::string& out)
{
    static const char hex[] = "0123456789abcdef";
    out.push_back('"');
    for (char16_t c : text) {
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(char(c));
        } else if (c >= 0x20 && c < 0x7F) {
            out.push_back(char(c));
        } else {
            out += "\\u";
            out.push_back(hex[(c >> 12) & 15]);
            out.push_back(hex[(c >> 8) & 15]);
            out.push_back(hex[(c >> 4) & 15]);
            out.push_back(hex[c & 15]);
        }
    }
    out.push_back('"');
}

} // namespace

void Value::appendCanonicalJSON(std::string& out) const
{
    switch (type()) {
    case Type::Null:
        out += "null";
        break;
    case Type::Boolean:
        out += m_raw.boolean ? "true" : "false";
        break;
    case Type::Number:
        appendNumber(m_raw.number, out);
        break;
    case Type::Text:
        appendText(*text(), out);
        break;
    case Type::List: {
        out.push_back('[');
        bool first = true;
        for (const Value& v : *list()) {
            if (!first)
                out.push_back(',');
            first = false;
            v.appendCanonicalJSON(out);
        }
        out.push_back(']');
        break;
    }
    case Type::Dictionary: {
        out.push_back('{');
        bool first = true;
        for (const DictionaryEntry& e : *dictionary()) {
            if (!first)
                out.push_back(',');
            first = false;
            appendText(e.key, out);
            out.push_back(':');
            e.value.appendCanonicalJSON(out);
        }
        out.push_back('}');
        break;
    }
    }
}

std::string Value::canonicalJSON() const
{
    std::string out;
    appendCanonicalJSON(out);
    return out;
}

} // namespace json
